#include "ZipDirectory.h"

#include <QDate>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>
#include <zip.h>
#include <zlib.h>

#include "FileNames.h"

namespace {

constexpr quint32 CentralMagic = 0x02014b50;
constexpr quint32 EndMagic = 0x06054b50;
constexpr quint32 End64Magic = 0x06064b50;
constexpr quint32 Locator64Magic = 0x07064b50;
constexpr qint64 CentralSize = 46;
constexpr qint64 EndSize = 22;
constexpr qint64 LocatorSize = 20;
constexpr qint64 End64Size = 56;
// The stretch at the end of the file where the library looks for the end record: the longest
// comment, the record and a Zip64 locator before it.
constexpr qint64 TailSize = 0xFFFF + EndSize + LocatorSize;
constexpr quint32 Max32 = 0xFFFFFFFF;
constexpr quint16 WinZipAesMethod = 99; // the method inside is in the AES extra field
constexpr qint64 Julian1970 = 2440588;

quint16 get16(const uchar* p) {
    return quint16(p[0] | p[1] << 8);
}
quint32 get32(const uchar* p) {
    return quint32(get16(p)) | quint32(get16(p + 2)) << 16;
}
quint64 get64(const uchar* p) {
    return quint64(get32(p)) | quint64(get32(p + 4)) << 32;
}

// What the central directory says of one entry besides its name, sizes and date.
struct Attributes {
    int MadeBy = 0;       // system the entry was made on (upper byte of "version made by")
    quint32 External = 0; // external attributes
    int Method = 0;       // compression method (for WinZip AES the one inside)
    int Encryption = 0;   // the ZIP library's encryption method
    bool CrcValid = true; // false for WinZip AES entries of the second kind below 20 bytes
    quint32 Crc = 0;
};

int aesOverhead(int encryption) {
    const int keyLength = encryption == ZIP_EM_AES_128   ? 16
                          : encryption == ZIP_EM_AES_192 ? 24
                                                         : 32;
    return keyLength / 2 + 2 + 10; // salt, password check, authentication code
}

// Fills in what follows from the attributes and the name: folder, link, permissions,
// encryption, and an unusable stored AES entry (Method -1).
void complete(ZipEntry& e, const Attributes& a) {
    const bool unix = a.MadeBy == ZIP_OPSYS_UNIX;
    e.BackslashSeparates = !unix && a.MadeBy != ZIP_OPSYS_OS_X;
    e.Encrypted = a.Encryption != ZIP_EM_NONE;
    e.Method = a.Method;
    e.Encryption = e.Encrypted ? a.Encryption : 0;
    const bool aes =
        e.Encrypted && (a.Encryption == ZIP_EM_AES_128 || a.Encryption == ZIP_EM_AES_192 ||
                        a.Encryption == ZIP_EM_AES_256);
    e.NoCrc = aes && a.CrcValid && a.Crc == 0;
    // A stored entry of that kind is only as long as its packed form says.
    if (e.NoCrc && e.Method == ZIP_CM_STORE &&
        e.PackedSize - aesOverhead(a.Encryption) != e.UnpackedSize)
        e.Method = -1;
    e.IsDir = e.Name.endsWith(u'/') || (e.BackslashSeparates && e.Name.endsWith(u'\\'));
    e.IsLink = false;
    e.Permissions = 0;
    if (unix) {
        const mode_t mode = mode_t(a.External >> 16);
        e.IsLink = (mode & S_IFMT) == S_IFLNK;
        if ((mode & S_IFMT) == S_IFDIR) e.IsDir = true;
        if ((mode & S_IFMT) == S_IFREG || (mode & S_IFMT) == 0) e.Permissions = mode & 0777;
    }
}

// Offset of local time from UTC at an instant, in seconds.
int localUtcOffset(qint64 secs) {
    const std::time_t t = std::time_t(secs);
    std::tm tm{};
    return localtime_r(&t, &tm) ? int(tm.tm_gmtoff) : 0;
}

bool readAt(int fd, qint64 at, uchar* out, qint64 n) {
    while (n > 0) {
        const ssize_t got = ::pread(fd, out, size_t(n), off_t(at));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        at += got;
        n -= got;
    }
    return true;
}

// The directory's bytes in order, read a large piece at a time.
class DirectoryBytes {
public:
    DirectoryBytes(int fd, qint64 from, qint64 size) : fd_(fd), from_(from), size_(size) {}
    // The next n bytes, valid until the next call; nullptr when fewer are left or unreadable.
    const uchar* Take(qint64 n) {
        if (n > Left()) return nullptr;
        if (taken_ + n > bufAt_ + qint64(buf_.size())) {
            const qint64 length = std::min(std::max(Piece, n), Left());
            buf_.resize(size_t(length));
            bufAt_ = taken_;
            if (!readAt(fd_, from_ + bufAt_, buf_.data(), length)) return nullptr;
        }
        const uchar* p = buf_.data() + (taken_ - bufAt_);
        taken_ += n;
        return p;
    }
    qint64 Left() const { return size_ - taken_; }

private:
    static constexpr qint64 Piece = 1 << 20;
    int fd_;
    qint64 from_;
    qint64 size_;
    qint64 taken_ = 0;
    qint64 bufAt_ = 0;
    std::vector<uchar> buf_;
};

// How the library takes a name that is not flagged as UTF-8: plain ASCII (tab and line breaks
// included), UTF-8 when every byte above them forms a sequence of the right length, else the
// DOS code page 437.
enum class Coding { Ascii, Utf8, Cp437 };

Coding guessCoding(const uchar* p, qint64 n) {
    Coding coding = Coding::Ascii;
    for (qint64 i = 0; i < n; ++i) {
        const uchar c = p[i];
        if ((c > 31 && c < 128) || c == '\r' || c == '\n' || c == '\t') continue;
        int more = 0;
        if ((c & 0xE0) == 0xC0)
            more = 1;
        else if ((c & 0xF0) == 0xE0)
            more = 2;
        else if ((c & 0xF8) == 0xF0)
            more = 3;
        else
            return Coding::Cp437;
        if (i + more >= n) return Coding::Cp437;
        for (int j = 1; j <= more; ++j)
            if ((p[i + j] & 0xC0) != 0x80) return Coding::Cp437;
        coding = Coding::Utf8;
        i += more;
    }
    return coding;
}

// Code page 437 as the library converts it, its control characters as their DOS glyphs.
constexpr char16_t Cp437[256] = {
    0x2007, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, 0x25D8, 0x25CB, 0x25D9, 0x2642,
    0x2640, 0x266A, 0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC, 0x0020, 0x0021, 0x0022, 0x0023,
    0x0024, 0x0025, 0x0026, 0x0027, 0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037, 0x0038, 0x0039, 0x003A, 0x003B,
    0x003C, 0x003D, 0x003E, 0x003F, 0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F, 0x0050, 0x0051, 0x0052, 0x0053,
    0x0054, 0x0055, 0x0056, 0x0057, 0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,
    0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067, 0x0068, 0x0069, 0x006A, 0x006B,
    0x006C, 0x006D, 0x006E, 0x006F, 0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x2302, 0x00C7, 0x00FC, 0x00E9, 0x00E2,
    0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2,
    0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566,
    0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0,
    0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A,
    0x207F, 0x00B2, 0x25A0, 0x00A0};

// The name as storedName gives it, from the bytes the library holds (no NUL among them).
QString entryName(const uchar* raw, qint64 n, bool utf8Known, bool madeOnUnix) {
    if (std::all_of(raw, raw + n, [](uchar c) { return c < 0x80; }))
        return QString::fromLatin1(reinterpret_cast<const char*>(raw), n);
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(raw), n);
    if (madeOnUnix || IsValidUtf8(bytes)) return DecodeFileName(bytes);
    if (!utf8Known && guessCoding(raw, n) == Coding::Cp437) {
        QString out(n, Qt::Uninitialized);
        for (qint64 i = 0; i < n; ++i)
            out[i] = QChar(Cp437[raw[i]]);
        return out;
    }
    return QString::fromUtf8(bytes);
}

// DOS dates and times as the library reads them: the fields, as they are, through mktime in
// local time. A day far enough from any change of the clocks has one offset, found once
// through localtime_r; its times need no mktime. Other days, and fields out of their range
// (which mktime carries over), go through mktime one by one. There the C library resolves a
// time that a change of the clocks left out or doubled by the offset of its previous call,
// so it is put where the library's call for the previous entry left it.
class DosClock {
public:
    DosClock() { tzset(); }
    void Convert(quint16 time, quint16 date, qint64& secs, int& offset) {
        const Fields f(time, date);
        if (QDate::isValid(f.year, f.month, f.day) && f.hour < 24 && f.minute < 60 &&
            f.second < 60) {
            const qint64 dayNo = QDate(f.year, f.month, f.day).toJulianDay() - Julian1970;
            const auto [it, added] = days_.try_emplace(dayNo);
            if (added) it->second = lookUp(dayNo);
            if (it->second.plain) {
                secs = it->second.midnight + f.hour * 3600 + f.minute * 60 + f.second;
                offset = it->second.offset;
                previous_ = f;
                previousPlain_ = true;
                return;
            }
        }
        if (previousPlain_) previous_.local();
        secs = f.local();
        offset = localUtcOffset(secs);
        previous_ = f;
        previousPlain_ = false;
    }

private:
    struct Fields {
        int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
        Fields() = default;
        Fields(quint16 time, quint16 date)
            : year(((date >> 9) & 127) + 1980), month((date >> 5) & 15), day(date & 31),
              hour((time >> 11) & 31), minute((time >> 5) & 63), second((time << 1) & 62) {}
        qint64 local() const {
            std::tm tm{};
            tm.tm_isdst = -1; // the C library decides, as the ZIP library lets it
            tm.tm_year = year - 1900;
            tm.tm_mon = month - 1;
            tm.tm_mday = day;
            tm.tm_hour = hour;
            tm.tm_min = minute;
            tm.tm_sec = second;
            return qint64(std::mktime(&tm));
        }
    };
    struct Day {
        qint64 midnight = 0; // seconds since 1970 of its local midnight
        int offset = 0;
        bool plain = false; // one offset for a day before it to a day after it
    };
    static Day lookUp(qint64 dayNo) {
        Day out;
        const qint64 start = dayNo * 86400;
        out.offset = localUtcOffset(start - localUtcOffset(start));
        out.midnight = start - out.offset;
        out.plain = true;
        for (const qint64 at : {-86400, 0, 43200, 86399, 2 * 86400})
            out.plain = out.plain && localUtcOffset(out.midnight + at) == out.offset;
        return out;
    }
    std::unordered_map<qint64, Day> days_;
    Fields previous_;
    bool previousPlain_ = false;
};

// One record of the central directory; false where the library's reading could differ.
bool readEntry(DirectoryBytes& dir, DosClock& clock, ZipEntry& e) {
    const uchar* h = dir.Take(CentralSize);
    if (!h || get32(h) != CentralMagic) return false;
    const int madeBy = get16(h + 4) >> 8;
    const quint16 flags = get16(h + 8);
    const quint16 method = get16(h + 10);
    const quint16 dosTime = get16(h + 12);
    const quint16 dosDate = get16(h + 14);
    const quint32 crc = get32(h + 16);
    quint64 packed = get32(h + 20);
    quint64 unpacked = get32(h + 24);
    const qint64 nameLength = get16(h + 28);
    const qint64 extraLength = get16(h + 30);
    const qint64 commentLength = get16(h + 32);
    const quint16 disk = get16(h + 34);
    const quint32 external = get32(h + 38);
    quint64 offset = get32(h + 42);
    const uchar* name = dir.Take(nameLength + extraLength + commentLength);
    if (!name) return false;
    const uchar* extra = name + nameLength;
    const uchar* comment = extra + extraLength;
    // The library reads a NUL in a name as a blank (and checks the name that way).
    QByteArray blanked;
    if (std::memchr(name, 0, size_t(nameLength))) {
        blanked = QByteArray(reinterpret_cast<const char*>(name), nameLength).replace('\0', ' ');
        name = reinterpret_cast<const uchar*>(blanked.constData());
    }

    // Flagged UTF-8 that is none makes the library refuse the whole archive.
    bool utf8Known = flags & 0x0800;
    if (utf8Known && (guessCoding(name, nameLength) == Coding::Cp437 ||
                      guessCoding(comment, commentLength) == Coding::Cp437))
        return false;

    // The first field of each kind counts. Bytes after the last whole field are left to the
    // library, which accepts some of them.
    const uchar* zip64 = nullptr;
    const uchar* unicodeName = nullptr;
    const uchar* aes = nullptr;
    qint64 zip64Length = 0, unicodeNameLength = 0, aesLength = 0;
    for (qint64 at = 0; at < extraLength;) {
        if (extraLength - at < 4) return false;
        const quint16 id = get16(extra + at);
        const qint64 length = get16(extra + at + 2);
        if (length > extraLength - at - 4) return false;
        const uchar* data = extra + at + 4;
        if (id == 0x0001 && !zip64) {
            zip64 = data;
            zip64Length = length;
        } else if (id == 0x7075 && !unicodeName) {
            unicodeName = data;
            unicodeNameLength = length;
        } else if (id == 0x9901 && !aes) {
            aes = data;
            aesLength = length;
        }
        at += 4 + length;
    }

    // A UTF-8 form of the name replaces it when it was made from exactly these bytes.
    const uchar* nameBytes = name;
    qint64 nameBytesLength = nameLength;
    if (unicodeName && unicodeNameLength > 5 && unicodeName[0] == 1 &&
        get32(unicodeName + 1) == quint32(crc32(0, name, uInt(nameLength))) &&
        guessCoding(unicodeName + 5, unicodeNameLength - 5) != Coding::Cp437) {
        nameBytes = unicodeName + 5;
        nameBytesLength = unicodeNameLength - 5;
        utf8Known = true;
    }

    // Zip64: the fields that say so are in the extra field, in this order, and nothing else.
    if (unpacked == Max32 || packed == Max32 || offset == Max32) {
        const qint64 needed = 8 * ((unpacked == Max32) + (packed == Max32) + (offset == Max32)) +
                              (disk == 0xFFFF ? 4 : 0);
        if (!zip64 || zip64Length != needed) return false;
        const uchar* p = zip64;
        if (unpacked == Max32) unpacked = get64(p), p += 8;
        if (packed == Max32) packed = get64(p), p += 8;
        if (offset == Max32) offset = get64(p);
    }
    if (offset > quint64(std::numeric_limits<qint64>::max())) return false;

    Attributes a;
    a.MadeBy = madeBy;
    a.External = external;
    a.Method = method;
    a.Crc = crc;
    a.Encryption =
        (flags & 0x0001) ? ((flags & 0x0040) ? ZIP_EM_UNKNOWN : ZIP_EM_TRAD_PKWARE) : ZIP_EM_NONE;
    if (method == WinZipAesMethod) {
        if (!aes || aesLength != 7) return false;
        const quint16 version = get16(aes);
        if ((version != 1 && version != 2) || aes[2] != 'A' || aes[3] != 'E') return false;
        switch (aes[4]) {
        case 1:
            a.Encryption = ZIP_EM_AES_128;
            break;
        case 2:
            a.Encryption = ZIP_EM_AES_192;
            break;
        case 3:
            a.Encryption = ZIP_EM_AES_256;
            break;
        default:
            return false;
        }
        a.CrcValid = version == 1 || unpacked >= 20;
        a.Method = get16(aes + 5);
    }

    e.Name = entryName(nameBytes, nameBytesLength, utf8Known, madeBy == ZIP_OPSYS_UNIX);
    e.PackedSize = qint64(packed);
    e.UnpackedSize = qint64(unpacked);
    clock.Convert(dosTime, dosDate, e.ModTime, e.UtcOffset);
    complete(e, a);
    return true;
}

// Names that are UTF-8 (flagged or not) are taken as such. Other names made on a Unix system
// are the bytes of the file names there and are restored with exactly those bytes; names from
// other systems are in their code page, which the library converts.
QString storedName(zip* archive, quint64 index, bool madeOnUnix) {
    const char* raw = zip_get_name(archive, index, ZIP_FL_ENC_RAW);
    if (!raw) return QString();
    const QByteArray bytes(raw);
    if (madeOnUnix || IsValidUtf8(bytes)) return DecodeFileName(bytes);
    const char* converted = zip_get_name(archive, index, ZIP_FL_ENC_GUESS);
    return converted ? QString::fromUtf8(converted) : DecodeFileName(bytes);
}

} // namespace

namespace ZipDirectory {

bool Read(int fd, QList<ZipEntry>& entries) {
    entries.clear();
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < EndSize) return false;
    const qint64 size = st.st_size;
    const qint64 tailAt = std::max<qint64>(0, size - TailSize);
    std::vector<uchar> tail(size_t(size - tailAt));
    if (!readAt(fd, tailAt, tail.data(), qint64(tail.size()))) return false;

    // Exactly one end record where the library looks for one (it tries each), its comment
    // reaching exactly to the end of the file.
    const qint64 tailSize = qint64(tail.size());
    qint64 end = -1;
    for (qint64 p = tailSize >= TailSize ? LocatorSize : 0; p + EndSize <= tailSize; ++p) {
        if (tail[size_t(p)] != 'P' || get32(&tail[size_t(p)]) != EndMagic) continue;
        if (end >= 0) return false;
        end = p;
    }
    if (end < 0) return false;
    const uchar* eocd = &tail[size_t(end)];
    if (get16(eocd + 20) != tailSize - end - EndSize) return false;
    if (get32(eocd + 4) != 0 || get16(eocd + 8) != get16(eocd + 10)) return false;
    quint64 count = get16(eocd + 10);
    quint64 cdSize = get32(eocd + 12);
    quint64 cdOffset = get32(eocd + 16);
    quint64 cdLimit = quint64(tailAt + end); // the directory ends before this

    if (end >= LocatorSize && get32(eocd - LocatorSize) == Locator64Magic) {
        const uchar* locator = eocd - LocatorSize;
        const quint64 locatorAt = quint64(tailAt + end - LocatorSize);
        const quint64 recordAt = get64(locator + 8);
        if (get32(locator + 4) != 0 || recordAt > locatorAt || locatorAt - recordAt < End64Size)
            return false;
        uchar record[End64Size];
        if (!readAt(fd, qint64(recordAt), record, End64Size)) return false;
        if (get32(record) != End64Magic || get64(record + 4) != locatorAt - recordAt - 12 ||
            get32(record + 16) != 0 || get32(record + 20) != 0 ||
            get64(record + 24) != get64(record + 32))
            return false;
        const quint64 count64 = get64(record + 32);
        const quint64 size64 = get64(record + 40);
        const quint64 offset64 = get64(record + 48);
        // The short record's fields either point to these or agree with them.
        if ((count != 0xFFFF && count != count64) || (cdSize != Max32 && cdSize != size64) ||
            (cdOffset != Max32 && cdOffset != offset64))
            return false;
        count = count64;
        cdSize = size64;
        cdOffset = offset64;
        cdLimit = recordAt;
    }
    // Counts and sizes that cannot be right are not trusted for as much as a reservation.
    if (cdOffset > cdLimit || cdSize > cdLimit - cdOffset || count > cdSize / CentralSize)
        return false;

    entries.reserve(qsizetype(count));
    DirectoryBytes dir(fd, qint64(cdOffset), qint64(cdSize));
    DosClock clock;
    for (quint64 i = 0; i < count; ++i) {
        ZipEntry& e = entries.emplaceBack();
        e.Index = qint64(i);
        if (!readEntry(dir, clock, e)) {
            entries = QList<ZipEntry>();
            return false;
        }
    }
    if (dir.Left() != 0) {
        entries = QList<ZipEntry>();
        return false;
    }
    return true;
}

std::optional<ZipEntry> LibraryEntry(zip* archive, qint64 index) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive, zip_uint64_t(index), 0, &st) != 0) return std::nullopt;
    ZipEntry e;
    e.Index = index;
    zip_uint8_t opsys = 0;
    zip_uint32_t attr = 0;
    Attributes a;
    // Unknown, the entry counts as made on a system where "\" separates folders.
    a.MadeBy = zip_file_get_external_attributes(archive, zip_uint64_t(index), 0, &opsys, &attr) == 0
                   ? opsys
                   : -1;
    a.External = attr;
    e.Name = storedName(archive, zip_uint64_t(index), a.MadeBy == ZIP_OPSYS_UNIX);
    if (e.Name.isNull()) e.Name = QString::fromUtf8(st.name);
    if (st.valid & ZIP_STAT_COMP_SIZE) e.PackedSize = qint64(st.comp_size);
    if (st.valid & ZIP_STAT_SIZE) e.UnpackedSize = qint64(st.size);
    if (st.valid & ZIP_STAT_MTIME) {
        e.ModTime = qint64(st.mtime);
        e.UtcOffset = localUtcOffset(e.ModTime);
    }
    if (st.valid & ZIP_STAT_ENCRYPTION_METHOD) a.Encryption = st.encryption_method;
    if (st.valid & ZIP_STAT_COMP_METHOD) a.Method = st.comp_method;
    a.CrcValid = st.valid & ZIP_STAT_CRC;
    a.Crc = st.crc;
    complete(e, a);
    return e;
}

} // namespace ZipDirectory
