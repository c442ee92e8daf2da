#include "Http.h"

#include <QFile>
#include <QScopeGuard>
#include <QUrl>

#include <curl/curl.h>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "Cp1252.h"
#include "SafeFile.h"

namespace {

const QByteArray DefaultAccept = "text/html, */*";
const QByteArray DefaultUserAgent = "Mozilla/3.0 (compatible; Indy Library)";
const QString CancelledText = QStringLiteral("die Übertragung wurde abgebrochen");
constexpr long BodyPieceBytes = 256 * 1024;

struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~CurlGlobal() { curl_global_cleanup(); }
};

void ensureCurl() {
    static CurlGlobal global;
}

QString addressText(const sockaddr* a) {
    char buf[INET6_ADDRSTRLEN] = {};
    if (a->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a)->sin_addr, buf, sizeof buf);
    else if (a->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr, buf, sizeof buf);
    return QString::fromLatin1(buf);
}

// Whether the connected socket leads to the address curl is about to connect to.
bool sameAddress(curl_socket_t s, const sockaddr* want) {
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    if (getpeername(s, reinterpret_cast<sockaddr*>(&peer), &len) != 0) return false;
    if (peer.ss_family != want->sa_family) return false;
    if (want->sa_family == AF_INET) {
        const auto* p = reinterpret_cast<const sockaddr_in*>(&peer);
        const auto* w = reinterpret_cast<const sockaddr_in*>(want);
        return p->sin_port == w->sin_port && p->sin_addr.s_addr == w->sin_addr.s_addr;
    }
    if (want->sa_family == AF_INET6) {
        const auto* p = reinterpret_cast<const sockaddr_in6*>(&peer);
        const auto* w = reinterpret_cast<const sockaddr_in6*>(want);
        return p->sin6_port == w->sin6_port &&
               std::memcmp(&p->sin6_addr, &w->sin6_addr, sizeof w->sin6_addr) == 0;
    }
    return false;
}

} // namespace

HttpError::HttpError(const QString& text, int statusCode)
    : std::runtime_error(text.toStdString()), status_(statusCode) {}

struct HttpClient::Impl : std::enable_shared_from_this<HttpClient::Impl> {
    explicit Impl(HttpClient* owner) : q(owner), home(std::this_thread::get_id()) {}
    ~Impl() {
        if (easy) curl_easy_cleanup(easy);
        if (handed != CURL_SOCKET_BAD) close(handed);
        curl_slist_free_all(headers);
    }

    HttpClient* q;
    const std::thread::id home; // the caller's thread, which gets every event
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;

    QByteArray accept = DefaultAccept;
    QByteArray userAgent = DefaultUserAgent;
    const QByteArray acceptEncoding = "gzip, deflate, identity";
    const QByteArray acceptLanguage = "de";
    QString user, password;
    bool basicAuth = false;
    bool trafficLog = false;
    int lowSpeedSeconds = LowSpeedSeconds;

    // The sockets of the connections held, touched by the worker during a transfer and by the
    // caller's thread between transfers.
    mutable std::mutex lock;
    std::set<curl_socket_t> opened;         // created for a connection, maybe not connected yet
    std::set<curl_socket_t> established;    // connected
    curl_socket_t handed = CURL_SOCKET_BAD; // connected by Connect(), waiting for a request
    bool keepHanded = false; // the connect-only handle must leave the handed socket open

    // One transfer's state (worker thread only).
    QString hostName;
    bool resolvingReported = false;
    QByteArray statusLine;
    bool workBegun = false;
    curl_off_t lastWork = -1;
    std::function<bool(const char*, size_t)> sink;
    qint64 maxBody = 0;
    qint64 declaredTooLong = -1; // the length a refused reply announced
    bool refused = false;
    std::atomic<bool> closing{false};   // the client is gone: no more events
    bool busy = false;                  // a transfer runs on the worker
    std::atomic<bool> cancelled{false}; // set by the caller's thread, read by curl's callbacks
    // The caller's thread left the transfer under way by an exception; ends only that one.
    std::atomic<bool> abandoned{false};
    char errorText[CURL_ERROR_SIZE] = {};
    std::function<void()> keepResponsive; // called by the caller's thread while it waits

    // The worker's events on their way to the caller's thread, in order.
    std::mutex eventsLock;
    std::condition_variable eventsReady;
    std::deque<std::function<void()>> events;
    bool workerDone = false;

    // Hands an event to the caller's thread.
    void post(std::function<void()> f) {
        if (closing) return;
        if (std::this_thread::get_id() == home) {
            f();
            return;
        }
        std::lock_guard g(eventsLock);
        events.push_back(std::move(f));
        eventsReady.notify_one();
    }

    void status(const QString& text) {
        post([this, text] {
            if (trafficLog) Q_EMIT q->Status(text);
        });
    }

    // Runs job on a worker while the caller's thread delivers its events and calls
    // keepResponsive; rethrows what the job raised. The caller holds a reference to this, so
    // the client may be destroyed meanwhile.
    void runOnWorker(const std::function<void()>& job) {
        // The window's events run meanwhile; none of them may start a second transfer.
        if (busy) throw HttpError(QStringLiteral("Der HTTP-Client ist noch beschäftigt."));
        busy = true;
        const auto idle = qScopeGuard([this] { busy = false; });
        workerDone = false;
        abandoned = false;
        std::exception_ptr failure;
        std::thread worker([&] {
            try {
                job();
            } catch (...) {
                failure = std::current_exception();
            }
            std::lock_guard g(eventsLock);
            workerDone = true; // behind every event of the job, so those are all delivered
            eventsReady.notify_one();
        });
        // An event's slot or the keep-responsive callback may raise on this thread. The
        // transfer then ends and the worker is joined before its state goes (a joinable thread
        // must not be destroyed); what it still reports is dropped, not left for the next one.
        const auto ended = qScopeGuard([&] {
            if (worker.joinable()) {
                abandoned = true;
                worker.join();
            }
            std::lock_guard g(eventsLock);
            events.clear();
        });
        for (bool finished = false; !finished;) {
            std::deque<std::function<void()>> ready;
            {
                std::unique_lock g(eventsLock);
                eventsReady.wait_for(g, std::chrono::milliseconds(10),
                                     [this] { return workerDone || !events.empty(); });
                ready.swap(events);
                finished = workerDone;
            }
            for (const auto& f : ready)
                if (!closing) f();
            if (!finished && !closing && keepResponsive) keepResponsive();
        }
        worker.join();
        if (failure) std::rethrow_exception(failure);
    }

    CURL* handle() {
        if (!easy) easy = curl_easy_init();
        if (!easy) throw HttpError(QStringLiteral("HTTP-Client kann nicht angelegt werden"));
        return easy;
    }

    // --- callbacks, called by curl on the worker thread ---

    static curl_socket_t openSocket(void* self, curlsocktype, curl_sockaddr* a) {
        auto* d = static_cast<Impl*>(self);
        {
            std::lock_guard g(d->lock);
            if (d->handed != CURL_SOCKET_BAD && !d->keepHanded &&
                sameAddress(d->handed, &a->addr)) {
                const curl_socket_t s = d->handed;
                d->handed = CURL_SOCKET_BAD;
                return s;
            }
        }
        if (!d->resolvingReported) {
            d->resolvingReported = true;
            d->status(QStringLiteral("Resolving hostname %1.").arg(d->hostName));
        }
        d->status(QStringLiteral("Connecting to %1.").arg(addressText(&a->addr)));
        const curl_socket_t s = socket(a->family, a->socktype | SOCK_CLOEXEC, a->protocol);
        if (s != CURL_SOCKET_BAD) {
            std::lock_guard g(d->lock);
            d->opened.insert(s);
        }
        return s;
    }

    static int socketOptions(void* self, curl_socket_t s, curlsocktype) {
        auto* d = static_cast<Impl*>(self);
        std::lock_guard g(d->lock);
        return d->established.count(s) ? CURL_SOCKOPT_ALREADY_CONNECTED : CURL_SOCKOPT_OK;
    }

    static int closeSocket(void* self, curl_socket_t s) {
        auto* d = static_cast<Impl*>(self);
        bool lastOne = false;
        {
            std::lock_guard g(d->lock);
            if (d->keepHanded && s == d->handed) return 0;
            d->opened.erase(s);
            lastOne = d->established.erase(s) && d->established.empty();
        }
        if (lastOne) d->status(QStringLiteral("Disconnecting."));
        const int rc = close(s);
        if (lastOne) {
            d->status(QStringLiteral("Disconnected."));
            d->post([d] { Q_EMIT d->q->Disconnected(); });
        }
        return rc;
    }

    // Called once the connection stands, before the request goes out.
    static int connectionReady(void* self, char*, char*, int, int) {
        auto* d = static_cast<Impl*>(self);
        d->markConnected();
        return CURL_PREREQFUNC_OK;
    }

    void markConnected() {
        bool fresh = false;
        {
            std::lock_guard g(lock);
            const bool wasConnected = !established.empty();
            for (curl_socket_t s : opened)
                established.insert(s);
            fresh = !wasConnected && !established.empty();
        }
        if (fresh) {
            status(QStringLiteral("Connected."));
            post([this] { Q_EMIT q->Connected(); });
        }
    }

    static size_t header(char* data, size_t size, size_t count, void* self) {
        auto* d = static_cast<Impl*>(self);
        const size_t n = size * count;
        const QByteArray line = QByteArray(data, qsizetype(n)).trimmed();
        if (line.startsWith("HTTP/")) {
            d->statusLine = line;
        } else if (line.isEmpty()) {
            long code = 0;
            curl_easy_getinfo(d->easy, CURLINFO_RESPONSE_CODE, &code);
            if (code >= 200 && !d->workBegun) {
                curl_off_t length = -1;
                curl_easy_getinfo(d->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
                if (code <= 299 && length > d->maxBody) {
                    // Refused before a byte of the body is taken in.
                    d->declaredTooLong = qint64(length);
                    return 0;
                }
                d->workBegun = true;
                const qint64 expected = length > 0 ? qint64(length) : 0;
                d->post([d, expected] { Q_EMIT d->q->WorkBegin(expected); });
            }
        }
        return n;
    }

    static size_t body(char* data, size_t size, size_t count, void* self) {
        auto* d = static_cast<Impl*>(self);
        const size_t n = size * count;
        long code = 0;
        curl_easy_getinfo(d->easy, CURLINFO_RESPONSE_CODE, &code);
        if (code < 200 || code > 299) return n; // an error reply's body is not kept
        if (d->sink(data, n)) return n;
        d->refused = true;
        return 0;
    }

    static int progress(void* self, curl_off_t, curl_off_t now, curl_off_t, curl_off_t) {
        auto* d = static_cast<Impl*>(self);
        if (d->cancelled || d->abandoned) return 1; // curl ends the transfer
        if (d->workBegun && now != d->lastWork) {
            d->lastWork = now;
            const qint64 received = qint64(now);
            d->post([d, received] { Q_EMIT d->q->Work(received); });
        }
        return 0;
    }

    static int cancelCheck(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        const auto* d = static_cast<Impl*>(self);
        return d->cancelled || d->abandoned ? 1 : 0;
    }

    void refuseWhenCancelled(const QString& url) const {
        if (cancelled) throw HttpError(url + QStringLiteral(": ") + CancelledText);
    }

    void setConnectionOptions(CURL* h, const QByteArray& url) {
        curl_easy_setopt(h, CURLOPT_URL, url.constData());
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, long(ConnectTimeoutSeconds));
        // Always straight to the server, whatever proxy the environment names.
        curl_easy_setopt(h, CURLOPT_PROXY, "");
        curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, &Impl::openSocket);
        curl_easy_setopt(h, CURLOPT_OPENSOCKETDATA, this);
        curl_easy_setopt(h, CURLOPT_SOCKOPTFUNCTION, &Impl::socketOptions);
        curl_easy_setopt(h, CURLOPT_SOCKOPTDATA, this);
        curl_easy_setopt(h, CURLOPT_CLOSESOCKETFUNCTION, &Impl::closeSocket);
        curl_easy_setopt(h, CURLOPT_CLOSESOCKETDATA, this);
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
        errorText[0] = 0;
        hostName = QUrl(QString::fromUtf8(url)).host();
        resolvingReported = false;
    }

    void buildHeaders() {
        curl_slist_free_all(headers);
        headers = nullptr;
        QList<QByteArray> lines = {"Accept: " + accept, "Accept-Encoding: " + acceptEncoding,
                                   "Accept-Language: " + acceptLanguage,
                                   "User-Agent: " + userAgent};
        if (basicAuth)
            lines.append("Authorization: Basic " +
                         Cp1252::Encode(user + u':' + password).toBase64());
        for (const QByteArray& l : lines)
            headers = curl_slist_append(headers, l.constData());
    }

    QString failureText(const QString& url, CURLcode rc) const {
        const QString detail = errorText[0] ? QString::fromLocal8Bit(errorText).trimmed()
                                            : QString::fromUtf8(curl_easy_strerror(rc));
        return url + QStringLiteral(": ") + detail;
    }

    // One GET; the body goes to sink, which returns false to refuse more.
    void get(const QString& url, qint64 maxBytes,
             std::function<bool(const char*, size_t)> bodySink) {
        // Before touching the handle or the sink: the worker may be using both right now.
        if (busy) throw HttpError(QStringLiteral("Der HTTP-Client ist noch beschäftigt."));
        refuseWhenCancelled(url);
        CURL* h = handle();
        const QByteArray u = url.toUtf8();
        setConnectionOptions(h, u);
        buildHeaders();
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(h, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
        // The body is kept as the server sent it: web servers label ".z" files with a content
        // coding they never applied. Only the chunked framing of the transfer is taken off.
        curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, static_cast<const char*>(nullptr));
        curl_easy_setopt(h, CURLOPT_HTTP_CONTENT_DECODING, 0L);
        curl_easy_setopt(h, CURLOPT_TRANSFER_ENCODING, 0L);
        curl_easy_setopt(h, CURLOPT_HTTP_TRANSFER_DECODING, 1L);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, long(LowSpeedBytesPerSecond));
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, long(lowSpeedSeconds));
        // Pieces larger than curl's 16 KiB: a large archive then takes a fraction of the system
        // calls, writes and events.
        curl_easy_setopt(h, CURLOPT_BUFFERSIZE, BodyPieceBytes);
        curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &Impl::connectionReady);
        curl_easy_setopt(h, CURLOPT_PREREQDATA, this);
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Impl::header);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Impl::body);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &Impl::progress);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
        statusLine.clear();
        workBegun = false;
        lastWork = -1;
        sink = std::move(bodySink);
        // The sink refers to the caller's locals, which go when the transfer raises.
        const auto dropSink = qScopeGuard([this] { sink = nullptr; });
        maxBody = maxBytes;
        declaredTooLong = -1;
        refused = false;

        CURLcode rc = CURLE_OK;
        runOnWorker([&] {
            rc = curl_easy_perform(h);
            if (workBegun) post([this] { Q_EMIT q->WorkEnd(); });
        });
        if (rc == CURLE_ABORTED_BY_CALLBACK) refuseWhenCancelled(url);
        if (declaredTooLong >= 0)
            throw HttpError(url + QStringLiteral(": ") +
                            QStringLiteral("die Antwort kündigt %1 Bytes an, mehr als %2 Bytes")
                                .arg(declaredTooLong)
                                .arg(maxBytes));
        if (refused)
            throw HttpError(url + QStringLiteral(": ") +
                            QStringLiteral("die Antwort ist größer als %1 Bytes").arg(maxBytes));
        if (rc != CURLE_OK) throw HttpError(failureText(url, rc));
        long code = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
        if (code < 200 || code > 299)
            throw HttpError(
                QString::fromLatin1(statusLine.isEmpty() ? QByteArray::number(code) : statusLine),
                int(code));
    }
};

HttpClient::HttpClient(QObject* parent) : QObject(parent), d(std::make_shared<Impl>(this)) {
    ensureCurl();
}

HttpClient::~HttpClient() {
    d->closing = true;
    // A transfer under way ends soon; its caller holds the last reference to the state.
    if (d->busy) d->cancelled = true;
}

void HttpClient::SetKeepResponsive(std::function<void()> call) {
    d->keepResponsive = std::move(call);
}

void HttpClient::ResetHeaders() {
    d->accept = DefaultAccept;
    d->userAgent = DefaultUserAgent;
    d->user.clear();
    d->password.clear();
    d->basicAuth = false;
}

void HttpClient::SetAccept(const QString& value) {
    d->accept = value.toLatin1();
}

void HttpClient::SetUserAgent(const QString& value) {
    d->userAgent = value.toLatin1();
}

void HttpClient::SetCredentials(const QString& user, const QString& password) {
    d->user = user;
    d->password = password;
}

void HttpClient::SetBasicAuth(bool on) {
    d->basicAuth = on;
}

void HttpClient::SetTrafficLog(bool on) {
    d->trafficLog = on;
}

bool HttpClient::TrafficLog() const {
    return d->trafficLog;
}

void HttpClient::SetLowSpeedSeconds(int seconds) {
    d->lowSpeedSeconds = seconds > 0 ? seconds : LowSpeedSeconds;
}

QByteArray HttpClient::Get(const QString& url, qint64 maxBytes) {
    const std::shared_ptr<Impl> self = d; // this client may go while the request runs
    QByteArray body;
    self->get(url, maxBytes, [&](const char* p, size_t n) {
        if (body.size() + qint64(n) > maxBytes) return false;
        body.append(p, qsizetype(n));
        return true;
    });
    return body;
}

void HttpClient::GetToFile(const QString& url, const QString& path, qint64 maxBytes) {
    const auto failed = [&path](const char* what, int error) {
        return HttpError(
            QStringLiteral("%1 kann nicht %2 werden: %3")
                .arg(path, QLatin1String(what), QString::fromLocal8Bit(std::strerror(error))));
    };
    SafeFile::TempFileBeside temp;
    if (!temp.CreateLikeTarget(path)) throw failed("angelegt", errno);
    int writeError = 0;
    qint64 written = 0;
    const std::shared_ptr<Impl> self = d; // this client may go while the request runs
    try {
        self->get(url, maxBytes, [&](const char* p, size_t n) {
            written += qint64(n);
            if (written > maxBytes) return false;
            if (SafeFile::WriteAll(temp.fd(), p, n)) return true;
            writeError = errno != 0 ? errno : EIO;
            return false;
        });
    } catch (const HttpError&) {
        if (writeError) throw failed("geschrieben", writeError);
        throw;
    }
    // Downloads are working files, cleared at every start and checked when unpacked: a flush
    // to disk would only keep the install waiting.
    if (!temp.CommitUnflushed()) throw failed("geschrieben", errno);
}

void HttpClient::Connect(const QString& url) {
    const std::shared_ptr<Impl> d = this->d; // this client may go while connecting
    if (d->busy) throw HttpError(QStringLiteral("Der HTTP-Client ist noch beschäftigt."));
    d->refuseWhenCancelled(url);
    // A separate handle does the connecting; its socket is then handed to the next request.
    CURL* h = curl_easy_init();
    if (!h) throw HttpError(QStringLiteral("HTTP-Client kann nicht angelegt werden"));
    const QByteArray u = url.toUtf8();
    d->setConnectionOptions(h, u);
    curl_easy_setopt(h, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &Impl::cancelCheck);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, d.get());
    CURLcode rc = CURLE_OK;
    {
        // Also when the caller's thread raises during the connect: a connection that stands stays
        // with the handed socket, anything else is closed with the handle.
        const auto cleanup = qScopeGuard([&] {
            {
                std::lock_guard g(d->lock);
                d->keepHanded = rc == CURLE_OK;
            }
            curl_easy_cleanup(h);
            std::lock_guard g(d->lock);
            d->keepHanded = false;
        });
        d->runOnWorker([&] {
            rc = curl_easy_perform(h);
            if (rc != CURLE_OK) return;
            curl_socket_t s = CURL_SOCKET_BAD;
            curl_easy_getinfo(h, CURLINFO_ACTIVESOCKET, &s);
            d->markConnected();
            std::lock_guard g(d->lock);
            if (d->handed != CURL_SOCKET_BAD && d->handed != s) {
                // An earlier connection nobody used: it goes, this one stays.
                close(d->handed);
                d->opened.erase(d->handed);
                d->established.erase(d->handed);
            }
            d->handed = s;
        });
    }
    if (rc == CURLE_ABORTED_BY_CALLBACK) d->refuseWhenCancelled(url);
    if (rc != CURLE_OK) throw HttpError(d->failureText(url, rc));
}

void HttpClient::Disconnect() {
    if (d->busy) throw HttpError(QStringLiteral("Der HTTP-Client ist noch beschäftigt."));
    if (d->easy) {
        curl_easy_cleanup(d->easy);
        d->easy = nullptr;
    }
    curl_socket_t s = CURL_SOCKET_BAD;
    {
        std::lock_guard g(d->lock);
        std::swap(s, d->handed);
    }
    if (s != CURL_SOCKET_BAD) Impl::closeSocket(d.get(), s);
}

bool HttpClient::IsConnected() const {
    std::lock_guard g(d->lock);
    return !d->established.empty();
}

void HttpClient::Cancel() {
    d->cancelled = true;
}

bool HttpClient::Cancelled() const {
    return d->cancelled;
}
