#pragma once
// A profile (ini) file with the rules the programs rely on: section and key names without
// regard to case, one line per key, every write reaches the file at once and every read sees
// the file as it is on disk, a missing key gives the caller's default, values are read up to
// 2047 characters. Nothing is cached between calls.
#include <QString>
#include <QStringList>
#include <stdexcept>

// Raised when a value cannot be written; the text is what the user sees.
class IniWriteError : public std::runtime_error {
public:
    explicit IniWriteError(const QString& path);
};

class IniFile {
public:
    explicit IniFile(QString fileName);

    const QString& FileName() const { return fileName_; }

    // Files holding passwords: every write leaves the file readable by its owner only.
    void SetOwnerOnly(bool on) { ownerOnly_ = on; }

    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    // Decimal text; anything that is not a whole number gives the default.
    int ReadInteger(const QString& section, const QString& key, int def) const;
    // "0" is false, any other whole number true; anything else gives the default.
    bool ReadBool(const QString& section, const QString& key, bool def) const;
    bool ValueExists(const QString& section, const QString& key) const;
    bool SectionExists(const QString& section) const;
    // Key names of a section in file order.
    QStringList ReadSection(const QString& section) const;
    QStringList ReadSections() const;

    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int value);
    void WriteBool(const QString& section, const QString& key, bool value);
    void DeleteKey(const QString& section, const QString& key);
    void EraseSection(const QString& section);

    // How the file's bytes are decoded and encoded: UTF-8 (the default) or Windows-1252.
    enum class Encoding { Utf8, Latin1252 };
    void SetEncoding(Encoding e) { encoding_ = e; }

private:
    QStringList readLines() const;
    void writeLines(const QStringList& lines);

    QString fileName_;
    bool ownerOnly_ = false;
    Encoding encoding_ = Encoding::Utf8;
};
