#pragma once
// A service manager for the tests, in place of systemd's.
#include <QMap>
#include <QStringList>

#include "Service.h"

// Services that change state one poll after a request, and say what was asked of them.
class FakeServices : public ServiceManager {
public:
    bool available = true;
    QMap<QString, ServiceState> states;
    QStringList calls;
    int pollsToSettle = 1;

    bool Available() override { return available; }
    bool Exists(const QString& name) override { return states.contains(name); }
    ServiceState Query(const QString& name) override {
        calls << "query " + name;
        if (pending.contains(name) && --pending[name] == 0) states[name] = goal.take(name);
        return states.value(name);
    }
    void Start(const QString& name) override { request("start", name, ServiceState::Running); }
    void Stop(const QString& name) override { request("stop", name, ServiceState::Stopped); }

private:
    void request(const QString& verb, const QString& name, ServiceState to) {
        calls << verb + " " + name;
        pending[name] = pollsToSettle;
        goal[name] = to;
    }
    QMap<QString, int> pending;
    QMap<QString, ServiceState> goal;
};
