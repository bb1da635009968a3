#pragma once
// The app's one window: a phone screen of 320 × 480 points holding a 20-point
// status bar and the navigation stack (a 44-point bar over a 320 × 416 page).
//
// Landscape screens: when a screen whose orientation is Landscape comes on
// top of the stack, the window's content turns to 480 × 320 (the page
// becomes 480 × 256) and the window follows; it turns back to portrait when
// a portrait screen is on top again. On a desktop this is what turning the
// phone does, so the text stays upright for the user.
//
// Thread rule: main thread only.

#include "widgets/Screen.h"

#include <QLabel>
#include <QTimer>
#include <QWidget>

namespace fieldmon {

class ActivitySpinner;
class NavigationStack;

// The strip at the top of the screen: the app's name, the network activity
// indicator, and the time of day.
class StatusBar : public QWidget {
    Q_OBJECT
public:
    explicit StatusBar(QWidget* parent = nullptr);
    void setNetworkActivityIndicatorVisible(bool on);
    bool networkActivityIndicatorVisible() const;

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void updateClock();
    QLabel* name_;
    QLabel* clock_;
    ActivitySpinner* activity_;
    QTimer clockTimer_;
};

class AppWindow : public QWidget {
    Q_OBJECT
public:
    AppWindow();

    NavigationStack* navigationStack() const { return stack_; }
    StatusBar* statusBar() const { return status_; }
    // The phone screen inside the window (what a screenshot shows).
    QWidget* phoneScreen() const { return screen_; }

    Screen::Orientation orientation() const { return orientation_; }

private:
    // Turns the window's content for the screen on top (see above).
    void setOrientation(Screen::Orientation o);
    void layoutScreen();

    QWidget* screen_;
    StatusBar* status_;
    NavigationStack* stack_;
    Screen::Orientation orientation_ = Screen::Orientation::Portrait;
};

} // namespace fieldmon
