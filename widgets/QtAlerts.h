#pragma once
// Alerts as modal message boxes over the app's window: until an alert is
// answered the window takes no input, as the phone's alerts block it.
// Several may be open at once as far as this class is concerned (code may
// raise one while another is shown); the finder keeps its own to one at a
// time by dismissing the previous one first.
//
// Button 0 is also the box's escape button, so closing a box with Escape or
// the window's close button counts as pressing button 0 (the "Ok" or
// "Cancel" of an alert). The callback runs after the box has left the screen.
//
// A box never grows taller than its window: a long message scrolls inside
// it, so the buttons stay on screen. Nor wider: Qt breaks lines only between
// words and after '/' or '-', so a long name without them (a file called
// "site_visit_2026_12_08.pcapng") gets invisible break points.
//
// Thread rule: main thread only.

#include "platform/Alerts.h"

#include <QPointer>
#include <QString>

#include <map>

class QMessageBox;
class QWidget;

namespace fieldmon {

class QtAlerts final : public platform::Alerts {
public:
    // Space kept free above and below a box that fills the window's height.
    static constexpr int kWindowMargin = 12;
    // The invisible break point (zero-width space); readers of a box's text
    // drop it.
    static constexpr QChar kBreakPoint{0x200B};

    // `text` with a break point after each '_' and within any run of 16
    // characters that Qt could not break.
    static QString withBreakPoints(const QString& text);

    // `parent` is the window the boxes are centred on; may be null.
    explicit QtAlerts(QWidget* parent = nullptr);
    ~QtAlerts() override;

    void setParent(QWidget* parent) { parent_ = parent; }

    AlertId show(platform::AlertContent content) override;
    void dismiss(AlertId id, int buttonIndex, bool animated) override;
    // Closes every open box without calling back (at shutdown, before the
    // objects the callbacks talk to go away).
    void dismissAll();

    // The box of an open alert (for tests and screenshots), or null.
    QMessageBox* box(AlertId id) const;
    std::size_t openCount() const { return open_.size(); }

private:
    QPointer<QWidget> parent_;
    std::map<AlertId, QPointer<QMessageBox>> open_;
    AlertId nextId_ = 1;
};

} // namespace fieldmon
