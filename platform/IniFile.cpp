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

} // namespace

namespace {

// The lines of one section (or, first, those before any section), with an index of its keys.
struct Chunk {
    std::optional<Line> header; // none for the lines before the first section
    QList<Line> lines;
    QHash<QString, qsizetype> keys; // folded key name -> its first line in this chunk
};

QString fold(const QString& name) {
    return name.toCaseFolded();
}

// The first line of a name is the one that counts.
void addKey(Chunk& c, const QString& folded, qsizetype line) {
    if (!c.keys.contains(folded)) c.keys.insert(folded, line);
}

void indexKeys(Chunk& c) {
    c.keys.clear();
    for (qsizetype i = 0; i < c.lines.size(); ++i)
        if (c.lines[i].kind == Line::Key) addKey(c, fold(c.lines[i].name), i);
}

} // namespace

// The file as sections of lines, with indexes from section and key names to their lines, so a
// read or a write finds its key without walking the file.
struct IniFile::Doc {
    QList<Chunk> chunks;
    QHash<QString, QList<qsizetype>> sections; // folded name -> its chunks in file order
    QString readProblem;                       // set when the file exists but could not be read
    bool changed = false;

    void append(Line l) {
        if (l.kind == Line::Section) {
            sections[fold(l.name)].append(chunks.size());
            Chunk c;
            c.header = std::move(l);
            chunks.append(std::move(c));
            return;
        }
        if (chunks.isEmpty()) chunks.append(Chunk());
        Chunk& c = chunks.last();
        if (l.kind == Line::Key) addKey(c, fold(l.name), c.lines.size());
        c.lines.append(std::move(l));
    }
    void reindexSections() {
        sections.clear();
        for (qsizetype i = 0; i < chunks.size(); ++i)
            if (chunks[i].header) sections[fold(chunks[i].header->name)].append(i);
    }
    const QList<qsizetype>& chunksOf(const QString& section) const {
        static const QList<qsizetype> none;
        const auto it = sections.constFind(fold(section.trimmed()));
        return it == sections.cend() ? none : *it;
    }
};

namespace {

using Doc = IniFile::Doc;

QString valueOf(const Line& l) {
    return l.text.mid(l.eq + 1);
}

// The first line of the key; the first of duplicate lines wins, as on Windows.
const Line* findKey(const Doc& doc, const QString& section, const QString& key) {
    const QString wanted = fold(key.trimmed());
    for (qsizetype ci : doc.chunksOf(section)) {
        const Chunk& c = doc.chunks[ci];
        const auto it = c.keys.constFind(wanted);
        if (it != c.keys.cend()) return &c.lines[*it];
    }
    return nullptr;
}

std::optional<QString> findValue(const Doc& doc, const QString& section, const QString& key) {
    const Line* l = findKey(doc, section, key);
    return l ? std::optional<QString>(valueOf(*l)) : std::nullopt;
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
    // A hand edit may have mixed the two: each line is read the way it was written. Bytes of
    // Windows-1252 can happen to form UTF-8 ("\xDF\x80" is "ß€" or U+07C0), so a line counts
    // as UTF-8 only where it then holds what Windows-1252 could hold too; other lines are read
    // as the whole file was before.
    text.clear();
    text.reserve(bytes.size());
    while (!bytes.isEmpty()) {
        const qsizetype nl = bytes.indexOf('\n');
        const QByteArrayView line = nl < 0 ? bytes : bytes.first(nl + 1);
        bytes = bytes.sliced(line.size());
        QStringDecoder lineUtf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = lineUtf8(line);
        const bool utf8Line = !lineUtf8.hasError() && Cp1252::CanEncode(decoded);
        text += utf8Line ? decoded : Cp1252::Decode(line.toByteArray());
    }
    return text;
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
    for (QString& line : lines) {
        if (line.endsWith(u'\r')) line.chop(1);
        doc.append(parseLine(std::move(line)));
    }
    return doc;
}

void IniFile::save(const Doc& doc) {
    if (!doc.readProblem.isEmpty()) throw IniWriteError(fileName_);
    QString text;
    qsizetype size = 0;
    for (const Chunk& c : doc.chunks) {
        if (c.header) size += c.header->text.size() + 2;
        for (const Line& line : c.lines)
            size += line.text.size() + 2;
    }
    text.reserve(size);
    const auto put = [&text](const Line& line) {
        text += line.text;
        text += QStringLiteral("\r\n");
    };
    for (const Chunk& c : doc.chunks) {
        if (c.header) put(*c.header);
        for (const Line& line : c.lines)
            put(line);
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
            for (const Line& l : d.chunks[ci].lines)
                if (l.kind == Line::Key && !seen.contains(fold(l.name))) {
                    seen.insert(fold(l.name));
                    keys.append(l.name);
                }
        return keys;
    });
}

QStringList IniFile::ReadSections() const {
    return withDoc([](const Doc& d) {
        QStringList sections;
        QSet<QString> seen;
        for (const Chunk& c : d.chunks)
            if (c.header && !seen.contains(fold(c.header->name))) {
                seen.insert(fold(c.header->name));
                sections.append(c.header->name);
            }
        return sections;
    });
}

void IniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    const QString sec = section.trimmed();
    const QString wanted = key.trimmed();
    const QString val = singleLine(value);
    modify([&](Doc& doc) {
        const QList<qsizetype>& found = doc.chunksOf(sec);
        const QString folded = fold(wanted);
        for (qsizetype ci : found) {
            Chunk& c = doc.chunks[ci];
            const auto it = c.keys.constFind(folded);
            if (it == c.keys.cend()) continue;
            Line& l = c.lines[*it];
            l = parseLine(l.name + u'=' + val);
            return true;
        }
        if (!found.isEmpty()) {
            // After the last non-blank line of the first section of this name; only blank
            // lines follow it, so no key moves.
            Chunk& c = doc.chunks[found.first()];
            qsizetype insertAt = c.lines.size();
            while (insertAt > 0 && c.lines[insertAt - 1].blank)
                --insertAt;
            addKey(c, folded, insertAt);
            c.lines.insert(insertAt, parseLine(wanted + u'=' + val));
            return true;
        }
        if (!doc.chunks.isEmpty()) {
            Chunk& last = doc.chunks.last();
            const Line* end = !last.lines.isEmpty() ? &last.lines.last()
                              : last.header         ? &*last.header
                                                    : nullptr;
            if (end && !end->blank) last.lines.append(parseLine({}));
        }
        doc.append(parseLine(u'[' + sec + u']'));
        doc.append(parseLine(wanted + u'=' + val));
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
    const QString wanted = fold(key.trimmed());
    modify([&](Doc& doc) {
        bool removed = false;
        for (qsizetype ci : doc.chunksOf(section)) {
            Chunk& c = doc.chunks[ci];
            if (!c.keys.contains(wanted)) continue;
            c.lines.removeIf(
                [&](const Line& l) { return l.kind == Line::Key && fold(l.name) == wanted; });
            indexKeys(c);
            removed = true;
        }
        return removed;
    });
}

void IniFile::EraseSection(const QString& section) {
    modify([&](Doc& doc) {
        const QList<qsizetype> doomed = doc.chunksOf(section);
        if (doomed.isEmpty()) return false;
        for (auto it = doomed.crbegin(); it != doomed.crend(); ++it)
            doc.chunks.removeAt(*it);
        doc.reindexSections();
        return true;
    });
}
