#include "InfoFile.h"

#include <QRegularExpression>
#include <QtEndian>

#include <limits>
#include <zlib.h>

#include "Cp1252.h"

namespace {

const QString FileLabel = QStringLiteral("Die Infodatei iup.hinf");

// The smallest records the counts can announce: every text takes at least its length.
constexpr qsizetype MinModuleRecord = 8 * 4;
constexpr qsizetype MinFileRecord = 9 * 4;

QByteArray inflateAll(const QByteArray& body) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        throw InfoFileError(FileLabel + QStringLiteral(" kann nicht entpackt werden."));
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.constData()));
    z.avail_in = uInt(body.size());
    QByteArray out;
    char chunk[65536];
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        z.next_out = reinterpret_cast<Bytef*>(chunk);
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        const qsizetype produced = qsizetype(sizeof chunk - z.avail_out);
        if (rc == Z_NEED_DICT || rc == Z_DATA_ERROR || rc == Z_STREAM_ERROR || rc == Z_MEM_ERROR) {
            const QString why = z.msg ? QString::fromLatin1(z.msg) : QStringLiteral("error");
            inflateEnd(&z);
            throw InfoFileError(FileLabel + QStringLiteral(" ist beschädigt (") + why +
                                QStringLiteral(")."));
        }
        if (out.size() + produced > InfoFileReader::MaxInflatedSize) {
            inflateEnd(&z);
            throw InfoFileError(FileLabel +
                                QStringLiteral(" ist entpackt größer als %1 MiB.")
                                    .arg(InfoFileReader::MaxInflatedSize / (1024 * 1024)));
        }
        out.append(chunk, produced);
        if (rc == Z_BUF_ERROR || (rc == Z_OK && z.avail_in == 0 && produced == 0)) {
            inflateEnd(&z);
            throw InfoFileError(FileLabel +
                                QStringLiteral(" ist unvollständig: der zlib-Strom bricht ab."));
        }
    }
    const bool trailing = z.avail_in > 0;
    inflateEnd(&z);
    if (trailing)
        throw InfoFileError(FileLabel +
                            QStringLiteral(" hat Daten nach dem Ende des zlib-Stroms."));
    return out;
}

bool isReservedDeviceName(const QString& name) {
    const QString base = name.section(u'.', 0, 0).trimmed().toUpper();
    static const QStringList fixed = {QStringLiteral("CON"), QStringLiteral("PRN"),
                                      QStringLiteral("AUX"), QStringLiteral("NUL")};
    if (fixed.contains(base)) return true;
    return base.size() == 4 &&
           (base.startsWith(QStringLiteral("COM")) || base.startsWith(QStringLiteral("LPT"))) &&
           base[3] >= u'1' && base[3] <= u'9';
}

} // namespace

InfoFileError::InfoFileError(const QString& text) : std::runtime_error(text.toStdString()) {}

InfoFileReader::InfoFileReader(const QByteArray& body) {
    if (body.isEmpty()) return; // what a failed fetch leaves: no modules
    data_ = inflateAll(body);
    const qint32 count = readInt("Modulanzahl");
    for (int i = 0; i < 3; ++i)
        readString("Kopftext");
    if (count <= 0) return;
    const qsizetype left = data_.size() - pos_;
    if (count > left / MinModuleRecord)
        fail(QStringLiteral(
                 "ist unvollständig: sie kündigt %1 Module an, hat aber nur noch %2 Bytes")
                 .arg(count)
                 .arg(left));
    moduleCount_ = count;
}

bool InfoFileReader::NextModule(InfoModuleRecord* module) {
    skipFileRecords();
    if (modulesRead_ >= moduleCount_) return false;
    ++modulesRead_;
    filesRead_ = 0;
    filesInModule_ = 0;
    module->name = readString("Modulname");
    module->text = readString("Modultext");
    module->description = readString("Beschreibung");
    module->history = readString("Historie");
    for (int i = 0; i < 3; ++i)
        readString("Modultext");
    const qint32 count = readInt("Dateianzahl");
    const qsizetype left = data_.size() - pos_;
    if (count > 0 && count > left / MinFileRecord)
        fail(QStringLiteral(
                 "ist unvollständig: sie kündigt %1 Dateien an, hat aber nur noch %2 Bytes")
                 .arg(count)
                 .arg(left));
    filesInModule_ = count > 0 ? count : 0;
    module->fileCount = filesInModule_;
    return true;
}

bool InfoFileReader::NextFile(InfoFileRecord* file) {
    if (filesRead_ >= filesInModule_) return false;
    ++filesRead_;
    file->fileName = readString("Dateiname");
    file->destination = readString("Ziel");
    file->version = readString("Version");
    file->date = readString("Datum");
    file->archive = readString("Archiv");
    file->size = readString("Größe");
    file->marker = readString("Markierung");
    file->service = readString("Service");
    readString("Dateitext");
    if (const QString why = FileNameProblem(file->fileName); !why.isEmpty())
        fail(QStringLiteral("nennt den unzulässigen Dateinamen \"%1\" (%2)")
                 .arg(file->fileName, why));
    if (const QString why = FileNameProblem(file->archive); !why.isEmpty())
        fail(QStringLiteral("nennt den unzulässigen Archivnamen \"%1\" (%2)")
                 .arg(file->archive, why));
    return true;
}

void InfoFileReader::skipFileRecords() {
    InfoFileRecord ignored;
    while (NextFile(&ignored)) {
    }
}

qint32 InfoFileReader::readInt(const char* field) {
    if (data_.size() - pos_ < 4)
        fail(QStringLiteral("ist unvollständig: das Feld %1 fehlt").arg(QString::fromUtf8(field)));
    const qint32 v = qFromLittleEndian<qint32>(data_.constData() + pos_);
    pos_ += 4;
    return v;
}

QString InfoFileReader::readString(const char* field) {
    const qint32 n = readInt(field);
    if (n <= 0) return {};
    const qsizetype left = data_.size() - pos_;
    if (n > left)
        fail(QStringLiteral("ist unvollständig: das Feld %1 soll %2 Bytes lang sein, es bleiben "
                            "aber nur %3")
                 .arg(QString::fromUtf8(field))
                 .arg(n)
                 .arg(left));
    const QString s = Cp1252::Decode(data_.mid(pos_, n));
    pos_ += n;
    return s;
}

QString InfoFileReader::where() const {
    if (modulesRead_ == 0) return QStringLiteral("im Kopf");
    if (filesRead_ == 0) return QStringLiteral("bei Modul %1").arg(modulesRead_);
    return QStringLiteral("bei Modul %1, Datei %2").arg(modulesRead_).arg(filesRead_);
}

void InfoFileReader::fail(const QString& problem) const {
    throw InfoFileError(FileLabel + u' ' + problem + u' ' + where() + u'.');
}

QString FileNameProblem(const QString& name) {
    if (name.isEmpty()) return QStringLiteral("leer");
    if (name.contains(QStringLiteral(".."))) return QStringLiteral("enthält \"..\"");
    for (QChar c : name) {
        if (c == u'/' || c == u'\\') return QStringLiteral("enthält einen Pfad");
        if (c == u':') return QStringLiteral("enthält ein Laufwerk oder \":\"");
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return QStringLiteral("enthält Steuerzeichen");
        if (QStringLiteral("<>\"|?*").contains(c))
            return QStringLiteral("enthält das Zeichen %1").arg(c);
    }
    if (name.endsWith(u' ') || name.endsWith(u'.'))
        return QStringLiteral("endet mit einem Leerzeichen oder Punkt");
    if (isReservedDeviceName(name)) return QStringLiteral("ist ein Gerätename");
    return {};
}

qint64 ParseInfoSize(const QString& text) {
    if (text.isEmpty()) return 1;
    QString digits = text;
    digits.remove(u'.');
    bool ok = !digits.isEmpty();
    for (QChar c : digits)
        ok = ok && c >= u'0' && c <= u'9';
    const qint64 v = ok ? digits.toLongLong(&ok) : 0;
    if (!ok || v > std::numeric_limits<qint32>::max())
        throw InfoFileError(QStringLiteral("\"%1\" ist keine gültige Größe.").arg(text));
    return v;
}

std::optional<QDateTime> ParseInfoDate(const QString& text) {
    // What a German-locale text-to-date conversion takes: d.M.yy or dd.MM.yyyy, then maybe
    // h:mm or hh:mm:ss.
    static const QRegularExpression form(QStringLiteral(
        R"(^(\d{1,2})\.(\d{1,2})\.(\d{2}|\d{4})(?:\s+(\d{1,2}):(\d{2})(?::(\d{2}))?)?$)"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch()) return std::nullopt;
    int year = m.captured(3).toInt();
    // Two digits: the usual Windows window, 00 to 29 this century, 30 to 99 the last.
    if (m.capturedLength(3) == 2) year += year < 30 ? 2000 : 1900;
    const QDate date(year, m.captured(2).toInt(), m.captured(1).toInt());
    if (!date.isValid()) return std::nullopt;
    if (!m.hasCaptured(4)) return date.startOfDay();
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(),
                     m.hasCaptured(6) ? m.captured(6).toInt() : 0);
    if (!time.isValid()) return std::nullopt;
    return QDateTime(date, time);
}

QString FormatInfoDate(const QDateTime& when) {
    if (when.time() == QTime(0, 0)) return when.toString(QStringLiteral("dd.MM.yyyy"));
    return when.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
}
