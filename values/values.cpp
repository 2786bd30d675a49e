#include "values/values.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "runtime/runtime.h"

Text AllocateText(int64_t length);
ByteArray AllocateBytes(int64_t count);

namespace {

constexpr int64_t kMaxCount = std::numeric_limits<int32_t>::max();

[[noreturn]] void FailAllocation(int64_t bytesAsked) {
    // Built on the stack: the heap has just refused us.
    static constexpr std::string_view kHead = "分配 ";
    static constexpr std::string_view kTail = " 字节内存失败!";
    std::array<char, 64> message{};
    char* out = std::copy(kHead.begin(), kHead.end(), message.data());
    out = std::to_chars(out, out + 24, bytesAsked).ptr;
    out = std::copy(kTail.begin(), kTail.end(), out);
    *out = '\0';
    FatalRuntimeError(message.data(), 0);
}

void* AllocateOrFail(int64_t bytes) {
    void* block = std::malloc(static_cast<size_t>(bytes));
    if (block == nullptr) FailAllocation(bytes);
    return block;
}

uint32_t ReadLittleEndian32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

void WriteLittleEndian32(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
}

int32_t BlockLength(const uint8_t* block) {
    return block ? static_cast<int32_t>(ReadLittleEndian32(block + 4)) : 0;
}

// The absent value for an empty result, a stored copy otherwise.
Text MakeText(std::string_view bytes) {
    if (bytes.empty()) return {};
    Text text = AllocateText(static_cast<int64_t>(bytes.size()));
    std::memcpy(const_cast<char*>(text.Data()), bytes.data(), bytes.size());
    return text;
}

ByteArray MakeBytes(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return {};
    ByteArray array = AllocateBytes(static_cast<int64_t>(bytes.size()));
    std::memcpy(const_cast<uint8_t*>(array.Data()), bytes.data(), bytes.size());
    return array;
}

char* Writable(const Text& text) { return const_cast<char*>(text.Data()); }
uint8_t* Writable(const ByteArray& bytes) { return const_cast<uint8_t*>(bytes.Data()); }

bool HasHighBit(char byte) { return static_cast<uint8_t>(byte) >= 0x80; }

char FoldAsciiUpper(char byte) { return (byte >= 'A' && byte <= 'Z') ? static_cast<char>(byte + 0x20) : byte; }

// Two-byte letters of code page 936 whose upper-case form is also in the code page.
struct TwoByteCaseRange {
    uint16_t firstLower;
    uint16_t lastLower;
    uint16_t firstUpper;
};
constexpr TwoByteCaseRange kTwoByteUpperCase[] = {
    {0xA2A1, 0xA2AA, 0xA2F1},  // small Roman numerals
    {0xA3E1, 0xA3FA, 0xA3C1},  // full-width Latin letters
    {0xA6C1, 0xA6D8, 0xA6A1},  // Greek
    {0xA7D1, 0xA7F1, 0xA7A1},  // Cyrillic
};

uint32_t TwoByteUpper(uint32_t character) {
    for (const TwoByteCaseRange& range : kTwoByteUpperCase) {
        if (character >= range.firstLower && character <= range.lastLower) {
            return character - range.firstLower + range.firstUpper;
        }
    }
    return character;
}

bool IsLeadByte(uint8_t byte) { return byte >= 0x81 && byte <= 0xFE; }

// The value of the character at `at` by the code page's lead-byte table; 0 at the end.
uint32_t NextCharacter(const uint8_t*& at, Case letterCase) {
    uint8_t first = *at;
    if (first == 0) return 0;
    if (IsLeadByte(first)) {
        uint8_t second = at[1];
        if (second == 0) {
            at += 1;
            return 0;
        }
        at += 2;
        uint32_t character = static_cast<uint32_t>(first) << 8 | second;
        return letterCase == Case::Ignore ? TwoByteUpper(character) : character;
    }
    at += 1;
    if (letterCase == Case::Ignore && first >= 'A' && first <= 'Z') return first + 0x20u;
    return first;
}

bool IsDigit(char byte) { return byte >= '0' && byte <= '9'; }
bool IsExponentMarker(char byte) { return byte == 'e' || byte == 'E' || byte == 'd' || byte == 'D'; }

// Full-width forms and a few signs become their single-byte look-alikes.
size_t HalfWidthCopy(std::string_view text, char* out) {
    size_t length = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        uint8_t first = static_cast<uint8_t>(text[i]);
        if (first < 0x80) {
            out[length++] = static_cast<char>(first);
            continue;
        }
        if (i + 1 == text.size()) break;
        uint8_t second = static_cast<uint8_t>(text[++i]);
        if (first == 0xA3 && second >= 0xA1 && second <= 0xFE) {
            out[length++] = static_cast<char>(second - 0x80);
        } else if (first == 0xA1 && second == 0xA1) {
            out[length++] = ' ';
        } else if (first == 0xA1 && second == 0xAB) {
            out[length++] = '~';
        } else if (first == 0xA1 && (second == 0xEE || second == 0xEF)) {
            out[length++] = '*';
        } else {
            out[length++] = static_cast<char>(first);
            out[length++] = static_cast<char>(second);
        }
    }
    return length;
}

// Parses the decimal number at the start of `text` into "C" form for from_chars.
double ParseLeadingNumber(std::string_view text, char* normal) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= 0x09 && text[i] <= 0x0D))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

    size_t length = 0;
    bool sawPoint = false;
    bool sawDigit = false;
    // Decimal order of the first significant digit, to tell overflow from underflow.
    int64_t order = 0;
    bool sawSignificant = false;
    for (; i < text.size(); ++i) {
        char byte = text[i];
        if (IsDigit(byte)) {
            sawDigit = true;
            if (byte != '0') sawSignificant = true;
            if (!sawPoint && sawSignificant) ++order;
            if (sawPoint && !sawSignificant) --order;
        } else if (byte == '.' && !sawPoint) {
            sawPoint = true;
        } else {
            break;
        }
        normal[length++] = byte;
    }
    if (!sawDigit) return 0.0;

    if (i < text.size() && IsExponentMarker(text[i])) {
        size_t j = i + 1;
        bool negativeExponent = false;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) negativeExponent = text[j++] == '-';
        if (j < text.size() && IsDigit(text[j])) {
            normal[length++] = 'e';
            if (negativeExponent) normal[length++] = '-';
            int64_t exponent = 0;
            for (; j < text.size() && IsDigit(text[j]); ++j) {
                normal[length++] = text[j];
                exponent = std::min<int64_t>(exponent * 10 + (text[j] - '0'), int64_t{1} << 40);
            }
            order += negativeExponent ? -exponent : exponent;
        }
    }

    double value = 0.0;
    if (std::from_chars(normal, normal + length, value).ec == std::errc::result_out_of_range) {
        value = order > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return negative ? -value : value;
}

}  // namespace

Text AllocateText(int64_t length) {
    if (length > kMaxCount) FailAllocation(length + 1);
    char* bytes = static_cast<char*>(AllocateOrFail(length + 1));
    bytes[length] = '\0';
    return Text(bytes);
}

ByteArray AllocateBytes(int64_t count) {
    if (count > kMaxCount) FailAllocation(count + 8);
    uint8_t* block = static_cast<uint8_t*>(AllocateOrFail(count + 8));
    WriteLittleEndian32(block, 1);
    WriteLittleEndian32(block + 4, static_cast<uint32_t>(count));
    return ByteArray(block);
}

Text& Text::operator=(Text&& other) noexcept {
    if (this != &other) {
        std::free(bytes_);
        bytes_ = other.bytes_;
        other.bytes_ = nullptr;
    }
    return *this;
}

Text::~Text() { std::free(bytes_); }

Text Text::FromBytes(std::string_view bytes) { return MakeText(bytes.substr(0, bytes.find('\0'))); }

Text Text::TakeOver(char* block, size_t length) {
    if (length == 0) {
        std::free(block);
        return {};
    }
    block[length] = '\0';
    // Give back what geometric growth left over; shrinking never fails to keep the bytes.
    char* fitted = static_cast<char*>(std::realloc(block, length + 1));
    return Text(fitted ? fitted : block);
}

Text Text::StoredFromBytes(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\0'));
    Text text = AllocateText(static_cast<int64_t>(bytes.size()));
    std::memcpy(text.bytes_, bytes.data(), bytes.size());
    return text;
}

ByteArray& ByteArray::operator=(ByteArray&& other) noexcept {
    if (this != &other) {
        std::free(block_);
        block_ = other.block_;
        other.block_ = nullptr;
    }
    return *this;
}

ByteArray::~ByteArray() { std::free(block_); }

ByteArray ByteArray::FromBytes(std::span<const uint8_t> bytes) { return MakeBytes(bytes); }

int32_t ByteArray::Length() const { return BlockLength(block_); }

int32_t BytesRef::Length() const { return BlockLength(block_); }

int32_t TextLength(TextRef text) { return static_cast<int32_t>(text.View().size()); }

Text TextLeft(TextRef text, int32_t count) {
    if (count <= 0) return {};
    return MakeText(text.View().substr(0, static_cast<size_t>(count)));
}

Text TextRight(TextRef text, int32_t count) {
    if (count <= 0) return {};
    std::string_view view = text.View();
    size_t kept = std::min(view.size(), static_cast<size_t>(count));
    return MakeText(view.substr(view.size() - kept));
}

Text TextMid(TextRef text, int32_t start, int32_t count) {
    std::string_view view = text.View();
    if (start < 1 || static_cast<size_t>(start) > view.size() || count <= 0) return {};
    return MakeText(view.substr(static_cast<size_t>(start) - 1, static_cast<size_t>(count)));
}

int32_t FindText(TextRef text, TextRef sought, int32_t start, Case letterCase) {
    std::string_view haystack = text.View();
    std::string_view needle = sought.View();
    size_t n = haystack.size();
    size_t m = needle.size();
    size_t q = start >= 1 ? static_cast<size_t>(start) - 1 : 0;
    if (m == 0) return q < n ? 1 : -1;
    while (q < n && n - q >= m) {
        bool match;
        if (letterCase == Case::Ignore) {
            match = std::equal(needle.begin(), needle.end(), haystack.begin() + q,
                               [](char a, char b) { return FoldAsciiUpper(a) == FoldAsciiUpper(b); });
        } else {
            match = haystack.compare(q, m, needle) == 0;
        }
        if (match) return static_cast<int32_t>(q + 1);
        if (HasHighBit(haystack[q])) {
            if (q + 1 == n) return -1;
            q += 2;
        } else {
            q += 1;
        }
    }
    return -1;
}

Text ReplaceTextAt(TextRef text, int32_t start, int32_t count, TextRef replacement) {
    std::string_view view = text.View();
    std::string_view inserted = replacement.View();
    size_t n = view.size();
    size_t p = start < 1 ? 0 : std::min(n, static_cast<size_t>(start) - 1);
    size_t removed = count > 0 ? std::min(n - p, static_cast<size_t>(count)) : 0;
    std::string_view head = view.substr(0, p);
    std::string_view tail = view.substr(p + removed);
    size_t total = head.size() + inserted.size() + tail.size();
    if (total == 0) return {};
    Text result = AllocateText(static_cast<int64_t>(total));
    char* out = Writable(result);
    out = std::copy(head.begin(), head.end(), out);
    out = std::copy(inserted.begin(), inserted.end(), out);
    std::copy(tail.begin(), tail.end(), out);
    return result;
}

namespace {

template <char First, char Last>
Text MapLetters(TextRef text) {
    Text result = MakeText(text.View());
    char* bytes = Writable(result);
    if (bytes == nullptr) return result;
    for (char* at = bytes; *at != '\0'; ++at) {
        if (HasHighBit(*at)) {
            // The second byte of a two-byte character is never looked at.
            if (*++at == '\0') break;
        } else if (*at >= First && *at <= Last) {
            *at = static_cast<char>(*at ^ 0x20);
        }
    }
    return result;
}

}  // namespace

Text ToUpperText(TextRef text) { return MapLetters<'a', 'z'>(text); }

Text ToLowerText(TextRef text) { return MapLetters<'A', 'Z'>(text); }

double TextToNumber(TextRef text) {
    std::string_view view = text.View();
    if (view.empty()) return 0.0;
    // One scratch block: the half-width copy, then its number in "C" form (never longer).
    char* scratch = static_cast<char*>(AllocateOrFail(static_cast<int64_t>(view.size()) * 2));
    size_t halfWidthLength = HalfWidthCopy(view, scratch);
    double value = ParseLeadingNumber({scratch, halfWidthLength}, scratch + halfWidthLength);
    std::free(scratch);
    return value;
}

Text NumberToText(int32_t number) {
    std::array<char, 16> digits{};
    char* end = std::to_chars(digits.data(), digits.data() + digits.size(), number).ptr;
    return MakeText({digits.data(), static_cast<size_t>(end - digits.data())});
}

Text CopyText(TextRef text) { return MakeText(text.View()); }

Text BytesToText(BytesRef bytes) {
    std::span<const uint8_t> data = bytes.Bytes();
    const void* nul = data.empty() ? nullptr : std::memchr(data.data(), 0, data.size());
    size_t length = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - data.data()) : data.size();
    return MakeText({reinterpret_cast<const char*>(data.data()), length});
}

int32_t CompareText(TextRef first, TextRef second, Case letterCase) {
    static constexpr uint8_t kEmpty = 0;
    const uint8_t* a = first.Data() ? reinterpret_cast<const uint8_t*>(first.Data()) : &kEmpty;
    const uint8_t* b = second.Data() ? reinterpret_cast<const uint8_t*>(second.Data()) : &kEmpty;
    for (;;) {
        uint32_t left = NextCharacter(a, letterCase);
        uint32_t right = NextCharacter(b, letterCase);
        if (left != right) return left < right ? -1 : 1;
        if (left == 0) return 0;
    }
}

int32_t CompareTextExact(TextRef first, TextRef second) {
    int result = std::strcmp(first.Data() ? first.Data() : "", second.Data() ? second.Data() : "");
    return (result > 0) - (result < 0);
}

Text JoinText(std::initializer_list<TextRef> parts) {
    int64_t total = 0;
    for (TextRef part : parts) total += static_cast<int64_t>(part.View().size());
    Text result = AllocateText(total);
    char* out = Writable(result);
    for (TextRef part : parts) {
        std::string_view view = part.View();
        out = std::copy(view.begin(), view.end(), out);
    }
    return result;
}

ByteArray JoinBytes(std::initializer_list<BytesRef> parts) {
    int64_t total = 0;
    for (BytesRef part : parts) total += static_cast<uint32_t>(part.Length());
    if (total == 0) return {};
    ByteArray result = AllocateBytes(total);
    uint8_t* out = Writable(result);
    for (BytesRef part : parts) {
        std::span<const uint8_t> bytes = part.Bytes();
        if (!bytes.empty()) out = std::copy(bytes.begin(), bytes.end(), out);
    }
    return result;
}

Text BlankText(int32_t count) {
    if (count <= 0) return {};
    Text result = AllocateText(count);
    std::memset(Writable(result), ' ', static_cast<size_t>(count));
    return result;
}

ByteArray BlankBytes(int32_t count) {
    if (count <= 0) return {};
    ByteArray result = AllocateBytes(count);
    std::memset(Writable(result), 0, static_cast<size_t>(count));
    return result;
}

ByteArray BytesLeft(BytesRef bytes, int32_t count) {
    if (count <= 0) return {};
    return MakeBytes(bytes.Bytes().first(std::min(static_cast<size_t>(count), bytes.Bytes().size())));
}

int32_t BytesLength(BytesRef bytes) { return bytes.Length(); }

ByteArray CopyBytes(BytesRef bytes) { return MakeBytes(bytes.Bytes()); }

int32_t RealToInt32(double value) {
    // What the processor's truncating conversion gives for NaN and values beyond 64 bits.
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (!(value >= -kTwoTo63 && value < kTwoTo63)) return 0;
    auto truncated = static_cast<int64_t>(value);
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(truncated)));
}
