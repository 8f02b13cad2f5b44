// Runs the real program's screenshot mode, as documentation builds do.
#include "DemoAccount.h"
#include "MenuBarItemPreview.h"
#include "ProgramRun.h"
#include "SnapshotCache.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTcpServer>
#include <gtest/gtest.h>

namespace {

using velmo::devserver::DemoAccount;

// A populated account, fetched two minutes ago.
Snapshot demoSnapshot()
{
    const auto now = std::chrono::system_clock::now();
    const std::int64_t end = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    return { VelmoJSON::Coder<Balance>::decode(DemoAccount::balance(now)),
        VelmoJSON::Coder<UsageSummary>::decode(
            DemoAccount::usage(end - 30 * DemoAccount::secondsPerDay, end, "account")),
        now - std::chrono::minutes(2) };
}

class ScreenshotProcess : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(listener.listen(QHostAddress::LocalHost)); }

    void TearDown() override
    {
        // The service's and the identity provider's addresses point here:
        // the mode must never have called.
        QCoreApplication::processEvents();
        EXPECT_FALSE(listener.hasPendingConnections()) << "the screenshot mode opened a connection";
    }

    ProgramRun run(const QString& directory, const QString& scale = QStringLiteral("1"))
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QString service = QStringLiteral("http://127.0.0.1:%1").arg(listener.serverPort());
        environment.insert("VELMO_API_URL", service);
        environment.insert("VELMO_AUTH_URL", service);
        environment.insert("HOME", scratch.filePath("home"));
        environment.insert("XDG_CONFIG_HOME", scratch.filePath("config"));
        environment.insert("XDG_DATA_HOME", scratch.filePath("data"));
        environment.insert("QT_SCALE_FACTOR", scale);
        return runProgram({ "--render-screenshots", directory }, {}, environment);
    }

    // Checks the three "Wrote PATH (W×H)" lines against the files; returns them.
    std::vector<QImage> expectThreeFiles(const ProgramRun& outcome, const QString& directory)
    {
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err.toStdString();
        std::vector<QImage> images;
        const QStringList names { "panel.png", "settings.png", "menubar.png" };
        const QStringList lines = outcome.out.split('\n', Qt::SkipEmptyParts);
        EXPECT_EQ(lines.size(), names.size()) << outcome.out.toStdString();
        for (qsizetype i = 0; i < names.size() && i < lines.size(); ++i) {
            const QString path = QDir(directory).filePath(names[i]);
            const QImage image(path, "PNG");
            EXPECT_FALSE(image.isNull()) << path.toStdString();
            EXPECT_EQ(lines[i],
                QStringLiteral("Wrote %1 (%2\u00D7%3)").arg(path).arg(image.width()).arg(image.height()));
            images.push_back(image);
        }
        return images;
    }

    velmo::test::ScratchDir scratch;
    QTcpServer listener;
};

// Leaves the pictures of a populated account in the build folder for review.
TEST_F(ScreenshotProcess, DrawsTheCachedSnapshotWithTransparentCorners)
{
    SnapshotCache(scratch.filePath("data/VelmoUsage/snapshot.json")).save(demoSnapshot());
    const QString directory = QStringLiteral(VELMO_SCREENSHOTS_DIR);
    // Only its own pictures go: the tray's desktop test leaves its own here.
    for (const char* name : { "panel.png", "settings.png", "menubar.png" })
        QFile::remove(QDir(directory).filePath(name));
    const auto images = expectThreeFiles(run(directory), directory);
    ASSERT_EQ(images.size(), 3u);
    const QImage& panel = images[0];
    EXPECT_EQ(panel.width(), 320);
    EXPECT_GT(panel.height(), 300); // balance and usage, not an empty state
    EXPECT_EQ(qAlpha(panel.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(panel.pixel(panel.width() - 1, panel.height() - 1)), 0);
    EXPECT_EQ(qAlpha(panel.pixel(panel.width() / 2, panel.height() / 2)), 255);
    EXPECT_EQ(images[2].height(), 24);
}

TEST_F(ScreenshotProcess, WithoutACacheTheTrayShowsZeroAtTwiceThePixelsAndAFailedWriteStops)
{
    const QString directory = scratch.filePath("new/nested/shots");
    const auto images = expectThreeFiles(run(directory, QStringLiteral("2")), directory);
    ASSERT_EQ(images.size(), 3u);
    EXPECT_EQ(images[0].width(), 640);
    EXPECT_EQ(images[2].size(), MenuBarItemPreview("$0.00").size() * 2);

    // The first failing write stops the run and keeps what was written.
    const QString blocked = scratch.filePath("shots");
    QDir().mkpath(blocked + "/settings.png");
    const ProgramRun outcome = run(blocked);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_TRUE(outcome.err.contains("render failed: ")) << outcome.err.toStdString();
    EXPECT_EQ(outcome.out.count('\n'), 1);
    EXPECT_TRUE(QFileInfo::exists(blocked + "/panel.png"));
    EXPECT_FALSE(QFileInfo::exists(blocked + "/menubar.png"));
}

} // namespace
