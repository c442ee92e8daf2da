#include "ZipWriter.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <libdeflate.h>
#include <mutex>
#include <nettle/aes.h>
#include <nettle/hmac.h>
#include <nettle/sha1.h>
#include <sys/random.h>
#include <sys/uio.h>
#include <thread>
#include <unistd.h>
#include <zlib.h>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#include <immintrin.h>
#include <utility>
#define ZV_SHA_LANES 1
#else
#define ZV_SHA_LANES 0
#endif

#include "FileNames.h"
#include "SafeFile.h"

namespace {

constexpr qint64 Max32 = 0xFFFFFFFFll;
constexpr qsizetype BufferSize = 256 * 1024;

void le16(QByteArray& b, quint32 v) {
    b.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
}
void le32(QByteArray& b, quint32 v) {
    le16(b, v & 0xFFFF);
    le16(b, v >> 16);
}
void le64(QByteArray& b, quint64 v) {
    le32(b, quint32(v & 0xFFFFFFFFu));
    le32(b, quint32(v >> 32));
}

// MS-DOS date and time in local time, clamped to the range the format holds.
quint32 DosTime(qint64 t) {
    const time_t tt = time_t(t);
    struct tm tm {};
    if (!localtime_r(&tt, &tm) || tm.tm_year < 80) return 0x00210000u; // 1980-01-01 00:00
    if (tm.tm_year > 207) return 0xFF9FBF7Du;                          // 2107-12-31 23:59:58
    return quint32(tm.tm_year - 80) << 25 | quint32(tm.tm_mon + 1) << 21 |
           quint32(tm.tm_mday) << 16 | quint32(tm.tm_hour) << 11 | quint32(tm.tm_min) << 5 |
           quint32(tm.tm_sec / 2);
}

// Deflate can grow incompressible data a little: 5 bytes per stored block of 16 KiB, and each
// piece of a large file adds its flush.
qint64 PackedBound(const TZipEntryHeader& h) {
    qint64 n = h.Size;
    if (h.Deflated) n += h.Size / 16384 * 5 + h.Size / (256 * 1024) * 16 + 64;
    if (h.Encrypted) n += AesOverhead;
    return n;
}

} // namespace

// ---------------------------------------------------------------------------------------------

struct TDeflater::Stream {
    libdeflate_compressor* whole = nullptr;
    libdeflate_compressor* pieces = nullptr;
    z_stream walk{}; // reads a piece's blocks back to find its last one
    bool walkReady = false;
    QByteArray junk;

    ~Stream() {
        libdeflate_free_compressor(whole);
        libdeflate_free_compressor(pieces);
        if (walkReady) inflateEnd(&walk);
    }
};

TDeflater::TDeflater() : s_(std::make_unique<Stream>()) {
    s_->whole = libdeflate_alloc_compressor(WholeFileLevel);
    s_->pieces = libdeflate_alloc_compressor(PieceLevel);
    s_->walkReady = inflateInit2(&s_->walk, -15) == Z_OK;
    if (!s_->whole || !s_->pieces || !s_->walkReady) throw std::bad_alloc();
    s_->junk.resize(64 * 1024);
}

TDeflater::~TDeflater() = default;

// libdeflate ends every stream with a final block and pads its last byte. To let the next
// piece follow, the piece is decoded block by block (the decoder says where each block ends,
// to the bit), the final flag of its last block is cleared, and an empty stored block brings
// the stream to a byte boundary, as a full flush would.
void TDeflater::reopen(QByteArray& out, qsizetype start) {
    z_stream& z = s_->walk;
    inflateReset(&z);
    const qsizetype n = out.size() - start;
    const uint8_t* const begin = reinterpret_cast<const uint8_t*>(out.constData() + start);
    z.next_in = const_cast<uint8_t*>(begin);
    z.avail_in = uInt(n);
    qsizetype header = 0; // byte and bit of the current block's final flag
    unsigned flag = 1;
    for (;;) {
        z.next_out = reinterpret_cast<Bytef*>(s_->junk.data());
        z.avail_out = uInt(s_->junk.size());
        const int r = inflate(&z, Z_BLOCK);
        if (r != Z_OK) throw std::runtime_error("deflate");
        if (z.data_type & 128) {
            if (z.data_type & 64) break; // the last block has ended
            const int unused = z.data_type & 7;
            header = (z.next_in - begin) - (unused ? 1 : 0);
            flag = unused ? 0x100u >> unused : 1u;
        } else if (z.avail_in == 0 && z.avail_out != 0) {
            throw std::runtime_error("deflate");
        }
    }
    const int unused = z.data_type & 7;
    if (z.next_in - begin != n || n == 0) throw std::runtime_error("deflate");
    char* p = out.data() + start;
    p[header] = char(uint8_t(p[header]) & ~flag);
    p[n - 1] = char(uint8_t(p[n - 1]) & (0xFFu >> unused)); // padding bits become zero
    // A stored block's three header bits fit into the padding or spill into one more byte.
    if (unused < 3) out.append('\0');
    out.append("\0\0\xff\xff", 4);
}

void TDeflater::Piece(const QByteArray& dictionary, const char* data, qint64 size, bool last,
                      QByteArray& out) {
    // A file in one piece is one complete stream. The pieces of a split file are each
    // compressed on their own (libdeflate takes no preset bytes; that costs a fraction of a
    // percent at 1 MiB pieces) and joined.
    libdeflate_compressor* c = dictionary.isEmpty() && last ? s_->whole : s_->pieces;
    const qsizetype start = out.size();
    const size_t bound = libdeflate_deflate_compress_bound(c, size_t(size));
    out.resize(start + qsizetype(bound));
    const size_t n = libdeflate_deflate_compress(c, data, size_t(size), out.data() + start, bound);
    if (n == 0) throw std::runtime_error("deflate");
    out.resize(start + qsizetype(n));
    if (!last) reopen(out, start);
}

// ---------------------------------------------------------------------------------------------

// Every entry's keys take thousands of HMAC rounds over a 20-byte value. Each round is exactly
// two compressions of one padded block, from the inner and the outer key's states, which are
// the same for every round; done on the compression function directly, the key derivation
// takes a third less time than through the generic HMAC calls.
namespace {

void putBe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

void stateToBytes(const uint32_t* state, uint8_t* out) {
    for (int i = 0; i < 5; ++i)
        putBe32(out + 4 * i, state[i]);
}

// The hash states after the inner and the outer padded key of an HMAC with this password.
void paddedKeyStates(const QByteArray& password, sha1_ctx& inner, sha1_ctx& outer) {
    uint8_t key[SHA1_BLOCK_SIZE] = {};
    if (password.size() > SHA1_BLOCK_SIZE) {
        sha1_ctx c;
        sha1_init(&c);
        sha1_update(&c, size_t(password.size()), reinterpret_cast<const uint8_t*>(password.data()));
        sha1_digest(&c, SHA1_DIGEST_SIZE, key);
    } else {
        std::memcpy(key, password.constData(), size_t(password.size()));
    }
    sha1_init(&inner);
    sha1_init(&outer);
    uint8_t pad[SHA1_BLOCK_SIZE];
    for (int i = 0; i < SHA1_BLOCK_SIZE; ++i)
        pad[i] = key[i] ^ 0x36;
    sha1_update(&inner, sizeof pad, pad);
    for (int i = 0; i < SHA1_BLOCK_SIZE; ++i)
        pad[i] = key[i] ^ 0x5c;
    sha1_update(&outer, sizeof pad, pad);
}

} // namespace

QByteArray Pbkdf2Sha1Portable(const QByteArray& password, const QByteArray& salt, int iterations,
                              int length) {
    sha1_ctx inner, outer;
    paddedKeyStates(password, inner, outer);
    // A 20-byte message after one block of key: its padding and bit length never change.
    uint8_t block[SHA1_BLOCK_SIZE] = {};
    block[SHA1_DIGEST_SIZE] = 0x80;
    putBe32(block + SHA1_BLOCK_SIZE - 4, (SHA1_BLOCK_SIZE + SHA1_DIGEST_SIZE) * 8);

    QByteArray out;
    for (uint32_t n = 1; out.size() < length; ++n) {
        uint8_t u[SHA1_DIGEST_SIZE], t[SHA1_DIGEST_SIZE], count[4];
        putBe32(count, n);
        sha1_ctx c = inner;
        sha1_update(&c, size_t(salt.size()), reinterpret_cast<const uint8_t*>(salt.data()));
        sha1_update(&c, sizeof count, count);
        sha1_digest(&c, sizeof u, u);
        c = outer;
        sha1_update(&c, sizeof u, u);
        sha1_digest(&c, sizeof u, u);
        std::memcpy(t, u, sizeof t);
        for (int i = 1; i < iterations; ++i) {
            uint32_t state[5];
            std::memcpy(block, u, sizeof u);
            std::memcpy(state, inner.state, sizeof state);
            nettle_sha1_compress(state, block);
            stateToBytes(state, block);
            std::memcpy(state, outer.state, sizeof state);
            nettle_sha1_compress(state, block);
            stateToBytes(state, u);
            for (int j = 0; j < SHA1_DIGEST_SIZE; ++j)
                t[j] ^= u[j];
        }
        out.append(reinterpret_cast<const char*>(t),
                   qMin<qsizetype>(SHA1_DIGEST_SIZE, length - out.size()));
    }
    return out;
}

#if ZV_SHA_LANES
namespace {

// The instructions keep A..D in one register (A in the highest lane) and E in the highest lane
// of another. One step does four rounds; the message schedule runs three steps ahead.
struct Lanes {
    __m128i abcd[4], e[4], prev[4], m[4][4];
};

template <int G> [[gnu::target("sha,sse4.1"), gnu::always_inline]] inline void Step(Lanes& s) {
    for (int l = 0; l < 4; ++l) {
        __m128i w;
        if constexpr (G == 0)
            w = _mm_add_epi32(s.e[l], s.m[l][0]);
        else
            w = _mm_sha1nexte_epu32(s.prev[l], s.m[l][G % 4]);
        s.prev[l] = s.abcd[l];
        s.abcd[l] = _mm_sha1rnds4_epu32(s.abcd[l], w, G / 5);
        if constexpr (G >= 1 && G <= 16)
            s.m[l][(G + 3) % 4] = _mm_sha1msg1_epu32(s.m[l][(G + 3) % 4], s.m[l][G % 4]);
        if constexpr (G >= 2 && G <= 17)
            s.m[l][(G + 2) % 4] = _mm_xor_si128(s.m[l][(G + 2) % 4], s.m[l][G % 4]);
        if constexpr (G >= 3 && G <= 18)
            s.m[l][(G + 1) % 4] = _mm_sha1msg2_epu32(s.m[l][(G + 1) % 4], s.m[l][G % 4]);
    }
}

template <int... G>
[[gnu::target("sha,sse4.1"), gnu::always_inline]] inline void
Steps(Lanes& s, std::integer_sequence<int, G...>) {
    (Step<G>(s), ...);
}

// One HMAC round on four independent chains: each lane's 20-byte value (its state registers)
// becomes the message of the inner compression, whose result is the outer one's message.
[[gnu::target("sha,sse4.1"), gnu::always_inline]] inline void
HmacRound(Lanes& s, __m128i innerAbcd, __m128i innerE, __m128i outerAbcd, __m128i outerE) {
    const __m128i high = _mm_set_epi32(-1, 0, 0, 0);
    const __m128i pad = _mm_set_epi32(0, int(0x80000000u), 0, 0);
    const __m128i length = _mm_set_epi32(0, 0, 0, (SHA1_BLOCK_SIZE + SHA1_DIGEST_SIZE) * 8);
    for (int half = 0; half < 2; ++half) {
        const __m128i abcd = half ? outerAbcd : innerAbcd, e = half ? outerE : innerE;
        for (int l = 0; l < 4; ++l) {
            s.m[l][0] = s.abcd[l];
            s.m[l][1] = _mm_or_si128(_mm_and_si128(s.e[l], high), pad);
            s.m[l][2] = _mm_setzero_si128();
            s.m[l][3] = length;
            s.abcd[l] = abcd;
            s.e[l] = e;
        }
        Steps(s, std::make_integer_sequence<int, 20>());
        for (int l = 0; l < 4; ++l) {
            s.abcd[l] = _mm_add_epi32(s.abcd[l], abcd);
            s.e[l] = _mm_sha1nexte_epu32(s.prev[l], e);
        }
    }
}

__m128i AbcdOf(const uint32_t* w) {
    return _mm_set_epi32(int(w[0]), int(w[1]), int(w[2]), int(w[3]));
}
__m128i EOf(const uint32_t* w) {
    return _mm_set_epi32(int(w[4]), 0, 0, 0);
}

// The iterations after the first for up to four output blocks at once; u holds each block's
// first value as words and receives the XOR of all of them.
[[gnu::target("sha,sse4.1")]] void IterateLanes(const sha1_ctx& inner, const sha1_ctx& outer,
                                                int iterations, uint32_t (&u)[4][5]) {
    Lanes s;
    __m128i tAbcd[4], tE[4];
    for (int l = 0; l < 4; ++l) {
        s.abcd[l] = tAbcd[l] = AbcdOf(u[l]);
        s.e[l] = tE[l] = EOf(u[l]);
    }
    const __m128i ia = AbcdOf(inner.state), ie = EOf(inner.state);
    const __m128i oa = AbcdOf(outer.state), oe = EOf(outer.state);
    for (int i = 1; i < iterations; ++i) {
        HmacRound(s, ia, ie, oa, oe);
        for (int l = 0; l < 4; ++l) {
            tAbcd[l] = _mm_xor_si128(tAbcd[l], s.abcd[l]);
            tE[l] = _mm_xor_si128(tE[l], s.e[l]);
        }
    }
    for (int l = 0; l < 4; ++l) {
        u[l][0] = uint32_t(_mm_extract_epi32(tAbcd[l], 3));
        u[l][1] = uint32_t(_mm_extract_epi32(tAbcd[l], 2));
        u[l][2] = uint32_t(_mm_extract_epi32(tAbcd[l], 1));
        u[l][3] = uint32_t(_mm_extract_epi32(tAbcd[l], 0));
        u[l][4] = uint32_t(_mm_extract_epi32(tE[l], 3));
    }
}

bool HasShaInstructions() {
    static const bool has = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSE4_1)) return false;
        return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_SHA);
    }();
    return has;
}

} // namespace
#endif

bool Pbkdf2Sha1Accelerated() {
#if ZV_SHA_LANES
    return HasShaInstructions();
#else
    return false;
#endif
}

// With the processor's hash instructions, four output blocks (the 66 bytes of an entry's
// keys) run their chains side by side: one chain's rounds wait on their own results, so four
// of them fill the time a single one leaves idle.
QByteArray Pbkdf2Sha1(const QByteArray& password, const QByteArray& salt, int iterations,
                      int length) {
    if (!Pbkdf2Sha1Accelerated() || iterations < 1)
        return Pbkdf2Sha1Portable(password, salt, iterations, length);
#if ZV_SHA_LANES
    sha1_ctx inner, outer;
    paddedKeyStates(password, inner, outer);

    QByteArray out;
    for (uint32_t first = 1; out.size() < length; first += 4) {
        uint32_t u[4][5];
        for (uint32_t l = 0; l < 4; ++l) {
            uint8_t bytes[SHA1_DIGEST_SIZE], count[4];
            putBe32(count, first + l);
            sha1_ctx c = inner;
            sha1_update(&c, size_t(salt.size()), reinterpret_cast<const uint8_t*>(salt.data()));
            sha1_update(&c, sizeof count, count);
            sha1_digest(&c, sizeof bytes, bytes);
            c = outer;
            sha1_update(&c, sizeof bytes, bytes);
            sha1_digest(&c, sizeof bytes, bytes);
            for (int w = 0; w < 5; ++w)
                u[l][w] = uint32_t(bytes[4 * w]) << 24 | uint32_t(bytes[4 * w + 1]) << 16 |
                          uint32_t(bytes[4 * w + 2]) << 8 | bytes[4 * w + 3];
        }
        IterateLanes(inner, outer, iterations, u);
        for (int l = 0; l < 4 && out.size() < length; ++l) {
            uint8_t bytes[SHA1_DIGEST_SIZE];
            stateToBytes(u[l], bytes);
            out.append(reinterpret_cast<const char*>(bytes),
                       qMin<qsizetype>(SHA1_DIGEST_SIZE, length - out.size()));
        }
    }
    return out;
#else
    return Pbkdf2Sha1Portable(password, salt, iterations, length);
#endif
}

struct TAesEncryptor::State {
    uint8_t salt[16];
    uint8_t keys[66]; // encryption key, authentication key, password verifier
    aes256_ctx cipher;
    hmac_sha1_ctx mac;
    quint64 counter = 0;
    uint8_t stream[16 * 256];
    int used = sizeof(stream); // bytes of the key stream already spent
};

TAesEncryptor::TAesEncryptor(const QByteArray& password) : s_(std::make_unique<State>()) {
    State& s = *s_;
    if (getrandom(s.salt, sizeof s.salt, 0) != ssize_t(sizeof s.salt))
        throw std::runtime_error("Zufallszahlen");
    const QByteArray keys =
        Pbkdf2Sha1(password, QByteArray(reinterpret_cast<const char*>(s.salt), sizeof s.salt), 1000,
                   sizeof s.keys);
    std::memcpy(s.keys, keys.constData(), sizeof s.keys);
    aes256_set_encrypt_key(&s.cipher, s.keys);
    hmac_sha1_set_key(&s.mac, 32, s.keys + 32);
}

TAesEncryptor::~TAesEncryptor() = default;

QByteArray TAesEncryptor::Header() const {
    QByteArray h(reinterpret_cast<const char*>(s_->salt), sizeof s_->salt);
    h.append(reinterpret_cast<const char*>(s_->keys + 64), 2);
    return h;
}

void TAesEncryptor::Encrypt(char* data, qint64 size) {
    State& s = *s_;
    uint8_t* p = reinterpret_cast<uint8_t*>(data);
    qint64 left = size;
    while (left > 0) {
        if (s.used == int(sizeof s.stream)) {
            // The counter block is a little-endian number starting at 1.
            uint8_t blocks[sizeof s.stream] = {};
            for (int b = 0; b < int(sizeof blocks) / 16; ++b) {
                const quint64 c = ++s.counter;
                for (int i = 0; i < 8; ++i)
                    blocks[b * 16 + i] = uint8_t(c >> (8 * i));
            }
            aes256_encrypt(&s.cipher, sizeof blocks, s.stream, blocks);
            s.used = 0;
        }
        const int n = int(qMin<qint64>(left, qint64(sizeof s.stream) - s.used));
        for (int i = 0; i < n; ++i)
            p[i] ^= s.stream[s.used + i];
        s.used += n;
        p += n;
        left -= n;
    }
    hmac_sha1_update(&s.mac, size_t(size), reinterpret_cast<const uint8_t*>(data));
}

QByteArray TAesEncryptor::Trailer() {
    uint8_t code[10];
    hmac_sha1_digest(&s_->mac, sizeof code, code);
    return QByteArray(reinterpret_cast<const char*>(code), sizeof code);
}

// ---------------------------------------------------------------------------------------------

namespace {
// Bytes handed over but not yet written, at most: beyond it the caller waits.
constexpr qint64 BehindLimit = qint64(16) << 20;
// The own thread is woken once this much has gathered (and by Finish), not for every piece.
constexpr qint64 BehindWake = qint64(1) << 20;
// Written bytes whose way to disk is started together.
constexpr qint64 WriteBackStep = qint64(8) << 20;
// Data at least this large is handed over as it is instead of being copied into the buffer.
constexpr qsizetype ShareFrom = 16 * 1024;
// Pieces written by one call.
constexpr size_t BatchParts = 512;
} // namespace

// The thread that writes the archive file: it takes the buffers and shared pieces in the order
// they were handed over and writes them with as few calls as it can. Their memory is freed
// here as well, away from the caller.
struct TZipWriter::Behind {
    explicit Behind(int fd) : fd_(fd), thread_([this] { loop(); }) {}
    ~Behind() {
        {
            const std::lock_guard lock(m_);
            stop_ = true;
            queue_.clear();
        }
        work_.notify_one();
        thread_.join();
    }

    // Returns the error of an earlier write (an errno value), else 0.
    int Push(QByteArray&& data) {
        std::unique_lock lock(m_);
        room_.wait(lock, [this] { return queued_ < BehindLimit || error_ != 0; });
        if (error_ != 0) return error_;
        queued_ += data.size();
        unannounced_ += data.size();
        queue_.push_back(std::move(data));
        if (unannounced_ < BehindWake || !idle_) return 0;
        unannounced_ = 0;
        lock.unlock();
        work_.notify_one();
        return 0;
    }

    // Waits until everything handed over is written; returns the error of a write, else 0.
    int Wait() {
        std::unique_lock lock(m_);
        unannounced_ = 0;
        if (!queue_.empty()) work_.notify_one();
        room_.wait(lock, [this] { return (queue_.empty() && !busy_) || error_ != 0; });
        return error_;
    }

private:
    void loop() {
        std::vector<QByteArray> batch;
        std::vector<iovec> parts;
        for (;;) {
            {
                std::unique_lock lock(m_);
                idle_ = true;
                work_.wait(lock, [this] { return stop_ || !queue_.empty(); });
                idle_ = false;
                if (queue_.empty()) return;
                while (!queue_.empty() && batch.size() < BatchParts) {
                    batch.push_back(std::move(queue_.front()));
                    queue_.pop_front();
                }
                busy_ = true;
            }
            const int error = write(batch, parts);
            qint64 bytes = 0;
            for (const QByteArray& b : batch)
                bytes += b.size();
            batch.clear();
            {
                const std::lock_guard lock(m_);
                queued_ -= bytes;
                busy_ = false;
                if (error != 0 && error_ == 0) error_ = error;
                if (error_ != 0) queue_.clear();
            }
            room_.notify_all();
        }
    }

    int write(const std::vector<QByteArray>& batch, std::vector<iovec>& parts) {
        parts.clear();
        for (const QByteArray& b : batch)
            if (!b.isEmpty()) parts.push_back({const_cast<char*>(b.constData()), size_t(b.size())});
        size_t first = 0;
        while (first < parts.size()) {
            const ssize_t w = ::writev(fd_, parts.data() + first, int(parts.size() - first));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return w < 0 && errno != 0 ? errno : EIO;
            written_ += w;
            for (size_t n = size_t(w); n > 0;) {
                iovec& p = parts[first];
                const size_t take = qMin(n, p.iov_len);
                p.iov_base = static_cast<char*>(p.iov_base) + take;
                p.iov_len -= take;
                n -= take;
                if (p.iov_len == 0) ++first;
            }
            while (first < parts.size() && parts[first].iov_len == 0)
                ++first;
        }
        if (written_ - startedBack_ >= WriteBackStep) {
            // Only a start: the caller's flush still waits for all of it and reports what
            // fails on the way.
            ::sync_file_range(fd_, startedBack_, written_ - startedBack_, SYNC_FILE_RANGE_WRITE);
            startedBack_ = written_;
        }
        return 0;
    }

    const int fd_;
    std::mutex m_;
    std::condition_variable work_, room_;
    std::deque<QByteArray> queue_;
    qint64 queued_ = 0;
    qint64 unannounced_ = 0; // handed over since the thread was last woken
    bool idle_ = false;
    bool busy_ = false;
    bool stop_ = false;
    int error_ = 0;
    qint64 written_ = 0;     // only the thread
    qint64 startedBack_ = 0; // only the thread
    std::thread thread_;
};

TZipWriter::TZipWriter(int fd, bool ownThread)
    : fd_(fd), behind_(ownThread ? std::make_unique<Behind>(fd) : nullptr) {
    buffer_.reserve(BufferSize);
}

TZipWriter::~TZipWriter() = default;

void TZipWriter::flush() {
    if (behind_) {
        if (buffer_.isEmpty()) return;
        const int error = behind_->Push(std::move(buffer_));
        buffer_ = QByteArray();
        buffer_.reserve(BufferSize);
        if (error != 0) throw TZipWriteError(std::strerror(error));
        return;
    }
    const bool written = SafeFile::WriteAll(fd_, buffer_.constData(), size_t(buffer_.size()));
    const int error = written ? 0 : errno;
    buffer_.clear();
    if (!written) throw TZipWriteError(error != 0 ? std::strerror(error) : "write");
}

void TZipWriter::put(const char* data, qint64 size) {
    offset_ += size;
    if (buffer_.size() + size <= BufferSize) {
        buffer_.append(data, qsizetype(size));
        return;
    }
    flush();
    if (size < BufferSize) {
        buffer_.append(data, qsizetype(size));
        return;
    }
    if (behind_) {
        // Only the caller owns data; the own thread gets a copy.
        buffer_ = QByteArray(data, qsizetype(size));
        flush();
        return;
    }
    buffer_ = QByteArray::fromRawData(data, qsizetype(size));
    flush();
    buffer_ = QByteArray();
    buffer_.reserve(BufferSize);
}

void TZipWriter::Write(const QByteArray& data) {
    // Raw data (no owner of its own) cannot be shared with the own thread.
    if (!behind_ || data.size() < ShareFrom ||
        const_cast<QByteArray&>(data).data_ptr().d_ptr() == nullptr) {
        Write(data.constData(), data.size());
        return;
    }
    flush();
    offset_ += data.size();
    QByteArray shared = data;
    if (const int error = behind_->Push(std::move(shared)); error != 0)
        throw TZipWriteError(std::strerror(error));
}

void TZipWriter::BeginEntry(const TZipEntryHeader& h) {
    Record r{};
    r.name = h.Name;
    r.dosTime = DosTime(h.ModTime);
    r.mode = h.Mode;
    r.offset = offset_;
    r.method = h.Encrypted ? 99 : h.Deflated ? 8 : 0;
    r.flags = 0x8 | (h.Encrypted ? 0x1 : 0);
    bool ascii = true;
    for (const char c : h.Name)
        if (uchar(c) >= 0x80) ascii = false;
    if (!ascii && IsValidUtf8(h.Name)) r.flags |= 0x800;
    r.zip64 = h.Size >= Max32 || PackedBound(h) >= Max32;
    r.version = r.zip64 ? 45 : (h.Deflated || h.Encrypted) ? 20 : 10;

    // Modification time (UT) and owner (ux, always 0) as the archives always had them.
    le16(r.extra, 0x5455);
    le16(r.extra, 5);
    r.extra.append(char(1));
    le32(r.extra, quint32(h.ModTime));
    le16(r.extra, 0x7875);
    le16(r.extra, 11);
    r.extra.append(char(1)).append(char(4));
    le32(r.extra, 0);
    r.extra.append(char(4));
    le32(r.extra, 0);

    // Stored entries announce their sizes; deflated ones only the uncompressed size.
    const qint64 packed = h.Deflated ? 0 : h.Size + (h.Encrypted ? AesOverhead : 0);
    QByteArray extra = r.extra;
    if (r.zip64) {
        le16(extra, 0x0001);
        le16(extra, 16);
        le64(extra, quint64(h.Size));
        le64(extra, quint64(packed));
    }
    QByteArray aes;
    if (h.Encrypted) {
        le16(aes, 0x9901);
        le16(aes, 7);
        le16(aes, 1); // AE-1: the checksum is kept as well
        aes.append("AE", 2).append(char(3));
        le16(aes, h.Deflated ? 8 : 0);
        extra += aes;
        r.extra += aes;
    }

    QByteArray lh;
    lh.reserve(30 + r.name.size() + extra.size());
    le32(lh, 0x04034b50);
    le16(lh, r.version);
    le16(lh, r.flags);
    le16(lh, r.method);
    le32(lh, r.dosTime);
    le32(lh, 0);
    le32(lh, r.zip64 ? quint32(Max32) : quint32(packed));
    le32(lh, r.zip64 ? quint32(Max32) : quint32(h.Size));
    le16(lh, quint32(r.name.size()));
    le16(lh, quint32(extra.size()));
    lh += r.name;
    lh += extra;
    entries_.push_back(std::move(r));
    inEntry_ = true;
    put(lh.constData(), lh.size());
}

void TZipWriter::Write(const char* data, qint64 size) {
    if (size > 0) put(data, size);
}

void TZipWriter::EndEntry(quint32 crc, qint64 packed, qint64 unpacked) {
    Record& r = entries_.back();
    r.crc = crc;
    r.packed = packed;
    r.unpacked = unpacked;
    inEntry_ = false;
    QByteArray dd;
    le32(dd, 0x08074b50);
    le32(dd, crc);
    if (r.zip64) {
        le64(dd, quint64(packed));
        le64(dd, quint64(unpacked));
    } else {
        le32(dd, quint32(packed));
        le32(dd, quint32(unpacked));
    }
    put(dd.constData(), dd.size());
}

void TZipWriter::Finish() {
    const qint64 cdStart = offset_;
    QByteArray cd;
    for (const Record& r : entries_) {
        QByteArray z64;
        if (r.unpacked >= Max32) le64(z64, quint64(r.unpacked));
        if (r.packed >= Max32) le64(z64, quint64(r.packed));
        if (r.offset >= Max32) le64(z64, quint64(r.offset));
        QByteArray extra = r.extra;
        const bool big = r.zip64 || !z64.isEmpty();
        if (!z64.isEmpty()) {
            le16(extra, 0x0001);
            le16(extra, quint32(z64.size()));
            extra += z64;
        }
        le32(cd, 0x02014b50);
        le16(cd, 0x0300 | r.version); // made on Unix
        le16(cd, big ? 45 : r.version);
        le16(cd, r.flags);
        le16(cd, r.method);
        le32(cd, r.dosTime);
        le32(cd, r.crc);
        le32(cd, quint32(qMin(r.packed, Max32)));
        le32(cd, quint32(qMin(r.unpacked, Max32)));
        le16(cd, quint32(r.name.size()));
        le16(cd, quint32(extra.size()));
        le16(cd, 0); // comment
        le16(cd, 0); // disk
        le16(cd, 0); // internal attributes
        le32(cd, r.mode << 16);
        le32(cd, quint32(qMin(r.offset, Max32)));
        cd += r.name;
        cd += extra;
        if (cd.size() >= BufferSize) {
            put(cd.constData(), cd.size());
            cd.clear();
        }
    }
    put(cd.constData(), cd.size());
    const qint64 cdSize = offset_ - cdStart;
    const qint64 count = qint64(entries_.size());
    QByteArray end;
    if (count >= 0xFFFF || cdStart >= Max32 || cdSize >= Max32) {
        const qint64 z64End = offset_;
        le32(end, 0x06064b50);
        le64(end, 44);
        le16(end, 45);
        le16(end, 45);
        le32(end, 0);
        le32(end, 0);
        le64(end, quint64(count));
        le64(end, quint64(count));
        le64(end, quint64(cdSize));
        le64(end, quint64(cdStart));
        le32(end, 0x07064b50);
        le32(end, 0);
        le64(end, quint64(z64End));
        le32(end, 1);
    }
    le32(end, 0x06054b50);
    le16(end, 0);
    le16(end, 0);
    le16(end, quint32(qMin<qint64>(count, 0xFFFF)));
    le16(end, quint32(qMin<qint64>(count, 0xFFFF)));
    le32(end, quint32(qMin(cdSize, Max32)));
    le32(end, quint32(qMin(cdStart, Max32)));
    le16(end, 0);
    put(end.constData(), end.size());
    flush();
    if (behind_)
        if (const int error = behind_->Wait(); error != 0)
            throw TZipWriteError(std::strerror(error));
}
