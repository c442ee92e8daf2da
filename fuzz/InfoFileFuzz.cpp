// Feeds arbitrary bytes to the information-file reader. The first byte chooses whether the rest
// is taken as the fetched body (a zlib stream, mostly broken) or as the inflated content, which
// is then compressed first so the fuzzer can reach the record parsing.
#include <cstddef>
#include <cstdint>

#include <zlib.h>

#include "InfoFile.h"

namespace {

QByteArray compress(const QByteArray& content) {
    uLongf size = compressBound(uLong(content.size()));
    QByteArray out(qsizetype(size), '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                  reinterpret_cast<const Bytef*>(content.constData()), uLong(content.size()),
                  1) != Z_OK)
        return {};
    out.resize(qsizetype(size));
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const QByteArray rest(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    const QByteArray body = data[0] & 1 ? rest : compress(rest);
    try {
        InfoFileReader reader(body);
        InfoModuleRecord module;
        InfoFileRecord file;
        while (reader.NextModule(&module)) {
            while (reader.NextFile(&file)) {
                try {
                    ParseInfoSize(file.size);
                } catch (const InfoFileError&) {
                }
                ParseInfoDate(file.date);
            }
        }
    } catch (const InfoFileError&) {
    }
    return 0;
}
