#pragma once
// Generation names, ISO weeks and the scheduler's plain tests.
#include <QDate>

int IsoDayOfWeek(const QDate& date);
