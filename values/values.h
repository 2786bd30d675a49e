// Text and byte-array values: the two kinds of value that every routine passes around.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

// A NUL-terminated string of code page 936 bytes, owned. Default-constructed it is absent,
// which every operation treats as the empty text. Move-only: a copy is always explicit.
class Text {
public:
    Text() = default;
    Text(Text&& other) noexcept : bytes_(other.bytes_) { other.bytes_ = nullptr; }
    Text& operator=(Text&& other) noexcept;
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    ~Text();

    // A stored copy of the bytes up to the first NUL in them (the absent text for none).
    static Text FromBytes(std::string_view bytes);
    // A stored text even when empty: what JoinText gives.
    static Text StoredFromBytes(std::string_view bytes);
    // Takes over a block from malloc of at least `length` + 1 bytes, the first `length` of them
    // free of NUL, so that a text gathered piece by piece needs no final copy. The block is
    // freed when `length` is 0.
    static Text TakeOver(char* block, size_t length);

    const char* Data() const { return bytes_; }  // nullptr when absent
    bool IsAbsent() const { return bytes_ == nullptr; }
    std::string_view View() const { return bytes_ ? std::string_view(bytes_) : std::string_view(); }

private:
    explicit Text(char* bytes) : bytes_(bytes) {}
    friend Text AllocateText(int64_t length);
    char* bytes_ = nullptr;
};

// A borrowed text: a literal, a Text, or absent. Never released.
class TextRef {
public:
    constexpr TextRef() = default;
    constexpr TextRef(std::nullptr_t) {}
    constexpr TextRef(const char* bytes) : bytes_(bytes) {}
    TextRef(const Text& text) : bytes_(text.Data()) {}
    constexpr const char* Data() const { return bytes_; }
    std::string_view View() const { return bytes_ ? std::string_view(bytes_) : std::string_view(); }

private:
    const char* bytes_ = nullptr;
};

// A counted sequence of bytes, owned, kept in its storage form: the 32-bit little-endian
// integer 1, the 32-bit little-endian byte count, then the bytes. Absent means empty.
class ByteArray {
public:
    ByteArray() = default;
    ByteArray(ByteArray&& other) noexcept : block_(other.block_) { other.block_ = nullptr; }
    ByteArray& operator=(ByteArray&& other) noexcept;
    ByteArray(const ByteArray&) = delete;
    ByteArray& operator=(const ByteArray&) = delete;
    ~ByteArray();

    // A copy of the bytes (the absent value for none).
    static ByteArray FromBytes(std::span<const uint8_t> bytes);

    const uint8_t* Block() const { return block_; }  // storage form, nullptr when absent
    const uint8_t* Data() const { return block_ ? block_ + 8 : nullptr; }
    int32_t Length() const;
    std::span<const uint8_t> Bytes() const { return {Data(), static_cast<size_t>(Length())}; }
    bool IsAbsent() const { return block_ == nullptr; }

private:
    explicit ByteArray(uint8_t* block) : block_(block) {}
    friend ByteArray AllocateBytes(int64_t count);
    uint8_t* block_ = nullptr;
};

// A borrowed byte array: a ByteArray or a constant block in storage form. Never released.
class BytesRef {
public:
    constexpr BytesRef() = default;
    constexpr BytesRef(std::nullptr_t) {}
    constexpr explicit BytesRef(const uint8_t* block) : block_(block) {}
    BytesRef(const ByteArray& bytes) : block_(bytes.Block()) {}
    constexpr const uint8_t* Block() const { return block_; }
    const uint8_t* Data() const { return block_ ? block_ + 8 : nullptr; }
    int32_t Length() const;
    std::span<const uint8_t> Bytes() const { return {Data(), static_cast<size_t>(Length())}; }

private:
    const uint8_t* block_ = nullptr;
};

enum class Case { Sensitive, Ignore };

int32_t TextLength(TextRef text);
Text TextLeft(TextRef text, int32_t count);
Text TextRight(TextRef text, int32_t count);
Text TextMid(TextRef text, int32_t start, int32_t count);
// A start below 1 stands for an omitted start: the search begins at the first byte.
int32_t FindText(TextRef text, TextRef sought, int32_t start, Case letterCase);
Text ReplaceTextAt(TextRef text, int32_t start, int32_t count, TextRef replacement = {});
Text ToUpperText(TextRef text);
Text ToLowerText(TextRef text);
double TextToNumber(TextRef text);
Text NumberToText(int32_t number);
Text CopyText(TextRef text);  // the conversion of a Text to Text: a copy, absent when empty
Text BytesToText(BytesRef bytes);
int32_t CompareText(TextRef first, TextRef second, Case letterCase);
int32_t CompareTextExact(TextRef first, TextRef second);
Text JoinText(std::initializer_list<TextRef> parts);
ByteArray JoinBytes(std::initializer_list<BytesRef> parts);
Text BlankText(int32_t count);
ByteArray BlankBytes(int32_t count);
ByteArray BytesLeft(BytesRef bytes, int32_t count);
int32_t BytesLength(BytesRef bytes);
ByteArray CopyBytes(BytesRef bytes);  // a copy of a constant block or another array

// A real count or position as a 32-bit argument: truncated toward zero to 64 bits, low 32 kept.
int32_t RealToInt32(double value);
