// The stand-in's admin API and command line over real sockets: what the
// client-side tests rely on without checking it themselves.
#include "DevServerProcess.h"
#include "TestSupport.h"

#include <QFile>

#include <httplib.h>

#include <gtest/gtest.h>

using velmo::test::DevServerProcess;
using Json = nlohmann::json;

namespace {

int status(const httplib::Result& result) { return result ? result->status : -1; }

} // namespace

TEST(DevServerAdminTest, FaultsCountersResetAndCommandLineDoWhatTheTestsRelyOn)
{
    DevServerProcess server({ "--quiet", "--fault", "balance:429:1:9" });
    httplib::Client client("127.0.0.1", server.port());
    client.set_read_timeout(std::chrono::seconds(2));
    const auto session = server.issueSession();
    const httplib::Headers bearer { { "Authorization", "Bearer " + session.accessToken } };
    const auto balance = [&] { return client.Get("/v1/credits/balance", bearer); };
    const auto refresh = [&](const std::string& token) {
        return client.Post("/oauth/token", "client_id=velmo-cli&grant_type=refresh_token&refresh_token=" + token,
            "application/x-www-form-urlencoded");
    };
    // A fault from the command line, then the queued ones in order.
    auto first = balance();
    EXPECT_EQ(status(first), 429);
    EXPECT_EQ(first->get_header_value("Retry-After"), "9");
    server.injectStatus("balance", 503, 2, 7);
    server.injectFault({ { "endpoint", "balance" }, { "kind", "drop" } });
    for (int expected : { 503, 503, -1, 200 })
        EXPECT_EQ(status(balance()), expected);
    EXPECT_EQ(server.counters()["faults_served"]["balance"], 4);

    // A refresh token presented twice is refused and counted as reused.
    const auto rotated = refresh(session.refreshToken);
    ASSERT_EQ(status(rotated), 200);
    EXPECT_EQ(status(refresh(session.refreshToken)), 400);
    EXPECT_EQ(server.counters()["refresh_grants"], (Json { { "accepted", 1 }, { "rejected", 1 }, { "reused", 1 } }));
    EXPECT_EQ(server.counters().dump().find(session.accessToken), std::string::npos) << "never a token";

    // Revocation and status faults are relied on, and so checked, by the client's devserver tests.
    // A reset forgets sessions, faults and counters, and releases held requests.
    server.injectFault({ { "endpoint", "token" }, { "kind", "hang" }, { "hold_ms", 600'000 } });
    EXPECT_EQ(status(refresh("x")), -1);
    server.reset();
    EXPECT_EQ(server.counters()["requests"]["token"], 0);
    EXPECT_EQ(status(refresh("x")), 400);
    EXPECT_EQ(status(balance()), 401);

    // The command line: a private token file, a clean exit, bad arguments refused.
    velmo::test::ScratchDir dir;
    const QString path = dir.filePath("tokens.json");
    DevServerProcess tokenWriter({ "--quiet", "--write-cli-tokens", path });
    const QByteArray text = velmo::test::readAll(path);
    EXPECT_TRUE(text.endsWith('\n'));
    EXPECT_EQ(velmo::test::fileMode(path) & 077, 0u);
    EXPECT_EQ(Json::parse(text.toStdString())["clientId"], "velmo-cli");
    // Exit code 0 also means the sanitizers found nothing at exit.
    EXPECT_EQ(tokenWriter.stop(), 0);
    for (const QStringList& bad : { QStringList { "--fault", "nowhere:503" }, QStringList { "--no-such-flag" } })
        EXPECT_THROW(DevServerProcess { bad }, std::runtime_error);
}
