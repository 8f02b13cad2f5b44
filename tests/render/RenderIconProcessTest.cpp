// Runs the real program, as packaging does.
#include "IconRenderer.h"
#include "ProgramRun.h"
#include "TestSupport.h"
#include "VelmoGlyph.h"

#include <QDir>
#include <QImage>
#include <gtest/gtest.h>

namespace {

TEST(RenderIconProcess, WritesTheTenIconsAndSaysSoOrWhyNot)
{
    velmo::test::ScratchDir scratch;
    // A relative folder that does not exist yet.
    ProgramRun outcome = runProgram({ "--render-icon", "out/hicolor" }, scratch.path());
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err.toStdString();
    QString expected;
    for (const auto& entry : IconRenderer::table()) {
        const QString path = scratch.filePath("out/hicolor/" + entry.fileName());
        expected += QStringLiteral("Wrote out/hicolor/%1 (%2\u00D7%2)\n").arg(entry.fileName()).arg(entry.pixels());
        const QImage png(path, "PNG");
        EXPECT_EQ(png.size(), QSize(entry.pixels(), entry.pixels())) << path.toStdString();
    }
    EXPECT_EQ(outcome.out, expected);
    // What is written is the icon as drawn.
    EXPECT_EQ(QImage(scratch.filePath("out/hicolor/icon_512x512@2x.png"), "PNG").convertToFormat(QImage::Format_ARGB32),
        VelmoGlyph::appIcon(1024).convertToFormat(QImage::Format_ARGB32));

    // A folder in the place of one file: that one is skipped, the rest written.
    ASSERT_TRUE(QDir(scratch.path()).mkpath("icons/icon_32x32.png"));
    outcome = runProgram({ "--render-icon", "icons" }, scratch.path());
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.out.count("Wrote "), 9);
    EXPECT_TRUE(outcome.err.startsWith("skipped icons/icon_32x32.png: ")) << outcome.err.toStdString();

    // Nothing can be written at all: the reason and status 1.
    outcome = runProgram({ "--render-icon", "/proc/nonexistent/x" }, scratch.path());
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_TRUE(outcome.out.isEmpty());
    EXPECT_EQ(outcome.err,
        "render failed: /proc/nonexistent/x/icon_16x16.png: cannot create the folder /proc/nonexistent/x\n");
}

} // namespace
