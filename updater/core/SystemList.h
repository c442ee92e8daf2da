#pragma once
// The Windows systems an update can be meant for, and which of them is running.
#include <QStringList>
#include <optional>

#include "WinVersion.h"

// The 17 entries of the system list; an index above LastWin9x is a Windows NT family system.
const QStringList& SystemNames();
inline constexpr int LastWin9x = 4;

// The index of the running system in SystemNames(), or -1 when the record names none of them
// or there is no record.
int DetectSystemIndex(const std::optional<OsVersionRecord>& record);
