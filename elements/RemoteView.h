#pragma once
// RemoteView: the protocol every widget of a device page answers. A widget
// is a plain object, not itself a Qt widget: it keeps the compiled
// expressions that feed it and one Qt widget, its view, which the page shows.
// The reader makes the widget, tags it, sets its expressions and binds them
// to the device's update scheduler, whose notifiers call the widget's
// update operations; the page shows the views and links the widgets that
// have a responder into a chain in document order.
//
//   view()               the Qt widget to add to the page, or null
//   responder()          what the widget links into the page's responder
//                        chain (null: it takes no part)
//   setResponder(next)   the next responder: the next widget's responder in
//                        document order, or the page after the last one
//   tag(), setTag()      the widget's number from the process-wide counter
//   valid(), setValid()  a stored flag
//   inspect(out)         what the automation interface reports
//   pickDrags(), settling()
//                        a picker's turns for the automation interface
//
// Ownership: a widget owns its view. The page makes the view its child when
// it first shows; whichever goes first (page or widget) takes the view with
// it. Widgets are shared: the page's widget list and the scheduler's
// bindings hold them, so a widget may outlive its page (its view is then
// gone and its updates change nothing).
//
// Input: a view that takes no touches must be transparent for input
// (Qt::WA_TransparentForMouseEvents), so that controls under it and the page
// background get the touches; a view that takes touches only sometimes
// hands the rest on with passTouchOn().
//
// Thread rule: main thread only.

#include "widgets/Screen.h"

#include <QJsonObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <vector>

class QMouseEvent;
class QWidget;

namespace fieldmon {

class RemoteView : public std::enable_shared_from_this<RemoteView> {
public:
    RemoteView() = default;
    virtual ~RemoteView();
    RemoteView(const RemoteView&) = delete;
    RemoteView& operator=(const RemoteView&) = delete;

    virtual QWidget* view() const { return view_.data(); }
    virtual QObject* responder() { return nullptr; }
    void setResponder(QObject* next) { nextResponder_ = next; }
    QObject* nextResponder() const { return nextResponder_.data(); }

    virtual int tag() const { return tag_; }
    virtual void setTag(int tag) { tag_ = tag; }
    bool valid() const { return valid_; }
    void setValid(bool valid) { valid_ = valid; }

    // The element the widget was made from ("label", "bool", "morebutton",
    // ...): its "class" in what automation reports, since scripts and
    // device authors know elements, not our classes.
    virtual QString elementName() const = 0;
    // "class", "tag", "frame" [x, y, w, h] in page points, "visible" and
    // "alpha" of the view; widgets add what they show ("text", "align", ...).
    virtual void inspect(QJsonObject& out) const;
    // For a picker: the drags that turn `column` to `row` (see
    // Screen::pickDrags); other widgets have no columns.
    virtual std::vector<AutomationDrag> pickDrags(int column, int row, QString& error) const;
    // Whether the widget still moves by itself after a gesture.
    virtual bool settling() const { return false; }

    // Hands a mouse event that a view does not take to `next`: a Qt widget
    // gets a copy at the same place on screen, in its own coordinates.
    // Answers whether `next` accepted it.
    static bool passTouchOn(QObject* next, QMouseEvent* event);

protected:
    // Takes ownership of the widget's view (a widget without a parent).
    void setView(QWidget* view);
    // Moves the view's origin to (x, y) page points, rounded; values a
    // device could send that are no place on any screen (NaN, huge) are
    // held to ±100,000.
    void moveView(double x, double y);

private:
    QPointer<QWidget> view_;
    QPointer<QObject> nextResponder_;
    int tag_ = 0;
    bool valid_ = false;
};

} // namespace fieldmon
