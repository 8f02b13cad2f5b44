#include "UpdateSession.h"
#include "TestSupport.h"
#include "UpdateFixture.h"

#include <QDir>
#include <QSettings>
#include <gtest/gtest.h>

using namespace velmo::test;
using State = UpdateSession::State;
using Action = UpdateSession::Action;
using Button = UpdateSession::Button;

namespace {

const QByteArray payload = QByteArray("new AppImage ") + QByteArray(300'000, 'x');
const QString improperlySigned = "The update is improperly signed and could not be validated.";

// A running AppImage 1.0 (mode 0740) alone in a scratch folder, a feed
// offering 1.1 on a real socket, and a session over both.
class UpdateSessionTest : public ::testing::Test {
public:
    UpdateSessionTest()
    {
        QDir(dir.path()).mkdir("app");
        writeFile(appImage, "old AppImage", 0740);
        server.serve("/velmo.AppImage", payload);
        offer(payload.size(), testSignature(payload));
    }

    void offer(qint64 length, const QByteArray& signature)
    {
        const QString enclosure = QStringLiteral(R"(url="%1" length="%2" sparkle:edSignature="%3")")
                                      .arg(server.url("/velmo.AppImage"), QString::number(length), signature);
        server.serve("/appcast.xml",
            appcast(item("1.1", enclosure,
                "<link>https://velmo.example/download</link><description>Faster.</description>")));
    }
    // Starts a session of a 1.0 build and waits for the feed's answer.
    UpdateSession& open(const QString& appImagePath)
    {
        const UpdateConfiguration configuration { server.url("/appcast.xml"),
            QString::fromLatin1(testPublicKey()), true, "1.0", "1.0", appImagePath };
        session = std::make_unique<UpdateSession>(configuration, &settings,
            UpdateSession::Platform { [this](const QUrl& url) { opened.append(url); },
                [this](const QString& path) { relaunched = path; } });
        QObject::connect(
            session.get(), &UpdateSession::finished, [this](auto value, auto) { outcome = value; });
        session->start();
        EXPECT_TRUE(QTest::qWaitFor([this] { return session->state() != State::Checking; }, 10'000));
        return *session;
    }
    QByteArray installed() const { return readAll(appImage); }
    // Everything in the AppImage's folder, scratch files included.
    QStringList folder() const { return QDir(dir.filePath("app")).entryList(QDir::Files | QDir::Hidden); }

    ScratchDir dir;
    const QString appImage = dir.filePath("app/Velmo_Usage.AppImage");
    QSettings settings { dir.filePath("settings.ini"), QSettings::IniFormat };
    UpdateServer server;
    std::unique_ptr<UpdateSession> session;
    std::optional<UpdateSession::Outcome> outcome;
    QList<QUrl> opened;
    QString relaunched;
};

TEST_F(UpdateSessionTest, OffersTheUpdateThenReplacesTheAppImageKeepingItsMode)
{
    const auto mode = QFile(appImage).permissions();
    QFile stale(dir.filePath("app/.Velmo_Usage.AppImage.update-Ab12Cd")); // left by a killed install
    stale.open(QIODevice::WriteOnly);
    stale.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime);
    EXPECT_EQ(open(appImage).state(), State::UpdateAvailable);
    EXPECT_EQ(session->headline(), "A new version of Velmo Usage is available!");
    EXPECT_EQ(session->message(),
        "Velmo Usage 1.1 is now available—you have 1.0. Would you like to download it now?");
    EXPECT_EQ(session->releaseNotes(), "Faster.");
    EXPECT_EQ(session->buttons(),
        (QList<Button> { { Action::SkipVersion, "Skip This Version" },
            { Action::RemindLater, "Remind Me Later" }, { Action::Install, "Install Update", true } }));

    session->trigger(Action::Install);
    ASSERT_TRUE(QTest::qWaitFor([this] { return session->state() == State::Installed; }, 10'000))
        << session->message().toStdString();
    EXPECT_EQ(installed(), payload);
    EXPECT_EQ(QFile(appImage).permissions(), mode);
    EXPECT_EQ(folder(), QStringList { "Velmo_Usage.AppImage" });
    session->trigger(Action::Relaunch);
    EXPECT_EQ(relaunched, appImage);
}

// The failure's text begins with `message`.
struct Refusal { const char* name; std::function<void(UpdateSessionTest&)> arrange; QString message; };

class UpdateSessionRefusal : public UpdateSessionTest, public ::testing::WithParamInterface<Refusal> { };

// Whatever goes wrong, the old AppImage stays as it was and nothing is left behind.
TEST_P(UpdateSessionRefusal, KeepsTheOldFile)
{
    GetParam().arrange(*this);
    open(appImage).trigger(Action::Install);
    ASSERT_TRUE(QTest::qWaitFor([this] { return session->state() == State::Failed; }, 10'000));
    EXPECT_TRUE(session->message().startsWith(GetParam().message)) << session->message().toStdString();
    EXPECT_EQ(installed(), "old AppImage");
    EXPECT_EQ(folder(), QStringList { "Velmo_Usage.AppImage" });
    session->close();
    EXPECT_EQ(outcome, UpdateSession::Outcome::Failed);
}

using T = UpdateSessionTest;
const QByteArray cutOff = "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(payload.size()) + "\r\n\r\n" + payload.left(payload.size() / 2);
INSTANTIATE_TEST_SUITE_P(Downloads, UpdateSessionRefusal,
    ::testing::Values(Refusal { "Tampered", [](T& t) { t.server.serve("/velmo.AppImage", QByteArray(payload).replace('x', 'y')); }, improperlySigned },
        Refusal { "WrongLength", [](T& t) { t.offer(payload.size() + 1, testSignature(payload)); }, improperlySigned },
        Refusal { "MissingSignature", [](T& t) { t.offer(payload.size(), ""); }, improperlySigned },
        Refusal { "CutOffMidway", [](T& t) { t.server.serveRaw("/velmo.AppImage", cutOff); }, "" },
        Refusal { "RedirectedToAnotherHost", [](T& t) {
                     const QString elsewhere = t.server.url("/velmo.AppImage").replace("127.0.0.1", "localhost");
                     t.server.serveRaw("/velmo.AppImage", "HTTP/1.1 302 Found\r\nContent-Length: 0\r\nLocation: " + elsewhere.toUtf8() + "\r\n\r\n");
                 }, "Refusing the download's redirect to another host (http://localhost:" }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateSessionTest, OpensTheDownloadPageWithoutAnAppImageSkipsAndIsUpToDate)
{
    EXPECT_EQ(
        open(QString()).buttons().last(), (Button { Action::OpenDownloadPage, "Open Download Page", true }));
    session->trigger(Action::Install); // not offered: nothing happens
    session->trigger(Action::OpenDownloadPage);
    EXPECT_EQ(opened, QList<QUrl> { QUrl("https://velmo.example/download") });
    EXPECT_EQ(outcome, UpdateSession::Outcome::Finished);
    EXPECT_EQ(server.requests("/velmo.AppImage"), 0);

    open(appImage).trigger(Action::SkipVersion);
    EXPECT_EQ(settings.value(UpdateSession::skippedVersionKey).toString(), "1.1");
    // The user asked: a skipped version is offered all the same.
    EXPECT_EQ(open(appImage).state(), State::UpdateAvailable);

    server.serve("/appcast.xml", appcast(item("1.0") + item("0.9")));
    EXPECT_EQ(open(appImage).state(), State::UpToDate);
    EXPECT_EQ(session->headline(), "You’re up to date!");
    EXPECT_EQ(session->message(), "Velmo Usage 1.0 is currently the newest version available.");
    session->close();
    EXPECT_EQ(outcome, UpdateSession::Outcome::UpToDate);
}

} // namespace
