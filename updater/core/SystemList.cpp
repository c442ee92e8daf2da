#include "SystemList.h"

const QStringList& SystemNames() {
    static const QStringList names = {
        QStringLiteral("Windows 95"),
        QStringLiteral("Windows 95 OSR2"),
        QStringLiteral("Windows 98"),
        QStringLiteral("Windows 98 SE"),
        QStringLiteral("Windows ME"),
        QStringLiteral("Windows NT 3.51"),
        QStringLiteral("Windows NT 4.0"),
        QStringLiteral("Windows 2000"),
        QStringLiteral("Windows XP"),
        QStringLiteral("Windows Server 2003 R2"),
        QStringLiteral("Windows XP x64"),
        QStringLiteral("Windows Home Server"),
        QStringLiteral("Windows Server 2003"),
        QStringLiteral("Windows Vista"),
        QStringLiteral("Windows Server 2008"),
        QStringLiteral("Windows 7"),
        QStringLiteral("Windows Server 2008 R2"),
    };
    return names;
}

int DetectSystemIndex(const std::optional<OsVersionRecord>& record) {
    if (!record) return -1;
    const OsVersionRecord& r = *record;
    const quint32 major = r.majorVersion;
    const quint32 minor = r.minorVersion;
    constexpr quint32 Workstation = 1;
    if (r.platformId == 1) {
        if (major == 4 && minor == 0) return r.csdVersion.startsWith(u'C') ? 1 : 0;
        if (major == 4 && minor == 10) return r.csdVersion.startsWith(u'A') ? 3 : 2;
        if (major == 4 && minor == 90) return 4;
        return -1;
    }
    if (r.platformId != 2) return -1;
    if (major >= 1 && major <= 3) return 5;
    if (major == 4) return 6;
    if (major == 5 && minor == 0) return 7;
    if (major == 5 && minor == 1) return 8;
    if (major == 5 && minor == 2) {
        if (r.serverR2 != 0) return 9;
        if (r.productType == Workstation) return 10;
        if (r.suiteMask == 0x8000) return 11;
        return 12;
    }
    if (major == 6 && minor == 0) return r.productType == Workstation ? 13 : 14;
    if (major == 6 && minor == 1) return r.productType == Workstation ? 15 : 16;
    return -1;
}
