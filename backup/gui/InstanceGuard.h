#pragma once
// One program instance per settings file. The first start holds a lock file beside the
// settings file and listens on a local socket named after the file's path; a later start finds
// the lock, asks the first one to show its window and ends without touching any file. A lock
// left by a process that no longer runs is taken over.
#include <QLockFile>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QLocalServer;

class InstanceGuard : public QObject {
    Q_OBJECT
public:
    explicit InstanceGuard(const QString& settingsFile, QObject* parent = nullptr);
    ~InstanceGuard() override;

    enum class Result {
        First,     // this process holds the lock and listens
        Other,     // another running instance holds it
        Unguarded, // the lock cannot be made here (a folder without write access): no guard
    };
    Result Acquire();
    // Asks the instance that holds the lock to bring its window to the front; false when it
    // does not answer within the time.
    bool AskOtherToShow(int timeoutMs = 3000);
    // In the first instance: called for every later start. A request that arrives before the
    // handler is set is delivered when it is set.
    void SetShowHandler(std::function<void()> handler);

    QString LockFileName() const { return lock_.fileName(); }
    static QString ServerName(const QString& settingsFile);

private:
    void listen();
    void showRequested();

    QString serverName_;
    QLockFile lock_;
    std::unique_ptr<QLocalServer> server_;
    std::function<void()> handler_;
    bool pending_ = false;
};
