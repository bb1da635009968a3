#include "pages/ClientDynamicTable.h"

#include "device/Client.h"
#include "expr/Node.h"
#include "expr/Scope.h"
#include "pages/ClientDynamicTableCell.h"
#include "pages/DynamicRowCell.h"
#include "pages/DynamicTableSections.h"
#include "elements/RemoteView.h"
#include "platform/Diagnostics.h"
#include "widgets/TextField.h"
#include "widgets/PhoneStyle.h"

#include <QJsonArray>
#include <QTimer>

namespace fieldmon {

std::shared_ptr<ClientDynamicTable> ClientDynamicTable::create(std::shared_ptr<Client> client, NodePtr cellCount,
                                                               std::string indexVar, std::string refresh)
{
    return std::shared_ptr<ClientDynamicTable>(
        new ClientDynamicTable(std::move(client), std::move(cellCount), std::move(indexVar), std::move(refresh)));
}

ClientDynamicTable::ClientDynamicTable(std::shared_ptr<Client> client, NodePtr cellCount, std::string indexVar,
                                       std::string refresh)
    : sections_(std::make_shared<DynamicTableSections>(client, std::move(cellCount))),
      indexVar_(std::move(indexVar)),
      refresh_(std::move(refresh)),
      tableView_(new GroupedTableView(this))
{
    setClient(client);
    // Values kept in the device's own environment are made without the
    // device: the record holding a node that holds the record is a cycle.
    if (client)
        client->expressions().environment()->setVariable(indexVar_, expr::Node::error(nullptr));
    tableView_->setLazyRows(true);
    tableView_->setSource(this);
    tableView_->setGeometry(rect());
}

ClientDynamicTable::~ClientDynamicTable()
{
    closeConfirmation();
    tableView_->setSource(nullptr);
}

void ClientDynamicTable::newSection(NodePtr title, NodePtr count)
{
    sections_->newSection(std::move(title), std::move(count));
}

void ClientDynamicTable::addCell(Template cell)
{
    sections_->addCell(std::move(cell));
}

void ClientDynamicTable::resizeEvent(QResizeEvent*)
{
    tableView_->setGeometry(rect());
}

// --- Reloading ----------------------------------------------------------------------

void ClientDynamicTable::reloadData()
{
    // Not shown yet: the list is filled when the page first appears. The
    // user typing in a row or answering a confirmation: after that.
    if (!loaded_ || editing() || confirmation_) {
        reloadPending_ = true;
        return;
    }
    reloadPending_ = false;
    tableView_->reloadData();
    if (realName() && (realName()->isConst() || realName()->valuesPresent()))
        updateTitle();
}

bool ClientDynamicTable::editing() const
{
    auto* field = qobject_cast<TextField*>(window()->focusWidget());
    return field && field->isEditing() && tableView_->isAncestorOf(field);
}

void ClientDynamicTable::reloadIfWaiting()
{
    if (!reloadPending_)
        return;
    // Not from inside the field's or the alert's own signal.
    QTimer::singleShot(0, this, [this] {
        if (reloadPending_)
            reloadData();
    });
}

// --- Appearance ---------------------------------------------------------------------

void ClientDynamicTable::viewWillAppear(bool)
{
    if (!loaded_) {
        loaded_ = true;
        // Widgets over the list, the first one's view on top.
        linkWidgets(this);
        tableView_->lower();
        reloadData();
    } else if (reloadPending_) {
        reloadData();
    }
}

void ClientDynamicTable::viewDidAppear(bool)
{
    visible_ = true;
    bindPageLoadOnce();
    bindTitleOnce();
    if (onPageLoad() && remoteClient())
        remoteClient()->variables().requests().submitRequests();
}

void ClientDynamicTable::viewWillDisappear(bool animated)
{
    DevicePage::viewWillDisappear(animated);
    // What was open on this page is not answered for a page the user left.
    closeConfirmation();
    if (auto* field = qobject_cast<TextField*>(window()->focusWidget()); field && isAncestorOf(field))
        field->endEditing();
}

// --- The list -------------------------------------------------------------------------

int ClientDynamicTable::numberOfSections(GroupedTableView&)
{
    rows_ = sections_->rowCounts();
    return sections_->numberOfSections();
}

QString ClientDynamicTable::titleForHeader(GroupedTableView&, int section)
{
    return phone::deviceLine(sections_->title(section));
}

int ClientDynamicTable::numberOfRows(GroupedTableView&, int section)
{
    return section >= 0 && section < static_cast<int>(rows_.size()) ? rows_[static_cast<std::size_t>(section)] : 0;
}

std::vector<std::shared_ptr<expr::Scope>> ClientDynamicTable::rowScopes(IndexPath path) const
{
    if (Template t = sections_->templateFor(path.section, path.row))
        return t->rowScopes(path.row);
    return {};
}

TableCell* ClientDynamicTable::cellForRow(GroupedTableView& table, IndexPath path)
{
    if (Template t = sections_->templateFor(path.section, path.row))
        return t->cellForIndex(path.row, table);
    diag("ERROR: No cells in range\n");
    const QString empty = QStringLiteral("EMPTYCELL");
    auto* cell = qobject_cast<DynamicRowCell*>(table.dequeueReusableCell(empty));
    if (!cell) {
        cell = new DynamicRowCell(empty, DynamicRowCell::Kind::Empty);
        cell->setSelectionStyle(TableCell::SelectionStyle::None);
    }
    return cell;
}

void ClientDynamicTable::didSelectRow(GroupedTableView& table, IndexPath path)
{
    Template t = sections_->templateFor(path.section, path.row);
    if (t && t->target()) {
        const std::string& target = *t->target();
        // The row's number is set before the page is pushed: the push runs
        // the page's appearance (title, load command), which may read it.
        const bool known = dynamicPages() && dynamicPages()->count(target);
        if (known && remoteClient())
            remoteClient()->expressions().environment()->setVariable(indexVar_, expr::Node::integer(nullptr, path.row));
        pushPageWithTitle(target);
    } else {
        if (t && t->hasCommand()) {
            if (t->shouldConfirm()) {
                QString title;
                if (auto* cell = qobject_cast<DynamicRowCell*>(table.cellForRow(path)))
                    title = cell->kind() == DynamicRowCell::Kind::LeftRight ? cell->leftLabel()->text() : cell->text();
                confirm(t, path.row, title);
            } else {
                t->executeCommandForIndex(path.row);
            }
        }
        diag("Warning, found no target.\n");
    }
    table.deselectRow(path, true);
}

// --- Confirmation -------------------------------------------------------------------

void ClientDynamicTable::confirm(const Template& cell, int row, const QString& title)
{
    if (!remoteClient())
        return;
    // One question at a time: a new one replaces one still open, whose
    // answer would no longer be about the row the user chose last.
    closeConfirmation();
    std::weak_ptr<DevicePage> self = weak_from_this();
    platform::AlertContent alert;
    alert.title = title.toStdString();
    alert.message = "Are you sure?";
    alert.buttons = {"No", "Yes"};
    alert.onButton = [self, cell, row](int button) {
        if (auto page = std::static_pointer_cast<ClientDynamicTable>(self.lock()))
            page->alertClicked(button, cell, row);
    };
    confirmation_ = remoteClient()->alerts().show(std::move(alert));
}

void ClientDynamicTable::alertClicked(int button, const Template& cell, int row)
{
    confirmation_ = 0;
    if (button == 1)
        cell->executeCommandForIndex(row);
    reloadIfWaiting();
}

void ClientDynamicTable::closeConfirmation()
{
    if (!confirmation_)
        return;
    const platform::Alerts::AlertId id = confirmation_;
    confirmation_ = 0;
    if (remoteClient())
        remoteClient()->alerts().dismiss(id, 0, false);
}

} // namespace fieldmon
