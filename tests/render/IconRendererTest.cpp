#include "IconRenderer.h"
#include "TestSupport.h"
#include "VelmoGlyph.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <gtest/gtest.h>

namespace {

using Entry = IconRenderer::Entry;

TEST(IconRenderer, TableListsTheTenIconsWithTheirNamesAndPixelSizes)
{
    const std::pair<Entry, const char*> expected[] = {
        { { 16, 1 }, "icon_16x16.png" },
        { { 16, 2 }, "icon_16x16@2x.png" },
        { { 32, 1 }, "icon_32x32.png" },
        { { 32, 2 }, "icon_32x32@2x.png" },
        { { 128, 1 }, "icon_128x128.png" },
        { { 128, 2 }, "icon_128x128@2x.png" },
        { { 256, 1 }, "icon_256x256.png" },
        { { 256, 2 }, "icon_256x256@2x.png" },
        { { 512, 1 }, "icon_512x512.png" },
        { { 512, 2 }, "icon_512x512@2x.png" },
    };
    const auto& table = IconRenderer::table();
    ASSERT_EQ(table.size(), std::size(expected));
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(table[i], expected[i].first) << i;
        EXPECT_EQ(table[i].fileName(), QString::fromLatin1(expected[i].second)) << i;
    }
    EXPECT_EQ(table.back().pixels(), 1024);
    EXPECT_EQ((Entry { 64, 3 }).fileName(), "icon_64x64@2x.png"); // any scale but 1 is "@2x"
}

TEST(IconRenderer, SkipsWhatCannotBeWrittenAndKeepsGoing)
{
    velmo::test::ScratchDir scratch;
    // A folder in the place of one file: that file fails, the others not.
    ASSERT_TRUE(QDir(scratch.path()).mkpath("icon_32x32.png"));
    const QStringList written = IconRenderer::render(scratch.path());
    ASSERT_EQ(written.size(), 9);
    // What is written is the icon as drawn.
    EXPECT_EQ(QImage(written.back(), "PNG").convertToFormat(QImage::Format_ARGB32),
        VelmoGlyph::appIcon(1024).convertToFormat(QImage::Format_ARGB32));
    EXPECT_FALSE(written.contains(scratch.filePath("icon_32x32.png")));
    EXPECT_TRUE(QFileInfo(scratch.filePath("icon_32x32.png")).isDir());
    EXPECT_TRUE(QFile::exists(scratch.filePath("icon_512x512@2x.png")));

    // A regular file where the folder should be: nothing written, no error.
    QFile blocker(scratch.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_TRUE(IconRenderer::render(scratch.filePath("blocker/icons")).isEmpty());
    EXPECT_TRUE(IconRenderer::render(scratch.filePath("blocker")).isEmpty());
}

} // namespace
