#include "skin/engine/skin_css.h"

#include <string_view>
#include <utility>

namespace skin {
namespace {

std::string Px(unsigned value) { return std::to_string(value) + "px"; }

std::string FillDeclarations(const Fill& fill)
{
    if (fill.stops.empty()) return "background-image: none;";
    std::string text = "background-color: " + CssColour(fill.stops.front().colour) + "; background-image: ";
    if (fill.kind == FillKind::Solid || fill.stops.size() < 2) return text + "none;";
    text += fill.kind == FillKind::Horizontal ? "linear-gradient(to right" : "linear-gradient(to bottom";
    for (const GradientStop& stop : fill.stops)
        text += ", " + CssColour(stop.colour) + " " + std::to_string(stop.offset) + "%";
    return text + ");";
}

std::string FontDeclarations(const Font& font)
{
    std::string text;
    // The family goes into the text quoted as it is, so anything but its plain characters stays out.
    if (IsValidFamily(font.family)) text += "font-family: \"" + font.family + "\"; ";
    return text + "font-size: " + std::to_string(font.sizePoints) + "pt; font-weight: " + std::to_string(font.weight) +
           ";";
}

// The look of a surface without its border width, which each control sets once in its base rule.
std::string LookDeclarations(const Look& look)
{
    return FillDeclarations(look.fill) + " border-color: " + CssColour(look.border) +
           "; color: " + CssColour(look.text) + ";";
}

// Everything the toolkit's own theme draws on a control that the skin does not describe.
constexpr std::string_view kPlain =
    "box-shadow: none; text-shadow: none; -gtk-icon-shadow: none; transition: none;";

class Sheet {
public:
    void Line(std::string_view line) { text_.append(line).append("\n"); }
    void Rule(std::string_view selectors, std::string_view declarations)
    {
        text_.append(selectors).append(" { ").append(declarations).append(" }\n");
    }
    std::string Take() { return std::move(text_); }

private:
    std::string text_;
};

// The theme's named colours: the program's own style text refers to them for the parts it draws itself.
void NamedColours(Sheet& css, const Skin& skin)
{
    auto first = [](const Fill& fill) { return fill.stops.empty() ? Rgba{} : fill.stops.front().colour; };
    const std::pair<std::string_view, Rgba> colours[] = {
        {"theme_bg_color", first(skin.window.body.fill)},
        {"theme_fg_color", skin.window.body.text},
        {"theme_base_color", first(skin.entry.normal.fill)},
        {"theme_text_color", skin.entry.normal.text},
        {"theme_selected_bg_color", skin.entry.selection},
        {"theme_selected_fg_color", skin.entry.selectionText},
        {"theme_unfocused_bg_color", first(skin.window.body.fill)},
        {"theme_unfocused_fg_color", skin.window.body.text},
        {"insensitive_bg_color", first(skin.button.disabled.fill)},
        {"insensitive_fg_color", skin.button.disabled.text},
        {"borders", skin.window.body.border},
        {"unfocused_borders", skin.window.body.border},
        {"wm_border", skin.window.body.border},
        {"wm_title", skin.titleBar.active.text},
        {"wm_unfocused_title", skin.titleBar.backdrop.text},
    };
    for (const auto& [name, colour] : colours)
        css.Line("@define-color " + std::string(name) + " " + CssColour(colour) + ";");
}

void WindowRules(Sheet& css, const WindowStyle& s)
{
    css.Rule("window.background", FillDeclarations(s.body.fill) + " color: " + CssColour(s.body.text) + "; " +
                                       FontDeclarations(s.font));
    // Colours only: a shadow or border width would change the window's size, which is the window's own.
    std::string frame = CssColour(s.body.border);
    css.Rule("decoration", "background-color: " + frame + "; border-color: " + frame + ";");
    std::string radius = Px(s.cornerRadius) + " " + Px(s.cornerRadius) + " 0 0";
    // Rounded corners need a compositor to show through; a solid frame stays square.
    css.Rule("window.csd:not(.solid-csd):not(.maximized):not(.tiled) decoration, "
             "window.csd:not(.solid-csd):not(.maximized):not(.tiled) headerbar.titlebar",
             "border-radius: " + radius + ";");
}

void TitleBarRules(Sheet& css, const TitleBarStyle& s)
{
    css.Rule("headerbar", LookDeclarations(s.active) + " " + std::string(kPlain));
    css.Rule("headerbar:backdrop", LookDeclarations(s.backdrop));
    css.Rule("headerbar .title", FontDeclarations(s.font) + " color: " + CssColour(s.active.text) + ";");
    css.Rule("headerbar .title:backdrop", "color: " + CssColour(s.backdrop.text) + ";");
    css.Rule("headerbar button.titlebutton", LookDeclarations(s.closeNormal) + " border-style: solid; border-radius: " +
                                                 Px(s.buttonRadius) + "; " + std::string(kPlain));
    css.Rule("headerbar button.titlebutton:hover", LookDeclarations(s.closeHover));
    css.Rule("headerbar button.titlebutton:active", LookDeclarations(s.closePressed));
}

void ButtonRules(Sheet& css, const ButtonStyle& s)
{
    css.Rule("button", LookDeclarations(s.normal) + " border-width: " + Px(s.borderWidth) +
                           "; border-style: solid; border-radius: " + Px(s.radius) + "; outline-color: " +
                           CssColour(s.focused.border) + "; " + std::string(kPlain));
    // Later rules win over earlier ones of the same weight: pressed beats hover beats focus.
    css.Rule("button:focus", LookDeclarations(s.focused));
    css.Rule("button:hover", LookDeclarations(s.hover));
    css.Rule("button:active, button:checked", LookDeclarations(s.pressed));
    css.Rule("button:disabled", LookDeclarations(s.disabled));
}

void EntryRules(Sheet& css, const EntryStyle& s)
{
    css.Rule("entry", LookDeclarations(s.normal) + " border-width: " + Px(s.borderWidth) +
                          "; border-style: solid; border-radius: " + Px(s.radius) +
                          "; caret-color: " + CssColour(s.caret) + "; " + std::string(kPlain));
    css.Rule("entry:focus", LookDeclarations(s.focused));
    css.Rule("entry:disabled", LookDeclarations(s.disabled));
    css.Rule("entry selection, entry selection:focus",
             "background-color: " + CssColour(s.selection) + "; color: " + CssColour(s.selectionText) + ";");
}

void TabRules(Sheet& css, const TabsStyle& s)
{
    css.Rule("notebook > header", LookDeclarations(s.strip));
    css.Rule("notebook.frame", "border: 1px solid " + CssColour(s.page.border) + ";");
    css.Rule("notebook > stack:not(:only-child)",
             FillDeclarations(s.page.fill) + " color: " + CssColour(s.page.text) + ";");
    css.Rule("notebook > header tab",
             LookDeclarations(s.normal) + " border-width: 1px; border-style: solid; " + std::string(kPlain));
    css.Rule("notebook > header tab:hover", LookDeclarations(s.hover));
    css.Rule("notebook > header tab:checked", LookDeclarations(s.checked));

    // Each side of the strip rounds the tabs' outer corners and puts the accent on the page side.
    struct Side {
        std::string_view name;
        std::string radius;
        std::string accent;
    };
    std::string r = Px(s.radius);
    std::string a = Px(s.accentWidth);
    const Side sides[] = {
        {"top", r + " " + r + " 0 0", "0 -" + a},
        {"bottom", "0 0 " + r + " " + r, "0 " + a},
        {"left", r + " 0 0 " + r, "-" + a + " 0"},
        {"right", "0 " + r + " " + r + " 0", a + " 0"},
    };
    for (const Side& side : sides) {
        std::string header = "notebook > header." + std::string(side.name) + " > tabs > tab";
        css.Rule(header, "border-radius: " + side.radius + ";");
        if (s.accentWidth > 0)
            css.Rule(header + ":checked", "box-shadow: inset " + side.accent + " " + CssColour(s.accent) + ";");
    }
}

void DialogRules(Sheet& css, const DialogStyle& s)
{
    css.Rule("messagedialog.background, messagedialog .titlebar",
             FillDeclarations(s.body.fill) + " color: " + CssColour(s.body.text) + ";");
    css.Rule("messagedialog .titlebar", "border-style: none; box-shadow: none;");
    css.Rule("messagedialog decoration", "border-color: " + CssColour(s.body.border) +
                                             "; background-color: " + CssColour(s.body.border) + ";");
}

}  // namespace

std::string CssColour(Rgba colour)
{
    static constexpr char kHex[] = "0123456789abcdef";
    if (colour.a == 255) {
        std::string text = "#";
        for (uint8_t part : {colour.r, colour.g, colour.b}) {
            text += kHex[part >> 4];
            text += kHex[part & 15];
        }
        return text;
    }
    // Thousandths by integer arithmetic, so a comma-decimal locale cannot creep in.
    unsigned thousandths = (colour.a * 1000u + 127u) / 255u;
    std::string fraction = std::to_string(thousandths);
    fraction.insert(0, 3 - fraction.size(), '0');
    return "rgba(" + std::to_string(colour.r) + ", " + std::to_string(colour.g) + ", " + std::to_string(colour.b) +
           ", 0." + fraction + ")";
}

std::string BuildSkinCss(const Skin& skin)
{
    Sheet css;
    NamedColours(css, skin);
    WindowRules(css, skin.window);
    TitleBarRules(css, skin.titleBar);
    ButtonRules(css, skin.button);
    EntryRules(css, skin.entry);
    TabRules(css, skin.tabs);
    DialogRules(css, skin.dialog);
    return css.Take();
}

}  // namespace skin
