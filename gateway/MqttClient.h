#pragma once
// One connection to an MQTT broker over libmosquitto: connect with a last
// will, reconnect with growing delays (1 s, 4 s, 9 s ... at most 30 s),
// publish at QoS 1, subscribe, and report what happens to a Listener.
//
// Thread rule: construct, call and destroy on the main thread (the
// QCoreApplication loop). libmosquitto runs a thread of its own
// (mosquitto_loop_start); its callbacks only copy what they got and queue
// a call on `context_`, so the Listener is told on the main thread only.
// stop() (and the destructor) join that thread before `context_` goes,
// which drops the calls still queued: no callback outlives the client.
// libmosquitto guards its own state, so publish() and subscribe() may run
// while its thread does.

#include <QObject>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct mosquitto;

namespace fieldmon::gateway {

class MqttClient {
public:
    struct Settings {
        std::string host;
        int port = 1883;
        bool tls = false;
        std::string tlsCa, tlsCert, tlsKey; // empty CA: the system's certificates
        std::string clientId;
        std::string user;     // empty: no credentials
        std::string password;
        int version = 311;    // 311 or 5
        std::string willTopic; // retained, QoS 1
        std::string willPayload;
        int keepAliveSeconds = 30;
    };

    enum class Refusal {
        Credentials, // bad user name or password, not authorised, client id refused, banned
        Other,       // unsupported protocol version and the like: retrying will not help either
    };

    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void connected() = 0;
        // The connection broke or an attempt failed; the client retries by itself.
        virtual void connectionLost() = 0;
        // The broker refused the connection for good; the client has stopped.
        virtual void refused(Refusal why, const std::string& text) = 0;
        virtual void messageArrived(const std::string& topic, const std::string& payload, bool retained) = 0;
        // The broker acknowledged the message publish() numbered `messageId`.
        virtual void delivered(int messageId) = 0;
    };

    // Nothing (and `error` set) when libmosquitto refuses the settings.
    static std::unique_ptr<MqttClient> create(const Settings& settings, Listener& listener, std::string& error);
    ~MqttClient();

    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Starts connecting; a broker that is down is retried until stop().
    void start();
    // Queues a QoS 1 message; its number, or nothing when libmosquitto
    // refuses it (no connection).
    std::optional<int> publish(const std::string& topic, std::string_view payload, bool retain);
    bool subscribe(const std::string& pattern);
    // Disconnects cleanly (the broker does not send the will) and joins the
    // loop thread. Messages not yet acknowledged are given up.
    void stop();

private:
    struct Callbacks; // libmosquitto's callbacks, on its thread
    friend struct Callbacks;

    MqttClient(mosquitto* handle, Listener& listener, int version);
    template <typename Fn>
    void toMainThread(Fn fn);
    // libmosquitto's loop thread waits for a first connection that was
    // begun, and retries only once one was: until then the main thread
    // retries, with the loop's own delays.
    void tryFirstConnect();

    mosquitto* handle_;
    Listener& listener_;
    std::string host_;
    int port_ = 0;
    int keepAlive_ = 30;
    int version_;
    bool running_ = false;
    bool loopStarted_ = false;
    int firstConnectTries_ = 0;
    bool connectedNow_ = false; // main thread's view
    std::unique_ptr<QObject> context_;
};

} // namespace fieldmon::gateway
