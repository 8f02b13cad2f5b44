// Runs the real program, as packaging does.
#include "IconRenderer.h"
#include "TestSupport.h"
#include "VelmoGlyph.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

struct Outcome {
    int exitCode = -1;
    QString standardError;
};

// Runs velmo-usage with `arguments`, without any display. The wait is a
// watchdog, not a timing assumption.
Outcome runProgram(const QStringList& arguments, const QString& workingDirectory = {},
    const QString& platform = QStringLiteral("xcb"))
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.insert("QT_QPA_PLATFORM", platform);
    process.setProcessEnvironment(environment);
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    process.start(QStringLiteral(VELMO_USAGE_BINARY), arguments);
    if (!process.waitForStarted(30'000)) {
        ADD_FAILURE() << "velmo-usage did not start";
        return {};
    }
    if (!process.waitForFinished(240'000)) {
        process.kill();
        process.waitForFinished(10'000);
        ADD_FAILURE() << "velmo-usage did not finish";
        return {};
    }
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << process.readAllStandardError().toStdString();
    return { process.exitCode(), QString::fromLocal8Bit(process.readAllStandardError()) };
}

bool hasBrandColour(const QImage& image)
{
    const QColor brand = VelmoGlyph::brandOrange();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - brand.red()) <= 2 && std::abs(c.green() - brand.green()) <= 2
                && std::abs(c.blue() - brand.blue()) <= 2 && c.alpha() == 255)
                return true;
        }
    return false;
}

TEST(RenderIconProcess, WritesTheIconSetWithoutADisplayAndExitsZero)
{
    velmo::test::ScratchDir scratch;
    const QString target = scratch.filePath("out/hicolor");
    // A platform that needs a display, and none: the mode must go offscreen.
    const Outcome outcome = runProgram({ "--render-icon", target });
    EXPECT_EQ(outcome.exitCode, 0) << outcome.standardError.toStdString();

    QStringList expectedNames;
    for (const auto& entry : IconRenderer::table())
        expectedNames << entry.fileName();
    expectedNames.sort();
    EXPECT_EQ(QDir(target).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name), expectedNames);

    for (const auto& entry : IconRenderer::table()) {
        const QImage png(QDir(target).filePath(entry.fileName()), "PNG");
        ASSERT_EQ(png.size(), QSize(entry.pixels(), entry.pixels())) << entry.fileName().toStdString();
        const int centre = entry.pixels() / 2;
        EXPECT_EQ(qAlpha(png.pixel(centre, centre)), 255) << entry.fileName().toStdString();
        if (entry.pixels() >= 32) {
            EXPECT_TRUE(hasBrandColour(png)) << entry.fileName().toStdString();
        }
    }
}

TEST(RenderIconProcess, RelativeOrUnwritableFolderStillExitsZero)
{
    velmo::test::ScratchDir scratch;
    EXPECT_EQ(runProgram({ "--render-icon", "rel/icons" }, scratch.path(), "offscreen").exitCode, 0);
    EXPECT_EQ(QDir(scratch.filePath("rel/icons")).entryList(QDir::Files).size(), 10);
    EXPECT_EQ(runProgram({ "--render-icon", scratch.filePath("rel/icons/icon_16x16.png/x") }).exitCode, 0);
}

TEST(RenderIconProcess, WrongArgumentCountRunsTheApplicationInstead)
{
    velmo::test::ScratchDir scratch;
    for (const QStringList& arguments : { QStringList { "--render-icon" },
             QStringList { "--render-icon", scratch.filePath("icons"), "extra" }, QStringList {} }) {
        // The tray application claims its instance socket, then runs until SIGTERM.
        velmo::test::ScratchDir profile;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("XDG_RUNTIME_DIR", profile.path());
        environment.insert("HOME", profile.path());
        environment.insert("XDG_CONFIG_HOME", profile.path());
        environment.insert("XDG_DATA_HOME", profile.path());
        environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + profile.filePath("no-bus"));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(VELMO_USAGE_BINARY), arguments);
        ASSERT_TRUE(process.waitForStarted(30'000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(profile.filePath("velmo-usage.socket")); }, 60'000))
            << arguments.join(' ').toStdString() << process.readAllStandardError().toStdString();
        process.terminate();
        ASSERT_TRUE(process.waitForFinished(60'000));
        EXPECT_EQ(process.exitCode(), 0) << arguments.join(' ').toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(scratch.filePath("icons")));
}

} // namespace
