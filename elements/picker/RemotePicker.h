#pragma once
// RemotePicker: a thumbwheel on a device page. Its columns and rows come
// from one of the device's thumbwheel definitions, read once when the
// picker is made; its view is a PickerView (320 × 216 points, 40-point rows)
// whose column widths follow the longest text of each column: up to 2
// characters 40 points, 5 → 80, 8 → 120, 11 → 160, longer 200.
//
// When the user turns a column and it comes to rest on another row, the
// command is evaluated and, column by column in ascending order, every
// occurrence of the text wheel0, wheel1, … in it is replaced by the display
// text of that column's selected row (all columns, not only the one
// turned); the result goes to the device as "c" + text + "\n". Plain text:
// with two columns "set wheel12" sends "cset " + column 1's text + "2".
// With 11 columns or more the order is descending, so that wheel10 is
// replaced before wheel1 could take its first six characters. A command
// whose value is an error is not sent. A definition without columns shows
// nothing and never sends.
//
//   updatePos   origin (x × 320, y × 416); the size stays
//
// Thread rule: main thread only.

#include "elements/RemoteView.h"
#include "uidesc/Commands.h"
#include "widgets/Screen.h"

#include <memory>
#include <string>
#include <vector>

namespace fieldmon {

class Client;
class PickerView;

namespace expr {
class Node;
}

class RemotePicker final : public RemoteView {
public:
    using NodePtr = std::shared_ptr<expr::Node>;

    RemotePicker(NodePtr command, std::shared_ptr<Client> client, int wheel);

    PickerView* datePickerView() const;
    int wheelcols() const { return static_cast<int>(wheelrows_.size()); }
    const std::vector<int>& wheelrows() const { return wheelrows_; }
    const std::vector<int>& selectedRow() const { return selectedRow_; }
    int selectedCol() const { return selectedCol_; }
    // The width of a column whose longest text has `characters` characters.
    static int columnWidth(std::size_t characters);
    // The display text of `row` in `column`; empty outside the definition.
    std::string title(int row, int column) const;

    void setXData(NodePtr e) { clientXData_ = std::move(e); }
    void setYData(NodePtr e) { clientYData_ = std::move(e); }
    void updatePos();

    // A column came to rest on `row`.
    void didSelectRow(int row, int column);
    // `text` with every wheel placeholder replaced by `values` (see above),
    // cut at kMaxCommandText.
    static std::string substituteWheels(const std::string& text, const std::vector<std::string>& values);
    static constexpr std::size_t kMaxCommandText = commands::kMaxCommandText;

    QString elementName() const override { return QString::fromLatin1(element_); }
    // "thumbwheel" (the default) or "picker": the element it was made from.
    void setElementName(const char* element) { element_ = element; }
    void inspect(QJsonObject& out) const override;
    // The drags that turn `column` to `row` as a slow finger would, in page
    // points; empty with `error` set when there is no such column or row.
    std::vector<AutomationDrag> pickDrags(int column, int row, QString& error) const override;
    bool settling() const override;

private:
    void runCommand();

    std::shared_ptr<Client> remoteClient_;
    NodePtr command_;
    NodePtr clientXData_;
    NodePtr clientYData_;
    const char* element_ = "thumbwheel";
    int thumbcount_ = 0;
    int selectedCol_ = 0;
    std::vector<int> selectedRow_;
    std::vector<std::string> wheelvar_;
    std::vector<int> wheelrows_;
    std::vector<std::string> pickerViewArray_;
};

} // namespace fieldmon
