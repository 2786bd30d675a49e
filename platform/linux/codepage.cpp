#include <cerrno>
#include <iconv.h>

#include "platform/platform.h"

namespace platform {
namespace {

// Converts what it can; a byte sequence that cannot be converted becomes "?" and the walk
// steps over one input byte.
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
            ++in;
            --inLeft;
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
