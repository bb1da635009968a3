#include "platform/qt/QtFileTransport.h"

#include "platform/qt/MemoryNetworkCache.h"

#include "platform/PacketTapPoint.h"

#include <QHostAddress>

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace fieldmon::platform {

namespace {

// True when the reply ended with a complete HTTP response, whatever its
// status. Qt reports 4xx and 5xx statuses as errors of the content, server
// and "invalid operation" (400) kinds, but the body has arrived in full.
bool completedResponse(QNetworkReply* reply)
{
    QNetworkReply::NetworkError e = reply->error();
    if (e == QNetworkReply::NoError)
        return true;
    if (!reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        return false;
    bool content = e >= QNetworkReply::ContentAccessDenied && e <= QNetworkReply::UnknownContentError;
    bool server = e >= QNetworkReply::InternalServerError && e <= QNetworkReply::UnknownServerError;
    return content || server || e == QNetworkReply::ProtocolInvalidOperationError;
}

// A redirect stays on the device: the scheme, host and port of the URL
// first asked for (a missing port is the scheme's own).
bool sameOrigin(const QUrl& from, const QUrl& to)
{
    const QString scheme = from.scheme().toLower();
    const int defaultPort = scheme == QLatin1String("https") ? 443 : 80;
    return to.isValid() && to.scheme().toLower() == scheme && !to.host().isEmpty() &&
           to.host().compare(from.host(), Qt::CaseInsensitive) == 0 &&
           to.port(defaultPort) == from.port(defaultPort);
}

std::int64_t announcedLength(QNetworkReply* reply)
{
    QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    bool ok = false;
    qlonglong n = length.toLongLong(&ok);
    return length.isValid() && ok && n >= 0 ? std::int64_t(n) : -1;
}

bool fetchable(const QUrl& url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

} // namespace

QtFileTransport::QtFileTransport() : cache_(new MemoryNetworkCache)
{
    manager_.setCache(cache_); // the manager takes ownership
}

QtFileTransport::~QtFileTransport()
{
    // Nothing is reported for transfers cut off by our own end.
    auto running = std::move(running_);
    running_.clear();
    for (auto& [id, r] : running)
        r.reply->abort();
}

FileTransport::TransferId QtFileTransport::get(const std::string& url, double timeoutSeconds, Callbacks callbacks)
{
    QUrl qurl(QString::fromStdString(url));
    if (!fetchable(qurl))
        return 0;

    QNetworkRequest request(qurl);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::PreferNetwork);
    // Bodies as they are stored: device files are small and on the local
    // network, and Qt does not complete its cache entries for compressed
    // replies that are read while they arrive.
    request.setRawHeader("Accept-Encoding", "identity");
    // Each redirect is checked (onRedirected) before it is followed.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    QNetworkReply* reply = manager_.get(request);
    // Qt's network thread reads ahead no further than this: a body that
    // arrives faster than we take it waits in the socket, and the main loop
    // is not flooded with chunks (which also kept the deadline from firing).
    reply->setReadBufferSize(kReadBufferBytes);
    TransferId id = nextId_++;
    Running& running = running_[id];
    running.reply = reply;
    running.callbacks = std::move(callbacks);
    if (taps_ && taps_->active()) {
        running.tapped = true;
        running.started = std::chrono::system_clock::now();
    }

    // The headers alone tell the body's announced length: a body announced
    // past what the receiver takes is refused before any of it is read.
    // (Only told here: reading a reply served from the cache inside this
    // signal keeps Qt from ever finishing it.)
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &context_, [this, id] { announceResponse(id); });
    QObject::connect(reply, &QNetworkReply::readyRead, &context_, [this, id] { deliverAvailable(id); });
    QObject::connect(reply, &QNetworkReply::redirected, &context_,
                     [this, id](const QUrl& target) { onRedirected(id, target); });
    QObject::connect(reply, &QNetworkReply::finished, &context_, [this, id] { onFinished(id); });

    // The deadline covers the whole transfer; a trickle of bytes does not
    // push it back. The timer dies with the reply.
    double ms = std::clamp(timeoutSeconds * 1000.0, 0.0, 24.0 * 3600 * 1000);
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    deadline->setTimerType(Qt::PreciseTimer); // a coarse timer may fire 5 % early
    QObject::connect(deadline, &QTimer::timeout, &context_, [this, id] { onTimeout(id); });
    deadline->start(int(std::lround(ms)));
    return id;
}

void QtFileTransport::cancel(TransferId id)
{
    auto node = running_.extract(id);
    if (node.empty())
        return;
    QNetworkReply* reply = node.mapped().reply;
    // abort() emits finished() at once; the transfer is already gone from
    // running_, so that reports nothing.
    reply->abort();
    reply->deleteLater();
}

bool QtFileTransport::announceResponse(TransferId id)
{
    auto it = running_.find(id);
    if (it == running_.end())
        return false;
    if (it->second.responded)
        return true;
    it->second.responded = true;
    auto response = it->second.callbacks.response; // the callback may cancel us
    if (response)
        response(announcedLength(it->second.reply));
    return running_.count(id) != 0;
}

bool QtFileTransport::deliverAvailable(TransferId id)
{
    if (!announceResponse(id))
        return false;
    auto it = running_.find(id);
    QByteArray chunk = it->second.reply->readAll();
    if (chunk.isEmpty())
        return true;
    if (it->second.tapped)
        it->second.body.append(chunk.constData(), std::size_t(chunk.size()));
    auto data = it->second.callbacks.data;
    if (data)
        data(reinterpret_cast<const std::uint8_t*>(chunk.constData()), std::size_t(chunk.size()));
    return running_.count(id) != 0;
}

void QtFileTransport::onRedirected(TransferId id, const QUrl& target)
{
    auto it = running_.find(id);
    if (it == running_.end())
        return;
    QNetworkReply* reply = it->second.reply;
    if (!sameOrigin(reply->request().url(), target)) {
        auto node = running_.extract(it);
        reply->abort();
        reply->deleteLater();
        if (node.mapped().callbacks.failed)
            node.mapped().callbacks.failed("Redirect to " + target.toString().toStdString() + " refused: it leaves the device.");
        return;
    }
    // The next response starts a new body.
    it->second.responded = false;
    it->second.body.clear();
    emit reply->redirectAllowed();
}

void QtFileTransport::onFinished(TransferId id)
{
    auto it = running_.find(id);
    if (it == running_.end())
        return;
    QNetworkReply* reply = it->second.reply;
    if (completedResponse(reply)) {
        if (!deliverAvailable(id))
            return;
        auto node = running_.extract(id);
        if (node.mapped().tapped)
            tapTransfer(node.mapped());
        reply->deleteLater();
        if (node.mapped().callbacks.finished)
            node.mapped().callbacks.finished();
        return;
    }
    auto node = running_.extract(id);
    std::string error = reply->errorString().toStdString();
    reply->deleteLater();
    if (node.mapped().callbacks.failed)
        node.mapped().callbacks.failed(error);
}

void QtFileTransport::tapTransfer(const Running& running)
{
    if (!taps_)
        return;
    QNetworkReply* reply = running.reply;
    const QUrl url = reply->url(); // after redirects: where the response came from
    bool ipv4 = false;
    const quint32 server = QHostAddress(url.host()).toIPv4Address(&ipv4);
    if (!ipv4)
        return; // a capture carries IPv4 packets only
    const std::uint16_t port = std::uint16_t(url.port(url.scheme().toLower() == QLatin1String("https") ? 443 : 80));

    QByteArray request = "GET " + url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (request.size() == 4)
        request += '/';
    request += " HTTP/1.1\r\nHost: " + url.authority().toUtf8() + "\r\n";
    for (const QByteArray& name : reply->request().rawHeaderList())
        request += name + ": " + reply->request().rawHeader(name) + "\r\n";
    request += "\r\n";

    // The body is written as the receiver got it: one length, no chunks or
    // compression left to undo.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status ? status : 200) + ' ' +
                          reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray() + "\r\n";
    for (const auto& [name, value] : reply->rawHeaderPairs()) {
        const QByteArray lower = name.toLower();
        if (lower == "content-length" || lower == "transfer-encoding" || lower == "content-encoding")
            continue;
        response += name + ": " + value + "\r\n";
    }
    response += "Content-Length: " + QByteArray::number(qsizetype(running.body.size())) + "\r\n\r\n";
    response.append(running.body.data(), qsizetype(running.body.size()));

    taps_->httpTransfer(PacketEnd{0, 0}, PacketEnd{server, port}, std::string_view(request.constData(), std::size_t(request.size())),
                        std::string_view(response.constData(), std::size_t(response.size())), running.started,
                        std::chrono::system_clock::now());
}

void QtFileTransport::onTimeout(TransferId id)
{
    auto node = running_.extract(id);
    if (node.empty())
        return;
    QNetworkReply* reply = node.mapped().reply;
    reply->abort();
    reply->deleteLater();
    if (node.mapped().callbacks.failed)
        node.mapped().callbacks.failed("The request timed out.");
}

} // namespace fieldmon::platform
