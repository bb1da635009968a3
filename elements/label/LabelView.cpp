#include "elements/label/LabelView.h"

#include "widgets/ApplicationCache.h"
#include "widgets/PhoneStyle.h"

#include <QFontMetrics>
#include <QHash>
#include <QPainter>

#include <algorithm>
#include <array>
#include <memory>

namespace fieldmon {

namespace {

// Layouts of texts that fit their label, shared by every label showing the
// same text in the same font. Small: it serves the texts many labels show at
// once, and is emptied when full.
struct SharedLayout {
    QString text;
    QFont font;
    QStaticText layout;
};

struct SharedLayouts {
    QHash<QString, std::vector<SharedLayout>> byText;
    int count = 0;
};

QStaticText sharedLayout(const QString& text, const QFont& font)
{
    SharedLayouts& shared = ApplicationCache<SharedLayouts>::get([] { return SharedLayouts{}; });
    auto& layouts = shared.byText;
    int& count = shared.count;
    auto& same = layouts[text];
    for (const SharedLayout& s : same)
        if (s.font == font)
            return s.layout;
    if (count >= 256) {
        layouts.clear();
        count = 0;
    }
    QStaticText layout(text);
    layout.setTextFormat(Qt::PlainText);
    layout.setPerformanceHint(QStaticText::AggressiveCaching);
    layout.prepare(QTransform(), font);
    layouts[text].push_back({text, font, layout});
    ++count;
    return layout;
}

} // namespace

LabelView::LabelView(QWidget* parent) : QWidget(parent), font_(systemFont(16))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
}

const QFont& LabelView::systemFont(int pixels)
{
    using Fonts = std::array<std::unique_ptr<QFont>, 417>;
    Fonts& fonts = ApplicationCache<Fonts>::get([] { return Fonts{}; });
    pixels = std::clamp(pixels, 1, 416);
    auto& font = fonts[static_cast<std::size_t>(pixels)];
    if (!font)
        font = std::make_unique<QFont>(phone::systemFont(pixels));
    return *font;
}

void LabelView::setText(const QString& text)
{
    if (text == text_)
        return;
    text_ = text;
    relayout();
}

void LabelView::setAlignment(Qt::Alignment align)
{
    if (align == align_)
        return;
    align_ = align;
    update();
}

void LabelView::setLabelFont(const QFont& f)
{
    if (f == font_)
        return;
    font_ = f;
    relayout();
}

void LabelView::resizeEvent(QResizeEvent*)
{
    relayout();
}

void LabelView::relayout()
{
    laidOut_ = false;
    update();
}

void LabelView::layOut()
{
    laidOut_ = true;
    shown_ = sharedLayout(text_, font_);
    if (shown_.size().width() > width()) {
        shown_ = QStaticText(QFontMetrics(font_).elidedText(text_, Qt::ElideRight, width()));
        shown_.setTextFormat(Qt::PlainText);
        shown_.prepare(QTransform(), font_);
    }
}

QString LabelView::shownText() const
{
    if (!laidOut_)
        const_cast<LabelView*>(this)->layOut();
    return shown_.text();
}

void LabelView::paintEvent(QPaintEvent*)
{
    if (text_.isEmpty())
        return;
    if (!laidOut_)
        layOut();
    QPainter p(this);
    const QSizeF size = shown_.size();
    const double x = (align_ & Qt::AlignRight) ? width() - size.width() : 0.0;
    const QPointF at(x, (height() - size.height()) / 2.0);
    p.setFont(font_);
    p.setPen(Qt::white);
    p.drawStaticText(at - QPointF(0, 1), shown_);
    p.setPen(Qt::black);
    p.drawStaticText(at, shown_);
}

} // namespace fieldmon
