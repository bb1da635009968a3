#pragma once
// RotatedView: a view whose content (a picture, a bar) is placed by its
// centre on the page and turned by an affine transform about that centre,
// as a view with a transform is. The widget itself covers just the box
// around the turned content, so the rest of the page stays untouched; it
// paints the content through the transform. Subclasses paint the content
// unturned in (0, 0, width, height).
//
// Thread rule: main thread only.

#include <QSizeF>
#include <QTransform>
#include <QWidget>

namespace fieldmon {

class RotatedView : public QWidget {
    Q_OBJECT
public:
    explicit RotatedView(QWidget* parent = nullptr);

    // Content of `size` points, its centre at `centre` (page points), turned
    // by `transform` about the centre. Returns early when nothing changed.
    void place(QSizeF size, QPointF centre, const QTransform& transform);

    QSizeF contentSize() const { return size_; }
    QPointF centre() const { return centre_; }
    const QTransform& contentTransform() const { return transform_; }
    // Where a point of the content (its own coordinates) lies on the page.
    QPointF toPage(QPointF contentPoint) const;

protected:
    void paintEvent(QPaintEvent*) override;
    virtual void paintContent(QPainter& painter, const QRectF& content) = 0;

private:
    // Content coordinates to page coordinates.
    QTransform contentToPage() const;

    QSizeF size_;
    QPointF centre_;
    QTransform transform_;
};

} // namespace fieldmon
