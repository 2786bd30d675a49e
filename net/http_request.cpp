#include "net/http_request.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>

#include "net/url.h"
#include "runtime/library_functions.h"
#include "runtime/runtime.h"

namespace {

constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
constexpr DWORD INTERNET_OPEN_TYPE_PROXY = 3;
constexpr DWORD INTERNET_SERVICE_HTTP = 3;
constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
constexpr DWORD INTERNET_OPTION_CONNECT_TIMEOUT = 2;
constexpr DWORD INTERNET_OPTION_SEND_TIMEOUT = 5;
constexpr DWORD INTERNET_OPTION_RECEIVE_TIMEOUT = 6;
constexpr DWORD HTTP_QUERY_RAW_HEADERS_CRLF = 22;

constexpr const char* kAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
constexpr DWORD kTimeoutMilliseconds = 18000;
constexpr DWORD kReadSize = 512;
constexpr DWORD kResponseHeaderBufferSize = 1024;

constexpr const char* kDefaultAccept =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*\r\n";

// Platform calls take an empty string where a text may be absent.
const char* Bytes(TextRef text)
{
    return text.Data() ? text.Data() : "";
}

// The body in the storage form of a byte array, so that BytesToText reads it in place. It
// grows geometrically through realloc, which moves a large block by remapping, not copying.
class BodyBuffer {
public:
    bool IsFull() const { return count_ == kMaxCount; }

    // Room for `size` more bytes at the end of the body, for the next read to fill.
    uint8_t* Room(size_t size)
    {
        if (count_ + size > capacity_) {
            const size_t capacity = std::max({capacity_ * 2, count_ + size, size_t{4096} - kHeaderSize});
            auto* grown = static_cast<uint8_t*>(std::realloc(block_.get(), kHeaderSize + capacity));
            if (!grown) {
                const std::string asked = std::to_string(kHeaderSize + capacity);
                FatalRuntimeError(JoinText({"分配 ", asked.c_str(), " 字节内存失败!"}), 0);
            }
            static_cast<void>(block_.release());  // realloc has taken the old block over
            block_.reset(grown);
            capacity_ = capacity;
        }
        return block_.get() + kHeaderSize + count_;
    }

    // A value counts its bytes in 32 bits; a body beyond that is cut there.
    void Commit(size_t size) { count_ += std::min(size, kMaxCount - count_); }

    BytesRef Finish()
    {
        Room(0);
        const uint32_t values[2] = {1, static_cast<uint32_t>(count_)};
        for (size_t i = 0; i < kHeaderSize; ++i)
            block_.get()[i] = static_cast<uint8_t>(values[i / 4] >> (8 * (i % 4)));
        return BytesRef(block_.get());
    }

private:
    static constexpr size_t kHeaderSize = 8;
    static constexpr size_t kMaxCount = std::numeric_limits<int32_t>::max();
    struct Free {
        void operator()(uint8_t* block) const { std::free(block); }
    };

    std::unique_ptr<uint8_t, Free> block_;
    size_t count_ = 0;
    size_t capacity_ = 0;
};

}  // namespace

Text HttpRequestText(TextRef Url, TextRef Method, std::optional<TextRef> Proxy, TextRef Headers,
                     TextRef PostData, Text* ResponseHeaders)
{
    HINTERNET internet = nullptr;
    if (Proxy) {
        const Text proxyList = JoinText({"http=", *Proxy});
        internet = InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PROXY, proxyList.Data(), "", 0);
    } else {
        internet = InternetOpenA(kAgent, INTERNET_OPEN_TYPE_DIRECT, "", "", 0);
    }
    if (!internet)
        return {};

    const Text host = UrlHost(Url);
    const int32_t port = UrlPort(Url);
    // Only the port's low 16 bits reach the platform, as with any 16-bit port parameter.
    HINTERNET connection = InternetConnectA(internet, Bytes(host), static_cast<INTERNET_PORT>(port), "", "",
                                            INTERNET_SERVICE_HTTP, 0, 0);
    if (!connection) {
        InternetCloseHandle(internet);
        return {};
    }

    TextRef verb = Method;
    if (CompareTextExact(ToUpperText(Method), "POST") != 0)
        verb = "GET";

    const Text path = UrlPath(Url);
    HINTERNET request = HttpOpenRequestA(connection, Bytes(verb), Bytes(path), "HTTP/1.1", nullptr, nullptr,
                                         INTERNET_FLAG_RELOAD, 0);
    if (!request) {
        InternetCloseHandle(internet);
        InternetCloseHandle(connection);
        return {};
    }

    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT,
                         INTERNET_OPTION_SEND_TIMEOUT}) {
        DWORD timeout = kTimeoutMilliseconds;
        InternetSetOptionA(request, option, &timeout, sizeof timeout);
    }

    // The names are searched anywhere in the block, so "X-Accept: 1" counts as an Accept line.
    Text headers = CopyText(Headers);
    if (FindText(headers, "Accept: ", 1, Case::Ignore) == -1)
        headers = JoinText({headers, kDefaultAccept});
    if (FindText(headers, "Referer: ", 1, Case::Ignore) == -1)
        headers = JoinText({headers, "Referer: ", Url, "\r\n"});
    if (FindText(headers, "Accept-Language: ", 1, Case::Ignore) == -1)
        headers = JoinText({headers, "Accept-Language: zh-cn\r\n"});

    if (CompareTextExact(verb, "GET") == 0) {
        HttpSendRequestA(request, Bytes(headers), TextLength(headers), const_cast<char*>(""), 0);
    } else {
        if (TextLength(PostData) > 0) {
            headers = JoinText({headers, "Content-Type: application/x-www-form-urlencoded\r\n", "Content-Length: ",
                                NumberToText(TextLength(PostData)), "\r\n"});
        }
        // The platform only reads the optional data; its declaration is not const-correct.
        HttpSendRequestA(request, Bytes(headers), TextLength(headers), const_cast<char*>(PostData.Data()),
                         TextLength(PostData));
    }

    BodyBuffer body;
    DWORD count = 1;
    while (count > 0 && !body.IsFull()) {
        uint8_t* buffer = body.Room(kReadSize);
        ProcessPendingEvents();
        count = 0;
        InternetReadFile(request, buffer, kReadSize, &count);
        body.Commit(std::min(count, kReadSize));
    }

    if (ResponseHeaders) {
        std::array<char, kResponseHeaderBufferSize + 1> buffer;
        buffer.fill(' ');
        buffer.back() = '\0';
        DWORD length = kResponseHeaderBufferSize;
        HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &length, nullptr);
        buffer.back() = '\0';
        *ResponseHeaders = Text::FromBytes(std::string_view(buffer.data()));
    }

    InternetCloseHandle(internet);
    InternetCloseHandle(connection);
    InternetCloseHandle(request);

    return BytesToText(body.Finish());
}
