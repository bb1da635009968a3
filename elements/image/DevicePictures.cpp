#include "elements/image/DevicePictures.h"

#include "device/Client.h"
#include "elements/PageGeometry.h"
#include "platform/Diagnostics.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImageReader>

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace fieldmon {

namespace {

// The live store of each device. Keys stay valid: a store holds its record,
// so no other record can take its address while the store lives.
std::unordered_map<const Client*, std::weak_ptr<DevicePictures>>& stores()
{
    static std::unordered_map<const Client*, std::weak_ptr<DevicePictures>> all;
    return all;
}

} // namespace

DevicePictures::Ticket::Ticket(Ticket&& other) noexcept
    : store_(std::move(other.store_)), file_(std::move(other.file_)), id_(other.id_)
{
    other.id_ = 0;
}

DevicePictures::Ticket& DevicePictures::Ticket::operator=(Ticket&& other) noexcept
{
    if (this != &other) {
        reset();
        store_ = std::move(other.store_);
        file_ = std::move(other.file_);
        id_ = other.id_;
        other.id_ = 0;
    }
    return *this;
}

void DevicePictures::Ticket::reset()
{
    if (id_ == 0)
        return;
    std::uint64_t id = id_;
    id_ = 0;
    if (auto store = store_.lock())
        store->withdraw(file_, id);
    store_.reset();
}

std::shared_ptr<DevicePictures> DevicePictures::of(const std::shared_ptr<Client>& client)
{
    auto& all = stores();
    if (auto it = all.find(client.get()); it != all.end())
        if (auto store = it->second.lock())
            return store;
    std::erase_if(all, [](const auto& entry) { return entry.second.expired(); });
    auto store = std::make_shared<DevicePictures>(client);
    all[client.get()] = store;
    return store;
}

DevicePictures::DevicePictures(std::shared_ptr<Client> client) : client_(std::move(client)) {}

DevicePictures::~DevicePictures()
{
    // Running transfers are cancelled by their handles; nobody hears of them.
    entries_.clear();
}

QSize DevicePictures::shownSize(QSize size)
{
    const double width = kPageWidth, height = kPageHeight;
    if (size.isEmpty() || (size.width() <= width && size.height() <= height))
        return size;
    double scale = std::min(width / size.width(), height / size.height());
    return QSize(std::max(1, int(std::lround(size.width() * scale))), std::max(1, int(std::lround(size.height() * scale))));
}

DevicePictures::Ticket DevicePictures::picture(const std::string& file, Waiter waiter)
{
    Ticket ticket;
    auto [it, made] = entries_.try_emplace(file);
    if (it->second.result) {
        waiter(*it->second.result);
        return ticket;
    }
    std::uint64_t id = nextId_++;
    it->second.waiters.emplace(id, std::move(waiter));
    ticket.store_ = weak_from_this();
    ticket.file_ = file;
    ticket.id_ = id;
    if (made) {
        // The handle is stored after the call: a transfer that cannot start
        // reports inside it, and the entry then has its result already.
        FileTransfers::Handle fetch =
            client_->files().request(file, [this, file](const platform::Bytes* body) { arrived(file, body); });
        if (auto again = entries_.find(file); again != entries_.end() && !again->second.result)
            again->second.fetch = std::move(fetch);
    }
    return ticket;
}

void DevicePictures::withdraw(const std::string& file, std::uint64_t id)
{
    auto it = entries_.find(file);
    if (it == entries_.end())
        return;
    it->second.waiters.erase(id);
    // Nobody waits for a transfer still running: it ends here, and a widget
    // asking later fetches the file again.
    if (!it->second.result && it->second.waiters.empty())
        entries_.erase(it);
}

void DevicePictures::arrived(const std::string& file, const platform::Bytes* body)
{
    auto it = entries_.find(file);
    if (it == entries_.end())
        return;
    Result result;
    if (body) {
        result.fetched = true;
        if (body->size() <= 99)
            result.text = std::string(body->begin(), body->end());
        result.picture = decode(file, *body);
    }
    it->second.result = result;
    // Each waiter is taken out before it runs: it may withdraw, ask again
    // (and be answered at once) or drop other widgets.
    auto self = shared_from_this();
    while (true) {
        auto entry = entries_.find(file);
        if (entry == entries_.end() || entry->second.waiters.empty())
            return;
        auto node = entry->second.waiters.extract(entry->second.waiters.begin());
        node.mapped()(result);
    }
}

QImage DevicePictures::decode(const std::string& file, const platform::Bytes& body)
{
    if (body.empty())
        return {};
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(body.data()), qsizetype(body.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAllocationLimit(kMaxDecodeMiB);
    const QSize natural = reader.size();
    const QSize shown = shownSize(natural);
    const double ratio = qGuiApp ? std::max(1.0, qGuiApp->devicePixelRatio()) : 1.0;
    QSize decoded = shown;
    if (shown != natural && shown.isValid()) {
        decoded = (QSizeF(shown) * ratio).toSize().boundedTo(natural);
        reader.setScaledSize(decoded);
    }
    const qint64 needed = decoded.isValid() ? qint64(decoded.width()) * decoded.height() * 4 : 0;
    if (used_ + needed > kBudgetBytes) {
        diag("Image '%s' refused: the device's pictures would take more than %d MiB\n", file.c_str(),
                    int(kBudgetBytes >> 20));
        return {};
    }
    QImage picture = reader.read();
    ++decodes_;
    if (picture.isNull())
        return {};
    if (used_ + picture.sizeInBytes() > kBudgetBytes) {
        diag("Image '%s' refused: the device's pictures would take more than %d MiB\n", file.c_str(),
                    int(kBudgetBytes >> 20));
        return {};
    }
    if (!natural.isValid()) {
        // A format that tells no size before decoding: scaled afterwards.
        QSize fits = shownSize(picture.size());
        if (fits != picture.size())
            picture = picture.scaled((QSizeF(fits) * ratio).toSize().boundedTo(picture.size()), Qt::KeepAspectRatio,
                                     Qt::SmoothTransformation);
        if (fits != picture.size())
            picture.setDevicePixelRatio(double(picture.width()) / fits.width());
    } else if (shown != natural && shown.isValid()) {
        picture.setDevicePixelRatio(double(picture.width()) / shown.width());
    }
    used_ += picture.sizeInBytes();
    return picture;
}

} // namespace fieldmon
