// The engine's one export: takes a skin and from then on draws the program's windows with it.
#include <gtk/gtk.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "skin/engine/skin_css.h"
#include "skin/engine/skin_format.h"

namespace {

// Codes of refusals that are not about the skin's bytes; those are the SkinError values.
constexpr int32_t kRefusedArguments = 20;
constexpr int32_t kRefusedNoDisplay = 21;
constexpr int32_t kRefusedByToolkit = 22;

// Above the user's own style sheet, so the skin is what the window shows.
constexpr guint kSkinPriority = GTK_STYLE_PROVIDER_PRIORITY_USER + 100;

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using ProviderPtr = std::unique_ptr<GtkCssProvider, GObjectUnref>;

struct Attached {
    GdkScreen* screen = nullptr;
    ProviderPtr provider;
};

Attached& AttachedSkin()
{
    static Attached attached;
    return attached;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t SkinH_AttachRes(const uint8_t* skinBytes, int32_t length,
                                                                          const char* options, int32_t reserved1,
                                                                          int32_t reserved2, int32_t reserved3)
{
    // Options are reserved: refusing what we do not understand leaves them free for a later engine.
    if ((options != nullptr && options[0] != '\0') || reserved1 != 0 || reserved2 != 0 || reserved3 != 0)
        return kRefusedArguments;
    if (skinBytes == nullptr || length <= 0) return static_cast<int32_t>(skin::SkinError::Empty);

    skin::Skin parsed;
    skin::SkinError error = skin::ParseSkin(std::span(skinBytes, static_cast<size_t>(length)), parsed);
    if (error != skin::SkinError::None) return static_cast<int32_t>(error);

    GdkScreen* screen = gdk_screen_get_default();
    if (screen == nullptr) return kRefusedNoDisplay;

    std::string css = skin::BuildSkinCss(parsed);
    ProviderPtr provider(gtk_css_provider_new());
    GError* loadError = nullptr;
    if (!gtk_css_provider_load_from_data(provider.get(), css.data(), static_cast<gssize>(css.size()), &loadError)) {
        g_clear_error(&loadError);
        return kRefusedByToolkit;
    }

    // The new look goes on before the old one comes off, so the window never shows the plain theme between.
    gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(provider.get()), kSkinPriority);
    Attached& attached = AttachedSkin();
    if (attached.provider)
        gtk_style_context_remove_provider_for_screen(attached.screen, GTK_STYLE_PROVIDER(attached.provider.get()));
    attached.screen = screen;
    attached.provider = std::move(provider);
    return 0;
}
