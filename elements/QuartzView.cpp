#include "elements/QuartzView.h"

#include <QEvent>

namespace fieldmon {

QuartzView::QuartzView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    fillParent();
}

bool QuartzView::event(QEvent* event)
{
    if (event->type() == QEvent::ParentAboutToChange && parentWidget())
        parentWidget()->removeEventFilter(this);
    if (event->type() == QEvent::ParentChange) {
        if (parentWidget())
            parentWidget()->installEventFilter(this);
        fillParent();
    }
    return QWidget::event(event);
}

bool QuartzView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        fillParent();
    return false;
}

void QuartzView::fillParent()
{
    if (QWidget* page = parentWidget())
        setGeometry(page->rect());
    else
        setGeometry(0, 0, 320, 470);
}

} // namespace fieldmon
