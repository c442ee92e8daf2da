#include "InstanceGuard.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

InstanceGuard::InstanceGuard(const QString& settingsFile, QObject* parent)
    : QObject(parent), serverName_(ServerName(settingsFile)),
      lock_(QFileInfo(settingsFile).absoluteFilePath() + QStringLiteral(".lock")) {
    // A running instance holds its lock for days; only a dead owner makes it stale.
    lock_.setStaleLockTime(0);
}

InstanceGuard::~InstanceGuard() = default;

QString InstanceGuard::ServerName(const QString& settingsFile) {
    const QFileInfo fi(settingsFile);
    QString path = fi.canonicalFilePath();
    if (path.isEmpty()) path = fi.absoluteFilePath();
    const QByteArray hash =
        QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    // The user's own runtime folder where there is one, so other users cannot take the name.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString folder =
        !runtime.isEmpty() && QFileInfo(runtime).isDir() ? runtime : QDir::tempPath();
    return folder + QStringLiteral("/zorvane2-") + QString::fromLatin1(hash);
}

InstanceGuard::Result InstanceGuard::Acquire() {
    if (lock_.tryLock(0)) {
        listen();
        return Result::First;
    }
    if (lock_.error() == QLockFile::LockFailedError) return Result::Other;
    // No lock can be made; an instance may still be there to answer.
    QLocalSocket probe;
    probe.connectToServer(serverName_);
    if (probe.waitForConnected(500)) return Result::Other;
    return Result::Unguarded;
}

bool InstanceGuard::AskOtherToShow(int timeoutMs) {
    // The other instance may have taken its lock a moment ago and not listen yet.
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        QLocalSocket socket;
        socket.connectToServer(serverName_);
        // The connection itself is the request; the other side closes it at once.
        if (socket.waitForConnected(int(qMax<qint64>(deadline.remainingTime(), 1)))) return true;
        if (deadline.hasExpired()) return false;
        QThread::msleep(100);
    }
}

void InstanceGuard::listen() {
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the lock, so a socket of that name is a leftover of a crash.
    QLocalServer::removeServer(serverName_);
    connect(server_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* s = server_->nextPendingConnection()) {
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            s->disconnectFromServer();
            showRequested();
        }
    });
    // Without the socket a later start only learns that this one runs.
    server_->listen(serverName_);
}

void InstanceGuard::showRequested() {
    if (handler_)
        handler_();
    else
        pending_ = true;
}

void InstanceGuard::SetShowHandler(std::function<void()> handler) {
    handler_ = std::move(handler);
    if (handler_ && pending_) {
        pending_ = false;
        handler_();
    }
}
