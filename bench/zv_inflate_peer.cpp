// The peer of the updater's unpack: zlib's inflate of one stream from ARCHIVE into TARGET in
// 1 MiB reads and writes, then fsync of TARGET. No temporary name, no checks beyond zlib's.
// Usage: zv_inflate_peer ARCHIVE TARGET
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zv_inflate_peer ARCHIVE TARGET\n");
        return 2;
    }
    const int in = open(argv[1], O_RDONLY | O_CLOEXEC);
    const int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (in < 0 || out < 0) return 1;
    constexpr size_t Block = 1024 * 1024;
    std::vector<unsigned char> input(Block), output(Block);
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return 1;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (z.avail_in == 0) {
            const ssize_t n = read(in, input.data(), Block);
            if (n <= 0) return 1;
            z.next_in = input.data();
            z.avail_in = uInt(n);
        }
        z.next_out = output.data();
        z.avail_out = uInt(Block);
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) return 1;
        const size_t produced = Block - z.avail_out;
        if (produced > 0 && write(out, output.data(), produced) != ssize_t(produced)) return 1;
    }
    inflateEnd(&z);
    if (fsync(out) != 0 || close(out) != 0) return 1;
    close(in);
    return 0;
}
