#include <cerrno>
#include <iconv.h>

#include "platform/platform.h"

namespace platform {
namespace {

// Bytes that make up the character at the front of the input: a UTF-8 sequence, or a code page
// lead byte with its trail byte. At least one, never more than are left.
size_t CharacterLength(const char* in, size_t left, bool fromUtf8)
{
    auto byte = [&](size_t i) { return static_cast<unsigned char>(in[i]); };
    if (!fromUtf8)
        return byte(0) >= 0x81 && byte(0) <= 0xFE && left > 1 && byte(1) >= 0x40 && byte(1) != 0x7F ? 2 : 1;
    size_t expected = byte(0) >= 0xF0 ? 4 : byte(0) >= 0xE0 ? 3 : byte(0) >= 0xC0 ? 2 : 1;
    size_t length = 1;
    while (length < expected && length < left && (byte(length) & 0xC0) == 0x80)
        ++length;
    return length;
}

// Converts what it can; a character that cannot be converted becomes one "?".
std::string Convert(std::string_view input, const char* to, const char* from)
{
    iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1))
        return std::string(input);
    std::string output(input.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    size_t produced = 0;
    while (inLeft > 0) {
        char* out = output.data() + produced;
        size_t outLeft = output.size() - produced;
        size_t result = iconv(converter, &in, &inLeft, &out, &outLeft);
        produced = output.size() - outLeft;
        if (result != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG) {
            output.resize(output.size() * 2);
        } else {
            output.resize(std::max(output.size(), produced + 1));
            output[produced++] = '?';
            size_t skipped = CharacterLength(in, inLeft, std::string_view(from) == "UTF-8");
            in += skipped;
            inLeft -= skipped;
            iconv(converter, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(converter);
    output.resize(produced);
    return output;
}

}  // namespace

std::string AnsiToUtf8(std::string_view ansi)
{
    return Convert(ansi, "UTF-8", "GBK");
}

std::string Utf8ToAnsi(std::string_view utf8)
{
    return Convert(utf8, "GBK", "UTF-8");
}

}  // namespace platform
