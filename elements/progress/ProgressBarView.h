#pragma once
// ProgressBarView: the bar of a Progress gauge, a phone-style progress bar
// (a light rounded track, filled from its left end in blue) that can be
// stretched to any length and turned about its centre. Progress is held to
// 0…1; NaN reads 0.
//
// Thread rule: main thread only.

#include "elements/RotatedView.h"

namespace fieldmon {

class ProgressBarView final : public RotatedView {
    Q_OBJECT
public:
    explicit ProgressBarView(QWidget* parent = nullptr);

    void setProgress(float progress);
    float progress() const { return progress_; }
    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }

protected:
    void paintContent(QPainter& painter, const QRectF& content) override;

private:
    float progress_ = 0;
    int tag_ = 0;
};

} // namespace fieldmon
