#include "Tray.h"

#include <QSystemTrayIcon>

namespace {
std::optional<bool> fixedAnswer;
} // namespace

namespace Tray {

bool Available() {
    return fixedAnswer.value_or(QSystemTrayIcon::isSystemTrayAvailable());
}

void SetAvailable(std::optional<bool> answer) {
    fixedAnswer = answer;
}

} // namespace Tray
