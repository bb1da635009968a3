#include "platform/qt/MemoryNetworkCache.h"

#include <QCoreApplication>
#include <QPointer>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using fieldmon::platform::MemoryNetworkCache;

namespace {

QNetworkCacheMetaData meta(const char* url)
{
    QNetworkCacheMetaData m;
    m.setUrl(QUrl(QString::fromLatin1(url)));
    m.setSaveToDisk(true); // a hint for disk caches; ours keeps memory only
    return m;
}

// Stores `body` for `url` the way QNetworkAccessManager does; false when the
// cache refused to prepare an entry.
bool store(MemoryNetworkCache& cache, const char* url, const QByteArray& body)
{
    QIODevice* dev = cache.prepare(meta(url));
    if (!dev)
        return false;
    dev->write(body);
    cache.insert(dev);
    return true;
}

QByteArray readBack(MemoryNetworkCache& cache, const char* url)
{
    std::unique_ptr<QIODevice> dev(cache.data(QUrl(QString::fromLatin1(url))));
    return dev ? dev->readAll() : QByteArray("<none>");
}

} // namespace

TEST(MemoryNetworkCache, KeepsHttpButNeverHttps)
{
    MemoryNetworkCache cache;
    struct Case {
        const char* url;
        bool kept;
    };
    for (Case c : {Case{"http://10.0.0.7/ui.xml", true}, Case{"https://10.0.0.7/ui.xml", false},
                   Case{"HTTPS://10.0.0.7/Arrow.png", false}}) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(store(cache, c.url, "body"), c.kept);
        EXPECT_EQ(cache.metaData(QUrl(QString::fromLatin1(c.url))).isValid(), c.kept);
        EXPECT_EQ(readBack(cache, c.url), c.kept ? QByteArray("body") : QByteArray("<none>"));
    }
    EXPECT_EQ(cache.entryCount(), 1);
    EXPECT_EQ(cache.cacheSize(), 4 + qsizetype(std::strlen("http://10.0.0.7/ui.xml"))) << "the body and its URL";
}

TEST(MemoryNetworkCache, StaysWithinItsBudget)
{
    // Each entry costs its URL (10 bytes here) and its body.
    MemoryNetworkCache cache(30);
    ASSERT_TRUE(store(cache, "http://d/a", "aaaa"));
    ASSERT_TRUE(store(cache, "http://d/b", "bbbb"));
    readBack(cache, "http://d/a"); // a is now the more recently used
    ASSERT_TRUE(store(cache, "http://d/c", "cccc"));
    EXPECT_LE(cache.cacheSize(), 30);
    EXPECT_EQ(readBack(cache, "http://d/a"), "aaaa");
    EXPECT_EQ(readBack(cache, "http://d/b"), "<none>"); // least recently used went first
    EXPECT_EQ(readBack(cache, "http://d/c"), "cccc");
    // A body larger than the whole budget is not kept at all.
    ASSERT_TRUE(store(cache, "http://d/huge", QByteArray(21, 'h')));
    EXPECT_EQ(readBack(cache, "http://d/huge"), "<none>");
    EXPECT_LE(cache.cacheSize(), 30);
    // Replacing an entry does not count the old body twice.
    ASSERT_TRUE(store(cache, "http://d/c", "CCCCCC"));
    EXPECT_EQ(readBack(cache, "http://d/c"), "CCCCCC");
    EXPECT_LE(cache.cacheSize(), 30);
}

TEST(MemoryNetworkCache, StoredHeadersCountAgainstTheBudget)
{
    // Only bodies were counted: a device answering with empty bodies and
    // megabytes of headers filled memory past the budget unseen.
    MemoryNetworkCache cache(64 * 1024);
    auto withHeaders = [](const char* url, int count) {
        QNetworkCacheMetaData m = meta(url);
        QNetworkCacheMetaData::RawHeaderList headers;
        for (int i = 0; i < count; ++i)
            headers.append({"X-Filler-" + QByteArray::number(i), QByteArray(1000, 'h')});
        m.setRawHeaders(headers);
        return m;
    };
    auto storeMeta = [&](const QNetworkCacheMetaData& m) {
        QIODevice* dev = cache.prepare(m);
        ASSERT_TRUE(dev);
        cache.insert(dev); // an empty body
    };
    storeMeta(withHeaders("http://d/a", 30));
    EXPECT_GT(cache.cacheSize(), 30 * 1000);
    storeMeta(withHeaders("http://d/b", 30));
    storeMeta(withHeaders("http://d/c", 30)); // three do not fit: the oldest goes
    EXPECT_LE(cache.cacheSize(), 64 * 1024);
    EXPECT_EQ(cache.entryCount(), 2);
    storeMeta(withHeaders("http://d/huge", 100)); // alone past the budget: not kept
    EXPECT_FALSE(cache.metaData(QUrl("http://d/huge")).isValid());
    EXPECT_LE(cache.cacheSize(), 64 * 1024);
}

TEST(MemoryNetworkCache, AbandonedDownloadLeavesNothingBehind)
{
    MemoryNetworkCache cache;
    QIODevice* dev = cache.prepare(meta("http://d/x"));
    ASSERT_NE(dev, nullptr);
    dev->write("partial");
    EXPECT_FALSE(cache.remove(QUrl("http://d/x"))); // nothing stored yet
    cache.insert(dev);                              // a late insert of the dropped device is ignored
    EXPECT_EQ(readBack(cache, "http://d/x"), "<none>");
    EXPECT_EQ(cache.cacheSize(), 0);
}

TEST(MemoryNetworkCache, TwoDownloadsOfOneUrlKeepTheirOwnBuffers)
{
    // Two pictures of one file load at once. Storing the first used to drop
    // every unfinished buffer of that URL, the second download's included,
    // while Qt went on writing into it: a use after free.
    MemoryNetworkCache cache;
    QIODevice* first = cache.prepare(meta("http://d/Arrow.png"));
    QPointer<QIODevice> second = cache.prepare(meta("http://d/Arrow.png"));
    ASSERT_TRUE(first && second);
    first->write("first");
    second->write("sec");
    cache.insert(first);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(second.isNull()) << "the second download's buffer was freed under it";
    second->write("ond");
    cache.insert(second);
    EXPECT_EQ(readBack(cache, "http://d/Arrow.png"), "second"); // the newer response replaces the older
    EXPECT_EQ(cache.cacheSize(), 6 + qsizetype(std::strlen("http://d/Arrow.png")));
}

TEST(MemoryNetworkCache, AFailedDownloadReleasesTheOtherBuffersOfItsUrlOnlyThroughClose)
{
    // Qt abandons a failed download with remove(url), which cannot say which
    // of several downloads of that URL failed. Every buffer of the URL is
    // dropped, and each is closed first: Qt forgets a cache buffer when it
    // closes, so no download writes into one that is gone.
    MemoryNetworkCache cache;
    QIODevice* failed = cache.prepare(meta("http://d/Arrow.png"));
    QPointer<QIODevice> running = cache.prepare(meta("http://d/Arrow.png"));
    ASSERT_TRUE(failed && running);
    bool closedBeforeFreed = false;
    QObject::connect(running, &QIODevice::aboutToClose, [&] { closedBeforeFreed = !running.isNull(); });
    running->write("partial");
    cache.remove(QUrl("http://d/Arrow.png"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(closedBeforeFreed || !running.isNull());
    EXPECT_EQ(readBack(cache, "http://d/Arrow.png"), "<none>");
}
