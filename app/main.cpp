// fieldmon: the hand-held monitor for networked field devices.
//
// For now the window shows the empty "Devices" screen; discovery and the
// device list attach here.

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>

#include <cstdlib>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle("Devices");
    window.resize(320, 480);
    auto* label = new QLabel("Devices", &window);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    window.setCentralWidget(label);
    window.show();

    // FIELDMON_QUIT_AFTER=<seconds> ends the run by itself (demo and smoke tests).
    if (const char* quitAfter = std::getenv("FIELDMON_QUIT_AFTER"))
        QTimer::singleShot(static_cast<int>(std::atof(quitAfter) * 1000), &app, &QApplication::quit);
    return app.exec();
}
