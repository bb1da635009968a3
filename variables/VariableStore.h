#pragma once
// VariableStore: a device's remote variables. It holds the table of declared
// variables (varDict) and of user-defined types (globalDataTypes), both filled
// from the declaration text of the device's UI description, and the request
// queues that read the variables from the device (RequestQueues). The device
// record (Client) holds one store and forwards its "Remote variables"
// operations to it.
//
// The store reaches the device link through a Link of callables that the
// record fills in: its debug flag, sending a request text, and the shared
// request identifiers. The store itself knows nothing of sockets.
//
// Thread rule: main thread only.

#include "variables/RemoteData.h"
#include "variables/RequestQueues.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fieldmon {

class VariableStore {
public:
    using Table = std::map<std::string, std::shared_ptr<RemoteData>>;

    struct Link {
        std::function<bool()> debug;
        // Sends one request datagram; returns 0 on success, -1 on failure.
        std::function<int(std::string_view)> send;
        // The next one-character request identifier.
        std::function<char()> uniqueIdentifier;
        // Optional. The link's clock (seconds, monotonic): stamps stored
        // values (RemoteData::storedAt).
        std::function<double()> now;
        // Optional, for the link's health: a request datagram of `kind`
        // ('v' address, 'a' value) went out under `id`; a reply ('V', 'A')
        // came for `id`.
        std::function<void(char kind, char id)> requestSent;
        std::function<void(char kind, char id)> replyReceived;
    };

    // Told of every value a reply stores (the history records them). Called
    // on the reply path, before the expressions waiting for the reply run:
    // it must be quick and must not queue requests.
    class ValueObserver {
    public:
        virtual ~ValueObserver() = default;
        // `variable` holds its new value; `time` is the link's clock.
        virtual void valueStored(const RemoteData& variable, double time) = 0;
    };

    explicit VariableStore(Link link);
    ~VariableStore();
    VariableStore(const VariableStore&) = delete;
    VariableStore& operator=(const VariableStore&) = delete;

    bool debug() const { return link_.debug && link_.debug(); }
    double now() const { return link_.now ? link_.now() : 0.0; }
    // One observer (not owned) or null; it must outlive its registration.
    void setValueObserver(ValueObserver* observer) { observer_ = observer; }
    ValueObserver* valueObserver() const { return observer_; }
    const Link& link() const { return link_; }

    Table& varDict() { return varDict_; }
    const Table& varDict() const { return varDict_; }
    Table& globalDataTypes() { return globalDataTypes_; }
    const Table& globalDataTypes() const { return globalDataTypes_; }
    // Lookups that do not insert; null when absent.
    std::shared_ptr<RemoteData> variableNamed(const std::string& name) const;
    std::shared_ptr<RemoteData> typeNamed(const std::string& name) const;

    // --- Declarations ----------------------------------------------------------
    // Parses a declaration text: every variable it declares goes into varDict
    // (marked base), every type it defines into globalDataTypes. Adds to what
    // earlier calls declared; prints the tables in debug mode.
    void parseVariableDeclaration(std::string_view text);
    // The variables a text declares, in order, entered nowhere; type
    // definitions are entered into globalDataTypes on the way.
    std::vector<std::shared_ptr<RemoteData>> parseVariableDeclarationArray(std::string_view text);
    // Statements of a declaration text (each ended by ';' at brace depth 0).
    static std::vector<std::string> splitVariables(std::string_view text);
    std::shared_ptr<RemoteData> createVar(std::string name, std::string type, std::int32_t index);
    void initDataType(const std::string& name, std::string_view body);
    void initEnumType(const std::string& name, std::string_view body);
    void printRemoteData() const;

    // --- Requests ----------------------------------------------------------------
    RequestQueues& requests() { return requests_; }
    const RequestQueues& requests() const { return requests_; }

private:
    Link link_;
    Table varDict_;
    Table globalDataTypes_;
    RequestQueues requests_;
    ValueObserver* observer_ = nullptr;
};

} // namespace fieldmon
