#include "elements/TouchHitTest.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QTouchEvent>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <vector>

namespace fieldmon {

namespace {

// The one filter on the application: it sees a press when it reaches the
// window, before the window hands it to the widget under the point.
class Router final : public QObject {
public:
    // One per application object (it goes with it).
    static Router& instance()
    {
        static QPointer<Router> router;
        if (!router) {
            router = new Router(QCoreApplication::instance());
            QCoreApplication::instance()->installEventFilter(router);
        }
        return *router;
    }

    void add(QWidget* view, TouchHitTest::Test test)
    {
        entries_.push_back({view, std::move(test)});
        QObject::connect(view, &QObject::destroyed, this, [this, view] {
            std::erase_if(entries_, [view](const Entry& e) { return e.view.isNull() || e.view == view; });
        });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!watched->isWindowType() || entries_.empty())
            return false;
        QPointF at;
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            // A press Qt makes of a touch nobody took: the touch was tested.
            if (mouse->pointingDevice() && mouse->pointingDevice()->type() == QInputDevice::DeviceType::TouchScreen)
                return false;
            at = mouse->position();
            break;
        }
        case QEvent::TouchBegin: {
            auto* touch = static_cast<QTouchEvent*>(event);
            if (touch->points().isEmpty())
                return false;
            at = touch->points().first().position();
            break;
        }
        default:
            return false;
        }
        route(static_cast<QWindow*>(watched), at);
        return false;
    }

private:
    struct Entry {
        QPointer<QWidget> view;
        TouchHitTest::Test test;
    };

    Entry* entryOf(QWidget* w)
    {
        for (; w; w = w->parentWidget())
            for (Entry& e : entries_)
                if (e.view == w)
                    return &e;
        return nullptr;
    }

    void route(QWindow* window, QPointF at)
    {
        QWidget* top = nullptr;
        for (Entry& e : entries_) {
            if (!e.view || e.view->window()->windowHandle() != window)
                continue;
            top = e.view->window();
            e.view->setAttribute(Qt::WA_TransparentForMouseEvents, false);
        }
        if (!top)
            return;
        // Each pass either stops or makes one more view transparent.
        for (std::size_t pass = 0; pass <= entries_.size(); ++pass) {
            Entry* hit = entryOf(top->childAt(at.toPoint()));
            if (!hit)
                return;
            // The test may change what is registered; keep what it needs.
            QPointer<QWidget> view = hit->view;
            TouchHitTest::Test test = hit->test;
            if (test(view->mapFrom(top, at)))
                return;
            if (view)
                view->setAttribute(Qt::WA_TransparentForMouseEvents, true);
        }
    }

    using QObject::QObject;
    std::vector<Entry> entries_;
};

} // namespace

void TouchHitTest::add(QWidget* view, Test test)
{
    Router::instance().add(view, std::move(test));
}

} // namespace fieldmon
