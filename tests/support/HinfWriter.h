#pragma once
// Writes update servers' files for the tests: information files (counts and length-prefixed
// Windows-1252 texts in one zlib stream) and update archives (one zlib stream each).
#include <QByteArray>
#include <QList>
#include <QString>

struct HinfFile {
    QString name, destination, version, date, archive, size, marker, service;
};
struct HinfModule {
    QString name, description, history;
    QList<HinfFile> files;
};

class HinfWriter {
public:
    HinfWriter& Int(qint32 v);
    HinfWriter& Str(const QString& text);
    // A length field followed by whatever bytes, for files that lie about their lengths.
    HinfWriter& Raw(const QByteArray& bytes);

    // The module count and the file's three header texts, left empty.
    static HinfWriter Head(qint32 moduleCount);
    // The whole information file of these modules.
    static HinfWriter Info(const QList<HinfModule>& modules);

    const QByteArray& Content() const { return content_; }
    QByteArray Compressed() const;

private:
    QByteArray content_;
};

QByteArray ZlibStream(const QByteArray& content);
QByteArray GzipStream(const QByteArray& content);
