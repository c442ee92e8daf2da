#include "UpdateServer.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QUrl>

#include <stdexcept>

#include "Clock.h"
#include "Http.h"

namespace {

constexpr int InfoAttempts = 4;
constexpr int PauseBeforeAttemptMs = 100;

} // namespace

namespace UpdateServer {

QString PrepareLocation(QString& host, QString& dir) {
    if (dir.isEmpty())
        throw std::runtime_error("In iup.ini fehlt unter [iups] der Ordner auf dem Server (dir).");
    if (!host.contains(QStringLiteral("http://www."))) host.prepend(QStringLiteral("http://www."));
    QString url = !host.endsWith(u'/') && !dir.startsWith(u'/') ? host + u'/' + dir : host + dir;
    if (!dir.endsWith(u'/')) dir.append(u'/');
    if (!url.endsWith(u'/')) url.append(u'/');
    return url + QStringLiteral("iup.hinf");
}

QString ArchiveUrl(const QString& host, const QString& dir, const QString& archive) {
    // The name is a file name, not a piece of URL: "#", "%", "?" or a blank in it would ask for
    // another file, or for none.
    return host + u'/' + dir + QString::fromLatin1(QUrl::toPercentEncoding(archive));
}

void PrepareRequest(HttpClient& http, const QString& user, const QString& password,
                    bool useFirewall) {
    http.ResetHeaders();
    if (useFirewall) {
        http.SetAccept(QStringLiteral("*/*"));
        http.SetUserAgent(QStringLiteral("Mozilla/4.0 (compatible; MSIE 4.0; Windows NT)"));
    }
    http.SetCredentials(user, password);
    http.SetBasicAuth(true);
    http.SetTrafficLog(false);
}

QString FailureReason(const std::exception& error) {
    QString text = QString::fromUtf8(error.what());
    const auto* http = dynamic_cast<const HttpError*>(&error);
    // A status line: its code and text without the protocol in front.
    if (http && http->StatusCode() > 0 && text.startsWith(QStringLiteral("HTTP/")))
        text = text.section(u' ', 1);
    return text;
}

InfoFetch FetchInfo(HttpClient& http, const QString& infoUrl, const LogLine& log,
                    const std::function<void()>& keepResponsive) {
    InfoFetch result;
    {
        const auto logOn = qScopeGuard([&http] { http.SetTrafficLog(true); });
        for (int attempt = 1; attempt <= InfoAttempts && !result.body && !http.Cancelled();
             ++attempt) {
            log(QStringLiteral("Hole Info, Versuch %1").arg(attempt));
            Clock::Sleep(PauseBeforeAttemptMs);
            if (keepResponsive) keepResponsive();
            try {
                result.body = http.Get(infoUrl);
                result.lastError.clear();
            } catch (const std::exception& e) {
                result.lastError = FailureReason(e);
            }
        }
    }
    if (result.body)
        log(QStringLiteral("Infos abgeholt"));
    else if (!result.lastError.isEmpty())
        log(QStringLiteral("Keine Infos erhalten: ") + result.lastError);
    return result;
}

bool FetchArchive(HttpClient& http, const QString& url, const QString& path,
                  const std::function<void()>& beforeGet, const LogLine& log) {
    if (QFileInfo::exists(path)) return false;
    if (!http.IsConnected()) http.Connect(url);
    const auto logOn = qScopeGuard([&http] { http.SetTrafficLog(true); });
    http.SetTrafficLog(false);
    if (beforeGet) beforeGet();
    const auto failed = [&](const HttpError& e) {
        if (log) log(QStringLiteral("Übertragung fehlgeschlagen: ") + FailureReason(e));
    };
    try {
        http.GetToFile(url, path, MaxArchiveSize);
    } catch (const HttpError& e) {
        failed(e);
        try {
            http.GetToFile(url, path, MaxArchiveSize);
        } catch (const HttpError& again) {
            failed(again);
            throw;
        }
    }
    return true;
}

} // namespace UpdateServer
