#include "app_fixture.h"

namespace brindle::testing {

namespace {

struct Row {
    std::string title;
    std::optional<MenuAction> action;
    std::string key;

    bool operator==(Row const&) const = default;
};

std::vector<Row> rows(Menu const& menu)
{
    std::vector<Row> result;
    for (auto const& item : menu.items)
        result.push_back({ item.title, item.action, item.keyEquivalent });
    return result;
}

void PrintTo(Row const& row, std::ostream* out)
{
    *out << '"' << row.title << "\" key \"" << row.key << '"' << (row.action ? "" : " (separator)");
}

class MainMenuTest : public AppTest { };

TEST_F(MainMenuTest, LaunchInstallsTheApplicationMenuAndEdit)
{
    launchWith({});
    ASSERT_TRUE(platform.mainMenu);
    auto const& menus = platform.mainMenu->menus;
    ASSERT_EQ(menus.size(), 2u);

    EXPECT_EQ(rows(menus[0]),
        (std::vector<Row> {
            { "About Brindle", MenuAction::about, "" },
            { "", std::nullopt, "" },
            { "Show Brindle", MenuAction::showWindow, "0" },
            { "Hide Brindle", MenuAction::hide, "h" },
            { "", std::nullopt, "" },
            { "Quit Brindle", MenuAction::quit, "q" },
        }));

    EXPECT_EQ(menus[1].title, "Edit");
    EXPECT_EQ(rows(menus[1]),
        (std::vector<Row> {
            { "Cut", MenuAction::cut, "x" },
            { "Copy", MenuAction::copy, "c" },
            { "Paste", MenuAction::paste, "v" },
            { "Select All", MenuAction::selectAll, "a" },
        }));
}

} // namespace

} // namespace brindle::testing
