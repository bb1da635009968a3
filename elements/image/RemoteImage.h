#pragma once
// RemoteImage: a picture fetched from the device itself ("image"), centred
// at a position of page fractions (x × 320, y × 416).
//
// At creation it asks the device's picture store (DevicePictures) for its
// file: every image widget of one file on one device shares one transfer and
// one decoded picture, scaled down to the page when it is larger. The result
// comes to this widget's own request, never from a file notification (whose
// name another device can make). States:
//
//   waiting  asked; nothing shown, position updates have no effect
//   shown    the picture arrived and decoded: it shows at the position
//   failed   no body (missing file, refused, timed out: "Couldn't find
//            image"), or a body that is no picture or over the device's
//            picture budget: nothing shows, ever
//
// The request is withdrawn with the widget, which cancels the transfer when
// no other widget waits for it. A failed fetch is not retried. The view
// takes no touches: an empty or failed image is an untouchable empty area.
// Its responder is the view once the picture is shown (a picture arriving
// after the page was shown is not linked into the page's responder chain).
//
// Thread rule: main thread only (file notifications are posted there).

#include "elements/image/DevicePictures.h"
#include "elements/PictureView.h"
#include "elements/RemoteView.h"

#include <memory>
#include <string>

namespace fieldmon {

class Client;

namespace expr {
class Node;
}

class RemoteImage final : public RemoteView {
public:
    using NodePtr = std::shared_ptr<expr::Node>;
    enum class State { Waiting, Shown, Failed };
    RemoteImage(const std::string& file, std::shared_ptr<Client> client);

    PictureView* theImageView() const { return static_cast<PictureView*>(view()); }
    QObject* responder() override;
    QString elementName() const override { return QStringLiteral("image"); }
    void inspect(QJsonObject& out) const override;

    void setXData(NodePtr e) { xPos_ = std::move(e); }
    void setYData(NodePtr e) { yPos_ = std::move(e); }
    void updatePos();

    State state() const { return state_; }
    // The device's file notification name for the file (observers' only).
    const std::string& fileName() const { return fileName_; }

private:
    void gotImage(const DevicePictures::Result& result);

    std::shared_ptr<Client> remoteClient_;
    std::string file_;
    std::string fileName_;
    std::shared_ptr<DevicePictures> pictures_;
    DevicePictures::Ticket request_;
    State state_ = State::Waiting;
    NodePtr xPos_, yPos_;
};

} // namespace fieldmon
