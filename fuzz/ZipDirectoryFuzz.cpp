// Reads arbitrary bytes as an archive both ways: whatever the directory reading lists, the ZIP
// library must open too, and it must read every entry alike (dates included, so run it in a
// zone with changes of the clocks as well, e.g. TZ=Europe/Berlin).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>
#include <zip.h>

#include "ZipDirectory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = memfd_create("archive", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, data, size) != ssize_t(size)) std::abort();
    QList<ZipEntry> listed;
    const bool read = ZipDirectory::Read(fd, listed);
    ::close(fd);
    if (!read) return 0;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(data, size, 0, &error);
    zip_t* archive = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
    if (!archive || zip_get_num_entries(archive, 0) != listed.size()) std::abort();
    for (qsizetype i = 0; i < listed.size(); ++i)
        if (ZipDirectory::LibraryEntry(archive, i) != listed[i]) std::abort();
    zip_discard(archive);
    zip_error_fini(&error);
    return 0;
}
