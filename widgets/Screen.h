#pragma once
// One screen of the navigation stack: a page with a title and the
// appearance hooks the stack calls as screens come and go. A screen lays
// out its own children in resizeEvent, so that its geometry is final as soon
// as the stack has placed it (before viewWillAppear runs).
//
// Thread rule: main thread only.

#include <QJsonArray>
#include <QJsonObject>
#include <QPointF>
#include <QString>
#include <QWidget>

#include <vector>

namespace fieldmon {

class GroupedTableView;
class NavigationStack;

// A drag that the automation interface performs with real input events:
// press at `from`, move to `to` over `ms` milliseconds, release (page points).
struct AutomationDrag {
    QPointF from;
    QPointF to;
    int ms = 300;
};

class Screen : public QWidget {
    Q_OBJECT
public:
    enum class Orientation { Portrait, Landscape };

    explicit Screen(QWidget* parent = nullptr);

    const QString& title() const { return title_; }
    void setTitle(const QString& title);

    // The stack the screen is on, or null.
    NavigationStack* navigationStack() const { return stack_; }

    // How the window shows this screen; a landscape screen turns the window's
    // content to 480 × 320 while it is on top.
    virtual Orientation orientation() const { return Orientation::Portrait; }

    virtual void viewWillAppear(bool /*animated*/) {}
    virtual void viewDidAppear(bool /*animated*/) {}
    virtual void viewWillDisappear(bool /*animated*/) {}
    // The screen has left: it is hidden and any slide has ended. The stack
    // touches the screen no more after this call.
    virtual void viewDidDisappear(bool /*animated*/) {}

    // Whether the stack owns the screen. A screen the stack owns stays its
    // child and is deleted with it (or once popped, with
    // Qt::WA_DeleteOnClose). A screen owned elsewhere (a device's pages,
    // owned by their page table) is only shown: the stack lets go of it
    // when it is popped and when the stack itself goes, and never deletes it.
    bool ownedByStack() const { return ownedByStack_; }
    void setOwnedByStack(bool owned) { ownedByStack_ = owned; }

    // The bar's back button was pressed while this screen was on top; the
    // stack pops it right after.
    virtual void backButtonPressed() {}

    // What the automation interface reads of the screen. Each answers what
    // the user sees; none of them changes the screen.
    //
    // The kind of screen: "devices", "detail", "eventlog", "page" or "table".
    virtual QString automationKind() const { return {}; }
    // Fields of the screen beyond title, kind and orientation (a device
    // page adds its background colour).
    virtual void inspect(QJsonObject& /*screen*/) const {}
    // The widgets of a device page in document order, one object each
    // ("class", "tag", "frame" in page points, and what the widget shows).
    virtual QJsonArray inspectWidgets() const { return {}; }
    // The widgets tagged `tag` (one, or none), as inspectWidgets() shows
    // them. A page of hundreds answers this without inspecting them all.
    virtual QJsonArray inspectWidget(int tag) const
    {
        QJsonArray found;
        for (const QJsonValue& w : inspectWidgets())
            if (w[QLatin1String("tag")].toInt() == tag)
                found.append(w);
        return found;
    }
    // The grouped table the screen shows, for reading and touching rows.
    virtual GroupedTableView* automationTable() const { return nullptr; }
    // The drags that turn column `column` of the picker tagged `tag` to row
    // `row`, as a finger flicking it would. Empty, with `error` set, when
    // the screen has no such picker, column or row (the default: a screen
    // without pickers).
    virtual std::vector<AutomationDrag> pickDrags(int tag, int column, int row, QString& error) const;
    // True while a widget of the screen still moves by itself after a
    // gesture (a picker column gliding to rest); scripts are answered once
    // it has settled.
    virtual bool automationSettling() const { return false; }

    // `rect` (in `widget`'s coordinates) in the coordinates of the screen
    // that holds the widget, that is in page points, as [x, y, w, h]: the
    // "frame" the automation interface reports.
    static QJsonArray pageFrame(const QWidget* widget, const QRect& rect);
    static QJsonArray pageFrame(const QWidget* widget) { return pageFrame(widget, widget->rect()); }

signals:
    void titleChanged(const QString& title);

private:
    friend class NavigationStack;
    QString title_;
    NavigationStack* stack_ = nullptr;
    bool ownedByStack_ = true;
};

} // namespace fieldmon
