#include "FileNames.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr char16_t EscapeBase = 0xDC00;

// Length of the valid UTF-8 sequence at p, or 0 when none begins there.
int validSequence(const uchar* p, const uchar* end) {
    const unsigned c = *p;
    if (c < 0x80) return 1;
    int more;
    unsigned cp;
    if (c >= 0xC2 && c <= 0xDF) {
        more = 1;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        more = 2;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        more = 3;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (end - p <= more) return 0;
    for (int i = 1; i <= more; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (p[i] & 0x3F);
    }
    if ((more == 2 && cp < 0x800) || (more == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return more + 1;
}

// A lone low surrogate in the range that carries one raw byte.
bool isEscape(const QString& s, qsizetype i) {
    if (i >= s.size()) return false;
    const char16_t c = s[i].unicode();
    return c >= EscapeBase + 0x80 && c <= EscapeBase + 0xFF &&
           (i == 0 || !s[i - 1].isHighSurrogate());
}

bool isUpperHex(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
}

// Text that would read as the rest of a byte escape after a backslash: "x" and two digits.
bool looksLikeEscape(QStringView s) {
    return s.size() >= 3 && s[0] == u'x' && isUpperHex(s[1]) && isUpperHex(s[2]);
}

uchar escapedByte(QChar c) {
    return uchar(c.unicode() - EscapeBase);
}

} // namespace

bool IsValidUtf8(const QByteArray& bytes) {
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData());
    const auto* end = p + bytes.size();
    while (p < end) {
        const int n = validSequence(p, end);
        if (n == 0) return false;
        p += n;
    }
    return true;
}

QString DecodeFileName(const QByteArray& bytes) {
    if (IsValidUtf8(bytes)) return QString::fromUtf8(bytes);
    const auto* begin = reinterpret_cast<const uchar*>(bytes.constData());
    const auto* p = begin;
    const auto* end = p + bytes.size();
    QString out;
    out.reserve(bytes.size());
    while (p < end) {
        const uchar* run = p;
        for (int n; p < end && (n = validSequence(p, end)) > 0;)
            p += n;
        if (p > run) out += QString::fromUtf8(reinterpret_cast<const char*>(run), p - run);
        if (p < end) out += QChar(char16_t(EscapeBase + *p++));
    }
    return out;
}

bool HasRawBytes(const QString& name) {
    for (qsizetype i = 0; i < name.size(); ++i)
        if (isEscape(name, i)) return true;
    return false;
}

QByteArray EncodeFileName(const QString& name) {
    if (!HasRawBytes(name)) return name.toUtf8();
    QByteArray out;
    out.reserve(name.size());
    qsizetype run = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (!isEscape(name, i)) continue;
        out += QStringView(name).mid(run, i - run).toUtf8();
        out += char(escapedByte(name[i]));
        run = i + 1;
    }
    out += QStringView(name).mid(run).toUtf8();
    return out;
}

QString LogFileName(const QString& name) {
    const auto control = [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; };
    if (!HasRawBytes(name) && !name.contains(u'\\') &&
        std::none_of(name.begin(), name.end(), control))
        return name;
    static constexpr char Hex[] = "0123456789ABCDEF";
    QString out;
    out.reserve(name.size() + 16);
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (isEscape(name, i) || control(name[i])) {
            const uchar b = isEscape(name, i) ? escapedByte(name[i]) : uchar(name[i].unicode());
            out += QStringLiteral("\\x");
            out += QChar(Hex[b >> 4]);
            out += QChar(Hex[b & 0xF]);
        } else if (name[i] == u'\\') {
            const QStringView rest = QStringView(name).mid(i + 1);
            const bool reads = isEscape(name, i + 1) || rest.startsWith(u'\\') ||
                               looksLikeEscape(rest) || (!rest.isEmpty() && control(rest[0]));
            out += reads ? QStringLiteral("\\\\") : QStringLiteral("\\");
        } else {
            out += name[i];
        }
    }
    return out;
}

QString ShownFileName(const QString& name) {
    if (!HasRawBytes(name)) return name;
    QString out = name;
    for (qsizetype i = 0; i < out.size(); ++i)
        if (isEscape(name, i)) out[i] = QChar::ReplacementCharacter;
    return out;
}

QString CanonicalFilePath(const QString& path) {
    if (path.isEmpty()) return QString();
    char* resolved = ::realpath(EncodeFileName(path).constData(), nullptr);
    if (!resolved) return QString();
    const QString out = DecodeFileName(QByteArray(resolved));
    std::free(resolved);
    return out;
}
