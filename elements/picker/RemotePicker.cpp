#include "elements/picker/RemotePicker.h"

#include "device/Client.h"
#include "expr/Node.h"
#include "uidesc/Commands.h"
#include "elements/PageGeometry.h"
#include "widgets/PickerColumn.h"
#include "widgets/PickerView.h"
#include "widgets/PhoneStyle.h"

#include <QJsonArray>

#include <algorithm>
#include <cmath>

namespace fieldmon {

namespace {
// A finger turning a wheel for a script moves slowly enough that the wheel
// does not glide on when it lets go.
constexpr double kScriptDragPixelsPerMs = 0.08;
} // namespace

RemotePicker::RemotePicker(NodePtr command, std::shared_ptr<Client> client, int wheel)
    : remoteClient_(std::move(client)), command_(std::move(command)), thumbcount_(wheel)
{
    const int cols = remoteClient_ ? std::max(0, remoteClient_->thumbwheels().columns(wheel)) : 0;
    std::vector<PickerView::Column> columns;
    for (int c = 0; c < cols; ++c) {
        const int rows = std::max(0, remoteClient_->thumbwheels().rows(c, wheel));
        wheelrows_.push_back(rows);
        PickerView::Column column;
        std::size_t longest = 0;
        for (int r = 0; r < rows; ++r) {
            std::string text = remoteClient_->thumbwheels().display(r, c, wheel);
            longest = std::max(longest, text.size());
            column.rows << phone::deviceLine(text);
            pickerViewArray_.push_back(std::move(text));
        }
        column.width = columnWidth(longest);
        columns.push_back(std::move(column));
    }
    selectedRow_.assign(wheelrows_.size(), 0);
    wheelvar_.assign(wheelrows_.size(), "0");
    auto* picker = new PickerView();
    picker->setColumns(columns);
    setView(picker);
    QObject::connect(picker, &PickerView::rowSettled, picker, [this](int column, int row) { didSelectRow(row, column); });
}

PickerView* RemotePicker::datePickerView() const
{
    return static_cast<PickerView*>(view());
}

int RemotePicker::columnWidth(std::size_t characters)
{
    if (characters <= 2)
        return 40;
    if (characters <= 5)
        return 80;
    if (characters <= 8)
        return 120;
    if (characters <= 11)
        return 160;
    return 200;
}

std::string RemotePicker::title(int row, int column) const
{
    if (column < 0 || column >= wheelcols() || row < 0 || row >= wheelrows_[static_cast<std::size_t>(column)])
        return {};
    std::size_t at = static_cast<std::size_t>(row);
    for (int c = 0; c < column; ++c)
        at += static_cast<std::size_t>(wheelrows_[static_cast<std::size_t>(c)]);
    return pickerViewArray_[at];
}

void RemotePicker::updatePos()
{
    double x = clientXData_ ? clientXData_->doubleValue() : 0.0;
    double y = clientYData_ ? clientYData_->doubleValue() : 0.0;
    moveView(x * kPageWidth, y * kPageHeight);
}

void RemotePicker::didSelectRow(int row, int column)
{
    if (column < 0 || column >= wheelcols())
        return;
    selectedRow_[static_cast<std::size_t>(column)] = row;
    selectedCol_ = column;
    if (!remoteClient_ || !command_)
        return;
    std::weak_ptr<RemoteView> self = weak_from_this();
    commands::whenValuesAreIn(*remoteClient_, command_, [self] {
        if (auto widget = std::static_pointer_cast<RemotePicker>(self.lock()))
            widget->runCommand();
    });
}

std::string RemotePicker::substituteWheels(const std::string& text, const std::vector<std::string>& values)
{
    return commands::substituteWheels(text, values);
}

void RemotePicker::runCommand()
{
    for (int c = 0; c < wheelcols(); ++c)
        wheelvar_[static_cast<std::size_t>(c)] = title(selectedRow_[static_cast<std::size_t>(c)], c);
    expr::Value value = command_->eval();
    if (value.isError()) {
        commands::line(value, {}, "a picker");
        return;
    }
    remoteClient_->sendString("c" + substituteWheels(value.stringValue(), wheelvar_) + "\n");
}

void RemotePicker::inspect(QJsonObject& out) const
{
    RemoteView::inspect(out);
    QJsonArray selected, widths, values;
    for (int c = 0; c < wheelcols(); ++c) {
        selected.append(selectedRow_[static_cast<std::size_t>(c)]);
        values.append(QString::fromStdString(title(selectedRow_[static_cast<std::size_t>(c)], c)));
    }
    if (PickerView* picker = datePickerView())
        for (int c = 0; c < picker->columnCount(); ++c)
            widths.append(picker->column(c)->width());
    out[QStringLiteral("wheel")] = thumbcount_;
    out[QStringLiteral("selected")] = selected;
    out[QStringLiteral("values")] = values;
    out[QStringLiteral("widths")] = widths;
    out[QStringLiteral("rows")] = [this] {
        QJsonArray rows;
        for (int n : wheelrows_)
            rows.append(n);
        return rows;
    }();
}

bool RemotePicker::settling() const
{
    PickerView* picker = datePickerView();
    return picker && picker->isMoving();
}

std::vector<AutomationDrag> RemotePicker::pickDrags(int column, int row, QString& error) const
{
    PickerView* picker = datePickerView();
    PickerColumn* wheel = picker ? picker->column(column) : nullptr;
    if (!wheel) {
        error = QStringLiteral("picker %1 has no column %2 (%3 columns)").arg(tag()).arg(column).arg(wheelcols());
        return {};
    }
    if (row < 0 || row >= wheel->rowCount()) {
        error = QStringLiteral("column %1 of picker %2 has no row %3 (%4 rows)")
                    .arg(column).arg(tag()).arg(row).arg(wheel->rowCount());
        return {};
    }
    QJsonArray frame = Screen::pageFrame(wheel);
    const QPointF middle(frame[0].toDouble() + frame[2].toDouble() / 2, frame[1].toDouble() + frame[3].toDouble() / 2);
    std::vector<AutomationDrag> drags;
    int at = wheel->rowUnderBand();
    if (at == row) {
        // Already there: a touch on the band, which changes nothing.
        drags.push_back({middle, middle, 50});
        return drags;
    }
    // One drag when the finger's way fits on the page (the wheel then comes
    // to rest once, and sends once); a longer way takes several.
    const double room = kPageHeight - 8;
    const int perDrag = std::max(1, static_cast<int>((room - wheel->dragStartPixels()) / PickerColumn::kRowHeight));
    while (at != row) {
        const int step = std::clamp(row - at, -perDrag, perDrag);
        // A finger moving up turns later rows into the band; the wheel
        // follows it once it has moved the drag start distance.
        const double distance = std::abs(step) * PickerColumn::kRowHeight + wheel->dragStartPixels();
        const double dir = step > 0 ? 1.0 : -1.0;
        double from = middle.y() + dir * distance / 2, to = middle.y() - dir * distance / 2;
        // Kept on the page: shifted, not shortened.
        const double low = std::min(from, to), high = std::max(from, to);
        const double shift = low < 4 ? 4 - low : high > room + 4 ? room + 4 - high : 0;
        AutomationDrag d;
        d.from = QPointF(middle.x(), from + shift);
        d.to = QPointF(middle.x(), to + shift);
        d.ms = static_cast<int>(std::ceil(distance / kScriptDragPixelsPerMs));
        drags.push_back(d);
        at += step;
    }
    return drags;
}

} // namespace fieldmon
