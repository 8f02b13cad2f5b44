// The autostart entry in a scratch config folder, and the toggle over it.
#include "LaunchAtLogin.h"
#include "LaunchAtLoginModel.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

class LaunchAtLoginTest : public ::testing::Test {
protected:
    // An empty file at `relative` below the scratch folder; its path.
    QString touch(const QString& relative, const QByteArray& content = {})
    {
        const QString path = scratch.filePath(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        velmo::test::writeFile(path, content, 0644);
        return path;
    }

    LaunchAtLogin installed() { return LaunchAtLogin(scratch.filePath("config"), touch("usr/bin/velmo-usage")); }

    velmo::test::ScratchDir scratch;
};

TEST_F(LaunchAtLoginTest, AvailableOnlyForAnInstalledCopyOrAnAppImage)
{
    touch("build/CMakeCache.txt");
    struct Case {
        const char* executable;
        const char* appImage; // "" none; created unless it starts with "missing"
        bool available;
    };
    for (const Case& c : std::initializer_list<Case> {
             { "usr/bin/velmo-usage", "", true },
             { "home/u/.local/bin/velmo-usage", "", true },
             { "build/src/velmo-usage", "", false },
             { "build/bin/velmo-usage", "", false }, // a build tree with a bin folder
             { "opt/velmo/velmo-usage", "", false }, // not in a prefix's bin
             { "tmp/.mount_x/usr/bin/velmo-usage", "apps/Velmo_Usage.AppImage", true },
             { "build/src/velmo-usage", "missing/Velmo_Usage.AppImage", false },
         }) {
        const QString appImage = QString::fromLatin1(c.appImage);
        if (!appImage.isEmpty() && !appImage.startsWith("missing"))
            touch(appImage);
        const LaunchAtLogin launch(scratch.filePath("config"), touch(c.executable),
            appImage.isEmpty() ? QString() : scratch.filePath(appImage));
        EXPECT_EQ(launch.isAvailable(), c.available) << c.executable << " " << c.appImage;
    }
}

TEST_F(LaunchAtLoginTest, TheEntryIsWrittenReadBackAndRemoved)
{
    // A path that needs quoting and escaping in Exec.
    const QString binary = touch("my apps/100% \"velmo\"/bin/velmo-usage");
    const LaunchAtLogin launch(scratch.filePath("config"), binary);
    EXPECT_EQ(launch.entryPath(), scratch.filePath("config/autostart/velmo-usage.desktop"));
    EXPECT_FALSE(launch.isEnabled());

    launch.setEnabled(true);
    EXPECT_TRUE(launch.isEnabled());
    const QString text = QString::fromUtf8(velmo::test::readAll(launch.entryPath()));
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\nType=Application\n")) << text.toStdString();
    EXPECT_TRUE(text.contains(QString(R"(Exec="%1/my apps/100%% \\"velmo\\"/bin/velmo-usage")").arg(scratch.path())))
        << text.toStdString();

    launch.setEnabled(false);
    EXPECT_FALSE(QFile::exists(launch.entryPath()));
    EXPECT_FALSE(launch.isEnabled());
    launch.setEnabled(false); // nothing to remove is fine

    // An AppImage starts itself, not the program inside its mount.
    const QString appImage = touch("apps/Velmo Usage.AppImage");
    const LaunchAtLogin fromImage(scratch.filePath("config"), touch("tmp/.mount_x/usr/bin/velmo-usage"), appImage);
    fromImage.setEnabled(true);
    EXPECT_TRUE(fromImage.isEnabled());
    EXPECT_EQ(LaunchAtLogin::execProgram(LaunchAtLogin::execValue(appImage)), appImage);
    EXPECT_EQ(fromImage.program(), appImage);
}

TEST_F(LaunchAtLoginTest, EnabledOnlyForAnEntryThatStartsUsAndIsNotSwitchedOff)
{
    const LaunchAtLogin launch = installed();
    const QString ours = scratch.filePath("usr/bin/velmo-usage");
    struct Case { QString entry; bool enabled; };
    for (const Case& c : std::initializer_list<Case> {
             { "[Desktop Entry]\nExec=" + ours + "\n", true },
             { "[Desktop Entry]\nExec=/usr/local/bin/velmo-usage %U\n", true }, // a copied launcher
             { "[Desktop Entry]\nExec=" + ours + "\nHidden=true\n", false },
             { "[Desktop Entry]\nExec=" + ours + "\nX-GNOME-Autostart-enabled=false\n", false },
             { "[Desktop Entry]\nExec=/usr/bin/other-app\n", false },
             { "[Desktop Entry]\nName=Velmo\n", false },
             { "[Desktop Action x]\nExec=" + ours + "\n", false },
         }) {
        touch("config/autostart/velmo-usage.desktop", c.entry.toUtf8());
        EXPECT_EQ(launch.isEnabled(), c.enabled) << c.entry.toStdString();
    }
}

TEST_F(LaunchAtLoginTest, AFailedWriteShowsItsReasonAndTheToggleSnapsBack)
{
    touch("config/autostart"); // a file where the folder should be
    LaunchAtLoginModel model(installed());
    ASSERT_TRUE(model.available());
    QSignalSpy error(&model, &LaunchAtLoginModel::errorChanged);
    QSignalSpy enabled(&model, &LaunchAtLoginModel::enabledChanged);
    model.setEnabled(true);
    EXPECT_FALSE(model.enabled());
    EXPECT_EQ(enabled.count(), 0);
    EXPECT_TRUE(model.error().startsWith("Could not create " + scratch.filePath("config/autostart") + ": "))
        << model.error().toStdString();
    EXPECT_EQ(error.count(), 1);

    // Once the folder can be made, the change goes through and the error goes.
    QFile::remove(scratch.filePath("config/autostart"));
    model.setEnabled(true);
    EXPECT_TRUE(model.enabled());
    EXPECT_EQ(model.error(), "");
    EXPECT_TRUE(installed().isEnabled());
}

TEST_F(LaunchAtLoginTest, AnUnavailableToggleChangesNothingAndThisProcessUsesXDGConfigHome)
{
    LaunchAtLoginModel model(LaunchAtLogin(scratch.filePath("config"), touch("build/velmo-usage")));
    EXPECT_FALSE(model.available());
    EXPECT_EQ(model.note(), "Available when running from an installed copy.");
    model.setEnabled(true);
    EXPECT_FALSE(model.enabled());
    EXPECT_FALSE(QFile::exists(scratch.filePath("config/autostart/velmo-usage.desktop")));
    const velmo::test::ScopedEnv config("XDG_CONFIG_HOME", scratch.filePath("xdg"));
    EXPECT_EQ(LaunchAtLogin::forThisProcess().entryPath(), scratch.filePath("xdg/autostart/velmo-usage.desktop"));
}

} // namespace
