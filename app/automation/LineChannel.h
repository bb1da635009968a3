#pragma once
// One client of the automation socket: cuts what it sends into request
// lines, hands them to the command handler one at a time and writes each
// reply back as one line.
//
// Exactly one reply per request line (blank lines are skipped). A line of
// more than kMaxLineBytes is answered with an error once and dropped up to
// its newline; memory stays bounded whatever the client sends. While a
// command is running, further lines wait in the socket (the client feels
// back-pressure rather than the app growing a queue), and so do they while
// the client does not read its replies.
//
// A command may answer later (a wait, a drag): its answer callback is safe
// to call after the client has left or the channel is gone; the answer is
// then dropped.
//
// Thread rule: main thread only.

#include "app/automation/Protocol.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>

class QLocalSocket;

namespace fieldmon::automation {

class LineChannel : public QObject {
    Q_OBJECT
public:
    using Answer = std::function<void(Reply)>;
    // Runs one request and calls `answer` once, now or later.
    using Handler = std::function<void(const Request&, Answer)>;

    // Takes over the connected socket `fd`.
    LineChannel(qintptr fd, Handler handler, QObject* parent = nullptr);
    ~LineChannel() override;

    bool isConnected() const;
    qintptr socketDescriptor() const;
    // Writes a reply that answers no request (a refusal), closes, and
    // deletes the channel once the line is out.
    void refuse(const QString& error);

signals:
    // The client has gone; the channel may be deleted.
    void closed();

private:
    struct Line {
        QByteArray text;
        bool tooLong = false;
    };
    std::optional<Line> nextLine();
    void process();
    void finish(const QJsonValue& id, const Reply& reply);
    void write(const QByteArray& bytes);

    QPointer<QLocalSocket> socket_;
    Handler handler_;
    QByteArray buffer_;
    bool discarding_ = false;
    bool busy_ = false;
    bool processing_ = false;
    bool closed_ = false;
};

} // namespace fieldmon::automation
