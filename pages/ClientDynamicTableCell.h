#pragma once
// ClientDynamicTableCell: a cell template of a device's table page. It
// covers one row index, a range of indexes or every index of its section,
// and holds the expressions of its rows' left, right and center texts, a
// command, a target page and a confirmation flag. Row texts see the row's
// number through the table's index variable: the template evaluates each
// text of row i in an environment of its own that binds the index variable
// to i, made the first time the row is needed and kept (a row's texts are
// never compiled again). Those environments never tell a binding
// themselves (dontRequeue): the table that loads them does.
//
// Coverage of index i: with an index, i equals its value; otherwise i is
// not below the start (when there is one) and not above the end (when there
// is one); with neither every index. While a bound is not constant,
// couldCoverSomeIndexBelow() counts it as possibly covering any index.
//
// A touch on a row either opens the target page (the table does that) or
// runs the command for that row's index, "c" + text + "\n". A left/right
// row's text field, when the template has a command, sends "c" + command +
// " " + typed text + "\n", with the command evaluated for the row being
// edited.
//
// Thread rule: main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace fieldmon {

class Client;
class DynamicRowCell;
class GroupedTableView;

namespace expr {
class Node;
class Scope;
} // namespace expr

class ClientDynamicTableCell : public std::enable_shared_from_this<ClientDynamicTableCell> {
public:
    using NodePtr = std::shared_ptr<expr::Node>;
    using EnvPtr = std::shared_ptr<expr::Scope>;

    // What every template is made from.
    struct Texts {
        NodePtr left, right, center, command;
        std::optional<std::string> target;
    };

    // The three forms: one index; every index; a range (either bound may
    // be absent). Bounds are fetched by the table and tell no binding.
    static std::shared_ptr<ClientDynamicTableCell> withIndex(Texts texts, std::shared_ptr<Client> client, NodePtr index,
                                                             std::string indexVar);
    static std::shared_ptr<ClientDynamicTableCell> forAll(Texts texts, std::shared_ptr<Client> client,
                                                          std::string indexVar);
    static std::shared_ptr<ClientDynamicTableCell> withRange(Texts texts, std::shared_ptr<Client> client,
                                                             NodePtr start, NodePtr end, std::string indexVar);

    ClientDynamicTableCell(const ClientDynamicTableCell&) = delete;
    ClientDynamicTableCell& operator=(const ClientDynamicTableCell&) = delete;

    void setTag(int tag);
    int tag() const { return tag_; }
    // "dynamicTableCell%d" with the tag: the reuse identifier of its cells.
    const std::string& cellIdentifier() const { return cellIdentifier_; }

    void setConfirm(NodePtr confirm) { confirm_ = std::move(confirm); }
    const NodePtr& confirm() const { return confirm_; }
    // Whether a command waits for "Yes". A confirmation whose value has not
    // arrived yet counts as asked for: an unconfirmed command is the worse
    // mistake.
    bool shouldConfirm() const;
    bool hasCommand() const { return command_ != nullptr; }
    const std::optional<std::string>& target() const { return target_; }
    const std::string& indexVar() const { return indexVar_; }
    bool editing() const { return editing_; }
    void setEditing(bool editing) { editing_ = editing; }

    bool rangeContains(int index) const;
    // Over the indexes 0 … rows - 1 at once: whether some index is covered;
    // the same counting a bound that is not constant as covering anything;
    // whether every index is covered.
    bool coversSomeIndexBelow(int rows) const;
    bool couldCoverSomeIndexBelow(int rows) const;
    bool coversEveryIndexBelow(int rows) const;
    bool isConst() const;
    // The index, start and end: requests queued for the next batch.
    int queueRangeRequests();
    bool invalidateRange();
    int queueVariableRequestsForIndex(int index);
    bool invalidateElementsForIndex(int index);

    // The row's texts: nothing when the template has no such text or the
    // row's environment does not exist yet.
    std::optional<std::string> leftText(int index) const;
    std::optional<std::string> rightText(int index) const;
    std::optional<std::string> centerText(int index) const;

    // The scopes row `index` shows its texts in (the center text's, or
    // the left's and the right's), each evaluating its text for the row;
    // only those made already: none for a row never shown.
    std::vector<EnvPtr> rowScopes(int index) const;

    // A cell for row `index`: one of the table's reusable cells if it has
    // one, else a new one, filled with the row's texts.
    DynamicRowCell* cellForIndex(int index, GroupedTableView& table);

    // Sends the command for row `index` once its values are in.
    void executeCommandForIndex(int index);
    // The done key in row `index`'s text field with `typed`.
    void textFieldShouldReturn(int index, const std::string& typed);

    std::string description() const;

private:
    enum class Text { Left, Right, Center };

    ClientDynamicTableCell(Texts texts, std::shared_ptr<Client> client, std::string indexVar);
    EnvPtr environment(Text which, int index);
    const EnvPtr* existing(Text which, int index) const;
    std::optional<std::string> text(Text which, int index) const;
    std::unordered_map<int, EnvPtr>& dictionary(Text which);
    const NodePtr& expression(Text which) const;
    void fill(DynamicRowCell& cell, int index);

    std::shared_ptr<Client> remoteClient_;
    NodePtr leftText_, rightText_, centerText_;
    NodePtr command_;
    std::optional<std::string> target_;
    std::string indexVar_;
    NodePtr indexStart_, indexEnd_, index_;
    NodePtr confirm_;
    std::unordered_map<int, EnvPtr> leftDict_, rightDict_, centerDict_;
    std::string cellIdentifier_;
    int tag_ = 0;
    bool editing_ = false;
};

} // namespace fieldmon
