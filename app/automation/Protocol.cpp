#include "app/automation/Protocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>

namespace fieldmon::automation {

std::optional<Request> Request::parse(const QByteArray& line, QString& error)
{
    QJsonParseError parseError{};
    QJsonDocument doc = QJsonDocument::fromJson(line, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error = QStringLiteral("malformed JSON at byte %1: %2").arg(parseError.offset).arg(parseError.errorString());
        return std::nullopt;
    }
    if (!doc.isObject()) {
        error = QStringLiteral("a request is one JSON object");
        return std::nullopt;
    }
    QJsonValue cmd = doc.object().value(QLatin1String("cmd"));
    if (!cmd.isString()) {
        error = cmd.isUndefined() ? QStringLiteral("the request has no \"cmd\"")
                                  : QStringLiteral("\"cmd\" must be a text");
        return std::nullopt;
    }
    return Request(doc.object());
}

Request::Request(QJsonObject object)
    : object_(std::move(object)), command_(object_.value(QLatin1String("cmd")).toString())
{
}

void Args::fail(const QString& message)
{
    if (error_.isEmpty())
        error_ = message;
}

std::optional<QJsonValue> Args::take(const char* name, bool required)
{
    QJsonValue v = object_.value(QLatin1String(name));
    if (v.isUndefined() || v.isNull()) {
        if (required)
            fail(QStringLiteral("\"%1\" is missing").arg(QLatin1String(name)));
        return std::nullopt;
    }
    return v;
}

double Args::number(const char* name)
{
    auto v = take(name, true);
    if (!v)
        return 0;
    if (!v->isDouble() || !std::isfinite(v->toDouble())) {
        fail(QStringLiteral("\"%1\" must be a number").arg(QLatin1String(name)));
        return 0;
    }
    return v->toDouble();
}

double Args::number(const char* name, double fallback)
{
    return object_.contains(QLatin1String(name)) ? number(name) : fallback;
}

int Args::integer(const char* name, int min, int max)
{
    double d = number(name);
    if (!ok())
        return min;
    if (d != std::floor(d) || d < min || d > max) {
        fail(QStringLiteral("\"%1\" must be a whole number from %2 to %3").arg(QLatin1String(name)).arg(min).arg(max));
        return min;
    }
    return static_cast<int>(d);
}

int Args::integer(const char* name, int min, int max, int fallback)
{
    return object_.contains(QLatin1String(name)) ? integer(name, min, max) : fallback;
}

QString Args::text(const char* name)
{
    auto v = take(name, true);
    if (!v)
        return {};
    if (!v->isString()) {
        fail(QStringLiteral("\"%1\" must be a text").arg(QLatin1String(name)));
        return {};
    }
    return v->toString();
}

QString Args::text(const char* name, const QString& fallback)
{
    return object_.contains(QLatin1String(name)) ? text(name) : fallback;
}

bool Args::flag(const char* name, bool fallback)
{
    auto v = take(name, false);
    if (!v)
        return fallback;
    if (!v->isBool()) {
        fail(QStringLiteral("\"%1\" must be true or false").arg(QLatin1String(name)));
        return fallback;
    }
    return v->toBool();
}

QPointF Args::point(const char* name)
{
    auto v = take(name, true);
    if (!v)
        return {};
    QJsonArray a = v->toArray();
    if (!v->isArray() || a.size() != 2 || !a[0].isDouble() || !a[1].isDouble() ||
        !std::isfinite(a[0].toDouble()) || !std::isfinite(a[1].toDouble())) {
        fail(QStringLiteral("\"%1\" must be [x, y]").arg(QLatin1String(name)));
        return {};
    }
    return {a[0].toDouble(), a[1].toDouble()};
}

QString Args::choice(const char* name, std::initializer_list<const char*> choices, const char* fallback)
{
    QString value = text(name, QLatin1String(fallback));
    if (!ok())
        return QLatin1String(fallback);
    QStringList names;
    for (const char* c : choices) {
        if (value == QLatin1String(c))
            return value;
        names << QStringLiteral("\"%1\"").arg(QLatin1String(c));
    }
    fail(QStringLiteral("\"%1\" must be %2").arg(QLatin1String(name), names.join(QLatin1String(" or "))));
    return QLatin1String(fallback);
}

QByteArray encodeReply(const Reply& reply, const QJsonValue& id)
{
    QJsonObject rest = reply.ok ? reply.fields : QJsonObject{{QStringLiteral("error"), reply.error}};
    rest.remove(QLatin1String("ok"));
    rest.remove(QLatin1String("id"));
    QByteArray out = reply.ok ? QByteArrayLiteral("{\"ok\":true") : QByteArrayLiteral("{\"ok\":false");
    if (!id.isUndefined()) {
        // An id is echoed as it came: a number, a text, anything JSON.
        QJsonArray wrapped{id};
        QByteArray text = QJsonDocument(wrapped).toJson(QJsonDocument::Compact);
        out += ",\"id\":" + text.mid(1, text.size() - 2);
    }
    QByteArray fields = QJsonDocument(rest).toJson(QJsonDocument::Compact);
    if (fields.size() > 2)
        out += ',' + fields.mid(1, fields.size() - 2);
    out += "}\n";
    return out;
}

} // namespace fieldmon::automation
