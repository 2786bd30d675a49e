// The skin file: bytes to a Skin and back. Pure code, no toolkit, so it can be tested and fuzzed alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace skin {

// Why a skin was refused. The engine hands these codes back to its caller.
enum class SkinError : int32_t {
    None = 0,
    Empty = 1,               // no pointer or no bytes
    NotASkin = 2,            // does not begin with ".SHE"
    UnsupportedVersion = 3,  // a major version this engine does not read
    Truncated = 4,           // fewer bytes than the header or than its recorded length
    LengthMismatch = 5,      // more bytes than its recorded length
    ChecksumMismatch = 6,
    SectionOutOfBounds = 7,  // a section header or length reaching past the end
    SectionTooShort = 8,     // a known section smaller than its fields
    DuplicateSection = 9,
    ValueOutOfRange = 10,
    MissingSection = 11,
    UnsupportedSection = 12,  // an unknown section marked essential
};
const char* SkinErrorName(SkinError error);

inline constexpr char kSkinMagic[4] = {'.', 'S', 'H', 'E'};
inline constexpr uint16_t kSkinMajorVersion = 1;
inline constexpr uint16_t kSkinMinorVersion = 0;
inline constexpr size_t kSkinHeaderSize = 16;
inline constexpr size_t kSkinMaxLength = 1 << 20;

enum class SectionTag : uint16_t {
    Name = 1,
    Window = 2,
    TitleBar = 3,
    Button = 4,
    Entry = 5,
    Tabs = 6,
    Dialog = 7,
};
inline constexpr uint16_t kSectionEssential = 0x0001;

struct Rgba {
    uint8_t r = 0, g = 0, b = 0, a = 255;
    bool operator==(const Rgba&) const = default;
};

enum class FillKind : uint8_t { Solid = 0, Vertical = 1, Horizontal = 2 };
inline constexpr size_t kMaxGradientStops = 4;

struct GradientStop {
    uint8_t offset = 0;  // percent of the way, 0..100
    Rgba colour;
    bool operator==(const GradientStop&) const = default;
};

// A solid colour has one stop; a gradient has two to four, offsets never going back.
struct Fill {
    FillKind kind = FillKind::Solid;
    std::vector<GradientStop> stops{GradientStop{}};
    bool operator==(const Fill&) const = default;
};

// How one surface looks in one state.
struct Look {
    Fill fill;
    Rgba border;
    Rgba text;
    bool operator==(const Look&) const = default;
};

inline constexpr uint8_t kMinFontSize = 6;
inline constexpr uint8_t kMaxFontSize = 32;
inline constexpr size_t kMaxFamilyLength = 48;

struct Font {
    std::string family;  // letters, digits, blanks and hyphens only: it goes into style text as is
    uint8_t sizePoints = 10;
    uint16_t weight = 400;  // 100..900 in steps of 100
    bool operator==(const Font&) const = default;
};

// Upper bounds of the measures, in pixels. The window keeps its own geometry: a skin draws, it does not resize.
inline constexpr uint8_t kMaxRadius = 16;
inline constexpr uint8_t kMaxBorderWidth = 4;
inline constexpr uint8_t kMaxAccentWidth = 6;

struct WindowStyle {
    Look body;  // border is the frame colour
    uint8_t cornerRadius = 0;
    Font font;
    bool operator==(const WindowStyle&) const = default;
};

struct TitleBarStyle {
    Look active;  // border is the line under the bar, text the title
    Look backdrop;
    Font font;
    uint8_t buttonRadius = 0;
    Look closeNormal, closeHover, closePressed;  // text is the colour of the cross
    bool operator==(const TitleBarStyle&) const = default;
};

struct ButtonStyle {
    uint8_t borderWidth = 1;
    uint8_t radius = 0;
    Look normal, hover, pressed, focused, disabled;
    bool operator==(const ButtonStyle&) const = default;
};

struct EntryStyle {
    uint8_t borderWidth = 1;
    uint8_t radius = 0;
    Look normal, focused, disabled;
    Rgba selection, selectionText, caret;
    bool operator==(const EntryStyle&) const = default;
};

struct TabsStyle {
    Look strip;  // the header behind the tabs
    Look page;   // the page under them; border is the notebook's frame
    uint8_t radius = 0;
    Look normal, hover, checked;
    Rgba accent;  // the bar along the checked tab's page side
    uint8_t accentWidth = 0;
    bool operator==(const TabsStyle&) const = default;
};

struct DialogStyle {
    Look body;
    bool operator==(const DialogStyle&) const = default;
};

inline constexpr size_t kMaxNameLength = 48;

struct Skin {
    std::string name;  // printable ASCII; may be empty
    WindowStyle window;
    TitleBarStyle titleBar;
    ButtonStyle button;
    EntryStyle entry;
    TabsStyle tabs;
    DialogStyle dialog;
    bool operator==(const Skin&) const = default;
};

// Reads a skin. Never reads outside the bytes given; `out` is only written on success.
SkinError ParseSkin(std::span<const uint8_t> bytes, Skin& out);

// Writes a skin in the current version. The skin must be valid (see ValidateSkin).
std::vector<uint8_t> EncodeSkin(const Skin& skin);
// The check that ParseSkin applies to every value, for writers that build a Skin themselves.
SkinError ValidateSkin(const Skin& skin);

// Recomputes the recorded length and checksum after the bytes were edited.
void SealSkin(std::vector<uint8_t>& bytes);
uint32_t Crc32(std::span<const uint8_t> bytes);

bool IsValidFamily(std::string_view family);
bool IsValidName(std::string_view name);

}  // namespace skin
