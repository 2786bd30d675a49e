// The program's main window with the start skin, read back from the screen. Needs a display; runs in a
// folder of its own because ApplySkin writes the engine beside it.
#include <gtest/gtest.h>

#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "app/main_window.h"
#include "app/program.h"
#include "skin/engine/skin_format.h"
#include "skin/gallery/on_screen.h"
#include "skin/skin_data.h"
#include "skin/skin_deploy.h"

using namespace skin;

namespace {

GtkWidget* FindWidget(GtkWidget* root, const std::function<bool(GtkWidget*)>& wanted)
{
    if (wanted(root)) return root;
    if (!GTK_IS_CONTAINER(root)) return nullptr;
    GtkWidget* found = nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(root));
    for (GList* item = children; item && !found; item = item->next) found = FindWidget(GTK_WIDGET(item->data), wanted);
    g_list_free(children);
    return found;
}

// The colour on the screen at a point of a widget, as a person would see it.
Rgba ScreenColour(GtkWidget* widget, int x, int y)
{
    GtkWidget* top = gtk_widget_get_toplevel(widget);
    int inTop = 0, downTop = 0, rootX = 0, rootY = 0;
    gtk_widget_translate_coordinates(widget, top, x, y, &inTop, &downTop);
    gdk_window_get_origin(gtk_widget_get_window(top), &rootX, &rootY);
    GdkPixbuf* pixel = gdk_pixbuf_get_from_window(gdk_get_default_root_window(), rootX + inTop, rootY + downTop, 1, 1);
    if (!pixel) return Rgba{};
    const guchar* p = gdk_pixbuf_get_pixels(pixel);
    Rgba colour{p[0], p[1], p[2], 255};
    g_object_unref(pixel);
    return colour;
}

::testing::AssertionResult Near(Rgba seen, Rgba expected, int tolerance)
{
    int worst = std::max({std::abs(seen.r - expected.r), std::abs(seen.g - expected.g), std::abs(seen.b - expected.b)});
    if (worst <= tolerance) return ::testing::AssertionSuccess();
    char text[96];
    std::snprintf(text, sizeof text, "seen #%02x%02x%02x, the skin has #%02x%02x%02x", seen.r, seen.g, seen.b,
                  expected.r, expected.g, expected.b);
    return ::testing::AssertionFailure() << text;
}

}  // namespace

TEST(SkinWindow, StartSkinDrawsTheTitleBarAndThePushButtons)
{
    // An engine left here by an earlier build would be found and kept: start from the one just built.
    std::filesystem::remove(std::filesystem::read_symlink("/proc/self/exe").parent_path() / "SkinH_EL.dll");
    PrepareProcess();
    if (!gdk_display_get_default()) GTEST_SKIP() << "no display";
    ASSERT_TRUE(CreateMainWindow());
    ApplySkin(43);
    ShowMainWindow();
    Settle(2500);

    Skin harbour;
    ASSERT_EQ(ParseSkin(SkinTableEntry(43).Bytes(), harbour), SkinError::None);
    GtkWidget* window = ShownMainWindow();
    ASSERT_NE(window, nullptr);

    GtkWidget* titleBar = FindWidget(window, [](GtkWidget* w) { return GTK_IS_HEADER_BAR(w); });
    ASSERT_NE(titleBar, nullptr);
    // The top row, left of the centred title: the first colour of the bar's gradient. Without a window
    // manager the focus follows the pointer, which other tests on the display may move at any time.
    int barWidth = gtk_widget_get_allocated_width(titleBar);
    Rgba seen = ScreenColour(titleBar, barWidth / 4, 1);
    EXPECT_TRUE(Near(seen, harbour.titleBar.active.fill.stops.front().colour, 16) ||
                Near(seen, harbour.titleBar.backdrop.fill.stops.front().colour, 16))
        << "title bar: " << Near(seen, harbour.titleBar.active.fill.stops.front().colour, 16).message();

    // The frame around the client area takes the skin's border colour.
    GtkWidget* frame = FindWidget(window, [](GtkWidget* w) {
        return gtk_style_context_has_class(gtk_widget_get_style_context(w), "qy-frame");
    });
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(Near(ScreenColour(frame, 1, gtk_widget_get_allocated_height(frame) / 2), harbour.window.body.border, 8))
        << "frame";

    for (const char8_t* utf8 : {u8"刷新游戏", u8"清理缓存"}) {
        std::string caption(reinterpret_cast<const char*>(utf8));
        GtkWidget* button = FindWidget(window, [caption](GtkWidget* w) {
            return GTK_IS_BUTTON(w) && gtk_button_get_label(GTK_BUTTON(w)) &&
                   gtk_button_get_label(GTK_BUTTON(w)) == caption;
        });
        ASSERT_NE(button, nullptr) << caption;
        GtkStateFlags state = gtk_widget_get_state_flags(button);
        const Look& look = (state & GTK_STATE_FLAG_PRELIGHT)  ? harbour.button.hover
                           : (state & GTK_STATE_FLAG_FOCUSED) ? harbour.button.focused
                                                               : harbour.button.normal;
        int height = gtk_widget_get_allocated_height(button);
        EXPECT_TRUE(Near(ScreenColour(button, 0, height / 2), look.border, 8)) << caption << ": left border";
    }
}
