#include "Beep.h"

#include <QApplication>

namespace {
std::function<void(unsigned)> beepHandler;
}

namespace Beep {

// This platform has one system sound for every kind.
void MessageBeep(unsigned type) {
    if (beepHandler) {
        beepHandler(type);
        return;
    }
    QApplication::beep();
}

void SetBeepHandler(std::function<void(unsigned)> h) {
    beepHandler = std::move(h);
}

} // namespace Beep
