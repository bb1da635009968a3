// fieldmon: the hand-held monitor for networked field devices.
//
// The program takes no arguments and keeps no settings. Two environment
// variables serve unattended runs (the demo and smoke tests):
//   FIELDMON_QUIT_AFTER=<seconds>  ends the run by itself;
//   FIELDMON_SCREENSHOTS=<folder>  walks through the screens once devices
//                                  have appeared, saves a picture of each
//                                  into the folder and ends the run (exit
//                                  status 3 when no device answered).

#include "app/DemoTour.h"
#include "app/TollgarAppDelegate.h"
#include "widgets/PhoneStyle.h"

#include <QApplication>
#include <QTimer>

#include <clocale>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // QApplication adopts the user's locale for the C library too. Numbers in
    // device documents, expressions ("%f") and rate texts are always written
    // with a decimal point, whatever language the technician's phone speaks.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setFont(fieldmon::phone::systemFont(14));

    fieldmon::TollgarAppDelegate delegate;
    delegate.applicationDidFinishLaunching();

    if (const char* quitAfter = std::getenv("FIELDMON_QUIT_AFTER"))
        QTimer::singleShot(static_cast<int>(std::atof(quitAfter) * 1000), &app, &QApplication::quit);

    std::unique_ptr<fieldmon::DemoTour> tour;
    if (const char* folder = std::getenv("FIELDMON_SCREENSHOTS")) {
        tour = std::make_unique<fieldmon::DemoTour>(delegate, QString::fromLocal8Bit(folder));
        QObject::connect(tour.get(), &fieldmon::DemoTour::done, &app,
                         [](bool devicesFound) { QApplication::exit(devicesFound ? 0 : 3); });
        tour->start();
    }
    int status = app.exec();
    tour.reset();
    return status;
}
