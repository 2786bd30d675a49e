// Built with UTF-8 literals: the layout's code page 936 names are converted before comparing.
// The main window on a display of its own, with the real web view against the bundled local
// server on 127.0.0.1:8713. Clicks go through the X server to the window, not to the widgets.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/main_window_layout.h"
#include "platform/platform.h"
#include "runtime/runtime.h"
#include "tests/support/program_runner.h"

// Last: Xlib defines macros such as None and Bool.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kOuterWidth = 942;
constexpr int kOuterHeight = 705;
const std::string kStartPage = "GET /flash/130342.htm ";
const std::string kAboutPage = "GET /flash/about.htm ";
const std::string kEmblem = "GET /flash/sprite.svg ";

std::string Utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }
std::string NameOf(const ControlRow& row) { return platform::AnsiToUtf8(row.name); }

// Runs the event loop until `done` holds; false when the limit passed first.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s)
{
    const auto deadline = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() >= deadline)
            return false;
        if (!g_main_context_iteration(nullptr, FALSE))
            g_usleep(2000);
    }
    return true;
}

// Lets whatever a click may have started happen before the test looks for its absence.
void PumpFor(std::chrono::milliseconds span) { PumpUntil([] { return false; }, span); }

Display* XDisplay() { return GDK_DISPLAY_XDISPLAY(gdk_display_get_default()); }

// Every event that the X server has for us so far, handled.
void SettleEvents()
{
    XSync(XDisplay(), False);
    while (g_main_context_pending(nullptr))
        g_main_context_iteration(nullptr, FALSE);
}

void CollectWidgets(GtkWidget* widget, std::vector<GtkWidget*>& out)
{
    out.push_back(widget);
    if (GTK_IS_CONTAINER(widget))
        gtk_container_forall(
            GTK_CONTAINER(widget),
            [](GtkWidget* child, gpointer list) { CollectWidgets(child, *static_cast<std::vector<GtkWidget*>*>(list)); },
            &out);
}

std::vector<GtkWidget*> Descendants(GtkWidget* root)
{
    std::vector<GtkWidget*> all;
    CollectWidgets(root, all);
    return all;
}

std::vector<GtkWidget*> WidgetsNamed(GtkWidget* root, const std::string& name)
{
    std::vector<GtkWidget*> found;
    for (GtkWidget* widget : Descendants(root))
        if (name == gtk_widget_get_name(widget))
            found.push_back(widget);
    return found;
}

GtkNotebook* NotebookOf(GtkWidget* tabControl)
{
    for (GtkWidget* widget : Descendants(tabControl))
        if (GTK_IS_NOTEBOOK(widget))
            return GTK_NOTEBOOK(widget);
    return nullptr;
}

std::vector<std::string> TabTitles(GtkNotebook* notebook)
{
    std::vector<std::string> titles;
    for (int page = 0; page < gtk_notebook_get_n_pages(notebook); ++page)
        titles.emplace_back(gtk_notebook_get_tab_label_text(notebook, gtk_notebook_get_nth_page(notebook, page)));
    return titles;
}

// The toplevels on the screen now.
std::vector<GtkWindow*> ShownToplevels()
{
    std::vector<GtkWindow*> shown;
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* item = toplevels; item; item = item->next)
        if (gtk_widget_get_mapped(GTK_WIDGET(item->data)))
            shown.push_back(GTK_WINDOW(item->data));
    g_list_free(toplevels);
    return shown;
}

// A press and release of the first button at a point of the window, through the X server's
// test extension: the pointer moves there first, so whatever lies on top there gets the click.
void PointAt(GtkWidget* window, int x, int y)
{
    int originX = 0;
    int originY = 0;
    gdk_window_get_origin(gtk_widget_get_window(window), &originX, &originY);
    XTestFakeMotionEvent(XDisplay(), -1, originX + x, originY + y, CurrentTime);
    SettleEvents();
}

void ClickAt(GtkWidget* window, int x, int y)
{
    PointAt(window, x, y);
    Display* display = XDisplay();
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    SettleEvents();
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    SettleEvents();
}

// Keys pressed in order, released in reverse, as a user types a combination.
void PressKeys(std::initializer_list<KeySym> keys)
{
    Display* display = XDisplay();
    for (KeySym key : keys)
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, key), True, CurrentTime);
    for (auto key = std::rbegin(keys); key != std::rend(keys); ++key)
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, *key), False, CurrentTime);
    SettleEvents();
}

void ClickOn(GtkWidget* widget, int x, int y)
{
    GtkWidget* window = gtk_widget_get_toplevel(widget);
    int windowX = 0;
    int windowY = 0;
    ASSERT_TRUE(gtk_widget_translate_coordinates(widget, window, x, y, &windowX, &windowY));
    ClickAt(window, windowX, windowY);
}

// A widget just shown is mapped at once and laid out at the next frame.
bool LaidOut(GtkWidget* widget)
{
    GtkAllocation allocation;
    gtk_widget_get_allocation(widget, &allocation);
    return gtk_widget_get_mapped(widget) && (allocation.width != 1 || allocation.height != 1);
}

void Click(GtkWidget* widget)
{
    ASSERT_TRUE(PumpUntil([widget] { return LaidOut(widget); }, 5s)) << gtk_widget_get_name(widget) << " is not on the screen";
    ClickOn(widget, gtk_widget_get_allocated_width(widget) / 2, gtk_widget_get_allocated_height(widget) / 2);
}

// The local server's request log: each request's head, in order.
class RequestLog {
public:
    explicit RequestLog(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }

    std::vector<std::string> Heads() const
    {
        std::ifstream file(path_, std::ios::binary);
        std::stringstream content;
        content << file.rdbuf();
        const std::string text = content.str();
        std::vector<std::string> heads;
        for (size_t start = 0; start < text.size();) {
            const size_t end = text.find("\r\n\r\n", start);
            if (end == std::string::npos)
                break;
            heads.push_back(text.substr(start, end + 2 - start));
            start = end + 4;
        }
        return heads;
    }
    std::vector<std::string> HeadsOf(const std::string& requestLineStart) const
    {
        std::vector<std::string> matching;
        for (const std::string& head : Heads())
            if (head.starts_with(requestLineStart))
                matching.push_back(head);
        return matching;
    }
    size_t Count(const std::string& requestLineStart) const { return HeadsOf(requestLineStart).size(); }

private:
    std::string path_;
};

bool HasHeader(const std::string& head, const std::string& name)
{
    std::string lower = head;
    for (char& c : lower)
        c = static_cast<char>(g_ascii_tolower(c));
    return lower.find("\r\n" + name + ":") != std::string::npos;
}

// Answers every message box that shows up, from a timeout, as a user would; remembers what it saw.
class MessageBoxAnswerer {
public:
    struct Seen {
        std::string caption;
        std::string text;
        std::vector<std::string> buttons;
    };

    MessageBoxAnswerer() { source_ = g_timeout_add(20, Poll, this); }
    ~MessageBoxAnswerer() { g_source_remove(source_); }
    const std::vector<Seen>& Boxes() const { return boxes_; }

private:
    static gboolean Poll(gpointer self)
    {
        auto* answerer = static_cast<MessageBoxAnswerer*>(self);
        for (GtkWindow* window : ShownToplevels()) {
            if (!GTK_IS_MESSAGE_DIALOG(window) || g_object_get_data(G_OBJECT(window), "answered"))
                continue;
            g_object_set_data(G_OBJECT(window), "answered", window);
            Seen seen;
            seen.caption = gtk_window_get_title(window) ? gtk_window_get_title(window) : "";
            gchar* text = nullptr;
            g_object_get(window, "text", &text, nullptr);
            seen.text = text ? text : "";
            g_free(text);
            GtkWidget* first = nullptr;
            for (GtkWidget* widget : Descendants(GTK_WIDGET(window))) {
                if (!GTK_IS_BUTTON(widget) || !gtk_widget_get_visible(widget) ||
                    gtk_style_context_has_class(gtk_widget_get_style_context(widget), "titlebutton"))
                    continue;
                seen.buttons.emplace_back(gtk_button_get_label(GTK_BUTTON(widget)) ? gtk_button_get_label(GTK_BUTTON(widget)) : "");
                first = first ? first : widget;
            }
            answerer->boxes_.push_back(seen);
            if (first)
                gtk_button_clicked(GTK_BUTTON(first));
        }
        return G_SOURCE_CONTINUE;
    }

    guint source_ = 0;
    std::vector<Seen> boxes_;
};

class MainWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartRuntime(); }

    void SetUp() override
    {
        const std::string ready = folder_.Path() + "/ready";
        server_ = std::make_unique<ChildProcess>(ChildProcess::Options{
            {"python3", QY_LOCAL_SERVER, "--log", log_.Path(), "--ready-file", ready}, "", {}, folder_.Path() + "/server.out"});
        ASSERT_TRUE(WaitForFile(ready, 15s)) << "the local server did not start on 127.0.0.1:8713";
        ASSERT_TRUE(LoadMainWindowLayout());
        OpenWindow();
    }

    void TearDown() override
    {
        if (MainWindowExists())
            gtk_widget_destroy(window_);
    }

    void OpenWindow()
    {
        ASSERT_TRUE(CreateMainWindow());
        std::vector<GtkWidget*> windows;
        GList* toplevels = gtk_window_list_toplevels();
        for (GList* item = toplevels; item; item = item->next)
            if (std::string("MainWindow") == gtk_widget_get_name(GTK_WIDGET(item->data)))
                windows.push_back(GTK_WIDGET(item->data));
        g_list_free(toplevels);
        ASSERT_EQ(windows.size(), 1u);
        window_ = windows[0];
        ASSERT_FALSE(gtk_widget_get_visible(window_)) << "the window is created hidden";
        view_ = WEBKIT_WEB_VIEW(Control(MainWindowLayout()[0]));
        started_ = finished_ = 0;
        g_signal_connect(view_, "load-changed", G_CALLBACK(OnLoadChanged), this);
        ShowMainWindow();
        ASSERT_TRUE(PumpUntil([this] { return gtk_widget_get_mapped(window_) && finished_ >= 1; }))
            << "the start page did not load";
    }

    static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self)
    {
        auto* test = static_cast<MainWindowTest*>(self);
        test->started_ += event == WEBKIT_LOAD_STARTED;
        test->finished_ += event == WEBKIT_LOAD_FINISHED;
    }

    GtkWidget* Control(const ControlRow& row)
    {
        std::vector<GtkWidget*> found = WidgetsNamed(window_, NameOf(row));
        EXPECT_EQ(found.size(), 1u) << NameOf(row);
        return found.empty() ? nullptr : found[0];
    }
    GtkWidget* Control(const std::string& name)
    {
        for (const ControlRow& row : MainWindowLayout())
            if (NameOf(row) == name)
                return Control(row);
        ADD_FAILURE() << "no control " << name;
        return nullptr;
    }

    // Waits until `count` more page loads than `before` have finished.
    bool WaitForLoads(int before, int count) { return PumpUntil([&] { return finished_ >= before + count && !webkit_web_view_is_loading(view_); }); }

    void ClickAndWaitForLoad(const std::string& button)
    {
        const int before = finished_;
        Click(Control(button));
        ASSERT_TRUE(WaitForLoads(before, 1)) << button;
    }

    std::string Address() const { return webkit_web_view_get_uri(view_) ? webkit_web_view_get_uri(view_) : ""; }

    // The selected page of each tab control by name.
    std::map<std::string, int> SelectedPages()
    {
        std::map<std::string, int> pages;
        for (const ControlRow& row : MainWindowLayout())
            if (row.kind == ControlKind::TabControl)
                pages[NameOf(row)] = gtk_notebook_get_current_page(NotebookOf(Control(row)));
        return pages;
    }

    // Shown: on the selected page of its container, which is itself shown.
    static bool ShouldShow(const ControlRow& row, const std::map<std::string, int>& selected)
    {
        if (!row.container)
            return true;
        for (const ControlRow& container : MainWindowLayout())
            if (std::string(container.name) == row.container)
                return selected.at(NameOf(container)) == row.page && ShouldShow(container, selected);
        return false;
    }

    void ExpectShownControls(const std::map<std::string, int>& selected, const std::string& when)
    {
        EXPECT_EQ(SelectedPages(), selected) << when;
        for (const ControlRow& row : MainWindowLayout())
            EXPECT_EQ(gtk_widget_get_mapped(Control(row)), ShouldShow(row, selected)) << NameOf(row) << " " << when;
    }

    void ClickTab(const std::string& tabControl, int page)
    {
        GtkNotebook* notebook = NotebookOf(Control(tabControl));
        ASSERT_NE(notebook, nullptr);
        Click(gtk_notebook_get_tab_label(notebook, gtk_notebook_get_nth_page(notebook, page)));
    }

    // Brings the page of the row's container to the front, and that of its container's.
    void SelectPageOf(const ControlRow& row)
    {
        if (!row.container)
            return;
        for (const ControlRow& container : MainWindowLayout())
            if (std::string(container.name) == row.container) {
                SelectPageOf(container);
                GtkNotebook* notebook = NotebookOf(Control(container));
                if (gtk_notebook_get_current_page(notebook) != row.page)
                    ClickTab(NameOf(container), row.page);
            }
    }

    TemporaryDirectory folder_;
    RequestLog log_{folder_.Path() + "/requests.log"};
    std::unique_ptr<ChildProcess> server_;
    GtkWidget* window_ = nullptr;
    WebKitWebView* view_ = nullptr;
    int started_ = 0;
    int finished_ = 0;
};

TEST_F(MainWindowTest, WindowIsFixedCentredAndCarriesTitleClassAndIcon)
{
    Display* display = XDisplay();
    const Window xid = GDK_WINDOW_XID(gtk_widget_get_window(window_));
    XWindowAttributes attributes;
    ASSERT_TRUE(XGetWindowAttributes(display, xid, &attributes));
    int left = 0;
    int top = 0;
    Window child;
    XTranslateCoordinates(display, xid, DefaultRootWindow(display), 0, 0, &left, &top, &child);
    const int screenWidth = WidthOfScreen(DefaultScreenOfDisplay(display));
    const int screenHeight = HeightOfScreen(DefaultScreenOfDisplay(display));
    // Outer size exactly, no shadow margin around it, centred with the remainder dropped.
    EXPECT_EQ(attributes.width, kOuterWidth);
    EXPECT_EQ(attributes.height, kOuterHeight);
    EXPECT_EQ(left, (screenWidth - kOuterWidth) / 2);
    EXPECT_EQ(top, (screenHeight - kOuterHeight) / 2);

    // Not resizable: the window manager is told one size only.
    XSizeHints hints{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(display, xid, &hints, &supplied));
    EXPECT_TRUE((hints.flags & PMinSize) && (hints.flags & PMaxSize));
    EXPECT_EQ(hints.min_width, kOuterWidth);
    EXPECT_EQ(hints.max_width, kOuterWidth);
    EXPECT_EQ(hints.min_height, kOuterHeight);
    EXPECT_EQ(hints.max_height, kOuterHeight);

    // No part of the X window is declared shadow.
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* extents = nullptr;
    XGetWindowProperty(display, xid, XInternAtom(display, "_GTK_FRAME_EXTENTS", False), 0, 4, False, XA_CARDINAL,
                       &type, &format, &count, &remaining, &extents);
    if (extents) {
        const auto* values = reinterpret_cast<const long*>(extents);
        for (unsigned long index = 0; index < count; ++index)
            EXPECT_EQ(values[index], 0) << "frame extent " << index;
        XFree(extents);
    }

    XClassHint classHint{};
    ASSERT_TRUE(XGetClassHint(display, xid, &classHint));
    EXPECT_STREQ(classHint.res_name, "qingyou");
    EXPECT_STREQ(classHint.res_class, "qingyou");
    XFree(classHint.res_name);
    XFree(classHint.res_class);

    EXPECT_EQ(std::string(gtk_window_get_title(GTK_WINDOW(window_))), Utf8(u8"霜岭群英录青柚修改器v3.6最新版"));
    EXPECT_FALSE(gtk_window_get_resizable(GTK_WINDOW(window_)));
    EXPECT_FALSE(gtk_window_get_skip_taskbar_hint(GTK_WINDOW(window_)));
    GList* icons = gtk_window_get_icon_list(GTK_WINDOW(window_));
    EXPECT_GE(g_list_length(icons), 1u);
    g_list_free(icons);

    // The caption has the close button only.
    std::vector<std::string> captionButtons;
    for (GtkWidget* widget : Descendants(window_)) {
        GtkStyleContext* style = gtk_widget_get_style_context(widget);
        if (GTK_IS_BUTTON(widget) && gtk_widget_get_mapped(widget) && gtk_style_context_has_class(style, "titlebutton"))
            for (const char* kind : {"close", "minimize", "maximize"})
                if (gtk_style_context_has_class(style, kind))
                    captionButtons.emplace_back(kind);
    }
    EXPECT_EQ(captionButtons, std::vector<std::string>{"close"});
}

TEST_F(MainWindowTest, ControlsSitWhereTheLayoutPutsThem)
{
    // The client area: 936 x 676 below the caption, inside the frame.
    GtkWidget* client = gtk_widget_get_parent(Control(MainWindowLayout()[0]));
    int clientX = -1;
    int clientY = -1;
    ASSERT_TRUE(gtk_widget_translate_coordinates(client, window_, 0, 0, &clientX, &clientY));
    EXPECT_EQ(clientX, 3);
    EXPECT_EQ(clientY, kOuterHeight - 3 - 676);
    EXPECT_EQ(gtk_widget_get_allocated_width(client), 936);
    EXPECT_EQ(gtk_widget_get_allocated_height(client), 676);

    const std::map<std::string, int> firstPages = SelectedPages();
    for (const auto& [name, page] : firstPages)
        EXPECT_EQ(page, 0) << name;
    ExpectShownControls(firstPages, "at start");

    std::set<std::string> controlNames;
    for (const ControlRow& row : MainWindowLayout())
        controlNames.insert(NameOf(row));
    for (const ControlRow& row : MainWindowLayout()) {
        GtkWidget* widget = Control(row);
        ASSERT_NE(widget, nullptr);
        // Show its page, then measure it against its container.
        for (const ControlRow* link = &row; link->container;) {
            for (const ControlRow& container : MainWindowLayout())
                if (std::string(container.name) == link->container) {
                    gtk_notebook_set_current_page(NotebookOf(Control(container)), link->page);
                    link = &container;
                    break;
                }
        }
        ASSERT_TRUE(PumpUntil([widget] { return LaidOut(widget); })) << NameOf(row);

        GtkWidget* container = row.container ? Control(platform::AnsiToUtf8(row.container)) : client;
        int x = 0;
        int y = 0;
        ASSERT_TRUE(gtk_widget_translate_coordinates(widget, container, 0, 0, &x, &y)) << NameOf(row);
        EXPECT_EQ(x, row.x) << NameOf(row);
        EXPECT_EQ(y, row.y) << NameOf(row);
        EXPECT_EQ(gtk_widget_get_allocated_width(widget), row.width) << NameOf(row);
        EXPECT_EQ(gtk_widget_get_allocated_height(widget), row.height) << NameOf(row);
        // The nearest control that holds it is the container the layout names.
        GtkWidget* holder = gtk_widget_get_parent(widget);
        while (holder && holder != client && !controlNames.contains(gtk_widget_get_name(holder)))
            holder = gtk_widget_get_parent(holder);
        EXPECT_EQ(holder, container) << NameOf(row);

        switch (row.kind) {
        case ControlKind::WebView:
            ASSERT_TRUE(WEBKIT_IS_WEB_VIEW(widget));
            // Text size step 2 of 5 is the page's own size, and only text grows with it.
            EXPECT_DOUBLE_EQ(webkit_web_view_get_zoom_level(WEBKIT_WEB_VIEW(widget)), 1.0);
            EXPECT_TRUE(webkit_settings_get_zoom_text_only(webkit_web_view_get_settings(WEBKIT_WEB_VIEW(widget))));
            break;
        case ControlKind::TabControl:
            ASSERT_NE(NotebookOf(widget), nullptr) << NameOf(row);
            EXPECT_EQ(TabTitles(NotebookOf(widget)), PageTitles(row)) << NameOf(row);
            break;
        case ControlKind::PushButton:
            ASSERT_TRUE(GTK_IS_BUTTON(widget)) << NameOf(row);
            EXPECT_EQ(std::string(gtk_button_get_label(GTK_BUTTON(widget))), platform::AnsiToUtf8(row.caption)) << NameOf(row);
            break;
        case ControlKind::EditBox:
            ASSERT_TRUE(GTK_IS_ENTRY(widget)) << NameOf(row);
            EXPECT_TRUE(gtk_editable_get_editable(GTK_EDITABLE(widget))) << NameOf(row);
            EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(widget)), "") << NameOf(row);
            break;
        }
    }
}

TEST_F(MainWindowTest, TheGamePageIsDrawn)
{
    // Without a GPU the page still reaches the screen: its dark night sky fills the view.
    GtkWidget* view = GTK_WIDGET(view_);
    auto darkShare = [view] {
        GdkWindow* window = gtk_widget_get_window(view);
        int x = 0;
        int y = 0;
        gtk_widget_translate_coordinates(view, gtk_widget_get_toplevel(view), 0, 0, &x, &y);
        std::unique_ptr<GdkPixbuf, void (*)(gpointer)> shot(
            gdk_pixbuf_get_from_window(gdk_window_get_toplevel(window), x, y, 936, 576), g_object_unref);
        if (!shot)
            return 0.0;
        const int stride = gdk_pixbuf_get_rowstride(shot.get());
        const int channels = gdk_pixbuf_get_n_channels(shot.get());
        const guchar* pixels = gdk_pixbuf_get_pixels(shot.get());
        int dark = 0;
        int total = 0;
        for (int row = 0; row < 576; row += 8)
            for (int column = 0; column < 936; column += 8) {
                const guchar* pixel = pixels + row * stride + column * channels;
                dark += pixel[0] + pixel[1] + pixel[2] < 3 * 128;
                ++total;
            }
        return static_cast<double>(dark) / total;
    };
    EXPECT_TRUE(PumpUntil([&] { return darkShare() > 0.5; })) << "share of dark pixels: " << darkShare();
}

TEST_F(MainWindowTest, TabsShowTheirOwnPagesAndKeepThemWhileHidden)
{
    using Pages = std::map<std::string, int>;
    struct Step {
        const char* tabControl;
        int page;
        Pages expected;
    };
    const Step steps[] = {
        {"选择夹2", 3, {{"选择夹1", 0}, {"选择夹2", 3}, {"选择夹3", 0}}},
        {"选择夹1", 1, {{"选择夹1", 1}, {"选择夹2", 3}, {"选择夹3", 0}}},
        {"选择夹3", 2, {{"选择夹1", 1}, {"选择夹2", 3}, {"选择夹3", 2}}},
        // Back to "修改功能": 选择夹2 shows the page chosen there before.
        {"选择夹1", 0, {{"选择夹1", 0}, {"选择夹2", 3}, {"选择夹3", 2}}},
        {"选择夹2", 1, {{"选择夹1", 0}, {"选择夹2", 1}, {"选择夹3", 2}}},
        {"选择夹1", 1, {{"选择夹1", 1}, {"选择夹2", 1}, {"选择夹3", 2}}},
    };
    for (const Step& step : steps) {
        const std::string what = "after a click on page " + std::to_string(step.page) + " of " + step.tabControl;
        ClickTab(step.tabControl, step.page);
        ASSERT_TRUE(PumpUntil([&] { return SelectedPages() == step.expected; }, 5s)) << what;
        SettleEvents();
        ExpectShownControls(step.expected, what);
    }
}

TEST_F(MainWindowTest, RefreshLoadsThePageShownNowAgain)
{
    ASSERT_EQ(log_.Count(kStartPage), 1u);
    const int before = finished_;
    webkit_web_view_evaluate_javascript(view_, "document.getElementById('about-link').click()", -1, nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
    ASSERT_TRUE(WaitForLoads(before, 1));
    ASSERT_TRUE(Address().ends_with("/flash/about.htm")) << Address();
    ASSERT_EQ(log_.Count(kAboutPage), 1u);

    // Each click is a new navigation to the page shown, never back to the start page.
    for (size_t click = 1; click <= 2; ++click) {
        const int startedBefore = started_;
        ClickAndWaitForLoad("按钮11");
        EXPECT_EQ(started_, startedBefore + 1);
        EXPECT_EQ(log_.Count(kAboutPage), 1 + click);
        EXPECT_EQ(log_.Count(kStartPage), 1u);
        EXPECT_TRUE(Address().ends_with("/flash/about.htm")) << Address();
    }
}

TEST_F(MainWindowTest, ClearCacheEmptiesTheCacheKeepsCookiesAndSaysSo)
{
    // The emblem may be kept for an hour: loading the page again takes it from the cache.
    ASSERT_EQ(log_.Count(kEmblem), 1u);
    ClickAndWaitForLoad("按钮11");
    ASSERT_EQ(log_.Count(kStartPage), 2u);
    ASSERT_EQ(log_.Count(kEmblem), 1u) << "the emblem was not cached to begin with";

    MessageBoxAnswerer answerer;
    const std::string before = Address();
    Click(Control("按钮10"));
    ASSERT_TRUE(PumpUntil([&] { return answerer.Boxes().size() == 1; })) << "no message box";
    EXPECT_EQ(answerer.Boxes()[0].caption, Utf8(u8"信息："));
    EXPECT_EQ(answerer.Boxes()[0].text, Utf8(u8"清理成功"));
    EXPECT_EQ(answerer.Boxes()[0].buttons.size(), 1u);
    EXPECT_EQ(Address(), before);

    // Fetched anew, not merely checked against a copy kept on disk; the cookie still goes along.
    ClickAndWaitForLoad("按钮11");
    const std::vector<std::string> emblems = log_.HeadsOf(kEmblem);
    ASSERT_EQ(emblems.size(), 2u) << "the emblem came from the cache after clearing it";
    EXPECT_FALSE(HasHeader(emblems[1], "if-none-match")) << emblems[1];
    EXPECT_FALSE(HasHeader(emblems[1], "if-modified-since")) << emblems[1];
    const std::vector<std::string> pages = log_.HeadsOf(kStartPage);
    EXPECT_NE(pages.back().find("qy_visits="), std::string::npos) << pages.back();

    // Every click tells it again.
    Click(Control("按钮10"));
    ASSERT_TRUE(PumpUntil([&] { return answerer.Boxes().size() == 2; })) << "no second message box";
    EXPECT_EQ(answerer.Boxes()[1].text, Utf8(u8"清理成功"));

    // Cache and cookies live in the user's folders.
    EXPECT_TRUE(std::filesystem::exists(std::string(g_get_user_data_dir()) + "/qingyou/cookies.sqlite"));
    EXPECT_TRUE(std::filesystem::is_directory(std::string(g_get_user_cache_dir()) + "/qingyou"));
}

TEST_F(MainWindowTest, InertButtonsChangeNothingAndShowNothing)
{
    MessageBoxAnswerer answerer;
    const size_t requests = log_.Heads().size();
    const std::string address = Address();
    const int started = started_;
    GtkWidget* edit = Control("编辑框1");
    gtk_entry_set_text(GTK_ENTRY(edit), "12.5");

    int clicked = 0;
    for (const ControlRow& row : MainWindowLayout()) {
        if (row.kind != ControlKind::PushButton || (row.clickHandler && std::string(row.clickHandler) != "OnSearchAgainClicked"))
            continue;
        SelectPageOf(row);
        const std::map<std::string, int> pages = SelectedPages();
        GtkWidget* button = Control(row);
        const gulong probe = g_signal_connect_swapped(button, "clicked", G_CALLBACK(+[](int* count) { ++*count; }), &clicked);
        const int before = clicked;
        Click(button);
        EXPECT_EQ(clicked, before + 1) << NameOf(row) << " did not get the click";
        g_signal_handler_disconnect(button, probe);
        EXPECT_EQ(SelectedPages(), pages) << NameOf(row);
    }
    EXPECT_GE(clicked, 20);
    PumpFor(1s);
    EXPECT_TRUE(answerer.Boxes().empty());
    EXPECT_EQ(ShownToplevels().size(), 1u);
    EXPECT_EQ(started_, started) << "a button started a navigation";
    EXPECT_EQ(Address(), address);
    EXPECT_EQ(log_.Heads().size(), requests);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(edit)), "12.5");
}

TEST_F(MainWindowTest, EarlierControlLiesAboveWhereTheyOverlap)
{
    // 按钮26 and 按钮25 share a strip 8 x 2 pixels on page "缩血3".
    ClickTab("选择夹1", 1);
    ClickTab("选择夹3", 2);
    GtkWidget* above = Control("按钮26");
    GtkWidget* below = Control("按钮25");
    ASSERT_TRUE(PumpUntil([&] { return LaidOut(above) && LaidOut(below); }, 5s));
    int clicks[2] = {0, 0};
    g_signal_connect_swapped(above, "clicked", G_CALLBACK(+[](int* count) { ++*count; }), &clicks[0]);
    g_signal_connect_swapped(below, "clicked", G_CALLBACK(+[](int* count) { ++*count; }), &clicks[1]);
    ClickOn(Control("选择夹3"), 404, 47);
    EXPECT_EQ(clicks[0], 1);
    EXPECT_EQ(clicks[1], 0);
}

TEST_F(MainWindowTest, ClosingIsNeverRefused)
{
    struct Way {
        const char* name;
        std::function<void(GtkWidget* window)> close;
    };
    const Way ways[] = {
        {"Alt+F4", [](GtkWidget* window) {
             // Keys go to the window under the pointer when no window manager sets the focus.
             PointAt(window, gtk_widget_get_allocated_width(window) / 2, 300);
             PressKeys({XK_Alt_L, XK_F4});
         }},
        {"the close button", [](GtkWidget* window) {
             for (GtkWidget* widget : Descendants(window))
                 if (GTK_IS_BUTTON(widget) && gtk_style_context_has_class(gtk_widget_get_style_context(widget), "close")) {
                     Click(widget);
                     return;
                 }
             ADD_FAILURE() << "no close button";
         }},
    };
    for (const Way& way : ways) {
        if (!MainWindowExists())
            OpenWindow();
        ASSERT_TRUE(MainWindowExists());
        way.close(window_);
        EXPECT_TRUE(PumpUntil([] { return !MainWindowExists(); }, 5s)) << way.name;
    }
}

}  // namespace
