#pragma once
// The update server's information file iup.hinf: one zlib stream whose content is a module
// count, three texts, then per module seven texts and a file count, per file nine texts. Every
// text is a signed 32-bit little-endian length and that many Windows-1252 bytes.
//
// The reader never trusts the file: every count and length is checked against the bytes that
// remain, the inflated content is capped, and a file or archive name that is not a bare file
// name is refused, so a damaged or hostile file ends the parse with a message that says what is
// wrong and where.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>
#include <stdexcept>

class InfoFileError : public std::runtime_error {
public:
    explicit InfoFileError(const QString& text);
};

struct InfoModuleRecord {
    QString name;        // M1
    QString text;        // M2
    QString description; // M3
    QString history;     // M4
    int fileCount = 0;   // M8, 0 when the file gives 0 or less
};

struct InfoFileRecord {
    QString fileName;    // F1, a bare file name
    QString destination; // F2, a destination spec
    QString version;     // F3
    QString date;        // F4
    QString archive;     // F5, a bare file name
    QString size;        // F6, KB as text
    QString marker;      // F7, "-" keeps the file from being preselected
    QString service;     // F8
};

class InfoFileReader {
public:
    static constexpr qint64 MaxInflatedSize = 64 * 1024 * 1024;

    // Inflates the body as fetched and reads the header. An empty body holds no modules.
    explicit InfoFileReader(const QByteArray& body);

    int ModuleCount() const { return moduleCount_; }
    // The next module record; false once every announced module was read. Files of the
    // previous module that were not asked for are passed over.
    bool NextModule(InfoModuleRecord* module);
    // The next file record of the current module; false once its files are read.
    bool NextFile(InfoFileRecord* file);

private:
    qint32 readInt(const char* field);
    QString readString(const char* field);
    void skipFileRecords();
    [[noreturn]] void fail(const QString& problem) const;
    QString where() const;

    QByteArray data_;
    qsizetype pos_ = 0;
    int moduleCount_ = 0;
    int modulesRead_ = 0;
    int filesInModule_ = 0;
    int filesRead_ = 0;
};

// Empty when name is a bare Windows file name; otherwise why it is not one.
QString FileNameProblem(const QString& name);

// A size field: decimal digits, "." allowed between them; every "." is dropped. An empty text
// gives 1. Anything else raises InfoFileError.
qint64 ParseInfoSize(const QString& text);

// A date field as a German-locale conversion reads it: day and month of one or two digits, a
// year of two (00-29: 20xx, 30-99: 19xx) or four, then optionally hours (one or two digits) and
// minutes, with or without seconds. The date alone is midnight.
std::optional<QDateTime> ParseInfoDate(const QString& text);
// A local file's date in the same form; the time is left out at exactly midnight.
QString FormatInfoDate(const QDateTime& when);
