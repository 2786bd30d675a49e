#include "skin/compiler/skin_source.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <vector>

namespace skin {
namespace {

struct Origin {
    std::string file;
    int line = 0;
};

struct Entry {
    std::string value;
    Origin origin;
};

struct SourceFile {
    std::string base;
    Origin baseOrigin;
    std::map<std::string, Entry> variables;
    std::map<std::string, Entry> fields;
};

struct Failure {
    std::string message;
};

std::string Where(const Origin& origin) { return origin.file + ":" + std::to_string(origin.line) + ": "; }

std::string Trim(std::string_view text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return std::string(text.substr(begin, end - begin));
}

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.'; }

// Lines of "key = value", "$variable = value" and "base = name"; "#" starts a comment outside quotes.
SourceFile ReadLines(std::string_view text, std::string_view fileName)
{
    SourceFile file;
    int lineNumber = 0;
    size_t position = 0;
    while (position <= text.size()) {
        size_t end = text.find('\n', position);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(position, end - position);
        position = end + 1;
        ++lineNumber;
        Origin origin{std::string(fileName), lineNumber};

        bool quoted = false;
        size_t cut = line.size();
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '"') quoted = !quoted;
            // A comment's "#" stands alone, a colour's "#" is followed by its digits.
            bool blankBefore = i == 0 || std::isspace(static_cast<unsigned char>(line[i - 1]));
            bool blankAfter = i + 1 == line.size() || std::isspace(static_cast<unsigned char>(line[i + 1]));
            if (!quoted && line[i] == '#' && blankBefore && blankAfter) {
                cut = i;
                break;
            }
        }
        std::string content = Trim(line.substr(0, cut));
        if (content.empty()) continue;
        size_t equals = content.find('=');
        if (equals == std::string::npos) throw Failure{Where(origin) + "expected \"key = value\""};
        std::string key = Trim(std::string_view(content).substr(0, equals));
        std::string value = Trim(std::string_view(content).substr(equals + 1));
        if (key.empty() || value.empty()) throw Failure{Where(origin) + "expected \"key = value\""};

        bool variable = key[0] == '$';
        std::string_view bare = variable ? std::string_view(key).substr(1) : std::string_view(key);
        if (bare.empty() || !std::all_of(bare.begin(), bare.end(), IsNameChar))
            throw Failure{Where(origin) + "bad name \"" + key + "\""};
        auto& table = variable ? file.variables : file.fields;
        if (key == "base") {
            if (!file.base.empty()) throw Failure{Where(origin) + "a second base"};
            file.base = value;
            file.baseOrigin = origin;
        } else if (!table.emplace(std::string(bare), Entry{value, origin}).second) {
            throw Failure{Where(origin) + "\"" + key + "\" given twice"};
        }
    }
    return file;
}

// ---- Expressions ------------------------------------------------------------------------------

class Expression {
public:
    Expression(std::string text, Origin origin) : text_(std::move(text)), origin_(std::move(origin)) {}

    Rgba Colour()
    {
        Skip();
        if (Peek() == '#') return HexColour();
        std::string function = Word();
        Expect('(');
        Rgba first = Colour();
        Expect(',');
        if (function == "mix") {
            Rgba second = Colour();
            Expect(',');
            unsigned percent = Number(0, 100);
            Expect(')');
            return Mix(first, second, percent);
        }
        unsigned percent = Number(0, 100);
        Expect(')');
        if (function == "lighten") return Mix(first, Rgba{255, 255, 255, first.a}, percent);
        if (function == "darken") return Mix(first, Rgba{0, 0, 0, first.a}, percent);
        if (function == "alpha") return Rgba{first.r, first.g, first.b, static_cast<uint8_t>((255 * percent + 50) / 100)};
        throw Fail("unknown colour function \"" + function + "\"");
    }

    Fill FillValue()
    {
        Skip();
        Fill fill;
        if (Peek() == '#' || !LooksLikeGradient()) {
            fill.stops = {GradientStop{0, Colour()}};
            return fill;
        }
        std::string kind = Word();
        if (kind == "vertical") fill.kind = FillKind::Vertical;
        else if (kind == "horizontal") fill.kind = FillKind::Horizontal;
        else throw Fail("unknown fill \"" + kind + "\"");
        Expect('(');
        fill.stops.clear();
        std::vector<bool> placed;
        do {
            GradientStop stop{0, Colour()};
            Skip();
            bool hasOffset = std::isdigit(static_cast<unsigned char>(Peek()));
            if (hasOffset) {
                stop.offset = static_cast<uint8_t>(Number(0, 100));
                Skip();
                if (Peek() == '%') ++position_;
            }
            fill.stops.push_back(stop);
            placed.push_back(hasOffset);
            Skip();
        } while (Accept(','));
        Expect(')');
        if (fill.stops.size() < 2 || fill.stops.size() > kMaxGradientStops)
            throw Fail("a gradient takes 2 to " + std::to_string(kMaxGradientStops) + " colours");
        // Stops without an offset are spread evenly from 0 to 100.
        for (size_t i = 0; i < fill.stops.size(); ++i)
            if (!placed[i]) fill.stops[i].offset = static_cast<uint8_t>(i * 100 / (fill.stops.size() - 1));
        for (size_t i = 1; i < fill.stops.size(); ++i)
            if (fill.stops[i].offset < fill.stops[i - 1].offset) throw Fail("gradient offsets go back");
        return fill;
    }

    Font FontValue()
    {
        Font font;
        Skip();
        Expect('"');
        size_t close = text_.find('"', position_);
        if (close == std::string::npos) throw Fail("unclosed quote");
        font.family = text_.substr(position_, close - position_);
        position_ = close + 1;
        if (!IsValidFamily(font.family)) throw Fail("font family may hold letters, digits, blanks and hyphens");
        font.sizePoints = static_cast<uint8_t>(Number(kMinFontSize, kMaxFontSize));
        Skip();
        if (text_.compare(position_, 2, "pt") == 0) position_ += 2;
        font.weight = static_cast<uint16_t>(Number(100, 900));
        if (font.weight % 100 != 0) throw Fail("font weight goes in steps of 100");
        return font;
    }

    unsigned Number(unsigned low, unsigned high)
    {
        Skip();
        size_t start = position_;
        unsigned value = 0;
        while (std::isdigit(static_cast<unsigned char>(Peek())) && value < 100000) value = value * 10 + (text_[position_++] - '0');
        if (position_ == start) throw Fail("expected a number");
        if (value < low || value > high)
            throw Fail("number " + std::to_string(value) + " outside " + std::to_string(low) + ".." + std::to_string(high));
        return value;
    }

    void End()
    {
        Skip();
        if (position_ != text_.size()) throw Fail("unexpected \"" + text_.substr(position_) + "\"");
    }

private:
    static Rgba Mix(Rgba a, Rgba b, unsigned percent)
    {
        auto part = [percent](uint8_t x, uint8_t y) {
            return static_cast<uint8_t>((x * (100 - percent) + y * percent + 50) / 100);
        };
        return Rgba{part(a.r, b.r), part(a.g, b.g), part(a.b, b.b), part(a.a, b.a)};
    }

    Rgba HexColour()
    {
        ++position_;
        size_t start = position_;
        while (std::isxdigit(static_cast<unsigned char>(Peek()))) ++position_;
        std::string digits = text_.substr(start, position_ - start);
        if (digits.size() != 6 && digits.size() != 8) throw Fail("a colour is #rrggbb or #rrggbbaa");
        auto byte = [&digits](size_t at) { return static_cast<uint8_t>(std::stoul(digits.substr(at, 2), nullptr, 16)); };
        return Rgba{byte(0), byte(2), byte(4), digits.size() == 8 ? byte(6) : uint8_t{255}};
    }

    bool LooksLikeGradient() const
    {
        return text_.compare(position_, 8, "vertical") == 0 || text_.compare(position_, 10, "horizontal") == 0;
    }

    std::string Word()
    {
        Skip();
        size_t start = position_;
        while (std::isalpha(static_cast<unsigned char>(Peek()))) ++position_;
        if (position_ == start) throw Fail("expected a colour");
        return text_.substr(start, position_ - start);
    }

    char Peek() const { return position_ < text_.size() ? text_[position_] : '\0'; }
    void Skip()
    {
        while (std::isspace(static_cast<unsigned char>(Peek()))) ++position_;
    }
    bool Accept(char c)
    {
        Skip();
        if (Peek() != c) return false;
        ++position_;
        return true;
    }
    void Expect(char c)
    {
        if (!Accept(c)) throw Fail(std::string("expected \"") + c + "\"");
    }
    Failure Fail(const std::string& message) const
    {
        return Failure{Where(origin_) + message + " in \"" + text_ + "\""};
    }

    std::string text_;
    Origin origin_;
    size_t position_ = 0;
};

// Replaces each $name by its variable's value, itself expanded.
std::string Expand(const std::string& value, const Origin& origin, const std::map<std::string, Entry>& variables,
                   int depth = 0)
{
    if (depth > 16) throw Failure{Where(origin) + "variables refer to each other in a loop"};
    std::string result;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '$') {
            result += value[i];
            continue;
        }
        size_t end = i + 1;
        while (end < value.size() && IsNameChar(value[end]) && value[end] != '.') ++end;
        std::string name = value.substr(i + 1, end - i - 1);
        auto found = variables.find(name);
        if (found == variables.end()) throw Failure{Where(origin) + "unknown variable $" + name};
        result += Expand(found->second.value, found->second.origin, variables, depth + 1);
        i = end - 1;
    }
    return result;
}

// ---- The fields of a skin --------------------------------------------------------------------

struct Field {
    std::string key;
    std::function<void(Skin&, Expression&)> assign;
};

void AddLook(std::vector<Field>& fields, const std::string& prefix, std::function<Look&(Skin&)> look)
{
    fields.push_back({prefix + ".fill", [look](Skin& s, Expression& e) { look(s).fill = e.FillValue(); }});
    fields.push_back({prefix + ".border", [look](Skin& s, Expression& e) { look(s).border = e.Colour(); }});
    fields.push_back({prefix + ".text", [look](Skin& s, Expression& e) { look(s).text = e.Colour(); }});
}

template <typename Access>
void AddMeasure(std::vector<Field>& fields, const std::string& key, unsigned low, unsigned high, Access access)
{
    fields.push_back({key, [=](Skin& s, Expression& e) { access(s) = static_cast<uint8_t>(e.Number(low, high)); }});
}

template <typename Access>
void AddColour(std::vector<Field>& fields, const std::string& key, Access access)
{
    fields.push_back({key, [=](Skin& s, Expression& e) { access(s) = e.Colour(); }});
}

template <typename Access>
void AddFont(std::vector<Field>& fields, const std::string& key, Access access)
{
    fields.push_back({key, [=](Skin& s, Expression& e) { access(s) = e.FontValue(); }});
}

const std::vector<Field>& Fields()
{
    static const std::vector<Field> fields = [] {
        std::vector<Field> f;
        AddLook(f, "window", [](Skin& s) -> Look& { return s.window.body; });
        AddMeasure(f, "window.radius", 0, kMaxRadius, [](Skin& s) -> uint8_t& { return s.window.cornerRadius; });
        AddFont(f, "window.font", [](Skin& s) -> Font& { return s.window.font; });

        AddLook(f, "titlebar.active", [](Skin& s) -> Look& { return s.titleBar.active; });
        AddLook(f, "titlebar.backdrop", [](Skin& s) -> Look& { return s.titleBar.backdrop; });
        AddFont(f, "titlebar.font", [](Skin& s) -> Font& { return s.titleBar.font; });
        AddMeasure(f, "titlebar.button-radius", 0, kMaxRadius,
                   [](Skin& s) -> uint8_t& { return s.titleBar.buttonRadius; });
        AddLook(f, "titlebar.close.normal", [](Skin& s) -> Look& { return s.titleBar.closeNormal; });
        AddLook(f, "titlebar.close.hover", [](Skin& s) -> Look& { return s.titleBar.closeHover; });
        AddLook(f, "titlebar.close.pressed", [](Skin& s) -> Look& { return s.titleBar.closePressed; });

        AddMeasure(f, "button.border-width", 0, kMaxBorderWidth, [](Skin& s) -> uint8_t& { return s.button.borderWidth; });
        AddMeasure(f, "button.radius", 0, kMaxRadius, [](Skin& s) -> uint8_t& { return s.button.radius; });
        AddLook(f, "button.normal", [](Skin& s) -> Look& { return s.button.normal; });
        AddLook(f, "button.hover", [](Skin& s) -> Look& { return s.button.hover; });
        AddLook(f, "button.pressed", [](Skin& s) -> Look& { return s.button.pressed; });
        AddLook(f, "button.focused", [](Skin& s) -> Look& { return s.button.focused; });
        AddLook(f, "button.disabled", [](Skin& s) -> Look& { return s.button.disabled; });

        AddMeasure(f, "entry.border-width", 0, kMaxBorderWidth, [](Skin& s) -> uint8_t& { return s.entry.borderWidth; });
        AddMeasure(f, "entry.radius", 0, kMaxRadius, [](Skin& s) -> uint8_t& { return s.entry.radius; });
        AddLook(f, "entry.normal", [](Skin& s) -> Look& { return s.entry.normal; });
        AddLook(f, "entry.focused", [](Skin& s) -> Look& { return s.entry.focused; });
        AddLook(f, "entry.disabled", [](Skin& s) -> Look& { return s.entry.disabled; });
        AddColour(f, "entry.selection", [](Skin& s) -> Rgba& { return s.entry.selection; });
        AddColour(f, "entry.selection-text", [](Skin& s) -> Rgba& { return s.entry.selectionText; });
        AddColour(f, "entry.caret", [](Skin& s) -> Rgba& { return s.entry.caret; });

        AddLook(f, "tabs.strip", [](Skin& s) -> Look& { return s.tabs.strip; });
        AddLook(f, "tabs.page", [](Skin& s) -> Look& { return s.tabs.page; });
        AddMeasure(f, "tabs.radius", 0, kMaxRadius, [](Skin& s) -> uint8_t& { return s.tabs.radius; });
        AddLook(f, "tabs.normal", [](Skin& s) -> Look& { return s.tabs.normal; });
        AddLook(f, "tabs.hover", [](Skin& s) -> Look& { return s.tabs.hover; });
        AddLook(f, "tabs.checked", [](Skin& s) -> Look& { return s.tabs.checked; });
        AddColour(f, "tabs.accent", [](Skin& s) -> Rgba& { return s.tabs.accent; });
        AddMeasure(f, "tabs.accent-width", 0, kMaxAccentWidth, [](Skin& s) -> uint8_t& { return s.tabs.accentWidth; });

        AddLook(f, "dialog", [](Skin& s) -> Look& { return s.dialog.body; });
        return f;
    }();
    return fields;
}

// A skin's own lines over those of its bases, nearest first.
void Overlay(SourceFile& below, const SourceFile& above)
{
    for (const auto& [key, entry] : above.variables) below.variables[key] = entry;
    for (const auto& [key, entry] : above.fields) below.fields[key] = entry;
}

SourceFile Resolve(std::string_view text, std::string_view fileName, const BaseLoader& loadBase, int depth)
{
    SourceFile file = ReadLines(text, fileName);
    if (file.base.empty()) return file;
    if (depth >= 4) throw Failure{Where(file.baseOrigin) + "bases nested too deep"};
    std::optional<std::string> baseText = loadBase(file.base);
    if (!baseText) throw Failure{Where(file.baseOrigin) + "no base \"" + file.base + "\""};
    SourceFile merged = Resolve(*baseText, "base/" + file.base + ".skin", loadBase, depth + 1);
    Overlay(merged, file);
    return merged;
}

}  // namespace

bool CompileSkinSource(std::string_view text, std::string_view fileName, const BaseLoader& loadBase, Skin& out,
                       std::string& error)
{
    try {
        SourceFile source = Resolve(text, fileName, loadBase, 0);
        Skin skin;
        auto name = source.fields.find("name");
        if (name != source.fields.end()) {
            skin.name = Expand(name->second.value, name->second.origin, source.variables);
            if (!IsValidName(skin.name)) throw Failure{Where(name->second.origin) + "a name is up to 48 plain characters"};
            source.fields.erase(name);
        }
        for (const Field& field : Fields()) {
            auto found = source.fields.find(field.key);
            if (found == source.fields.end())
                throw Failure{std::string(fileName) + ": no value for \"" + field.key + "\""};
            Expression expression(Expand(found->second.value, found->second.origin, source.variables),
                                  found->second.origin);
            field.assign(skin, expression);
            expression.End();
            source.fields.erase(found);
        }
        if (!source.fields.empty()) {
            const auto& [key, entry] = *source.fields.begin();
            throw Failure{Where(entry.origin) + "unknown key \"" + key + "\""};
        }
        if (ValidateSkin(skin) != SkinError::None) throw Failure{std::string(fileName) + ": a value is out of range"};
        out = std::move(skin);
        return true;
    } catch (const Failure& failure) {
        error = failure.message;
        return false;
    }
}

}  // namespace skin
