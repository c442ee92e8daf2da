#include "Clock.h"

#include <QThread>

#include <optional>

namespace {
std::optional<QDateTime> pinned;
}

namespace Clock {

QDateTime Now() {
    return pinned ? *pinned : QDateTime::currentDateTime();
}

QDate Today() {
    return Now().date();
}

QTime TimeOfDay() {
    return Now().time();
}

void SetFixed(const QDateTime& local) {
    pinned = local.toLocalTime();
}

// Adds real elapsed time, so moving across a clock change lands where the wall clock would.
void Advance(qint64 ms) {
    if (pinned) pinned = pinned->addMSecs(ms);
}

void UseSystem() {
    pinned.reset();
}

bool IsFixed() {
    return pinned.has_value();
}

void Sleep(qint64 ms) {
    if (ms <= 0) return;
    if (pinned)
        Advance(ms);
    else
        QThread::msleep(static_cast<unsigned long>(ms));
}

} // namespace Clock
