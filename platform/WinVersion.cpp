#include "WinVersion.h"

#include "Registry.h"

namespace {

// Decimal, or hexadecimal with a 0x prefix; anything else (or nothing) is 0.
quint32 number(const QString& key, const char* name) {
    const QString text = Registry::ReadString(RegRoot::LocalMachine, key, QString::fromLatin1(name))
                             .value_or(QString())
                             .trimmed();
    bool ok = false;
    quint32 v = 0;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        v = text.mid(2).toUInt(&ok, 16);
    else
        v = text.toUInt(&ok, 10);
    return ok ? v : 0;
}

} // namespace

namespace WinVersion {

std::optional<OsVersionRecord> GetOsVersionEx() {
    const QString key = QString::fromLatin1(Key);
    if (!Registry::KeyExists(RegRoot::LocalMachine, key)) return std::nullopt;
    OsVersionRecord r;
    r.platformId = number(key, "PlatformId");
    r.majorVersion = number(key, "MajorVersion");
    r.minorVersion = number(key, "MinorVersion");
    r.csdVersion = Registry::ReadString(RegRoot::LocalMachine, key, QStringLiteral("CSDVersion"))
                       .value_or(QString());
    r.productType = number(key, "ProductType");
    r.suiteMask = number(key, "SuiteMask");
    r.serverR2 = number(key, "ServerR2");
    return r;
}

} // namespace WinVersion
