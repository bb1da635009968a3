#pragma once
// A real mosquitto broker for one test: its own loopback port, a generated
// configuration (anonymous, or a password file made with mosquitto_passwd),
// no persistence, so a restart forgets every retained message as a
// crashed broker without a store would. Stopped (SIGTERM) when destroyed.

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTcpSocket>
#include <QThread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace fieldmon::gateway::testing {

inline const char* mosquittoProgram()
{
    return "/usr/sbin/mosquitto";
}

inline bool haveMosquitto()
{
    return ::access(mosquittoProgram(), X_OK) == 0;
}

// A loopback TCP port nobody listens on right now.
inline int freeLoopbackPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

class MosquittoBroker {
public:
    struct Credentials {
        std::string user;
        std::string password;
    };

    explicit MosquittoBroker(std::optional<Credentials> credentials = std::nullopt)
        : port_(freeLoopbackPort()), credentials_(std::move(credentials))
    {
        QString conf = dir_.filePath("mosquitto.conf");
        QFile file(conf);
        file.open(QIODevice::WriteOnly);
        QByteArray text = "listener " + QByteArray::number(port_) + " 127.0.0.1\npersistence false\n"
                          "log_dest file " + dir_.filePath("mosquitto.log").toUtf8() + "\n";
        if (::geteuid() == 0)
            text += "user root\n"; // keep root: the generated files are root's
        if (credentials_) {
            QString passwd = dir_.filePath("passwd");
            QProcess::execute("/usr/bin/mosquitto_passwd",
                              {"-b", "-c", passwd, QString::fromStdString(credentials_->user),
                               QString::fromStdString(credentials_->password)});
            text += "allow_anonymous false\npassword_file " + passwd.toUtf8() + "\n";
        } else {
            text += "allow_anonymous true\n";
        }
        file.write(text);
        file.close();
        confPath_ = conf;
    }
    ~MosquittoBroker() { stop(); }

    int port() const { return port_; }
    std::string url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }
    QString log() const
    {
        QFile file(dir_.filePath("mosquitto.log"));
        file.open(QIODevice::ReadOnly);
        return QString::fromUtf8(file.readAll());
    }

    // Starts the broker and waits (at most 5 s) until it accepts connections.
    bool start()
    {
        process_.setProgram(mosquittoProgram());
        process_.setArguments({"-c", confPath_});
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start();
        if (!process_.waitForStarted(5000))
            return false;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            QTcpSocket probe;
            probe.connectToHost("127.0.0.1", static_cast<quint16>(port_));
            if (probe.waitForConnected(200))
                return true;
            QThread::msleep(20);
        }
        return false;
    }

    void stop()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished(2000);
    }

private:
    QTemporaryDir dir_;
    int port_;
    std::optional<Credentials> credentials_;
    QString confPath_;
    QProcess process_;
};

} // namespace fieldmon::gateway::testing
