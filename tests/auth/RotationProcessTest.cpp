// Several processes (runs of velmo-usage --once) renew one session at the
// same time against the real velmo-devserver, which rejects a refresh token
// presented twice (as a real provider does, revoking the whole grant). Only
// the lock beside the session keeps them from spending a refresh token twice,
// and the atomic replace keeps the file whole for every reader.
#include "DevServerProcess.h"
#include "TestSupport.h"

#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <thread>

using velmo::test::DevServerProcess;

namespace {

// What is wrong with a session file as any reader would find it, or "".
std::string fileFault(const QString& path)
{
    const std::string text = velmo::test::readAll(path.toStdString()).toStdString();
    const auto json = nlohmann::json::parse(text, nullptr, false);
    const mode_t mode = velmo::test::fileMode(path.toStdString());
    return mode == 0600 && text.ends_with('\n') && json.is_object() && json.contains("accessToken") ? "" : std::to_string(mode) + " " + text;
}

} // namespace

TEST(RotationProcessTest, ProcessesRenewingOneSessionNeverSpendARefreshTokenTwice)
{
    const std::pair<const char*, bool> cases[] = { { "the app's own session in its file", false }, { "the velmo tool's session", true } };
    constexpr int rounds = 3;
    // Sessions live 30 s, inside the 60 s margin: every run renews it, or
    // takes the one renewed meanwhile.
    DevServerProcess server({ "--quiet", "--expires-in", "30" });
    for (const auto& [session, cli] : cases) {
        SCOPED_TRACE(session);
        server.reset();
        velmo::test::ScratchDir scratch;
        const QString path = cli ? scratch.filePath("home/.velmo/tokens.json") : scratch.filePath("data/VelmoUsage/session.json");
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()) && QDir().mkpath(scratch.filePath("config")));
        velmo::test::writeFile(path.toStdString(), QByteArray::fromStdString(server.issueSession().cliTokens.dump() + "\n"));

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // No session bus: the app keeps its session in the file.
        for (const auto& [name, value] : std::initializer_list<std::pair<const char*, QString>> { { "HOME", scratch.filePath("home") },
                 { "XDG_CONFIG_HOME", scratch.filePath("config") }, { "XDG_DATA_HOME", scratch.filePath("data") },
                 { "DBUS_SESSION_BUS_ADDRESS", "unix:path=" + scratch.filePath("no-bus") },
                 { "VELMO_API_URL", server.baseURL().toString() }, { "VELMO_AUTH_URL", server.baseURL().toString() } })
            environment.insert(name, value);
        // Readers that take no lock (every process resolving its credential)
        // must never find the file torn.
        std::string torn;
        std::jthread sampler([&](std::stop_token stop) {
            for (; !stop.stop_requested() && torn.empty(); std::this_thread::sleep_for(std::chrono::milliseconds(1)))
                torn = fileFault(path);
        });

        for (int round = 0; round < rounds; ++round) {
            std::vector<std::unique_ptr<QProcess>> runs;
            for (int i = 0; i < 10; ++i) {
                runs.push_back(std::make_unique<QProcess>());
                runs.back()->setProcessEnvironment(environment);
                runs.back()->start(QStringLiteral(VELMO_USAGE_BINARY), { "--once" });
            }
            for (const auto& run : runs) {
                ASSERT_TRUE(run->waitForFinished(120'000));
                EXPECT_EQ(run->exitStatus(), QProcess::NormalExit) << run->readAllStandardError().toStdString();
            }
        }
        sampler.request_stop();
        sampler.join();
        EXPECT_EQ(torn, "");

        const nlohmann::json grants = server.counters().at("refresh_grants");
        EXPECT_EQ(grants.at("reused"), 0) << grants.dump();
        EXPECT_EQ(grants.at("rejected"), 0) << grants.dump();
        EXPECT_GE(grants.at("accepted").get<int>(), rounds) << grants.dump();
        EXPECT_EQ(fileFault(path), "");
        EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList({ "*.tmp", "*.lock" }, QDir::AllEntries | QDir::Hidden), QStringList {});
    }
}
