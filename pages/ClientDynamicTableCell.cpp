#include "pages/ClientDynamicTableCell.h"

#include "device/Client.h"
#include "expr/Node.h"
#include "expr/Scope.h"
#include "uidesc/Commands.h"
#include "pages/DynamicRowCell.h"
#include "platform/Diagnostics.h"
#include "widgets/GroupedTableView.h"
#include "widgets/TextField.h"
#include "widgets/PhoneStyle.h"

#include <algorithm>
#include <cstdio>

namespace fieldmon {

namespace {

bool absentOrConst(const ClientDynamicTableCell::NodePtr& e)
{
    return !e || e->isConst();
}

void markBound(const ClientDynamicTableCell::NodePtr& e)
{
    if (e)
        e->dontRequeue();
}

} // namespace

ClientDynamicTableCell::ClientDynamicTableCell(Texts texts, std::shared_ptr<Client> client, std::string indexVar)
    : remoteClient_(std::move(client)),
      leftText_(std::move(texts.left)),
      rightText_(std::move(texts.right)),
      centerText_(std::move(texts.center)),
      command_(std::move(texts.command)),
      target_(std::move(texts.target)),
      indexVar_(std::move(indexVar))
{
}

std::shared_ptr<ClientDynamicTableCell> ClientDynamicTableCell::withIndex(Texts texts, std::shared_ptr<Client> client,
                                                                          NodePtr index, std::string indexVar)
{
    std::shared_ptr<ClientDynamicTableCell> t(
        new ClientDynamicTableCell(std::move(texts), std::move(client), std::move(indexVar)));
    t->index_ = std::move(index);
    markBound(t->index_);
    return t;
}

std::shared_ptr<ClientDynamicTableCell> ClientDynamicTableCell::forAll(Texts texts, std::shared_ptr<Client> client,
                                                                       std::string indexVar)
{
    return std::shared_ptr<ClientDynamicTableCell>(
        new ClientDynamicTableCell(std::move(texts), std::move(client), std::move(indexVar)));
}

std::shared_ptr<ClientDynamicTableCell> ClientDynamicTableCell::withRange(Texts texts, std::shared_ptr<Client> client,
                                                                          NodePtr start, NodePtr end,
                                                                          std::string indexVar)
{
    std::shared_ptr<ClientDynamicTableCell> t(
        new ClientDynamicTableCell(std::move(texts), std::move(client), std::move(indexVar)));
    t->indexStart_ = std::move(start);
    t->indexEnd_ = std::move(end);
    markBound(t->indexStart_);
    markBound(t->indexEnd_);
    return t;
}

void ClientDynamicTableCell::setTag(int tag)
{
    tag_ = tag;
    cellIdentifier_ = "dynamicTableCell" + std::to_string(tag);
}

bool ClientDynamicTableCell::shouldConfirm() const
{
    if (!confirm_)
        return false;
    if (!confirm_->isConst() && !confirm_->valuesPresent())
        return true;
    return confirm_->intValue() != 0;
}

bool ClientDynamicTableCell::rangeContains(int index) const
{
    if (index_)
        return index == index_->intValue();
    if (indexStart_ && index < indexStart_->intValue())
        return false;
    if (indexEnd_ && index > indexEnd_->intValue())
        return false;
    return true;
}

bool ClientDynamicTableCell::coversSomeIndexBelow(int rows) const
{
    if (rows <= 0)
        return false;
    if (index_) {
        const int i = index_->intValue();
        return i >= 0 && i < rows;
    }
    const long long low = indexStart_ ? std::max(0, indexStart_->intValue()) : 0;
    const long long high = indexEnd_ ? std::min(rows - 1, indexEnd_->intValue()) : rows - 1;
    return low <= high;
}

bool ClientDynamicTableCell::couldCoverSomeIndexBelow(int rows) const
{
    if (rows <= 0)
        return false;
    if ((index_ && !index_->isConst()) || (indexStart_ && !indexStart_->isConst()) || (indexEnd_ && !indexEnd_->isConst()))
        return true;
    return coversSomeIndexBelow(rows);
}

bool ClientDynamicTableCell::coversEveryIndexBelow(int rows) const
{
    if (rows <= 0)
        return true;
    if (index_)
        return rows == 1 && index_->intValue() == 0;
    return (!indexStart_ || indexStart_->intValue() <= 0) && (!indexEnd_ || indexEnd_->intValue() >= rows - 1);
}

bool ClientDynamicTableCell::isConst() const
{
    if (!absentOrConst(leftText_) || !absentOrConst(rightText_) || !absentOrConst(centerText_))
        return false;
    if (index_)
        return index_->isConst();
    return absentOrConst(indexStart_) && absentOrConst(indexEnd_);
}

int ClientDynamicTableCell::queueRangeRequests()
{
    int n = 0;
    for (const NodePtr* bound : {&index_, &indexStart_, &indexEnd_})
        if (*bound)
            n += (*bound)->queueVariableRequests();
    return n;
}

bool ClientDynamicTableCell::invalidateRange()
{
    bool any = false;
    for (const NodePtr* bound : {&index_, &indexStart_, &indexEnd_})
        if (*bound && !(*bound)->isConst())
            any = (*bound)->invalidateRemoteVariableValues() || any;
    return any;
}

const ClientDynamicTableCell::NodePtr& ClientDynamicTableCell::expression(Text which) const
{
    switch (which) {
    case Text::Left: return leftText_;
    case Text::Right: return rightText_;
    case Text::Center: return centerText_;
    }
    return centerText_;
}

std::unordered_map<int, ClientDynamicTableCell::EnvPtr>& ClientDynamicTableCell::dictionary(Text which)
{
    switch (which) {
    case Text::Left: return leftDict_;
    case Text::Right: return rightDict_;
    case Text::Center: return centerDict_;
    }
    return centerDict_;
}

const ClientDynamicTableCell::EnvPtr* ClientDynamicTableCell::existing(Text which, int index) const
{
    const auto& dict = const_cast<ClientDynamicTableCell*>(this)->dictionary(which);
    auto it = dict.find(index);
    return it == dict.end() ? nullptr : &it->second;
}

ClientDynamicTableCell::EnvPtr ClientDynamicTableCell::environment(Text which, int index)
{
    auto& dict = dictionary(which);
    auto it = dict.find(index);
    if (it != dict.end())
        return it->second;
    // The row's own scope: the index variable is the row's number. It never
    // tells a binding by itself; the table that loads the row does.
    EnvPtr env = commands::withParameter(remoteClient_, expression(which), indexVar_, index);
    env->dontRequeue();
    dict.emplace(index, env);
    return env;
}

int ClientDynamicTableCell::queueVariableRequestsForIndex(int index)
{
    if (centerText_)
        return environment(Text::Center, index)->queueVariableRequests();
    int n = 0;
    if (leftText_)
        n += environment(Text::Left, index)->queueVariableRequests();
    if (rightText_)
        n += environment(Text::Right, index)->queueVariableRequests();
    return n;
}

bool ClientDynamicTableCell::invalidateElementsForIndex(int index)
{
    if (centerText_)
        return environment(Text::Center, index)->invalidateRemoteVariableValues();
    bool any = false;
    if (leftText_)
        any = environment(Text::Left, index)->invalidateRemoteVariableValues() || any;
    if (rightText_)
        any = environment(Text::Right, index)->invalidateRemoteVariableValues() || any;
    return any;
}

std::optional<std::string> ClientDynamicTableCell::text(Text which, int index) const
{
    if (!expression(which))
        return std::nullopt;
    const EnvPtr* env = existing(which, index);
    if (!env)
        return std::nullopt;
    return (*env)->stringValue();
}

std::vector<ClientDynamicTableCell::EnvPtr> ClientDynamicTableCell::rowScopes(int index) const
{
    std::vector<EnvPtr> out;
    for (Text which : {Text::Center, Text::Left, Text::Right}) {
        if (which != Text::Center && centerText_)
            break; // a center text is the whole row
        if (!expression(which))
            continue;
        if (const EnvPtr* env = existing(which, index))
            out.push_back(*env);
    }
    return out;
}

std::optional<std::string> ClientDynamicTableCell::leftText(int index) const
{
    return text(Text::Left, index);
}

std::optional<std::string> ClientDynamicTableCell::rightText(int index) const
{
    return text(Text::Right, index);
}

std::optional<std::string> ClientDynamicTableCell::centerText(int index) const
{
    return text(Text::Center, index);
}

DynamicRowCell* ClientDynamicTableCell::cellForIndex(int index, GroupedTableView& table)
{
    const QString identifier = QString::fromStdString(cellIdentifier_);
    auto* cell = qobject_cast<DynamicRowCell*>(table.dequeueReusableCell(identifier));
    if (!cell) {
        const bool center = centerText_ != nullptr;
        cell = new DynamicRowCell(identifier, center ? DynamicRowCell::Kind::Center : DynamicRowCell::Kind::LeftRight);
        cell->setAccessory(target_ ? TableCell::Accessory::DisclosureIndicator : TableCell::Accessory::None);
        // A left/right row without a target is not highlighted when touched.
        cell->setSelectionStyle(center || target_ ? TableCell::SelectionStyle::Blue : TableCell::SelectionStyle::None);
        cell->setTarget(target_ ? QString::fromStdString(*target_) : QString());
        cell->setActs(target_ || command_);
        cell->setEditable(command_ != nullptr);
        std::weak_ptr<ClientDynamicTableCell> self = weak_from_this();
        QObject::connect(cell, &DynamicRowCell::fieldReturned, cell, [self, cell](const QString& typed) {
            // The field's own row, whichever row the template last served.
            const int row = cell->row();
            const std::string text = typed.toStdString();
            cell->field()->endEditing();
            if (auto t = self.lock())
                t->textFieldShouldReturn(row, text);
        });
        QObject::connect(cell, &DynamicRowCell::editingChanged, cell, [self](bool editing) {
            if (auto t = self.lock())
                t->setEditing(editing);
        });
    }
    fill(*cell, index);
    return cell;
}

void ClientDynamicTableCell::fill(DynamicRowCell& cell, int index)
{
    cell.setRow(index);
    if (cell.kind() == DynamicRowCell::Kind::Center) {
        if (auto text = centerText(index)) {
            cell.setText(phone::deviceLine(*text));
        } else if (isConst()) {
            cell.setText(phone::deviceLine(centerText_->stringValue()));
        } else {
            // Shown before its row was loaded: a new cell stays empty, a
            // reused one keeps what it showed.
            diag("ERROR: Dictionary doesn't have a value for this cell index and we aren't constant, but we are "
                        "being called\n");
        }
        return;
    }
    if (auto text = leftText(index))
        cell.setLeftText(phone::deviceLine(*text));
    if (auto text = rightText(index))
        cell.setRightText(phone::deviceLine(*text));
}

void ClientDynamicTableCell::executeCommandForIndex(int index)
{
    if (!command_ || !remoteClient_)
        return;
    auto command = commands::withParameter(remoteClient_, command_, indexVar_, index);
    std::weak_ptr<Client> client = remoteClient_;
    commands::whenValuesAreIn(*remoteClient_, command, [client, command] {
        auto c = client.lock();
        if (!c)
            return;
        if (auto line = commands::line(command->eval(), {}, "a table row"))
            c->sendString(*line);
    });
}

void ClientDynamicTableCell::textFieldShouldReturn(int index, const std::string& typed)
{
    setEditing(false);
    if (!command_ || !remoteClient_)
        return;
    // Evaluated for the row whose field was edited, not for whichever row
    // the template served or was chosen last.
    auto command = commands::withParameter(remoteClient_, command_, indexVar_, index);
    std::weak_ptr<Client> client = remoteClient_;
    commands::whenValuesAreIn(*remoteClient_, command, [client, command, typed] {
        auto c = client.lock();
        if (!c)
            return;
        if (auto line = commands::line(command->eval(), " " + typed, "a table row's text field"))
            c->sendString(*line);
    });
}

std::string ClientDynamicTableCell::description() const
{
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    return std::string("<ClientDynamicTableCell: ") + address + " left=" + (leftText_ ? leftText_->string() : "(null)") +
           " right=" + (rightText_ ? rightText_->string() : "(null)") + ">";
}

} // namespace fieldmon
