// Runs the real program's headless modes against velmo-devserver, each in a
// scratch HOME with its own settings, cache and session file. The processes
// get no session bus, so the app's session lives in a file of the scratch
// data folder (the keyring's stand-in) and parallel tests never share one.
#include "AsyncWait.h"
#include "DevServerProcess.h"
#include "HTTPClient.h"
#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QUrlQuery>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <functional>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
using nlohmann::json;
using velmo::test::DevServerProcess;
using velmo::test::ScratchDir;
using velmo::test::waitForTask;

namespace {

constexpr int watchdogMs = 60'000;

struct Outcome {
    int exitCode = -1;
    QByteArray standardOutput;
    QString standardError;
};

class Headless {
public:
    explicit Headless(const QUrl& server)
    {
        for (const char* folder : { "home", "config", "data" })
            QDir().mkpath(scratch.filePath(folder));
        environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
            environment.remove(name);
        environment.insert("HOME", scratch.filePath("home"));
        environment.insert("XDG_CONFIG_HOME", scratch.filePath("config"));
        environment.insert("XDG_DATA_HOME", scratch.filePath("data"));
        environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + scratch.filePath("no-bus"));
        environment.insert("VELMO_API_URL", server.toString());
        environment.insert("VELMO_AUTH_URL", server.toString());
    }

    QString cliTokensPath() const { return scratch.filePath("home/.velmo/tokens.json"); }
    QString appSessionPath() const { return scratch.filePath("data/VelmoUsage/session.json"); }

    void writeCLITokens(const json& tokens) const
    {
        QDir().mkpath(scratch.filePath("home/.velmo"));
        QFile file(cliTokensPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromStdString(tokens.dump() + "\n"));
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }

    void start(QProcess& process, const QStringList& arguments) const
    {
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(VELMO_USAGE_BINARY), arguments);
        ASSERT_TRUE(process.waitForStarted(watchdogMs));
    }

    Outcome run(const QStringList& arguments) const
    {
        QProcess process;
        start(process, arguments);
        if (!process.waitForFinished(watchdogMs)) {
            process.kill();
            process.waitForFinished(watchdogMs);
            ADD_FAILURE() << "velmo-usage " << arguments.join(' ').toStdString() << " did not finish";
            return {};
        }
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << process.readAllStandardError().toStdString();
        return { process.exitCode(), process.readAllStandardOutput(),
            QString::fromUtf8(process.readAllStandardError()) };
    }

    // "--once": exit 0 and exactly one JSON line.
    json once() const
    {
        const Outcome outcome = run({ "--once" });
        EXPECT_EQ(outcome.exitCode, 0) << outcome.standardError.toStdString();
        EXPECT_TRUE(outcome.standardOutput.endsWith('\n'));
        EXPECT_EQ(outcome.standardOutput.count('\n'), 1) << outcome.standardOutput.toStdString();
        return json::parse(outcome.standardOutput.toStdString(), nullptr, false);
    }

    ScratchDir scratch;
    QProcessEnvironment environment;
};

// The next line on standard output, or a discarded value after the watchdog.
json nextLine(QProcess& process, int timeoutMs = watchdogMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!process.canReadLine()) {
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning) {
            ADD_FAILURE() << "no line from velmo-usage; stderr: " << process.readAllStandardError().toStdString();
            return json::value_t::discarded;
        }
        process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
    }
    return json::parse(process.readLine().toStdString(), nullptr, false);
}

// Reads lines until one satisfies `accept`; every line must be valid JSON.
json lineWhere(QProcess& process, const std::function<bool(const json&)>& accept)
{
    for (int i = 0; i < 20; ++i) {
        json line = nextLine(process);
        EXPECT_FALSE(line.is_discarded());
        if (line.is_discarded() || accept(line))
            return line;
    }
    ADD_FAILURE() << "no matching line";
    return json::value_t::discarded;
}

// Waits for the exit; its status, with standard error shown when it is not `expected`.
int finish(QProcess& process, int expected = 0)
{
    if (!process.waitForFinished(watchdogMs)) {
        process.kill();
        process.waitForFinished(watchdogMs);
        ADD_FAILURE() << "velmo-usage did not stop";
        return -1;
    }
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << process.readAllStandardError().toStdString();
    if (process.exitCode() != expected)
        ADD_FAILURE() << "velmo-usage exited with " << process.exitCode() << "; stderr:\n"
                      << process.readAllStandardError().toStdString();
    return process.exitCode();
}

TEST(HeadlessProcess, OnceWithoutASessionIsSignedOut)
{
    DevServerProcess server({ "--quiet" });
    Headless headless(server.baseURL());
    const json line = headless.once();
    EXPECT_EQ(line["text"], "?");
    EXPECT_EQ(line["class"], json::array({ "signed-out" }));
    EXPECT_EQ(line["alt"], "noCredential");
    EXPECT_EQ(server.counters()["requests"]["balance"], 0) << "nothing to ask the service with";
}

TEST(HeadlessProcess, OnceWithTheCLISessionShowsTheBalanceThenTheCachedOneOnFailure)
{
    DevServerProcess server({ "--quiet" });
    Headless headless(server.baseURL());
    const auto session = server.issueSession();
    headless.writeCLITokens(session.cliTokens);

    json line = headless.once();
    EXPECT_EQ(line["text"], "$42.75");
    EXPECT_EQ(line["class"], json::array({ "ok" }));
    EXPECT_EQ(line["alt"], "ok");
    const std::string tooltip = line["tooltip"];
    EXPECT_NE(tooltip.find("Available $30.00 \u00B7 Account $42.75"), std::string::npos) << tooltip;
    EXPECT_EQ(tooltip.find(session.accessToken), std::string::npos);
    EXPECT_EQ(server.counters()["requests"]["balance"], 1) << "exactly one refresh";

    // The server fails from now on: the cached balance stays, marked.
    server.injectFault({ { "endpoint", "balance" }, { "status", 500 }, { "count", -1 } });
    server.injectFault({ { "endpoint", "usage" }, { "status", 500 }, { "count", -1 } });
    line = headless.once();
    EXPECT_EQ(line["class"], json::array({ "error" }));
    EXPECT_EQ(line["alt"], "error");
    EXPECT_EQ(line["text"], "\u26A0\uFE0E $42.75");

    const Outcome text = headless.run({ "--once", "--text" });
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_TRUE(text.standardOutput.startsWith("Velmo Usage\nAvailable $30.00")) << text.standardOutput.toStdString();
    EXPECT_FALSE(text.standardOutput.contains("{"));
}

TEST(HeadlessProcess, OnceWithNoServerAtAllIsAnErrorNotACrash)
{
    QUrl closed;
    {
        DevServerProcess server({ "--quiet" });
        closed = server.baseURL();
    }
    Headless headless(closed);
    headless.writeCLITokens({ { "accessToken", "vat_0123456789abcdef" } });
    const json line = headless.once();
    EXPECT_EQ(line["class"], json::array({ "error" }));
    EXPECT_EQ(line["text"], "\u26A0\uFE0E");
}

TEST(HeadlessProcess, WaybarFollowsRefreshesAndStopsOnSIGTERM)
{
    DevServerProcess server({ "--quiet" });
    Headless headless(server.baseURL());
    headless.writeCLITokens(server.issueSession().cliTokens);

    QProcess process;
    headless.start(process, { "--waybar" });
    // The first line comes from the cache (empty): signed in, nothing to show yet.
    const json first = nextLine(process);
    ASSERT_FALSE(first.is_discarded());
    EXPECT_EQ(first["alt"], "ok");
    EXPECT_EQ(first["text"], "");
    EXPECT_EQ(lineWhere(process, [](const json& l) { return l["text"] == "$42.75"; })["class"],
        json::array({ "ok" }));

    // SIGUSR1 refreshes at once: the new balance shows.
    server.admin("POST", "/admin/balance",
        { { "balance",
            { { "account_balance_micros_usd", 3'000'000 }, { "available_balance_micros_usd", 3'000'000 } } } });
    ASSERT_EQ(::kill(pid_t(process.processId()), SIGUSR1), 0);
    const json refreshed = lineWhere(process, [](const json& l) { return l["text"] != "$42.75"; });
    EXPECT_EQ(refreshed["text"], "$3.00");
    EXPECT_EQ(refreshed["class"], json::array({ "ok", "low" }));
    EXPECT_EQ(server.counters()["requests"]["balance"], 2);

    ASSERT_EQ(::kill(pid_t(process.processId()), SIGTERM), 0);
    EXPECT_EQ(finish(process), 0);
}

TEST(HeadlessProcess, WaybarShowsTheCacheFirstAndStopsOnSIGINT)
{
    DevServerProcess server({ "--quiet" });
    Headless headless(server.baseURL());
    headless.writeCLITokens(server.issueSession().cliTokens);
    EXPECT_EQ(headless.once()["text"], "$42.75"); // fills the shared cache

    server.setLatency(3'000, "balance");
    QProcess process;
    headless.start(process, { "--waybar" });
    const json first = nextLine(process);
    EXPECT_EQ(first["text"], "$42.75") << "from the cache, before the slow server answers";
    ASSERT_EQ(::kill(pid_t(process.processId()), SIGINT), 0);
    EXPECT_EQ(finish(process), 0);
}

// The read end of a FIFO that the program writes its lines into, read
// without blocking so every wait has a watchdog.
class LineFIFO {
public:
    explicit LineFIFO(const QString& path)
        : m_path(path)
    {
        EXPECT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        EXPECT_GE(m_fd, 0);
    }
    ~LineFIFO() { close(); }
    const QString& path() const { return m_path; }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    // The next whole line, or "" after the watchdog.
    std::string nextLine()
    {
        QDeadlineTimer deadline(watchdogMs);
        for (;;) {
            const auto end = m_buffer.find('\n');
            if (end != std::string::npos) {
                std::string line = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                return line;
            }
            if (deadline.hasExpired()) {
                ADD_FAILURE() << "no line in the FIFO";
                return {};
            }
            pollfd readable { m_fd, POLLIN, 0 };
            ::poll(&readable, 1, 100);
            char chunk[4096];
            const ssize_t count = ::read(m_fd, chunk, sizeof chunk);
            if (count > 0)
                m_buffer.append(chunk, std::size_t(count));
        }
    }

private:
    QString m_path;
    int m_fd = -1;
    std::string m_buffer;
};

TEST(HeadlessProcess, WaybarEndsQuietlyWhenTheBarGoes)
{
    DevServerProcess server({ "--quiet" });
    Headless headless(server.baseURL());
    headless.writeCLITokens(server.issueSession().cliTokens);

    // The bar's end of standard output is a FIFO this test can close.
    LineFIFO bar(headless.scratch.filePath("bar.fifo"));
    QProcess process;
    process.setProcessEnvironment(headless.environment);
    process.start("/bin/sh", { "-c", "exec \"$0\" --waybar > \"$1\"", VELMO_USAGE_BINARY, bar.path() });
    ASSERT_TRUE(process.waitForStarted(watchdogMs));
    for (int i = 0; i < 5; ++i) {
        const json line = json::parse(bar.nextLine(), nullptr, false);
        ASSERT_FALSE(line.is_discarded());
        if (line["text"] == "$42.75")
            break;
    }
    bar.close();

    // The next line has nowhere to go: the program ends, quietly and with 0.
    server.admin("POST", "/admin/balance", { { "balance", { { "account_balance_micros_usd", 1'000'000 } } } });
    ASSERT_EQ(::kill(pid_t(process.processId()), SIGUSR1), 0);
    EXPECT_EQ(finish(process), 0);
    EXPECT_EQ(server.counters()["requests"]["balance"], 2);
}

// Plays the browser: the authorization address (auto-approved or denied by
// the server) redirects to the program's loopback port, which is then asked.
struct Browser {
    static QCoro::Task<int> visit(QUrl url)
    {
        const HTTPClient http = HTTPClient::platform(1, 0.3, 30, false);
        HTTPRequest authorize;
        authorize.url = url;
        const HTTPResponse redirect = co_await http.send(authorize, true);
        if (redirect.status != 302)
            co_return redirect.status;
        HTTPRequest callback;
        callback.url = QUrl(QString::fromUtf8(redirect.header("Location").value_or("")));
        const HTTPResponse page = co_await http.send(callback, true);
        co_return page.status;
    }
};

// The authorization address the program printed on standard error.
QUrl printedAddress(QProcess& process)
{
    process.setReadChannel(QProcess::StandardError);
    QDeadlineTimer deadline(watchdogMs);
    while (!deadline.hasExpired() && process.state() == QProcess::Running) {
        while (process.canReadLine()) {
            const QString line = QString::fromUtf8(process.readLine()).trimmed();
            if (line.startsWith("http://"))
                return QUrl(line);
        }
        process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
    }
    ADD_FAILURE() << "no authorization address on standard error";
    return {};
}

TEST(HeadlessProcess, SignInStoresTheAppSessionAndSignOutRemovesOnlyIt)
{
    DevServerProcess server({ "--quiet", "--auto-approve" });
    Headless headless(server.baseURL());

    QProcess signIn;
    headless.start(signIn, { "--sign-in" });
    const QUrl address = printedAddress(signIn);
    ASSERT_TRUE(address.isValid());
    EXPECT_EQ(address.path(), "/oauth/authorize");
    const auto visited = waitForTask(Browser::visit(address), 60s);
    ASSERT_TRUE(visited.ok()) << visited.errorText();
    EXPECT_EQ(*visited.value, 200);
    EXPECT_EQ(finish(signIn), 0) << signIn.readAllStandardError().toStdString();
    const QString printed = QString::fromUtf8(signIn.readAllStandardOutput());
    EXPECT_TRUE(printed.startsWith("Signed in (vat_")) << printed.toStdString();
    EXPECT_TRUE(printed.endsWith(")\n"));
    EXPECT_TRUE(printed.contains(QChar(0x2026))) << "masked";
    EXPECT_TRUE(QFileInfo::exists(headless.appSessionPath()));

    // No CLI session exists: "ok" can only come from the app's own.
    EXPECT_FALSE(QFileInfo::exists(headless.cliTokensPath()));
    EXPECT_EQ(headless.once()["class"], json::array({ "ok" }));

    // Sign-out removes the app's session; the CLI's file stays as it was.
    const auto cliSession = server.issueSession();
    headless.writeCLITokens(cliSession.cliTokens);
    QFile cliFile(headless.cliTokensPath());
    ASSERT_TRUE(cliFile.open(QIODevice::ReadOnly));
    const QByteArray cliBefore = cliFile.readAll();
    cliFile.close();
    const Outcome signOut = headless.run({ "--sign-out" });
    EXPECT_EQ(signOut.exitCode, 0) << signOut.standardError.toStdString();
    EXPECT_FALSE(QFileInfo::exists(headless.appSessionPath()));
    ASSERT_TRUE(cliFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(cliFile.readAll(), cliBefore);
    cliFile.close();
    EXPECT_EQ(headless.once()["class"], json::array({ "ok" })) << "the CLI's session is used now";

    QFile::remove(headless.cliTokensPath());
    EXPECT_EQ(headless.once()["class"], json::array({ "signed-out" }));
}

TEST(HeadlessProcess, SignInDeniedPrintsTheReasonAndExitsOne)
{
    DevServerProcess server({ "--quiet", "--auto-deny" });
    Headless headless(server.baseURL());

    QProcess signIn;
    headless.start(signIn, { "--sign-in" });
    const QUrl address = printedAddress(signIn);
    ASSERT_TRUE(address.isValid());
    const auto visited = waitForTask(Browser::visit(address), 60s);
    ASSERT_TRUE(visited.ok()) << visited.errorText();
    EXPECT_EQ(finish(signIn, 1), 1);
    const QString errors = QString::fromUtf8(signIn.readAllStandardError());
    EXPECT_TRUE(errors.contains("Authorization failed: ")) << errors.toStdString();
    EXPECT_TRUE(signIn.readAllStandardOutput().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(headless.appSessionPath()));
}

TEST(HeadlessProcess, HelpAndVersionPrintAndExitZero)
{
    DevServerProcess server({ "--quiet" });
    Headless headless(server.baseURL());
    const Outcome help = headless.run({ "--help" });
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.standardOutput.startsWith("Usage: velmo-usage")) << help.standardOutput.toStdString();
    const Outcome version = headless.run({ "--version" });
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.standardOutput, QByteArray("velmo-usage " VELMO_VERSION "\n"));
    // Anything else runs the tray application, which says it needs a display.
    const Outcome tray = headless.run({ "--once", "--json" });
    EXPECT_EQ(tray.exitCode, 1);
    EXPECT_TRUE(tray.standardError.contains("no display")) << tray.standardError.toStdString();
}

} // namespace
