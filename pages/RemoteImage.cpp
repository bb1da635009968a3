#include "pages/RemoteImage.h"

#include "device/Client.h"
#include "pages/GaugeInspect.h"
#include "pages/GaugeMath.h"
#include "platform/Diagnostics.h"

#include <cstdio>

namespace fieldmon {

RemoteImage::RemoteImage(const std::string& file, std::shared_ptr<Client> client)
    : remoteClient_(std::move(client)), file_(file)
{
    setView(new PictureView());
    fileName_ = remoteClient_->fileNotificationIDString() + file;
    pictures_ = DevicePictures::of(remoteClient_);
    // The ticket is stored after the call: a known result comes inside it.
    DevicePictures::Ticket request =
        pictures_->picture(file, [this](const DevicePictures::Result& r) { gotImage(r); });
    if (state_ == State::Waiting)
        request_ = std::move(request);
}

QObject* RemoteImage::responder()
{
    return state_ == State::Shown ? view() : nullptr;
}

void RemoteImage::gotImage(const DevicePictures::Result& result)
{
    if (state_ != State::Waiting)
        return;
    if (!result.fetched) {
        std::printf("Couldn't find image\n");
        state_ = State::Failed;
        return;
    }
    std::printf("Got image\n");
    if (result.text) {
        // An empty body has no bytes to write (and fwrite must not be
        // given its null data pointer).
        std::fputs("String is '", stdout);
        if (!result.text->empty())
            std::fwrite(result.text->data(), 1, result.text->size(), stdout);
        std::fputs("'\n", stdout);
    }
    if (result.picture.isNull()) {
        diag("Image '%s' is no picture\n", file_.c_str());
        state_ = State::Failed;
        return;
    }
    state_ = State::Shown;
    if (PictureView* v = theImageView())
        v->setPicture(result.picture);
    updatePos();
}

void RemoteImage::updatePos()
{
    PictureView* v = theImageView();
    if (state_ != State::Shown || !v)
        return;
    const QPointF centre(gauge::points(gauge::read(xPos_) * gauge::kPageWidth),
                         gauge::points(gauge::read(yPos_) * gauge::kPageHeight));
    v->place(v->pictureSize(), centre, QTransform());
}

void RemoteImage::inspect(QJsonObject& out) const
{
    RemoteView::inspect(out);
    out[QStringLiteral("file")] = QString::fromStdString(file_);
    static const char* const names[] = {"waiting", "shown", "failed"};
    out[QStringLiteral("state")] = QString::fromLatin1(names[static_cast<int>(state_)]);
    if (PictureView* v = theImageView(); v && state_ == State::Shown)
        out[QStringLiteral("center")] = inspectPoint(v->centre());
}

} // namespace fieldmon
