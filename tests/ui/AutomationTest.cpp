// The automation commands in process, on a window with test screens: page
// points reach the widget at that point through real touch and mouse
// events, in portrait, in landscape and without the bar; a drag survives
// its screen going away; the line protocol's replies.

#include "app/AppWindow.h"
#include "app/automation/Automation.h"
#include "widgets/QtAlerts.h"
#include "ui/UiSupport.h"
#include "widgets/NavigationStack.h"

#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QTouchEvent>

#include <gtest/gtest.h>

#include <optional>

using namespace fieldmon;
using namespace fieldmon::automation;

namespace {

// A patch that records the touches and mouse presses that reach it, with
// the position in its own coordinates.
class Pad : public QWidget {
public:
    explicit Pad(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_AcceptTouchEvents); }
    int touches = 0;
    int presses = 0;
    QPoint last;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::TouchBegin) {
            ++touches;
            last = static_cast<QTouchEvent*>(e)->points().front().position().toPoint();
            e->accept();
            return true;
        }
        if (e->type() == QEvent::TouchUpdate || e->type() == QEvent::TouchEnd) {
            e->accept();
            return true;
        }
        return QWidget::event(e);
    }
    void mousePressEvent(QMouseEvent* e) override
    {
        ++presses;
        last = e->position().toPoint();
    }
};

// A screen with a 30-point pad in each corner of its page.
class CornerScreen : public Screen {
public:
    explicit CornerScreen(Orientation o) : orientation_(o)
    {
        setTitle(QStringLiteral("Corners"));
        for (auto*& p : pads)
            p = new Pad(this);
    }
    Orientation orientation() const override { return orientation_; }
    Pad* pads[4];

protected:
    void resizeEvent(QResizeEvent*) override
    {
        int w = width(), h = height();
        pads[0]->setGeometry(0, 0, 30, 30);
        pads[1]->setGeometry(w - 30, 0, 30, 30);
        pads[2]->setGeometry(0, h - 30, 30, 30);
        pads[3]->setGeometry(w - 30, h - 30, 30, 30);
    }

private:
    Orientation orientation_;
};

// A list of 30 rows with a text field under it.
class ListScreen : public Screen, public TableSource {
public:
    ListScreen() : table(new GroupedTableView(this)), field(new QLineEdit(this))
    {
        table->setSource(this);
        table->reloadData();
    }
    ~ListScreen() override { table->setSource(nullptr); }
    GroupedTableView* automationTable() const override { return table; }
    int numberOfRows(GroupedTableView&, int) override { return 30; }
    TableCell* cellForRow(GroupedTableView& t, IndexPath path) override
    {
        TableCell* cell = t.dequeueReusableCell("row");
        cell = cell ? cell : new TableCell("row");
        cell->setText(QStringLiteral("Row %1").arg(path.row));
        return cell;
    }
    void didSelectRow(GroupedTableView&, IndexPath path) override { selected.push_back(path.row); }

    GroupedTableView* table;
    QLineEdit* field;
    std::vector<int> selected;

protected:
    void resizeEvent(QResizeEvent*) override
    {
        table->setGeometry(0, 0, width(), height() - 40);
        field->setGeometry(10, height() - 35, width() - 20, 30);
    }
};

// Runs one request and waits for its answer.
Reply run(Automation& automation, QJsonObject request, int ms = 3000)
{
    std::optional<Reply> reply;
    automation.run(Request(request), [&](Reply r) { reply = std::move(r); });
    EXPECT_TRUE(test::waitFor([&] { return reply.has_value(); }, ms)) << "no answer";
    return reply.value_or(Reply::failure(QStringLiteral("no answer")));
}

} // namespace

TEST(Automation, TapsAtThePageCornersReachTheWidgetsThereWithTheirTruePosition)
{
    struct Case {
        Screen::Orientation orientation;
        bool barHidden;
        const char* pointer;
        QPoint origin;
        QSize page;
    };
    using O = Screen::Orientation;
    const Case cases[] = {
        {O::Portrait, false, "touch", {0, 64}, {320, 416}},
        {O::Portrait, false, "mouse", {0, 64}, {320, 416}},
        {O::Portrait, true, "touch", {0, 20}, {320, 460}},
        {O::Landscape, false, "touch", {0, 64}, {480, 256}},
        {O::Landscape, false, "mouse", {0, 64}, {480, 256}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "landscape " << (c.orientation == O::Landscape) << ", bar hidden "
                                        << c.barHidden << ", " << c.pointer);
        AppWindow window;
        auto* screen = new CornerScreen(c.orientation);
        window.navigationStack()->setRoot(screen);
        window.navigationStack()->setNavigationBarHidden(c.barHidden);
        window.show();
        Automation automation(window);

        QJsonObject s = run(automation, {{"cmd", "screen"}}).fields;
        EXPECT_EQ(s["page_origin"].toArray(), (QJsonArray{c.origin.x(), c.origin.y()}));
        EXPECT_EQ(s["page_size"].toArray(), (QJsonArray{c.page.width(), c.page.height()}));

        const QPoint corners[] = {{2, 3}, {c.page.width() - 3, 2}, {3, c.page.height() - 2},
                                  {c.page.width() - 2, c.page.height() - 3}};
        for (int i = 0; i < 4; ++i) {
            Reply r = run(automation, {{"cmd", "tap"}, {"x", corners[i].x()}, {"y", corners[i].y()}, {"pointer", c.pointer}});
            EXPECT_TRUE(r.ok) << r.error.toStdString();
            Pad* pad = screen->pads[i];
            bool touch = QLatin1String(c.pointer) == QLatin1String("touch");
            EXPECT_EQ(pad->touches, touch ? 1 : 0) << "corner " << i;
            EXPECT_EQ(pad->presses, touch ? 0 : 1) << "corner " << i;
            EXPECT_EQ(pad->last, corners[i] - pad->pos()) << "corner " << i;
        }
        for (Pad* pad : screen->pads)
            EXPECT_EQ(pad->touches + pad->presses, 1);
    }
}

TEST(Automation, ADragWhoseScreenGoesAwayStillAnswersAndLetsGo)
{
    // A drag runs on timers; the screen under it may be popped and deleted
    // meanwhile. The drag must finish without touching the dead screen and
    // leave no pointer down for the next command.
    AppWindow window;
    auto* root = new CornerScreen(Screen::Orientation::Portrait);
    window.navigationStack()->setRoot(root);
    QPointer<CornerScreen> top = new CornerScreen(Screen::Orientation::Portrait);
    top->setAttribute(Qt::WA_DeleteOnClose);
    window.navigationStack()->push(top, false);
    window.show();
    Automation automation(window);

    std::optional<Reply> dragged;
    automation.run(Request({{"cmd", "drag"}, {"from", QJsonArray{5, 5}}, {"to", QJsonArray{300, 400}}, {"ms", 200}}),
                   [&](Reply r) { dragged = std::move(r); });
    QTest::qWait(60);
    window.navigationStack()->pop(false);
    ASSERT_TRUE(test::waitFor([&] { return !top; }));
    ASSERT_TRUE(test::waitFor([&] { return dragged.has_value(); }));
    EXPECT_TRUE(dragged->ok);
    EXPECT_TRUE(run(automation, {{"cmd", "tap"}, {"x", 5}, {"y", 5}}).ok);
    EXPECT_EQ(root->pads[0]->touches, 1);
}

TEST(AutomationProtocol, RepliesPutOkAndIdFirstAndArgumentsAreTypeChecked)
{
    EXPECT_EQ(encodeReply(Reply::success({{"title", "Devices"}, {"depth", 1}}), 7),
              QByteArray("{\"ok\":true,\"id\":7,\"depth\":1,\"title\":\"Devices\"}\n"));
    EXPECT_EQ(encodeReply(Reply::failure("no alert is shown"), "a"),
              QByteArray("{\"ok\":false,\"id\":\"a\",\"error\":\"no alert is shown\"}\n"));
    EXPECT_EQ(encodeReply(Reply::success()), QByteArray("{\"ok\":true}\n"));

    struct Case {
        const char* line;
        const char* error; // empty: fine
    };
    const Case cases[] = {
        {R"({"cmd":"x","row":2,"from":[1,2.5],"pointer":"mouse"})", ""},
        {R"({"cmd":"x","row":-1,"from":[1,2]})", "\"row\" must be a whole number from 0 to 10"},
        {R"({"cmd":"x","row":1e300,"from":[1,2]})", "\"row\" must be a whole number from 0 to 10"},
        {R"({"cmd":"x","row":"3","from":[1,2]})", "\"row\" must be a number"},
        {R"({"cmd":"x","row":3,"from":[1]})", "\"from\" must be [x, y]"},
        {R"({"cmd":"x","from":[1,2]})", "\"row\" is missing"},
        {R"({"cmd":"x","row":3,"from":[1,2],"pointer":"pen"})", "\"pointer\" must be \"touch\" or \"mouse\""},
    };
    for (const Case& c : cases) {
        QString error;
        std::optional<Request> request = Request::parse(c.line, error);
        ASSERT_TRUE(request) << c.line;
        Args args(*request);
        args.integer("row", 0, 10);
        args.point("from");
        args.choice("pointer", {"touch", "mouse"}, "touch");
        EXPECT_EQ(args.error().toStdString(), c.error) << c.line;
    }
}

TEST(Automation, RowsOffScreenAreListedWhereTheyWouldBeAndTapRowBringsThemIntoView)
{
    AppWindow window;
    auto* screen = new ListScreen;
    window.navigationStack()->setRoot(screen);
    window.show();
    Automation automation(window);

    QJsonArray rows = run(automation, {{"cmd", "rows"}}).fields["sections"][0]["rows"].toArray();
    ASSERT_EQ(rows.size(), 30);
    EXPECT_EQ(QJsonValue(rows[29])["text"].toString(), "Row 29");
    EXPECT_GT(QJsonValue(rows[29])["frame"][1].toInt(), 376) << "below the visible list";

    EXPECT_TRUE(run(automation, {{"cmd", "tap_row"}, {"section", 0}, {"row", 29}, {"pointer", "mouse"}}).ok);
    EXPECT_EQ(screen->selected, std::vector<int>{29});
    QJsonArray frame = run(automation, {{"cmd", "rows"}}).fields["sections"][0]["rows"][29]["frame"].toArray();
    EXPECT_TRUE(QRect(0, 0, 320, 376).contains(QRect(frame[0].toInt(), frame[1].toInt(), frame[2].toInt(), frame[3].toInt())));

    // A finger dragging up scrolls the list, through the kinetic scroller.
    EXPECT_TRUE(run(automation, {{"cmd", "tap_row"}, {"section", 0}, {"row", 0}}).ok);
    ASSERT_EQ(screen->table->contentOffset(), 0);
    for (const char* pointer : {"touch", "mouse"}) {
        double before = screen->table->contentOffset();
        EXPECT_TRUE(run(automation, {{"cmd", "drag"}, {"from", QJsonArray{160, 300}}, {"to", QJsonArray{160, 100}},
                                     {"ms", 300}, {"pointer", pointer}}).ok);
        EXPECT_TRUE(test::waitFor([&] { return !screen->table->isDecelerating(); }));
        EXPECT_GT(screen->table->contentOffset(), before + 10) << pointer;
    }
    EXPECT_EQ(screen->selected, (std::vector<int>{29, 0})) << "a drag is not a tap";

    // A row tapped while a flick still carries the list lands on that row:
    // the tap stops the list first, as a finger does.
    EXPECT_TRUE(run(automation, {{"cmd", "tap_row"}, {"section", 0}, {"row", 0}}).ok);
    EXPECT_TRUE(run(automation, {{"cmd", "drag"}, {"from", QJsonArray{160, 350}}, {"to", QJsonArray{160, 50}},
                                 {"ms", 150}}).ok);
    ASSERT_TRUE(screen->table->isDecelerating());
    EXPECT_TRUE(run(automation, {{"cmd", "tap_row"}, {"section", 0}, {"row", 1}}).ok);
    EXPECT_FALSE(screen->table->isDecelerating());
    EXPECT_EQ(screen->selected, (std::vector<int>{29, 0, 0, 1}));

    // Typing goes to the widget a tap focused, Return included.
    int returned = 0;
    QObject::connect(screen->field, &QLineEdit::returnPressed, [&] { ++returned; });
    screen->table->setFocus();
    EXPECT_TRUE(run(automation, {{"cmd", "type"}, {"text", "x"}}).ok);
    EXPECT_EQ(screen->field->text(), QString()) << "the field has no focus yet";
    EXPECT_TRUE(run(automation, {{"cmd", "tap"}, {"x", 160}, {"y", 396}}).ok);
    EXPECT_TRUE(run(automation, {{"cmd", "type"}, {"text", "set 42 °"}, {"enter", true}}).ok);
    EXPECT_EQ(screen->field->text(), QStringLiteral("set 42 °"));
    EXPECT_EQ(returned, 1);
}

TEST(Automation, AlertsAreReadAndAnsweredThroughTheirOwnWindow)
{
    AppWindow window;
    window.navigationStack()->setRoot(new ListScreen);
    window.show();
    QtAlerts alerts(&window);
    Automation automation(window);
    EXPECT_EQ(run(automation, {{"cmd", "alert"}}).fields, (QJsonObject{{"shown", false}}));

    int answered = -1;
    alerts.show({"Are you sure?", "Reset <all> counters", {"No", "Yes"}, [&](int i) { answered = i; }});
    QJsonObject shown = run(automation, {{"cmd", "alert"}}).fields;
    EXPECT_EQ(shown["title"].toString(), "Are you sure?");
    EXPECT_EQ(shown["message"].toString(), "Reset <all> counters");
    EXPECT_EQ(shown["buttons"].toArray(), (QJsonArray{"No", "Yes"}));
    EXPECT_FALSE(run(automation, {{"cmd", "alert_button"}, {"index", 2}}).ok);
    EXPECT_TRUE(run(automation, {{"cmd", "alert_button"}, {"index", 1}}).ok);
    EXPECT_EQ(answered, 1);
    EXPECT_TRUE(test::waitFor([&] { return !run(automation, {{"cmd", "alert"}}).fields["shown"].toBool(); }));

    // Alerts over alerts (an export's result, then another's failure): the
    // one on top is read and answered first. The window list is in no
    // stacking order, and a press on a box under another is swallowed and
    // leaves them all up.
    std::vector<int> order;
    for (int i = 1; i <= 4; ++i)
        alerts.show({"Alert " + std::to_string(i), "", {"OK"}, [&order, i](int) { order.push_back(i); }});
    for (int i = 4; i >= 1; --i) {
        const QString title = QStringLiteral("Alert %1").arg(i);
        ASSERT_TRUE(test::waitFor([&] { return run(automation, {{"cmd", "alert"}}).fields["title"].toString() == title; }))
            << i;
        EXPECT_TRUE(run(automation, {{"cmd", "alert_button"}, {"index", 0}}).ok);
    }
    EXPECT_TRUE(test::waitFor([&] { return order.size() == 4; }));
    EXPECT_EQ(order, (std::vector<int>{4, 3, 2, 1}));
}

TEST(Automation, ATapDuringASlideLandsWhereTheNewScreenComesToRest)
{
    // Connect pushes a page with a slide while the script polls `screen`; a
    // tap sent the moment the page is on top must not land on the screen
    // sliding out under it.
    AppWindow window;
    auto* below = new CornerScreen(Screen::Orientation::Portrait);
    window.navigationStack()->setRoot(below);
    window.show();
    Automation automation(window);
    auto* pushed = new CornerScreen(Screen::Orientation::Portrait);
    window.navigationStack()->push(pushed, true);
    ASSERT_TRUE(window.navigationStack()->isAnimating());
    EXPECT_TRUE(run(automation, {{"cmd", "tap"}, {"x", 4}, {"y", 4}}).ok);
    EXPECT_EQ(pushed->pads[0]->touches, 1);
    EXPECT_EQ(below->pads[0]->touches, 0);
}
