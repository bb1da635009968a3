#pragma once
// PictureView: a picture placed by its centre on the page and turned about
// it (RotatedView). Like an image view it takes no touches: whatever lies
// under it gets them. A null picture shows nothing.
//
// Thread rule: main thread only.

#include "elements/RotatedView.h"

#include <QImage>

namespace fieldmon {

class PictureView final : public RotatedView {
    Q_OBJECT
public:
    explicit PictureView(QWidget* parent = nullptr);

    void setPicture(const QImage& picture);
    const QImage& picture() const { return picture_; }
    // The picture's size in points (zero for a null picture): a picture
    // decoded at a pixel ratio above 1 covers fewer points than pixels.
    QSizeF pictureSize() const { return picture_.deviceIndependentSize(); }

protected:
    void paintContent(QPainter& painter, const QRectF& content) override;

private:
    QImage picture_;
};

} // namespace fieldmon
