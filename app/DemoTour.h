#pragma once
// An unattended walk through the app's screens for the demo: waits until
// devices have appeared in the list (up to a time limit), then opens the
// first device, its event log, and the device again with Connect pressed,
// saving a picture of each screen into a folder. It drives the screens
// through the same operations a touch does and prints where the pictures
// went.
//
// Thread rule: main thread only.

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

namespace fieldmon {

class TollgarAppDelegate;

class DemoTour : public QObject {
    Q_OBJECT
public:
    DemoTour(TollgarAppDelegate& app, QString folder);
    void start();

signals:
    // The walk is over; `devicesFound` is false when no device answered.
    void done(bool devicesFound);

private:
    // Steps run one after another, each after its own delay.
    struct Step {
        int delayMs;
        std::function<void()> run;
    };
    void next();
    void waitForDevices();
    void save(const QString& name);

    TollgarAppDelegate& app_;
    QString folder_;
    std::vector<Step> steps_;
    std::size_t current_ = 0;
    int waitedMs_ = 0;
    QStringList saved_;
};

} // namespace fieldmon
