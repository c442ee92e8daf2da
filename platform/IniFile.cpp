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
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

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

// One line of the file with what it declares, worked out once when the file is read. The text
// stays in the file's decoded text (or, once rewritten, in a string of its own); the line only
// marks where it lies, so reading a large file builds no string per line.
struct Line {
    enum Kind : unsigned char { Other, Section, Key };
    qsizetype off = 0;
    qint32 len = 0;
    qint32 own = -1;    // index of its own text once the line was rewritten
    qint32 nameOff = 0; // the section's or the key's name, trimmed, within the line
    qint32 nameLen = 0;
    qint32 eq = -1;
    quint32 hash = 0; // of the folded key name
    Kind kind = Other;
    bool blank = true;
};

// "[Name]" is a section (a header without its closing bracket still opens one); "key=value"
// a key, split at the first '=', with the value as written. Lines starting with ';' are
// comments.
Line parseLine(QStringView text, qsizetype off, qint32 own) {
    Line l;
    l.off = off;
    l.len = qint32(text.size());
    l.own = own;
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

// Open addressing from a folded key hash to the first line of that key; the lines keep the
// hashes, so growing the table reads no text.
class KeyIndex {
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
    QString text;         // the file as read
    QList<QString> owned; // texts of lines rewritten since
    std::vector<Chunk> chunks;
    QHash<QString, QList<qsizetype>> sections; // folded name -> its chunks in file order
    QString readProblem;                       // set when the file exists but could not be read
    bool changed = false;

    QStringView textOf(const Line& l) const {
        return l.own >= 0 ? QStringView(owned.at(l.own)) : QStringView(text).sliced(l.off, l.len);
    }
    QStringView nameOf(const Line& l) const { return textOf(l).sliced(l.nameOff, l.nameLen); }
    QStringView valueOf(const Line& l) const { return textOf(l).sliced(l.eq + 1); }

    // A line of text of its own (a new or rewritten one).
    Line ownLine(const QString& s, qint32 slot = -1) {
        if (slot < 0) {
            slot = qint32(owned.size());
            owned.push_back(s);
        } else {
            owned[slot] = s;
        }
        return parseLine(owned.at(slot), 0, slot);
    }

    // The first line of a name is the one that counts.
    qint32 findIn(const Chunk& c, quint32 hash, QStringView name) const {
        return c.keys.find(hash, [&](qint32 i) { return sameName(nameOf(c.lines.at(i)), name); });
    }
    void addKey(Chunk& c, const Line& l, qint32 at) {
        if (findIn(c, l.hash, nameOf(l)) < 0) c.keys.insert(l.hash, at);
    }
    void indexKeys(Chunk& c) {
        c.keys.clear();
        for (qsizetype i = 0; i < c.lines.size(); ++i)
            if (c.lines.at(i).kind == Line::Key) addKey(c, c.lines.at(i), qint32(i));
    }

    void append(const Line& l) {
        if (l.kind == Line::Section) {
            sections[fold(nameOf(l).toString())].append(qsizetype(chunks.size()));
            chunks.emplace_back().header = l;
            return;
        }
        if (chunks.empty()) chunks.emplace_back();
        Chunk& c = chunks.back();
        if (l.kind == Line::Key) addKey(c, l, qint32(c.lines.size()));
        c.lines.append(l);
    }
    void reindexSections() {
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

// The first line of the key; the first of duplicate lines wins, as on Windows.
const Line* findKey(const Doc& doc, const QString& section, const QString& key) {
    const QStringView wanted = QStringView(key).trimmed();
    const quint32 hash = foldedHash(wanted);
    for (qsizetype ci : doc.chunksOf(section)) {
        const Chunk& c = doc.chunks[size_t(ci)];
        const qint32 i = doc.findIn(c, hash, wanted);
        if (i >= 0) return &c.lines.at(i);
    }
    return nullptr;
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

// Base 10 only: an optional sign and decimal digits, nothing else ("0x1F" is no number).
std::optional<int> parseInteger(QStringView text) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    return ok ? std::optional<int>(v) : std::nullopt;
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

    std::shared_ptr<const Doc> find(const QString& path, int encoding, const QByteArray& bytes) {
        const std::lock_guard lock(mutex);
        for (const Entry& e : entries)
            if (e.path == path && e.encoding == encoding && e.bytes == bytes) return e.doc;
        return nullptr;
    }
    void put(const QString& path, int encoding, const QByteArray& bytes,
             std::shared_ptr<const Doc> doc) {
        const std::lock_guard lock(mutex);
        std::erase_if(entries, [&](const Entry& e) { return e.path == path; });
        entries.push_back({path, encoding, bytes, std::move(doc)});
        if (entries.size() > 4) entries.erase(entries.begin());
    }
};

DocCache& docCache() {
    static DocCache cache;
    return cache;
}

} // namespace

std::shared_ptr<const IniFile::Doc> IniFile::load() const {
    auto doc = std::make_shared<Doc>();
    QFile file(fileName_);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly)) {
        bytes = file.readAll();
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
    const QString path = QFileInfo(fileName_).absoluteFilePath();
    if (auto known = docCache().find(path, int(encoding_), bytes)) return known;
    doc->text = encoding_ == Encoding::Latin1252 ? Cp1252::Decode(bytes) : DecodeOwnText(bytes);
    const QStringView text(doc->text);
    for (qsizetype pos = 0; pos < text.size();) {
        const qsizetype nl = text.indexOf(u'\n', pos);
        const qsizetype end = nl < 0 ? text.size() : nl;
        QStringView line = text.sliced(pos, end - pos);
        if (line.endsWith(u'\r')) line.chop(1);
        doc->append(parseLine(line, pos, -1));
        pos = end + 1;
    }
    docCache().put(path, int(encoding_), bytes, doc);
    return doc;
}

void IniFile::save(Doc&& doc) {
    if (!doc.readProblem.isEmpty()) throw IniWriteError(fileName_);
    QString text;
    qsizetype size = 0;
    for (const Chunk& c : doc.chunks) {
        if (c.header) size += c.header->len + 2;
        for (const Line& line : std::as_const(c.lines))
            size += line.len + 2;
    }
    text.reserve(size);
    const auto put = [&](const Line& line) {
        text += doc.textOf(line);
        text += u"\r\n";
    };
    for (const Chunk& c : doc.chunks) {
        if (c.header) put(*c.header);
        for (const Line& line : std::as_const(c.lines))
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
    // The next read that finds these bytes takes this document instead of parsing them.
    doc.changed = false;
    docCache().put(info.absoluteFilePath(), int(encoding_), bytes,
                   std::make_shared<Doc>(std::move(doc)));
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
    held_ = std::make_unique<Doc>(*load());
}

void IniFile::Commit() {
    if (!held_) return;
    const std::unique_ptr<Doc> doc = std::move(held_);
    if (doc->changed) save(std::move(*doc));
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
    return withDoc([&](const Doc& d) {
        const Line* l = findKey(d, section, key);
        if (!l) return def;
        QStringView value = d.valueOf(*l);
        if (value.size() > MaxValueLength) {
            value.truncate(MaxValueLength);
            if (value.back().isHighSurrogate()) value.chop(1);
        }
        return value.toString();
    });
}

int IniFile::ReadInteger(const QString& section, const QString& key, int def) const {
    return withDoc([&](const Doc& d) {
        const Line* l = findKey(d, section, key);
        const std::optional<int> n = l ? parseInteger(d.valueOf(*l)) : std::nullopt;
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
    const QString sec = section.trimmed();
    const QStringView wanted = QStringView(key).trimmed();
    const QStringView val = singleLine(value);
    const quint32 hash = foldedHash(wanted);
    modify([&](Doc& doc) {
        const QList<qsizetype>& found = doc.chunksOf(sec);
        for (qsizetype ci : found) {
            Chunk& c = doc.chunks[size_t(ci)];
            const qint32 i = doc.findIn(c, hash, wanted);
            if (i < 0) continue;
            const Line& l = c.lines.at(i);
            // A line that already reads "name=value" stays as it is, and its chunk is not
            // copied away from the file's.
            if (l.nameOff == 0 && l.eq == l.nameLen && doc.valueOf(l) == val) return true;
            c.lines[i] = doc.ownLine(keyLine(doc.nameOf(l), val), l.own);
            return true;
        }
        if (!found.isEmpty()) {
            // After the last non-blank line of the first section of this name; only blank
            // lines follow it, so no key moves.
            Chunk& c = doc.chunks[size_t(found.first())];
            qsizetype insertAt = qsizetype(c.lines.size());
            while (insertAt > 0 && c.lines.at(insertAt - 1).blank)
                --insertAt;
            const Line l = doc.ownLine(keyLine(wanted, val));
            doc.addKey(c, l, qint32(insertAt));
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
        return true;
    });
}
