#include "IniFile.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "Allocator.h"
#include "Cp1252.h"
#include "SafeFile.h"

namespace {

constexpr qsizetype MaxValueLength = 2047;

// The case-folded form of a name, hashed code point by code point without building it.
quint32 foldedHash(QStringView name) {
    quint64 h = 0xcbf29ce484222325ULL;
    const char16_t* p = name.utf16();
    const char16_t* const end = p + name.size();
    while (p < end) {
        char32_t c = *p++;
        if (c < 0x80) {
            if (c >= u'A' && c <= u'Z') c += 0x20;
        } else {
            if (QChar::isHighSurrogate(c) && p < end && QChar::isLowSurrogate(*p))
                c = QChar::surrogateToUcs4(char16_t(c), *p++);
            c = QChar::toCaseFolded(c);
        }
        h = (h ^ c) * 0x100000001b3ULL;
    }
    return quint32(h ^ (h >> 32));
}

bool sameName(QStringView a, QStringView b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString fold(const QString& name) {
    return name.toCaseFolded();
}

bool isAscii(QByteArrayView s) {
    for (char c : s)
        if (uchar(c) >= 0x80) return false;
    return true;
}

bool isAscii(QStringView s) {
    for (QChar c : s)
        if (c.unicode() >= 0x80) return false;
    return true;
}

// The text of valid UTF-8 bytes as the whole file's decoding gives it: a byte order mark at
// the start of a piece is a character there, which QString::fromUtf8 would drop.
QString decodeUtf8(QByteArrayView bytes) {
    if (!bytes.startsWith("\xEF\xBB\xBF")) return QString::fromUtf8(bytes);
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return utf8(bytes);
}

// The code point that starts at p in valid UTF-8, and how many bytes it takes.
char32_t codePointAt(const uchar* p, int* len) {
    if (p[0] < 0x80) return *len = 1, p[0];
    if (p[0] < 0xE0) return *len = 2, char32_t(p[0] & 0x1F) << 6 | (p[1] & 0x3F);
    if (p[0] < 0xF0)
        return *len = 3, char32_t(p[0] & 0x0F) << 12 | char32_t(p[1] & 0x3F) << 6 | (p[2] & 0x3F);
    return *len = 4, char32_t(p[0] & 0x07) << 18 | char32_t(p[1] & 0x3F) << 12 |
                         char32_t(p[2] & 0x3F) << 6 | (p[3] & 0x3F);
}

// QStringView::trimmed for valid UTF-8: the same white space (which is all in the BMP, so
// a code point is white space exactly when its UTF-16 unit is).
QByteArrayView trimmedUtf8(QByteArrayView t) {
    const auto* d = reinterpret_cast<const uchar*>(t.data());
    qsizetype b = 0, e = t.size();
    while (b < e) {
        int n = 0;
        if (!QChar::isSpace(codePointAt(d + b, &n))) break;
        b += n;
    }
    while (e > b) {
        qsizetype s = e - 1;
        while (s > b && (d[s] & 0xC0) == 0x80)
            --s;
        int n = 0;
        if (!QChar::isSpace(codePointAt(d + s, &n))) break;
        e = s;
    }
    return t.sliced(b, e - b);
}

// The folded hash of a name given as valid UTF-8, the same as of its UTF-16 text.
quint32 foldedHash(QByteArrayView name) {
    if (!isAscii(name)) return foldedHash(decodeUtf8(name));
    quint64 h = 0xcbf29ce484222325ULL;
    for (char ch : name) {
        char32_t c = uchar(ch);
        if (c >= u'A' && c <= u'Z') c += 0x20;
        h = (h ^ c) * 0x100000001b3ULL;
    }
    return quint32(h ^ (h >> 32));
}

// Part of a line's text: UTF-16 (decoded or rewritten) or the file's own UTF-8 bytes, so a
// file that is valid UTF-8 throughout needs no decoded copy.
struct Piece {
    Piece(QStringView text) : u16(text) {}
    explicit Piece(QByteArrayView bytes) : u8(bytes), utf8(true) {}

    QStringView u16;
    QByteArrayView u8;
    bool utf8 = false;

    Piece sliced(qsizetype pos, qsizetype n) const {
        return utf8 ? Piece(u8.sliced(pos, n)) : Piece(u16.sliced(pos, n));
    }
    Piece sliced(qsizetype pos) const {
        return utf8 ? Piece(u8.sliced(pos)) : Piece(u16.sliced(pos));
    }
    QString toString() const { return utf8 ? decodeUtf8(u8) : u16.toString(); }
};

// The text of a piece as UTF-16: the piece itself, or its decoding in buf (which keeps its
// room from call to call, so a pass over many lines allocates once).
QStringView utf16Of(const Piece& p, QString& buf) {
    if (!p.utf8) return p.u16;
    // UTF-8 takes at least as many bytes as UTF-16 takes units; the buffer only grows.
    if (buf.size() < p.u8.size()) buf.resize(qMax<qsizetype>(p.u8.size(), 256));
    QChar* out = buf.data();
    if (isAscii(p.u8)) {
        for (char c : p.u8)
            *out++ = QChar(uchar(c));
    } else {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                      QStringDecoder::Flag::ConvertInitialBom);
        out = utf8.appendToBuffer(out, p.u8);
    }
    return QStringView(buf.constData(), out - buf.constData());
}

bool sameName(const Piece& a, QStringView b) {
    if (!a.utf8) return sameName(a.u16, b);
    if (a.u8.size() == b.size() && isAscii(a.u8) && isAscii(b)) {
        for (qsizetype i = 0; i < b.size(); ++i) {
            char16_t x = char16_t(uchar(a.u8[i])), y = b[i].unicode();
            if (x >= u'A' && x <= u'Z') x += 0x20;
            if (y >= u'A' && y <= u'Z') y += 0x20;
            if (x != y) return false;
        }
        return true;
    }
    // Folding may map a character outside ASCII onto one inside (the Kelvin sign onto 'k').
    return isAscii(a.u8) && isAscii(b) ? false : sameName(QStringView(a.toString()), b);
}

bool sameName(const Piece& a, const Piece& b) {
    if (!b.utf8) return sameName(a, b.u16);
    if (!a.utf8) return sameName(b, a.u16);
    if (a.u8.size() == b.u8.size() && isAscii(a.u8) && isAscii(b.u8))
        return QLatin1StringView(a.u8).compare(QLatin1StringView(b.u8), Qt::CaseInsensitive) == 0;
    return isAscii(a.u8) && isAscii(b.u8) ? false : sameName(a, QStringView(b.toString()));
}

// A save-back compares a million values: ASCII ones in one pass, byte against unit.
bool sameText(const Piece& a, QStringView b) {
    if (!a.utf8) return a.u16 == b;
    const qsizetype n = qMin(a.u8.size(), b.size());
    const auto* p = reinterpret_cast<const uchar*>(a.u8.data());
    for (qsizetype i = 0; i < n; ++i) {
        if (p[i] >= 0x80) return a.toString() == b;
        if (p[i] != b[i].unicode()) return false;
    }
    // The rest of a longer piece is one character at least.
    return a.u8.size() == b.size();
}

// Whether a name in the file is the one wanted, decided on ASCII alone: 1 it is, 0 it is not,
// -1 when a character outside ASCII leaves it to sameName and the hash. Both ASCII, a name
// that matches also has the same folded hash.
int sameAsciiName(const Piece& a, QStringView b) {
    if (!a.utf8) return -1;
    if (a.u8.size() != b.size()) return isAscii(a.u8) && isAscii(b) ? 0 : -1;
    for (qsizetype i = 0; i < b.size(); ++i) {
        char16_t x = char16_t(uchar(a.u8[i])), y = b[i].unicode();
        if (x >= 0x80 || y >= 0x80) return -1;
        if (x >= u'A' && x <= u'Z') x += 0x20;
        if (y >= u'A' && y <= u'Z') y += 0x20;
        if (x != y) return 0; // simple folding maps one character to one
    }
    return 1;
}

// One line of the file with what it declares, worked out once when the file is read. The text
// stays in the file's text (or, once rewritten, in a string of its own); the line only marks
// where it lies, so reading a large file builds no string per line. Kept small: a large file
// has a million of them.
struct Line {
    enum Kind : unsigned char { Other, Section, Key };
    quint32 off = 0; // where it starts in the file's text (low bits), or its own text's index
    qint32 len = 0;
    qint32 nameOff = 0; // the section's or the key's name, trimmed, within the line
    qint32 nameLen = 0;
    qint32 eq = -1;
    quint32 hash = 0;   // of the folded key name
    quint8 offHigh = 0; // bits 32 to 39 of the start
    Kind kind : 2 = Other;
    bool blank : 1 = true;
    bool first : 1 = false; // the line its chunk's index gives for its name
    bool owned : 1 = false; // rewritten: its text is a string of its own

    qsizetype start() const { return qsizetype(offHigh) << 32 | off; }
    void setStart(qsizetype at) {
        off = quint32(at);
        offHigh = quint8(quint64(at) >> 32);
    }
};
static_assert(sizeof(Line) == 28);

// "[Name]" is a section (a header without its closing bracket still opens one); "key=value"
// a key, split at the first '=', with the value as written. Lines starting with ';' are
// comments.
Line parseLine(QStringView text, qsizetype off, qint32 own) {
    Line l;
    if (own >= 0) {
        l.off = quint32(own);
        l.owned = true;
    } else {
        l.setStart(off);
    }
    l.len = qint32(text.size());
    const QStringView t = text.trimmed();
    l.blank = t.isEmpty();
    const auto setName = [&](QStringView name) {
        l.nameOff = qint32(name.data() - text.data());
        l.nameLen = qint32(name.size());
    };
    if (t.startsWith(u'[')) {
        const qsizetype close = t.indexOf(u']');
        setName(t.mid(1, close < 0 ? -1 : close - 1).trimmed());
        l.kind = Line::Section;
        return l;
    }
    const qsizetype eq = text.indexOf(u'=');
    if (eq < 0) return l;
    const QStringView k = text.left(eq).trimmed();
    if (k.isEmpty() || k.startsWith(u';')) return l;
    setName(k);
    l.eq = qint32(eq);
    l.kind = Line::Key;
    l.hash = foldedHash(k);
    return l;
}

// The same for a line of valid UTF-8; its places count bytes. The marks are ASCII, which no
// byte of a longer sequence can be.
Line parseLine(QByteArrayView text, qsizetype off) {
    Line l;
    l.setStart(off);
    l.len = qint32(text.size());
    const QByteArrayView t = trimmedUtf8(text);
    l.blank = t.isEmpty();
    const auto setName = [&](QByteArrayView name) {
        l.nameOff = qint32(name.data() - text.data());
        l.nameLen = qint32(name.size());
    };
    if (t.startsWith('[')) {
        const qsizetype close = t.indexOf(']');
        setName(trimmedUtf8(close < 0 ? t.sliced(1) : t.sliced(1, close - 1)));
        l.kind = Line::Section;
        return l;
    }
    const qsizetype eq = text.indexOf('=');
    if (eq < 0) return l;
    const QByteArrayView k = trimmedUtf8(text.first(eq));
    if (k.isEmpty() || k.startsWith(';')) return l;
    setName(k);
    l.eq = qint32(eq);
    l.kind = Line::Key;
    l.hash = foldedHash(k);
    return l;
}

// work(p) for each p in [0, parts), on a thread each (the caller's takes 0), all done on return.
// A part whose thread cannot be started (a limit on threads) is done on the caller's.
template <typename Work> void onThreads(int parts, const Work& work) {
    std::vector<std::thread> threads;
    threads.reserve(size_t(parts) - 1);
    int p = 1;
    try {
        for (; p < parts; ++p)
            threads.emplace_back(work, p);
    } catch (const std::system_error&) {
        for (; p < parts; ++p)
            work(p);
    }
    work(0);
    for (std::thread& t : threads)
        t.join();
}

// Open addressing from a folded key hash to a line; the lines keep the hashes, so growing the
// table reads no text.
class KeyTable {
public:
    template <typename Same> qint32 find(quint32 hash, Same same) const {
        if (slots_.isEmpty()) return -1;
        const size_t mask = size_t(slots_.size()) - 1;
        const Slot* slots = slots_.constData();
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot s = slots[i];
            if (s.line < 0) return -1;
            if (s.hash == hash && same(s.line)) return s.line;
        }
    }
    void insert(quint32 hash, qint32 line) {
        if ((used_ + 1) * 2 > size_t(slots_.size())) grow();
        place(hash, line);
        ++used_;
    }
    void clear() {
        slots_.clear();
        used_ = 0;
    }

private:
    struct Slot {
        quint32 hash = 0;
        qint32 line = -1;
    };
    void place(quint32 hash, qint32 line) {
        const size_t mask = size_t(slots_.size()) - 1;
        Slot* slots = slots_.data();
        size_t i = hash & mask;
        while (slots[i].line >= 0)
            i = (i + 1) & mask;
        slots[i] = {hash, line};
    }
    void grow() {
        const QList<Slot> old =
            std::exchange(slots_, QList<Slot>(qMax<qsizetype>(16, slots_.size() * 2)));
        for (const Slot& s : old)
            if (s.line >= 0) place(s.hash, s.line);
    }
    // Shared between copies of a document until one of them adds a key.
    QList<Slot> slots_;
    size_t used_ = 0;
};

// The keys of a chunk: those read with it grouped by the top bits of their hash, each group in
// line order (built by two counting passes over the hashes, which touch memory in order,
// where inserting a million keys into a table one by one misses the cache at every key);
// keys added later go into a small table of their own.
class KeyIndex {
public:
    template <typename Same> qint32 find(quint32 hash, Same same) const {
        if (!entries_.isEmpty()) {
            const quint32 g = hash >> shift_;
            const quint64* e = entries_.constData();
            for (quint32 i = groups_.at(g), end = groups_.at(g + 1); i < end; ++i)
                if (quint32(e[i] >> 32) == hash && same(qint32(quint32(e[i]))))
                    return qint32(quint32(e[i]));
        }
        return added_.find(hash, same);
    }
    void insert(quint32 hash, qint32 line) { added_.insert(hash, line); }

    // Indexes the key lines among lines[0, n), on up to `parts` threads, and marks the first
    // line of each name. same(a, b) tells whether two lines name the same key.
    template <typename Same> void build(Line* lines, qsizetype n, int parts, Same same) {
        entries_.clear();
        groups_.clear();
        added_.clear();
        int bits = 1;
        while (bits < 24 && (qsizetype(1) << (bits + 2)) < n)
            ++bits;
        shift_ = 32 - bits;
        // Threads pay off only on a large section: as for the parse, about a part's bytes each
        // (a line being some 32 bytes).
        parts = int(qBound<qsizetype>(1, n * 32 / qMax<qsizetype>(1, IniFile::ParsePartBytes),
                                      qsizetype(parts)));
        const int lowBits = bits / 2;
        const size_t lowGroups = size_t(1) << lowBits, highGroups = size_t(1) << (bits - lowBits);
        const quint64 lowMask = lowGroups - 1, highMask = highGroups - 1;
        std::vector<std::vector<quint32>> count(size_t(parts),
                                                std::vector<quint32>(qMax(lowGroups, highGroups)));
        // Each bucket's place: the buckets in order, each holding the parts in order, so both
        // passes stay stable.
        const auto placeBuckets = [&](size_t buckets) {
            quint32 total = 0;
            for (size_t g = 0; g < buckets; ++g)
                for (std::vector<quint32>& c : count)
                    total += std::exchange(c[g], total);
            return total;
        };
        const auto lineAt = [&](int p) { return n * p / parts; };
        // The first pass reads the lines themselves (grouped by the low half of the group
        // number), the second its result (by the high half) and writes the index.
        onThreads(parts, [&](int p) {
            std::vector<quint32>& c = count[size_t(p)];
            for (qsizetype i = lineAt(p); i < lineAt(p + 1); ++i) {
                // Twins are rare: all are first until found to be one.
                lines[i].first = lines[i].kind == Line::Key;
                if (lines[i].first) ++c[(lines[i].hash >> shift_) & lowMask];
            }
        });
        const quint32 keys = placeBuckets(lowGroups);
        if (keys == 0) return;
        const std::unique_ptr<quint64[]> half(new quint64[keys]);
        Allocator::AdviseLargeBuffer(half.get(), keys * sizeof(quint64));
        onThreads(parts, [&](int p) {
            std::vector<quint32>& c = count[size_t(p)];
            for (qsizetype i = lineAt(p); i < lineAt(p + 1); ++i)
                if (lines[i].kind == Line::Key)
                    half[c[(lines[i].hash >> shift_) & lowMask]++] =
                        quint64(lines[i].hash) << 32 | quint64(i);
        });
        const auto keyAt = [&](int p) { return size_t(keys) * size_t(p) / size_t(parts); };
        const int highAt = 32 + shift_ + lowBits;
        onThreads(parts, [&](int p) {
            std::vector<quint32>& c = count[size_t(p)];
            std::fill(c.begin(), c.end(), 0);
            for (size_t i = keyAt(p); i < keyAt(p + 1); ++i)
                ++c[(half[i] >> highAt) & highMask];
        });
        placeBuckets(highGroups);
        entries_.reserve(qsizetype(keys));
        Allocator::AdviseLargeBuffer(entries_.data(), keys * sizeof(quint64));
        entries_.resize(qsizetype(keys));
        quint64* e = entries_.data();
        onThreads(parts, [&](int p) {
            std::vector<quint32>& c = count[size_t(p)];
            for (size_t i = keyAt(p); i < keyAt(p + 1); ++i)
                e[c[(half[i] >> highAt) & highMask]++] = half[i];
        });

        // The first line of each name stays (a group is a few keys, in line order). Each
        // thread keeps those of a range of groups at the start of their entries; the ranges
        // are then moved together (only twins leave a gap).
        const quint32 groups = quint32(1) << bits;
        groups_.reserve(qsizetype(groups) + 1);
        Allocator::AdviseLargeBuffer(groups_.data(), (size_t(groups) + 1) * sizeof(quint32));
        groups_.resize(qsizetype(groups) + 1);
        quint32* const groupStart = groups_.data();
        const auto groupAt = [&](int p) {
            return quint32(quint64(groups) * quint64(p) / quint64(parts));
        };
        const auto entryOfGroup = [&](quint32 grp) {
            return quint32(std::lower_bound(e, e + keys, grp,
                                            [&](quint64 k, quint32 g) {
                                                return quint32(k >> 32) >> shift_ < g;
                                            }) -
                           e);
        };
        std::vector<quint32> from(size_t(parts) + 1, keys), keptEnd(from.size());
        for (int p = 0; p < parts; ++p)
            from[size_t(p)] = entryOfGroup(groupAt(p));
        onThreads(parts, [&](int p) {
            quint32 kept = from[size_t(p)];
            quint32 i = kept;
            const quint32 end = from[size_t(p) + 1];
            for (quint32 grp = groupAt(p); grp < groupAt(p + 1); ++grp) {
                const quint32 start = kept;
                groupStart[grp] = start;
                for (; i < end && quint32(e[i] >> 32) >> shift_ == grp; ++i) {
                    const quint64 k = e[i];
                    bool repeated = false;
                    for (quint32 j = start; j < kept && !repeated; ++j)
                        repeated = e[j] >> 32 == k >> 32 &&
                                   same(qint32(quint32(e[j])), qint32(quint32(k)));
                    if (repeated)
                        lines[quint32(k)].first = false;
                    else
                        e[kept++] = k;
                }
            }
            keptEnd[size_t(p)] = kept;
        });
        quint32 kept = keptEnd[0];
        for (int p = 1; p < parts; ++p) {
            const quint32 at = from[size_t(p)], gap = at - kept;
            if (gap) {
                std::memmove(e + kept, e + at, (keptEnd[size_t(p)] - at) * sizeof(quint64));
                for (quint32 grp = groupAt(p); grp < groupAt(p + 1); ++grp)
                    groupStart[grp] -= gap;
            }
            kept += keptEnd[size_t(p)] - at;
        }
        groupStart[groups] = kept;
        entries_.resize(qsizetype(kept));
    }
    void clear() {
        entries_.clear();
        groups_.clear();
        added_.clear();
    }

private:
    // Shared between copies of a document.
    QList<quint64> entries_; // hash << 32 | line, by group
    QList<quint32> groups_;  // where each group starts in entries_, and the end
    int shift_ = 31;
    KeyTable added_;
};

// The lines of one section (or, first, those before any section), with an index of its keys.
struct Chunk {
    std::optional<Line> header; // none for the lines before the first section
    QList<Line> lines;          // shared between copies until one of them changes a line
    KeyIndex keys;
};

} // namespace

// The file as sections of lines, with indexes from section and key names to their lines, so a
// read or a write finds its key without walking the file.
struct IniFile::Doc {
    QByteArray bytes; // the file as read, when its lines lie in it as UTF-8
    QString text;     // otherwise the file's decoded text
    bool utf8 = false;
    QList<QString> owned; // texts of lines rewritten since
    std::vector<Chunk> chunks;
    QHash<QString, QList<qsizetype>> sections; // folded name -> its chunks in file order
    QString readProblem;                       // set when the file exists but could not be read
    bool changed = false;                      // a write was made while held
    bool altered = false;                      // ... and it changed a line
    // The bytes read, when writing the lines back unchanged gives exactly them.
    bool canonical = false;
    QByteArray canonicalBytes;

    // Where the last key was found, for a held copy only (a shared one is never written to):
    // the program reads and writes an action's keys in file order, so the next key is
    // usually a line or a few further on and needs neither the section's nor the key's index.
    struct Cursor {
        QString section; // as the caller named it
        QList<qsizetype> chunks;
        qsizetype chunk = -1;
        qint32 line = -1;
    };
    bool exclusive = false;
    mutable std::optional<Cursor> cursor;

    Piece textOf(const Line& l) const {
        if (l.owned) return Piece(owned.at(l.off));
        if (utf8) return Piece(QByteArrayView(bytes).sliced(l.start(), l.len));
        return Piece(QStringView(text).sliced(l.start(), l.len));
    }
    Piece nameOf(const Line& l) const { return textOf(l).sliced(l.nameOff, l.nameLen); }
    Piece valueOf(const Line& l) const { return textOf(l).sliced(l.eq + 1); }

    // A line of text of its own (a new or rewritten one).
    Line ownLine(const QString& s, qint32 slot = -1) {
        if (slot < 0) {
            slot = qint32(owned.size());
            owned.push_back(s);
        } else {
            owned[slot] = s;
        }
        return parseLine(QStringView(owned.at(slot)), 0, slot);
    }

    // The first line of a name is the one that counts.
    qint32 findIn(const Chunk& c, quint32 hash, const Piece& name) const {
        return c.keys.find(hash, [&](qint32 i) { return sameName(nameOf(c.lines.at(i)), name); });
    }
    // Whether the line is the first of its name in the chunk (and so now in the index).
    bool addKey(Chunk& c, const Line& l, qint32 at) {
        if (findIn(c, l.hash, nameOf(l)) >= 0) return false;
        c.keys.insert(l.hash, at);
        return true;
    }
    void indexKeys(Chunk& c, int parts = 1) {
        Line* lines = c.lines.data();
        c.keys.build(lines, c.lines.size(), parts, [&](qint32 a, qint32 b) {
            return sameName(nameOf(lines[a]), nameOf(lines[b]));
        });
    }

    void append(Line l) {
        if (l.kind == Line::Section) {
            sections[fold(nameOf(l).toString())].append(qsizetype(chunks.size()));
            chunks.emplace_back().header = l;
            cursor.reset();
            return;
        }
        if (chunks.empty()) chunks.emplace_back();
        Chunk& c = chunks.back();
        if (l.kind == Line::Key) l.first = addKey(c, l, qint32(c.lines.size()));
        c.lines.append(l);
    }
    void reindexSections() {
        cursor.reset();
        sections.clear();
        for (size_t i = 0; i < chunks.size(); ++i)
            if (chunks[i].header)
                sections[fold(nameOf(*chunks[i].header).toString())].append(qsizetype(i));
    }
    const QList<qsizetype>& chunksOf(const QString& section) const {
        static const QList<qsizetype> none;
        const auto it = sections.constFind(fold(section.trimmed()));
        return it == sections.cend() ? none : *it;
    }
};

namespace {

using Doc = IniFile::Doc;

// How far past the last key found a held copy looks for the next one before it asks the index.
constexpr qint32 CursorReach = 16;

// The chunks of a section and the place of its key (line -1 when it has none); the first of
// duplicate lines wins, as on Windows.
struct KeyPlace {
    const QList<qsizetype>* chunks;
    qsizetype chunk = -1;
    qint32 line = -1;
};

// The folded hash of the name wanted, made only when needed: a held copy written in file order
// finds most keys by their name alone.
class WantedHash {
public:
    explicit WantedHash(QStringView name) : name_(name) {}
    quint32 operator()() const {
        if (!hash_) hash_ = foldedHash(name_);
        return *hash_;
    }

private:
    QStringView name_;
    mutable std::optional<quint32> hash_;
};

KeyPlace locate(const Doc& doc, const QString& section, QStringView wanted,
                const WantedHash& hashOf) {
    if (!doc.exclusive) {
        const quint32 hash = hashOf();
        const QList<qsizetype>& chunks = doc.chunksOf(section);
        for (qsizetype ci : chunks) {
            const qint32 i = doc.findIn(doc.chunks[size_t(ci)], hash, wanted);
            if (i >= 0) return {&chunks, ci, i};
        }
        return {&chunks};
    }
    auto& cur = doc.cursor;
    // The caller's own string each time, as a rule.
    const bool sameSection =
        cur && cur->section.size() == section.size() &&
        (cur->section.constData() == section.constData() || cur->section == section);
    if (!sameSection) cur = Doc::Cursor{section, doc.chunksOf(section)};
    // Only a section in one piece: otherwise an earlier piece may hold the key first.
    if (cur->chunk >= 0 && cur->chunks.size() == 1) {
        const QList<Line>& lines = doc.chunks[size_t(cur->chunk)].lines;
        const qint32 end =
            qint32(qMin<qsizetype>(lines.size(), qsizetype(cur->line) + 1 + CursorReach));
        for (qint32 i = cur->line + 1; i < end; ++i) {
            const Line& l = lines.at(i);
            if (!l.first) continue;
            const Piece name = doc.nameOf(l);
            const int ascii = sameAsciiName(name, wanted);
            if (ascii == 1 || (ascii < 0 && l.hash == hashOf() && sameName(name, wanted))) {
                cur->line = i;
                return {&cur->chunks, cur->chunk, i};
            }
        }
    }
    for (qsizetype ci : std::as_const(cur->chunks)) {
        const qint32 i = doc.findIn(doc.chunks[size_t(ci)], hashOf(), wanted);
        if (i >= 0) {
            cur->chunk = ci;
            cur->line = i;
            return {&cur->chunks, ci, i};
        }
    }
    return {&cur->chunks};
}

// A name trimmed, without the call where there is nothing to trim (the usual case).
QStringView trimmedName(QStringView name) {
    return name.isEmpty() || name.front().isSpace() || name.back().isSpace() ? name.trimmed()
                                                                             : name;
}

const Line* findKey(const Doc& doc, const QString& section, QStringView key) {
    const QStringView wanted = trimmedName(key);
    const KeyPlace at = locate(doc, section, wanted, WantedHash(wanted));
    return at.line < 0 ? nullptr : &doc.chunks[size_t(at.chunk)].lines.at(at.line);
}

// "name=value" as the line of a key.
QString keyLine(QStringView name, QStringView value) {
    QString s;
    s.reserve(name.size() + 1 + value.size());
    s.append(name);
    s.append(u'=');
    s.append(value);
    return s;
}

// The same with the name as the file holds it (a save that changes many values rewrites as
// many lines).
QString keyLine(const Piece& name, QStringView value) {
    if (!name.utf8) return keyLine(name.u16, value);
    if (!isAscii(name.u8)) return keyLine(QStringView(name.toString()), value);
    QString s;
    s.reserve(name.u8.size() + 1 + value.size());
    s.append(QLatin1StringView(name.u8));
    s.append(u'=');
    s.append(value);
    return s;
}

// Base 10 only: an optional sign and decimal digits, nothing else ("0x1F" is no number).
std::optional<int> parseInteger(QStringView text) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    return ok ? std::optional<int>(v) : std::nullopt;
}

// A value as far as it is read, without half of a surrogate pair at the cut.
QStringView readableValue(QStringView value) {
    if (value.size() > MaxValueLength) {
        value.truncate(MaxValueLength);
        if (value.back().isHighSurrogate()) value.chop(1);
    }
    return value;
}

// A value must stay on its line; Windows would read back only its first line anyway.
QStringView singleLine(QStringView value) {
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == u'\r' || value[i] == u'\n') return value.left(i);
    }
    return value;
}

} // namespace

IniWriteError::IniWriteError(const QString& path)
    : std::runtime_error(QStringLiteral("In %1 kann nicht geschrieben werden")
                             .arg(QFileInfo(path).absoluteFilePath())
                             .toStdString()) {}

namespace {

// Characters that two Windows-1252 bytes form when read as UTF-8 and that a settings file
// written as UTF-8 would hardly hold.
bool pairedFrom1252(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= 0x80 && u <= 0x9F) || (u >= 0x780 && u <= 0x7FF);
    });
}

// exact: the text encodes back to the very bytes (UTF-8 throughout, no byte order mark).
QString decodeOwnText(const QByteArray& raw, bool* exact) {
    QByteArrayView bytes(raw);
    const bool bom = bytes.startsWith("\xEF\xBB\xBF");
    if (bom) bytes = bytes.sliced(3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    // Decoded into a buffer of its final size: a start-up decodes a settings file of many
    // megabytes.
    QString text(bytes.size(), Qt::Uninitialized);
    Allocator::AdviseLargeBuffer(text.data(), size_t(text.size()) * sizeof(QChar));
    text.truncate(utf8.appendToBuffer(text.data(), bytes) - text.constData());
    *exact = !bom && !utf8.hasError();
    if (!utf8.hasError()) return text;
    // A hand edit may have mixed the two: each line is read the way it was written, a line
    // that is valid UTF-8 as UTF-8. Bytes of Windows-1252 can happen to form UTF-8 ("\xDF\x80"
    // is "ß€" or U+07C0); what such pairs give and real text hardly holds (C1 controls, the
    // Thaana and NKo letters of "Þ" or "ß" and a symbol) marks the line as Windows-1252.
    text.clear();
    text.reserve(bytes.size());
    while (!bytes.isEmpty()) {
        const qsizetype nl = bytes.indexOf('\n');
        const QByteArrayView line = nl < 0 ? bytes : bytes.first(nl + 1);
        bytes = bytes.sliced(line.size());
        QStringDecoder lineUtf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = lineUtf8(line);
        const bool utf8Line = !lineUtf8.hasError() && !pairedFrom1252(decoded);
        text += utf8Line ? decoded : Cp1252::Decode(line.toByteArray());
    }
    return text;
}

} // namespace

QString DecodeOwnText(const QByteArray& raw) {
    bool exact = false;
    return decodeOwnText(raw, &exact);
}

IniFile::IniFile(QString fileName) : fileName_(std::move(fileName)) {}

IniFile::~IniFile() = default;

IniFile::IniFile(const IniFile& other)
    : fileName_(other.fileName_), ownerOnly_(other.ownerOnly_), encoding_(other.encoding_),
      held_(other.held_ ? std::make_unique<Doc>(*other.held_) : nullptr) {}

IniFile& IniFile::operator=(const IniFile& other) {
    if (this != &other) {
        fileName_ = other.fileName_;
        ownerOnly_ = other.ownerOnly_;
        encoding_ = other.encoding_;
        held_ = other.held_ ? std::make_unique<Doc>(*other.held_) : nullptr;
    }
    return *this;
}

namespace {

// The last text read or written of the few files in use with what it was parsed into, so
// that the reads and saves of one start-up parse a large file once. A file is still read
// every time; only when its bytes are exactly those kept is their parse taken again.
struct DocCache {
    struct Entry {
        QString path;
        int encoding;
        QByteArray bytes;
        std::shared_ptr<const Doc> doc;
    };
    std::mutex mutex;
    std::vector<Entry> entries; // newest last

    std::optional<Entry> find(const QString& path, int encoding) {
        const std::lock_guard lock(mutex);
        for (const Entry& e : entries)
            if (e.path == path && e.encoding == encoding) return e;
        return std::nullopt;
    }
    void put(const QString& path, int encoding, const QByteArray& bytes,
             std::shared_ptr<const Doc> doc) {
        const std::lock_guard lock(mutex);
        std::erase_if(entries, [&](const Entry& e) { return e.path == path; });
        entries.push_back({path, encoding, bytes, std::move(doc)});
        if (entries.size() > 4) entries.erase(entries.begin());
    }
    void forget(const QString& path, const Doc* doc) {
        const std::lock_guard lock(mutex);
        std::erase_if(entries,
                      [&](const Entry& e) { return e.path == path && e.doc.get() == doc; });
    }
};

DocCache& docCache() {
    static DocCache cache;
    return cache;
}

// Whether the open file holds exactly these bytes, compared piece by piece as it is read, so
// that a large file is not copied whole only to find it unchanged.
bool holdsBytes(QFile& file, const QByteArray& bytes) {
    if (file.size() != bytes.size()) return false;
    constexpr qsizetype Piece = 256 * 1024;
    const std::unique_ptr<char[]> buf(new char[Piece]);
    for (qsizetype done = 0;;) {
        const qint64 n = file.read(buf.get(), Piece);
        if (n < 0) return false;
        if (n == 0) return done == bytes.size();
        if (done + n > bytes.size() || std::memcmp(buf.get(), bytes.constData() + done, size_t(n)))
            return false;
        done += n;
    }
}

// The rest of an open file (a settings file may be tens of megabytes).
QByteArray readWhole(QFile& file) {
    const qint64 size = file.size() - file.pos();
    if (size <= 0) return file.readAll();
    QByteArray bytes(size, Qt::Uninitialized);
    Allocator::AdviseLargeBuffer(bytes.data(), size_t(size));
    qint64 done = 0;
    while (done < size) {
        const qint64 n = file.read(bytes.data() + done, size - done);
        if (n <= 0) break;
        done += n;
    }
    bytes.truncate(done);
    // A file that grew while it was read is read to its end.
    if (done == size && !file.atEnd()) bytes += file.readAll();
    return bytes;
}

// The temporary copy beside the target, created owner-only when the file holds passwords;
// false when the folder does not take it.
bool createTemp(SafeFile::TempFileBeside& temp, const QByteArray& targetPath, bool ownerOnly) {
    const mode_t createMode = ownerOnly ? 0600 : 0666;
    const QString target = QFile::decodeName(targetPath);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString tempPath = QFile::decodeName(
            targetPath + ".tmp" + QByteArray::number(QRandomGenerator::global()->generate(), 36));
        if (temp.CreateAt(target, tempPath, createMode)) {
            if (IniFile::TempCreatedHook) IniFile::TempCreatedHook(tempPath);
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

// The file a write replaces: through a link, the file it points to.
QByteArray targetOf(const QString& fileName) {
    const QFileInfo info(fileName);
    return QFile::encodeName(info.isSymLink() && info.exists() ? info.canonicalFilePath()
                                                               : info.absoluteFilePath());
}

} // namespace

// The file's bytes for the document's lines, each ending in CR LF. Lines of UTF-16 text are
// encoded in runs that end after a line break, which is what encoding the whole text gives.
QByteArray joinLines(const Doc& doc, bool cp1252) {
    qsizetype size = 0;
    for (const Chunk& c : doc.chunks) {
        if (c.header) size += c.header->len + 2;
        for (const Line& line : std::as_const(c.lines))
            size += line.len + 2;
    }
    QString run;
    QByteArray bytes;
    if (cp1252 || !doc.utf8) {
        run.reserve(size);
    } else {
        // Rewritten lines may take more bytes than the units counted; a large file's save
        // fills its room on huge pages.
        bytes.reserve(size + size / 8 + 64);
        Allocator::AdviseLargeBuffer(bytes.data(), size_t(size));
    }
    const auto flush = [&] {
        if (run.isEmpty()) return;
        bytes += cp1252 ? Cp1252::Encode(run) : run.toUtf8();
        run.truncate(0);
    };
    const auto put = [&](const Line& line) {
        const Piece text = doc.textOf(line);
        if (text.utf8 && !cp1252) {
            flush();
            bytes.append(text.u8);
            bytes.append("\r\n", 2);
            return;
        }
        // A rewritten ASCII line of a UTF-8 file goes straight in, without a run of its own.
        if (!text.utf8 && !cp1252 && doc.utf8 && run.isEmpty() && isAscii(text.u16)) {
            const qsizetype at = bytes.size();
            bytes.resize(at + text.u16.size() + 2);
            char* out = bytes.data() + at;
            for (QChar c : text.u16)
                *out++ = char(c.unicode());
            out[0] = '\r';
            out[1] = '\n';
            return;
        }
        if (text.utf8)
            run += decodeUtf8(text.u8);
        else
            run += text.u16;
        run += u"\r\n";
    };
    for (const Chunk& c : doc.chunks) {
        if (c.header) put(*c.header);
        for (const Line& line : std::as_const(c.lines))
            put(line);
    }
    flush();
    return bytes;
}

namespace {

// How many threads parse a text of this size: one per ParsePartBytes, at most one per core and
// eight in all (at least two, so the split is taken on any machine); one means a single pass.
int parseParts(qsizetype size) {
    const qsizetype part = qMax<qsizetype>(1, IniFile::ParsePartBytes);
    const int cores = int(qBound(2u, std::thread::hardware_concurrency(), 8u));
    return int(qMin<qsizetype>(size / part, cores));
}

// The line that begins at pos, without the CR of a CR LF end; end is where its line break
// (or the text) ends, and crlf whether the CR was there.
template <typename Text, typename Ch>
auto lineAt(Text text, qsizetype pos, Ch nl, Ch cr, qsizetype& end, bool& crlf) {
    const qsizetype found = text.indexOf(nl, pos);
    end = found < 0 ? text.size() : found;
    auto line = text.sliced(pos, end - pos);
    crlf = line.endsWith(cr);
    if (crlf) line.chop(1);
    return line;
}

// The lines of a large text parsed on several threads into one array: each thread takes a
// stretch that starts and ends at a line boundary, counts its lines, then parses them into its
// place. The chunks are cut from the array as a single pass makes them; the largest takes the
// array itself (no copy of its lines), the others copies of their stretch.
template <typename Text, typename Ch, typename Parse>
void parseInParts(Doc& doc, Text text, Ch nl, Ch cr, Parse parse, int parts, bool& exact) {
    std::vector<qsizetype> from(size_t(parts) + 1, text.size());
    from[0] = 0;
    for (int p = 1; p < parts; ++p) {
        const qsizetype found = text.indexOf(nl, qMax(from[p - 1], text.size() / parts * p));
        from[p] = found < 0 ? text.size() : found + 1;
    }
    struct Part {
        qsizetype lines = 0;
        bool exact = true;
        std::vector<qsizetype> sections; // where its section lines are in the array
    };
    std::vector<Part> part(static_cast<size_t>(parts));
    const auto onEach = [&](const auto& work) { onThreads(parts, work); };
    onEach([&](int p) {
        const Text t = text.sliced(from[p], from[p + 1] - from[p]);
        part[p].lines = std::count(t.begin(), t.end(), nl) + (!t.isEmpty() && t.back() != nl);
    });
    std::vector<qsizetype> first(size_t(parts) + 1, 0);
    for (int p = 0; p < parts; ++p)
        first[p + 1] = first[p] + part[p].lines;
    const qsizetype total = first[parts];
    QList<Line> all;
    all.reserve(total);
    Allocator::AdviseLargeBuffer(all.data(), size_t(total) * sizeof(Line));
    all.resize(total);
    Line* const lines = all.data();
    onEach([&](int p) {
        Line* out = lines + first[p];
        for (qsizetype pos = from[p]; pos < from[p + 1];) {
            qsizetype end = 0;
            bool crlf = false;
            const auto line = lineAt(text, pos, nl, cr, end, crlf);
            if (!crlf) part[p].exact = false; // written back, the line ends in CR LF
            *out = parse(line, pos);
            if (out->kind == Line::Section) part[p].sections.push_back(out - lines);
            ++out;
            pos = end + 1;
        }
    });

    // The chunks: the lines before the first section (if any), then each section's.
    struct Span {
        qsizetype header, begin, end;
    };
    std::vector<Span> spans;
    for (const Part& p : part) {
        exact = exact && p.exact;
        for (qsizetype at : p.sections) {
            if (spans.empty() && at > 0) spans.push_back({-1, 0, at});
            if (!spans.empty()) spans.back().end = at;
            spans.push_back({at, at + 1, total});
        }
    }
    if (spans.empty()) spans.push_back({-1, 0, total});
    const size_t base = doc.chunks.size();
    size_t largest = 0;
    for (size_t i = 0; i < spans.size(); ++i) {
        const Span& s = spans[i];
        if (s.end - s.begin > spans[largest].end - spans[largest].begin) largest = i;
        if (s.header >= 0)
            doc.append(lines[s.header]);
        else
            doc.chunks.emplace_back();
    }
    for (size_t i = 0; i < spans.size(); ++i)
        if (i != largest)
            doc.chunks[base + i].lines = QList<Line>(lines + spans[i].begin, lines + spans[i].end);
    QList<Line>& big = doc.chunks[base + largest].lines;
    big = std::move(all);
    big.remove(0, spans[largest].begin); // moves the list's start, copies nothing
    big.resize(spans[largest].end - spans[largest].begin);
    for (size_t i = 0; i < spans.size(); ++i) {
        Chunk& c = doc.chunks[base + i];
        if (c.lines.capacity() - c.lines.size() > c.lines.size() / 4) c.lines.squeeze();
        doc.indexKeys(c, parts);
    }
}

} // namespace

std::shared_ptr<const IniFile::Doc> IniFile::load() const {
    auto doc = std::make_shared<Doc>();
    QFile file(fileName_);
    QByteArray bytes;
    const QString path = QFileInfo(fileName_).absoluteFilePath();
    if (file.open(QIODevice::ReadOnly)) {
        if (const auto known = docCache().find(path, int(encoding_))) {
            if (holdsBytes(file, known->bytes)) return known->doc;
            file.seek(0);
        }
        bytes = readWhole(file);
        if (file.error() != QFileDevice::NoError) {
            doc->readProblem = file.errorString();
            return doc;
        }
    } else {
        // Only a file that is not there reads as empty; one that is there (a link to nowhere
        // included) but cannot be opened must not be replaced by what a caller writes.
        struct stat st {};
        const int found = ::lstat(QFile::encodeName(fileName_).constData(), &st);
        if (found != 0 && (errno == ENOENT || errno == ENOTDIR)) return doc;
        doc->readProblem = file.errorString();
        return doc;
    }
    bool exact = false;
    if (encoding_ == Encoding::Latin1252) {
        doc->text = Cp1252::Decode(bytes);
    } else if (!bytes.startsWith("\xEF\xBB\xBF") && QByteArrayView(bytes).isValidUtf8()) {
        // The normal case: the lines are read where they lie in the bytes.
        doc->utf8 = exact = true;
        doc->bytes = bytes;
    } else {
        doc->text = decodeOwnText(bytes, &exact);
    }
    const auto endChunk = [&] {
        if (doc->chunks.empty()) return;
        // A section that took most of the room keeps it: shrinking would copy it.
        QList<Line>& lines = doc->chunks.back().lines;
        if (lines.capacity() - lines.size() > lines.size() / 4) lines.squeeze();
        doc->indexKeys(doc->chunks.back());
    };
    const auto parseAll = [&](auto text, auto nl, auto cr, auto parse) {
        if (const int parts = parseParts(text.size()); parts > 1)
            return parseInParts(*doc, text, nl, cr, parse, parts, exact);
        // Each chunk's lines in one allocation: room for all lines still to come, given
        // back when the chunk ends (a large block shrinks in place).
        qsizetype linesLeft = std::count(text.begin(), text.end(), nl) + 1;
        for (qsizetype pos = 0; pos < text.size(); --linesLeft) {
            qsizetype end = 0;
            bool crlf = false;
            const auto line = lineAt(text, pos, nl, cr, end, crlf);
            if (!crlf) exact = false; // written back, the line ends in CR LF
            const Line l = parse(line, pos);
            if (l.kind == Line::Section || doc->chunks.empty()) {
                endChunk();
                if (l.kind == Line::Section)
                    doc->append(l);
                else
                    doc->chunks.emplace_back();
                QList<Line>& lines = doc->chunks.back().lines;
                lines.reserve(linesLeft);
                // Most of the file is often one section, but this one may be short.
                Allocator::AdviseLargeBuffer(lines.data(), size_t(linesLeft) * sizeof(Line), false);
                if (l.kind == Line::Section) {
                    pos = end + 1;
                    continue;
                }
            }
            doc->chunks.back().lines.append(l); // indexed when its chunk ends
            pos = end + 1;
        }
        endChunk();
    };
    if (doc->utf8)
        parseAll(QByteArrayView(doc->bytes), '\n', '\r',
                 [](QByteArrayView line, qsizetype pos) { return parseLine(line, pos); });
    else
        parseAll(QStringView(doc->text), u'\n', u'\r',
                 [](QStringView line, qsizetype pos) { return parseLine(line, pos, -1); });
    if (exact) doc->canonicalBytes = bytes;
    doc->canonical = exact;
    docCache().put(path, int(encoding_), bytes, doc);
    return doc;
}

void IniFile::save(Doc&& doc) {
    if (!doc.readProblem.isEmpty()) throw IniWriteError(fileName_);
    const QByteArray bytes = joinLines(doc, encoding_ == Encoding::Latin1252);

    // Replace the file in one step, so a crash leaves either the old or the new file. Through a
    // link, the file it points to is replaced and the link stays.
    const QByteArray targetPath = targetOf(fileName_);

    struct stat old {};
    const bool exists = ::stat(targetPath.constData(), &old) == 0;
    // A read-only file is not replaced, as Windows refuses to write it (even for root).
    if (exists && S_ISREG(old.st_mode) && (old.st_mode & 0222) == 0) throw IniWriteError(fileName_);

    // A file holding passwords is owner-only from its creation on, not only once written.
    SafeFile::TempFileBeside temp;
    if (!createTemp(temp, targetPath, ownerOnly_)) throw IniWriteError(fileName_);

    bool ok = true;
    if (ownerOnly_)
        ok = ::fchmod(temp.fd(), 0600) == 0;
    else if (exists && S_ISREG(old.st_mode))
        ok = ::fchmod(temp.fd(), old.st_mode & 07777) == 0;
    ok = ok && SafeFile::WriteAll(temp.fd(), bytes.constData(), size_t(bytes.size()));
    // A temporary copy that did not take its place is removed with it.
    if (!ok || !temp.Commit()) throw IniWriteError(fileName_);
    // The next read that finds these bytes takes this document instead of parsing them.
    doc.changed = doc.altered = false;
    doc.exclusive = false;
    doc.cursor.reset();
    doc.canonical = true;
    doc.canonicalBytes = bytes;
    docCache().put(QFileInfo(fileName_).absoluteFilePath(), int(encoding_), bytes,
                   std::make_shared<Doc>(std::move(doc)));
}

// A held copy whose writes changed no line would write the bytes it read: when the file still
// holds them, with the owner and mode a write would leave, the replacement is left out. The
// checks a write makes first still raise where it would: a read-only file, a folder that takes
// no temporary copy. Its time stamp is set as a write would.
bool IniFile::alreadyOnDisk(const Doc& doc) const {
    if (doc.altered || !doc.canonical || !doc.readProblem.isEmpty()) return false;
    const QByteArray targetPath = targetOf(fileName_);
    struct stat st {};
    if (::stat(targetPath.constData(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if ((st.st_mode & 0222) == 0) return false;
    if (st.st_uid != ::geteuid()) return false;
    if (ownerOnly_ && (st.st_mode & 07777) != 0600) return false;
    QFile file(QFile::decodeName(targetPath));
    if (!file.open(QIODevice::ReadOnly) || !holdsBytes(file, doc.canonicalBytes)) return false;
    SafeFile::TempFileBeside probe;
    if (!createTemp(probe, targetPath, ownerOnly_)) throw IniWriteError(fileName_);
    probe.Discard();
    // The file still says when it was last saved, as a replacement would.
    ::utimensat(AT_FDCWD, targetPath.constData(), nullptr, 0);
    return true;
}

template <typename F> auto IniFile::withDoc(F f) const {
    if (held_) return f(*held_);
    const std::shared_ptr<const Doc> doc = load();
    return f(*doc);
}

// f changes the document and returns whether it did.
template <typename F> void IniFile::modify(F f) {
    if (held_) {
        if (f(*held_)) held_->changed = true;
        return;
    }
    Doc doc = *load();
    if (f(doc)) save(std::move(doc));
}

void IniFile::BeginUpdate() {
    const std::shared_ptr<const Doc> read = load();
    held_ = std::make_unique<Doc>(*read);
    held_->exclusive = true;
    // Without the kept parse the held copy's lines are its own, so its first change copies none
    // of them; Commit and Rollback keep it again where it still is what the file holds.
    docCache().forget(QFileInfo(fileName_).absoluteFilePath(), read.get());
}

void IniFile::keepUnaltered(std::unique_ptr<Doc> doc) const {
    if (doc->altered || !doc->canonical || !doc->readProblem.isEmpty()) return;
    doc->changed = false;
    doc->exclusive = false;
    doc->cursor.reset();
    const QByteArray bytes = doc->canonicalBytes;
    docCache().put(QFileInfo(fileName_).absoluteFilePath(), int(encoding_), bytes,
                   std::shared_ptr<const Doc>(std::move(doc)));
}

void IniFile::Commit() {
    if (!held_) return;
    std::unique_ptr<Doc> doc = std::move(held_);
    if (doc->changed && !alreadyOnDisk(*doc))
        save(std::move(*doc));
    else
        keepUnaltered(std::move(doc));
}

void IniFile::Rollback() {
    if (held_) keepUnaltered(std::move(held_));
}

bool IniFile::Holding() const {
    return held_ != nullptr;
}

QString IniFile::ReadProblem() const {
    return withDoc([](const Doc& d) { return d.readProblem; });
}

QString IniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
    return ReadString(section, QStringView(key), def);
}

QString IniFile::ReadString(const QString& section, QStringView key, const QString& def) const {
    return withDoc([&](const Doc& d) {
        const Line* l = findKey(d, section, key);
        if (!l) return def;
        const Piece value = d.valueOf(*l);
        // UTF-8 never takes fewer bytes than UTF-16 takes units.
        if (value.utf8 && value.u8.size() <= MaxValueLength) return decodeUtf8(value.u8);
        QString text = value.toString();
        if (text.size() > MaxValueLength) {
            text.truncate(MaxValueLength);
            if (text.back().isHighSurrogate()) text.chop(1);
        }
        return text;
    });
}

qsizetype IniFile::KeyCountAtMost(const QString& section) const {
    return withDoc([&](const Doc& d) {
        qsizetype n = 0;
        for (qsizetype ci : d.chunksOf(section))
            n += d.chunks[size_t(ci)].lines.size();
        return n;
    });
}

void IniFile::ForEachKey(const QString& section,
                         const std::function<void(QStringView key, QStringView value)>& f) const {
    withDoc([&](const Doc& d) {
        QString nameBuf, valueBuf;
        const QList<qsizetype>& chunks = d.chunksOf(section);
        for (qsizetype k = 0; k < chunks.size(); ++k) {
            for (const Line& l : d.chunks[size_t(chunks[k])].lines) {
                if (l.kind != Line::Key || !l.first) continue;
                // In a section written in several pieces the earliest piece holds a key first.
                const Piece name = d.nameOf(l);
                bool earlier = false;
                for (qsizetype j = 0; j < k && !earlier; ++j)
                    earlier = d.findIn(d.chunks[size_t(chunks[j])], l.hash, name) >= 0;
                if (!earlier)
                    f(utf16Of(name, nameBuf), readableValue(utf16Of(d.valueOf(l), valueBuf)));
            }
        }
    });
}

int IniFile::ForEachKeyInParts(
    const QString& section, int maxParts,
    const std::function<void(int part, QStringView key, QStringView value)>& f) const {
    return withDoc([&](const Doc& d) {
        const QList<qsizetype>& chunks = d.chunksOf(section);
        // A section in pieces keeps the one pass, which finds a key's earliest piece.
        const qsizetype n = chunks.size() == 1 ? d.chunks[size_t(chunks[0])].lines.size() : 0;
        // As for the parse: about a part's bytes a thread, a line being some 32 bytes.
        const int parts = qBound(1, parseParts(n * 32), qMax(1, maxParts));
        if (parts == 1) {
            ForEachKey(section, [&](QStringView key, QStringView value) { f(0, key, value); });
            return 1;
        }
        const Line* lines = d.chunks[size_t(chunks[0])].lines.constData();
        onThreads(parts, [&](int p) {
            QString nameBuf, valueBuf;
            for (qsizetype i = n * p / parts, end = n * (p + 1) / parts; i < end; ++i) {
                const Line& l = lines[i];
                if (l.kind == Line::Key && l.first)
                    f(p, utf16Of(d.nameOf(l), nameBuf),
                      readableValue(utf16Of(d.valueOf(l), valueBuf)));
            }
        });
        return parts;
    });
}

int IniFile::ReadInteger(const QString& section, const QString& key, int def) const {
    return withDoc([&](const Doc& d) {
        const Line* l = findKey(d, section, key);
        const std::optional<int> n = l ? parseInteger(d.valueOf(*l).toString()) : std::nullopt;
        return n.value_or(def);
    });
}

bool IniFile::ReadBool(const QString& section, const QString& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool IniFile::ValueExists(const QString& section, const QString& key) const {
    return withDoc([&](const Doc& d) { return findKey(d, section, key) != nullptr; });
}

// A section without keys counts as missing, as the programs expect.
bool IniFile::SectionExists(const QString& section) const {
    return !ReadSection(section).isEmpty();
}

QStringList IniFile::ReadSection(const QString& section) const {
    return withDoc([&](const Doc& d) {
        QStringList keys;
        QSet<QString> seen;
        for (qsizetype ci : d.chunksOf(section))
            for (const Line& l : std::as_const(d.chunks[size_t(ci)].lines)) {
                if (l.kind != Line::Key) continue;
                const QString name = d.nameOf(l).toString();
                if (seen.contains(fold(name))) continue;
                seen.insert(fold(name));
                keys.append(name);
            }
        return keys;
    });
}

QStringList IniFile::ReadSections() const {
    return withDoc([](const Doc& d) {
        QStringList sections;
        QSet<QString> seen;
        for (const Chunk& c : d.chunks) {
            if (!c.header) continue;
            const QString name = d.nameOf(*c.header).toString();
            if (seen.contains(fold(name))) continue;
            seen.insert(fold(name));
            sections.append(name);
        }
        return sections;
    });
}

void IniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    WriteString(section, QStringView(key), QStringView(value));
}

void IniFile::WriteString(const QString& section, QStringView key, QStringView value) {
    const QStringView wanted = trimmedName(key);
    const QStringView val = singleLine(value);
    const WantedHash hash(wanted);
    modify([&](Doc& doc) {
        const KeyPlace at = locate(doc, section, wanted, hash);
        if (at.line >= 0) {
            Chunk& c = doc.chunks[size_t(at.chunk)];
            const Line l = c.lines.at(at.line);
            // A line that already reads "name=value" stays as it is, and its chunk is not
            // copied away from the file's.
            if (l.nameOff == 0 && l.eq == l.nameLen && sameText(doc.valueOf(l), val)) return true;
            Line rewritten = doc.ownLine(keyLine(doc.nameOf(l), val), l.owned ? qint32(l.off) : -1);
            rewritten.first = true;
            c.lines[at.line] = rewritten;
            doc.altered = true;
            return true;
        }
        doc.altered = true;
        const QString sec = section.trimmed();
        const QList<qsizetype> found = *at.chunks; // the cursor goes with a new section
        if (!found.isEmpty()) {
            // After the last non-blank line of the first section of this name; only blank
            // lines follow it, so no key moves.
            Chunk& c = doc.chunks[size_t(found.first())];
            qsizetype insertAt = qsizetype(c.lines.size());
            while (insertAt > 0 && c.lines.at(insertAt - 1).blank)
                --insertAt;
            Line l = doc.ownLine(keyLine(wanted, val));
            l.first = doc.addKey(c, l, qint32(insertAt));
            c.lines.insert(insertAt, l);
            return true;
        }
        if (!doc.chunks.empty()) {
            Chunk& last = doc.chunks.back();
            const Line* end = !last.lines.isEmpty() ? &last.lines.constLast()
                              : last.header         ? &*last.header
                                                    : nullptr;
            if (end && !end->blank) last.lines.append(doc.ownLine(QString()));
        }
        doc.append(doc.ownLine(u'[' + sec + u']'));
        doc.append(doc.ownLine(keyLine(wanted, val)));
        return true;
    });
}

void IniFile::WriteStrings(
    const QString& section, qsizetype n,
    const std::function<std::pair<QStringView, QStringView>(qsizetype i, KeyRoom& room)>&
        keyValue) {
    // The line each key was found on before the first write (-1: none), and which of them
    // already read so. A write's key lines stay where they are (a new key goes after the last
    // line that is not blank), so a line rewritten by an earlier key of the batch (the same
    // name twice) is known by its place.
    std::vector<qint32> lineOf;
    std::vector<char> same; // written from several threads, so no bits
    std::vector<bool> rewritten;
    const int parts = qBound(1, parseParts(n * 32), 8);
    const QList<qsizetype>* chunks = held_ ? &held_->chunksOf(section) : nullptr;
    // A section in one piece: a key is the first line of its name in that piece.
    const Chunk* c =
        chunks && chunks->size() == 1 ? &held_->chunks[size_t(chunks->at(0))] : nullptr;
    if (parts > 1 && c) {
        const Doc& d = *held_;
        lineOf.assign(size_t(n), -1);
        same.assign(size_t(n), 0);
        rewritten.assign(size_t(c->lines.size()), false);
        onThreads(parts, [&](int p) {
            KeyRoom room;
            qint32 last = -1;
            const qint32 size = qint32(c->lines.size());
            for (qsizetype i = n * p / parts, end = n * (p + 1) / parts; i < end; ++i) {
                const auto [key, value] = keyValue(i, room);
                const QStringView wanted = trimmedName(key);
                // As a held copy's writes find their keys: a few lines on from the last.
                qint32 at = -1;
                for (qint32 j = last + 1; j < qMin(size, last + 1 + CursorReach) && at < 0; ++j)
                    if (c->lines.at(j).first &&
                        sameAsciiName(d.nameOf(c->lines.at(j)), wanted) == 1)
                        at = j;
                if (at < 0) at = d.findIn(*c, foldedHash(wanted), wanted);
                if (at < 0) continue;
                last = at;
                lineOf[size_t(i)] = at;
                const Line& l = c->lines.at(at);
                if (l.nameOff == 0 && l.eq == l.nameLen &&
                    sameText(d.valueOf(l), singleLine(value)))
                    same[size_t(i)] = 1;
            }
        });
    }
    KeyRoom room;
    for (qsizetype i = 0; i < n; ++i) {
        const qint32 line = lineOf.empty() ? -1 : lineOf[size_t(i)];
        if (line >= 0 && same[size_t(i)] && !rewritten[size_t(line)]) {
            held_->changed = true; // as WriteString leaves it
            continue;
        }
        const auto [key, value] = keyValue(i, room);
        WriteString(section, key, value);
        if (line >= 0) rewritten[size_t(line)] = true;
    }
}

void IniFile::WriteInteger(const QString& section, const QString& key, int value) {
    WriteString(section, key, QString::number(value));
}

void IniFile::WriteBool(const QString& section, const QString& key, bool value) {
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void IniFile::DeleteKey(const QString& section, const QString& key) {
    const QStringView wanted = QStringView(key).trimmed();
    const quint32 hash = foldedHash(wanted);
    modify([&](Doc& doc) {
        bool removed = false;
        for (qsizetype ci : doc.chunksOf(section)) {
            Chunk& c = doc.chunks[size_t(ci)];
            if (doc.findIn(c, hash, wanted) < 0) continue;
            c.lines.removeIf([&](const Line& l) {
                return l.kind == Line::Key && l.hash == hash && sameName(doc.nameOf(l), wanted);
            });
            doc.indexKeys(c);
            removed = true;
        }
        doc.altered = doc.altered || removed;
        return removed;
    });
}

void IniFile::EraseSection(const QString& section) {
    modify([&](Doc& doc) {
        const QList<qsizetype> doomed = doc.chunksOf(section);
        if (doomed.isEmpty()) return false;
        for (auto it = doomed.crbegin(); it != doomed.crend(); ++it)
            doc.chunks.erase(doc.chunks.begin() + *it);
        doc.reindexSections();
        doc.altered = true;
        return true;
    });
}
