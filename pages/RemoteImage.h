#pragma once
// RemoteImage: a picture fetched from the device itself ("image"), centred
// at a position of page fractions (x × 320, y × 416).
//
// At creation it subscribes to the device's file notification for its file
// (fileFrom<serial><file>) and only then asks the device for the file, so a
// failure reported at once is seen too. Two widgets of one file each take
// the one notification of the transfer that ends first. States:
//
//   waiting  subscribed; nothing shown, position updates have no effect
//   shown    the picture arrived and decoded: it shows at the position
//   failed   no body (missing file, refused, timed out: "Couldn't find
//            image"), or a body that is no picture: nothing shows, ever
//
// The subscription ends with the first notification and with the widget.
// A failed fetch is not retried. The view takes no touches: an empty or
// failed image is an untouchable empty area. Its responder is the view once
// the picture is shown (a picture arriving after the page was shown is not
// linked into the page's responder chain).
//
// Thread rule: main thread only (file notifications are posted there).

#include "pages/PictureView.h"
#include "pages/RemoteView.h"
#include "platform/NotificationCenter.h"

#include <memory>
#include <string>

namespace fieldmon {

class Client;

namespace expr {
class ClientData;
}

class RemoteImage final : public RemoteView {
public:
    using NodePtr = std::shared_ptr<expr::ClientData>;
    enum class State { Waiting, Shown, Failed };
    // Pictures larger than this (decoded) are refused as undecodable.
    static constexpr int kMaxDecodedMiB = 64;

    RemoteImage(const std::string& file, std::shared_ptr<Client> client);

    PictureView* theImageView() const { return static_cast<PictureView*>(view()); }
    QObject* responder() override;
    QString elementName() const override { return QStringLiteral("image"); }
    void inspect(QJsonObject& out) const override;

    void setXData(NodePtr e) { xPos_ = std::move(e); }
    void setYData(NodePtr e) { yPos_ = std::move(e); }
    void updatePos();

    State state() const { return state_; }
    const std::string& fileName() const { return fileName_; }

private:
    void gotImage(const platform::Notification& note);

    std::shared_ptr<Client> remoteClient_;
    std::string file_;
    std::string fileName_;
    platform::Subscription subscription_;
    State state_ = State::Waiting;
    NodePtr xPos_, yPos_;
};

} // namespace fieldmon
