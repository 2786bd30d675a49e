// URL splitting on arbitrary bytes: whatever comes in, host, port and path keep their shape.
#include <cstdint>
#include <string_view>

#include "net/url.h"
#include "tests/fuzz/fuzz_input.h"

using fuzz::Require;

namespace {

bool HighBit(char byte) { return static_cast<uint8_t>(byte) >= 0x80; }

// Calls `visit` with each byte that begins a character, stepping over second bytes as the
// text operations do.
template <typename Visit>
void ForEachCharacterStart(std::string_view text, Visit visit) {
    for (size_t i = 0; i < text.size(); i += HighBit(text[i]) ? 2 : 1) visit(text[i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    const Text url = Text::FromBytes(input.Until(0));
    const std::string_view bytes = url.View();

    const Text host = UrlHost(url);
    const int32_t port = UrlPort(url);
    const Text path = UrlPath(url);

    ForEachCharacterStart(host.View(), [](char c) {
        Require(!(c >= 'A' && c <= 'Z'), "the host is lower case");
        Require(c != '/' && c != ':', "the host holds no slash and no port");
    });
    Require(host.View().size() <= bytes.size(), "the host is a piece of the URL");
    Require(host.IsAbsent() || FindText(url, host, 1, Case::Ignore) >= 1, "the host occurs in the URL");

    Require(path.View().starts_with('/'), "the path begins with a slash");
    Require(path.View() == "/" || bytes.ends_with(path.View()), "the path is the URL's tail");
    if (bytes.find('/') == std::string_view::npos) Require(path.View() == "/", "no slash gives the path /");
    if (bytes.find(':') == std::string_view::npos) Require(port == 80, "no colon gives port 80");

    Require(UrlHost(url).View() == host.View() && UrlPort(url) == port && UrlPath(url).View() == path.View(),
            "splitting is a pure function of the URL");
    const Text authority = UrlAuthority(url);
    Require(authority.View().size() <= bytes.size(), "the host-and-port text is a piece of the URL");
    return 0;
}
