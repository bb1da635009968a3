#pragma once
// Node: one node of a compiled expression. Every widget value and every
// command of a device page is an expression over the device's remote
// variables, local variables, constants, operators and built-in functions;
// the compiler turns its text into a tree of these nodes once and the tree is
// evaluated many times.
//
// One class serves every kind of node, told apart by a kind tag, because nodes
// change kind in place: constant folding turns an operator node into the
// constant it computes, a wrong function call turns itself into an error for
// good, a name that the device does not declare becomes a local variable. The
// parents keep pointing at the same node throughout. The constant kinds are
// what the expression language calls ClientDataInteger, ClientDataDouble,
// ClientDataString and ClientDataError, and operator nodes ClientDataOperator;
// they are made with the factories below. Environments (local scopes wrapping
// an expression) are the one subclass, Scope.
//
// Evaluation yields a Value (integer, double, text, error or nothing) and
// never fails by raising; anything that cannot be computed is an error value.
// Numeric evaluation allocates nothing.
//
// Operations come in twins: one taking an environment (the scope in which
// names are looked up; nullptr means the device's global environment) and one
// without, which uses the device's global environment.
//
// Ownership: a node holds its device record (shared), its operands and its
// arguments. The record does not hold the nodes compiled for it, so this makes
// no cycle; the record's global environment and predefined values are nodes
// made without a record.
//
// Thread rule: main thread only.

#include "expr/DeviceLink.h"
#include "expr/Operator.h"
#include "variables/RemoteDataRequest.h"
#include "expr/Schedulable.h"
#include "variables/Requester.h"
#include "variables/Value.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fieldmon {
class RemoteData;
} // namespace fieldmon

namespace fieldmon::expr {

class Binding;
class Node;
class Scope;
class NumericProgram;

using NodePtr = std::shared_ptr<Node>;
// The device record a node was compiled for, seen through its link.
using ClientPtr = std::shared_ptr<DeviceLink>;
using RequestList = std::vector<RemoteDataRequest>;

// Kind codes as the expression language exposes them (type()).
enum class NodeKind : std::int32_t {
    Plain = -2,
    Integer = 0,
    Double = 1,
    String = 2,
    Error = 4,
    RemoteVariable = 8,
    LocalVariable = 16,
    Operator = 32,
    Element = 64,
    Index = 128,
    Function = 256,
    // Internal tag of Scope, whose type() is its expression's.
    Environment = 0x10000,
};

class Node : public Schedulable, public std::enable_shared_from_this<Node> {
public:
    // --- Construction ----------------------------------------------------------
    static NodePtr create(ClientPtr client); // a plain node, kind -2
    static NodePtr variable(ClientPtr client, std::string name);
    // An element node; an empty name prints "Why do we have a nil element?".
    static NodePtr element(ClientPtr client, std::string element, NodePtr structure);
    static NodePtr index(ClientPtr client, NodePtr index, NodePtr array);
    static NodePtr function(ClientPtr client, std::string name);
    static NodePtr integer(ClientPtr client, std::int32_t v);
    static NodePtr real(ClientPtr client, double v);
    // Replaces \" by ", \n by a line feed and \t by a tab, in that order.
    static NodePtr string(ClientPtr client, std::string_view text);
    static NodePtr error(ClientPtr client);
    static NodePtr op(ClientPtr client, Operator op);
    // A constant node holding `v` (nothing reads as the integer 0).
    static NodePtr constant(ClientPtr client, const Value& v);

    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    ~Node() override;

    // --- Diagnostics and shape -------------------------------------------------
    virtual std::string description() const;
    // A source-like text: "a", "s.e", "a[i]", "f(x, y)", "(a + b)", "\"t\"", "3";
    // an error node has none (empty).
    virtual std::string string() const;
    virtual NodeKind type() const;
    // Precedence of an operator node (lower binds tighter); 0 for others.
    virtual int order() const;
    static constexpr int maxOrder() { return 6; }
    virtual bool hasArgs() const; // two or more arguments
    virtual void addArg(NodePtr arg);
    bool isConst() const override;
    virtual bool isStatic() const;

    const std::vector<NodePtr>& args() const { return args_; }
    Operator operatorKind() const { return op_; }
    const std::string& varName() const { return varName_; }
    const std::string& elementName() const { return element_; }
    const NodePtr& structure() const { return struct_; }
    const NodePtr& indexNode() const { return index_; }
    // Height of the tree below this node (a leaf is 1); the compiler bounds it
    // so that evaluation and destruction recurse only so deep.
    std::uint32_t height() const { return height_; }

    // --- Evaluation ------------------------------------------------------------
    virtual Value evalWithEnvironment(Scope* env);
    Value eval();
    virtual std::string stringValueWithEnvironment(Scope* env);
    std::string stringValue();
    virtual double doubleValueWithEnvironment(Scope* env);
    double doubleValue();
    virtual std::int32_t intValueWithEnvironment(Scope* env);
    std::int32_t intValue();

    // Constant folding: a constant node is evaluated and becomes, in place, a
    // constant of the result's kind. A ":" node is never folded by itself.
    virtual void simplifyWithEnvironment(Scope* env);
    void simplify();

    // --- Request protocol --------------------------------------------------------
    void setClientUpdate(Binding* binding) override;
    Binding* clientUpdate() const override { return clientUpdate_; }

    // Address requests still needed before the expression can be evaluated.
    virtual RequestList prepForEvalWithEnvironment(Scope* env);
    RequestList prepForEval();
    // Marks the remote values read as stale; true if the expression reads any.
    virtual bool invalidateRemoteVariableValuesWithEnvironment(Scope* env);
    bool invalidateRemoteVariableValues() override;
    // The address requests still needed, else the value requests of stale values.
    virtual RequestList requestVariablesWithEnvironment(Scope* env);
    RequestList requestVariables();
    // Queues what requestVariables() gives into the device record and records
    // this expression as a requester; with nothing to ask for, tells the
    // binding at once (when requeue() is set). Returns the number queued.
    virtual int queueVariableRequestsWithEnvironment(Scope* env);
    int queueVariableRequests() override;
    void submitRequests() override;
    bool requeue() const override { return requeue_; }
    void dontRequeue() { requeue_ = false; }

    // The `string` texts of the remote variables read, for diagnostics.
    virtual std::vector<std::string> staticPartWithEnvironment(Scope* env);
    std::vector<std::string> staticPart();
    virtual std::vector<std::string> remoteNotificationsWithEnvironment(Scope* env);
    std::vector<std::string> remoteNotifications();

    // Whether every remote value the tree reads is resolved and valid.
    bool valuesPresent() const;

    // Resolves a variable, element or index node to its remote variable (or
    // turns a variable node into a local one). Others: nothing.
    void updateRemoteDataWithEnvironment(Scope* env);

    // --- Record and resolved variable ------------------------------------------
    const std::shared_ptr<RemoteData>& remoteData() const { return remoteData_; }
    const ClientPtr& remoteClient() const { return remoteClient_; }
    bool debug() const;

    // --- Changing kind in place -------------------------------------------------
    // Print "Becoming int: '%s'\n" + "Becoming an int\n", "Becoming an string\n",
    // "Becoming an error. '%s'\n" + "Done becoming an error. '%s'\n"; becomeDouble
    // prints nothing. Operands and arguments are released.
    virtual void becomeInteger();
    virtual void becomeDouble();
    virtual void becomeString();
    virtual void becomeError();
    virtual void setString(std::string s);
    virtual void setInteger(std::int32_t v);
    virtual void setDouble(double v);

protected:
    Node(ClientPtr client, NodeKind kind);

    // The environment that no-argument twins use: the record's global one.
    Scope* globalEnvironment() const;

    NodeKind kind_;

private:
    friend class Evaluator;
    friend class NumericProgram;

    // Counts changes of kind and resolutions of any node. A node's numeric
    // program is valid for the count it was built at.
    static std::uint32_t generation() { return structureGeneration_.load(std::memory_order_relaxed); }
    static void structureChanged();
    // The compiled form of this tree, rebuilt when the count has moved;
    // null when the tree is not purely numeric.
    const NumericProgram* program(Scope* env)
    {
        return programGeneration_ == generation() ? program_.get() : rebuildProgram(env);
    }
    const NumericProgram* rebuildProgram(Scope* env);
    // The program no longer fits the kinds of the values it reads: rebuild
    // it next time, unless that keeps happening (values that change kind
    // from run to run are left to the tree walk).
    void programIsStale();

    void dropOperands();
    std::string argsDescription() const;

    Operator op_ = Operator::None;
    // Which built-in a function node calls, found once (0: not looked up yet).
    std::uint8_t function_ = 0;
    bool requeue_ = true;
    // A function node whose output was cut has said so (printf says it once).
    bool cutReported_ = false;
    std::uint32_t height_ = 1;
    std::int32_t intVal_ = 0;
    double doubleVal_ = 0.0;
    ClientPtr remoteClient_;
    std::shared_ptr<RemoteData> remoteData_;
    std::vector<NodePtr> args_;
    NodePtr struct_;
    NodePtr index_;
    std::string string_;  // text of a string constant
    std::string varName_; // variable name, or function name
    std::string element_; // element name of an element node
    Binding* clientUpdate_ = nullptr;
    std::unique_ptr<NumericProgram> program_;
    std::uint32_t programGeneration_ = 0;
    std::uint8_t staleRebuilds_ = 0;
    // Starts at 1 so that a programGeneration_ of 0 means "never built".
    static inline std::atomic<std::uint32_t> structureGeneration_{1};
};

} // namespace fieldmon::expr
