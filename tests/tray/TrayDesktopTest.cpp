// The real program on a real X desktop: Xvfb with the openbox window manager
// and a trayer XEmbed tray at the top right, driven with xdotool, against
// velmo-devserver's demo account. Leaves screenshots for review in
// build/test/screenshots/ (tray-*.png).
#include "DevServerProcess.h"
#include "PanelWindow.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRect>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr int timeoutMs = 60'000;
const QSize screenSize(1280, 800);
const QString panelTitle = QStringLiteral("^Velmo Usage$");
const QString settingsTitle = QStringLiteral("^Velmo Usage Settings$");

class Desktop : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* tool : { "Xvfb", "openbox", "trayer", "xdotool", "xprop", "import" }) {
            if (QStandardPaths::findExecutable(tool).isEmpty())
                GTEST_SKIP() << tool << " is not installed (scripts/install-deps)";
        }
        // Nobody reads what the desktop's programs print: a full pipe would
        // stall the X server.
        for (QProcess* process : { &xvfb, &windowManager, &tray }) {
            process->setStandardErrorFile(QProcess::nullDevice());
            if (process != &xvfb)
                process->setStandardOutputFile(QProcess::nullDevice());
        }
        start(xvfb, "Xvfb", { "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp" });
        ASSERT_TRUE(QTest::qWaitFor([&] { return xvfb.canReadLine(); }, timeoutMs));
        const QString display = ":" + QString::fromLatin1(xvfb.readLine()).trimmed();

        for (const char* folder : { "home/.velmo", "config", "data", "run" })
            QDir().mkpath(scratch.filePath(folder));
        environment = QProcessEnvironment::systemEnvironment();
        environment.remove("QT_QPA_PLATFORM");
        environment.remove("WAYLAND_DISPLAY");
        environment.insert("DISPLAY", display);
        // No session bus: no StatusNotifierWatcher, so the XEmbed tray it is.
        environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + scratch.filePath("no-bus"));
        // libxkbcommon-x11 hands counted, unterminated names to strndup(),
        // which ASan's strict_string_checks reports; that check is not ours.
        environment.insert("ASAN_OPTIONS",
            environment.value("ASAN_OPTIONS").replace("strict_string_checks=1", "strict_string_checks=0"));
        // Mesa's GL driver, loaded and unloaded by Qt's xcb GL integration,
        // leaves allocations LeakSanitizer cannot name: draw in software.
        environment.insert("QT_XCB_GL_INTEGRATION", "none");
        environment.insert("QT_QUICK_BACKEND", "software");
        for (const auto& [name, folder] : { std::pair { "HOME", "home" }, { "XDG_CONFIG_HOME", "config" },
                 { "XDG_DATA_HOME", "data" }, { "XDG_RUNTIME_DIR", "run" } })
            environment.insert(name, scratch.filePath(folder));
        environment.insert("VELMO_API_URL", server.baseURL().toString());
        environment.insert("VELMO_AUTH_URL", server.baseURL().toString());
        QFile tokens(scratch.filePath("home/.velmo/tokens.json"));
        ASSERT_TRUE(tokens.open(QIODevice::WriteOnly));
        tokens.write(QByteArray::fromStdString(server.issueSession().cliTokens.dump() + "\n"));
        tokens.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        tokens.close();
        QFile::setPermissions(scratch.filePath("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        // Under load openbox now and then never finishes starting, and a
        // trayer mapped while openbox settles never shows: a fresh one does.
        ASSERT_TRUE(retry([&] { start(windowManager, "openbox", { "--sm-disable" }); },
            [&] { return run("xprop", { "-root", "_NET_WORKAREA" }).contains("="); }));
        ASSERT_TRUE(retry(
            [&] {
                start(tray, "trayer",
                    { "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "96", "--height",
                        "28", "--SetDockType", "true", "--SetPartialStrut", "true", "--expand", "false" });
            },
            [&] { return !windows({ "--class", "trayer" }).isEmpty(); }));
        QDir().mkpath(VELMO_SCREENSHOTS_DIR);
    }

    void TearDown() override
    {
        for (QProcess* process : { &app, &tray, &windowManager, &xvfb }) {
            process->terminate();
            if (!process->waitForFinished(10'000))
                process->kill();
            process->waitForFinished(10'000);
        }
    }

    // Starts the program, ending a previous run of it first.
    void start(QProcess& process, const QString& program, const QStringList& arguments)
    {
        process.kill();
        process.waitForFinished(timeoutMs);
        process.setProcessEnvironment(environment.isEmpty() ? QProcessEnvironment::systemEnvironment() : environment);
        process.start(program, arguments);
        ASSERT_TRUE(process.waitForStarted(timeoutMs)) << program.toStdString();
    }

    // Acts, then waits for `done`; acts again (up to three times in all)
    // when an attempt sees nothing happen.
    bool retry(const std::function<void()>& act, const std::function<bool()>& done)
    {
        for (int attempt = 0; attempt < 3; ++attempt) {
            act();
            if (QTest::qWaitFor(done, timeoutMs / 3))
                return true;
        }
        return false;
    }

    // A tool's standard output; empty when it failed.
    QString run(const QString& program, const QStringList& arguments)
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        if (!process.waitForFinished(timeoutMs) || process.exitCode() != 0)
            return {};
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    QStringList windows(const QStringList& query)
    {
        return run("xdotool", QStringList { "search", "--onlyvisible" } + query).split('\n', Qt::SkipEmptyParts);
    }

    QRect geometry(const QString& window)
    {
        QMap<QString, int> shell; // X=, Y=, WIDTH=, HEIGHT=
        for (const QString& line : run("xdotool", { "getwindowgeometry", "--shell", window }).split('\n'))
            shell[line.section('=', 0, 0)] = line.section('=', 1).toInt();
        return QRect(shell["X"], shell["Y"], shell["WIDTH"], shell["HEIGHT"]);
    }

    // The one visible window with this exact title, or "" while there is none.
    QString windowNamed(const QString& title)
    {
        const QStringList found = windows({ "--name", title });
        return found.size() == 1 ? found.front() : QString();
    }

    void click(QPoint at, int button)
    {
        run("xdotool", { "mousemove", QString::number(at.x()), QString::number(at.y()), "click", QString::number(button) });
    }

    void screenshot(const QString& name)
    {
        run("import", { "-window", "root", QDir(VELMO_SCREENSHOTS_DIR).filePath(name) });
    }

    // Starts the app and waits for its icon inside the tray.
    QRect startApp(const QString& colorScheme)
    {
        environment.insert("VELMO_COLOR_SCHEME", colorScheme);
        start(app, VELMO_USAGE_BINARY, {});
        QRect icon;
        const bool docked = QTest::qWaitFor(
            [&] {
                for (const QString& window : windows({ "--class", "velmo-usage" })) {
                    const QRect rect = geometry(window);
                    if (rect.width() <= 64 && rect.top() < 28)
                        icon = rect;
                }
                return icon.isValid();
            },
            timeoutMs);
        EXPECT_TRUE(docked) << app.readAllStandardError().toStdString();
        return icon;
    }

    velmo::test::ScratchDir scratch;
    velmo::test::DevServerProcess server;
    QProcessEnvironment environment;
    QProcess xvfb, windowManager, tray, app;
};

} // namespace

TEST_F(Desktop, PanelMenuAndSettingsFromTheTrayIcon)
{
    const QRect icon = startApp("light");
    ASSERT_TRUE(icon.isValid());

    // A click opens the panel under the icon, clamped to the screen's right.
    click(icon.center(), 1);
    QString panel;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !(panel = windowNamed(panelTitle)).isEmpty(); }, timeoutMs));
    QRect placed;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        placed = geometry(panel);
        return placed.top() == icon.bottom() + 1 + 6 && placed.height() >= PanelWindow::minimumHeight;
    }, timeoutMs)) << placed.top() << " under " << icon.bottom();
    EXPECT_EQ(placed.width(), PanelWindow::width);
    EXPECT_EQ(placed.right(), screenSize.width() - 8 - 1);
    QTest::qWait(3000); // the data arrives and the bars rise: for the picture only
    screenshot("tray-panel-light.png");

    // Escape closes it; a click opens it again, a second click closes it.
    run("xdotool", { "key", "Escape" });
    ASSERT_TRUE(QTest::qWaitFor([&] { return windowNamed(panelTitle).isEmpty(); }, timeoutMs));
    click(icon.center(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !windowNamed(panelTitle).isEmpty(); }, timeoutMs));
    click(icon.center(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return windowNamed(panelTitle).isEmpty(); }, timeoutMs));

    // The context menu: its third item is Settings…
    const int before = windows({ "--class", "velmo-usage" }).size();
    // (A right click that lands while the previous click is still being
    // handled can go unseen: click again.)
    ASSERT_TRUE(retry(
        [&] { click(icon.center(), 3); }, [&] { return windows({ "--class", "velmo-usage" }).size() > before; }));
    screenshot("tray-menu-light.png");
    run("xdotool", { "key", "Down", "Down", "Down", "Return" });
    QString settings;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !(settings = windowNamed(settingsTitle)).isEmpty(); }, timeoutMs));
    QTest::qWait(500);
    screenshot("tray-settings-light.png");

    // Closed, then a second launch brings it back and exits 0.
    run("xdotool", { "key", "ctrl+w" }); // (windowclose would destroy the X window under Qt)
    ASSERT_TRUE(QTest::qWaitFor([&] { return windowNamed(settingsTitle).isEmpty(); }, timeoutMs));
    QProcess second;
    start(second, VELMO_USAGE_BINARY, {});
    ASSERT_TRUE(second.waitForFinished(timeoutMs));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !windowNamed(settingsTitle).isEmpty(); }, timeoutMs));

    app.terminate();
    ASSERT_TRUE(app.waitForFinished(timeoutMs));
    EXPECT_EQ(app.exitCode(), 0) << app.readAllStandardError().toStdString();
}

TEST_F(Desktop, DarkPanel)
{
    const QRect icon = startApp("dark");
    ASSERT_TRUE(icon.isValid());
    click(icon.center(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !windowNamed(panelTitle).isEmpty(); }, timeoutMs));
    QTest::qWait(3000); // the data arrives and the bars rise: for the picture only
    screenshot("tray-panel-dark.png");
}
