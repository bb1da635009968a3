#include "app/DeviceDetailScreen.h"

#include "device/Client.h"
#include "discovery/ClientFinder.h"
#include "events/EventLog.h"
#include "platform/Diagnostics.h"
#include "platform/MainLoop.h"
#include "uidesc/ParseErrorAlert.h"
#include "uidesc/XMLReader.h"
#include "widgets/ActivitySpinner.h"
#include "widgets/NavigationStack.h"
#include "widgets/PhoneStyle.h"
#include "widgets/ToggleSwitch.h"

#include <cstdio>
#include <cstring>

namespace fieldmon {

namespace {

const QString kInfoIdentifier = QStringLiteral("ClientDetailViewIdentifier");
const QString kToggleIdentifier = QStringLiteral("ClientDetailViewIdentifierToggle");
const QString kSpinIdentifier = QStringLiteral("ClientDetailViewIdentifierButtonSpin");
const QString kButtonIdentifier = QStringLiteral("ClientDetailViewIdentifierButton");
const char* const kDescriptionFile = "ui.xml";

QLabel* makeLabel(QWidget* parent, int tag, Qt::Alignment align, QColor colour)
{
    auto* label = new QLabel(parent);
    label->setFont(phone::systemFont(16));
    label->setAlignment(align | Qt::AlignVCenter);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
    TableCell::setTag(label, tag);
    return label;
}

// Rows 0 to 3: a title on the left and the value in blue on the right. The
// value may take what the title leaves; a value too long ends in "…".
class InfoCell : public TableCell {
public:
    InfoCell() : TableCell(kInfoIdentifier)
    {
        setSelectionStyle(SelectionStyle::None);
        title_ = makeLabel(this, DeviceDetailScreen::TitleTag, Qt::AlignLeft, Qt::black);
        value_ = makeLabel(this, DeviceDetailScreen::ValueTag, Qt::AlignRight, phone::valueBlue());
    }
    void set(const QString& title, const QString& value)
    {
        titleText_ = title;
        valueText_ = phone::singleLine(value);
        layout();
    }
    void inspect(QJsonObject& row) const override
    {
        TableCell::inspect(row);
        row.insert(QStringLiteral("text"), titleText_);
        row.insert(QStringLiteral("detail"), valueText_);
    }

protected:
    void resizeEvent(QResizeEvent* e) override
    {
        TableCell::resizeEvent(e);
        layout();
    }

private:
    void layout()
    {
        QRect r = contentRect();
        QFontMetrics fm(title_->font());
        int titleWidth = std::min(fm.horizontalAdvance(titleText_) + 2, r.width() / 2);
        title_->setGeometry(r.left(), r.top(), titleWidth, r.height());
        title_->setText(fm.elidedText(titleText_, Qt::ElideRight, titleWidth));
        int valueLeft = r.left() + titleWidth + 10;
        int valueWidth = std::max(0, r.right() + 1 - valueLeft);
        value_->setGeometry(valueLeft, r.top(), valueWidth, r.height());
        value_->setText(fm.elidedText(valueText_, Qt::ElideRight, valueWidth));
    }
    QLabel* title_;
    QLabel* value_;
    QString titleText_;
    QString valueText_;
};

// Row 4: the title and the service mode switch.
class ToggleCell : public TableCell {
public:
    ToggleCell() : TableCell(kToggleIdentifier)
    {
        setSelectionStyle(SelectionStyle::None);
        title_ = makeLabel(this, DeviceDetailScreen::TitleTag, Qt::AlignLeft, Qt::black);
        switch_ = new ToggleSwitch(this);
        TableCell::setTag(switch_, DeviceDetailScreen::SwitchTag);
    }
    QLabel* title() const { return title_; }
    ToggleSwitch* toggle() const { return switch_; }
    void inspect(QJsonObject& row) const override
    {
        TableCell::inspect(row);
        row.insert(QStringLiteral("text"), title_->text());
        row.insert(QStringLiteral("switch"), QJsonObject{{QStringLiteral("on"), switch_->isChecked()},
                                                         {QStringLiteral("frame"), Screen::pageFrame(switch_)}});
    }

protected:
    void resizeEvent(QResizeEvent* e) override
    {
        TableCell::resizeEvent(e);
        QRect r = contentRect();
        QSize s = switch_->size();
        switch_->move(r.right() + 1 - s.width(), (height() - s.height()) / 2);
        title_->setGeometry(r.left(), r.top(), std::max(0, switch_->x() - r.left() - 8), r.height());
    }

private:
    QLabel* title_;
    ToggleSwitch* switch_;
};

// Rows 5 to 7: a centred text; the Connect row also carries the spinner.
class ButtonCell : public TableCell {
public:
    explicit ButtonCell(const QString& identifier, bool withSpinner) : TableCell(identifier)
    {
        textLabel()->setAlignment(Qt::AlignCenter);
        if (withSpinner) {
            spinner_ = new ActivitySpinner(QColor(0x70, 0x70, 0x70), this);
            TableCell::setTag(spinner_, DeviceDetailScreen::SpinnerTag);
        }
    }
    ActivitySpinner* spinner() const { return spinner_; }
    void inspect(QJsonObject& row) const override
    {
        TableCell::inspect(row);
        if (spinner_)
            row.insert(QStringLiteral("busy"), spinner_->isAnimating());
    }

protected:
    void resizeEvent(QResizeEvent* e) override
    {
        TableCell::resizeEvent(e);
        if (spinner_) {
            QRect r = contentRect();
            spinner_->setGeometry(r.right() + 1 - 20, (height() - 20) / 2, 20, 20);
        }
    }

private:
    ActivitySpinner* spinner_ = nullptr;
};

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
    found_ = notifications_.subscribe(ClientFinder::kFoundNewClient,
                                      [this](const platform::Notification&) { catchCenterMessage(); });
}

DeviceDetailScreen::~DeviceDetailScreen()
{
    stopObserving();
    tableView_->setSource(nullptr);
}

void DeviceDetailScreen::stopObserving()
{
    stop_.request_stop();
    found_.reset();
    fetch_.reset();
}

void DeviceDetailScreen::catchCenterMessage()
{
    loop_.postAndWait([this] { reloads_.request(); }, stop_.get_token());
}

void DeviceDetailScreen::reloadData()
{
    tableView_->reloadData();
}

void DeviceDetailScreen::setRemoteClient(std::shared_ptr<Client> client)
{
    if (client != remoteClient_) {
        fetch_.reset();
        if (activityView_ && activityView_->isAnimating()) {
            activityView_->stopAnimating();
            setActivity(false);
        }
    }
    remoteClient_ = std::move(client);
}

void DeviceDetailScreen::resizeEvent(QResizeEvent*)
{
    tableView_->setGeometry(rect());
}

void DeviceDetailScreen::viewWillAppear(bool)
{
    if (remoteClient_)
        remoteClient_->sendString("E");
    tableView_->reloadData();
    tableView_->viewport()->update();
}

void DeviceDetailScreen::hitBack()
{
    diag("Hit back button\n");
}

int DeviceDetailScreen::numberOfSections(GroupedTableView&)
{
    return remoteClient_ && !remoteClient_->rivalAddress().empty() ? 2 : 1;
}

QString DeviceDetailScreen::titleForHeader(GroupedTableView&, int section)
{
    if (!remoteClient_)
        return {};
    if (section == 1)
        return QStringLiteral("Two hosts claim serial %1").arg(remoteClient_->serialNumber());
    return remoteClient_->name().empty() ? QStringLiteral("Unnamed") : QString::fromStdString(remoteClient_->name());
}

TableCell* DeviceDetailScreen::cellForRow(GroupedTableView& table, IndexPath path)
{
    const Client* c = remoteClient_.get();
    auto info = [&](const QString& title, const QString& value) {
        auto* cell = reuse<InfoCell>(table, kInfoIdentifier);
        cell->set(title, c ? value : QString());
        return cell;
    };
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
        if (remoteClient_)
            remoteClient_->sendString("chostreq\n");
        table.deselectRow(path, true);
        return;
    case EventLogRow: {
        auto* log = remoteClient_ ? new EventLog(remoteClient_) : nullptr;
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
    if (remoteClient_)
        remoteClient_->setServiceMode(on);
}

void DeviceDetailScreen::setActivity(bool on)
{
    if (networkActivity)
        networkActivity(on);
}

void DeviceDetailScreen::connectToDevice()
{
    if (!remoteClient_)
        return;
    setActivity(true);
    if (activityView_)
        activityView_->startAnimating();

    if (xmlfile_) {
        std::printf("Reusing XML\n");
        QPointer<DeviceDetailScreen> self(this);
        loop_.post([self, text = *xmlfile_] {
            if (self)
                self->parseXML(text);
        });
        return;
    }
    // A fetch already under way delivers to this screen when it ends.
    if (fetch_.pending())
        return;
    // The handle is assigned after the call: a fetch that cannot start
    // reports inside it, and then nothing is pending any more.
    FileTransfers::Handle fetch =
        remoteClient_->files().request(kDescriptionFile, [this](const platform::Bytes* bytes) { gotDescription(bytes); });
    fetch_ = std::move(fetch);
}

void DeviceDetailScreen::gotDescription(const platform::Bytes* bytes)
{
    std::printf("Got a file\n");
    if (!bytes) {
        // The transfer failed. Nothing is kept, so the next Connect tries
        // again; the reader is given no text and opens nothing.
        loop_.postAndWait([this] { parseXML(std::nullopt); });
        return;
    }
    // The description is text up to the first 0 byte, if the file has one.
    const auto* data = reinterpret_cast<const char*>(bytes->data());
    std::size_t length = bytes->empty() ? 0 : strnlen(data, bytes->size());
    xmlfile_ = std::string(data, length);
    loop_.postAndWait([this, text = *xmlfile_] { parseXML(text); });
}

void DeviceDetailScreen::parseXML(const std::optional<std::string>& text)
{
    NavigationStack* stack = navigationStack();
    if (text && remoteClient_) {
        if (stack)
            stack->setNavigationBarHidden(false);
        std::printf("Got file '%s'\n", text->c_str());
        XMLReader reader;
        reader.setClient(remoteClient_);
        reader.parseXMLFileAtString(*text);
        std::shared_ptr<DevicePage> page = reader.initialPage();
        reader.showErrors();
        // Without a start page the reader ends what it made when it goes.
        if (page && stack)
            stack->push(page.get(), true);
        else if (page)
            page->endPages();
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
    if (!remoteClient_)
        return;
    showParseErrorAlert(remoteClient_->alerts(), "Could not fetch ui.xml from " + remoteClient_->dictionaryIPString());
}

} // namespace fieldmon
