#include "app/DeviceListScreen.h"

#include "app/DeviceDetailScreen.h"
#include "device/Client.h"
#include "discovery/ClientFinder.h"
#include "platform/Check.h"
#include "platform/Diagnostics.h"
#include "platform/MainLoop.h"
#include "widgets/NavigationStack.h"
#include "widgets/PhoneStyle.h"
#include "widgets/ToggleSwitch.h"

#include <QLabel>
#include <QPainter>

namespace fieldmon {

namespace {
const QString kCellIdentifier = QStringLiteral("ClientListIdentifier");

// The strip under the list that holds the "Record" switch, drawn like the
// navigation bar.
class RecordBar : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        QLinearGradient g(0, 0, 0, height());
        g.setColorAt(0, phone::barTop());
        g.setColorAt(1, phone::barBottom());
        p.fillRect(rect(), g);
        p.setPen(phone::separator().darker(150));
        p.drawLine(0, 0, width(), 0);
    }
};
} // namespace

DeviceListScreen::DeviceListScreen(platform::MainLoop& loop, platform::NotificationCenter& notifications,
                                   QWidget* parent)
    : Screen(parent), loop_(loop), tableView_(new GroupedTableView(this)), recordBar_(new RecordBar(this)),
      recordLabel_(new QLabel(QStringLiteral("Record"), recordBar_)), recordSwitch_(new ToggleSwitch(recordBar_))
{
    recordLabel_->setFont(phone::systemFont(17, true));
    QPalette labelColours = recordLabel_->palette();
    labelColours.setColor(QPalette::WindowText, Qt::white);
    recordLabel_->setPalette(labelColours);
    // clicked, not toggled: only the user's own turn of the switch counts.
    connect(recordSwitch_, &QAbstractButton::clicked, this, [this](bool on) {
        if (recordSwitched)
            recordSwitched(on);
    });
    tableView_->setSource(this);
    // Cells only for the rows near the view: a flood of forged devices lists
    // thousands, and a widget for each made every reload cost ~150 ms.
    tableView_->setLazyRows(true);
    found_ = notifications.subscribe(ClientFinder::kFoundNewClient, [this](const platform::Notification&) {
        FM_CHECK(loop_.isMainThread(), "the finder posts ListeningFoundNewClient on the main thread");
        reloads_.request();
    });
    diag("Starting up the table view\n");
}

DeviceListScreen::~DeviceListScreen()
{
    stopObserving();
    tableView_->setSource(nullptr);
}

void DeviceListScreen::stopObserving()
{
    found_.reset();
}

void DeviceListScreen::reloadData()
{
    registry_ = finder_ ? finder_->registrySnapshot() : RegistrySnapshot{};
    tableView_->reloadData();
}

void DeviceListScreen::resizeEvent(QResizeEvent*)
{
    const int listHeight = std::max(0, height() - kRecordBarHeight);
    tableView_->setGeometry(0, 0, width(), listHeight);
    recordBar_->setGeometry(0, listHeight, width(), kRecordBarHeight);
    const QSize knob = recordSwitch_->sizeHint();
    recordLabel_->setGeometry(12, 0, width() - knob.width() - 24, kRecordBarHeight);
    recordSwitch_->setGeometry(width() - knob.width() - 10, (kRecordBarHeight - knob.height()) / 2, knob.width(),
                               knob.height());
}

void DeviceListScreen::showRecording(bool on)
{
    recordSwitch_->setChecked(on);
}

void DeviceListScreen::inspect(QJsonObject& screen) const
{
    screen.insert(QStringLiteral("record"),
                  QJsonObject{{QStringLiteral("on"), recordSwitch_->isChecked()},
                              {QStringLiteral("frame"), pageFrame(recordSwitch_)}});
}

void DeviceListScreen::viewWillAppear(bool)
{
    diag("View will appear\n");
    reloadData();
    if (auto sel = tableView_->selectedRow())
        tableView_->deselectRow(*sel, false);
    // The next selection starts fresh: no device, no stored description.
    if (detailScreen_)
        detailScreen_->forgetDevice();
}

QString DeviceListScreen::rowText(const Client& client)
{
    QString name = client.name().empty() ? QStringLiteral("Unnamed") : phone::deviceLine(client.name());
    // One multi-argument arg(): a "%1" in the device's name stays as it is.
    return QStringLiteral("%1 (%2)").arg(name, QString::number(client.serialNumber()));
}

int DeviceListScreen::numberOfSections(GroupedTableView&)
{
    return registry_.sections.empty() ? 1 : static_cast<int>(registry_.sections.size());
}

QString DeviceListScreen::titleForHeader(GroupedTableView&, int section)
{
    if (registry_.sections.empty())
        return QStringLiteral("No clients found");
    if (section < 0 || static_cast<std::size_t>(section) >= registry_.sections.size())
        return QStringLiteral("Failure");
    return phone::deviceLine(registry_.sections[static_cast<std::size_t>(section)].key);
}

int DeviceListScreen::numberOfRows(GroupedTableView&, int section)
{
    if (section < 0 || static_cast<std::size_t>(section) >= registry_.sections.size())
        return 0;
    return static_cast<int>(registry_.sections[static_cast<std::size_t>(section)].records.size());
}

TableCell* DeviceListScreen::cellForRow(GroupedTableView& table, IndexPath path)
{
    TableCell* cell = table.dequeueReusableCell(kCellIdentifier);
    if (!cell) {
        cell = new TableCell(kCellIdentifier);
        cell->setAccessory(TableCell::Accessory::DisclosureIndicator);
    }
    // A record's name and serial number change only on the main thread,
    // where this runs.
    QString text;
    if (std::shared_ptr<Client> client = registry_.at(path.section, path.row))
        text = rowText(*client);
    cell->setText(text);
    return cell;
}

void DeviceListScreen::didSelectRow(GroupedTableView& table, IndexPath path)
{
    std::shared_ptr<Client> client = registry_.at(path.section, path.row);
    if (client && detailScreen_) {
        detailScreen_->setDevice(std::move(client));
        detailScreen_->reloadData();
        if (NavigationStack* stack = navigationStack())
            stack->push(detailScreen_, true);
    }
    table.deselectRow(path, true);
}

} // namespace fieldmon
