#include "Cp1252.h"

#include <algorithm>
#include <array>

namespace {

// Windows-1252 differs from Latin-1 only in 0x80-0x9F. The five unassigned codes map to the
// C1 control of the same number, as Windows itself decodes them.
constexpr std::array<char16_t, 32> High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

int encodeChar(char16_t u) {
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return u;
    const auto* hit = std::find(High.begin(), High.end(), u);
    return hit != High.end() ? int(0x80 + (hit - High.begin())) : -1;
}

} // namespace

namespace Cp1252 {

QString Decode(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out.append(b >= 0x80 && b < 0xA0 ? QChar(High[b - 0x80]) : QChar(b));
    }
    return out;
}

QByteArray Encode(const QString& text) {
    QByteArray out;
    out.reserve(text.size());
    for (QChar ch : text) {
        const int b = encodeChar(ch.unicode());
        out.append(b >= 0 ? static_cast<char>(b) : '?');
    }
    return out;
}

bool CanEncode(const QString& text) {
    return std::all_of(text.begin(), text.end(),
                       [](QChar ch) { return encodeChar(ch.unicode()) >= 0; });
}

} // namespace Cp1252
