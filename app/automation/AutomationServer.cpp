#include "app/automation/AutomationServer.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace fieldmon::automation {

namespace {

QString systemError(const char* what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

bool fillAddress(const QByteArray& path, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || static_cast<std::size_t>(path.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    return true;
}

// Removes a socket at `path` that no program listens on; fails for a live
// socket and for anything else that exists there.
bool clearStaleSocket(const QByteArray& path, const sockaddr_un& address, QString& error)
{
    struct stat st{};
    if (lstat(path.constData(), &st) != 0) {
        if (errno == ENOENT)
            return true;
        error = systemError("cannot look at the socket path");
        return false;
    }
    if (!S_ISSOCK(st.st_mode)) {
        error = QStringLiteral("%1 exists and is not a socket; not touching it").arg(QString::fromLocal8Bit(path));
        return false;
    }
    int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        error = systemError("socket");
        return false;
    }
    int rc = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    int connectErrno = errno;
    ::close(probe);
    if (rc == 0) {
        error = QStringLiteral("another program listens on %1").arg(QString::fromLocal8Bit(path));
        return false;
    }
    if (connectErrno != ECONNREFUSED) {
        errno = connectErrno;
        error = systemError("cannot tell whether the socket is in use");
        return false;
    }
    if (::unlink(path.constData()) != 0 && errno != ENOENT) {
        error = systemError("cannot remove the stale socket");
        return false;
    }
    return true;
}

} // namespace

std::unique_ptr<AutomationServer> AutomationServer::create(const QString& path, QString& error)
{
    QByteArray local = path.toLocal8Bit();
    sockaddr_un address{};
    if (!fillAddress(local, address)) {
        error = QStringLiteral("the socket path must have 1 to %1 bytes").arg(sizeof address.sun_path - 1);
        return nullptr;
    }
    if (!clearStaleSocket(local, address, error))
        return nullptr;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = systemError("socket");
        return nullptr;
    }
    // The socket file is made with mode 0600 from the start, so no other
    // user can connect in between; the chmod only insists.
    mode_t old = ::umask(0177);
    int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    int bindErrno = errno;
    ::umask(old);
    struct stat st{};
    if (bound != 0) {
        errno = bindErrno;
        error = systemError("cannot bind the automation socket");
        ::close(fd);
        return nullptr;
    }
    if (::chmod(local.constData(), 0600) != 0 || ::lstat(local.constData(), &st) != 0 || ::listen(fd, 4) != 0) {
        error = systemError("cannot listen on the automation socket");
        ::unlink(local.constData());
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<AutomationServer>(new AutomationServer(path, fd, st.st_dev, st.st_ino));
}

AutomationServer::AutomationServer(QString path, int fd, dev_t device, ino_t inode)
    : path_(std::move(path)), fd_(fd), device_(device), inode_(inode),
      notifier_(new QSocketNotifier(fd, QSocketNotifier::Read, this))
{
    connect(notifier_, &QSocketNotifier::activated, this, &AutomationServer::acceptClients);
}

AutomationServer::~AutomationServer()
{
    notifier_->setEnabled(false);
    delete client_.data();
    ::close(fd_);
    // Only our own socket goes: a later run may have replaced it.
    QByteArray local = path_.toLocal8Bit();
    struct stat st{};
    if (::lstat(local.constData(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_)
        ::unlink(local.constData());
}

void AutomationServer::acceptClients()
{
    for (;;) {
        int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return; // EAGAIN, or a client that gave up before we got to it
        if (client_ && client_->isConnected()) {
            // Has the current client hung up without our noticing yet?
            pollfd p{static_cast<int>(client_->socketDescriptor()), POLLRDHUP, 0};
            if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)))
                dropClient();
        }
        if (client_ && client_->isConnected()) {
            auto* refused = new LineChannel(fd, {}, this);
            refused->refuse(QStringLiteral("another client is connected; one at a time"));
            continue;
        }
        dropClient();
        client_ = new LineChannel(fd, handler_, this);
        connect(client_, &LineChannel::closed, this, &AutomationServer::dropClient);
    }
}

void AutomationServer::dropClient()
{
    if (!client_)
        return;
    LineChannel* gone = client_;
    client_.clear();
    gone->disconnect(this);
    gone->deleteLater();
    if (clientLeft_)
        clientLeft_();
}

} // namespace fieldmon::automation
