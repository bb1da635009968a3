#pragma once
// SIGTERM and SIGINT end the Qt event loop, so that the app shuts down as
// after "quit" (the automation socket is removed, the finder stops). A
// second signal acts as the default would (a stuck app can still be
// stopped); the handler stays installed until then, also while the app
// is ending after the object has gone.
//
// Thread rule: construct and destroy on the main thread; the signal
// handler only writes one byte into a pipe that the main thread watches.

#include <QObject>

class QSocketNotifier;

namespace fieldmon::automation {

class QuitOnSignal : public QObject {
    Q_OBJECT
public:
    explicit QuitOnSignal(QObject* parent = nullptr);

signals:
    void received();

private:
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace fieldmon::automation
