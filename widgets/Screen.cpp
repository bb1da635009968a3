#include "widgets/Screen.h"

namespace fieldmon {

Screen::Screen(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_AcceptTouchEvents);
}

void Screen::setTitle(const QString& title)
{
    if (title_ == title)
        return;
    title_ = title;
    emit titleChanged(title_);
}

QJsonArray Screen::pageFrame(const QWidget* widget, const QRect& rect)
{
    const QWidget* page = widget;
    while (page && !qobject_cast<const Screen*>(page) && !page->isWindow())
        page = page->parentWidget();
    QPoint at = page ? widget->mapTo(page, rect.topLeft()) : rect.topLeft();
    return QJsonArray{at.x(), at.y(), rect.width(), rect.height()};
}

std::vector<AutomationDrag> Screen::pickDrags(int tag, int /*column*/, int /*row*/, QString& error) const
{
    error = QStringLiteral("no picker with tag %1 on this screen").arg(tag);
    return {};
}

} // namespace fieldmon
