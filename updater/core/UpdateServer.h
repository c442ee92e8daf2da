#pragma once
// Talking to the update server: where its files lie, the request every download of a run
// carries, the information file's fetch with its attempts and the download of one archive.
#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

#include "Unpack.h"

class HttpClient;

namespace UpdateServer {

// The largest archive worth fetching: the largest file the unpacker accepts, stored without
// compression, and the stream's framing. A server sending more is refused.
inline constexpr qint64 MaxArchiveSize = MaxUnpackedSize + MaxUnpackedSize / 256;

using LogLine = std::function<void(const QString&)>;

// Normalises the configured server in place and returns the information file's URL: "http://
// www." goes in front of host unless host holds it somewhere, dir gets a trailing "/". A "/"
// joins host and dir unless host ends with one or dir begins with one. An empty dir raises
// std::runtime_error: without it there is no folder to ask for.
QString PrepareLocation(QString& host, QString& dir);

// An archive's URL from the normalised host and dir: host, "/", dir and the archive's name,
// percent-encoded.
QString ArchiveUrl(const QString& host, const QString& dir, const QString& archive);

// The headers and credentials of every request of the run. Leaves the traffic log off.
void PrepareRequest(HttpClient& http, const QString& user, const QString& password,
                    bool useFirewall);

struct InfoFetch {
    std::optional<QByteArray> body; // nothing after the fourth failed attempt
    QString lastError;              // the last attempt's error, when it failed
};

// What a failed request got: the server's status ("401 Unauthorized") or the client's error.
QString FailureReason(const std::exception& error);

// Up to four attempts, each logged as "Hole Info, Versuch " and its number, each after a short
// pause and a call of keepResponsive; "Infos abgeholt" on success. When the last attempt fails,
// one more line names what it got, so a wrong password or folder can be told from a dead
// line. A cancelled client makes no further attempt. The traffic log is on afterwards.
InfoFetch FetchInfo(HttpClient& http, const QString& infoUrl, const LogLine& log,
                    const std::function<void()>& keepResponsive = {});

// Makes sure the archive lies at path. Returns false when it was there already. Otherwise
// connects when the client holds no connection, calls beforeGet, GETs the URL and, when that
// fails, once more; the file appears only complete. Each failed GET is logged with its reason;
// the error of the second is raised. The traffic log is off during the GETs and on afterwards.
bool FetchArchive(HttpClient& http, const QString& url, const QString& path,
                  const std::function<void()>& beforeGet = {}, const LogLine& log = {});

} // namespace UpdateServer
