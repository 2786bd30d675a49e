#include "skin/engine/skin_format.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace skin {
namespace {

// Reads little-endian fields from a span; the first failure sticks and later reads give zeros.
class Reader {
public:
    explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    uint8_t U8() { return static_cast<uint8_t>(Take(1)); }
    uint16_t U16() { return static_cast<uint16_t>(Take(2)); }
    uint32_t U32() { return static_cast<uint32_t>(Take(4)); }
    std::string_view Chars(size_t count)
    {
        if (!Have(count)) return {};
        auto* start = reinterpret_cast<const char*>(bytes_.data() + position_);
        position_ += count;
        return {start, count};
    }
    void Fail(SkinError error)
    {
        if (error_ == SkinError::None) error_ = error;
    }
    SkinError Error() const { return error_; }

private:
    bool Have(size_t count)
    {
        if (error_ != SkinError::None) return false;
        if (count > bytes_.size() - position_) {
            error_ = SkinError::SectionTooShort;
            return false;
        }
        return true;
    }
    uint64_t Take(size_t count)
    {
        if (!Have(count)) return 0;
        uint64_t value = 0;
        for (size_t i = 0; i < count; ++i) value |= uint64_t{bytes_[position_ + i]} << (8 * i);
        position_ += count;
        return value;
    }

    std::span<const uint8_t> bytes_;
    size_t position_ = 0;
    SkinError error_ = SkinError::None;
};

class Writer {
public:
    void U8(uint8_t value) { bytes.push_back(value); }
    void U16(uint16_t value) { Put(value, 2); }
    void U32(uint32_t value) { Put(value, 4); }
    void Chars(std::string_view text) { bytes.insert(bytes.end(), text.begin(), text.end()); }
    std::vector<uint8_t> bytes;

private:
    void Put(uint64_t value, size_t count)
    {
        for (size_t i = 0; i < count; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
};

void WriteU32At(std::vector<uint8_t>& bytes, size_t at, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// ---- Values ----------------------------------------------------------------------------------

bool InRange(unsigned value, unsigned low, unsigned high) { return value >= low && value <= high; }

bool IsValidFill(const Fill& fill)
{
    size_t count = fill.stops.size();
    if (count < 1 || count > kMaxGradientStops) return false;
    if (fill.kind == FillKind::Solid) return count == 1;
    if (fill.kind != FillKind::Vertical && fill.kind != FillKind::Horizontal) return false;
    if (count < 2) return false;
    for (size_t i = 0; i < count; ++i) {
        if (fill.stops[i].offset > 100) return false;
        if (i > 0 && fill.stops[i].offset < fill.stops[i - 1].offset) return false;
    }
    return true;
}

bool IsValidFont(const Font& font)
{
    return IsValidFamily(font.family) && InRange(font.sizePoints, kMinFontSize, kMaxFontSize) &&
           InRange(font.weight, 100, 900) && font.weight % 100 == 0;
}

bool AllValid(std::initializer_list<const Look*> looks)
{
    for (const Look* look : looks)
        if (!IsValidFill(look->fill)) return false;
    return true;
}

bool IsValid(const WindowStyle& s)
{
    return AllValid({&s.body}) && s.cornerRadius <= kMaxRadius && IsValidFont(s.font);
}

bool IsValid(const TitleBarStyle& s)
{
    return AllValid({&s.active, &s.backdrop, &s.closeNormal, &s.closeHover, &s.closePressed}) &&
           IsValidFont(s.font) && s.buttonRadius <= kMaxRadius;
}

bool IsValid(const ButtonStyle& s)
{
    return AllValid({&s.normal, &s.hover, &s.pressed, &s.focused, &s.disabled}) &&
           s.borderWidth <= kMaxBorderWidth && s.radius <= kMaxRadius;
}

bool IsValid(const EntryStyle& s)
{
    return AllValid({&s.normal, &s.focused, &s.disabled}) && s.borderWidth <= kMaxBorderWidth &&
           s.radius <= kMaxRadius;
}

bool IsValid(const TabsStyle& s)
{
    return AllValid({&s.strip, &s.page, &s.normal, &s.hover, &s.checked}) && s.radius <= kMaxRadius &&
           s.accentWidth <= kMaxAccentWidth;
}

bool IsValid(const DialogStyle& s) { return AllValid({&s.body}); }

// ---- Reading sections ------------------------------------------------------------------------

Rgba ReadRgba(Reader& in)
{
    Rgba colour;
    colour.r = in.U8();
    colour.g = in.U8();
    colour.b = in.U8();
    colour.a = in.U8();
    return colour;
}

Fill ReadFill(Reader& in)
{
    Fill fill;
    fill.kind = static_cast<FillKind>(in.U8());
    uint8_t count = in.U8();
    fill.stops.clear();
    // The count is checked before anything is sized by it.
    if (count < 1 || count > kMaxGradientStops) {
        in.Fail(SkinError::ValueOutOfRange);
        return fill;
    }
    for (uint8_t i = 0; i < count; ++i) {
        GradientStop stop;
        stop.offset = in.U8();
        stop.colour = ReadRgba(in);
        fill.stops.push_back(stop);
    }
    return fill;
}

Look ReadLook(Reader& in)
{
    Look look;
    look.fill = ReadFill(in);
    look.border = ReadRgba(in);
    look.text = ReadRgba(in);
    return look;
}

Font ReadFont(Reader& in)
{
    Font font;
    font.sizePoints = in.U8();
    font.weight = in.U16();
    uint8_t length = in.U8();
    font.family = std::string(in.Chars(length));
    return font;
}

template <typename Style>
void Check(Reader& in, const Style& style)
{
    if (in.Error() == SkinError::None && !IsValid(style)) in.Fail(SkinError::ValueOutOfRange);
}

void ReadName(Reader& in, Skin& skin)
{
    uint8_t length = in.U8();
    skin.name = std::string(in.Chars(length));
    if (in.Error() == SkinError::None && (skin.name.empty() || !IsValidName(skin.name)))
        in.Fail(SkinError::ValueOutOfRange);
}

void ReadWindow(Reader& in, Skin& skin)
{
    WindowStyle& s = skin.window;
    s.body = ReadLook(in);
    s.cornerRadius = in.U8();
    s.font = ReadFont(in);
    Check(in, s);
}

void ReadTitleBar(Reader& in, Skin& skin)
{
    TitleBarStyle& s = skin.titleBar;
    s.active = ReadLook(in);
    s.backdrop = ReadLook(in);
    s.font = ReadFont(in);
    s.buttonRadius = in.U8();
    s.closeNormal = ReadLook(in);
    s.closeHover = ReadLook(in);
    s.closePressed = ReadLook(in);
    Check(in, s);
}

void ReadButton(Reader& in, Skin& skin)
{
    ButtonStyle& s = skin.button;
    s.borderWidth = in.U8();
    s.radius = in.U8();
    for (Look* look : {&s.normal, &s.hover, &s.pressed, &s.focused, &s.disabled}) *look = ReadLook(in);
    Check(in, s);
}

void ReadEntry(Reader& in, Skin& skin)
{
    EntryStyle& s = skin.entry;
    s.borderWidth = in.U8();
    s.radius = in.U8();
    for (Look* look : {&s.normal, &s.focused, &s.disabled}) *look = ReadLook(in);
    s.selection = ReadRgba(in);
    s.selectionText = ReadRgba(in);
    s.caret = ReadRgba(in);
    Check(in, s);
}

void ReadTabs(Reader& in, Skin& skin)
{
    TabsStyle& s = skin.tabs;
    s.strip = ReadLook(in);
    s.page = ReadLook(in);
    s.radius = in.U8();
    for (Look* look : {&s.normal, &s.hover, &s.checked}) *look = ReadLook(in);
    s.accent = ReadRgba(in);
    s.accentWidth = in.U8();
    Check(in, s);
}

void ReadDialog(Reader& in, Skin& skin)
{
    skin.dialog.body = ReadLook(in);
    Check(in, skin.dialog);
}

struct KnownSection {
    SectionTag tag;
    bool required;
    void (*read)(Reader&, Skin&);
};

constexpr std::array kKnownSections = {
    KnownSection{SectionTag::Name, false, ReadName},
    KnownSection{SectionTag::Window, true, ReadWindow},
    KnownSection{SectionTag::TitleBar, true, ReadTitleBar},
    KnownSection{SectionTag::Button, true, ReadButton},
    KnownSection{SectionTag::Entry, true, ReadEntry},
    KnownSection{SectionTag::Tabs, true, ReadTabs},
    KnownSection{SectionTag::Dialog, true, ReadDialog},
};

// ---- Writing sections ------------------------------------------------------------------------

void WriteRgba(Writer& out, Rgba colour)
{
    out.U8(colour.r);
    out.U8(colour.g);
    out.U8(colour.b);
    out.U8(colour.a);
}

void WriteFill(Writer& out, const Fill& fill)
{
    out.U8(static_cast<uint8_t>(fill.kind));
    out.U8(static_cast<uint8_t>(fill.stops.size()));
    for (const GradientStop& stop : fill.stops) {
        out.U8(stop.offset);
        WriteRgba(out, stop.colour);
    }
}

void WriteLook(Writer& out, const Look& look)
{
    WriteFill(out, look.fill);
    WriteRgba(out, look.border);
    WriteRgba(out, look.text);
}

void WriteFont(Writer& out, const Font& font)
{
    out.U8(font.sizePoints);
    out.U16(font.weight);
    out.U8(static_cast<uint8_t>(font.family.size()));
    out.Chars(font.family);
}

void WriteSection(Writer& out, SectionTag tag, const Writer& payload)
{
    out.U16(static_cast<uint16_t>(tag));
    out.U16(0);
    out.U32(static_cast<uint32_t>(payload.bytes.size()));
    out.bytes.insert(out.bytes.end(), payload.bytes.begin(), payload.bytes.end());
}

}  // namespace

const char* SkinErrorName(SkinError error)
{
    switch (error) {
    case SkinError::None: return "none";
    case SkinError::Empty: return "empty";
    case SkinError::NotASkin: return "not a skin";
    case SkinError::UnsupportedVersion: return "unsupported version";
    case SkinError::Truncated: return "truncated";
    case SkinError::LengthMismatch: return "length mismatch";
    case SkinError::ChecksumMismatch: return "checksum mismatch";
    case SkinError::SectionOutOfBounds: return "section out of bounds";
    case SkinError::SectionTooShort: return "section too short";
    case SkinError::DuplicateSection: return "duplicate section";
    case SkinError::ValueOutOfRange: return "value out of range";
    case SkinError::MissingSection: return "missing section";
    case SkinError::UnsupportedSection: return "unsupported essential section";
    }
    return "unknown";
}

bool IsValidFamily(std::string_view family)
{
    if (family.empty() || family.size() > kMaxFamilyLength) return false;
    for (char c : family) {
        bool letterOrDigit = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!letterOrDigit && c != ' ' && c != '-') return false;
    }
    return true;
}

bool IsValidName(std::string_view name)
{
    if (name.size() > kMaxNameLength) return false;
    for (char c : name)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

uint32_t Crc32(std::span<const uint8_t> bytes)
{
    static const auto table = [] {
        std::array<uint32_t, 256> entries{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t value = i;
            for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? 0xEDB88320u ^ (value >> 1) : value >> 1;
            entries[i] = value;
        }
        return entries;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : bytes) crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

SkinError ValidateSkin(const Skin& skin)
{
    bool valid = IsValidName(skin.name) && IsValid(skin.window) && IsValid(skin.titleBar) && IsValid(skin.button) &&
                 IsValid(skin.entry) && IsValid(skin.tabs) && IsValid(skin.dialog);
    return valid ? SkinError::None : SkinError::ValueOutOfRange;
}

SkinError ParseSkin(std::span<const uint8_t> bytes, Skin& out)
{
    if (bytes.data() == nullptr || bytes.empty()) return SkinError::Empty;
    size_t magicBytes = std::min(bytes.size(), sizeof kSkinMagic);
    if (std::memcmp(bytes.data(), kSkinMagic, magicBytes) != 0) return SkinError::NotASkin;
    if (bytes.size() < kSkinHeaderSize) return SkinError::Truncated;

    Reader header(bytes.subspan(sizeof kSkinMagic, kSkinHeaderSize - sizeof kSkinMagic));
    uint16_t major = header.U16();
    header.U16();  // a newer minor version only adds sections and trailing fields
    uint32_t recordedLength = header.U32();
    uint32_t recordedCrc = header.U32();
    if (major != kSkinMajorVersion) return SkinError::UnsupportedVersion;
    if (recordedLength > bytes.size()) return SkinError::Truncated;
    if (recordedLength < bytes.size() || bytes.size() > kSkinMaxLength) return SkinError::LengthMismatch;
    if (Crc32(bytes.subspan(kSkinHeaderSize)) != recordedCrc) return SkinError::ChecksumMismatch;

    Skin skin;
    std::array<bool, kKnownSections.size()> seen{};
    size_t position = kSkinHeaderSize;
    while (position < bytes.size()) {
        constexpr size_t kSectionHeaderSize = 8;
        if (bytes.size() - position < kSectionHeaderSize) return SkinError::SectionOutOfBounds;
        Reader sectionHeader(bytes.subspan(position, kSectionHeaderSize));
        uint16_t tag = sectionHeader.U16();
        uint16_t flags = sectionHeader.U16();
        uint32_t length = sectionHeader.U32();
        position += kSectionHeaderSize;
        if (length > bytes.size() - position) return SkinError::SectionOutOfBounds;
        auto payload = bytes.subspan(position, length);
        position += length;

        size_t index = 0;
        while (index < kKnownSections.size() && static_cast<uint16_t>(kKnownSections[index].tag) != tag) ++index;
        if (index == kKnownSections.size()) {
            if (flags & kSectionEssential) return SkinError::UnsupportedSection;
            continue;
        }
        if (seen[index]) return SkinError::DuplicateSection;
        seen[index] = true;
        Reader in(payload);
        kKnownSections[index].read(in, skin);
        if (in.Error() != SkinError::None) return in.Error();
    }
    for (size_t i = 0; i < kKnownSections.size(); ++i)
        if (kKnownSections[i].required && !seen[i]) return SkinError::MissingSection;

    out = std::move(skin);
    return SkinError::None;
}

std::vector<uint8_t> EncodeSkin(const Skin& skin)
{
    Writer out;
    out.Chars(std::string_view(kSkinMagic, sizeof kSkinMagic));
    out.U16(kSkinMajorVersion);
    out.U16(kSkinMinorVersion);
    out.U32(0);  // length and checksum: sealed below
    out.U32(0);

    if (!skin.name.empty()) {
        Writer name;
        name.U8(static_cast<uint8_t>(skin.name.size()));
        name.Chars(skin.name);
        WriteSection(out, SectionTag::Name, name);
    }
    {
        const WindowStyle& s = skin.window;
        Writer w;
        WriteLook(w, s.body);
        w.U8(s.cornerRadius);
        WriteFont(w, s.font);
        WriteSection(out, SectionTag::Window, w);
    }
    {
        const TitleBarStyle& s = skin.titleBar;
        Writer w;
        WriteLook(w, s.active);
        WriteLook(w, s.backdrop);
        WriteFont(w, s.font);
        w.U8(s.buttonRadius);
        for (const Look* look : {&s.closeNormal, &s.closeHover, &s.closePressed}) WriteLook(w, *look);
        WriteSection(out, SectionTag::TitleBar, w);
    }
    {
        const ButtonStyle& s = skin.button;
        Writer w;
        w.U8(s.borderWidth);
        w.U8(s.radius);
        for (const Look* look : {&s.normal, &s.hover, &s.pressed, &s.focused, &s.disabled}) WriteLook(w, *look);
        WriteSection(out, SectionTag::Button, w);
    }
    {
        const EntryStyle& s = skin.entry;
        Writer w;
        w.U8(s.borderWidth);
        w.U8(s.radius);
        for (const Look* look : {&s.normal, &s.focused, &s.disabled}) WriteLook(w, *look);
        WriteRgba(w, s.selection);
        WriteRgba(w, s.selectionText);
        WriteRgba(w, s.caret);
        WriteSection(out, SectionTag::Entry, w);
    }
    {
        const TabsStyle& s = skin.tabs;
        Writer w;
        WriteLook(w, s.strip);
        WriteLook(w, s.page);
        w.U8(s.radius);
        for (const Look* look : {&s.normal, &s.hover, &s.checked}) WriteLook(w, *look);
        WriteRgba(w, s.accent);
        w.U8(s.accentWidth);
        WriteSection(out, SectionTag::Tabs, w);
    }
    {
        Writer w;
        WriteLook(w, skin.dialog.body);
        WriteSection(out, SectionTag::Dialog, w);
    }
    SealSkin(out.bytes);
    return std::move(out.bytes);
}

void SealSkin(std::vector<uint8_t>& bytes)
{
    if (bytes.size() < kSkinHeaderSize) return;
    WriteU32At(bytes, 8, static_cast<uint32_t>(bytes.size()));
    WriteU32At(bytes, 12, Crc32(std::span(bytes).subspan(kSkinHeaderSize)));
}

}  // namespace skin
