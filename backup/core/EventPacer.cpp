#include "EventPacer.h"

#include <QCoreApplication>

void EventPacer::Pace() {
    if (Due()) Now();
}

bool EventPacer::Due() const {
    return !last_.isValid() || last_.elapsed() >= 1000 / PassesPerSecond;
}

void EventPacer::Now() {
    QCoreApplication::processEvents();
    last_.start();
}
