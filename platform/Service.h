#pragma once
// The service control manager's stand-in: query, stop and start a named service. On this
// platform the services are systemd units, driven through systemctl; tests install a fake.
#include <QString>
#include <stdexcept>

enum class ServiceState { Stopped, StartPending, StopPending, Running, Other };

class ServiceManager {
public:
    virtual ~ServiceManager() = default;
    // Whether the manager can be reached at all.
    virtual bool Available() = 0;
    virtual bool Exists(const QString& name) = 0;
    // The calls below raise std::runtime_error with the manager's own text when they fail.
    virtual ServiceState Query(const QString& name) = 0;
    // Both requests return at once; the state changes afterwards, as on Windows.
    virtual void Start(const QString& name) = 0;
    virtual void Stop(const QString& name) = 0;
};

namespace Services {
// The manager in use: systemd's, or the one a test installed.
ServiceManager& Manager();
// Installs a manager (not owned) in place of systemd's; nullptr goes back to systemd.
void SetManager(ServiceManager* manager);
} // namespace Services
