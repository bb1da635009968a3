#pragma once
// The automation socket: a Unix-domain stream socket at a path the user
// names, mode 0600, serving one client at a time through a LineChannel.
//
// Claiming the path: a path that does not exist is created; a socket that
// nobody listens on any more (left by a run that crashed) is replaced; a
// live socket, or anything that is not a socket, makes create() fail, so
// one run never takes over another's socket or removes a user's file. The
// socket file is removed when the server goes, if it is still ours.
//
// A client that connects while another is connected is answered with one
// error line and closed; the first client's hang-up is noticed first, so a
// script that reconnects at once is not refused.
//
// Thread rule: main thread only.

#include "app/automation/LineChannel.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <sys/types.h>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace fieldmon::automation {

class AutomationServer : public QObject {
    Q_OBJECT
public:
    // Listens at `path`, or answers null with `error` set.
    static std::unique_ptr<AutomationServer> create(const QString& path, QString& error);
    ~AutomationServer() override;

    // Runs the requests of every client. Set before the event loop runs.
    void setHandler(LineChannel::Handler handler) { handler_ = std::move(handler); }
    // Called when a client leaves (its held pointer is let go, for one).
    void setClientLeft(std::function<void()> left) { clientLeft_ = std::move(left); }

private:
    AutomationServer(QString path, int fd, dev_t device, ino_t inode);
    void acceptClients();
    void dropClient();

    QString path_;
    int fd_;
    dev_t device_;
    ino_t inode_;
    QSocketNotifier* notifier_;
    QPointer<LineChannel> client_;
    LineChannel::Handler handler_;
    std::function<void()> clientLeft_;
};

} // namespace fieldmon::automation
