#include "UpdateServer.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include "Clock.h"
#include "Http.h"
#include "TestFolder.h"
#include "TestHttpServer.h"

namespace {

struct PinnedClock {
    PinnedClock() { Clock::SetFixed(QDateTime(QDate(2024, 3, 1), QTime(12, 0))); }
    ~PinnedClock() { Clock::UseSystem(); }
};

} // namespace

TEST(UpdateServer, LocationRules) {
    struct Case {
        QString host, dir, url, hostAfter, dirAfter;
    } cases[] = {
        {"kelvo.de", "upd", "http://www.kelvo.de/upd/iup.hinf", "http://www.kelvo.de", "upd/"},
        {"kelvo.de", "/upd/", "http://www.kelvo.de/upd/iup.hinf", "http://www.kelvo.de", "/upd/"},
        {"kelvo.de/", "upd", "http://www.kelvo.de/upd/iup.hinf", "http://www.kelvo.de/", "upd/"},
        {"http://www.kelvo.de", "a/b", "http://www.kelvo.de/a/b/iup.hinf", "http://www.kelvo.de",
         "a/b/"},
        {"www.kelvo.de", "upd/", "http://www.www.kelvo.de/upd/iup.hinf", "http://www.www.kelvo.de",
         "upd/"},
        {"localhost:8080", "u", "http://www.localhost:8080/u/iup.hinf", "http://www.localhost:8080",
         "u/"},
    };
    for (const Case& c : cases) {
        QString host = c.host, dir = c.dir;
        EXPECT_EQ(UpdateServer::PrepareLocation(host, dir), c.url) << c.host.toStdString();
        EXPECT_EQ(host, c.hostAfter);
        EXPECT_EQ(dir, c.dirAfter);
        // A second set-up changes nothing.
        EXPECT_EQ(UpdateServer::PrepareLocation(host, dir), c.url);
        EXPECT_EQ(host, c.hostAfter);
    }
    // Archives always get a "/" after the host.
    EXPECT_EQ(UpdateServer::ArchiveUrl("http://www.k.de", "/upd/", "a.z"),
              "http://www.k.de//upd/a.z");
    // An archive's name stays one file name in the URL.
    EXPECT_EQ(UpdateServer::ArchiveUrl("http://www.k.de", "upd/", "a#1 %41.z"),
              "http://www.k.de/upd/a%231%20%2541.z");
    QString host = "k.de", dir;
    EXPECT_THROW(UpdateServer::PrepareLocation(host, dir), std::runtime_error);
}

TEST(UpdateServer, FetchInfoTriesFourTimes) {
    PinnedClock clock;
    for (int failures : {3, 4}) {
        TestHttpServer server;
        server.Serve("/u/iup.hinf", "info");
        server.FailNext(failures);
        HttpClient http;
        UpdateServer::PrepareRequest(http, "", "", false);
        QStringList log;
        // The configured "localhost:PORT" becomes www.localhost, which is the loopback.
        QString host = server.Host(), dir = "u";
        const QString url = UpdateServer::PrepareLocation(host, dir);
        const auto r = UpdateServer::FetchInfo(http, url, [&](const QString& l) { log << l; });
        QStringList expected;
        for (int n = 1; n <= std::min(failures + 1, 4); ++n)
            expected << QStringLiteral("Hole Info, Versuch %1").arg(n);
        expected << (failures < 4 ? "Infos abgeholt"
                                  : "Keine Infos erhalten: 500 Internal Server Error");
        EXPECT_EQ(log, expected);
        EXPECT_EQ(r.body.has_value(), failures < 4);
        if (r.body) {
            EXPECT_EQ(*r.body, "info");
        } else {
            EXPECT_TRUE(r.lastError.contains("500")) << r.lastError.toStdString();
        }
        EXPECT_TRUE(http.TrafficLog());
    }
}

TEST(UpdateServer, FetchArchiveRetriesOnceAndFetchesEachArchiveOnce) {
    TestHttpServer server;
    server.Serve("/u/a.z", "archive body");
    TestFolder dir;
    HttpClient http;
    UpdateServer::PrepareRequest(http, "", "", false);
    http.SetTrafficLog(true);
    QStringList status;
    QObject::connect(&http, &HttpClient::Status, [&](const QString& t) { status << t; });
    int beforeGet = 0;

    server.FailNext(1);
    EXPECT_TRUE(UpdateServer::FetchArchive(http, server.Url("/u/a.z"), dir.Path("a.z"),
                                           [&] { ++beforeGet; }));
    EXPECT_EQ(dir.Read("a.z"), "archive body");
    EXPECT_EQ(dir.Files(), QStringList({"a.z"}));
    EXPECT_EQ(beforeGet, 1);
    // The explicit connect is logged; the GETs run with the traffic log off.
    EXPECT_EQ(status.size(), 3);
    EXPECT_TRUE(http.TrafficLog());

    EXPECT_FALSE(UpdateServer::FetchArchive(http, server.Url("/u/a.z"), dir.Path("a.z")));
    EXPECT_EQ(server.Paths(), QStringList({"/u/a.z", "/u/a.z"}));

    // A name that is no plain piece of URL is asked for as it is written.
    server.Serve("/u/a", "another file");
    server.Serve("/u/a#b.z", "odd name");
    const QString host = "http://www." + server.Host();
    EXPECT_TRUE(UpdateServer::FetchArchive(http, UpdateServer::ArchiveUrl(host, "u/", "a#b.z"),
                                           dir.Path("a#b.z")));
    EXPECT_EQ(dir.Read("a#b.z"), "odd name");
    QFile::remove(dir.Path("a#b.z"));

    // Both attempts failing: the error is raised, nothing is stored.
    server.FailNext(2);
    EXPECT_THROW(UpdateServer::FetchArchive(http, server.Url("/u/a.z"), dir.Path("b.z")),
                 HttpError);
    EXPECT_EQ(dir.Files(), QStringList({"a.z"}));
    EXPECT_TRUE(http.TrafficLog());
}

// A reply that crawls, or announces more than an archive may hold, fails each attempt with its
// reason logged, and leaves nothing behind.
TEST(UpdateServer, SlowOrOversizedArchivesFailEachAttemptWithoutAByteStored) {
    TestHttpServer server;
    server.Trickle("/u/slow.z", QByteArray(400, 's'), 100);
    server.Declare("/u/huge.z", UpdateServer::MaxArchiveSize + 1, "x\x9c");
    const struct {
        const char* path;
        QString reason;
    } cases[] = {
        {"/u/slow.z", "Operation too slow"},
        {"/u/huge.z", QStringLiteral("kündigt %1 Bytes an").arg(UpdateServer::MaxArchiveSize + 1)},
    };
    TestFolder dir;
    HttpClient http;
    UpdateServer::PrepareRequest(http, "", "", false);
    http.SetLowSpeedSeconds(1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        QStringList log;
        EXPECT_THROW(UpdateServer::FetchArchive(http, server.Url(c.path), dir.Path("a.z"), {},
                                                [&](const QString& l) { log << l; }),
                     HttpError);
        ASSERT_EQ(log.size(), 2);
        for (const QString& line : log) {
            EXPECT_TRUE(line.startsWith("Übertragung fehlgeschlagen: " + server.Url(c.path)));
            EXPECT_TRUE(line.contains(c.reason)) << line.toStdString();
        }
        EXPECT_EQ(server.Paths().count(c.path), 2);
        EXPECT_TRUE(
            QDir(dir.Path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }
}
