#pragma once
// The Windows version record. This platform has no such record of its own, so an administrator
// sets it once in the registry stand-in's local-machine root, key
// "Software\Microsoft\Windows NT\CurrentVersion": text values PlatformId, MajorVersion,
// MinorVersion, CSDVersion, ProductType, SuiteMask and ServerR2, numbers in decimal or with a
// 0x prefix. A missing value counts as 0 (a record of the basic kind when the product type and
// suite mask are missing); a missing key means there is no record.
#include <QString>
#include <optional>

struct OsVersionRecord {
    quint32 platformId = 0; // 1: Windows 9x, 2: Windows NT
    quint32 majorVersion = 0;
    quint32 minorVersion = 0;
    QString csdVersion;      // service-pack text
    quint32 productType = 0; // 1: workstation
    quint32 suiteMask = 0;
    quint32 serverR2 = 0; // the SM_SERVERR2 system metric
};

namespace WinVersion {
inline constexpr const char* Key = "Software\\Microsoft\\Windows NT\\CurrentVersion";
std::optional<OsVersionRecord> GetOsVersionEx();
} // namespace WinVersion
