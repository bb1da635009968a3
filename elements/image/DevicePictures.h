#pragma once
// DevicePictures: the pictures one device serves to its image widgets. Each
// file is fetched once and decoded once, and every widget that shows it gets
// the same decoded picture (a QImage shares its pixels), so thirty widgets of
// one picture hold one copy of it, not thirty.
//
// Bounds, for a device that serves hostile pictures:
// - A picture larger than the page (320 × 416 points) is decoded scaled down
//   to fit the page, at the screen's pixel ratio, keeping its proportions,
//   and shows at that size: no more of it could be seen at once anyway.
//   Pictures that fit the page decode and show at their own size.
// - One picture may need at most kMaxDecodeMiB to decode.
// - All the pictures kept for a device take at most kBudgetBytes; a picture
//   that would go past it is refused like one that does not decode.
//
// Widgets ask with picture(); the result comes to their callback, at once
// when the file has been fetched already. Dropping the Ticket withdraws the
// request; when no widget waits for a file any more its transfer is
// cancelled, which is how a page's picture transfers end with the page. A
// file that could not be fetched or decoded is not asked for again while
// the store lives.
//
// One store per device record lives while any widget holds it (of() finds
// it), and it holds the record; the pictures go when the device's pages go.
//
// Thread rule: main thread only.

#include "device/FileTransfers.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace fieldmon {

class Client;

class DevicePictures : public std::enable_shared_from_this<DevicePictures> {
public:
    static constexpr int kMaxDecodeMiB = 64;
    static constexpr qint64 kBudgetBytes = qint64(64) * 1024 * 1024;

    struct Result {
        bool fetched = false;              // false: no body (missing file, refused, timed out)
        std::optional<std::string> text;   // a body of at most 99 bytes, as it came
        QImage picture;                    // null: the body is no picture (or over the budget)
    };
    using Waiter = std::function<void(const Result&)>;

    class Ticket {
    public:
        Ticket() = default;
        ~Ticket() { reset(); }
        Ticket(Ticket&& other) noexcept;
        Ticket& operator=(Ticket&& other) noexcept;
        Ticket(const Ticket&) = delete;
        Ticket& operator=(const Ticket&) = delete;
        void reset();

    private:
        friend class DevicePictures;
        std::weak_ptr<DevicePictures> store_;
        std::string file_;
        std::uint64_t id_ = 0;
    };

    // The store of this device, made when none lives.
    static std::shared_ptr<DevicePictures> of(const std::shared_ptr<Client>& client);

    explicit DevicePictures(std::shared_ptr<Client> client);
    ~DevicePictures();
    DevicePictures(const DevicePictures&) = delete;
    DevicePictures& operator=(const DevicePictures&) = delete;

    // Asks for `file`; `waiter` runs once with the result, inside this call
    // when the result is known already (or the transfer fails at once).
    [[nodiscard]] Ticket picture(const std::string& file, Waiter waiter);

    // Bytes of the decoded pictures kept, and how many decodes ran.
    qint64 usedBytes() const { return used_; }
    int decodes() const { return decodes_; }

    // The size a picture of `size` points is shown at: its own, or scaled
    // down (proportions kept) to fit the page.
    static QSize shownSize(QSize size);

private:
    struct Entry {
        std::optional<Result> result; // none while the transfer runs
        FileTransfers::Handle fetch;
        std::map<std::uint64_t, Waiter> waiters;
    };

    void arrived(const std::string& file, const platform::Bytes* body);
    QImage decode(const std::string& file, const platform::Bytes& body);
    void withdraw(const std::string& file, std::uint64_t id);

    std::shared_ptr<Client> client_;
    std::map<std::string, Entry> entries_;
    std::uint64_t nextId_ = 1;
    qint64 used_ = 0;
    int decodes_ = 0;
};

} // namespace fieldmon
