#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "skin/engine/skin_css.h"
#include "skin/engine/skin_format.h"
#include "skin/skin_data.h"
#include "tests/skin/css_check.h"

using namespace skin;

namespace {

Skin Built(int32_t number)
{
    Skin parsed;
    SkinError error = ParseSkin(SkinTableEntry(number).Bytes(), parsed);
    EXPECT_EQ(error, SkinError::None) << "skin " << number << ": " << SkinErrorName(error);
    return parsed;
}

Rgba First(const Fill& fill) { return fill.stops.empty() ? Rgba{} : fill.stops.front().colour; }

int Distance(Rgba a, Rgba b) { return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b); }

int32_t StoredInt(const uint8_t* at)
{
    return static_cast<int32_t>(uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 |
                                uint32_t{at[3]} << 24);
}

}  // namespace

TEST(SkinTable, EachSkinIsAConstantBlockInStorageForm)
{
    for (int32_t number = 1; number <= kSkinCount; ++number) {
        const uint8_t* block = SkinTableEntry(number).Block();
        ASSERT_NE(block, nullptr) << number;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 4, 0u) << number;
        EXPECT_EQ(StoredInt(block), 1) << number;
        EXPECT_GT(StoredInt(block + 4), 0) << number;
        EXPECT_EQ(std::memcmp(block + 8, ".SHE", 4), 0) << number;
    }
    for (int32_t outside : {0, -1, 59, kSkinCount + 1000})
        EXPECT_EQ(SkinTableEntry(outside).Block(), nullptr) << outside;
}

TEST(SkinTable, EverySkinReadsAndTheToolkitTakesItsStyle)
{
    for (int32_t number = 1; number <= kSkinCount; ++number) {
        Skin skin = Built(number);
        EXPECT_FALSE(skin.name.empty()) << number;
        EXPECT_EQ(CssProblems(BuildSkinCss(skin)), "") << "skin " << number;
    }
}

TEST(SkinTable, NoTwoSkinsLookAlike)
{
    // What meets the eye first: title bar, window, push button face and border, the chosen tab.
    auto features = [](const Skin& s) {
        return std::vector<Rgba>{First(s.titleBar.active.fill), First(s.window.body.fill), First(s.button.normal.fill),
                                 s.button.normal.border, First(s.tabs.checked.fill)};
    };
    std::vector<std::vector<Rgba>> all;
    for (int32_t number = 1; number <= kSkinCount; ++number) all.push_back(features(Built(number)));
    for (size_t a = 0; a < all.size(); ++a) {
        for (size_t b = a + 1; b < all.size(); ++b) {
            int largest = 0;
            for (size_t i = 0; i < all[a].size(); ++i) largest = std::max(largest, Distance(all[a][i], all[b][i]));
            EXPECT_GE(largest, 40) << "skins " << a + 1 << " and " << b + 1 << " look alike";
        }
    }
}

TEST(SkinTable, StyleTextCarriesTheSkinsColours)
{
    Skin harbour = Built(43);
    std::string css = BuildSkinCss(harbour);
    for (Rgba colour : {First(harbour.titleBar.active.fill), harbour.titleBar.active.text,
                        First(harbour.button.normal.fill), harbour.button.normal.border, harbour.tabs.accent})
        EXPECT_NE(css.find(CssColour(colour)), std::string::npos) << CssColour(colour);
}

TEST(SkinTable, EngineImageIsTheBuiltLibraryByteForByte)
{
    std::ifstream in(SKIN_ENGINE_FILE, std::ios::binary);
    ASSERT_TRUE(in) << SKIN_ENGINE_FILE;
    std::vector<uint8_t> built((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    BytesRef image = SkinEngineImage();
    ASSERT_EQ(StoredInt(image.Block()), 1);
    ASSERT_EQ(static_cast<size_t>(image.Length()), built.size());
    EXPECT_TRUE(std::equal(built.begin(), built.end(), image.Data()));
}
