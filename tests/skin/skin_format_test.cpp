#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "skin/engine/skin_format.h"
#include "tests/skin/sample_skin.h"

using namespace skin;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr size_t kSectionHeader = 8;

uint32_t U32At(const Bytes& bytes, size_t at)
{
    return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
           uint32_t{bytes[at + 3]} << 24;
}

void PutU32(Bytes& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Offset of the header of the section with that tag.
size_t SectionAt(const Bytes& bytes, SectionTag tag)
{
    size_t at = kSkinHeaderSize;
    while (at + kSectionHeader <= bytes.size()) {
        if (bytes[at] == static_cast<uint16_t>(tag) && bytes[at + 1] == 0) return at;
        at += kSectionHeader + U32At(bytes, at + 4);
    }
    ADD_FAILURE() << "no section " << static_cast<int>(tag);
    return 0;
}

Bytes SectionBytes(const Bytes& bytes, SectionTag tag)
{
    size_t at = SectionAt(bytes, tag);
    return Bytes(bytes.begin() + at, bytes.begin() + at + kSectionHeader + U32At(bytes, at + 4));
}

void RemoveSection(Bytes& bytes, SectionTag tag)
{
    size_t at = SectionAt(bytes, tag);
    bytes.erase(bytes.begin() + at, bytes.begin() + at + kSectionHeader + U32At(bytes, at + 4));
}

Bytes Section(uint16_t tag, uint16_t flags, const Bytes& payload)
{
    Bytes section;
    for (uint32_t value : {uint32_t{tag} | uint32_t{flags} << 16, static_cast<uint32_t>(payload.size())})
        for (int i = 0; i < 4; ++i) section.push_back(static_cast<uint8_t>(value >> (8 * i)));
    for (uint8_t byte : payload) section.push_back(byte);
    return section;
}

SkinError Parse(const Bytes& bytes)
{
    Skin out;
    return ParseSkin(bytes, out);
}

}  // namespace

TEST(SkinFormat, WrittenSkinReadsBackTheSame)
{
    Skin written = SampleSkin();
    Bytes bytes = EncodeSkin(written);
    ASSERT_EQ(std::memcmp(bytes.data(), ".SHE", 4), 0);
    Skin read;
    ASSERT_EQ(ParseSkin(bytes, read), SkinError::None);
    EXPECT_EQ(read, written);
}

TEST(SkinFormat, EveryTruncationIsRefused)
{
    Bytes whole = EncodeSkin(SampleSkin());
    for (size_t length = 0; length < whole.size(); ++length) {
        // An exact-size copy, so a read past the end is a read past the block.
        Bytes cut(whole.begin(), whole.begin() + static_cast<long>(length));
        Skin out = SampleSkin();
        out.name = "untouched";
        SkinError error = ParseSkin(cut, out);
        EXPECT_EQ(error, length == 0 ? SkinError::Empty : SkinError::Truncated) << "length " << length;
        EXPECT_EQ(out.name, "untouched") << "a refused skin was half written at length " << length;
    }
}

TEST(SkinFormat, NullPointerIsEmpty)
{
    Skin out;
    EXPECT_EQ(ParseSkin(std::span<const uint8_t>(), out), SkinError::Empty);
}

struct ByteCase {
    const char* what;
    std::function<void(Bytes&)> damage;
    bool reseal;  // recompute length and checksum afterwards, so the damage itself is what is judged
    SkinError expected;
};

TEST(SkinFormat, DamagedBytesAreRefused)
{
    const ByteCase cases[] = {
        // header
        {"wrong magic", [](Bytes& b) { b[1] = 's'; }, false, SkinError::NotASkin},
        {"magic of another format", [](Bytes& b) { std::memcpy(b.data(), "\x7f" "ELF", 4); }, false, SkinError::NotASkin},
        {"major version 2", [](Bytes& b) { b[4] = 2; }, false, SkinError::UnsupportedVersion},
        {"major version 0", [](Bytes& b) { b[4] = 0; }, false, SkinError::UnsupportedVersion},
        {"recorded length one short", [](Bytes& b) { PutU32(b, 8, static_cast<uint32_t>(b.size() - 1)); }, false,
         SkinError::LengthMismatch},
        {"recorded length one long", [](Bytes& b) { PutU32(b, 8, static_cast<uint32_t>(b.size() + 1)); }, false,
         SkinError::Truncated},
        {"recorded length huge", [](Bytes& b) { PutU32(b, 8, 0xFFFFFFFFu); }, false, SkinError::Truncated},
        {"trailing garbage", [](Bytes& b) { b.push_back(0); }, false, SkinError::LengthMismatch},
        {"one colour byte flipped", [](Bytes& b) { b[b.size() - 3] ^= 0x40; }, false, SkinError::ChecksumMismatch},
        {"checksum flipped", [](Bytes& b) { b[12] ^= 1; }, false, SkinError::ChecksumMismatch},
        // section lengths
        {"section length far past the end",
         [](Bytes& b) { PutU32(b, SectionAt(b, SectionTag::Window) + 4, 0xFFFFFFFFu); }, true,
         SkinError::SectionOutOfBounds},
        {"last section one byte past the end",
         [](Bytes& b) {
             size_t at = SectionAt(b, SectionTag::Dialog);
             PutU32(b, at + 4, U32At(b, at + 4) + 1);
         },
         true, SkinError::SectionOutOfBounds},
        {"half a section header at the end", [](Bytes& b) { b.insert(b.end(), {9, 0, 0}); }, true,
         SkinError::SectionOutOfBounds},
        {"last section shorter than its fields",
         [](Bytes& b) {
             size_t at = SectionAt(b, SectionTag::Dialog);
             PutU32(b, at + 4, U32At(b, at + 4) - 1);
             b.pop_back();
         },
         true, SkinError::SectionTooShort},
        {"empty window section",
         [](Bytes& b) {
             RemoveSection(b, SectionTag::Window);
             Bytes empty = Section(static_cast<uint16_t>(SectionTag::Window), 0, {});
             b.insert(b.end(), empty.begin(), empty.end());
         },
         true, SkinError::SectionTooShort},
        // values inside sections
        {"fill with no stops", [](Bytes& b) { b[SectionAt(b, SectionTag::Dialog) + kSectionHeader + 1] = 0; }, true,
         SkinError::ValueOutOfRange},
        {"fill with 200 stops", [](Bytes& b) { b[SectionAt(b, SectionTag::Dialog) + kSectionHeader + 1] = 200; }, true,
         SkinError::ValueOutOfRange},
        {"fill of an unknown kind", [](Bytes& b) { b[SectionAt(b, SectionTag::Dialog) + kSectionHeader] = 3; }, true,
         SkinError::ValueOutOfRange},
        {"name of length 0",
         [](Bytes& b) {
             RemoveSection(b, SectionTag::Name);
             Bytes name = Section(static_cast<uint16_t>(SectionTag::Name), 0, {0});
             b.insert(b.end(), name.begin(), name.end());
         },
         true, SkinError::ValueOutOfRange},
        {"name longer than its section",
         [](Bytes& b) { b[SectionAt(b, SectionTag::Name) + kSectionHeader] = 200; }, true,
         SkinError::SectionTooShort},
        // the section list
        {"window section twice",
         [](Bytes& b) {
             Bytes copy = SectionBytes(b, SectionTag::Window);
             b.insert(b.end(), copy.begin(), copy.end());
         },
         true, SkinError::DuplicateSection},
        {"no tabs section", [](Bytes& b) { RemoveSection(b, SectionTag::Tabs); }, true, SkinError::MissingSection},
        {"no sections at all", [](Bytes& b) { b.resize(kSkinHeaderSize); }, true, SkinError::MissingSection},
        {"unknown section marked essential",
         [](Bytes& b) {
             Bytes extra = Section(0x7001, kSectionEssential, {1, 2, 3});
             b.insert(b.end(), extra.begin(), extra.end());
         },
         true, SkinError::UnsupportedSection},
    };
    Bytes valid = EncodeSkin(SampleSkin());
    ASSERT_EQ(Parse(valid), SkinError::None);
    for (const ByteCase& c : cases) {
        Bytes bytes = valid;
        c.damage(bytes);
        if (c.reseal) SealSkin(bytes);
        EXPECT_EQ(Parse(bytes), c.expected) << c.what << ": got " << SkinErrorName(Parse(bytes));
    }
}

struct ValueCase {
    const char* what;
    std::function<void(Skin&)> change;
};

TEST(SkinFormat, OutOfRangeValuesAreRefused)
{
    auto gradient = [](std::initializer_list<uint8_t> offsets) {
        Fill fill{FillKind::Vertical, {}};
        for (uint8_t offset : offsets) fill.stops.push_back({offset, Rgba{1, 2, 3, 255}});
        return fill;
    };
    const ValueCase cases[] = {
        // fills
        {"solid fill with two colours",
         [](Skin& s) { s.button.hover.fill = Fill{FillKind::Solid, {{0, {}}, {100, {}}}}; }},
        {"gradient with one colour", [&](Skin& s) { s.tabs.page.fill = gradient({0}); }},
        {"gradient with five colours", [&](Skin& s) { s.tabs.page.fill = gradient({0, 10, 20, 30, 40}); }},
        {"stop beyond 100 percent", [&](Skin& s) { s.entry.normal.fill = gradient({0, 101}); }},
        {"stops going back", [&](Skin& s) { s.titleBar.backdrop.fill = gradient({0, 60, 50}); }},
        // fonts
        {"font size 5", [](Skin& s) { s.window.font.sizePoints = 5; }},
        {"font size 33", [](Skin& s) { s.titleBar.font.sizePoints = 33; }},
        {"font weight 950", [](Skin& s) { s.window.font.weight = 950; }},
        {"font weight 450", [](Skin& s) { s.window.font.weight = 450; }},
        {"font weight 0", [](Skin& s) { s.titleBar.font.weight = 0; }},
        {"no font family", [](Skin& s) { s.window.font.family = ""; }},
        {"family that would break out of the style text", [](Skin& s) { s.window.font.family = "Sans\"; } * {"; }},
        {"family with a semicolon", [](Skin& s) { s.titleBar.font.family = "Sans;"; }},
        {"family with a line break", [](Skin& s) { s.titleBar.font.family = "Sans\nSerif"; }},
        {"family of 49 characters", [](Skin& s) { s.window.font.family = std::string(49, 'a'); }},
        // measures
        {"window radius 17", [](Skin& s) { s.window.cornerRadius = 17; }},
        {"button border 5", [](Skin& s) { s.button.borderWidth = 5; }},
        {"entry radius 255", [](Skin& s) { s.entry.radius = 255; }},
        {"tab accent 7", [](Skin& s) { s.tabs.accentWidth = 7; }},
        {"close button radius 40", [](Skin& s) { s.titleBar.buttonRadius = 40; }},
        // name
        {"name with a control character", [](Skin& s) { s.name = "Bad\x01Name"; }},
        {"name of 49 characters", [](Skin& s) { s.name = std::string(49, 'n'); }},
    };
    for (const ValueCase& c : cases) {
        Skin changed = SampleSkin();
        c.change(changed);
        EXPECT_EQ(ValidateSkin(changed), SkinError::ValueOutOfRange) << c.what;
        EXPECT_EQ(Parse(EncodeSkin(changed)), SkinError::ValueOutOfRange) << c.what;
    }
}

TEST(SkinFormat, LaterVersionsStayReadable)
{
    Skin original = SampleSkin();
    Bytes bytes = EncodeSkin(original);
    // A later minor version: a new section of its own and a field appended to a known section.
    bytes[6] = 9;
    Bytes extra = Section(0x0040, 0, {1, 2, 3, 4, 5});
    bytes.insert(bytes.begin() + kSkinHeaderSize, extra.begin(), extra.end());
    size_t dialog = SectionAt(bytes, SectionTag::Dialog);
    PutU32(bytes, dialog + 4, U32At(bytes, dialog + 4) + 2);
    bytes.insert(bytes.begin() + static_cast<long>(dialog + kSectionHeader + U32At(bytes, dialog + 4) - 2), {7, 7});
    SealSkin(bytes);

    Skin read;
    ASSERT_EQ(ParseSkin(bytes, read), SkinError::None);
    EXPECT_EQ(read, original);
}

TEST(SkinFormat, SectionsMayComeInAnyOrderAndTheNameMayBeMissing)
{
    Skin original = SampleSkin();
    Bytes bytes = EncodeSkin(original);
    RemoveSection(bytes, SectionTag::Name);
    Bytes window = SectionBytes(bytes, SectionTag::Window);
    RemoveSection(bytes, SectionTag::Window);
    bytes.insert(bytes.end(), window.begin(), window.end());
    SealSkin(bytes);

    Skin read;
    ASSERT_EQ(ParseSkin(bytes, read), SkinError::None);
    original.name.clear();
    EXPECT_EQ(read, original);
}

TEST(SkinFormat, ChecksumIsTheUsualCrc32)
{
    const std::string text = "123456789";
    EXPECT_EQ(Crc32({reinterpret_cast<const uint8_t*>(text.data()), text.size()}), 0xCBF43926u);
}
