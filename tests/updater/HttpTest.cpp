#include "Http.h"

#include <QDir>
#include <gtest/gtest.h>

#include "HinfWriter.h"
#include "Raised.h"
#include "TestFolder.h"
#include "TestHttpServer.h"
#include "UpdateServer.h"

TEST(Http, SendsTheUpdatersHeadersAndBasicAuthOnEveryRequest) {
    struct Case {
        QString user, password;
        bool firewall;
        QString accept, agent, authorization;
    } cases[] = {
        // Empty credentials are still sent: Base64 of ":".
        {"", "", false, "text/html, */*", "Mozilla/3.0 (compatible; Indy Library)", "Basic Og=="},
        {"kunde", "gehéim", true, "*/*", "Mozilla/4.0 (compatible; MSIE 4.0; Windows NT)",
         "Basic a3VuZGU6Z2Vo6Wlt"},
    };
    for (const Case& c : cases) {
        TestHttpServer server(c.user, c.password);
        server.Serve("/u/iup.hinf", "body");
        HttpClient http;
        UpdateServer::PrepareRequest(http, c.user, c.password, c.firewall);
        EXPECT_EQ(http.Get(server.Url("/u/iup.hinf")), "body");
        EXPECT_EQ(http.Get(server.Url("/u/iup.hinf")), "body");
        ASSERT_EQ(server.Requests().size(), 2);
        for (const auto& r : server.Requests()) {
            EXPECT_EQ(r.headers.value("host"), server.Url("").mid(7));
            EXPECT_EQ(r.headers.value("accept"), c.accept);
            EXPECT_EQ(r.headers.value("authorization"), c.authorization);
            EXPECT_EQ(r.headers.value("user-agent"), c.agent);
            EXPECT_EQ(r.headers.value("accept-encoding"), "gzip, deflate, identity");
            EXPECT_EQ(r.headers.value("accept-language"), "de");
            EXPECT_FALSE(r.headers.contains("accept-charset"));
            EXPECT_FALSE(r.headers.contains("range"));
        }
        // The same connection carries both requests.
        EXPECT_EQ(server.Requests()[0].remotePort, server.Requests()[1].remotePort);
    }
}

// Web servers label ".z" files with a content coding they never applied; a coding that was
// applied is the archive's business too. Either way the bytes are kept as they came.
TEST(Http, StoresEveryBodyByteForByteWhateverItsLabel) {
    QByteArray file;
    for (int i = 0; i < 5000; ++i)
        file += QByteArray::number(i * 7919);
    const struct {
        const char* label;
        QByteArray body;
    } cases[] = {
        {"x-compress", ZlibStream(file)}, {"x-gzip", ZlibStream(file)}, {"gzip", GzipStream(file)},
        {"deflate", ZlibStream(file)},    {"", ZlibStream(file)},
    };
    TestHttpServer server;
    HttpClient http;
    UpdateServer::PrepareRequest(http, "", "", false);
    for (const auto& c : cases) {
        TestHttpServer::Headers labels;
        if (*c.label) labels.append({QByteArray("Content-Encoding"), QByteArray(c.label)});
        server.Serve("/a.z", c.body, labels);
        EXPECT_EQ(http.Get(server.Url("/a.z")), c.body) << c.label;
    }
}

TEST(Http, ErrorRepliesAndRedirectsRaiseAndStoreNothing) {
    TestHttpServer server("u", "p");
    server.Serve("/target", "moved here");
    server.Redirect("/old", server.Url("/target"));
    TestFolder dir;
    HttpClient http;
    UpdateServer::PrepareRequest(http, "u", "p", false);
    const auto moved = Raised<HttpError>([&] { http.Get(server.Url("/old")); });
    ASSERT_TRUE(moved) << "a redirect was followed";
    EXPECT_EQ(moved->StatusCode(), 302);
    EXPECT_THROW(http.GetToFile(server.Url("/missing"), dir.Path("a.z"), 100), HttpError);
    UpdateServer::PrepareRequest(http, "u", "wrong", false);
    const auto denied = Raised<HttpError>([&] { http.Get(server.Url("/target")); });
    ASSERT_TRUE(denied) << "wrong credentials accepted";
    EXPECT_EQ(denied->StatusCode(), 401);
    EXPECT_NE(QString(denied->what()).indexOf("401"), -1) << denied->what();
    EXPECT_EQ(server.Paths(), QStringList({"/old", "/missing", "/target"}));
    EXPECT_TRUE(dir.Files().isEmpty());

    // Nobody listens on a port the server gave up: a connection error, said with the URL.
    int port = 0;
    {
        TestHttpServer gone;
        port = gone.Port();
    }
    const QString url = QStringLiteral("http://www.localhost:%1/x").arg(port);
    const auto refused = Raised<HttpError>([&] { http.Get(url); });
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->StatusCode(), 0);
    EXPECT_TRUE(QString(refused->what()).startsWith(url)) << refused->what();

    // A body beyond the limit is refused rather than held or stored.
    UpdateServer::PrepareRequest(http, "u", "p", false);
    EXPECT_THROW(http.Get(server.Url("/target"), 4), HttpError);
    EXPECT_THROW(http.GetToFile(server.Url("/target"), dir.Path("t.z"), 4), HttpError);
    EXPECT_TRUE(QDir(dir.Path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

TEST(Http, ReportsConnectionStatusAndWorkInOrderBeforeReturning) {
    TestHttpServer server;
    const QByteArray body(300000, 'x');
    server.Serve("/a", body);
    HttpClient http;
    UpdateServer::PrepareRequest(http, "", "", false);
    QStringList events;
    QObject::connect(&http, &HttpClient::Status, [&](const QString& t) { events << t; });
    QObject::connect(&http, &HttpClient::Connected, [&] { events << "<on>"; });
    QObject::connect(&http, &HttpClient::Disconnected, [&] { events << "<off>"; });
    QList<qint64> work;
    QObject::connect(&http, &HttpClient::WorkBegin, [&](qint64 n) { work << -n; });
    QObject::connect(&http, &HttpClient::Work, [&](qint64 n) { work << n; });
    QObject::connect(&http, &HttpClient::WorkEnd, [&] { work << 0; });

    http.SetTrafficLog(true);
    http.Connect(server.Url("/a"));
    EXPECT_TRUE(http.IsConnected());
    EXPECT_EQ(events, QStringList({"Resolving hostname www.localhost.", "Connecting to 127.0.0.1.",
                                   "Connected.", "<on>"}));
    events.clear();
    // The request goes over the connection opened above.
    EXPECT_EQ(http.Get(server.Url("/a")), body);
    EXPECT_TRUE(events.isEmpty()) << events.join(" | ").toStdString();
    ASSERT_GE(work.size(), 3);
    EXPECT_EQ(work.first(), -qint64(body.size()));
    EXPECT_EQ(work[work.size() - 2], body.size());
    EXPECT_EQ(work.last(), 0);

    http.Disconnect();
    EXPECT_FALSE(http.IsConnected());
    EXPECT_EQ(events, QStringList({"Disconnecting.", "Disconnected.", "<off>"}));
    // With the traffic log off the texts are not reported, the lamp events are.
    events.clear();
    http.SetTrafficLog(false);
    http.Get(server.Url("/a"));
    EXPECT_EQ(events, QStringList({"<on>"}));
}

TEST(Http, AHandlerRunningDuringATransferCannotStartAnother) {
    TestHttpServer server;
    server.Serve("/a", "a");
    HttpClient http;
    UpdateServer::PrepareRequest(http, "", "", false);
    QStringList refused;
    QObject::connect(&http, &HttpClient::WorkBegin, [&] {
        if (const auto e = Raised<HttpError>([&] { http.Get(server.Url("/a")); }))
            refused << e->what();
        EXPECT_THROW(http.Disconnect(), HttpError);
    });
    EXPECT_EQ(http.Get(server.Url("/a")), "a");
    EXPECT_EQ(refused.size(), 1);
    EXPECT_EQ(server.Paths(), QStringList({"/a"}));
}

// The window may go while a download runs: the download ends, and no event reaches the client.
TEST(Http, DestroyingTheClientDuringATransferEndsIt) {
    TestHttpServer server;
    server.Stall("/slow", "part");
    auto* http = new HttpClient;
    UpdateServer::PrepareRequest(*http, "", "", false);
    int events = 0;
    QObject::connect(http, &HttpClient::Work, [&] { ++events; });
    QObject::connect(http, &HttpClient::WorkEnd, [&] { ++events; });
    http->SetKeepResponsive([&] {
        if (events == 0) return;
        delete http;
        events = -100; // anything counted after this would show
    });
    const auto e = Raised<HttpError>([&] { http->Get(server.Url("/slow")); });
    ASSERT_TRUE(e);
    EXPECT_EQ(events, -100) << e->what();
}

// The window's own handlers run while the client waits; one that fails must not end the
// program. Its error reaches the caller, the transfer ends without a file, and the client serves
// the next request.
TEST(Http, AFailingHandlerDuringATransferEndsItAndReachesTheCaller) {
    TestHttpServer server;
    server.Stall("/slow", "part");
    server.Serve("/a", "a");
    TestFolder dir;
    HttpClient http;
    UpdateServer::PrepareRequest(http, "", "", false);
    bool receiving = false;
    int begun = 0, ended = 0;
    QObject::connect(&http, &HttpClient::Work, [&] { receiving = true; });
    QObject::connect(&http, &HttpClient::WorkBegin, [&] { ++begun; });
    QObject::connect(&http, &HttpClient::WorkEnd, [&] { ++ended; });
    http.SetKeepResponsive([&] {
        if (receiving) throw std::runtime_error("handler failed");
    });
    const auto e = Raised<std::runtime_error>(
        [&] { http.GetToFile(server.Url("/slow"), dir.Path("a.z"), 100); });
    ASSERT_TRUE(e);
    EXPECT_STREQ(e->what(), "handler failed");
    EXPECT_TRUE(QDir(dir.Path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));

    http.SetKeepResponsive({});
    EXPECT_EQ(http.Get(server.Url("/a")), "a");
    // The ended transfer's last report does not arrive with the next one.
    EXPECT_EQ(begun, 2);
    EXPECT_EQ(ended, 1);
}
