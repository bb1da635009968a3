#include "app/DemoTour.h"

#include "app/AppWindow.h"
#include "app/ClientDetailView.h"
#include "app/TableViewController.h"
#include "app/TollgarAppDelegate.h"
#include "widgets/NavigationStack.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>

#include <cstdio>

namespace fieldmon {

namespace {
constexpr int kPollMs = 200;
constexpr int kMaxWaitMs = 10'000;
// Once the first device is listed, give the others a moment to announce.
constexpr int kSettleMs = 1500;
} // namespace

DemoTour::DemoTour(TollgarAppDelegate& app, QString folder) : app_(app), folder_(std::move(folder)) {}

void DemoTour::start()
{
    QDir().mkpath(folder_);
    QTimer::singleShot(kPollMs, this, [this] { waitForDevices(); });
}

void DemoTour::waitForDevices()
{
    GroupedTableView* list = app_.myTableViewController()->tableView();
    bool found = list->numberOfRows(0) > 0;
    if (!found && waitedMs_ < kMaxWaitMs) {
        waitedMs_ += kPollMs;
        QTimer::singleShot(kPollMs, this, [this] { waitForDevices(); });
        return;
    }
    if (!found) {
        std::printf("demo: no device answered within %d s\n", kMaxWaitMs / 1000);
        save("01-devices.png");
        emit done(false);
        return;
    }
    TableViewController* listScreen = app_.myTableViewController();
    ClientDetailView* detail = app_.myClientViewController();
    steps_ = {
        {kSettleMs, [this] { save("01-devices.png"); }},
        {0, [listScreen] { listScreen->didSelectRow(*listScreen->tableView(), {0, 0}); }},
        {1000, [this] { save("02-device.png"); }},
        {0, [detail] { detail->didSelectRow(*detail->tableView(), {0, ClientDetailView::EventLogRow}); }},
        {4000, [this] { save("03-event-log.png"); }},
        {0, [this] { app_.nc()->pop(false); }},
        {0, [detail] { detail->didSelectRow(*detail->tableView(), {0, ClientDetailView::ConnectRow}); }},
        {1500, [this] { save("04-device-connected.png"); }},
        {0, [this] { app_.nc()->pop(false); }},
        {300, [this] { save("05-devices-again.png"); }},
    };
    current_ = 0;
    next();
}

void DemoTour::next()
{
    if (current_ >= steps_.size()) {
        std::printf("demo: screenshots written to %s:\n", qPrintable(QDir(folder_).absolutePath()));
        for (const QString& name : saved_)
            std::printf("  %s\n", qPrintable(QDir(folder_).absoluteFilePath(name)));
        std::fflush(stdout);
        emit done(true);
        return;
    }
    const Step& step = steps_[current_];
    QTimer::singleShot(step.delayMs, this, [this] {
        steps_[current_].run();
        ++current_;
        next();
    });
}

void DemoTour::save(const QString& name)
{
    QWidget* screen = app_.window()->phoneScreen();
    QPixmap picture = screen->grab();
    // Alerts are boxes of their own; on the phone they sit over the screen,
    // so the picture shows them there.
    QPainter painter(&picture);
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box || !box->isVisible())
            continue;
        QPixmap alert = box->grab();
        QSize room = picture.size() / picture.devicePixelRatio();
        QSize size = alert.size() / alert.devicePixelRatio();
        QPoint at((room.width() - size.width()) / 2, (room.height() - size.height()) / 2);
        painter.fillRect(QRect(QPoint(0, 0), room), QColor(0, 0, 0, 90));
        painter.drawPixmap(at, alert);
    }
    painter.end();
    QString path = QDir(folder_).absoluteFilePath(name);
    if (picture.save(path))
        saved_ << name;
    else
        std::printf("demo: could not write %s\n", qPrintable(path));
}

} // namespace fieldmon
