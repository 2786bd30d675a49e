#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/main_window_layout.h"

namespace {

using enum ControlKind;

void First() {}
void Second() {}

const NamedRoutine kRoutines[] = {{"First", First}, {"Second", Second}};

struct BrokenLayout {
    const char* why;
    std::vector<ControlRow> rows;
};

// Rows that every broken layout below starts from: a web view and a tab control of two pages.
const ControlRow kView{"view", WebView, nullptr, 0, 0, 0, 100, 50, nullptr, nullptr};
const ControlRow kTabs{"tabs", TabControl, nullptr, 0, 0, 50, 100, 50, "one\ntwo", nullptr};

ControlRow Button(const char* container, int page, const char* handler)
{
    return {"button", PushButton, container, page, 1, 2, 30, 20, "caption", handler};
}

TEST(MainWindowLayout, TheProgramsLayoutBindsItsThreeHandlers)
{
    ASSERT_TRUE(LoadMainWindowLayout());
    std::vector<EventHandler> handlers;
    const NamedRoutine routines[] = {{"OnRefreshGameClicked", OnRefreshGameClicked},
                                     {"OnClearCacheClicked", OnClearCacheClicked},
                                     {"OnSearchAgainClicked", OnSearchAgainClicked}};
    ASSERT_TRUE(BindLayout(MainWindowLayout(), routines, handlers));
    ASSERT_EQ(handlers.size(), MainWindowLayout().size());
    for (size_t index = 0; index < handlers.size(); ++index) {
        const std::string name = MainWindowLayout()[index].name;
        EventHandler expected = name == "按钮11"   ? OnRefreshGameClicked
                                : name == "按钮10" ? OnClearCacheClicked
                                : name == "按钮13" ? OnSearchAgainClicked
                                                   : nullptr;
        EXPECT_EQ(handlers[index], expected) << "row " << index;
    }
}

TEST(MainWindowLayout, BindsEachNamedHandlerToItsRoutine)
{
    std::vector<EventHandler> handlers;
    const std::vector<ControlRow> rows{kView, kTabs, Button("tabs", 1, "Second")};
    ASSERT_TRUE(BindLayout(rows, kRoutines, handlers));
    EXPECT_EQ(handlers, (std::vector<EventHandler>{nullptr, nullptr, Second}));
}

TEST(MainWindowLayout, RefusesLayoutsThatCannotBeBuilt)
{
    ControlRow nested{"inner", TabControl, "tabs", 0, 0, 0, 50, 50, "a", nullptr};
    ControlRow unnamed = Button(nullptr, 0, nullptr);
    unnamed.name = "";
    ControlRow pageless = kTabs;
    pageless.caption = "";
    ControlRow flat = Button(nullptr, 0, nullptr);
    flat.height = 0;
    ControlRow clickableBox{"box", EditBox, nullptr, 0, 0, 0, 10, 10, nullptr, "First"};
    const BrokenLayout layouts[] = {
        // containers
        {"container listed after what it holds", {kView, Button("tabs", 0, nullptr), kTabs}},
        {"unknown container", {kView, kTabs, Button("nowhere", 0, nullptr)}},
        {"a push button as container", {kView, Button(nullptr, 0, nullptr), {"x", EditBox, "button", 0, 0, 0, 5, 5, nullptr, nullptr}}},
        {"container is the control itself", {kView, {"self", TabControl, "self", 0, 0, 0, 5, 5, "a", nullptr}}},
        // pages
        {"page beyond the last", {kView, kTabs, Button("tabs", 2, nullptr)}},
        {"negative page", {kView, kTabs, Button("tabs", -1, nullptr)}},
        {"page of the window other than 0", {kView, Button(nullptr, 1, nullptr)}},
        {"tab control without pages", {kView, pageless}},
        {"nested control on a missing page", {kView, kTabs, nested, Button("inner", 1, nullptr)}},
        // handlers
        {"unknown handler", {kView, kTabs, Button("tabs", 0, "Third")}},
        {"handler on an edit box", {kView, clickableBox}},
        // controls
        {"duplicate name", {kView, kTabs, {"tabs", EditBox, nullptr, 0, 0, 0, 5, 5, nullptr, nullptr}}},
        {"empty name", {kView, unnamed}},
        {"empty size", {kView, flat}},
        {"no web view", {kTabs}},
        {"two web views", {kView, {"view2", WebView, nullptr, 0, 0, 0, 5, 5, nullptr, nullptr}}},
    };
    for (const BrokenLayout& layout : layouts) {
        std::vector<EventHandler> handlers{First};
        EXPECT_FALSE(BindLayout(layout.rows, kRoutines, handlers)) << layout.why;
        EXPECT_TRUE(handlers.empty()) << layout.why;
    }
}

TEST(MainWindowLayout, PageTitlesComeOneALine)
{
    const ControlRow row{"t", TabControl, nullptr, 0, 0, 0, 9, 9, "修改功能\n缩血功能", nullptr};
    // Titles leave the program as UTF-8.
    const std::vector<std::string> expected{reinterpret_cast<const char*>(u8"修改功能"),
                                            reinterpret_cast<const char*>(u8"缩血功能")};
    EXPECT_EQ(PageTitles(row), expected);
}

}  // namespace
