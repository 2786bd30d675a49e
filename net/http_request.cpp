#include "net/http_request.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "net/url.h"
#include "platform/platform.h"
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

// The body as it arrives, gathered straight into the text it becomes. Only the bytes before
// its first NUL are kept, since the text ends there; later reads reuse the room behind it.
class BodyText {
public:
    // A byte array counts its bytes in 32 bits; a body beyond that is cut there.
    bool IsFull() const { return count_ == kMaxCount; }

    // Room for the next read of `size` bytes.
    char* Room(size_t size)
    {
        const size_t needed = kept_ + size + 1;
        if (needed > capacity_)
            Grow(needed);
        return block_.get() + kept_;
    }

    // Takes in the `size` bytes that the last read put into Room.
    void Commit(size_t size)
    {
        size = std::min(size, kMaxCount - count_);
        count_ += size;
        if (cut_)
            return;
        // Looked for while the bytes are still in the cache.
        const void* nul = std::memchr(block_.get() + kept_, '\0', size);
        cut_ = nul != nullptr;
        kept_ = cut_ ? static_cast<size_t>(static_cast<const char*>(nul) - block_.get()) : kept_ + size;
    }

    Text Finish()
    {
        Room(0);
        return Text::TakeOver(block_.release(), kept_);
    }

private:
    static constexpr size_t kMaxCount = std::numeric_limits<int32_t>::max();
    // A body past a mebibyte is likely a large download: its room is set aside in one go, as
    // address space only, so that it lands in one mapping that later growth remaps, not copies.
    static constexpr size_t kLargeBody = size_t{1} << 20;
    static constexpr size_t kLargeRoom = size_t{64} << 20;

    struct Free {
        void operator()(char* block) const { std::free(block); }
    };

    void Grow(size_t needed)
    {
        size_t capacity = std::max({capacity_ * 2, needed, size_t{4096}});
        if (capacity > kLargeBody)
            capacity = std::max(capacity, kLargeRoom);
        auto* grown = static_cast<char*>(platform::ResizeLargeBlock(block_.get(), capacity));
        // Where address space is tight, only what is needed.
        if (!grown && capacity > needed) {
            capacity = needed;
            grown = static_cast<char*>(platform::ResizeLargeBlock(block_.get(), capacity));
        }
        if (!grown) {
            const std::string asked = std::to_string(capacity);
            FatalRuntimeError(JoinText({"分配 ", asked.c_str(), " 字节内存失败!"}), 0);
        }
        static_cast<void>(block_.release());  // the block has moved into `grown`
        block_.reset(grown);
        capacity_ = capacity;
    }

    std::unique_ptr<char, Free> block_;
    size_t capacity_ = 0;
    size_t count_ = 0;  // bytes read
    size_t kept_ = 0;   // bytes before the first NUL
    bool cut_ = false;
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

    BodyText body;
    DWORD count = 1;
    while (count > 0 && !body.IsFull()) {
        char* buffer = body.Room(kReadSize);
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

    return body.Finish();
}
