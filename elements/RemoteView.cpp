#include "elements/RemoteView.h"

#include <QCoreApplication>
#include <QGraphicsOpacityEffect>
#include <QJsonArray>
#include <QMouseEvent>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace fieldmon {

RemoteView::~RemoteView()
{
    // The page may already have taken the view with it.
    delete view_.data();
}

void RemoteView::setView(QWidget* view)
{
    if (view_ == view)
        return;
    delete view_.data();
    view_ = view;
}

void RemoteView::moveView(double x, double y)
{
    QWidget* v = view();
    if (!v)
        return;
    auto point = [](double d) {
        if (d != d)
            return 0;
        return static_cast<int>(std::lround(std::clamp(d, -100000.0, 100000.0)));
    };
    v->move(point(x), point(y));
}

void RemoteView::inspect(QJsonObject& out) const
{
    out[QStringLiteral("class")] = elementName();
    out[QStringLiteral("tag")] = tag();
    QWidget* v = view();
    if (!v)
        return;
    QRect r = v->geometry();
    out[QStringLiteral("frame")] = QJsonArray{r.x(), r.y(), r.width(), r.height()};
    out[QStringLiteral("visible")] = !v->isHidden();
    double alpha = 1.0;
    if (auto* effect = qobject_cast<QGraphicsOpacityEffect*>(v->graphicsEffect()))
        alpha = effect->opacity();
    out[QStringLiteral("alpha")] = alpha;
}

std::vector<AutomationDrag> RemoteView::pickDrags(int, int, QString& error) const
{
    error = QStringLiteral("widget %1 is a %2, not a picker").arg(QString::number(tag()), elementName());
    return {};
}

bool RemoteView::passTouchOn(QObject* next, QMouseEvent* event)
{
    auto* target = qobject_cast<QWidget*>(next);
    if (!target || !event)
        return false;
    QPointF local = target->mapFromGlobal(event->globalPosition());
    QMouseEvent copy(event->type(), local, event->scenePosition(), event->globalPosition(), event->button(),
                     event->buttons(), event->modifiers(), event->pointingDevice());
    copy.setAccepted(false);
    QCoreApplication::sendEvent(target, &copy);
    return copy.isAccepted();
}

} // namespace fieldmon
