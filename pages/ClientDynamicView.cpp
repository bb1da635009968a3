#include "pages/ClientDynamicView.h"

#include "device/Client.h"
#include "expr/Node.h"
#include "elements/RemoteView.h"
#include "platform/Diagnostics.h"

#include <QApplication>
#include <QJsonArray>
#include <QMouseEvent>

namespace fieldmon {

std::shared_ptr<ClientDynamicView> ClientDynamicView::create()
{
    return std::shared_ptr<ClientDynamicView>(new ClientDynamicView());
}

ClientDynamicView::ClientDynamicView()
{
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, defaultBackground());
    setPalette(p);
}

QColor ClientDynamicView::background() const
{
    return palette().color(QPalette::Window);
}

void ClientDynamicView::viewDidLoad()
{
    if (loaded_)
        return;
    loaded_ = true;
    linkWidgets(this);
}

void ClientDynamicView::viewWillAppear(bool)
{
    viewDidLoad();
    if (rColor_ && gColor_ && bColor_) {
        // Components in single precision, as the colour space takes them;
        // values outside 0..1 are clamped by the colour.
        auto component = [](const NodePtr& e) {
            float v = static_cast<float>(e->doubleValue());
            return v != v ? 0.0f : std::clamp(v, 0.0f, 1.0f);
        };
        QPalette p = palette();
        p.setColor(QPalette::Window, QColor::fromRgbF(component(rColor_), component(gColor_), component(bColor_), 1.0f));
        setPalette(p);
    }
    bindTitleOnce();
}

void ClientDynamicView::viewDidAppear(bool)
{
    visible_ = true;
    bindPageLoadOnce();
}

void ClientDynamicView::inspect(QJsonObject& screen) const
{
    QColor c = background();
    screen[QStringLiteral("background")] = QJsonArray{c.redF(), c.greenF(), c.blueF()};
}

QJsonArray ClientDynamicView::inspectWidget(int tag) const
{
    QJsonArray found;
    for (const auto& w : uiElements()) {
        if (w->tag() != tag)
            continue;
        QJsonObject o;
        w->inspect(o);
        found.append(o);
    }
    return found;
}

void ClientDynamicView::mousePressEvent(QMouseEvent* event)
{
    const bool again = lastTap_.isValid() && lastTap_.elapsed() <= QApplication::doubleClickInterval() &&
                       (event->position() - lastTapAt_).manhattanLength() < 20;
    tapCount_ = again ? tapCount_ + 1 : 1;
    lastTap_.start();
    lastTapAt_ = event->position();
    touchesBegan(event->position(), tapCount_);
    event->accept();
}

void ClientDynamicView::mouseDoubleClickEvent(QMouseEvent* event)
{
    // Qt sends a double click in place of the second press.
    mousePressEvent(event);
}

void ClientDynamicView::touchesBegan(QPointF at, int tapCount)
{
    const double x = at.x() / viewWidth();
    const double y = at.y() / viewHeight();
    if (const auto& client = remoteClient()) {
        client->expressions().setTouchX(x);
        client->expressions().setTouchY(y);
    }
    diag("Tapped %d times at (%f, %f)\n", tapCount, x, y);
}

} // namespace fieldmon
