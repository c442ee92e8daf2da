#include "EventPacer.h"

#include <QCoreApplication>

void EventPacer::Pace() {
    if (last_.isValid() && last_.elapsed() < 1000 / PassesPerSecond) return;
    Now();
}

void EventPacer::Now() {
    QCoreApplication::processEvents();
    last_.start();
}
