#pragma once
// Reads what the app's window shows, in the shapes the automation protocol
// reports: the screen on top, its table's rows, its page widgets, the alert
// on show, and pictures of the window. Reading never changes the screen.
//
// Page points: the top screen's own coordinates (x 0-320, y 0-416 in
// portrait; 480 x 256 in landscape). pageOrigin() is where the page's
// (0, 0) lies in the window.
//
// Thread rule: main thread only.

#include "widgets/GroupedTableView.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QPoint>
#include <QString>

#include <optional>

class QMessageBox;

namespace fieldmon {
class AppWindow;
class NavigationStack;
class Screen;
} // namespace fieldmon

namespace fieldmon::automation {

class ScreenReader {
public:
    explicit ScreenReader(AppWindow& window) : window_(window) {}

    AppWindow& window() const { return window_; }
    NavigationStack& stack() const;
    Screen* top() const;
    QPoint pageOrigin() const;

    // title, kind, orientation, depth, bar, back, page_origin, sliding,
    // alert, and what the screen adds itself (a page's background).
    QJsonObject screen() const;
    // The sections of the top screen's table; nothing when it has none.
    std::optional<QJsonArray> rows() const;

    // The alert box on show, if any: the one shown last when there are several.
    static QMessageBox* shownAlert();
    // shown, title, message, buttons.
    static QJsonObject alert();

    // The whole window with any alert over it, as the user sees it, as PNG
    // bytes (empty when it cannot be encoded).
    QByteArray screenshot() const;

private:
    // Where a row is, in page points.
    QRect rowFrame(GroupedTableView& table, IndexPath path) const;
    static int shownAlertCount();

    AppWindow& window_;
};

} // namespace fieldmon::automation
