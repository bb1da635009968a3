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

} // namespace fieldmon
