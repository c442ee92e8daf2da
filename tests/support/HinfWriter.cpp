#include "HinfWriter.h"

#include <QtEndian>

#include <zlib.h>

#include "Cp1252.h"

namespace {

QByteArray deflateWith(const QByteArray& content, int windowBits) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&z, uLong(content.size()))) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.constData()));
    z.avail_in = uInt(content.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}

} // namespace

HinfWriter& HinfWriter::Int(qint32 v) {
    char bytes[4];
    qToLittleEndian(v, bytes);
    content_.append(bytes, 4);
    return *this;
}

HinfWriter& HinfWriter::Str(const QString& text) {
    const QByteArray bytes = Cp1252::Encode(text);
    Int(qint32(bytes.size()));
    content_.append(bytes);
    return *this;
}

HinfWriter& HinfWriter::Raw(const QByteArray& bytes) {
    content_.append(bytes);
    return *this;
}

HinfWriter HinfWriter::Head(qint32 moduleCount) {
    HinfWriter w;
    w.Int(moduleCount).Str("").Str("").Str("");
    return w;
}

HinfWriter HinfWriter::Info(const QList<HinfModule>& modules) {
    HinfWriter w;
    w.Int(qint32(modules.size())).Str("h2").Str("h3").Str("h4");
    for (const HinfModule& m : modules) {
        w.Str(m.name).Str("run").Str(m.description).Str(m.history).Str("").Str("").Str("");
        w.Int(qint32(m.files.size()));
        for (const HinfFile& f : m.files)
            w.Str(f.name)
                .Str(f.destination)
                .Str(f.version)
                .Str(f.date)
                .Str(f.archive)
                .Str(f.size)
                .Str(f.marker)
                .Str(f.service)
                .Str("");
    }
    return w;
}

QByteArray HinfWriter::Compressed() const {
    return ZlibStream(content_);
}

QByteArray ZlibStream(const QByteArray& content) {
    return deflateWith(content, 15);
}

QByteArray GzipStream(const QByteArray& content) {
    return deflateWith(content, 15 + 16);
}
