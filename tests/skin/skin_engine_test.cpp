// The engine library itself, loaded by path and called directly, against a small window of controls.
// Needs a display.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <gtk/gtk.h>

#include <cmath>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "skin/engine/skin_format.h"
#include "skin/skin_data.h"

using namespace skin;

namespace {

using AttachFunction = int32_t (*)(const uint8_t*, int32_t, const char*, int32_t, int32_t, int32_t);

struct Controls {
    GtkWidget* window = nullptr;
    GtkWidget* titleBar = nullptr;
    GtkWidget* button = nullptr;
    GtkWidget* entry = nullptr;
    GtkWidget* tabs = nullptr;
};

Rgba ToRgba(const GdkRGBA& colour)
{
    auto part = [](double value) { return static_cast<uint8_t>(std::lround(value * 255)); };
    return Rgba{part(colour.red), part(colour.green), part(colour.blue), part(colour.alpha)};
}

Rgba StyleColour(GtkWidget* widget, const char* property)
{
    GtkStyleContext* context = gtk_widget_get_style_context(widget);
    GdkRGBA* colour = nullptr;
    gtk_style_context_get(context, gtk_style_context_get_state(context), property, &colour, nullptr);
    Rgba result = colour ? ToRgba(*colour) : Rgba{};
    gdk_rgba_free(colour);
    return result;
}

Rgba First(const Fill& fill) { return fill.stops.front().colour; }

Skin Built(int32_t number)
{
    Skin parsed;
    EXPECT_EQ(ParseSkin(SkinTableEntry(number).Bytes(), parsed), SkinError::None);
    return parsed;
}

class SkinEngine : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!gtk_init_check(nullptr, nullptr)) return;
        engine = dlopen(SKIN_ENGINE_FILE, RTLD_NOW | RTLD_LOCAL);
        if (engine) attach = reinterpret_cast<AttachFunction>(dlsym(engine, "SkinH_AttachRes"));

        controls.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        controls.titleBar = gtk_header_bar_new();
        gtk_header_bar_set_title(GTK_HEADER_BAR(controls.titleBar), "Skin");
        gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(controls.titleBar), TRUE);
        gtk_window_set_titlebar(GTK_WINDOW(controls.window), controls.titleBar);
        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
        controls.button = gtk_button_new_with_label("Button");
        controls.entry = gtk_entry_new();
        controls.tabs = gtk_notebook_new();
        gtk_notebook_append_page(GTK_NOTEBOOK(controls.tabs), gtk_label_new("one"), gtk_label_new("One"));
        gtk_notebook_append_page(GTK_NOTEBOOK(controls.tabs), gtk_label_new("two"), gtk_label_new("Two"));
        for (GtkWidget* child : {controls.button, controls.entry, controls.tabs})
            gtk_box_pack_start(GTK_BOX(box), child, FALSE, FALSE, 0);
        gtk_container_add(GTK_CONTAINER(controls.window), box);
    }

    void SetUp() override
    {
        if (!gdk_display_get_default()) GTEST_SKIP() << "no display";
        ASSERT_NE(attach, nullptr) << dlerror();
    }

    static int32_t Attach(std::span<const uint8_t> bytes)
    {
        return attach(bytes.data(), static_cast<int32_t>(bytes.size()), "", 0, 0, 0);
    }

    // The colours that the controls get now, as the skin describes them.
    static void ExpectLooksOf(const Skin& skin, const std::string& which)
    {
        const Look& bar = (gtk_widget_get_state_flags(controls.titleBar) & GTK_STATE_FLAG_BACKDROP)
                              ? skin.titleBar.backdrop
                              : skin.titleBar.active;
        EXPECT_EQ(StyleColour(controls.titleBar, "background-color"), First(bar.fill)) << which;
        EXPECT_EQ(StyleColour(controls.button, "background-color"), First(skin.button.normal.fill)) << which;
        EXPECT_EQ(StyleColour(controls.button, "border-left-color"), skin.button.normal.border) << which;
        EXPECT_EQ(StyleColour(controls.button, "color"), skin.button.normal.text) << which;
        EXPECT_EQ(StyleColour(controls.entry, "background-color"), First(skin.entry.normal.fill)) << which;
        EXPECT_EQ(StyleColour(controls.entry, "caret-color"), skin.entry.caret) << which;
        EXPECT_EQ(StyleColour(controls.window, "background-color"), First(skin.window.body.fill)) << which;
    }

    static inline void* engine = nullptr;
    static inline AttachFunction attach = nullptr;
    static inline Controls controls;
};

}  // namespace

TEST_F(SkinEngine, AttachedSkinColoursTheControlsAndASecondReplacesIt)
{
    for (int32_t number : {43, 21, 31, 43}) {
        ASSERT_EQ(Attach(SkinTableEntry(number).Bytes()), 0) << number;
        ExpectLooksOf(Built(number), "skin " + std::to_string(number));
    }
}

TEST_F(SkinEngine, ARefusedSkinLeavesTheLookAsItWas)
{
    ASSERT_EQ(Attach(SkinTableEntry(43).Bytes()), 0);
    auto valid = SkinTableEntry(21).Bytes();
    std::vector<uint8_t> wrongMagic(valid.begin(), valid.end());
    wrongMagic[0] = 'X';
    std::vector<uint8_t> corrupt(valid.begin(), valid.end());
    corrupt[corrupt.size() / 2] ^= 0xFF;
    std::vector<uint8_t> future(valid.begin(), valid.end());
    future[4] = 2;

    struct Case {
        const char* what;
        const uint8_t* bytes;
        int32_t length;
        const char* options;
        int32_t reserved;
        int32_t expected;
    };
    const Case cases[] = {
        {"null pointer and length 0", nullptr, 0, "", 0, 1},
        {"null pointer with a length", nullptr, 100, "", 0, 1},
        {"bytes with length 0", valid.data(), 0, "", 0, 1},
        {"negative length", valid.data(), -5, "", 0, 1},
        {"not a skin", wrongMagic.data(), static_cast<int32_t>(wrongMagic.size()), "", 0, 2},
        {"a later major version", future.data(), static_cast<int32_t>(future.size()), "", 0, 3},
        {"cut short", valid.data(), static_cast<int32_t>(valid.size() - 1), "", 0, 4},
        {"a damaged byte", corrupt.data(), static_cast<int32_t>(corrupt.size()), "", 0, 6},
        {"options we do not know", valid.data(), static_cast<int32_t>(valid.size()), "fast", 0, 20},
        {"a reserved argument set", valid.data(), static_cast<int32_t>(valid.size()), "", 1, 20},
    };
    Skin harbour = Built(43);
    for (const Case& c : cases) {
        EXPECT_EQ(attach(c.bytes, c.length, c.options, c.reserved, 0, 0), c.expected) << c.what;
        ExpectLooksOf(harbour, c.what);
    }
    EXPECT_EQ(attach(valid.data(), static_cast<int32_t>(valid.size()), nullptr, 0, 0, 0), 0) << "no options at all";
}

TEST_F(SkinEngine, TheEngineKeepsItsOwnCopy)
{
    auto bytes = SkinTableEntry(21).Bytes();
    auto* handed = new uint8_t[bytes.size()];
    std::memcpy(handed, bytes.data(), bytes.size());
    ASSERT_EQ(attach(handed, static_cast<int32_t>(bytes.size()), "", 0, 0, 0), 0);
    std::memset(handed, 0xAA, bytes.size());
    delete[] handed;
    gtk_style_context_reset_widgets(gdk_screen_get_default());
    ExpectLooksOf(Built(21), "after the caller released its bytes");
}

TEST_F(SkinEngine, TheUsersOwnStyleDoesNotWinOverTheSkin)
{
    ASSERT_EQ(Attach(SkinTableEntry(43).Bytes()), 0);
    GtkCssProvider* user = gtk_css_provider_new();
    gtk_css_provider_load_from_data(
        user, "button, entry, headerbar { background-color: #ff00ff; background-image: none; }", -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(user),
                                              GTK_STYLE_PROVIDER_PRIORITY_USER);
    ExpectLooksOf(Built(43), "with a user style sheet");
    gtk_style_context_remove_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(user));
    g_object_unref(user);
}
