#pragma once
// ClientDynamicTable: a table page of a device's UI description ("table"):
// a grouped list whose sections, rows and row texts come from the device's
// variables (DynamicTableSections holds them and loads them in stages), with
// widgets over it as on a dynamic page, and the page protocol of DevicePage
// (title and load command at each appearance, the start page's clean-up,
// buttons that open pages).
//
// The reader binds the contents() at the table's rate with reloadData() as
// notifier, so the list reloads each time every row's text is in.
//
// A touch on a row, through the first template of its section covering it:
// - a target page: the row's number is bound to the index variable in the
//   device's global environment, then the page is pushed (so that the
//   page's title and load command, evaluated as it appears, see the row);
//   a target naming no page prints a message and changes nothing;
// - else a command: sent for that row, after "Are you sure?" ("No", "Yes")
//   when the template asks for confirmation; the alert's title is the
//   row's text. Only "Yes" sends; "No" sends nothing.
// A row no template covers is blank ("EMPTYCELL") and prints
// "ERROR: No cells in range".
//
// Reloads wait while the user types in any row's text field, and while a
// confirmation is open (so "Yes" acts on the row the user saw). After the
// field's done key the typed text stays until the next refresh brings the
// device's value (a reload then would put the old value back at once); a
// reload that waited for the alert runs once it is answered. Leaving the
// page closes an open confirmation without sending and ends editing
// without sending.
//
// Rows: a list of many rows gives cells only to the rows near the view, so
// a table of a thousand rows costs about what a screenful does.
//
// Thread rule: main thread only.

#include "pages/DevicePage.h"
#include "platform/Alerts.h"
#include "widgets/GroupedTableView.h"

#include <memory>
#include <string>
#include <vector>

namespace fieldmon {

class ClientDynamicTableCell;
class DynamicTableSections;

namespace expr {
class Scope;
}

class ClientDynamicTable final : public DevicePage, public TableSource {
    Q_OBJECT
public:
    using Template = std::shared_ptr<ClientDynamicTableCell>;

    // Pages are shared (page table, bindings): always made through create().
    // The table keeps the device and binds the index variable in its global
    // environment to an error value until a row has been chosen.
    static std::shared_ptr<ClientDynamicTable> create(std::shared_ptr<Client> client, NodePtr cellCount,
                                                      std::string indexVar, std::string refresh);
    ~ClientDynamicTable() override;

    void newSection(NodePtr title, NodePtr count = nullptr);
    void addCell(Template cell);

    const std::string& indexVar() const { return indexVar_; }
    std::string refreshRate() const override { return refresh_; }
    bool isTablePage() const override { return true; }
    // What the scheduler refreshes for this page.
    const std::shared_ptr<DynamicTableSections>& contents() const { return sections_; }

    // The binding's notifier.
    void reloadData();
    bool reloadWaiting() const { return reloadPending_; }
    // Whether the user is typing in a row's text field (any section).
    bool editing() const;
    GroupedTableView* tableView() const { return tableView_; }
    // The scopes row `path` shows its texts in (see
    // ClientDynamicTableCell::rowScopes); none for a row no template covers.
    std::vector<std::shared_ptr<expr::Scope>> rowScopes(IndexPath path) const;
    // The confirmation on screen, if any.
    platform::Alerts::AlertId confirmation() const { return confirmation_; }

    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;

    QString automationKind() const override { return QStringLiteral("table"); }
    GroupedTableView* automationTable() const override { return tableView_; }

    // TableSource
    int numberOfSections(GroupedTableView&) override;
    QString titleForHeader(GroupedTableView&, int section) override;
    int numberOfRows(GroupedTableView&, int section) override;
    TableCell* cellForRow(GroupedTableView& table, IndexPath path) override;
    void didSelectRow(GroupedTableView& table, IndexPath path) override;

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    ClientDynamicTable(std::shared_ptr<Client> client, NodePtr cellCount, std::string indexVar, std::string refresh);
    void confirm(const Template& cell, int row, const QString& title);
    void alertClicked(int button, const Template& cell, int row);
    void closeConfirmation();
    // A reload that waited for the user runs soon after.
    void reloadIfWaiting();

    std::shared_ptr<DynamicTableSections> sections_;
    std::string indexVar_;
    std::string refresh_;
    GroupedTableView* tableView_;
    platform::Alerts::AlertId confirmation_ = 0;
    // Each section's rows, read once per reload (numberOfSections starts one).
    std::vector<int> rows_;
    bool loaded_ = false;
    bool reloadPending_ = false;
};

} // namespace fieldmon
