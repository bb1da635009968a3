#include "gateway/MqttClient.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace fieldmon::gateway {

namespace {

// CONNACK codes that say "these credentials or this client id will never
// be let in", for MQTT 3.1.1 and MQTT 5.
bool isCredentialRefusal(int code, int version)
{
    if (version == 5)
        return code == MQTT_RC_CLIENTID_NOT_VALID || code == MQTT_RC_BAD_USERNAME_OR_PASSWORD ||
               code == MQTT_RC_NOT_AUTHORIZED || code == MQTT_RC_BANNED || code == MQTT_RC_BAD_AUTHENTICATION_METHOD;
    return code == CONNACK_REFUSED_IDENTIFIER_REJECTED || code == CONNACK_REFUSED_BAD_USERNAME_PASSWORD ||
           code == CONNACK_REFUSED_NOT_AUTHORIZED;
}

// Refusals after which a retry cannot succeed either; the rest (server
// unavailable, busy, quota) are retried like a broken connection.
bool isFinalRefusal(int code, int version)
{
    if (isCredentialRefusal(code, version))
        return true;
    if (version == 5)
        return code == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION || code == MQTT_RC_MALFORMED_PACKET ||
               code == MQTT_RC_PROTOCOL_ERROR;
    return code == CONNACK_REFUSED_PROTOCOL_VERSION;
}

} // namespace

struct MqttClient::Callbacks {
    static void connect(mosquitto*, void* self, int code, int, const mosquitto_property*)
    {
        auto* client = static_cast<MqttClient*>(self);
        int version = client->version_;
        std::string text = version == 5 ? mosquitto_reason_string(code) : mosquitto_connack_string(code);
        client->toMainThread([client, code, version, text] {
            if (code == 0) {
                client->connectedNow_ = true;
                client->listener_.connected();
                return;
            }
            client->connectedNow_ = false;
            if (!isFinalRefusal(code, version)) {
                client->listener_.connectionLost();
                return;
            }
            client->stop();
            client->listener_.refused(isCredentialRefusal(code, version) ? Refusal::Credentials : Refusal::Other,
                                      text);
        });
    }

    static void disconnect(mosquitto*, void* self, int, const mosquitto_property*)
    {
        auto* client = static_cast<MqttClient*>(self);
        client->toMainThread([client] {
            client->connectedNow_ = false;
            client->listener_.connectionLost();
        });
    }

    static void publish(mosquitto*, void* self, int messageId, int, const mosquitto_property*)
    {
        auto* client = static_cast<MqttClient*>(self);
        client->toMainThread([client, messageId] { client->listener_.delivered(messageId); });
    }

    static void message(mosquitto*, void* self, const mosquitto_message* message, const mosquitto_property*)
    {
        auto* client = static_cast<MqttClient*>(self);
        std::string topic = message->topic ? message->topic : "";
        std::string payload(static_cast<const char*>(message->payload), static_cast<std::size_t>(message->payloadlen));
        bool retained = message->retain;
        client->toMainThread([client, topic = std::move(topic), payload = std::move(payload), retained] {
            client->listener_.messageArrived(topic, payload, retained);
        });
    }
};

template <typename Fn>
void MqttClient::toMainThread(Fn fn)
{
    QMetaObject::invokeMethod(context_.get(), std::move(fn), Qt::QueuedConnection);
}

std::unique_ptr<MqttClient> MqttClient::create(const Settings& settings, Listener& listener, std::string& error)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { mosquitto_lib_init(); });

    mosquitto* handle = mosquitto_new(settings.clientId.c_str(), true, nullptr);
    if (!handle) {
        error = "cannot make an MQTT client";
        return nullptr;
    }
    std::unique_ptr<MqttClient> client(new MqttClient(handle, listener, settings.version));
    mosquitto_user_data_set(handle, client.get());
    auto check = [&](int rc, const char* what) {
        if (rc == MOSQ_ERR_SUCCESS)
            return true;
        error = std::string(what) + ": " + mosquitto_strerror(rc);
        return false;
    };
    if (!check(mosquitto_int_option(handle, MOSQ_OPT_PROTOCOL_VERSION,
                                    settings.version == 5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311),
               "MQTT version"))
        return nullptr;
    if (!settings.user.empty() &&
        !check(mosquitto_username_pw_set(handle, settings.user.c_str(), settings.password.c_str()), "user name"))
        return nullptr;
    if (settings.tls) {
        const char* ca = settings.tlsCa.empty() ? nullptr : settings.tlsCa.c_str();
        const char* caPath = settings.tlsCa.empty() ? "/etc/ssl/certs" : nullptr;
        const char* cert = settings.tlsCert.empty() ? nullptr : settings.tlsCert.c_str();
        const char* key = settings.tlsKey.empty() ? nullptr : settings.tlsKey.c_str();
        if (!check(mosquitto_tls_set(handle, ca, caPath, cert, key, nullptr), "TLS"))
            return nullptr;
    }
    if (!settings.willTopic.empty() &&
        !check(mosquitto_will_set(handle, settings.willTopic.c_str(), static_cast<int>(settings.willPayload.size()),
                                  settings.willPayload.data(), 1, true),
               "last will"))
        return nullptr;
    if (!check(mosquitto_reconnect_delay_set(handle, 1, 30, true), "reconnect delay"))
        return nullptr;
    mosquitto_connect_v5_callback_set(handle, &Callbacks::connect);
    mosquitto_disconnect_v5_callback_set(handle, &Callbacks::disconnect);
    mosquitto_publish_v5_callback_set(handle, &Callbacks::publish);
    mosquitto_message_v5_callback_set(handle, &Callbacks::message);
    client->host_ = settings.host;
    client->port_ = settings.port;
    client->keepAlive_ = settings.keepAliveSeconds;
    return client;
}

MqttClient::MqttClient(mosquitto* handle, Listener& listener, int version)
    : handle_(handle), listener_(listener), version_(version), context_(std::make_unique<QObject>())
{
}

MqttClient::~MqttClient()
{
    stop();
    mosquitto_destroy(handle_);
    // context_ goes after the loop thread: calls it queued are dropped with it.
}

void MqttClient::start()
{
    if (running_)
        return;
    running_ = true;
    tryFirstConnect();
}

void MqttClient::tryFirstConnect()
{
    if (!running_)
        return;
    // A connection refused at once (a broker down on this host) fails here;
    // one that takes time fails later in the loop thread, which then
    // retries by itself.
    int rc = mosquitto_connect_async(handle_, host_.c_str(), port_, keepAlive_);
    if (rc == MOSQ_ERR_SUCCESS) {
        mosquitto_loop_start(handle_);
        loopStarted_ = true;
        return;
    }
    if (firstConnectTries_ == 0)
        std::fprintf(stderr, "fieldmon-gateway: broker %s:%d not reachable yet (%s); retrying\n", host_.c_str(), port_,
                     rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc));
    ++firstConnectTries_;
    int delaySeconds = std::min(30, firstConnectTries_ * firstConnectTries_);
    QTimer::singleShot(delaySeconds * 1000, context_.get(), [this] { tryFirstConnect(); });
    listener_.connectionLost();
}

std::optional<int> MqttClient::publish(const std::string& topic, std::string_view payload, bool retain)
{
    if (!connectedNow_)
        return std::nullopt;
    int messageId = 0;
    int rc = mosquitto_publish_v5(handle_, &messageId, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                                  1, retain, nullptr);
    if (rc != MOSQ_ERR_SUCCESS)
        return std::nullopt;
    return messageId;
}

bool MqttClient::subscribe(const std::string& pattern)
{
    return mosquitto_subscribe_v5(handle_, nullptr, pattern.c_str(), 1, 0, nullptr) == MOSQ_ERR_SUCCESS;
}

void MqttClient::stop()
{
    if (!running_)
        return;
    running_ = false;
    bool wasConnected = connectedNow_;
    connectedNow_ = false;
    if (!loopStarted_)
        return; // never connected: only the retry timer ran, and running_ ends it
    loopStarted_ = false;
    mosquitto_disconnect_v5(handle_, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
    // Connected, the loop thread ends as soon as the disconnect is out. Not
    // connected, it may be in its reconnect sleep (up to 30 s, not
    // interruptible): cancel it there instead of waiting the sleep out.
    mosquitto_loop_stop(handle_, !wasConnected);
}

} // namespace fieldmon::gateway
