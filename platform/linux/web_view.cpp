// The web view on WebKitGTK.
#include <webkit2/webkit2.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

#include "platform/linux/gobject_ptr.h"
#include "platform/linux/ui_gtk.h"
#include "platform/ui.h"

namespace platform::ui {

namespace {

// Text size steps, smallest to largest; step 2 is the page's own size.
constexpr double kTextZoom[] = {0.625, 0.8, 1.0, 1.25, 1.5};

std::string UserFolder(const char* base)
{
    GCharPtr path(g_build_filename(base, "qingyou", nullptr));
    return path.get();
}

// One web context for the process, so that every web view shares its cache and cookies.
WebKitWebContext* ProgramWebContext()
{
    static GObjectPtr<WebKitWebContext> context = [] {
        const std::string dataFolder = UserFolder(g_get_user_data_dir());
        GObjectPtr<WebKitWebsiteDataManager> manager(WEBKIT_WEBSITE_DATA_MANAGER(
            g_object_new(WEBKIT_TYPE_WEBSITE_DATA_MANAGER, "base-data-directory", dataFolder.c_str(),
                         "base-cache-directory", UserFolder(g_get_user_cache_dir()).c_str(), nullptr)));
        webkit_cookie_manager_set_persistent_storage(
            webkit_website_data_manager_get_cookie_manager(manager.get()),
            (dataFolder + "/cookies.sqlite").c_str(), WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
        GObjectPtr<WebKitWebContext> created(webkit_web_context_new_with_website_data_manager(manager.get()));
        webkit_web_context_set_cache_model(created.get(), WEBKIT_CACHE_MODEL_WEB_BROWSER);
        return created;
    }();
    return context.get();
}

const char8_t* PermissionSubject(WebKitPermissionRequest* request)
{
    if (WEBKIT_IS_GEOLOCATION_PERMISSION_REQUEST(request))
        return u8"你的位置";
    if (WEBKIT_IS_NOTIFICATION_PERMISSION_REQUEST(request))
        return u8"桌面通知";
    if (WEBKIT_IS_USER_MEDIA_PERMISSION_REQUEST(request))
        return u8"摄像头或麦克风";
    if (WEBKIT_IS_POINTER_LOCK_PERMISSION_REQUEST(request))
        return u8"鼠标指针锁定";
    if (WEBKIT_IS_CLIPBOARD_PERMISSION_REQUEST(request))
        return u8"剪贴板";
    if (WEBKIT_IS_DEVICE_INFO_PERMISSION_REQUEST(request))
        return u8"设备信息";
    if (WEBKIT_IS_WEBSITE_DATA_ACCESS_PERMISSION_REQUEST(request))
        return u8"其他网站的数据";
    if (WEBKIT_IS_MEDIA_KEY_SYSTEM_PERMISSION_REQUEST(request))
        return u8"受保护的媒体内容";
    return u8"额外的权限";
}

constexpr const char* kRequestKey = "qy-permission-request";

void OnPermissionAnswered(GtkDialog* dialog, int response, gpointer)
{
    auto* request = static_cast<WebKitPermissionRequest*>(g_object_get_data(G_OBJECT(dialog), kRequestKey));
    if (response == GTK_RESPONSE_YES)
        webkit_permission_request_allow(request);
    else
        webkit_permission_request_deny(request);
    gtk_widget_destroy(GTK_WIDGET(dialog));
}

// Asked like the browser's other dialogs, without holding up the page; no answer denies.
gboolean OnPermissionRequest(WebKitWebView* view, WebKitPermissionRequest* request, gpointer)
{
    GtkWidget* toplevel = gtk_widget_get_toplevel(GTK_WIDGET(view));
    GtkWidget* dialog = gtk_message_dialog_new(
        gtk_widget_is_toplevel(toplevel) ? GTK_WINDOW(toplevel) : nullptr,
        GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), GTK_MESSAGE_QUESTION,
        GTK_BUTTONS_YES_NO, Utf8(u8"此网页请求使用%s。是否允许？"), Utf8(PermissionSubject(request)));
    g_object_set_data_full(G_OBJECT(dialog), kRequestKey, g_object_ref(request), g_object_unref);
    g_signal_connect(dialog, "response", G_CALLBACK(OnPermissionAnswered), nullptr);
    gtk_widget_show(dialog);
    return TRUE;
}

WebKitWebView* AsWebView(Control* control)
{
    GtkWidget* widget = AsWidget(control);
    return widget && WEBKIT_IS_WEB_VIEW(widget) ? WEBKIT_WEB_VIEW(widget) : nullptr;
}

// A view's first page starts WebKit's web process, which holds the main thread for well over
// 100 ms. So until the view is shown a navigation is only noted; it starts from the main loop
// once the window has gone to the screen, and a window never shown loads nothing.
struct NotedPage {
    std::string address;  // empty: none noted
    bool shown = false;
    guint start = 0;  // the idle that starts the noted page, or 0
};

constexpr const char* kNotedKey = "qy-noted-page";

NotedPage* NotedPageOf(WebKitWebView* view)
{
    return static_cast<NotedPage*>(g_object_get_data(G_OBJECT(view), kNotedKey));
}

void ForgetNotedPage(NotedPage& noted)
{
    if (noted.start)
        g_source_remove(noted.start);
    noted.start = 0;
    noted.address.clear();
}

gboolean StartNotedPage(gpointer data)
{
    WebKitWebView* view = WEBKIT_WEB_VIEW(data);
    NotedPage& noted = *NotedPageOf(view);
    noted.start = 0;
    const std::string address = std::exchange(noted.address, std::string());
    if (!address.empty())
        webkit_web_view_load_uri(view, address.c_str());
    return G_SOURCE_REMOVE;
}

void OnViewMapped(GtkWidget* widget, gpointer)
{
    NotedPage& noted = *NotedPageOf(WEBKIT_WEB_VIEW(widget));
    if (noted.shown)
        return;
    noted.shown = true;
    // By then the request that maps the window has gone out to the display.
    if (!noted.address.empty())
        noted.start = g_idle_add(StartNotedPage, widget);
}

void OnViewDestroyed(GtkWidget* widget, gpointer)
{
    ForgetNotedPage(*NotedPageOf(WEBKIT_WEB_VIEW(widget)));
}

}  // namespace

Control* CreateWebView(const Placement& placement)
{
    GtkWidget* plane = PlaneFor(placement);
    if (!plane)
        return nullptr;
    GObjectPtr<WebKitSettings> settings(webkit_settings_new());
    webkit_settings_set_zoom_text_only(settings.get(), TRUE);
    // Pages draw in software: a machine without a usable GPU still shows them.
    webkit_settings_set_hardware_acceleration_policy(settings.get(), WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    GtkWidget* view = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", ProgramWebContext(),
                                              "settings", settings.get(), nullptr));
    g_signal_connect(view, "permission-request", G_CALLBACK(OnPermissionRequest), nullptr);
    g_object_set_data_full(G_OBJECT(view), kNotedKey, new NotedPage, [](gpointer data) {
        auto* noted = static_cast<NotedPage*>(data);
        ForgetNotedPage(*noted);
        delete noted;
    });
    g_signal_connect(view, "map", G_CALLBACK(OnViewMapped), nullptr);
    g_signal_connect(view, "destroy", G_CALLBACK(OnViewDestroyed), nullptr);
    return PutControl(plane, placement, view);
}

void SetWebViewTextSize(Control* webView, int step)
{
    if (WebKitWebView* view = AsWebView(webView))
        webkit_web_view_set_zoom_level(view, kTextZoom[std::clamp(step, 0, 4)]);
}

void NavigateWebView(Control* webView, const std::string& address)
{
    WebKitWebView* view = AsWebView(webView);
    if (!view)
        return;
    NotedPage& noted = *NotedPageOf(view);
    if (!noted.shown || noted.start) {
        noted.address = address;
        return;
    }
    webkit_web_view_load_uri(view, address.c_str());
}

std::string WebViewAddress(Control* webView)
{
    WebKitWebView* view = AsWebView(webView);
    if (!view)
        return "";
    if (const NotedPage& noted = *NotedPageOf(view); !noted.address.empty())
        return noted.address;
    const char* address = webkit_web_view_get_uri(view);
    return address ? address : "";
}

void ClearWebViewCache(Control* webView, std::function<void(CacheCleared)> done)
{
    WebKitWebView* view = AsWebView(webView);
    if (!view) {
        done(CacheCleared::No);
        return;
    }
    WebKitWebsiteDataManager* manager = webkit_web_context_get_website_data_manager(webkit_web_view_get_context(view));
    auto pending = std::make_unique<std::function<void(CacheCleared)>>(std::move(done));
    webkit_website_data_manager_clear(
        manager, WebKitWebsiteDataTypes(WEBKIT_WEBSITE_DATA_MEMORY_CACHE | WEBKIT_WEBSITE_DATA_DISK_CACHE),
        0, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::function<void(CacheCleared)>> done(static_cast<std::function<void(CacheCleared)>*>(data));
            GError* error = nullptr;
            const bool cleared = webkit_website_data_manager_clear_finish(WEBKIT_WEBSITE_DATA_MANAGER(source), result, &error);
            g_clear_error(&error);
            (*done)(cleared ? CacheCleared::Yes : CacheCleared::No);
        },
        pending.release());
}

}  // namespace platform::ui
