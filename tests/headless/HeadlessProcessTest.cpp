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
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <functional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
using nlohmann::json;
using velmo::test::DevServerProcess;
using velmo::test::ScratchDir;

namespace {

constexpr int watchdogMs = 60'000;

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
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
    void writeCLITokens(const json& tokens) const
    {
        QFile file(cliTokensPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromStdString(tokens.dump() + "\n"));
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
    void signInWithCLI() { writeCLITokens(server.issueSession().cliTokens); }

    void start(QProcess& process, const QStringList& arguments) const
    {
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(VELMO_USAGE_BINARY), arguments);
        ASSERT_TRUE(process.waitForStarted(watchdogMs));
    }
    static Outcome finish(QProcess& process, int timeoutMs = watchdogMs)
    {
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished(watchdogMs);
            ADD_FAILURE() << "velmo-usage did not finish in " << timeoutMs << " ms";
            return {};
        }
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        return { process.exitCode(), process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString() };
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
    // The same for standard output, every line of which is valid JSON.
    static json jsonLineWhere(QProcess& process, const std::function<bool(const json&)>& accept)
    {
        return json::parse(lineWhere(process, [&](const QByteArray& raw) {
            const json line = json::parse(raw.toStdString(), nullptr, false);
            EXPECT_FALSE(line.is_discarded()) << raw.toStdString();
            return line.is_discarded() || accept(line);
        }).toStdString(), nullptr, false);
    }

    DevServerProcess server { { "--quiet", "--auto-approve" } };
    ScratchDir scratch;
    QProcessEnvironment environment;
};

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// One-shot runs: what is set up, the arguments, the exit status and what the
// output must hold.
TEST_F(HeadlessProcess, OneShotScenarios)
{
    struct Scenario {
        const char* name;
        std::function<void(HeadlessProcess&)> setUp;
        QStringList arguments;
        int exitCode;
        std::function<void(const Outcome&, HeadlessProcess&)> check;
    };
    const auto failAll = [](HeadlessProcess& t) {
        for (const char* endpoint : { "balance", "usage" })
            t.server.injectFault({ { "endpoint", endpoint }, { "status", 500 }, { "count", -1 },
                { "body", "<html>Billing & \x1b]0;owned\x07limits</html>" } });
    };
    const Scenario scenarios[] = {
        { "signed out: the terminal's hint, exit 1", [](HeadlessProcess&) {}, { "--once" }, 1,
            [](const Outcome& o, HeadlessProcess& t) {
                EXPECT_EQ(o.line()["text"], "?");
                EXPECT_EQ(o.line()["class"], json::array({ "signed-out" }));
                EXPECT_EQ(o.line()["alt"], "noCredential");
                EXPECT_TRUE(has(o.out, "Not signed in \u2014 run velmo-usage --sign-in (or velmo login)")) << o.out;
                EXPECT_TRUE(has(o.err, "run velmo-usage --sign-in")) << o.err;
                EXPECT_EQ(t.server.counters()["requests"]["balance"], 0);
            } },
        { "the CLI's session: the balance once, exit 0", &HeadlessProcess::signInWithCLI, { "--once" }, 0,
            [](const Outcome& o, HeadlessProcess& t) {
                EXPECT_EQ(o.line()["text"], "$42.75");
                EXPECT_EQ(o.line()["class"], json::array({ "ok" }));
                EXPECT_TRUE(has(o.line()["tooltip"], "Available $30.00 \u00B7 Account $42.75")) << o.out;
                EXPECT_EQ(t.server.counters()["requests"]["balance"], 1) << "exactly one refresh";
            } },
        { "an unreadable app session: says why, uses the CLI's",
            [](HeadlessProcess& t) {
                t.signInWithCLI();
                QDir().mkpath(t.appSessionPath()); // a folder where the file belongs
            },
            { "--once" }, 0,
            [](const Outcome& o, HeadlessProcess&) {
                EXPECT_EQ(o.line()["text"], "$42.75");
                EXPECT_TRUE(has(o.line()["tooltip"], "\nSession store unreadable: ")) << o.out;
            } },
        { "server failing with a hostile page: escaped, cleaned, exit 1",
            [&](HeadlessProcess& t) {
                t.signInWithCLI();
                failAll(t);
            },
            { "--once" }, 1,
            [](const Outcome& o, HeadlessProcess&) {
                EXPECT_EQ(o.line()["class"], json::array({ "error" }));
                EXPECT_EQ(o.line()["text"], "\u26A0\uFE0E");
                EXPECT_TRUE(has(o.line()["tooltip"], "500: &lt;html&gt;Billing &amp; ]0;ownedlimits&lt;/html&gt;"))
                    << o.out;
                EXPECT_TRUE(has(o.err, "500: <html>Billing & ]0;ownedlimits")) << o.err;
                EXPECT_FALSE(has(o.err, "\x1b"));
            } },
        { "--once --text: plain lines", &HeadlessProcess::signInWithCLI, { "--once", "--text" }, 0,
            [](const Outcome& o, HeadlessProcess&) {
                EXPECT_TRUE(o.out.starts_with("Velmo Usage\nAvailable $30.00")) << o.out;
                EXPECT_FALSE(has(o.out, "{"));
            } },
        { "--help", [](HeadlessProcess&) {}, { "--help" }, 0,
            [](const Outcome& o, HeadlessProcess&) { EXPECT_TRUE(o.out.starts_with("Usage: velmo-usage")) << o.out; } },
        { "--version", [](HeadlessProcess&) {}, { "--version" }, 0,
            [](const Outcome& o, HeadlessProcess&) { EXPECT_EQ(o.out, "velmo-usage " VELMO_VERSION "\n"); } },
        { "a typo is a usage error", [](HeadlessProcess&) {}, { "--onec" }, 2,
            [](const Outcome& o, HeadlessProcess&) {
                EXPECT_TRUE(o.err.starts_with("velmo-usage: unknown option '--onec'\n")) << o.err;
                EXPECT_TRUE(has(o.err, "Usage: velmo-usage"));
                EXPECT_TRUE(o.out.empty());
            } },
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.name);
        server.reset();
        QFile::remove(cliTokensPath());
        QDir(scratch.filePath("data/VelmoUsage")).removeRecursively();
        s.setUp(*this);
        const Outcome outcome = run(s.arguments);
        EXPECT_EQ(outcome.exitCode, s.exitCode) << outcome.err;
        if (s.arguments.size() == 1 && s.arguments[0] == "--once") {
            EXPECT_TRUE(outcome.out.ends_with("\n") && std::count(outcome.out.begin(), outcome.out.end(), '\n') == 1)
                << outcome.out;
        }
        s.check(outcome, *this);
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
    EXPECT_EQ(first["class"], json::array({ "loading" }));
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
        QElapsedTimer clock;
        clock.start();
        ASSERT_EQ(::kill(pid_t(process.processId()), c.signal), 0);
        // Far above the second it takes, far below the server's delay.
        const Outcome outcome = finish(process, 5'000);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << outcome.err;
        RecordProperty("exit_ms", int(clock.elapsed()));
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
    ASSERT_EQ(address.path(), "/oauth/authorize");
    const auto visited = velmo::test::waitForTask(visit(address), 60s);
    ASSERT_TRUE(visited.ok()) << visited.errorText();
    const Outcome signedIn = finish(signIn);
    EXPECT_EQ(signedIn.exitCode, 0) << signedIn.err;
    EXPECT_TRUE(signedIn.out.starts_with("Signed in (vat_") && has(signedIn.out, "\u2026")) << signedIn.out;
    EXPECT_EQ(run({ "--once" }).line()["class"], json::array({ "ok" })) << "no CLI session: the app's own";

    // Sign-out removes the app's session; the CLI's file stays as it was.
    signInWithCLI();
    const auto cliFile = [this] {
        QFile cli(cliTokensPath());
        return cli.open(QIODevice::ReadOnly) ? cli.readAll() : QByteArray();
    };
    const QByteArray cliBefore = cliFile();
    EXPECT_EQ(run({ "--sign-out" }).exitCode, 0);
    EXPECT_FALSE(QFileInfo::exists(appSessionPath()));
    EXPECT_EQ(cliFile(), cliBefore);
    EXPECT_FALSE(cliBefore.isEmpty());
}

} // namespace
