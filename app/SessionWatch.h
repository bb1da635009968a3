#pragma once
// SessionWatch: what the app adds to one device session while its pages are
// open — the value history, the trend of a widget on a long press, the
// freshness of every shown value and the link's health on the bar.
//
//   - History: the device's replies feed the history store (HistoryFeed on
//     the record's variables); the device's last day is read back from disk.
//   - Long press: a press held still for kLongPressMs on a widget of the
//     session's pages that shows remote values, or on a row of a table
//     page whose texts read some, opens the trend of the variables those
//     expressions read for it (up to eight traces). The press is
//     then taken from the widget (it gets a release outside itself, so a
//     button does not fire and a switch does not turn) and the real
//     release is swallowed. A press that moves more than kSlopPixels
//     first, the joystick, and widgets that show no remote value are left
//     alone: taps, drags, pickers and table scrolling work as before.
//   - Freshness: a value is stale when a variable its expressions read has
//     not been stored for more than 3 × its binding's rate + 1 s (since the
//     page on top appeared, for one never stored); bindings without a
//     period ("load", "once") never go stale. A table row is stale by the
//     same rule at its table's rate. Stale widgets and the cells of stale
//     rows are dimmed (unless the marks are turned off) and the link dot
//     turns red.
//   - The link dot: a small dot at the right of the navigation bar while a
//     page of the session is on top. Green: heard within 2 s, no loss and
//     a round-trip median under 250 ms. Amber: heard within 5 s, loss up to
//     20 % or a median up to 1 s. Red: anything worse, or a stale value on
//     the page.
//
// Thread rule: main thread only.

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
class RemoteData;
class NavigationStack;
class RemoteView;
class Screen;

class SessionWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int kLongPressMs = 600;
    static constexpr int kSlopPixels = 10;
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
    // now, by tag (the first widget of a tag, as widgetWithTag finds it).
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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Remote variables with the rate of the binding that reads them.
    using RatedVariables = std::vector<std::pair<std::shared_ptr<RemoteData>, double>>;
    struct Watched;
    void check();
    // Dims the cells of the stale rows shown now, undims the others;
    // whether any shown row is stale.
    bool markStaleRows(ClientDynamicTable* table, double now);
    std::vector<Watched> watched() const;
    RatedVariables rowVariables(const ClientDynamicTable& table, IndexPath path) const;
    bool anyVariableStale(const RatedVariables& variables, double now) const;
    std::shared_ptr<RemoteView> valueWidgetAt(QPoint global) const;
    // The row of the table on top under `global` that shows remote values.
    std::optional<IndexPath> valueRowAt(QPoint global) const;
    trends::TrendScreen* openTrendOf(const RatedVariables& variables, const QString& shownText, QString* why);
    void longPressed();
    void placeDot();

    DeviceSession& session_;
    QPointer<NavigationStack> stack_;
    history::HistoryStore* history_;
    platform::Alerts& alerts_;
    Settings settings_;
    std::unique_ptr<history::HistoryFeed> feed_;
    platform::Subscription events_;
    std::vector<trends::TrendEvent> eventMarks_;
    double openedAt_ = 0;

    QTimer pressTimer_;
    QPointer<QWidget> pressTarget_;
    QPoint pressAt_;
    std::weak_ptr<RemoteView> pressWidget_;
    QPointer<ClientDynamicTable> pressTable_;
    IndexPath pressRow_;
    bool swallowRelease_ = false;

    QTimer checkTimer_;
    QPointer<QWidget> dotView_;
    Dot dot_ = Dot::Green;
    // Widgets dimmed now, with the opacity they had before.
    std::vector<std::pair<std::weak_ptr<RemoteView>, double>> dimmed_;
    // Table cells dimmed now (cells are reused for other rows: each check
    // marks them anew).
    std::vector<QPointer<QWidget>> dimmedCells_;
    // The screen on top at the last check, and since when.
    QPointer<Screen> top_;
    double topSince_ = 0;
};

} // namespace fieldmon
