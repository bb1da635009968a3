#include "platform/qt/MemoryNetworkCache.h"

namespace fieldmon::platform {

namespace {

// What an entry holds: its body, and the headers and URL kept beside it (a
// device can send many large headers with an empty body).
qint64 entryCost(const QNetworkCacheMetaData& metaData, const QByteArray& body)
{
    qint64 cost = body.size() + metaData.url().toEncoded().size();
    for (const auto& [name, value] : metaData.rawHeaders())
        cost += name.size() + value.size();
    return cost;
}

} // namespace

MemoryNetworkCache::MemoryNetworkCache(qint64 budgetBytes, QObject* parent)
    : QAbstractNetworkCache(parent), budget_(budgetBytes)
{
}

MemoryNetworkCache::~MemoryNetworkCache()
{
    // Closing first tells a reply still holding the buffer to let go of it.
    for (auto& p : pending_) {
        p.buffer->close();
        delete p.buffer;
    }
}

QNetworkCacheMetaData MemoryNetworkCache::metaData(const QUrl& url)
{
    auto it = entries_.find(url);
    if (it == entries_.end())
        return {};
    it->lastUse = ++tick_;
    return it->metaData;
}

void MemoryNetworkCache::updateMetaData(const QNetworkCacheMetaData& metaData)
{
    auto it = entries_.find(metaData.url());
    if (it == entries_.end())
        return;
    // New headers cost what they hold; ones that no longer fit drop the entry.
    qint64 cost = entryCost(metaData, it->body);
    size_ -= it->cost;
    if (cost > budget_) {
        entries_.erase(it);
        return;
    }
    Entry updated{metaData, it->body, ++tick_, cost};
    entries_.erase(it);
    evictUntilFits(cost);
    size_ += cost;
    entries_.insert(updated.metaData.url(), std::move(updated));
}

QIODevice* MemoryNetworkCache::data(const QUrl& url)
{
    auto it = entries_.find(url);
    if (it == entries_.end())
        return nullptr;
    it->lastUse = ++tick_;
    // The caller owns the device; the body is shared, not copied.
    auto* buffer = new QBuffer;
    buffer->setData(it->body);
    buffer->open(QIODevice::ReadOnly);
    return buffer;
}

bool MemoryNetworkCache::remove(const QUrl& url)
{
    // Qt abandons a transfer that fails after prepare() through remove(url),
    // which cannot say which of several transfers of one URL failed. Every
    // unfinished buffer of the URL goes, each closed before it is released:
    // a reply forgets its cache buffer when the buffer closes, so the
    // transfers that are still running stop writing to it (and are simply
    // not cached) instead of writing into freed memory.
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->metaData.url() == url) {
            QBuffer* buffer = it->buffer;
            it = pending_.erase(it);
            buffer->close();
            buffer->deleteLater();
        } else {
            ++it;
        }
    }
    return dropEntry(url);
}

bool MemoryNetworkCache::dropEntry(const QUrl& url)
{
    auto it = entries_.find(url);
    if (it == entries_.end())
        return false;
    size_ -= it->cost;
    entries_.erase(it);
    return true;
}

QIODevice* MemoryNetworkCache::prepare(const QNetworkCacheMetaData& metaData)
{
    if (!metaData.isValid() || metaData.url().scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0)
        return nullptr;
    auto* buffer = new QBuffer;
    buffer->open(QIODevice::ReadWrite);
    pending_.insert(buffer, Pending{metaData, buffer});
    return buffer;
}

void MemoryNetworkCache::insert(QIODevice* device)
{
    auto it = pending_.find(device);
    if (it == pending_.end())
        return;
    Pending p = *it;
    pending_.erase(it);
    QByteArray body = p.buffer->data();
    p.buffer->deleteLater();
    const qint64 cost = entryCost(p.metaData, body);
    if (cost > budget_)
        return;
    // Only the stored entry is replaced: other transfers of the same URL may
    // still be writing into their own buffers.
    dropEntry(p.metaData.url());
    evictUntilFits(cost);
    size_ += cost;
    entries_.insert(p.metaData.url(), Entry{p.metaData, std::move(body), ++tick_, cost});
}

void MemoryNetworkCache::clear()
{
    entries_.clear();
    size_ = 0;
}

void MemoryNetworkCache::evictUntilFits(qint64 incoming)
{
    while (!entries_.isEmpty() && size_ + incoming > budget_) {
        auto oldest = entries_.begin();
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            if (it->lastUse < oldest->lastUse)
                oldest = it;
        size_ -= oldest->cost;
        entries_.erase(oldest);
    }
}

} // namespace fieldmon::platform

