#include "IniFile.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

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

// "[Name]" -> Name. A header without its closing bracket still opens a section.
bool parseSection(const QString& line, QString* name) {
    const QString t = line.trimmed();
    if (!t.startsWith(u'[')) return false;
    const qsizetype close = t.indexOf(u']');
    *name = t.mid(1, close < 0 ? -1 : close - 1).trimmed();
    return true;
}

// "key=value": the first '=' splits; the value stays as written. Lines starting with ';'
// are comments.
bool parseKey(const QString& line, QString* key, QString* value = nullptr) {
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0) return false;
    const QString k = line.left(eq).trimmed();
    if (k.isEmpty() || k.startsWith(u';')) return false;
    *key = k;
    if (value) *value = line.mid(eq + 1);
    return true;
}

bool same(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Calls f(index, key, value) for every key line of every section with this name, in file order;
// stops when f returns false.
template <typename F> void forEachKey(const QStringList& lines, const QString& section, F f) {
    const QString wanted = section.trimmed();
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString name, key, value;
        if (parseSection(lines[i], &name)) {
            inSection = same(name, wanted);
        } else if (inSection && parseKey(lines[i], &key, &value)) {
            if (!f(i, key, value)) return;
        }
    }
}

// The key's value, or nothing; the first of duplicate lines wins, as on Windows.
std::optional<QString> findValue(const QStringList& lines, const QString& section,
                                 const QString& key) {
    std::optional<QString> found;
    const QString wanted = key.trimmed();
    forEachKey(lines, section, [&](qsizetype, const QString& k, const QString& v) {
        if (!same(k, wanted)) return true;
        found = v;
        return false;
    });
    return found;
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

IniFile::IniFile(QString fileName) : fileName_(std::move(fileName)) {}

QStringList IniFile::readLines() const {
    QFile file(fileName_);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QByteArray bytes = file.readAll();
    QString text;
    if (encoding_ == Encoding::Latin1252) {
        text = Cp1252::Decode(bytes);
    } else {
        if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
        text = QString::fromUtf8(bytes);
    }
    QStringList lines = text.split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    for (QString& line : lines) {
        if (line.endsWith(u'\r')) line.chop(1);
    }
    return lines;
}

void IniFile::writeLines(const QStringList& lines) {
    QString text;
    for (const QString& line : lines)
        text += line + QStringLiteral("\r\n");
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

    QByteArray tempPath;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tempPath =
            targetPath + ".tmp" + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        fd = ::open(tempPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) throw IniWriteError(fileName_);

    bool ok = true;
    for (qsizetype done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        done += n;
    }
    if (ok && ownerOnly_)
        ok = ::fchmod(fd, 0600) == 0;
    else if (ok && exists && S_ISREG(old.st_mode))
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    if (!ok) ::close(fd);
    if (!ok || !SafeFile::CommitTemp(fd, tempPath, targetPath)) {
        ::unlink(tempPath.constData());
        throw IniWriteError(fileName_);
    }
}

QString IniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
    const std::optional<QString> v = findValue(readLines(), section, key);
    if (!v) return def;
    QString value = *v;
    if (value.size() > MaxValueLength) {
        value.truncate(MaxValueLength);
        if (value.back().isHighSurrogate()) value.chop(1);
    }
    return value;
}

int IniFile::ReadInteger(const QString& section, const QString& key, int def) const {
    const std::optional<QString> v = findValue(readLines(), section, key);
    const std::optional<int> n = v ? parseInteger(*v) : std::nullopt;
    return n.value_or(def);
}

bool IniFile::ReadBool(const QString& section, const QString& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool IniFile::ValueExists(const QString& section, const QString& key) const {
    return findValue(readLines(), section, key).has_value();
}

// A section without keys counts as missing, as the programs expect.
bool IniFile::SectionExists(const QString& section) const {
    return !ReadSection(section).isEmpty();
}

QStringList IniFile::ReadSection(const QString& section) const {
    QStringList keys;
    forEachKey(readLines(), section, [&](qsizetype, const QString& k, const QString&) {
        if (!keys.contains(k, Qt::CaseInsensitive)) keys.append(k);
        return true;
    });
    return keys;
}

QStringList IniFile::ReadSections() const {
    QStringList sections;
    for (const QString& line : readLines()) {
        QString name;
        if (parseSection(line, &name) && !sections.contains(name, Qt::CaseInsensitive))
            sections.append(name);
    }
    return sections;
}

void IniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    QStringList lines = readLines();
    const QString sec = section.trimmed();
    const QString wanted = key.trimmed();
    const QString val = singleLine(value);

    qsizetype existing = -1;
    forEachKey(lines, sec, [&](qsizetype i, const QString& k, const QString&) {
        if (!same(k, wanted)) return true;
        existing = i;
        return false;
    });
    if (existing >= 0) {
        QString k;
        parseKey(lines[existing], &k);
        lines[existing] = k + u'=' + val;
        writeLines(lines);
        return;
    }

    // Append after the last non-blank line of the first section of this name.
    qsizetype insertAt = -1;
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString name;
        if (parseSection(lines[i], &name)) {
            if (insertAt >= 0) break;
            inSection = same(name, sec);
            if (inSection) insertAt = i + 1;
        } else if (inSection && !lines[i].trimmed().isEmpty()) {
            insertAt = i + 1;
        }
    }
    if (insertAt >= 0) {
        lines.insert(insertAt, wanted + u'=' + val);
    } else {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty()) lines.append(QString());
        lines.append(u'[' + sec + u']');
        lines.append(wanted + u'=' + val);
    }
    writeLines(lines);
}

void IniFile::WriteInteger(const QString& section, const QString& key, int value) {
    WriteString(section, key, QString::number(value));
}

void IniFile::WriteBool(const QString& section, const QString& key, bool value) {
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void IniFile::DeleteKey(const QString& section, const QString& key) {
    QStringList lines = readLines();
    const QString wanted = key.trimmed();
    QList<qsizetype> doomed;
    forEachKey(lines, section, [&](qsizetype i, const QString& k, const QString&) {
        if (same(k, wanted)) doomed.append(i);
        return true;
    });
    if (doomed.isEmpty()) return;
    for (auto it = doomed.crbegin(); it != doomed.crend(); ++it)
        lines.removeAt(*it);
    writeLines(lines);
}

void IniFile::EraseSection(const QString& section) {
    const QStringList lines = readLines();
    const QString wanted = section.trimmed();
    QStringList kept;
    bool erasing = false;
    for (const QString& line : lines) {
        QString name;
        if (parseSection(line, &name)) erasing = same(name, wanted);
        if (!erasing) kept.append(line);
    }
    if (kept.size() != lines.size()) writeLines(kept);
}
