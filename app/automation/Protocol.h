#pragma once
// The automation line protocol: one JSON object per line in, one JSON
// object per line out. A request names its command in "cmd" and may carry
// an "id", which the reply echoes. A reply starts with "ok": true and the
// command's fields, or "ok": false and an "error" text.
//
// Thread rule: plain values; any thread.

#include <QByteArray>
#include <QJsonObject>
#include <QPointF>
#include <QString>

#include <optional>

namespace fieldmon::automation {

// The longest request line accepted, newline not counted.
inline constexpr int kMaxLineBytes = 64 * 1024;

struct Reply {
    bool ok = true;
    QString error;
    QJsonObject fields;

    static Reply success(QJsonObject fields = {}) { return {true, {}, std::move(fields)}; }
    static Reply failure(QString error) { return {false, std::move(error), {}}; }
};

class Request {
public:
    // The request on `line`, or nothing with `error` set: not JSON, not an
    // object, or no "cmd" text.
    static std::optional<Request> parse(const QByteArray& line, QString& error);
    explicit Request(QJsonObject object = {});

    const QString& command() const { return command_; }
    const QJsonObject& object() const { return object_; }

private:
    QJsonObject object_;
    QString command_;
};

// The arguments of one request, read with their types checked. Each getter
// answers the value, or the fallback (or 0) after recording an error; the
// first error is kept, so a handler reads everything and then asks ok().
class Args {
public:
    explicit Args(const Request& request) : object_(request.object()) {}

    double number(const char* name);
    double number(const char* name, double fallback);
    // A whole number in [min, max].
    int integer(const char* name, int min, int max);
    int integer(const char* name, int min, int max, int fallback);
    QString text(const char* name);
    QString text(const char* name, const QString& fallback);
    bool flag(const char* name, bool fallback);
    // [x, y]
    QPointF point(const char* name);
    // One of `choices`, e.g. "touch" or "mouse".
    QString choice(const char* name, std::initializer_list<const char*> choices, const char* fallback);

    bool ok() const { return error_.isEmpty(); }
    const QString& error() const { return error_; }

private:
    std::optional<QJsonValue> take(const char* name, bool required);
    void fail(const QString& message);
    QJsonObject object_;
    QString error_;
};

// The reply line, newline included: "ok" first, then "id" if the request
// had one, then the fields.
QByteArray encodeReply(const Reply& reply, const QJsonValue& id = QJsonValue::Undefined);

} // namespace fieldmon::automation
