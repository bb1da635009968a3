#include "expr/Node.h"

#include "expr/Scope.h"
#include "expr/NumericProgram.h"
#include "platform/Diagnostics.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>

namespace fieldmon::expr {

namespace {

// Object identities in descriptions are printed as 32-bit hexadecimal
// numbers, as every diagnostic of the system does.
unsigned identity(const void* p)
{
    return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p));
}

std::string hex(const void* p)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", identity(p));
    return buf;
}

// Nested descriptions are indented by a tab on every continued line.
std::string indented(const std::string& s, const char* by)
{
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        out += c;
        if (c == '\n')
            out += by;
    }
    return out;
}

std::string replaceAll(std::string s, std::string_view from, std::string_view to)
{
    std::size_t pos = 0;
    while ((pos = s.find(from, pos)) != std::string::npos) {
        s.replace(pos, from.size(), to);
        pos += to.size();
    }
    return s;
}

} // namespace

// --- Construction ----------------------------------------------------------------

Node::Node(ClientPtr client, NodeKind kind) : kind_(kind), remoteClient_(std::move(client)) {}

Node::~Node() = default;

namespace {
constexpr std::uint8_t kMaxStaleRebuilds = 8;
} // namespace

void Node::structureChanged()
{
    std::uint32_t next = structureGeneration_.load(std::memory_order_relaxed) + 1;
    structureGeneration_.store(next == 0 ? 1 : next, std::memory_order_relaxed);
}

const NumericProgram* Node::rebuildProgram(Scope* env)
{
    programGeneration_ = generation();
    program_ = staleRebuilds_ < kMaxStaleRebuilds ? NumericProgram::build(*this, env) : nullptr;
    return program_.get();
}

void Node::programIsStale()
{
    program_.reset();
    programGeneration_ = 0;
    if (staleRebuilds_ < kMaxStaleRebuilds)
        ++staleRebuilds_;
}

NodePtr Node::create(ClientPtr client)
{
    return NodePtr(new Node(std::move(client), NodeKind::Plain));
}

NodePtr Node::variable(ClientPtr client, std::string name)
{
    NodePtr n(new Node(std::move(client), NodeKind::RemoteVariable));
    n->varName_ = std::move(name);
    return n;
}

NodePtr Node::element(ClientPtr client, std::string element, NodePtr structure)
{
    if (element.empty())
        diag("Why do we have a nil element?\n");
    NodePtr n(new Node(std::move(client), NodeKind::Element));
    n->element_ = std::move(element);
    if (structure)
        n->height_ = structure->height_ + 1;
    n->struct_ = std::move(structure);
    return n;
}

NodePtr Node::index(ClientPtr client, NodePtr index, NodePtr array)
{
    NodePtr n(new Node(std::move(client), NodeKind::Index));
    std::uint32_t h = 0;
    if (index)
        h = index->height_;
    if (array && array->height_ > h)
        h = array->height_;
    n->height_ = h + 1;
    n->index_ = std::move(index);
    n->struct_ = std::move(array);
    return n;
}

NodePtr Node::function(ClientPtr client, std::string name)
{
    NodePtr n(new Node(std::move(client), NodeKind::Function));
    n->varName_ = std::move(name);
    return n;
}

NodePtr Node::integer(ClientPtr client, std::int32_t v)
{
    NodePtr n(new Node(std::move(client), NodeKind::Integer));
    n->intVal_ = v;
    return n;
}

NodePtr Node::real(ClientPtr client, double v)
{
    NodePtr n(new Node(std::move(client), NodeKind::Double));
    n->doubleVal_ = v;
    return n;
}

NodePtr Node::string(ClientPtr client, std::string_view text)
{
    NodePtr n(new Node(std::move(client), NodeKind::String));
    std::string s = replaceAll(std::string(text), "\\\"", "\"");
    s = replaceAll(std::move(s), "\\n", "\n");
    n->string_ = replaceAll(std::move(s), "\\t", "\t");
    return n;
}

NodePtr Node::error(ClientPtr client)
{
    return NodePtr(new Node(std::move(client), NodeKind::Error));
}

NodePtr Node::op(ClientPtr client, Operator op)
{
    NodePtr n(new Node(std::move(client), NodeKind::Operator));
    n->op_ = op;
    return n;
}

NodePtr Node::constant(ClientPtr client, const Value& v)
{
    switch (v.kind()) {
    case Kind::Integer: return integer(std::move(client), v.asInt());
    case Kind::Double: return real(std::move(client), v.asDouble());
    case Kind::String: {
        NodePtr n(new Node(std::move(client), NodeKind::String));
        n->string_ = v.asText();
        return n;
    }
    case Kind::Error: return error(std::move(client));
    case Kind::None: break;
    }
    return integer(std::move(client), 0);
}

// --- Shape -----------------------------------------------------------------------

NodeKind Node::type() const
{
    return kind_;
}

int Node::order() const
{
    if (kind_ != NodeKind::Operator)
        return 0;
    switch (op_) {
    case Operator::Multiply:
    case Operator::Divide:
    case Operator::Remainder: return 0;
    case Operator::Add:
    case Operator::Subtract: return 1;
    case Operator::Less:
    case Operator::Greater:
    case Operator::BitAnd:
    case Operator::BitOr:
    case Operator::LessEqual:
    case Operator::GreaterEqual:
    case Operator::Equal: return 2;
    case Operator::And:
    case Operator::Or: return 3;
    case Operator::Branches: return 4;
    case Operator::Choose: return 5;
    case Operator::Assign:
    case Operator::None: break;
    }
    return 6; // "=" binds loosest
}

bool Node::hasArgs() const
{
    return args_.size() >= 2;
}

void Node::addArg(NodePtr arg)
{
    if (!arg)
        return;
    if (arg->height_ + 1 > height_)
        height_ = arg->height_ + 1;
    args_.push_back(std::move(arg));
    structureChanged();
}

bool Node::isConst() const
{
    switch (kind_) {
    case NodeKind::Integer:
    case NodeKind::Double:
    case NodeKind::String:
    case NodeKind::Error: return true;
    case NodeKind::Operator:
    case NodeKind::Function:
        for (const NodePtr& a : args_)
            if (!a->isConst())
                return false;
        return true;
    case NodeKind::Plain:
    case NodeKind::RemoteVariable:
    case NodeKind::LocalVariable:
    case NodeKind::Element:
    case NodeKind::Index:
    case NodeKind::Environment: break;
    }
    return false;
}

bool Node::isStatic() const
{
    if (kind_ == NodeKind::Index)
        return index_ && index_->isConst() && struct_ && struct_->isStatic();
    if (kind_ == NodeKind::Element)
        return struct_ && struct_->isStatic();
    return true;
}

bool Node::debug() const
{
    return remoteClient_ && remoteClient_->debug();
}

Scope* Node::globalEnvironment() const
{
    return remoteClient_ ? remoteClient_->environment().get() : nullptr;
}

// --- Texts -----------------------------------------------------------------------

std::string Node::string() const
{
    switch (kind_) {
    case NodeKind::RemoteVariable:
    case NodeKind::LocalVariable: return varName_;
    case NodeKind::Element: return (struct_ ? struct_->string() : std::string()) + "." + element_;
    case NodeKind::Index:
        return (struct_ ? struct_->string() : std::string()) + "[" + (index_ ? index_->string() : std::string()) + "]";
    case NodeKind::Function: {
        std::string s = varName_ + "(";
        for (std::size_t i = 0; i < args_.size(); ++i) {
            if (i)
                s += ", ";
            s += args_[i]->string();
        }
        return s + ")";
    }
    case NodeKind::Operator:
        if (args_.size() == 2)
            return "(" + args_[0]->string() + " " + operatorCode(op_) + " " + args_[1]->string() + ")";
        return std::string(1, operatorCode(op_));
    case NodeKind::String: return "\"" + string_ + "\"";
    case NodeKind::Integer: return Value::integer(intVal_).stringValue();
    case NodeKind::Double: return Value::real(doubleVal_).stringValue();
    case NodeKind::Error:
    case NodeKind::Plain:
    case NodeKind::Environment: break;
    }
    return {};
}

std::string Node::argsDescription() const
{
    // The layout of a printed list: one item a line, indented, in parentheses.
    std::string s = "(";
    for (std::size_t i = 0; i < args_.size(); ++i) {
        s += "\n    " + indented(args_[i]->description(), "    ");
        if (i + 1 < args_.size())
            s += ",";
    }
    return s + "\n)";
}

std::string Node::description() const
{
    const std::string id = hex(this);
    char buf[64];
    switch (kind_) {
    case NodeKind::RemoteVariable: return "<ClientDataRemoteVar: " + id + " variable=\"" + varName_ + "\">";
    case NodeKind::LocalVariable: return "<ClientDataLocalVar: " + id + " variable=\"" + varName_ + "\">";
    case NodeKind::Element:
        return "<ClientDataStructElement: " + id + " struct=\"" +
               indented(struct_ ? struct_->description() : std::string("(null)"), "\t") + "\" element=\"" +
               element_ + "\">";
    case NodeKind::Index:
        return "<ClientDataArray: " + id + " index=\"" +
               indented(index_ ? index_->description() : std::string("(null)"), "\t") + "\" variable=\"" +
               indented(struct_ ? struct_->description() : std::string("(null)"), "\t") + "\">";
    case NodeKind::Function:
        return "<ClientDataFunction: " + id + " function=\"" + varName_ + "\" args=" + argsDescription() + ">";
    case NodeKind::Integer:
        std::snprintf(buf, sizeof buf, "%d", intVal_);
        return "<ClientDataInteger: " + id + " value=\"" + buf + "\">";
    case NodeKind::Double:
        std::snprintf(buf, sizeof buf, "%e", doubleVal_);
        return "<ClientDataDouble: " + id + " value=\"" + buf + "\">";
    case NodeKind::String: return "<ClientDataString: " + id + " value=\"" + string_ + "\">";
    case NodeKind::Error: return "<ClientDataError: " + id + ">";
    case NodeKind::Operator: {
        const char* text = operatorText(op_);
        const std::string o = text ? std::string(text) : std::string(1, operatorCode(op_));
        return "<ClientDataOperator: " + id + " opperator=\"" + o + "\" args=" + argsDescription() + ">";
    }
    case NodeKind::Plain:
    case NodeKind::Environment: break;
    }
    return "<ClientData: " + id + ">";
}

// --- Changing kind ----------------------------------------------------------------

void Node::dropOperands()
{
    structureChanged();
    remoteData_.reset();
    args_.clear();
    struct_.reset();
    index_.reset();
    varName_.clear();
    element_.clear();
    op_ = Operator::None;
    height_ = 1;
}

void Node::becomeInteger()
{
    diag("Becoming int: '%s'\n", description().c_str());
    dropOperands();
    kind_ = NodeKind::Integer;
    intVal_ = 0;
    diag("Becoming an int\n");
}

void Node::becomeDouble()
{
    dropOperands();
    kind_ = NodeKind::Double;
    doubleVal_ = 0.0;
}

void Node::becomeString()
{
    dropOperands();
    kind_ = NodeKind::String;
    string_.clear();
    diag("Becoming an string\n");
}

void Node::becomeError()
{
    diag("Becoming an error. '%s'\n", description().c_str());
    dropOperands();
    kind_ = NodeKind::Error;
    string_.clear();
    diag("Done becoming an error. '%s'\n", description().c_str());
}

void Node::setString(std::string s)
{
    string_ = std::move(s);
}

void Node::setInteger(std::int32_t v)
{
    intVal_ = v;
}

void Node::setDouble(double v)
{
    doubleVal_ = v;
}

// --- Folding ------------------------------------------------------------------------

void Node::simplifyWithEnvironment(Scope* env)
{
    if (kind_ == NodeKind::Operator && op_ == Operator::Branches)
        return;
    if (!isConst())
        return;
    switch (kind_) {
    case NodeKind::Operator:
    case NodeKind::Function: break;
    default: return; // already a constant
    }
    Value v = evalWithEnvironment(env);
    switch (v.kind()) {
    case Kind::Integer:
        becomeInteger();
        setInteger(v.asInt());
        return;
    case Kind::Double:
        becomeDouble();
        setDouble(v.asDouble());
        return;
    case Kind::String:
        becomeString();
        setString(v.asText());
        return;
    case Kind::Error:
        becomeError();
        return;
    case Kind::None:
        // An unknown function reads as the integer 0.
        becomeInteger();
        setInteger(0);
        return;
    }
}

void Node::simplify()
{
    simplifyWithEnvironment(nullptr);
}

// --- Twins without an environment -----------------------------------------------------
// They pass no environment; evaluation then uses the record's global one. An
// environment node keeps its own parent when called this way.

std::string Node::stringValue()
{
    return stringValueWithEnvironment(nullptr);
}

double Node::doubleValue()
{
    return doubleValueWithEnvironment(nullptr);
}

std::int32_t Node::intValue()
{
    return intValueWithEnvironment(nullptr);
}

std::string Node::stringValueWithEnvironment(Scope* env)
{
    switch (kind_) {
    case NodeKind::String: return string_;
    case NodeKind::Integer: return Value::integer(intVal_).stringValue();
    case NodeKind::Double: return Value::real(doubleVal_).stringValue();
    case NodeKind::Error: return "error";
    default: break;
    }
    return evalWithEnvironment(env).stringValue();
}

} // namespace fieldmon::expr
