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
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <functional>
#include <unistd.h>

using namespace std::chrono_literals;
using nlohmann::json;
using velmo::test::DevServerProcess;
using velmo::test::ScratchDir;
using velmo::test::readAll;
using velmo::test::writeFile;

namespace {

constexpr int watchdogMs = 60'000;

struct Outcome {
    int exitCode = -1;
    std::string out, err;
    json line() const { return json::parse(out, nullptr, false); }
};

class HeadlessProcess : public testing::Test {
public:
    HeadlessProcess()
    {
        for (const char* folder : { "home/.velmo", "config", "data" })
            QDir().mkpath(scratch.filePath(folder));
        environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
            environment.remove(name);
        environment.insert("HOME", scratch.filePath("home"));
        environment.insert("XDG_CONFIG_HOME", scratch.filePath("config"));
        environment.insert("XDG_DATA_HOME", scratch.filePath("data"));
        environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + scratch.filePath("no-bus"));
        environment.insert("VELMO_API_URL", server.baseURL().toString());
        environment.insert("VELMO_AUTH_URL", server.baseURL().toString());
    }

    QString cliTokensPath() const { return scratch.filePath("home/.velmo/tokens.json"); }
    QString appSessionPath() const { return scratch.filePath("data/VelmoUsage/session.json"); }
    void signInWithCLI() { writeFile(cliTokensPath(), QByteArray::fromStdString(server.issueSession().cliTokens.dump())); }

    void start(QProcess& process, const QStringList& arguments) const
    {
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(VELMO_USAGE_BINARY), arguments);
        ASSERT_TRUE(process.waitForStarted(watchdogMs));
    }
    static Outcome finish(QProcess& process, int timeoutMs = watchdogMs)
    {
        const velmo::test::ProcessResult result = velmo::test::finishProcess(process, timeoutMs);
        return { result.exitCode, result.out.toStdString(), result.err.toStdString() };
    }
    Outcome run(const QStringList& arguments) const
    {
        QProcess process;
        start(process, arguments);
        return finish(process);
    }
    // The next line of the read channel that `accept` takes.
    static QByteArray lineWhere(QProcess& process, const std::function<bool(const QByteArray&)>& accept)
    {
        QDeadlineTimer deadline(watchdogMs);
        while (!deadline.hasExpired() && process.state() == QProcess::Running) {
            if (!process.canReadLine())
                process.waitForReadyRead(100);
            else if (const QByteArray line = process.readLine(); accept(line))
                return line;
        }
        ADD_FAILURE() << "no matching line; stderr: " << process.readAllStandardError().toStdString();
        return {};
    }
    // The same for standard output, every line of which is JSON (else it throws).
    static json jsonLineWhere(QProcess& process, const std::function<bool(const json&)>& accept)
    {
        return json::parse(lineWhere(process, [&](const QByteArray& raw) { return accept(json::parse(raw)); }));
    }

    DevServerProcess server { { "--quiet", "--auto-approve" } };
    ScratchDir scratch;
    QProcessEnvironment environment;
};

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void signedOut(HeadlessProcess&) { }
void signedInWithCLI(HeadlessProcess& t) { t.signInWithCLI(); }
void failingWithAHostilePage(HeadlessProcess& t)
{
    t.signInWithCLI();
    t.server.injectFault({ { "endpoint", "balance" }, { "status", 500 }, { "count", -1 },
        { "body", "<html>Billing & \x1b]0;owned\x07limits</html>" } });
}
void withAnUnreadableAppSession(HeadlessProcess& t)
{
    t.signInWithCLI();
    QDir().mkpath(t.appSessionPath()); // a folder where the file belongs
}

// One-shot runs: what is set up, the arguments, the exit status, the bar's
// text (a single JSON line) and what the output and errors hold. Nothing
// a terminal obeys ever reaches standard error.
TEST_F(HeadlessProcess, OneShotScenarios)
{
    const struct {
        void (*setUp)(HeadlessProcess&);
        QStringList arguments;
        int exitCode;
        json text; // null: not a bar line
        std::string out, err;
        int refreshes = -1; // balance requests, when counted
    } scenarios[] = {
        { signedOut, { "--once" }, 1, "?", "Not signed in \u2014 run velmo-usage --sign-in (or velmo login)",
            "run velmo-usage --sign-in", 0 },
        { signedInWithCLI, { "--once" }, 0, "$42.75", "", "", 1 },
        { withAnUnreadableAppSession, { "--once" }, 0, "$42.75", "\\nSession store unreadable: ", "" },
        { failingWithAHostilePage, { "--once" }, 1, "\u26A0\uFE0E", "", "500: <html>Billing & ]0;ownedlimits" },
        { signedInWithCLI, { "--once", "--text" }, 0, nullptr, "Velmo Usage\nAvailable $30.00", "" },
        { signedOut, { "--help" }, 0, nullptr, "Usage: velmo-usage", "" },
        { signedOut, { "--version" }, 0, nullptr, "velmo-usage " VELMO_VERSION "\n", "" },
        { signedOut, { "--onec" }, 2, nullptr, "", "velmo-usage: unknown option '--onec'\n\nUsage: velmo-usage" },
    };
    for (const auto& s : scenarios) {
        SCOPED_TRACE(s.arguments.join(' ').toStdString());
        server.reset();
        QFile::remove(cliTokensPath());
        QDir(scratch.filePath("data/VelmoUsage")).removeRecursively();
        s.setUp(*this);
        const Outcome o = run(s.arguments);
        EXPECT_EQ(o.exitCode, s.exitCode) << o.err;
        if (!s.text.is_null()) {
            EXPECT_EQ(o.line()["text"], s.text) << o.out;
        }
        EXPECT_TRUE(has(o.out, s.out)) << o.out;
        EXPECT_TRUE(has(o.err, s.err)) << o.err;
        EXPECT_FALSE(has(o.err, "\x1b"));
        if (s.refreshes >= 0) {
            EXPECT_EQ(server.counters()["requests"]["balance"], s.refreshes);
        }
    }
}

TEST_F(HeadlessProcess, WaybarLoadsThenFollowsRefreshesAndEndsWhenTheBarGoes)
{
    signInWithCLI();
    // The bar reads through a pipe this test can close.
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start("/bin/bash", { "-c", "set -o pipefail; \"$0\" --waybar | sed -u 3q", VELMO_USAGE_BINARY });
    ASSERT_TRUE(process.waitForStarted(watchdogMs));
    const json first = jsonLineWhere(process, [](const json&) { return true; });
    EXPECT_EQ(first["text"], "\u2026");
    EXPECT_EQ(jsonLineWhere(process, [](const json& l) { return l["text"] == "$42.75"; })["class"], json::array({ "ok" }));

    // SIGUSR1 refreshes at once. The third line ends the bar (`sed 3q`); the
    // next line has nowhere to go and the program ends quietly with 0.
    const auto refreshWith = [&](std::int64_t micros) {
        server.admin("POST", "/admin/balance",
            { { "balance", { { "account_balance_micros_usd", micros }, { "available_balance_micros_usd", micros } } } });
        QProcess::execute("pkill", { "-USR1", "-x", "velmo-usage", "-P", QString::number(process.processId()) });
    };
    refreshWith(3'000'000);
    EXPECT_EQ(jsonLineWhere(process, [](const json& l) { return l["text"] != "$42.75"; })["class"],
        json::array({ "ok", "low" }));
    refreshWith(1'000'000);
    EXPECT_EQ(finish(process).exitCode, 0);
    EXPECT_EQ(server.counters()["requests"]["balance"], 3);
}

// Every mode ends within a second of SIGTERM or SIGINT, even while the server is slow.
TEST_F(HeadlessProcess, SignalsEndEveryModeAtOnce)
{
    signInWithCLI();
    server.setLatency(20'000);
    const struct {
        QStringList arguments;
        int signal;
        int exitCode;
    } cases[] = {
        { { "--waybar" }, SIGTERM, 0 },
        { { "--waybar" }, SIGINT, 0 },
        { { "--once" }, SIGTERM, 1 },
        { { "--sign-in" }, SIGINT, 1 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString() + " " + std::to_string(c.signal));
        QProcess process;
        start(process, c.arguments);
        // Signalled once it is waiting: the first line, or the printed address.
        if (c.arguments[0] == "--waybar")
            jsonLineWhere(process, [](const json&) { return true; });
        else
            process.waitForReadyRead(2'000);
        ASSERT_EQ(::kill(pid_t(process.processId()), c.signal), 0);
        // Far above the second it takes, far below the server's delay.
        const Outcome outcome = finish(process, 5'000);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << outcome.err;
    }
}

// Plays the browser: the authorization address (auto-approved by the
// server) redirects to the program's loopback port, which is then asked.
QCoro::Task<int> visit(QUrl url)
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

TEST_F(HeadlessProcess, SignInStoresTheAppSessionAndSignOutRemovesOnlyIt)
{
    QProcess signIn;
    start(signIn, { "--sign-in" });
    signIn.setReadChannel(QProcess::StandardError);
    const QUrl address(QString::fromUtf8(
        lineWhere(signIn, [](const QByteArray& line) { return line.startsWith("http://"); }).trimmed()));
    const auto visited = velmo::test::waitForTask(visit(address), 60s);
    ASSERT_TRUE(visited.ok()) << visited.errorText();
    const Outcome signedIn = finish(signIn);
    EXPECT_EQ(signedIn.exitCode, 0) << signedIn.err;
    EXPECT_TRUE(signedIn.out.starts_with("Signed in (vat_") && has(signedIn.out, "\u2026")) << signedIn.out;
    EXPECT_EQ(run({ "--once" }).line()["class"], json::array({ "ok" })) << "no CLI session: the app's own";

    // Sign-out removes the app's session; the CLI's file stays as it was.
    signInWithCLI();
    const QByteArray cliBefore = readAll(cliTokensPath());
    EXPECT_EQ(run({ "--sign-out" }).exitCode, 0);
    EXPECT_FALSE(QFileInfo::exists(appSessionPath()));
    EXPECT_EQ(readAll(cliTokensPath()), cliBefore);
}

} // namespace
