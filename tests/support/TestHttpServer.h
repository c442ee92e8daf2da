#pragma once
// A real HTTP server on the loopback address for the updater's tests: serves given bodies,
// demands the Basic credentials it was given, records every request and can fail the first
// requests.
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>
#include <memory>

class TestHttpServer {
public:
    struct Request {
        QString path;
        QMap<QString, QString> headers; // names in lower case
        int remotePort = 0;
    };
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    TestHttpServer(const QString& user = {}, const QString& password = {});
    ~TestHttpServer();

    int Port() const;
    // The host as the configuration names it: "localhost:PORT".
    QString Host() const;
    QString Url(const QString& path) const; // http://www.localhost:PORT + path

    // Answers path with body from now on, in place of what it answered before.
    void Serve(const QString& path, const QByteArray& body, const Headers& headers = {});
    void Redirect(const QString& path, const QString& location);
    // Answers path with head, then keeps the reply open until the server goes.
    void Stall(const QString& path, const QByteArray& head);
    // Answers path with body one byte at a time, pausing pauseMs before each, then keeps the
    // reply open until the client or the server goes.
    void Trickle(const QString& path, const QByteArray& body, int pauseMs);
    // Answers path announcing a Content-Length of length, sends head and keeps the reply open
    // until the client or the server goes.
    void Declare(const QString& path, qint64 length, const QByteArray& head);
    // The next n requests are answered with 500.
    void FailNext(int n);

    QList<Request> Requests() const;
    QStringList Paths() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
