// The program's window and its controls on GTK 3.
#include <gtk/gtk.h>

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/linux/gobject_ptr.h"
#include "platform/linux/ui_gtk.h"
#include "platform/ui.h"

extern "C" void qy_icons_register_resource(void);

// ---- QyPlane: places each child at an exact rectangle and clips it to its own area ----------

namespace {

struct PlaneChild {
    GtkWidget* widget;
    GdkRectangle rect;
};

}  // namespace

struct QyPlane {
    GtkContainer parent;
    std::vector<PlaneChild> children;  // bottom first
};

struct QyPlaneClass {
    GtkContainerClass parentClass;
};

G_DEFINE_TYPE(QyPlane, qy_plane, GTK_TYPE_CONTAINER)

namespace {

QyPlane* AsPlane(gpointer instance)
{
    return G_TYPE_CHECK_INSTANCE_CAST(instance, qy_plane_get_type(), QyPlane);
}

void PlaneFinalize(GObject* object)
{
    AsPlane(object)->children.~vector();
    G_OBJECT_CLASS(qy_plane_parent_class)->finalize(object);
}

void PlaneRealize(GtkWidget* widget)
{
    if (!gtk_widget_get_has_window(widget)) {
        GTK_WIDGET_CLASS(qy_plane_parent_class)->realize(widget);
        return;
    }
    GtkAllocation allocation;
    gtk_widget_get_allocation(widget, &allocation);
    gtk_widget_set_realized(widget, TRUE);

    GdkWindowAttr attributes{};
    attributes.window_type = GDK_WINDOW_CHILD;
    attributes.x = allocation.x;
    attributes.y = allocation.y;
    attributes.width = allocation.width;
    attributes.height = allocation.height;
    attributes.wclass = GDK_INPUT_OUTPUT;
    attributes.visual = gtk_widget_get_visual(widget);
    attributes.event_mask = gtk_widget_get_events(widget) | GDK_EXPOSURE_MASK;
    GdkWindow* window = gdk_window_new(gtk_widget_get_parent_window(widget), &attributes,
                                       GDK_WA_X | GDK_WA_Y | GDK_WA_VISUAL);
    gtk_widget_set_window(widget, window);
    gtk_widget_register_window(widget, window);
}

void PlaneSizeAllocate(GtkWidget* widget, GtkAllocation* allocation)
{
    gtk_widget_set_allocation(widget, allocation);
    // Children are placed in the coordinates of the nearest window.
    GdkPoint origin{allocation->x, allocation->y};
    if (gtk_widget_get_has_window(widget)) {
        origin = {0, 0};
        if (gtk_widget_get_realized(widget))
            gdk_window_move_resize(gtk_widget_get_window(widget), allocation->x, allocation->y,
                                   allocation->width, allocation->height);
    }
    for (const PlaneChild& child : AsPlane(widget)->children) {
        if (!gtk_widget_get_visible(child.widget))
            continue;
        // Themes ask for more room than the layout gives; the layout's size wins.
        GtkRequisition unused;
        gtk_widget_get_preferred_size(child.widget, &unused, nullptr);
        GtkAllocation rect{origin.x + child.rect.x, origin.y + child.rect.y, child.rect.width, child.rect.height};
        gtk_widget_size_allocate(child.widget, &rect);
    }
}

void PlanePreferredSize(GtkWidget*, int* minimum, int* natural)
{
    *minimum = 0;
    *natural = 0;
}

gboolean PlaneDraw(GtkWidget* widget, cairo_t* cr)
{
    gtk_render_background(gtk_widget_get_style_context(widget), cr, 0, 0,
                          gtk_widget_get_allocated_width(widget), gtk_widget_get_allocated_height(widget));
    return GTK_WIDGET_CLASS(qy_plane_parent_class)->draw(widget, cr);
}

void PlaneForall(GtkContainer* container, gboolean, GtkCallback callback, gpointer data)
{
    // The callback may remove children.
    std::vector<PlaneChild> children = AsPlane(container)->children;
    for (const PlaneChild& child : children)
        callback(child.widget, data);
}

void PlaneRemove(GtkContainer* container, GtkWidget* widget)
{
    std::vector<PlaneChild>& children = AsPlane(container)->children;
    auto found = std::find_if(children.begin(), children.end(),
                              [widget](const PlaneChild& child) { return child.widget == widget; });
    if (found == children.end())
        return;
    const bool wasVisible = gtk_widget_get_visible(widget);
    gtk_widget_unparent(widget);
    children.erase(found);
    if (wasVisible && gtk_widget_get_visible(GTK_WIDGET(container)))
        gtk_widget_queue_resize(GTK_WIDGET(container));
}

enum class Stacking { AboveOthers, BeneathOthers };

void PlanePut(GtkWidget* plane, GtkWidget* child, GdkRectangle rect, Stacking stacking)
{
    std::vector<PlaneChild>& children = AsPlane(plane)->children;
    if (stacking == Stacking::AboveOthers)
        children.push_back({child, rect});
    else
        children.insert(children.begin(), {child, rect});
    gtk_widget_set_parent(child, plane);
}

void PlaneAdd(GtkContainer* container, GtkWidget* widget)
{
    PlanePut(GTK_WIDGET(container), widget, {0, 0, 0, 0}, Stacking::AboveOthers);
}

GType PlaneChildType(GtkContainer*) { return GTK_TYPE_WIDGET; }

// A plane with a window of its own clips what it holds; one without is invisible to the pointer.
enum class OwnWindow { Yes, No };

GtkWidget* NewPlane(int width, int height, OwnWindow ownWindow, const char* styleClass = nullptr)
{
    GtkWidget* plane = GTK_WIDGET(g_object_new(qy_plane_get_type(), nullptr));
    gtk_widget_set_has_window(plane, ownWindow == OwnWindow::Yes);
    gtk_widget_set_size_request(plane, width, height);
    if (styleClass)
        gtk_style_context_add_class(gtk_widget_get_style_context(plane), styleClass);
    return plane;
}

}  // namespace

static void qy_plane_init(QyPlane* plane)
{
    new (&plane->children) std::vector<PlaneChild>();
    gtk_widget_set_has_window(GTK_WIDGET(plane), TRUE);
}

static void qy_plane_class_init(QyPlaneClass* planeClass)
{
    G_OBJECT_CLASS(planeClass)->finalize = PlaneFinalize;
    GtkWidgetClass* widgetClass = GTK_WIDGET_CLASS(planeClass);
    widgetClass->realize = PlaneRealize;
    widgetClass->size_allocate = PlaneSizeAllocate;
    widgetClass->get_preferred_width = PlanePreferredSize;
    widgetClass->get_preferred_height = PlanePreferredSize;
    widgetClass->draw = PlaneDraw;
    GtkContainerClass* containerClass = GTK_CONTAINER_CLASS(planeClass);
    containerClass->add = PlaneAdd;
    containerClass->remove = PlaneRemove;
    containerClass->forall = PlaneForall;
    containerClass->child_type = PlaneChildType;
}

namespace platform::ui {

namespace {

// Window frame: a caption bar above the client area and a thin frame on the other sides.
constexpr int kCaptionHeight = 26;
constexpr int kFrameWidth = 3;

constexpr const char* kClientKey = "qy-client";
constexpr const char* kPagesKey = "qy-pages";
constexpr const char* kProgramName = "qingyou";

// The frame's parts have fixed sizes, whatever the theme would like; controls stay as compact
// as the layout needs them.
constexpr char8_t kStyle[] = u8R"(
window.qingyou decoration { margin: 0; padding: 0; border: none; border-radius: 0; box-shadow: none; }
window.qingyou { border-radius: 0; }
window.qingyou .qy-caption headerbar { min-height: 0; padding: 0 0 0 4px; margin: 0; border-radius: 0; }
window.qingyou .qy-caption headerbar .title { font-weight: bold; }
window.qingyou .qy-caption headerbar button.titlebutton { min-height: 18px; min-width: 18px; padding: 0; margin: 0 2px; }
window.qingyou .qy-caption headerbar image.titlebutton { margin: 0 2px; }
window.qingyou .qy-frame { background-color: @borders; }
window.qingyou .qy-client { background-color: @theme_bg_color; }
window.qingyou .qy-client button { min-height: 0; min-width: 0; padding: 0 2px; }
window.qingyou .qy-client entry { min-height: 0; padding: 0 3px; background-color: #ffffff; }
window.qingyou .qy-client notebook > header { padding: 0; }
window.qingyou .qy-client notebook > header > tabs { margin: 0; }
window.qingyou .qy-client notebook > header > tabs > tab { min-height: 0; min-width: 0; padding: 1px 8px; }
)";

void InstallStyle()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    GObjectPtr<GtkCssProvider> provider(gtk_css_provider_new());
    gtk_css_provider_load_from_data(provider.get(), Utf8(kStyle), -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(provider.get()),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

// The icon at the sizes that title bars, task bars and switchers show a window's own icon at;
// launchers take the larger ones from the installed icon theme. Decoding the large ones and
// handing them to the X server cost a start some 15 ms.
GList* ApplicationIcons()
{
    static bool registered = false;
    if (!registered) {
        qy_icons_register_resource();
        registered = true;
    }
    GList* icons = nullptr;
    for (int size : {16, 24, 32, 48, 64}) {
        std::string path = "/qingyou/icons/" + std::to_string(size) + ".png";
        if (GdkPixbuf* icon = gdk_pixbuf_new_from_resource(path.c_str(), nullptr))
            icons = g_list_append(icons, icon);
    }
    return icons;
}

void SetApplicationIcon(GtkWindow* window)
{
    GList* icons = ApplicationIcons();
    gtk_window_set_icon_list(window, icons);
    // Message boxes and the web view's own dialogs carry it too.
    gtk_window_set_default_icon_list(icons);
    g_list_free_full(icons, g_object_unref);
}

gboolean OnFrameKeyPress(GtkWidget* window, GdkEventKey* event)
{
    // A window manager takes Alt+F4 itself; without one the window closes all the same.
    const GdkModifierType modifiers =
        GdkModifierType(event->state & gtk_accelerator_get_default_mod_mask());
    if (event->keyval == GDK_KEY_F4 && modifiers == GDK_MOD1_MASK) {
        gtk_window_close(GTK_WINDOW(window));
        return TRUE;
    }
    return FALSE;
}

GtkWidget* NewCaption(const WindowProperties& properties)
{
    GtkWidget* caption = NewPlane(properties.outer.width, kCaptionHeight, OwnWindow::Yes, "qy-caption");
    GtkWidget* bar = gtk_header_bar_new();
    gtk_header_bar_set_title(GTK_HEADER_BAR(bar), properties.title.c_str());
    gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(bar), TRUE);
    gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(bar), "icon:close");
    PlanePut(caption, bar, {0, 0, properties.outer.width, kCaptionHeight}, Stacking::AboveOthers);
    gtk_widget_show(bar);
    gtk_widget_show(caption);
    return caption;
}

}  // namespace

Size PrimaryScreenSize()
{
    GdkDisplay* display = gdk_display_get_default();
    if (!display)
        return {};
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (!monitor)
        monitor = gdk_display_get_monitor(display, 0);
    if (!monitor)
        return {};
    GdkRectangle geometry;
    gdk_monitor_get_geometry(monitor, &geometry);
    return {geometry.width, geometry.height};
}

Control* CreateMainFrame(const WindowProperties& properties)
{
    const int clientWidth = properties.outer.width - 2 * kFrameWidth;
    const int clientHeight = properties.outer.height - kCaptionHeight - kFrameWidth;
    if (!gdk_display_get_default() || clientWidth <= 0 || clientHeight <= 0)
        return nullptr;
    // The desktop entry finds the program's windows by this class.
    g_set_prgname(kProgramName);
    gdk_set_program_class(kProgramName);
    InstallStyle();

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_set_name(window, properties.name.c_str());
    gtk_style_context_add_class(gtk_widget_get_style_context(window), "qingyou");
    gtk_window_set_title(GTK_WINDOW(window), properties.title.c_str());
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_NORMAL);
    SetApplicationIcon(GTK_WINDOW(window));
    gtk_window_set_titlebar(GTK_WINDOW(window), NewCaption(properties));

    GtkWidget* frame = NewPlane(properties.outer.width, clientHeight + kFrameWidth, OwnWindow::Yes, "qy-frame");
    GtkWidget* client = NewPlane(clientWidth, clientHeight, OwnWindow::Yes, "qy-client");
    PlanePut(frame, client, {kFrameWidth, 0, clientWidth, clientHeight}, Stacking::AboveOthers);
    gtk_container_add(GTK_CONTAINER(window), frame);
    gtk_widget_show(client);
    gtk_widget_show(frame);
    g_object_set_data(G_OBJECT(window), kClientKey, client);

    gtk_window_move(GTK_WINDOW(window), properties.outer.x, properties.outer.y);
    g_signal_connect(window, "key-press-event", G_CALLBACK(OnFrameKeyPress), nullptr);
    if (properties.onDestroyed)
        ConnectSignal<void>(window, "destroy", properties.onDestroyed);
    return AsControl(window);
}

void ShowWindow(Control* window)
{
    if (window)
        gtk_widget_show(AsWidget(window));
}

void DestroyWindow(Control* window)
{
    if (window)
        gtk_widget_destroy(AsWidget(window));
}

GtkWidget* PlaneFor(const Placement& placement)
{
    if (!placement.container || placement.page < 0)
        return nullptr;
    GObject* container = G_OBJECT(AsWidget(placement.container));
    if (auto* client = static_cast<GtkWidget*>(g_object_get_data(container, kClientKey)))
        return placement.page == 0 ? client : nullptr;
    if (auto* pages = static_cast<std::vector<GtkWidget*>*>(g_object_get_data(container, kPagesKey))) {
        if (placement.page < static_cast<int>(pages->size()))
            return (*pages)[placement.page];
    }
    return nullptr;
}

Control* PutControl(GtkWidget* plane, const Placement& placement, GtkWidget* widget)
{
    gtk_widget_set_name(widget, placement.name.c_str());
    const Rect& rect = placement.rect;
    PlanePut(plane, widget, {rect.x, rect.y, rect.width, rect.height}, Stacking::BeneathOthers);
    gtk_widget_show(widget);
    return AsControl(widget);
}

Control* CreateTabControl(const Placement& placement, std::span<const std::string> pageTitles)
{
    GtkWidget* plane = PlaneFor(placement);
    if (!plane || pageTitles.empty())
        return nullptr;
    const int width = placement.rect.width;
    const int height = placement.rect.height;
    // The tabs lie beneath one layer per page; each layer spans the whole control, tab strip
    // included, so that its controls sit where the layout puts them. Layers have no window, so
    // clicks between the controls reach the tabs.
    GtkWidget* tabs = NewPlane(width, height, OwnWindow::Yes);
    GtkWidget* notebook = gtk_notebook_new();
    gtk_notebook_set_tab_pos(GTK_NOTEBOOK(notebook), GTK_POS_TOP);
    PlanePut(tabs, notebook, {0, 0, width, height}, Stacking::AboveOthers);
    // The tab control owns the list of its page layers.
    auto* pages = std::make_unique<std::vector<GtkWidget*>>().release();
    g_object_set_data_full(G_OBJECT(tabs), kPagesKey, pages,
                           [](gpointer data) { delete static_cast<std::vector<GtkWidget*>*>(data); });
    for (const std::string& title : pageTitles) {
        GtkWidget* emptyPage = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_widget_show(emptyPage);
        gtk_notebook_append_page(GTK_NOTEBOOK(notebook), emptyPage, gtk_label_new(title.c_str()));
        GtkWidget* layer = NewPlane(width, height, OwnWindow::No);
        PlanePut(tabs, layer, {0, 0, width, height}, Stacking::AboveOthers);
        gtk_widget_set_visible(layer, pages->empty());
        pages->push_back(layer);
    }
    gtk_widget_show(notebook);
    ConnectSignal<void, GtkWidget*, guint>(notebook, "switch-page", [pages](GtkWidget*, guint selected) {
        for (size_t page = 0; page < pages->size(); ++page)
            gtk_widget_set_visible((*pages)[page], page == selected);
    });
    return PutControl(plane, placement, tabs);
}

Control* CreatePushButton(const Placement& placement, const std::string& caption,
                          std::function<void()> onClick)
{
    GtkWidget* plane = PlaneFor(placement);
    if (!plane)
        return nullptr;
    GtkWidget* button = gtk_button_new_with_label(caption.c_str());
    if (onClick)
        ConnectSignal<void>(button, "clicked", std::move(onClick));
    return PutControl(plane, placement, button);
}

Control* CreateEditBox(const Placement& placement)
{
    GtkWidget* plane = PlaneFor(placement);
    if (!plane)
        return nullptr;
    GtkWidget* entry = gtk_entry_new();
    // Its width comes from the layout alone.
    gtk_entry_set_width_chars(GTK_ENTRY(entry), 0);
    return PutControl(plane, placement, entry);
}

}  // namespace platform::ui
