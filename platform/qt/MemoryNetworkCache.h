#pragma once
// MemoryNetworkCache: the HTTP cache of the file transport. It keeps
// responses in memory only (nothing is ever written to disk) and refuses
// anything fetched over https. QNetworkAccessManager decides by the usual
// HTTP rules (Cache-Control, validators) what is stored and when a stored
// response may be reused; this class only stores.
//
// Memory is bounded: an entry costs its body, its headers and its URL;
// entries larger than the whole budget are not kept, and the least recently
// used entries are dropped to make room.
//
// Thread rule: the thread of its QNetworkAccessManager (the main thread).

#include <QAbstractNetworkCache>
#include <QBuffer>
#include <QByteArray>
#include <QHash>
#include <QUrl>

#include <cstdint>

namespace fieldmon::platform {

class MemoryNetworkCache final : public QAbstractNetworkCache {
public:
    static constexpr qint64 kDefaultBudgetBytes = 32 * 1024 * 1024;

    explicit MemoryNetworkCache(qint64 budgetBytes = kDefaultBudgetBytes, QObject* parent = nullptr);
    ~MemoryNetworkCache() override;

    QNetworkCacheMetaData metaData(const QUrl& url) override;
    void updateMetaData(const QNetworkCacheMetaData& metaData) override;
    QIODevice* data(const QUrl& url) override;
    bool remove(const QUrl& url) override;
    qint64 cacheSize() const override { return size_; }
    QIODevice* prepare(const QNetworkCacheMetaData& metaData) override;
    void insert(QIODevice* device) override;
    void clear() override;

    int entryCount() const { return int(entries_.size()); }

private:
    struct Entry {
        QNetworkCacheMetaData metaData;
        QByteArray body;
        std::uint64_t lastUse = 0;
        qint64 cost = 0; // body, headers and URL
    };
    struct Pending {
        QNetworkCacheMetaData metaData;
        QBuffer* buffer = nullptr;
    };

    // Forgets the stored response of `url`; unfinished buffers stay.
    bool dropEntry(const QUrl& url);
    void evictUntilFits(qint64 incoming);

    qint64 budget_;
    qint64 size_ = 0;
    std::uint64_t tick_ = 0;
    QHash<QUrl, Entry> entries_;
    QHash<QIODevice*, Pending> pending_;
};

} // namespace fieldmon::platform
