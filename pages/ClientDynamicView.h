#pragma once
// ClientDynamicView: one page of a device's UI description ("page"): its
// widgets' views over a background colour, the title and load command of
// the page protocol (DevicePage), and touches on the background.
//
// Each time the page is about to appear: the background takes the colour
// expressions' current values (when all three are given; otherwise it stays
// the default blue) and the title expression is bound once. Once it has
// appeared: visible is set and the load command is bound once, so it is
// sent, "c" + its text + line feed, on every appearance. The views are made the first time the page is shown.
//
// A touch on the background (anywhere no control takes it) sets the
// device's touchx and touchy to the touch's fractions of the page (x / 320,
// y / 416) and prints "Tapped %d times at (%f, %f)".
//
// Thread rule: main thread only.

#include "pages/DevicePage.h"

#include <QColor>
#include <QElapsedTimer>
#include <QPointF>

namespace fieldmon {

class ClientDynamicView final : public DevicePage {
    Q_OBJECT
public:
    // Pages are shared (page table, bindings): always made through create().
    static std::shared_ptr<ClientDynamicView> create();

    void setRColor(NodePtr e) { rColor_ = std::move(e); }
    void setGColor(NodePtr e) { gColor_ = std::move(e); }
    void setBColor(NodePtr e) { bColor_ = std::move(e); }

    // The background the page shows now.
    QColor background() const;
    static QColor defaultBackground() { return QColor(0, 0, 255); }

    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;

    QString automationKind() const override { return QStringLiteral("page"); }
    void inspect(QJsonObject& screen) const override;
    QJsonArray inspectWidget(int tag) const override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    ClientDynamicView();
    // Makes the page's views the first time it is shown.
    void viewDidLoad();
    void touchesBegan(QPointF at, int tapCount);

    NodePtr rColor_;
    NodePtr gColor_;
    NodePtr bColor_;
    bool loaded_ = false;
    // Taps in quick succession at one place count up, as a finger's do.
    QElapsedTimer lastTap_;
    QPointF lastTapAt_;
    int tapCount_ = 0;
};

} // namespace fieldmon
