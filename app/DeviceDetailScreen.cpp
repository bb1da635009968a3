#include "app/DeviceDetailScreen.h"

#include "app/DetailCells.h"
#include "device/Client.h"
#include "discovery/ClientFinder.h"
#include "events/EventLog.h"
#include "platform/Check.h"
#include "platform/Diagnostics.h"
#include "platform/MainLoop.h"
#include "session/DeviceSession.h"
#include "uidesc/ParseErrorAlert.h"
#include "widgets/ActivitySpinner.h"
#include "widgets/NavigationStack.h"
#include "widgets/ToggleSwitch.h"

#include <cmath>
#include <cstring>

namespace fieldmon {

namespace {

template <class Cell, class... Args>
Cell* reuse(GroupedTableView& table, const QString& identifier, Args&&... args)
{
    if (auto* cell = dynamic_cast<Cell*>(table.dequeueReusableCell(identifier)))
        return cell;
    return new Cell(std::forward<Args>(args)...);
}

} // namespace

DeviceDetailScreen::DeviceDetailScreen(platform::MainLoop& loop, platform::NotificationCenter& notifications,
                                       QWidget* parent)
    : Screen(parent), loop_(loop), notifications_(notifications), tableView_(new GroupedTableView(this))
{
    tableView_->setSource(this);
    setTitle(QStringLiteral("Device"));
    found_ = notifications_.subscribe(ClientFinder::kFoundNewClient, [this](const platform::Notification&) {
        FM_CHECK(loop_.isMainThread(), "the finder posts ListeningFoundNewClient on the main thread");
        reloads_.request();
    });
    linkTimer_.setInterval(1000);
    connect(&linkTimer_, &QTimer::timeout, this, &DeviceDetailScreen::refreshLink);
    linkTimer_.start();
}

void DeviceDetailScreen::refreshLink()
{
    if (!device_ || !isVisible())
        return;
    const int section = linkSection();
    for (int row = 0; row < kLinkRows; ++row)
        if (auto* cell = dynamic_cast<InfoCell*>(tableView_->cellForRow({section, row})))
            cell->setValue(linkText(static_cast<LinkRow>(row)));
}

int DeviceDetailScreen::linkSection() const
{
    return device_ && !device_->rivalAddress().empty() ? 2 : 1;
}

int DeviceDetailScreen::numberOfRows(GroupedTableView&, int section)
{
    if (section == 0)
        return kRows;
    return section == linkSection() ? kLinkRows : 1;
}

QString DeviceDetailScreen::linkText(LinkRow row) const
{
    if (!device_)
        return {};
    const LinkHealth::Figures f = device_->linkHealth().figures(loop_.now());
    const QString none = QStringLiteral("–");
    auto ms = [](double s) { return QString::number(std::lround(s * 1000)); };
    switch (row) {
    case RoundTripRow:
        // The median, then the 95th percentile, of the last minute.
        return f.rttMedian ? QStringLiteral("%1 / %2 ms").arg(ms(*f.rttMedian), ms(*f.rttP95)) : none;
    case LossRow: return f.loss ? QStringLiteral("%1 %").arg(std::lround(*f.loss * 100)) : none;
    case LastHeardRow:
        return f.sinceLast ? QStringLiteral("%1 s ago").arg(*f.sinceLast, 0, 'f', *f.sinceLast < 10 ? 1 : 0) : none;
    case kLinkRows: break;
    }
    return none;
}

DeviceDetailScreen::~DeviceDetailScreen()
{
    stopObserving();
    tableView_->setSource(nullptr);
}

void DeviceDetailScreen::stopObserving()
{
    found_.reset();
    session_.reset();
}

void DeviceDetailScreen::reloadData()
{
    tableView_->reloadData();
}

void DeviceDetailScreen::setDevice(std::shared_ptr<Client> record)
{
    if (record == device_.record())
        return;
    session_.reset();
    if (activityView_ && activityView_->isAnimating()) {
        activityView_->stopAnimating();
        setActivity(false);
    }
    device_ = ShownLease(std::move(record));
}

void DeviceDetailScreen::forgetDevice()
{
    setDevice(nullptr);
    description_.reset();
}

void DeviceDetailScreen::resizeEvent(QResizeEvent*)
{
    tableView_->setGeometry(rect());
}

void DeviceDetailScreen::viewWillAppear(bool)
{
    if (device_)
        device_->sendString("E");
    tableView_->reloadData();
    tableView_->viewport()->update();
}

void DeviceDetailScreen::hitBack()
{
    diag("Hit back button\n");
}

int DeviceDetailScreen::numberOfSections(GroupedTableView&)
{
    return device_ ? linkSection() + 1 : 1;
}

QString DeviceDetailScreen::titleForHeader(GroupedTableView&, int section)
{
    if (!device_)
        return {};
    if (section == linkSection())
        return QStringLiteral("Link");
    if (section == 1)
        return QStringLiteral("Two hosts claim serial %1").arg(device_->serialNumber());
    return device_->name().empty() ? QStringLiteral("Unnamed") : QString::fromStdString(device_->name());
}

TableCell* DeviceDetailScreen::cellForRow(GroupedTableView& table, IndexPath path)
{
    const Client* c = device_.record().get();
    auto info = [&](const QString& title, const QString& value) {
        auto* cell = reuse<InfoCell>(table, kInfoIdentifier);
        cell->set(title, c ? value : QString());
        return cell;
    };
    if (c && path.section == linkSection()) {
        static const QString titles[kLinkRows] = {QStringLiteral("Round trip"), QStringLiteral("Loss"),
                                                  QStringLiteral("Last heard")};
        if (path.row < 0 || path.row >= kLinkRows)
            return nullptr;
        return info(titles[path.row], linkText(static_cast<LinkRow>(path.row)));
    }
    if (path.section == 1)
        return info(QStringLiteral("Other host"), c ? QString::fromStdString(c->rivalAddress()) : QString());
    switch (static_cast<Row>(path.row)) {
    case PlatformRow:
        return info(QStringLiteral("Platform"), c ? QString::fromStdString(c->platform()) : QString());
    case TypeRow:
        return info(QStringLiteral("Type"),
                    c ? QStringLiteral("%1 v%2").arg(QString::fromStdString(c->type()), QString::number(c->version()))
                      : QString());
    case SerialRow:
        // A claimed serial says so where the eye falls; the other host is
        // named in the section below.
        return info(QStringLiteral("Serial Number"),
                    !c                            ? QString()
                    : c->rivalAddress().empty() ? QString::number(c->serialNumber())
                                                : QStringLiteral("%1 (two hosts)").arg(c->serialNumber()));
    case AddressRow:
        return info(QStringLiteral("IP Address"), c ? QString::fromStdString(c->dictionaryIPString()) : QString());
    case ServiceRow: {
        auto* cell = reuse<ToggleCell>(table, kToggleIdentifier);
        cell->title()->setText(QStringLiteral("Service Mode"));
        // The switch shows the device's reported mode each time the cell is
        // built; only the user's own flips send a command (clicked).
        cell->toggle()->setChecked(c && c->service());
        QObject::disconnect(cell->toggle(), &QAbstractButton::clicked, nullptr, nullptr);
        QObject::connect(cell->toggle(), &QAbstractButton::clicked, this, [this](bool on) { setServiceMode(on); });
        return cell;
    }
    case ConnectRow: {
        auto* cell = reuse<ButtonCell>(table, kSpinIdentifier, kSpinIdentifier, true);
        cell->setText(QStringLiteral("Connect"));
        // A fetch in flight keeps its spinner turning across reloads.
        if (activityView_ && activityView_ != cell->spinner() && activityView_->isAnimating())
            cell->spinner()->startAnimating();
        activityView_ = cell->spinner();
        return cell;
    }
    case HostRequestRow: {
        auto* cell = reuse<ButtonCell>(table, kButtonIdentifier, kButtonIdentifier, false);
        cell->setText(QStringLiteral("Host Request"));
        return cell;
    }
    case EventLogRow: {
        auto* cell = reuse<ButtonCell>(table, kButtonIdentifier, kButtonIdentifier, false);
        cell->setText(QStringLiteral("Event Log"));
        return cell;
    }
    case kRows:
        break;
    }
    return nullptr;
}

void DeviceDetailScreen::didSelectRow(GroupedTableView& table, IndexPath path)
{
    if (path.section != 0) {
        table.deselectRow(path, false);
        return;
    }
    switch (static_cast<Row>(path.row)) {
    case HostRequestRow:
        if (device_)
            device_->sendString("chostreq\n");
        table.deselectRow(path, true);
        return;
    case EventLogRow: {
        auto* log = device_ ? new EventLog(device_.record()) : nullptr;
        table.deselectRow(path, true);
        if (log) {
            log->setAttribute(Qt::WA_DeleteOnClose);
            if (NavigationStack* stack = navigationStack())
                stack->push(log, false);
            else
                delete log;
        }
        return;
    }
    case ConnectRow:
        table.deselectRow(path, true);
        connectToDevice();
        return;
    case PlatformRow:
    case TypeRow:
    case SerialRow:
    case AddressRow:
    case ServiceRow:
    case kRows:
        table.deselectRow(path, false);
        return;
    }
}

void DeviceDetailScreen::setServiceMode(bool on)
{
    if (device_)
        device_->setServiceMode(on);
}

void DeviceDetailScreen::setActivity(bool on)
{
    if (networkActivity)
        networkActivity(on);
}

void DeviceDetailScreen::connectToDevice()
{
    if (!device_)
        return;
    setActivity(true);
    if (activityView_)
        activityView_->startAnimating();

    if (description_) {
        diag("Reusing XML\n");
        QPointer<DeviceDetailScreen> self(this);
        loop_.post([self, text = *description_] {
            if (self)
                self->parseXML(text);
        });
        return;
    }
    // A fetch already under way delivers to this screen when it ends.
    if (session_ && session_->fetching())
        return;
    // One session per device at a time: one whose pages are open stays.
    if (session_ && session_->isOpen())
        return;
    startSession()->fetchDescription([this](const platform::Bytes* bytes) { gotDescription(bytes); });
}

DeviceSession* DeviceDetailScreen::startSession()
{
    session_ = std::make_unique<DeviceSession>(device_.record());
    // Going back from the start page ends the session; it goes with it.
    session_->onEnded = [this] { session_.reset(); };
    if (sessionStarted)
        sessionStarted(*session_);
    return session_.get();
}

void DeviceDetailScreen::gotDescription(const platform::Bytes* bytes)
{
    // The transfer's result arrives on the main thread, so the description
    // is read here and now.
    diag("Got a file\n");
    if (!bytes) {
        // The transfer failed. Nothing is kept, so the next Connect tries
        // again; the reader is given no text and opens nothing.
        parseXML(std::nullopt);
        return;
    }
    // The description is text up to the first 0 byte, if the file has one.
    const auto* data = reinterpret_cast<const char*>(bytes->data());
    std::size_t length = bytes->empty() ? 0 : strnlen(data, bytes->size());
    description_ = std::string(data, length);
    parseXML(*description_);
}

void DeviceDetailScreen::parseXML(const std::optional<std::string>& text)
{
    NavigationStack* stack = navigationStack();
    if (text && device_) {
        if (stack)
            stack->setNavigationBarHidden(false);
        diag("Got file '%s'\n", text->c_str());
        // A second reading of the kept text while the first one's pages are
        // still open opens nothing more.
        if (!session_ || !session_->isOpen()) {
            DeviceSession* session = session_ && !session_->hasRead() ? session_.get() : startSession();
            if (session->read(*text) && stack)
                session->open(*stack, true);
            else
                session_.reset();
        }
    } else {
        xmlTransferFailed();
    }
    setActivity(false);
    if (activityView_)
        activityView_->stopAnimating();
}

// There is no description to read: the user gets the alert a description
// that cannot be read gets, saying why.
void DeviceDetailScreen::xmlTransferFailed()
{
    if (!device_)
        return;
    showParseErrorAlert(device_->alerts(), "Could not fetch ui.xml from " + device_->dictionaryIPString());
}

} // namespace fieldmon
