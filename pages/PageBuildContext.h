#pragma once
// PageBuildContext: the app's build context. While the reader reads a
// device's document it makes the device's pages and their widgets, with the
// builders of pages/ ("page", "table", "section", "cell") and of every
// element kind in elements/. It holds the page table and the page being
// filled, and keeps every object the builders made.
//
// What it made is its own: the page table (dynamicPages()) and every page
// and widget; pages reach the table through a weak reference only. Whoever
// keeps the context keeps the pages (the device's session). Its destructor
// ends the bindings the reading made (unless endBindings() already did) and
// lets the pages go, so that no reading leaves a set behind.
//
// Thread rule: main thread only.

#include "elements/WidgetContext.h"
#include "pages/DevicePage.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fieldmon {

namespace uidesc {
class BuilderRegistry;
}

class PageBuildContext final : public WidgetContext {
public:
    // The app's builders: those of pages/ and of every kind in elements/.
    static const uidesc::BuilderRegistry& appBuilders();

    // `builders` outlive the context (tests stand in for widgets with their own).
    explicit PageBuildContext(std::shared_ptr<Client> client,
                              const uidesc::BuilderRegistry& builders = appBuilders());
    ~PageBuildContext() override;
    PageBuildContext(const PageBuildContext&) = delete;
    PageBuildContext& operator=(const PageBuildContext&) = delete;

    // --- What the reader asks ------------------------------------------------
    const uidesc::BuilderRegistry& builders() const override { return builders_; }
    void setStartPageName(std::optional<std::string> name) override { initialPageName_ = std::move(name); }
    std::function<bool()> redrawRequest() override;
    void keep(std::shared_ptr<void> object) override;
    void bound(const std::shared_ptr<void>& widget, const std::shared_ptr<expr::Node>& expression,
               const std::string& rate) override;

    // --- What the builders of elements/ ask -------------------------------------
    void place(std::shared_ptr<RemoteView> widget) override;
    std::function<void(const std::string& name)> pageOpener() override;
    std::function<void()> pageButton(int tag, const std::string* target) override;

    // --- What the builders of pages ask ------------------------------------------
    // Enters `page` in the page table under `name` (a later page of the same
    // name replaces an earlier one) and makes it the page being filled.
    void registerPage(const std::string& name, std::shared_ptr<DevicePage> page);
    void endCurrentPage() { currentPage_.reset(); }
    // The page or table being filled; null outside one.
    DevicePage* currentPage() const { return currentPage_.get(); }

    // --- What the reading made ------------------------------------------------------
    const std::shared_ptr<PageTable>& dynamicPages() const { return dynamicPages_; }
    const std::optional<std::string>& initialPageName() const { return initialPageName_; }
    // The page named by the last "start"; null without "start" or when no
    // page has that name.
    std::shared_ptr<DevicePage> initialPage() const;
    // The device drops every binding, which hold the pages and widgets.
    void endBindings();

    // A placed widget and the expressions it shows, as bound (their
    // values' freshness and history are the app's to show).
    struct ShownValues {
        std::weak_ptr<RemoteView> widget;
        struct Expression {
            std::weak_ptr<expr::Node> node;
            double rate = 0; // seconds; infinite for "load" and "once"
        };
        std::vector<Expression> expressions;
    };
    // Widgets that show remote values, in order of placing.
    std::vector<ShownValues> shownValues() const;

private:
    std::shared_ptr<Client> client_;
    const uidesc::BuilderRegistry& builders_;
    std::shared_ptr<PageTable> dynamicPages_ = std::make_shared<PageTable>();
    std::shared_ptr<DevicePage> currentPage_;
    std::optional<std::string> initialPageName_;
    // Every page, widget and cell made, in order of making.
    std::vector<std::shared_ptr<void>> workingStack_;
    bool bindingsEnded_ = false;
    // Bindings by widget (compared by owner: a builder's own type and
    // RemoteView may sit at different addresses of one object).
    struct Bound {
        std::weak_ptr<RemoteView> view; // once placed
        std::vector<ShownValues::Expression> expressions;
        std::size_t order = 0;
    };
    std::map<std::weak_ptr<void>, Bound, std::owner_less<>> bound_;
    std::size_t placed_ = 0;
};

} // namespace fieldmon
