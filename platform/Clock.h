#pragma once
// The one source of "now" for the programs. Tests pin it to a moment and move it on,
// so the scheduler can be driven across midnight, a year's end or a clock change.
#include <QDate>
#include <QDateTime>
#include <QTime>

namespace Clock {
// Local wall-clock time: the system's, or the pinned one.
QDateTime Now();
QDate Today();
QTime TimeOfDay();

// Pins the clock (local time). It then stays there until moved or released.
void SetFixed(const QDateTime& local);
// Moves a pinned clock on; on the system clock it does nothing.
void Advance(qint64 ms);
void UseSystem();
bool IsFixed();

// Waits the given time: really on the system clock, by moving a pinned clock on otherwise, so
// tests of retry loops do not sleep.
void Sleep(qint64 ms);
} // namespace Clock
