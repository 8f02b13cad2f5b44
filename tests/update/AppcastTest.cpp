#include "Appcast.h"
#include "TestSupport.h"
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
               <sparkle:minimumSystemVersion>99.0</sparkle:minimumSystemVersion>
               <enclosure url="https://u.example/a" length="x"/></item>
             <item><enclosure sparkle:os="windows" url="https://u.example/win" sparkle:version="8"/>
                   <enclosure sparkle:os="linux" url="https://u.example/linux" sparkle:version="8"/></item>
             <item><sparkle:version>7</sparkle:version></item>
             <item><enclosure url="https://u.example/none"/></item>
             <item><sparkle:channel>beta</sparkle:channel><enclosure url="https://u.example/b" sparkle:version="99"/></item>)"
        + item("36", {}, "<sparkle:version>1</sparkle:version>")));
    ASSERT_EQ(items.size(), 4);
    EXPECT_EQ(items[0],
        (AppcastItem { .version = "34",
            .displayVersion = "1.2",
            .title = "Version 34",
            .releaseNotes = "<b>Faster</b>\n               refresh", // plain text, as written
            .releaseNotesLink = QUrl("https://velmo.example/notes"),
            .enclosureURL = QUrl("https://updates.example/34"),
            .enclosureLength = 1200,
            .edSignature = "c2ln" }));
    // Elements when the enclosure has no version; the attribute beats the element.
    const QStringList versions { items[1].version, items[1].displayVersion, items[3].version,
        items[3].displayVersion };
    EXPECT_EQ(versions, (QStringList { "35", "1.3", "36", "36" }));
    EXPECT_EQ(items[2].enclosureURL, QUrl("https://u.example/linux"));
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
            EXPECT_TRUE(e.message().startsWith("The update feed is not valid: ")
                && e.message().contains(reason, Qt::CaseInsensitive))
                << e.what();
        }
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(server.requests("/entity"), 0);
}

TEST(Appcast, FeedsAndDownloadsTravelOverHttpsOrLoopbackOnly)
{
    for (const char* url :
        { "https://updates.example/a", "http://127.0.0.1:1/a", "http://[::1]:1/a", "http://localhost/a" })
        EXPECT_TRUE(UpdateTransfer::isAllowed(QUrl(url))) << url;
    for (const char* url :
        { "http://updates.example/a", "ftp://127.0.0.1/a", "file:///etc/passwd", "https:///a" })
        EXPECT_FALSE(UpdateTransfer::isAllowed(QUrl(url))) << url;
}

} // namespace
