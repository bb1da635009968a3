#include "app/automation/LineChannel.h"

#include <QLocalSocket>
#include <QTimer>

namespace fieldmon::automation {

namespace {
constexpr qint64 kReadChunk = 16 * 1024;
// Replies not yet taken by the client; past this, no new request is read.
constexpr qint64 kMaxUnsentBytes = 8 * 1024 * 1024;
} // namespace

LineChannel::LineChannel(qintptr fd, Handler handler, QObject* parent)
    : QObject(parent), socket_(new QLocalSocket(this)), handler_(std::move(handler))
{
    socket_->setSocketDescriptor(fd, QLocalSocket::ConnectedState, QIODevice::ReadWrite);
    // The socket reads ahead at most this much; the rest waits in the kernel.
    socket_->setReadBufferSize(kMaxLineBytes);
    connect(socket_, &QLocalSocket::readyRead, this, &LineChannel::process);
    connect(socket_, &QLocalSocket::bytesWritten, this, &LineChannel::process);
    connect(socket_, &QLocalSocket::disconnected, this, [this] {
        if (closed_)
            return;
        closed_ = true;
        emit closed();
    });
    QTimer::singleShot(0, this, &LineChannel::process);
}

LineChannel::~LineChannel()
{
    if (!socket_)
        return;
    socket_->disconnect(this);
    // The last answer (that of "quit", say) still goes out if the client
    // reads it within a moment.
    if (socket_->state() == QLocalSocket::ConnectedState && socket_->bytesToWrite() > 0 && socket_->flush())
        socket_->waitForBytesWritten(200);
    socket_->abort();
}

bool LineChannel::isConnected() const
{
    return socket_ && !closed_ && socket_->state() == QLocalSocket::ConnectedState;
}

qintptr LineChannel::socketDescriptor() const
{
    return socket_ ? socket_->socketDescriptor() : -1;
}

void LineChannel::refuse(const QString& error)
{
    write(encodeReply(Reply::failure(error)));
    closed_ = true;
    if (!socket_ || socket_->state() == QLocalSocket::UnconnectedState) {
        deleteLater();
        return;
    }
    connect(socket_, &QLocalSocket::disconnected, this, &QObject::deleteLater);
    socket_->disconnectFromServer();
}

std::optional<LineChannel::Line> LineChannel::nextLine()
{
    for (;;) {
        qsizetype newline = buffer_.indexOf('\n');
        if (newline >= 0) {
            QByteArray text = buffer_.left(newline);
            buffer_.remove(0, newline + 1);
            if (discarding_) {
                // The tail of a line that was already answered as too long.
                discarding_ = false;
                continue;
            }
            if (text.size() > kMaxLineBytes)
                return Line{{}, true};
            if (text.endsWith('\r'))
                text.chop(1);
            return Line{std::move(text), false};
        }
        if (discarding_) {
            buffer_.clear();
        } else if (buffer_.size() > kMaxLineBytes) {
            buffer_.clear();
            discarding_ = true;
            return Line{{}, true};
        }
        if (!socket_)
            return std::nullopt;
        QByteArray more = socket_->read(kReadChunk);
        if (more.isEmpty())
            return std::nullopt;
        buffer_ += more;
    }
}

void LineChannel::process()
{
    // Commands that answer at once come back here through finish() while
    // this loop runs; the guard keeps it one loop rather than a recursion.
    if (processing_)
        return;
    processing_ = true;
    while (!busy_ && isConnected() && socket_->bytesToWrite() < kMaxUnsentBytes) {
        std::optional<Line> line = nextLine();
        if (!line)
            break;
        if (line->tooLong) {
            write(encodeReply(Reply::failure(QStringLiteral("line longer than %1 bytes").arg(kMaxLineBytes))));
            continue;
        }
        if (line->text.trimmed().isEmpty())
            continue;
        QString error;
        std::optional<Request> request = Request::parse(line->text, error);
        if (!request) {
            write(encodeReply(Reply::failure(error)));
            continue;
        }
        busy_ = true;
        QJsonValue id = request->object().value(QLatin1String("id"));
        QPointer<LineChannel> self(this);
        handler_(*request, [self, id](Reply reply) {
            if (self)
                self->finish(id, reply);
        });
    }
    processing_ = false;
}

void LineChannel::finish(const QJsonValue& id, const Reply& reply)
{
    if (!busy_)
        return; // answered twice: the first answer stands
    busy_ = false;
    write(encodeReply(reply, id));
    if (!processing_)
        QTimer::singleShot(0, this, &LineChannel::process);
}

void LineChannel::write(const QByteArray& bytes)
{
    if (isConnected())
        socket_->write(bytes);
}

} // namespace fieldmon::automation
