#include "Generations.h"

int IsoDayOfWeek(const QDate& date) { return date.dayOfWeek(); }
