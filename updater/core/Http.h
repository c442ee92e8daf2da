#pragma once
// The updater's HTTP client: plain GET requests with Basic authentication and the request
// headers the update servers know, over libcurl. A transfer runs on a worker thread while the
// caller's thread delivers the transfer's events and calls the keep-responsive callback the
// window gave it, so the window stays responsive; every event reaches the caller's thread in the
// order it happened, before the call returns. The client may be destroyed during a transfer,
// which then ends without further events.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <stdexcept>

// A failed request: the text is what the user sees. StatusCode is the server's reply code, or 0
// when no reply came (no connection, a time-out, ...).
class HttpError : public std::runtime_error {
public:
    HttpError(const QString& text, int statusCode = 0);
    int StatusCode() const { return status_; }

private:
    int status_;
};

class HttpClient : public QObject {
    Q_OBJECT
public:
    static constexpr int ConnectTimeoutSeconds = 120;
    // A transfer slower than this floor for LowSpeedSeconds in a row fails, so a server that
    // trickles or stalls cannot hold an unattended run for ever.
    static constexpr int LowSpeedBytesPerSecond = 100;
    static constexpr int LowSpeedSeconds = 120;
    static constexpr qint64 DefaultMaxBody = 64 * 1024 * 1024;

    explicit HttpClient(QObject* parent = nullptr);
    ~HttpClient() override;

    // Accept "text/html, */*", the client's own User-Agent, no authentication. Accept-Encoding
    // ("gzip, deflate", then ", identity") and Accept-Language ("de") are not touched.
    void ResetHeaders();
    void SetAccept(const QString& value);
    void SetUserAgent(const QString& value);
    void SetCredentials(const QString& user, const QString& password);
    // While on, every request carries Authorization: Basic, also with empty credentials.
    void SetBasicAuth(bool on);

    // The traffic log: while it is on, the connection's status texts are reported.
    void SetTrafficLog(bool on);
    bool TrafficLog() const;

    // Called about every 10 ms while a request runs, on the caller's thread: the window lets its
    // pending events run there. Nothing is called when not set. When it, or a slot of an event,
    // raises, the transfer ends, nothing of it is kept, and the error reaches the caller.
    void SetKeepResponsive(std::function<void()> call);

    // How long a transfer may stay below the speed floor; 0 or less: LowSpeedSeconds. For tests.
    void SetLowSpeedSeconds(int seconds);

    // GETs the URL and returns the body byte for byte as it came: no content coding is undone,
    // whatever Content-Encoding says. Redirects are not followed; any reply outside 2xx raises
    // HttpError with its status line. A reply longer than maxBytes, or one announcing more, is
    // refused with HttpError; one announcing more is refused before its body is read.
    QByteArray Get(const QString& url, qint64 maxBytes = DefaultMaxBody);
    // The same into a file: written under a temporary name beside path and renamed to path only
    // when the reply is complete, without a flush to disk (the updater's downloads are working
    // files). An existing file at path is replaced. A reply longer than maxBytes is refused.
    void GetToFile(const QString& url, const QString& path, qint64 maxBytes);

    // Opens a connection to the URL's server ahead of the next request, which then uses it.
    void Connect(const QString& url);
    // Closes every connection the client holds.
    void Disconnect();
    bool IsConnected() const;

    // Ends the request under way within about a second and refuses every later one with
    // HttpError: for a client whose window is closing. Nothing of an ended request is kept.
    void Cancel();
    bool Cancelled() const;

Q_SIGNALS:
    // "Resolving hostname %s.", "Connecting to %s.", "Connected.", "Disconnecting.",
    // "Disconnected."; only while the traffic log is on.
    void Status(const QString& text);
    void Connected();
    void Disconnected();
    // The reply's announced length (0 when unknown), then the bytes received so far.
    void WorkBegin(qint64 expected);
    void Work(qint64 received);
    void WorkEnd();

private:
    struct Impl;
    std::shared_ptr<Impl> d; // shared with a request under way, which may outlive the client
};
