#include "app/TableViewController.h"

#include "app/ClientDetailView.h"
#include "device/Client.h"
#include "discovery/ClientFinder.h"
#include "platform/MainLoop.h"
#include "widgets/NavigationStack.h"
#include "widgets/PhoneStyle.h"

#include <cstdio>

namespace fieldmon {

namespace {
const QString kCellIdentifier = QStringLiteral("ClientListIdentifier");
}

TableViewController::TableViewController(platform::MainLoop& loop, platform::NotificationCenter& notifications,
                                         QWidget* parent)
    : Screen(parent), loop_(loop), tableView_(new GroupedTableView(this))
{
    tableView_->setSource(this);
    found_ = notifications.subscribe(ClientFinder::kFoundNewClient,
                                     [this](const platform::Notification&) { catchCenterMessage(); });
    std::printf("Starting up the table view\n");
}

TableViewController::~TableViewController()
{
    stopObserving();
    tableView_->setSource(nullptr);
}

void TableViewController::stopObserving()
{
    stop_.request_stop();
    found_.reset();
}

void TableViewController::catchCenterMessage()
{
    loop_.postAndWait([this] { reloadData(); }, stop_.get_token());
}

void TableViewController::reloadData()
{
    tableView_->reloadData();
}

void TableViewController::resizeEvent(QResizeEvent*)
{
    tableView_->setGeometry(rect());
}

void TableViewController::viewWillAppear(bool)
{
    std::printf("View will appear\n");
    tableView_->reloadData();
    if (auto sel = tableView_->selectedRow())
        tableView_->deselectRow(*sel, false);
    // The next selection starts fresh: no device, no stored description.
    if (clientDetailVC_) {
        clientDetailVC_->setRemoteClient(nullptr);
        clientDetailVC_->setXmlfile(std::nullopt);
    }
}

QString TableViewController::rowText(const Client& client)
{
    QString name = client.name().empty() ? QStringLiteral("Unnamed") : QString::fromStdString(client.name());
    return QStringLiteral("%1 (%2)").arg(name).arg(client.serialNumber());
}

int TableViewController::numberOfSections(GroupedTableView&)
{
    if (!remoteClients_)
        return 1;
    remoteClients_->lockTypeDictionary();
    int n = static_cast<int>(remoteClients_->clientTypeDictionary().size());
    remoteClients_->unlockTypeDictionary();
    return n == 0 ? 1 : n;
}

QString TableViewController::titleForHeader(GroupedTableView&, int section)
{
    if (!remoteClients_)
        return QStringLiteral("No clients found");
    QString title;
    remoteClients_->lockTypeDictionary();
    if (remoteClients_->clientTypeDictionary().empty()) {
        title = QStringLiteral("No clients found");
    } else {
        remoteClients_->lockTypeArray();
        const auto& keys = remoteClients_->clientTypeArray();
        if (section >= 0 && static_cast<std::size_t>(section) < keys.size())
            title = QString::fromStdString(keys[static_cast<std::size_t>(section)]);
        else
            title = QStringLiteral("Failure");
        remoteClients_->unlockTypeArray();
    }
    remoteClients_->unlockTypeDictionary();
    return title;
}

int TableViewController::numberOfRows(GroupedTableView&, int section)
{
    if (!remoteClients_)
        return 0;
    int rows = 0;
    remoteClients_->lockTypeDictionary();
    const auto& dict = remoteClients_->clientTypeDictionary();
    if (!dict.empty()) {
        remoteClients_->lockTypeArray();
        const auto& keys = remoteClients_->clientTypeArray();
        if (section >= 0 && static_cast<std::size_t>(section) < keys.size()) {
            auto it = dict.find(keys[static_cast<std::size_t>(section)]);
            if (it != dict.end())
                rows = static_cast<int>(it->second.size());
        }
        remoteClients_->unlockTypeArray();
    }
    remoteClients_->unlockTypeDictionary();
    return rows;
}

std::shared_ptr<Client> TableViewController::clientAt(IndexPath path)
{
    if (!remoteClients_)
        return nullptr;
    std::shared_ptr<Client> client;
    remoteClients_->lockTypeDictionary();
    remoteClients_->lockTypeArray();
    const auto& keys = remoteClients_->clientTypeArray();
    const auto& dict = remoteClients_->clientTypeDictionary();
    if (path.section >= 0 && static_cast<std::size_t>(path.section) < keys.size()) {
        auto it = dict.find(keys[static_cast<std::size_t>(path.section)]);
        if (it != dict.end() && path.row >= 0 && static_cast<std::size_t>(path.row) < it->second.size())
            client = it->second[static_cast<std::size_t>(path.row)];
    }
    remoteClients_->unlockTypeArray();
    remoteClients_->unlockTypeDictionary();
    return client;
}

TableCell* TableViewController::cellForRow(GroupedTableView& table, IndexPath path)
{
    TableCell* cell = table.dequeueReusableCell(kCellIdentifier);
    if (!cell) {
        cell = new TableCell(kCellIdentifier);
        cell->setAccessory(TableCell::Accessory::DisclosureIndicator);
    }
    // clientAt() reads the registry under its locks and hands back a reference
    // that keeps the record alive; its name and serial number change only on
    // the main thread, where this runs, so the text is formatted unlocked.
    QString text;
    if (std::shared_ptr<Client> client = clientAt(path))
        text = rowText(*client);
    cell->setText(text);
    return cell;
}

void TableViewController::didSelectRow(GroupedTableView& table, IndexPath path)
{
    std::shared_ptr<Client> client = clientAt(path);
    if (client && clientDetailVC_) {
        clientDetailVC_->setRemoteClient(client);
        clientDetailVC_->reloadData();
        if (NavigationStack* stack = navigationStack())
            stack->push(clientDetailVC_, true);
    }
    table.deselectRow(path, true);
}

} // namespace fieldmon
