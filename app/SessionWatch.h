#pragma once
// SessionWatch: what the app adds to one device session while its pages are
// open — the value history, the trend of a widget on a long press, the
// freshness of every shown value and the link's health on the bar.
//
//   - History: the device's replies feed the history store (HistoryFeed on
//     the record's variables); the device's last day is read back from disk.
//   - Long press (LongPress): a press held still on a widget of the
//     session's pages that shows remote values, or on a row of a table
//     page whose texts read some, opens the trend of the variables those
//     expressions read for it (ShownVariables; up to eight traces). The
//     joystick and widgets that show no remote value are left alone.
//   - Freshness: a value is stale when a variable its expressions read has
//     not been stored for more than 3 × its binding's rate + 1 s (since the
//     page on top appeared, for one never stored); bindings without a
//     period ("load", "once") never go stale. A table row is stale by the
//     same rule at its table's rate. Stale widgets and the cells of stale
//     rows are dimmed (StaleMarks; unless the marks are turned off) and
//     the link dot turns red.
//   - The link dot (LinkDot): a small dot at the right of the navigation bar while a
//     page of the session is on top. Green: heard within 2 s, no loss and
//     a round-trip median under 250 ms. Amber: heard within 5 s, loss up to
//     20 % or a median up to 1 s. Red: anything worse, or a stale value on
//     the page.
//
// Thread rule: main thread only.

#include "app/ShownVariables.h"
#include "device/LinkHealth.h"
#include "history/HistoryFeed.h"
#include "platform/NotificationCenter.h"
#include "trends/TrendScreen.h"
#include "widgets/GroupedTableView.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace fieldmon {

class Client;
class ClientDynamicTable;
class DeviceSession;
class LinkDot;
class LongPress;
class NavigationStack;
class RemoteView;
class Screen;
class StaleMarks;

class SessionWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int kCheckMs = 500;

    enum class Dot { Green, Amber, Red };

    struct Settings {
        bool staleMarks = true;
        QString exportFolder;
    };

    // `history` may be null (no history: long presses open nothing).
    SessionWatch(DeviceSession& session, NavigationStack& stack, history::HistoryStore* history,
                 platform::Alerts& alerts, Settings settings);
    ~SessionWatch() override;

    // Opens the trend of what `widget` shows, as a long press does. Null,
    // with `why`, when the widget shows no remote value or no history is kept.
    trends::TrendScreen* openTrend(const RemoteView& widget, QString* why = nullptr);
    // The same for row `path` of a table page of the session.
    trends::TrendScreen* openTrend(ClientDynamicTable& table, IndexPath path, QString* why = nullptr);
    // The widget of the session's pages numbered `tag`, or null.
    std::shared_ptr<RemoteView> widgetWithTag(int tag) const;

    // Whether each value widget of the session's pages shows a stale value
    // now, by tag.
    std::unordered_map<int, bool> staleByTag() const;
    bool isStale(const ClientDynamicTable& table, IndexPath path) const;
    // The table page of the session on top, or null.
    ClientDynamicTable* tableOnTop() const;
    // The rule on its own: a value read from variables last stored at
    // `stored` (NaN: never; then `since` counts), bound at `rate` seconds.
    static bool staleAt(double now, double stored, double since, double rate);
    // The dot's colour for these figures (and whether a value is stale).
    static Dot dotFor(const LinkHealth::Figures& figures, bool anyStale);

    Dot dot() const { return dot_; }
    const std::shared_ptr<Client>& record() const;
    // The session's pages: whether `screen` is one of them.
    bool ownsScreen(const Screen* screen) const;

private:
    void check();
    // The stale rows shown now of `table` (may be null); whether any is.
    bool checkRows(ClientDynamicTable* table, double now);
    std::vector<WidgetVariables> watched() const;
    // Notes a new screen on top; since when a value never stored counts.
    double noteTopScreen(double now) const;
    bool anyVariableStale(const RatedVariables& variables, double now) const;
    // What a press at `global` would open the trend of: a value widget or
    // a row of the table on top (remembered for the long press); false
    // when it lies on neither.
    bool armPress(QPoint global);
    std::shared_ptr<RemoteView> valueWidgetAt(QPoint global) const;
    std::optional<IndexPath> valueRowAt(QPoint global) const;
    void longPressed();
    trends::TrendScreen* openTrendOf(const RatedVariables& variables, const QString& shownText, QString* why);

    DeviceSession& session_;
    QPointer<NavigationStack> stack_;
    history::HistoryStore* history_;
    platform::Alerts& alerts_;
    Settings settings_;
    std::unique_ptr<history::HistoryFeed> feed_;
    platform::Subscription events_;
    std::vector<trends::TrendEvent> eventMarks_;
    double openedAt_ = 0;

    std::unique_ptr<LongPress> longPress_;
    std::weak_ptr<RemoteView> pressWidget_;
    QPointer<ClientDynamicTable> pressTable_;
    IndexPath pressRow_;

    QTimer checkTimer_;
    QPointer<LinkDot> dotView_;
    Dot dot_ = Dot::Green;
    std::unique_ptr<StaleMarks> marks_;
    // The screen on top when last looked at, and since when.
    mutable QPointer<Screen> top_;
    mutable double topSince_ = 0;
};

} // namespace fieldmon
