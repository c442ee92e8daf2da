#include "Reboot.h"

#include <QProcess>
#include <QStringList>

namespace {
std::function<bool()> handler;
}

namespace Reboot {

bool Request() {
    if (handler) return handler();
    return QProcess::execute(QStringLiteral("systemctl"), {QStringLiteral("reboot")}) == 0;
}

void SetHandler(std::function<bool()> h) {
    handler = std::move(h);
}

} // namespace Reboot
