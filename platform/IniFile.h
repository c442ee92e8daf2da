#pragma once
// A profile (ini) file with the rules the programs rely on: section and key names without
// regard to case, one line per key, a missing key gives the caller's default, values are read
// up to 2047 characters.
//
// Each call reads the file and each write replaces it at once (atomically and durably), so
// every read sees the file as it is on disk. The parse of what was last read or written of a
// file is kept with its bytes: a read that finds the same bytes on disk takes it again, so a
// large file is not parsed again only to find what was just written. A save operation that writes
// many keys holds the file instead: BeginUpdate reads it once, the reads and writes up to Commit
// work on that copy, and Commit replaces the file once (not at all when its writes changed no
// line and the file still holds exactly what would be written).
//
// A file that exists but cannot be read is never replaced: its reads give the defaults and
// every write raises. A line that is not valid UTF-8 is read as Windows-1252 and written back
// as UTF-8.
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>
#include <stdexcept>
#include <utility>

// Raised when a value cannot be written; the text is what the user sees.
class IniWriteError : public std::runtime_error {
public:
    explicit IniWriteError(const QString& path);
};

class IniFile {
public:
    explicit IniFile(QString fileName);
    ~IniFile();
    IniFile(const IniFile&);
    IniFile& operator=(const IniFile&);

    const QString& FileName() const { return fileName_; }

    // Files holding passwords: every write leaves the file readable by its owner only, and
    // its temporary copy is created that way before the first byte goes in.
    void SetOwnerOnly(bool on) { ownerOnly_ = on; }

    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    // The same for a key name built by the caller, without a string of its own.
    QString ReadString(const QString& section, QStringView key, const QString& def) const;
    // Decimal text; anything that is not a whole number gives the default.
    int ReadInteger(const QString& section, const QString& key, int def) const;
    // "0" is false, any other whole number true; anything else gives the default.
    bool ReadBool(const QString& section, const QString& key, bool def) const;
    bool ValueExists(const QString& section, const QString& key) const;
    bool SectionExists(const QString& section) const;
    // Key names of a section in file order.
    QStringList ReadSection(const QString& section) const;
    QStringList ReadSections() const;
    // Every key of a section once, in file order, with the value ReadString gives for it: a
    // large section in one pass instead of a search per key. The views hold during the call.
    // No section holds more keys than this (its lines that declare one).
    qsizetype KeyCountAtMost(const QString& section) const;
    void ForEachKey(const QString& section,
                    const std::function<void(QStringView key, QStringView value)>& f) const;
    // The same keys on several threads for a large section in one piece: its lines split into
    // at most maxParts stretches, f called for part p on a thread of its own with the keys whose
    // line lies in the p-th stretch, in file order. Returns how many parts there were (one, on
    // the caller's thread, for a small section; see ParsePartBytes).
    int ForEachKeyInParts(
        const QString& section, int maxParts,
        const std::function<void(int part, QStringView key, QStringView value)>& f) const;

    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteString(const QString& section, QStringView key, QStringView value);
    // WriteString for each of n keys of a section in turn; keyValue(i, room) gives the i-th name
    // and value, the name built in room if the caller likes. On a held copy a large batch first
    // finds, on several threads, the keys whose lines already read so (keyValue is then called
    // from those threads, on its own data only); those are left as they are.
    using KeyRoom = std::array<char16_t, 64>;
    void WriteStrings(
        const QString& section, qsizetype n,
        const std::function<std::pair<QStringView, QStringView>(qsizetype i, KeyRoom& room)>&
            keyValue);
    void WriteInteger(const QString& section, const QString& key, int value);
    void WriteBool(const QString& section, const QString& key, bool value);
    void DeleteKey(const QString& section, const QString& key);
    void EraseSection(const QString& section);

    // Reads the file once and holds it until Commit or Rollback.
    void BeginUpdate();
    // Replaces the file with the held copy when a write changed it, and ends the hold (also
    // when it raises IniWriteError; the file is then left as it was).
    void Commit();
    // Ends the hold without writing.
    void Rollback();
    bool Holding() const;

    // Why the file cannot be read (it exists, but opening or reading it failed); empty when
    // it is readable or not there at all.
    QString ReadProblem() const;

    // How the file's bytes are decoded and encoded: UTF-8 (the default) or Windows-1252.
    enum class Encoding { Utf8, Latin1252 };
    void SetEncoding(Encoding e) { encoding_ = e; }

    // A file is parsed on several threads from two parts of this many bytes (characters for a
    // decoded one) on, one part a thread; a test sets it low to take that path on small files.
    static inline qsizetype ParsePartBytes = qsizetype(1) << 20;

    // Test hook: called with the path of each temporary copy right after its creation.
    static inline std::function<void(const QString& tempPath)> TempCreatedHook;

    struct Doc;

private:
    std::shared_ptr<const Doc> load() const;
    void save(Doc&& doc);
    bool alreadyOnDisk(const Doc& doc) const;
    void keepUnaltered(std::unique_ptr<Doc> doc) const;
    template <typename F> auto withDoc(F f) const;
    template <typename F> void modify(F f);

    QString fileName_;
    bool ownerOnly_ = false;
    Encoding encoding_ = Encoding::Utf8;
    std::unique_ptr<Doc> held_;
};

// The text of one of the programs' own files (settings, history, registry): each line UTF-8,
// or Windows-1252 when its bytes are not valid UTF-8, so a file written on Windows, or edited
// by hand in either, loses nothing.
QString DecodeOwnText(const QByteArray& bytes);
