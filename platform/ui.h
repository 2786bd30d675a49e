// The program's window and controls, as far as the program needs them. Texts are UTF-8 here.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace platform::ui {

// A window or control. Its window owns it: every handle of a window is gone once the window
// has been destroyed.
struct Control;

struct Size {
    int width = 0;
    int height = 0;
};

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

Size PrimaryScreenSize();

// A top-level window, created hidden: fixed size, a caption with the close button only, its own
// task-bar entry, the program's icon. `outer` is its frame's position and size on the screen.
struct WindowProperties {
    std::string title;
    std::string name;
    Rect outer;
    std::function<void()> onDestroyed;
};
// nullptr when the window cannot be created.
Control* CreateMainFrame(const WindowProperties& properties);
void ShowWindow(Control* window);
// Destroys the window with its controls at once; its onDestroyed runs.
void DestroyWindow(Control* window);

// Where a new control goes: the client area of a window (page 0), or one page of a tab control.
// The position is relative to the container's top-left corner, a tab control's tab strip
// included. A control placed earlier stays above the ones placed later where they overlap.
struct Placement {
    Control* container = nullptr;
    int page = 0;
    Rect rect;
    std::string name;
};

// Each gives nullptr when the container or page does not exist. The first page shows at start.
Control* CreateTabControl(const Placement& placement, std::span<const std::string> pageTitles);
Control* CreatePushButton(const Placement& placement, const std::string& caption,
                          std::function<void()> onClick);
Control* CreateEditBox(const Placement& placement);

// A web view that browses online and shows its own dialogs (script dialogs, permission
// questions, log-in); its cache and cookies live in the user's data and cache folders.
Control* CreateWebView(const Placement& placement);
// Steps 0 (smallest) to 4 (largest); only the text grows, not the pictures.
void SetWebViewTextSize(Control* webView, int step);
// Starts a new navigation at once, also to the address shown now.
void NavigateWebView(Control* webView, const std::string& address);
// The address of the page shown now; empty when there is none.
std::string WebViewAddress(Control* webView);
enum class CacheCleared { Yes, No };
// Empties the web view's memory and disk caches, then calls `done` from the event loop.
// Cookies and other stored site data stay.
void ClearWebViewCache(Control* webView, std::function<void(CacheCleared)> done);

}  // namespace platform::ui
