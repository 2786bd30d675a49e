#include "app/main_window.h"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/main_window_layout.h"
#include "app/program.h"
#include "build_config.h"
#include "platform/platform.h"
#include "platform/ui.h"
#include "runtime/runtime.h"
#include "values/values.h"

namespace {

using enum ControlKind;
namespace ui = platform::ui;

constexpr const char* kTitle = "霜岭群英录青柚修改器v3.6最新版";
constexpr const char* kWindowName = "MainWindow";
constexpr int kWindowWidth = 942;
constexpr int kWindowHeight = 705;
constexpr const char* kStartAddress = "http://" GAME_PORTAL_HOST "/flash/130342.htm";
// Medium, the third of the five steps.
constexpr int kStartTextSize = 2;

// clang-format off
constexpr ControlRow kLayout[] = {
    // name              kind        container   page  x    y    w    h    caption  click handler
    {"超文本浏览框1",    WebView,    nullptr,    0,    0,   0,   936, 576, nullptr, nullptr},
    {"选择夹1",          TabControl, nullptr,    0,    0,   576, 928, 100, "修改功能\n缩血功能", nullptr},
    {"选择夹2",          TabControl, "选择夹1",  0,    -7,  19,  903, 80,  "双浮点数修改\n4字节修改\n字组数节修改\n文本修改", nullptr},
    {"选择夹3",          TabControl, "选择夹1",  1,    8,   22,  920, 75,  "缩血1\n缩血2\n缩血3", nullptr},
    // 选择夹2, page "双浮点数修改"
    {"按钮11",   PushButton, "选择夹2", 0, 624, 24, 80,  48, "刷新游戏", "OnRefreshGameClicked"},
    {"按钮10",   PushButton, "选择夹2", 0, 519, 24, 80,  48, "清理缓存", "OnClearCacheClicked"},
    {"按钮2",    PushButton, "选择夹2", 0, 376, 32, 64,  32, "修改",     nullptr},
    {"按钮1",    PushButton, "选择夹2", 0, 143, 32, 64,  32, "修改",     nullptr},
    {"编辑框4",  EditBox,    "选择夹2", 0, 248, 48, 120, 20, nullptr,    nullptr},
    {"编辑框3",  EditBox,    "选择夹2", 0, 249, 26, 120, 20, nullptr,    nullptr},
    {"编辑框2",  EditBox,    "选择夹2", 0, 16,  48, 120, 20, nullptr,    nullptr},
    {"编辑框1",  EditBox,    "选择夹2", 0, 15,  25, 120, 20, nullptr,    nullptr},
    // 选择夹2, page "4字节修改"
    {"按钮6",    PushButton, "选择夹2", 1, 384, 48, 80,  24, "还原",     nullptr},
    {"按钮5",    PushButton, "选择夹2", 1, 384, 24, 80,  24, "修改",     nullptr},
    {"编辑框8",  EditBox,    "选择夹2", 1, 256, 48, 120, 20, nullptr,    nullptr},
    {"编辑框7",  EditBox,    "选择夹2", 1, 256, 25, 120, 20, nullptr,    nullptr},
    {"按钮4",    PushButton, "选择夹2", 1, 135, 50, 80,  24, "还原",     nullptr},
    {"按钮3",    PushButton, "选择夹2", 1, 135, 25, 80,  24, "修改",     nullptr},
    {"编辑框6",  EditBox,    "选择夹2", 1, 10,  48, 120, 20, nullptr,    nullptr},
    {"编辑框5",  EditBox,    "选择夹2", 1, 10,  27, 120, 20, nullptr,    nullptr},
    // 选择夹2, page "字组数节修改"
    {"按钮7",    PushButton, "选择夹2", 2, 349, 25, 80,  40, "修改",     nullptr},
    {"编辑框10", EditBox,    "选择夹2", 2, 12,  48, 328, 20, nullptr,    nullptr},
    {"编辑框9",  EditBox,    "选择夹2", 2, 13,  24, 328, 20, nullptr,    nullptr},
    // 选择夹2, page "文本修改"
    {"按钮9",    PushButton, "选择夹2", 3, 384, 32, 64,  32, "修改",     nullptr},
    {"按钮8",    PushButton, "选择夹2", 3, 144, 32, 64,  32, "修改",     nullptr},
    {"编辑框14", EditBox,    "选择夹2", 3, 256, 48, 120, 20, nullptr,    nullptr},
    {"编辑框13", EditBox,    "选择夹2", 3, 256, 24, 120, 20, nullptr,    nullptr},
    {"编辑框12", EditBox,    "选择夹2", 3, 16,  48, 120, 20, nullptr,    nullptr},
    {"编辑框11", EditBox,    "选择夹2", 3, 16,  24, 120, 20, nullptr,    nullptr},
    // 选择夹3, page "缩血1"
    {"按钮16",   PushButton, "选择夹3", 0, 352, 48, 56,  24, "解除",         nullptr},
    {"按钮15",   PushButton, "选择夹3", 0, 264, 48, 56,  24, "锁定",         nullptr},
    {"按钮14",   PushButton, "选择夹3", 0, 384, 24, 80,  24, "修改",         nullptr},
    {"编辑框17", EditBox,    "选择夹3", 0, 272, 26, 112, 20, nullptr,        nullptr},
    {"按钮13",   PushButton, "选择夹3", 0, 132, 48, 80,  24, "再次搜索",     "OnSearchAgainClicked"},
    {"按钮12",   PushButton, "选择夹3", 0, 133, 23, 80,  24, "搜索目前血量", nullptr},
    {"编辑框16", EditBox,    "选择夹3", 0, 16,  48, 112, 20, nullptr,        nullptr},
    {"编辑框15", EditBox,    "选择夹3", 0, 16,  27, 112, 20, nullptr,        nullptr},
    // 选择夹3, page "缩血2"
    {"按钮21",   PushButton, "选择夹3", 1, 397, 24, 80,  24, "修改",         nullptr},
    {"按钮20",   PushButton, "选择夹3", 1, 352, 48, 56,  24, "解除",         nullptr},
    {"按钮19",   PushButton, "选择夹3", 1, 264, 48, 56,  24, "锁定",         nullptr},
    {"按钮18",   PushButton, "选择夹3", 1, 134, 48, 80,  24, "再次搜索",     nullptr},
    {"按钮17",   PushButton, "选择夹3", 1, 134, 22, 80,  24, "搜索目前血量", nullptr},
    {"编辑框20", EditBox,    "选择夹3", 1, 272, 24, 112, 20, nullptr,        nullptr},
    {"编辑框19", EditBox,    "选择夹3", 1, 16,  48, 112, 20, nullptr,        nullptr},
    {"编辑框18", EditBox,    "选择夹3", 1, 16,  25, 112, 20, nullptr,        nullptr},
    // 选择夹3, page "缩血3"
    {"按钮26",   PushButton, "选择夹3", 2, 400, 24, 80,  24, "修改",         nullptr},
    {"按钮25",   PushButton, "选择夹3", 2, 352, 46, 56,  24, "解除",         nullptr},
    {"按钮24",   PushButton, "选择夹3", 2, 264, 47, 56,  24, "锁定",         nullptr},
    {"按钮23",   PushButton, "选择夹3", 2, 136, 48, 80,  24, "再次搜索",     nullptr},
    {"按钮22",   PushButton, "选择夹3", 2, 135, 22, 80,  24, "搜索目前血量", nullptr},
    {"编辑框23", EditBox,    "选择夹3", 2, 280, 24, 112, 20, nullptr,        nullptr},
    {"编辑框22", EditBox,    "选择夹3", 2, 16,  48, 112, 20, nullptr,        nullptr},
    {"编辑框21", EditBox,    "选择夹3", 2, 16,  24, 112, 20, nullptr,        nullptr},
};
// clang-format on

const NamedRoutine kRoutines[] = {
    {"OnRefreshGameClicked", OnRefreshGameClicked},
    {"OnClearCacheClicked", OnClearCacheClicked},
    {"OnSearchAgainClicked", OnSearchAgainClicked},
};

std::vector<EventHandler> boundHandlers;
ui::Control* mainWindow = nullptr;
ui::Control* GamePageView = nullptr;

bool SameName(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }

int PageCount(const ControlRow& row) { return row.kind == TabControl ? static_cast<int>(PageTitles(row).size()) : 0; }

void OnMainWindowDestroyed()
{
    mainWindow = nullptr;
    GamePageView = nullptr;
    NoteWindowDestroyed();
}

Text GamePageViewAddress()
{
    return Text::FromBytes(platform::Utf8ToAnsi(ui::WebViewAddress(GamePageView)));
}

void SetGamePageViewAddress(TextRef address)
{
    if (GamePageView)
        ui::NavigateWebView(GamePageView, platform::AnsiToUtf8(address.View()));
}

void ReportCacheCleared()
{
    ShowMessage("清理成功", 0);
}

ui::Control* CreateControl(const ControlRow& row, ui::Control* container, EventHandler handler)
{
    const ui::Placement placement{container, row.page, {row.x, row.y, row.width, row.height},
                                  platform::AnsiToUtf8(row.name)};
    switch (row.kind) {
    case WebView: {
        ui::Control* view = ui::CreateWebView(placement);
        if (view) {
            ui::SetWebViewTextSize(view, kStartTextSize);
            ui::NavigateWebView(view, platform::AnsiToUtf8(kStartAddress));
        }
        return view;
    }
    case TabControl:
        return ui::CreateTabControl(placement, PageTitles(row));
    case PushButton: {
        std::function<void()> onClick;
        if (handler)
            onClick = [handler] { RunEventHandler(handler); };
        return ui::CreatePushButton(placement, platform::AnsiToUtf8(row.caption ? row.caption : ""), onClick);
    }
    case EditBox:
        return ui::CreateEditBox(placement);
    }
    return nullptr;
}

}  // namespace

std::span<const ControlRow> MainWindowLayout()
{
    return kLayout;
}

std::vector<std::string> PageTitles(const ControlRow& row)
{
    std::vector<std::string> titles;
    std::string_view rest = row.caption ? row.caption : "";
    while (!rest.empty()) {
        // A line break is never the second byte of a two-byte character.
        const size_t end = rest.find('\n');
        titles.emplace_back(platform::AnsiToUtf8(rest.substr(0, end)));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return titles;
}

bool BindLayout(std::span<const ControlRow> rows, std::span<const NamedRoutine> routines,
                std::vector<EventHandler>& handlers)
{
    handlers.clear();
    int webViews = 0;
    for (size_t index = 0; index < rows.size(); ++index) {
        const ControlRow& row = rows[index];
        const std::span<const ControlRow> earlier = rows.first(index);
        bool valid = row.name && *row.name && row.width > 0 && row.height > 0;
        for (const ControlRow& other : earlier)
            valid = valid && !SameName(other.name, row.name);
        if (row.container) {
            const ControlRow* container = nullptr;
            for (const ControlRow& other : earlier)
                container = SameName(other.name, row.container) ? &other : container;
            valid = valid && container && row.page >= 0 && row.page < PageCount(*container);
        } else {
            valid = valid && row.page == 0;
        }
        if (row.kind == TabControl)
            valid = valid && PageCount(row) > 0;
        webViews += row.kind == WebView;

        EventHandler handler = nullptr;
        if (row.clickHandler) {
            for (const NamedRoutine& routine : routines)
                handler = SameName(routine.name, row.clickHandler) ? routine.routine : handler;
            valid = valid && handler && row.kind == PushButton;
        }
        if (!valid) {
            handlers.clear();
            return false;
        }
        handlers.push_back(handler);
    }
    if (webViews != 1) {
        handlers.clear();
        return false;
    }
    return true;
}

bool LoadMainWindowLayout()
{
    return BindLayout(kLayout, kRoutines, boundHandlers);
}

bool CreateMainWindow()
{
    if (mainWindow || (boundHandlers.empty() && !LoadMainWindowLayout()))
        return false;
    const ui::Size screen = ui::PrimaryScreenSize();
    const ui::Rect outer{(screen.width - kWindowWidth) / 2, (screen.height - kWindowHeight) / 2, kWindowWidth,
                         kWindowHeight};
    mainWindow = ui::CreateMainFrame({platform::AnsiToUtf8(kTitle), kWindowName, outer, OnMainWindowDestroyed});
    if (!mainWindow)
        return false;

    std::vector<ui::Control*> controls;
    for (size_t index = 0; index < std::size(kLayout); ++index) {
        const ControlRow& row = kLayout[index];
        ui::Control* container = mainWindow;
        if (row.container) {
            for (size_t other = 0; other < index; ++other)
                container = SameName(kLayout[other].name, row.container) ? controls[other] : container;
        }
        ui::Control* control = CreateControl(row, container, boundHandlers[index]);
        if (!control) {
            ui::DestroyWindow(mainWindow);
            return false;
        }
        if (row.kind == WebView)
            GamePageView = control;
        controls.push_back(control);
    }
    return true;
}

bool MainWindowExists()
{
    return mainWindow != nullptr;
}

void ShowMainWindow()
{
    ui::ShowWindow(mainWindow);
}

void OnRefreshGameClicked()
{
    Text address = GamePageViewAddress();
    SetGamePageViewAddress(address);
}

void OnClearCacheClicked()
{
    if (!GamePageView)
        return;
    // The box says the cache was cleared, so it waits for the clearing to have happened.
    ui::ClearWebViewCache(GamePageView, [](ui::CacheCleared cleared) {
        if (cleared == ui::CacheCleared::Yes && MainWindowExists())
            RunEventHandler(ReportCacheCleared);
    });
}

void OnSearchAgainClicked() {}
