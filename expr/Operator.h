#pragma once
// The operators of the expression language. The compiler reads an operator's
// characters once (operatorFromText) and every later stage switches on the
// enum, with no default, so -Wswitch names the stage that forgot an operator.
//
// Each enumerator's value is the one-character code the node prints for it
// in string() and description() ("<=" is 'L', "&&" is 'A'); those lines are
// diagnostics that callers read, so the codes stay as they were.
//
// Thread rule: pure values and functions; any thread.

#include <cstdint>

namespace fieldmon::expr {

enum class Operator : char {
    None = 0,          // not an operator node (yet)
    Add = '+',
    Subtract = '-',    // also the unary minus, with one argument
    Multiply = '*',
    Divide = '/',
    Remainder = '%',
    BitAnd = '&',
    BitOr = '|',
    Less = '<',
    Greater = '>',
    LessEqual = 'L',   // "<="
    GreaterEqual = 'G', // ">="
    And = 'A',         // "&&"
    Or = 'O',          // "||"
    Equal = 'E',       // "=="
    Choose = '?',      // "c ? a : b": the condition and the ':' node
    Branches = ':',    // the two branches of a choice
    Assign = '=',      // read but never evaluated: the node turns into an error
};

// The code a node prints for its operator.
constexpr char operatorCode(Operator op)
{
    return static_cast<char>(op);
}

// The operator written with one character `c`; None for any other character.
constexpr Operator operatorFromChar(char c)
{
    switch (c) {
    case '+': return Operator::Add;
    case '-': return Operator::Subtract;
    case '*': return Operator::Multiply;
    case '/': return Operator::Divide;
    case '%': return Operator::Remainder;
    case '&': return Operator::BitAnd;
    case '|': return Operator::BitOr;
    case '<': return Operator::Less;
    case '>': return Operator::Greater;
    case '?': return Operator::Choose;
    case ':': return Operator::Branches;
    case '=': return Operator::Assign;
    }
    return Operator::None;
}

// The operator written with the two characters `first` `second` ("<=",
// ">=", "&&", "||", "=="); None for any other pair.
constexpr Operator operatorFromPair(char first, char second)
{
    if (first == '<' && second == '=')
        return Operator::LessEqual;
    if (first == '>' && second == '=')
        return Operator::GreaterEqual;
    if (first == '&' && second == '&')
        return Operator::And;
    if (first == '|' && second == '|')
        return Operator::Or;
    if (first == '=' && second == '=')
        return Operator::Equal;
    return Operator::None;
}

// How an operator prints in a node's description: its two-character text
// for the pairs, its code otherwise.
constexpr const char* operatorText(Operator op)
{
    switch (op) {
    case Operator::LessEqual: return "<=";
    case Operator::GreaterEqual: return ">=";
    case Operator::And: return "&&";
    case Operator::Or: return "||";
    case Operator::Equal: return "==";
    case Operator::None:
    case Operator::Add:
    case Operator::Subtract:
    case Operator::Multiply:
    case Operator::Divide:
    case Operator::Remainder:
    case Operator::BitAnd:
    case Operator::BitOr:
    case Operator::Less:
    case Operator::Greater:
    case Operator::Choose:
    case Operator::Branches:
    case Operator::Assign: break;
    }
    return nullptr;
}

} // namespace fieldmon::expr
