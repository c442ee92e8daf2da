#include "TestHttpServer.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

struct TestHttpServer::Impl {
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::string authorization;
    mutable std::mutex lock;
    std::map<std::string, std::pair<std::string, Headers>> bodies;
    std::map<std::string, std::string> redirects;
    std::map<std::string, std::string> stalls;
    struct Slow {
        std::string head, trickled;
        int pauseMs = 0;
        long long length = -1; // announced; -1: chunked
    };
    std::map<std::string, Slow> slow;
    std::atomic<bool> stopping{false};
    int failures = 0;
    QList<Request> requests;

    void handle(const httplib::Request& req, httplib::Response& res) {
        std::lock_guard g(lock);
        Request r;
        r.path = QString::fromStdString(req.path);
        r.remotePort = req.remote_port;
        for (const auto& [name, value] : req.headers)
            r.headers.insert(QString::fromStdString(name).toLower(), QString::fromStdString(value));
        requests.append(r);
        if (req.get_header_value("Authorization") != authorization) {
            res.status = 401;
            res.set_header("WWW-Authenticate", "Basic realm=\"update\"");
            return;
        }
        if (failures > 0) {
            --failures;
            res.status = 500;
            res.set_content("failed", "text/plain");
            return;
        }
        if (auto it = redirects.find(req.path); it != redirects.end()) {
            res.set_redirect(it->second);
            return;
        }
        if (auto it = stalls.find(req.path); it != stalls.end()) {
            res.set_chunked_content_provider(
                "application/octet-stream",
                [this, head = it->second](size_t offset, httplib::DataSink& sink) {
                    if (offset == 0) return sink.write(head.data(), head.size());
                    while (!stopping)
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    return false;
                });
            return;
        }
        if (auto it = slow.find(req.path); it != slow.end()) {
            const Slow reply = it->second;
            const auto provide = [this, reply](size_t offset, httplib::DataSink& sink) {
                if (offset == 0 && !reply.head.empty())
                    return sink.write(reply.head.data(), reply.head.size());
                const size_t next = offset - reply.head.size();
                if (next < reply.trickled.size()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(reply.pauseMs));
                    return sink.write(reply.trickled.data() + next, 1);
                }
                while (!stopping && sink.is_writable())
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                return false;
            };
            if (reply.length >= 0)
                res.set_content_provider(size_t(reply.length), "application/octet-stream",
                                         [provide](size_t offset, size_t, httplib::DataSink& sink) {
                                             return provide(offset, sink);
                                         });
            else
                res.set_chunked_content_provider("application/octet-stream", provide);
            return;
        }
        auto it = bodies.find(req.path);
        if (it == bodies.end()) {
            res.status = 404;
            return;
        }
        for (const auto& [name, value] : it->second.second)
            res.set_header(name.toStdString(), value.toStdString());
        res.set_content(it->second.first, "application/octet-stream");
    }
};

TestHttpServer::TestHttpServer(const QString& user, const QString& password)
    : d(std::make_unique<Impl>()) {
    d->authorization = "Basic " + (user + u':' + password).toLatin1().toBase64().toStdString();
    d->server.Get(
        ".*", [this](const httplib::Request& req, httplib::Response& res) { d->handle(req, res); });
    d->port = d->server.bind_to_any_port("127.0.0.1");
    d->thread = std::thread([this] { d->server.listen_after_bind(); });
    while (!d->server.is_running())
        std::this_thread::yield();
}

TestHttpServer::~TestHttpServer() {
    d->stopping = true;
    d->server.stop();
    d->thread.join();
}

int TestHttpServer::Port() const {
    return d->port;
}

QString TestHttpServer::Host() const {
    return QStringLiteral("localhost:%1").arg(d->port);
}

QString TestHttpServer::Url(const QString& path) const {
    return QStringLiteral("http://www.localhost:%1%2").arg(d->port).arg(path);
}

void TestHttpServer::Serve(const QString& path, const QByteArray& body, const Headers& headers) {
    std::lock_guard g(d->lock);
    d->stalls.erase(path.toStdString());
    d->bodies[path.toStdString()] = {body.toStdString(), headers};
}

void TestHttpServer::Redirect(const QString& path, const QString& location) {
    std::lock_guard g(d->lock);
    d->redirects[path.toStdString()] = location.toStdString();
}

void TestHttpServer::Stall(const QString& path, const QByteArray& head) {
    std::lock_guard g(d->lock);
    d->stalls[path.toStdString()] = head.toStdString();
}

void TestHttpServer::Trickle(const QString& path, const QByteArray& body, int pauseMs) {
    std::lock_guard g(d->lock);
    d->slow[path.toStdString()] = {{}, body.toStdString(), pauseMs, -1};
}

void TestHttpServer::Declare(const QString& path, qint64 length, const QByteArray& head) {
    std::lock_guard g(d->lock);
    d->slow[path.toStdString()] = {head.toStdString(), {}, 0, length};
}

void TestHttpServer::FailNext(int n) {
    std::lock_guard g(d->lock);
    d->failures = n;
}

QList<TestHttpServer::Request> TestHttpServer::Requests() const {
    std::lock_guard g(d->lock);
    return d->requests;
}

QStringList TestHttpServer::Paths() const {
    QStringList paths;
    for (const Request& r : Requests())
        paths.append(r.path);
    return paths;
}
