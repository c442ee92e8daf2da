#include "IniFile.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "Cp1252.h"
#include "SafeFile.h"

namespace {

constexpr qsizetype MaxValueLength = 2047;

// One line of the file with what it declares, worked out once when the file is read.
struct Line {
    enum Kind : unsigned char { Other, Section, Key };
    QString text;
    QString name; // the section's or the key's name, trimmed
    qsizetype eq = -1;
    Kind kind = Other;
    bool blank = true;
};

// "[Name]" is a section (a header without its closing bracket still opens one); "key=value"
// a key, split at the first '=', with the value as written. Lines starting with ';' are
// comments.
Line parseLine(QString text) {
    Line l;
    l.text = std::move(text);
    const QString t = l.text.trimmed();
    l.blank = t.isEmpty();
    if (t.startsWith(u'[')) {
        const qsizetype close = t.indexOf(u']');
        l.name = t.mid(1, close < 0 ? -1 : close - 1).trimmed();
        l.kind = Line::Section;
        return l;
    }
    const qsizetype eq = l.text.indexOf(u'=');
    if (eq < 0) return l;
    const QString k = l.text.left(eq).trimmed();
    if (k.isEmpty() || k.startsWith(u';')) return l;
    l.name = k;
    l.eq = eq;
    l.kind = Line::Key;
    return l;
}

bool same(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

struct IniFile::Doc {
    QList<Line> lines;
    QString readProblem; // set when the file exists but could not be read
    bool changed = false;
};

namespace {

using Doc = IniFile::Doc;

QString valueOf(const Line& l) {
    return l.text.mid(l.eq + 1);
}

// Calls f(index) for every key line of every section with this name, in file order; stops
// when f returns false.
template <typename F> void forEachKey(const Doc& doc, const QString& section, F f) {
    const QString wanted = section.trimmed();
    bool inSection = false;
    for (qsizetype i = 0; i < doc.lines.size(); ++i) {
        const Line& l = doc.lines[i];
        if (l.kind == Line::Section) {
            inSection = same(l.name, wanted);
        } else if (inSection && l.kind == Line::Key) {
            if (!f(i)) return;
        }
    }
}

// The first line of the key, or -1; the first of duplicate lines wins, as on Windows.
qsizetype findKey(const Doc& doc, const QString& section, const QString& key) {
    qsizetype found = -1;
    const QString wanted = key.trimmed();
    forEachKey(doc, section, [&](qsizetype i) {
        if (!same(doc.lines[i].name, wanted)) return true;
        found = i;
        return false;
    });
    return found;
}

std::optional<QString> findValue(const Doc& doc, const QString& section, const QString& key) {
    const qsizetype i = findKey(doc, section, key);
    return i < 0 ? std::nullopt : std::optional<QString>(valueOf(doc.lines[i]));
}

// Base 10 only: an optional sign and decimal digits, nothing else ("0x1F" is no number).
std::optional<int> parseInteger(const QString& text) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    return ok ? std::optional<int>(v) : std::nullopt;
}

// A value must stay on its line; Windows would read back only its first line anyway.
QString singleLine(const QString& value) {
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

QString DecodeOwnText(const QByteArray& raw) {
    QByteArrayView bytes(raw);
    if (bytes.startsWith("\xEF\xBB\xBF")) bytes = bytes.sliced(3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError()) return text;
    return Cp1252::Decode(bytes.toByteArray());
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

IniFile::Doc IniFile::load() const {
    Doc doc;
    QFile file(fileName_);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly)) {
        bytes = file.readAll();
        if (file.error() != QFileDevice::NoError) {
            doc.readProblem = file.errorString();
            return doc;
        }
    } else {
        // Only a file that is not there reads as empty; one that is there (a link to nowhere
        // included) but cannot be opened must not be replaced by what a caller writes.
        struct stat st {};
        const int found = ::lstat(QFile::encodeName(fileName_).constData(), &st);
        if (found != 0 && (errno == ENOENT || errno == ENOTDIR)) return doc;
        doc.readProblem = file.errorString();
        return doc;
    }
    const QString text =
        encoding_ == Encoding::Latin1252 ? Cp1252::Decode(bytes) : DecodeOwnText(bytes);
    QStringList lines = text.split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    doc.lines.reserve(lines.size());
    for (QString& line : lines) {
        if (line.endsWith(u'\r')) line.chop(1);
        doc.lines.append(parseLine(std::move(line)));
    }
    return doc;
}

void IniFile::save(const Doc& doc) {
    if (!doc.readProblem.isEmpty()) throw IniWriteError(fileName_);
    QString text;
    qsizetype size = 0;
    for (const Line& line : doc.lines)
        size += line.text.size() + 2;
    text.reserve(size);
    for (const Line& line : doc.lines) {
        text += line.text;
        text += QStringLiteral("\r\n");
    }
    const QByteArray bytes =
        encoding_ == Encoding::Latin1252 ? Cp1252::Encode(text) : text.toUtf8();

    // Replace the file in one step, so a crash leaves either the old or the new file. Through a
    // link, the file it points to is replaced and the link stays.
    const QFileInfo info(fileName_);
    const QString target =
        info.isSymLink() && info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    const QByteArray targetPath = QFile::encodeName(target);

    struct stat old {};
    const bool exists = ::stat(targetPath.constData(), &old) == 0;
    // A read-only file is not replaced, as Windows refuses to write it (even for root).
    if (exists && S_ISREG(old.st_mode) && (old.st_mode & 0222) == 0) throw IniWriteError(fileName_);

    // A file holding passwords is owner-only from its creation on, not only once written.
    const mode_t createMode = ownerOnly_ ? 0600 : 0666;
    QByteArray tempPath;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tempPath =
            targetPath + ".tmp" + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd = ::open(tempPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, createMode);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) throw IniWriteError(fileName_);
    if (TempCreatedHook) TempCreatedHook(QFile::decodeName(tempPath));

    bool ok = true;
    if (ownerOnly_)
        ok = ::fchmod(fd, 0600) == 0;
    else if (exists && S_ISREG(old.st_mode))
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    for (qsizetype done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        done += n;
    }
    if (!ok) ::close(fd);
    if (!ok || !SafeFile::CommitTemp(fd, tempPath, targetPath)) {
        ::unlink(tempPath.constData());
        throw IniWriteError(fileName_);
    }
}

template <typename F> auto IniFile::withDoc(F f) const {
    if (held_) return f(*held_);
    const Doc doc = load();
    return f(doc);
}

// f changes the document and returns whether it did.
template <typename F> void IniFile::modify(F f) {
    if (held_) {
        if (f(*held_)) held_->changed = true;
        return;
    }
    Doc doc = load();
    if (f(doc)) save(doc);
}

void IniFile::BeginUpdate() {
    held_ = std::make_unique<Doc>(load());
}

void IniFile::Commit() {
    if (!held_) return;
    const std::unique_ptr<Doc> doc = std::move(held_);
    if (doc->changed) save(*doc);
}

void IniFile::Rollback() {
    held_.reset();
}

bool IniFile::Holding() const {
    return held_ != nullptr;
}

QString IniFile::ReadProblem() const {
    return withDoc([](const Doc& d) { return d.readProblem; });
}

QString IniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
    const std::optional<QString> v =
        withDoc([&](const Doc& d) { return findValue(d, section, key); });
    if (!v) return def;
    QString value = *v;
    if (value.size() > MaxValueLength) {
        value.truncate(MaxValueLength);
        if (value.back().isHighSurrogate()) value.chop(1);
    }
    return value;
}

int IniFile::ReadInteger(const QString& section, const QString& key, int def) const {
    const std::optional<QString> v =
        withDoc([&](const Doc& d) { return findValue(d, section, key); });
    const std::optional<int> n = v ? parseInteger(*v) : std::nullopt;
    return n.value_or(def);
}

bool IniFile::ReadBool(const QString& section, const QString& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool IniFile::ValueExists(const QString& section, const QString& key) const {
    return withDoc([&](const Doc& d) { return findKey(d, section, key) >= 0; });
}

// A section without keys counts as missing, as the programs expect.
bool IniFile::SectionExists(const QString& section) const {
    return !ReadSection(section).isEmpty();
}

QStringList IniFile::ReadSection(const QString& section) const {
    return withDoc([&](const Doc& d) {
        QStringList keys;
        forEachKey(d, section, [&](qsizetype i) {
            if (!keys.contains(d.lines[i].name, Qt::CaseInsensitive)) keys.append(d.lines[i].name);
            return true;
        });
        return keys;
    });
}

QStringList IniFile::ReadSections() const {
    return withDoc([](const Doc& d) {
        QStringList sections;
        for (const Line& l : d.lines) {
            if (l.kind == Line::Section && !sections.contains(l.name, Qt::CaseInsensitive))
                sections.append(l.name);
        }
        return sections;
    });
}

void IniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    const QString sec = section.trimmed();
    const QString wanted = key.trimmed();
    const QString val = singleLine(value);
    modify([&](Doc& doc) {
        const qsizetype existing = findKey(doc, sec, wanted);
        if (existing >= 0) {
            Line& l = doc.lines[existing];
            l = parseLine(l.name + u'=' + val);
            return true;
        }
        // Append after the last non-blank line of the first section of this name.
        qsizetype insertAt = -1;
        bool inSection = false;
        for (qsizetype i = 0; i < doc.lines.size(); ++i) {
            const Line& l = doc.lines[i];
            if (l.kind == Line::Section) {
                if (insertAt >= 0) break;
                inSection = same(l.name, sec);
                if (inSection) insertAt = i + 1;
            } else if (inSection && !l.blank) {
                insertAt = i + 1;
            }
        }
        if (insertAt >= 0) {
            doc.lines.insert(insertAt, parseLine(wanted + u'=' + val));
        } else {
            if (!doc.lines.isEmpty() && !doc.lines.last().blank) doc.lines.append(parseLine({}));
            doc.lines.append(parseLine(u'[' + sec + u']'));
            doc.lines.append(parseLine(wanted + u'=' + val));
        }
        return true;
    });
}

void IniFile::WriteInteger(const QString& section, const QString& key, int value) {
    WriteString(section, key, QString::number(value));
}

void IniFile::WriteBool(const QString& section, const QString& key, bool value) {
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void IniFile::DeleteKey(const QString& section, const QString& key) {
    const QString wanted = key.trimmed();
    modify([&](Doc& doc) {
        QList<qsizetype> doomed;
        forEachKey(doc, section, [&](qsizetype i) {
            if (same(doc.lines[i].name, wanted)) doomed.append(i);
            return true;
        });
        for (auto it = doomed.crbegin(); it != doomed.crend(); ++it)
            doc.lines.removeAt(*it);
        return !doomed.isEmpty();
    });
}

void IniFile::EraseSection(const QString& section) {
    const QString wanted = section.trimmed();
    modify([&](Doc& doc) {
        QList<Line> kept;
        bool erasing = false;
        for (const Line& l : doc.lines) {
            if (l.kind == Line::Section) erasing = same(l.name, wanted);
            if (!erasing) kept.append(l);
        }
        if (kept.size() == doc.lines.size()) return false;
        doc.lines = std::move(kept);
        return true;
    });
}
