#include "Appcast.h"
#include "AsyncWait.h"
#include "QtPrinters.h"
#include "UpdateError.h"
#include "UpdateFixture.h"
#include "UpdateTransfer.h"

#include <gtest/gtest.h>

using namespace velmo::test;

namespace {

TEST(Appcast, ReadsTheItemsForThisSystem)
{
    const auto items = Appcast::parse(appcast(
        item("34", R"(sparkle:shortVersionString="1.2" length="1200" sparkle:edSignature=" c2ln ")",
            R"(<description><![CDATA[<b>Faster</b>
               refresh]]></description><link>javascript:alert(1)</link>
               <sparkle:releaseNotesLink>https://velmo.example/notes</sparkle:releaseNotesLink>)")
        + R"(<item><sparkle:version>35</sparkle:version><sparkle:shortVersionString>1.3</sparkle:shortVersionString>
               <sparkle:minimumSystemVersion>99.0</sparkle:minimumSystemVersion><link>https://velmo.example/35</link>
               <enclosure url="https://u.example/a" length="x"/></item>
             <item><enclosure sparkle:os="macos" url="https://u.example/mac" sparkle:version="9"/></item>
             <item><enclosure sparkle:os="windows" url="https://u.example/win" sparkle:version="8"/>
                   <enclosure sparkle:os="linux" url="https://u.example/linux" sparkle:version="8"/></item>
             <item><sparkle:version>7</sparkle:version></item>
             <item><enclosure url="https://u.example/none"/></item>)"
        + item("36", {}, "<sparkle:version>1</sparkle:version>")));
    ASSERT_EQ(items.size(), 4);
    EXPECT_EQ(items[0],
        (AppcastItem { .version = "34",
            .displayVersion = "1.2",
            .title = "Version 34",
            .releaseNotes = "<b>Faster</b>\n               refresh", // plain text, as written
            .releaseNotesLink = QUrl("https://velmo.example/notes"),
            .enclosureURL = QUrl("https://updates.example/velmo-34.AppImage"),
            .enclosureLength = 1200,
            .edSignature = "c2ln" }));
    EXPECT_EQ(items[1],
        (AppcastItem { .version = "35",
            .displayVersion = "1.3",
            .link = QUrl("https://velmo.example/35"),
            .enclosureURL = QUrl("https://u.example/a") }));
    EXPECT_EQ(items[2].enclosureURL, QUrl("https://u.example/linux"));
    // The enclosure's version attribute beats the element; it is also the display version.
    EXPECT_EQ(items[3].version, "36");
    EXPECT_EQ(items[3].displayVersion, "36");
}

// Hostile or broken feeds: refused with a clear reason, never expanded,
// never a fetch of anything they point to.
TEST(Appcast, RefusesHostileFeeds)
{
    UpdateServer server;
    const QString entity = server.url("/entity");
    const QString doctype = "document type declarations are not allowed";
    const std::pair<QByteArray, QString> cases[] = {
        { "<rss><channel><item></channel></rss>", "Opening and ending tag mismatch" },
        { "<html><body/></html>", "the document is not an RSS feed" },
        { "", "Premature end of document" },
        { "<rss>&undeclared;</rss>", "undeclared" },
        { R"(<?xml version="1.0"?><!DOCTYPE rss [<!ENTITY a "aaaaaaaaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;">
             <!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;"><!ENTITY d "&c;&c;&c;&c;&c;&c;&c;&c;">]>
             <rss><channel><title>&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;</title></channel></rss>)",
            doctype },
        { QStringLiteral(R"(<!DOCTYPE rss [<!ENTITY x SYSTEM "%1">]><rss>&x;</rss>)").arg(entity).toUtf8(), doctype },
        { QStringLiteral(R"(<!DOCTYPE rss [<!ENTITY % p SYSTEM "%1"> %p;]><rss/>)").arg(entity).toUtf8(), doctype },
    };
    for (const auto& [feed, reason] : cases) {
        try {
            Appcast::parse(feed);
            ADD_FAILURE() << "accepted: " << feed.constData();
        } catch (const UpdateError& e) {
            EXPECT_TRUE(e.message().startsWith("The update feed is not valid: ")) << e.what();
            EXPECT_TRUE(e.message().contains(reason, Qt::CaseInsensitive)) << e.what();
        }
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(server.requests("/entity"), 0);
}

TEST(Appcast, FeedsAreFetchedOverHttpsOrLoopbackOnlyAndCapped)
{
    for (const char* url : { "https://updates.example/a", "http://127.0.0.1:1/a", "http://[::1]:1/a", "http://localhost/a" })
        EXPECT_TRUE(UpdateTransfer::isAllowed(QUrl(url))) << url;
    for (const char* url : { "http://updates.example/a", "ftp://127.0.0.1/a", "file:///etc/passwd", "https:///a" })
        EXPECT_FALSE(UpdateTransfer::isAllowed(QUrl(url))) << url;

    // 50 MB announced; more than the cap actually sent.
    UpdateServer server;
    server.serveRaw("/huge", "HTTP/1.1 200 OK\r\nContent-Length: 52428800\r\n\r\n" + QByteArray(5 << 20, ' '));
    const auto huge = waitForTask(UpdateTransfer::fetchFeed(QUrl(server.url("/huge")), {}));
    EXPECT_EQ(huge.errorText(), "The update feed is larger than 4 MiB.");
    const auto plain = waitForTask(UpdateTransfer::fetchFeed(QUrl("http://updates.example/appcast.xml"), {}));
    EXPECT_EQ(plain.errorText(),
        "Refusing the insecure address http://updates.example/appcast.xml: updates travel over https only.");
}

} // namespace
