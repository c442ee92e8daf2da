#include "Service.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {

class SystemdManager final : public ServiceManager {
public:
    bool Available() override {
        return QFileInfo::exists(QStringLiteral("/run/systemd/system")) &&
               !QStandardPaths::findExecutable(QStringLiteral("systemctl")).isEmpty();
    }

    bool Exists(const QString& name) override {
        QString out;
        if (!systemctl({QStringLiteral("show"), QStringLiteral("--property=LoadState"),
                        QStringLiteral("--value"), QStringLiteral("--"), name},
                       &out))
            return false;
        return out == QStringLiteral("loaded");
    }

    ServiceState Query(const QString& name) override {
        QString out;
        if (!systemctl({QStringLiteral("show"), QStringLiteral("--property=ActiveState"),
                        QStringLiteral("--value"), QStringLiteral("--"), name},
                       &out))
            throw std::runtime_error(out.toStdString());
        if (out == QStringLiteral("active") || out == QStringLiteral("reloading"))
            return ServiceState::Running;
        if (out == QStringLiteral("inactive") || out == QStringLiteral("failed"))
            return ServiceState::Stopped;
        if (out == QStringLiteral("activating")) return ServiceState::StartPending;
        if (out == QStringLiteral("deactivating")) return ServiceState::StopPending;
        return ServiceState::Other;
    }

    void Start(const QString& name) override { request(QStringLiteral("start"), name); }
    void Stop(const QString& name) override { request(QStringLiteral("stop"), name); }

private:
    // The name goes after "--", so a name that begins with "-" is never read as an option.
    void request(const QString& verb, const QString& name) {
        QString out;
        if (!systemctl({verb, QStringLiteral("--no-block"), QStringLiteral("--"), name}, &out))
            throw std::runtime_error(out.toStdString());
    }

    // Runs systemctl; *out gets its output (its error text when it failed), trimmed.
    static bool systemctl(const QStringList& args, QString* out) {
        QProcess p;
        p.start(QStringLiteral("systemctl"), args);
        if (!p.waitForFinished(30000)) {
            p.kill();
            p.waitForFinished();
            *out = QStringLiteral("systemctl antwortet nicht");
            return false;
        }
        const bool ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        *out = QString::fromLocal8Bit(ok ? p.readAllStandardOutput() : p.readAllStandardError())
                   .trimmed();
        if (!ok && out->isEmpty()) *out = QStringLiteral("systemctl ist fehlgeschlagen");
        return ok;
    }
};

SystemdManager systemd;
ServiceManager* installed = nullptr;

} // namespace

namespace Services {

ServiceManager& Manager() {
    return installed ? *installed : systemd;
}

void SetManager(ServiceManager* manager) {
    installed = manager;
}

} // namespace Services
