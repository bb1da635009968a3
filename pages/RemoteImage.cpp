#include "pages/RemoteImage.h"

#include "device/Client.h"
#include "pages/GaugeInspect.h"
#include "pages/GaugeMath.h"

#include <QBuffer>
#include <QImageReader>

#include <cstdio>

namespace fieldmon {

namespace {

QImage decode(const platform::Bytes& body)
{
    QByteArray data(reinterpret_cast<const char*>(body.data()), static_cast<qsizetype>(body.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAllocationLimit(RemoteImage::kMaxDecodedMiB);
    return reader.read();
}

} // namespace

RemoteImage::RemoteImage(const std::string& file, std::shared_ptr<Client> client)
    : remoteClient_(std::move(client)), file_(file)
{
    setView(new PictureView());
    fileName_ = remoteClient_->fileNotificationIDString() + file;
    subscription_ =
        remoteClient_->notifications().subscribe(fileName_, [this](const platform::Notification& n) { gotImage(n); });
    remoteClient_->requestFile(file);
}

QObject* RemoteImage::responder()
{
    return state_ == State::Shown ? view() : nullptr;
}

void RemoteImage::gotImage(const platform::Notification& note)
{
    if (state_ != State::Waiting)
        return;
    const platform::Bytes* body = note.bytes();
    if (!body) {
        std::printf("Couldn't find image\n");
        subscription_.reset();
        state_ = State::Failed;
        return;
    }
    std::printf("Got image\n");
    subscription_.reset();
    if (body->size() <= 99) {
        std::fputs("String is '", stdout);
        std::fwrite(body->data(), 1, body->size(), stdout);
        std::fputs("'\n", stdout);
    }
    QImage picture = decode(*body);
    if (picture.isNull()) {
        std::printf("Image '%s' is no picture\n", file_.c_str());
        state_ = State::Failed;
        return;
    }
    state_ = State::Shown;
    if (PictureView* v = theImageView())
        v->setPicture(picture);
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
