#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "skin/compiler/skin_source.h"

using namespace skin;

namespace {

// The real style templates, so the tests compile skins the way the build does.
std::optional<std::string> LoadBase(std::string_view name)
{
    std::ifstream in(std::string(SKIN_SOURCE_DIR) + "/base/" + std::string(name) + ".skin");
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::string kPalette = "base = flat\n$accent = #336699\n$surface = #f0f0f0\n$ink = #101010\n";

struct Compiled {
    bool ok;
    Skin skin;
    std::string error;
};

Compiled Compile(const std::string& text)
{
    Compiled result;
    result.ok = CompileSkinSource(text, "test.skin", LoadBase, result.skin, result.error);
    return result;
}

Rgba Colour(uint32_t rgb, uint8_t alpha = 255)
{
    return Rgba{static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb), alpha};
}

}  // namespace

TEST(SkinSource, PaletteOverBaseGivesAValidSkin)
{
    Compiled c = Compile("name = Test Skin\n" + kPalette);
    ASSERT_TRUE(c.ok) << c.error;
    EXPECT_EQ(c.skin.name, "Test Skin");
    EXPECT_EQ(ValidateSkin(c.skin), SkinError::None);
    // flat: the title bar is the accent, the window body the surface.
    EXPECT_EQ(c.skin.titleBar.active.fill.stops.front().colour, Colour(0x336699));
    EXPECT_EQ(c.skin.window.body.fill.stops.front().colour, Colour(0xf0f0f0));
}

TEST(SkinSource, OwnLinesOverrideTheBase)
{
    Compiled c = Compile(kPalette + "$title = #aa0000  # a red bar\nbutton.radius = 9\n");
    ASSERT_TRUE(c.ok) << c.error;
    EXPECT_EQ(c.skin.titleBar.active.fill.stops.front().colour, Colour(0xaa0000));
    EXPECT_EQ(c.skin.button.radius, 9);
}

TEST(SkinSource, ColourExpressions)
{
    struct Case {
        const char* expression;
        Rgba expected;
    };
    const Case cases[] = {
        {"#0a0b0c", Colour(0x0a0b0c)},
        {"#0a0b0c80", Colour(0x0a0b0c, 0x80)},
        {"mix(#000000, #ffffff, 50)", Colour(0x808080)},
        {"mix(#000000, #ffffff, 0)", Colour(0x000000)},
        {"mix(#000000, #c8c8c8, 25)", Colour(0x323232)},
        {"lighten(#336699, 100)", Colour(0xffffff)},
        {"lighten(#000000, 20)", Colour(0x333333)},
        {"darken(#336699, 100)", Colour(0x000000)},
        {"alpha(#112233, 50)", Colour(0x112233, 128)},
        {"darken(lighten($accent, 50), 0)", Colour(0x99b3cc)},
    };
    for (const Case& c : cases) {
        Compiled compiled = Compile(kPalette + "tabs.accent = " + c.expression + "\n");
        ASSERT_TRUE(compiled.ok) << c.expression << ": " << compiled.error;
        EXPECT_EQ(compiled.skin.tabs.accent, c.expected) << c.expression;
    }
}

TEST(SkinSource, GradientStopsWithoutOffsetsAreSpreadEvenly)
{
    Compiled c = Compile(kPalette + "dialog.fill = vertical(#000000, #ffffff 40, #ff0000)\n"
                                    "tabs.page.fill = horizontal(#000000, #111111, #222222, #333333)\n");
    ASSERT_TRUE(c.ok) << c.error;
    const Fill& dialog = c.skin.dialog.body.fill;
    EXPECT_EQ(dialog.kind, FillKind::Vertical);
    ASSERT_EQ(dialog.stops.size(), 3u);
    EXPECT_EQ(dialog.stops[0].offset, 0);
    EXPECT_EQ(dialog.stops[1].offset, 40);
    EXPECT_EQ(dialog.stops[2].offset, 100);
    const Fill& page = c.skin.tabs.page.fill;
    EXPECT_EQ(page.kind, FillKind::Horizontal);
    ASSERT_EQ(page.stops.size(), 4u);
    EXPECT_EQ(page.stops[1].offset, 33);
    EXPECT_EQ(page.stops[2].offset, 66);
}

TEST(SkinSource, MistakesAreReportedWithTheirLine)
{
    struct Case {
        const char* what;
        std::string text;
        const char* message;  // part of the error
    };
    const Case cases[] = {
        {"unknown key", kPalette + "button.colour = #ffffff\n", "test.skin:5: unknown key \"button.colour\""},
        {"missing palette colour", "base = flat\n$accent = #336699\n$ink = #000000\n", "unknown variable $surface"},
        {"no base and no fields", "name = Lonely\n", "no value for"},
        {"unknown base", "base = velvet\n", "no base \"velvet\""},
        {"variables in a loop", kPalette + "$a = $b\n$b = $a\ntabs.accent = $a\n", "loop"},
        {"short colour", kPalette + "tabs.accent = #12345\n", "#rrggbb"},
        {"unknown function", kPalette + "tabs.accent = brighten(#123456, 10)\n", "unknown colour function"},
        {"percent beyond 100", kPalette + "tabs.accent = mix(#000000, #ffffff, 150)\n", "outside 0..100"},
        {"gradient going back", kPalette + "dialog.fill = vertical(#000000 60, #ffffff 20)\n", "go back"},
        {"gradient of one colour", kPalette + "dialog.fill = vertical(#000000)\n", "2 to 4"},
        {"radius too large", kPalette + "button.radius = 40\n", "outside 0..16"},
        {"font family with a quote", kPalette + "window.font = \"Sans\"\" 10 400\n", "expected a number"},
        {"font weight off the steps", kPalette + "window.font = \"Sans\" 10 450\n", "steps of 100"},
        {"text after a value", kPalette + "button.radius = 3 4\n", "unexpected \"4\""},
        {"line without equals", kPalette + "button.radius 3\n", "test.skin:5: expected"},
        {"key given twice", kPalette + "button.radius = 3\nbutton.radius = 4\n", "given twice"},
    };
    for (const Case& c : cases) {
        Compiled compiled = Compile(c.text);
        EXPECT_FALSE(compiled.ok) << c.what;
        EXPECT_NE(compiled.error.find(c.message), std::string::npos) << c.what << ": " << compiled.error;
    }
}
