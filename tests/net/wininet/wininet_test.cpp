// Loads the built wininet.dll by name, as the program does, and drives it against scripted servers.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/wininet/wininet.h"
#include "scripted_server.h"

namespace {

using namespace std::chrono_literals;
using Connection = ScriptedServer::Connection;

struct Library {
    decltype(&::InternetOpenA) InternetOpenA;
    decltype(&::InternetConnectA) InternetConnectA;
    decltype(&::InternetCloseHandle) InternetCloseHandle;
    decltype(&::HttpOpenRequestA) HttpOpenRequestA;
    decltype(&::InternetSetOptionA) InternetSetOptionA;
    decltype(&::HttpSendRequestA) HttpSendRequestA;
    decltype(&::InternetReadFile) InternetReadFile;
    decltype(&::HttpQueryInfoA) HttpQueryInfoA;
};

template <typename Function>
void Bind(void* module, Function& function, const char* name) {
    function = reinterpret_cast<Function>(dlsym(module, name));
    if (!function) ADD_FAILURE() << "wininet.dll lacks " << name;
}

const Library& Wininet() {
    static const Library library = [] {
        Library bound{};
        void* module = dlopen(WININET_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            ADD_FAILURE() << dlerror();
            std::abort();
        }
        Bind(module, bound.InternetOpenA, "InternetOpenA");
        Bind(module, bound.InternetConnectA, "InternetConnectA");
        Bind(module, bound.InternetCloseHandle, "InternetCloseHandle");
        Bind(module, bound.HttpOpenRequestA, "HttpOpenRequestA");
        Bind(module, bound.InternetSetOptionA, "InternetSetOptionA");
        Bind(module, bound.HttpSendRequestA, "HttpSendRequestA");
        Bind(module, bound.InternetReadFile, "InternetReadFile");
        Bind(module, bound.HttpQueryInfoA, "HttpQueryInfoA");
        return bound;
    }();
    return library;
}

constexpr const char* kAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

std::string Response(std::string_view status, std::string_view body, std::string_view extraHeaders = "") {
    return "HTTP/1.1 " + std::string(status) + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
           std::string(extraHeaders) + "\r\n" + std::string(body);
}

ScriptedServer::Script Answer(std::string response) {
    return [response](Connection& c) {
        if (c.ReadRequest()) c.Send(response);
    };
}

// The three handles of one request, opened and closed the way the program does.
struct Exchange {
    HINTERNET internet = nullptr;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;

    struct Target {
        const char* host = "127.0.0.1";
        uint16_t port = 0;
        const char* verb = "GET";
        const char* path = "/kestu/713.txt";
        DWORD access = INTERNET_OPEN_TYPE_DIRECT;
        const char* proxy = "";
    };

    explicit Exchange(const Target& target) {
        const Library& w = Wininet();
        internet = w.InternetOpenA(kAgent, target.access, target.proxy, "", 0);
        connection = w.InternetConnectA(internet, target.host, target.port, "", "", INTERNET_SERVICE_HTTP, 0, 0);
        request = w.HttpOpenRequestA(connection, target.verb, target.path, "HTTP/1.1", nullptr, nullptr,
                                     INTERNET_FLAG_RELOAD, 0);
    }
    explicit Exchange(uint16_t port) : Exchange(Target{.port = port}) {}
    ~Exchange() {
        for (HINTERNET handle : {internet, connection, request})
            if (handle) Wininet().InternetCloseHandle(handle);
    }

    void SetTimeouts(DWORD milliseconds) {
        for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT})
            EXPECT_TRUE(Wininet().InternetSetOptionA(request, option, &milliseconds, sizeof milliseconds));
    }

    BOOL Send(std::string_view headers = "", std::string_view body = "") {
        return Wininet().HttpSendRequestA(request, headers.data(), static_cast<DWORD>(headers.size()),
                                          const_cast<char*>(body.data()), static_cast<DWORD>(body.size()));
    }

    struct Body {
        std::string bytes;
        bool failed = false;  // the read that ended it said FALSE
    };

    // Reads until a read delivers 0 bytes, never accepting more than asked for.
    Body ReadAll(DWORD chunk = 512) {
        Body body;
        std::vector<char> buffer(chunk);
        for (;;) {
            DWORD count = 12345;
            BOOL ok = Wininet().InternetReadFile(request, buffer.data(), chunk, &count);
            EXPECT_LE(count, chunk);
            if (count == 0) {
                body.failed = !ok;
                return body;
            }
            EXPECT_TRUE(ok);
            body.bytes.append(buffer.data(), count);
        }
    }

    std::string RawHeaders() {
        std::string buffer(4096, '\0');
        DWORD length = static_cast<DWORD>(buffer.size());
        if (!Wininet().HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &length, nullptr))
            return "(query failed)";
        EXPECT_EQ(buffer[length], '\0');
        buffer.resize(length);
        return buffer;
    }
};

size_t CountOf(std::string_view text, std::string_view part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

std::string HeadOf(std::string_view request) { return std::string(request.substr(0, request.find("\r\n\r\n") + 4)); }

TEST(WininetGet, ReturnsBodyAndTheRawHeadersOfTheResponse) {
    ScriptedServer server(Answer(Response("200 OK", "1", "X-Served-By: script\r\n")));
    Exchange exchange(server.Port());
    ASSERT_TRUE(exchange.Send());
    EXPECT_EQ(exchange.RawHeaders(), "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nX-Served-By: script\r\n\r\n");
    auto body = exchange.ReadAll();
    EXPECT_EQ(body.bytes, "1");
    EXPECT_FALSE(body.failed);
    // Further reads stay at the end.
    DWORD count = 9;
    char byte;
    EXPECT_TRUE(Wininet().InternetReadFile(exchange.request, &byte, 1, &count));
    EXPECT_EQ(count, 0u);
}

// The caller's header lines reach the wire as given, in order, with nothing of curl's own in their place.
TEST(WininetGet, SendsTheCallersHeaderLinesExactly) {
    const std::string programBlock =
        "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
        "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*\r\n"
        "Referer: http://127.0.0.1/kestu/713.txt\r\nAccept-Language: zh-cn\r\n";
    struct Case {
        const char* what;
        std::string block;
        std::vector<std::string> linesInOrder;
        std::vector<std::string> absentNames;
    } cases[] = {
        {"the program's default block", programBlock,
         {"Accept: image/gif, image/x-xbitmap", "Referer: http://127.0.0.1/kestu/713.txt", "Accept-Language: zh-cn"},
         {"Expect:", "Content-Length:", "Content-Type:", "Accept-Encoding:"}},
        {"no Accept line of the caller's", "X-First: 1\r\nX-Second: 2\r\n",
         {"X-First: 1", "X-Second: 2"},
         {"Accept:", "Expect:"}},
        {"last line without a line break", "X-Tail: 1\r\nX-Joined: barAccept: */*",
         {"X-Tail: 1", "X-Joined: barAccept: */*"},
         {"Accept:"}},
        {"a header with an empty value", "X-Empty:\r\nX-After: 1\r\n", {"X-Empty:", "X-After: 1"}, {}},
        {"an empty line inside the block", "X-Before: 1\r\n\r\nX-After: 2\r\n", {"X-Before: 1", "X-After: 2"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedServer server(Answer(Response("200 OK", "ok")));
        Exchange exchange(server.Port());
        ASSERT_TRUE(exchange.Send(c.block));
        EXPECT_EQ(exchange.ReadAll().bytes, "ok");
        ASSERT_EQ(server.Requests().size(), 1u);
        const std::string request = server.Requests()[0];
        EXPECT_EQ(request, HeadOf(request)) << "a GET without optional data sends no body";
        EXPECT_TRUE(request.starts_with("GET /kestu/713.txt HTTP/1.1\r\n")) << request;
        EXPECT_EQ(CountOf(request, "\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n"), 1u) << request;
        EXPECT_EQ(CountOf(request, "\r\nUser-Agent: " + std::string(kAgent) + "\r\n"), 1u) << request;
        size_t last = 0;
        for (const std::string& line : c.linesInOrder) {
            size_t at = request.find("\r\n" + line, last);
            EXPECT_NE(at, std::string::npos) << line << " missing or out of order in\n" << request;
            EXPECT_EQ(CountOf(request, "\r\n" + line), 1u) << line;
            last = at == std::string::npos ? last : at + 1;
        }
        for (const std::string& name : c.absentNames) EXPECT_EQ(CountOf(request, "\r\n" + name), 0u) << request;
    }
}

TEST(WininetPost, SendsTheBodyWithTheCallersLengthOnlyOnce) {
    struct Case {
        const char* what;
        const char* verb;
        std::string body;
        bool callerGivesLength;
    } cases[] = {
        {"small letters, as the caller wrote them", "post", "a=1&b=2", true},
        {"double-byte characters count as bytes", "POST", "name=\xC7\xE0\xD3\xD1", true},
        {"past curl's threshold for 100-continue", "POST", std::string(3 << 20, 'x'), true},
        {"no length of the caller's: the body is still framed", "POST", "q=1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedServer server(Answer(Response("200 OK", "done")));
        Exchange exchange(Exchange::Target{.port = server.Port(), .verb = c.verb});
        std::string block = "Content-Type: application/x-www-form-urlencoded\r\n";
        if (c.callerGivesLength) block += "Content-Length: " + std::to_string(c.body.size()) + "\r\n";
        ASSERT_TRUE(exchange.Send(block, c.body));
        EXPECT_EQ(exchange.ReadAll().bytes, "done");
        ASSERT_EQ(server.Requests().size(), 1u);
        const std::string request = server.Requests()[0];
        const std::string head = HeadOf(request);
        EXPECT_TRUE(head.starts_with(std::string(c.verb) + " /kestu/713.txt HTTP/1.1\r\n")) << head;
        EXPECT_EQ(CountOf(head, "Content-Length: " + std::to_string(c.body.size()) + "\r\n"), 1u) << head;
        EXPECT_EQ(CountOf(head, "Content-Type:"), 1u) << head;
        EXPECT_EQ(CountOf(head, "Expect:"), 0u) << head;
        EXPECT_TRUE(request.substr(head.size()) == c.body);
    }
}

// Each of these ends before a final response head: the send fails and nothing can be read or queried.
TEST(WininetFailure, SendFailsWhenNoResponseHeadArrives) {
    auto holdOpen = [](Connection& c) {
        if (c.ReadRequest()) c.AwaitRelease();
    };
    auto redirectForever = [](Connection& c) {
        while (c.ReadRequest()) c.Send(Response("302 Found", "", "Location: /again\r\n"));
    };
    struct Case {
        const char* what;
        ScriptedServer::Script script;
        const char* host = "127.0.0.1";
        bool refusedPort = false;
    } cases[] = {
        {"connection refused", Answer(""), "127.0.0.1", true},
        {"host name that does not resolve", Answer(""), "no-such-host.invalid"},
        {"server accepts and never answers", holdOpen},
        {"closed without an answer", [](Connection& c) { c.ReadRequest(); }},
        {"reset without an answer", [](Connection& c) { if (c.ReadRequest()) c.Reset(); }},
        {"status code that is not a number", Answer("HTTP/1.1 abc OK\r\nContent-Length: 1\r\n\r\n1")},
        {"not HTTP at all", Answer("SSH-2.0-hello\r\n\r\n")},
        {"head cut off", Answer("HTTP/1.1 200 OK\r\nContent-Len")},
        {"redirect loop", redirectForever},
        {"redirect to a local file", Answer(Response("302 Found", "", "Location: file:///etc/hostname\r\n"))},
        {"redirect that never answers", [&](Connection& c) {
             if (!c.ReadRequest()) return;
             c.Send(Response("302 Found", "", "Location: /next\r\n"));
             if (c.ReadRequest()) c.AwaitRelease();
         }},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedServer server(c.script);
        Exchange exchange(Exchange::Target{.host = c.host, .port = c.refusedPort ? UnusedPort() : server.Port()});
        ASSERT_NE(exchange.request, nullptr) << "handles open without touching the network";
        exchange.SetTimeouts(300);
        EXPECT_FALSE(exchange.Send());
        server.Release();
        EXPECT_FALSE(server.GaveUpWaiting()) << "the client never gave up on its own";

        char buffer[16] = "untouched";
        DWORD count = 7;
        EXPECT_FALSE(Wininet().InternetReadFile(exchange.request, buffer, sizeof buffer, &count));
        EXPECT_EQ(count, 0u);
        DWORD length = sizeof buffer;
        EXPECT_FALSE(Wininet().HttpQueryInfoA(exchange.request, HTTP_QUERY_RAW_HEADERS_CRLF, buffer, &length, nullptr));
        EXPECT_STREQ(buffer, "untouched");
        EXPECT_LE(server.Requests().size(), 11u) << "at most ten redirects are followed";
    }
}

TEST(WininetBody, ComesBackWholeWhateverTheStatusOrFraming) {
    const std::string withNul("1\0tail", 6);
    struct Case {
        const char* what;
        std::string response;
        std::string body;
    } cases[] = {
        {"404 page", Response("404 Not Found", "<h1>missing</h1>"), "<h1>missing</h1>"},
        {"500 page", Response("500 Internal Server Error", "oops"), "oops"},
        {"NUL byte inside", Response("200 OK", withNul), withNul},
        {"empty", Response("200 OK", ""), ""},
        {"chunked, with a trailer",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\nX-Trailer: t\r\n\r\n",
         "hello world"},
        {"ended by closing the connection", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nuntil the end", "until the end"},
        {"compressed bytes stay as they are", Response("200 OK", "\x1f\x8b\x08zz", "Content-Encoding: gzip\r\n"),
         "\x1f\x8b\x08zz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedServer server(Answer(c.response));
        Exchange exchange(server.Port());
        ASSERT_TRUE(exchange.Send());
        auto body = exchange.ReadAll();
        EXPECT_EQ(body.bytes, c.body);
        EXPECT_FALSE(body.failed);
        const std::string head = exchange.RawHeaders();
        EXPECT_EQ(head.find("\r\n\r\n"), head.size() - 4) << "nothing after the head's blank line: " << head;
    }
}

TEST(WininetBody, FollowsARedirectAndReportsTheFinalHeadOnly) {
    ScriptedServer server([](Connection& c) {
        if (!c.ReadRequest()) return;
        c.Send(Response("302 Found", "moved", "Location: /kestu/dizhi.txt\r\n"));
        if (c.ReadRequest()) c.Send(Response("200 OK", "http://download"));
    });
    Exchange exchange(server.Port());
    ASSERT_TRUE(exchange.Send());
    EXPECT_EQ(exchange.RawHeaders(), "HTTP/1.1 200 OK\r\nContent-Length: 15\r\n\r\n");
    EXPECT_EQ(exchange.ReadAll().bytes, "http://download");
    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_TRUE(server.Requests()[1].starts_with("GET /kestu/dizhi.txt HTTP/1.1\r\n"));
}

// A body that breaks off gives the bytes that came, then a failed read of 0 bytes.
TEST(WininetBody, BreakingOffMidBodyFailsAfterTheBytesReceived) {
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n";
    const std::string part(300, 'p');
    struct Case {
        const char* what;
        ScriptedServer::Script script;
    } cases[] = {
        {"reset", [&](Connection& c) {
             if (!c.ReadRequest()) return;
             c.Send(head + part);
             c.Pause(200ms);
             c.Reset();
         }},
        {"closed short of the length", [&](Connection& c) {
             if (c.ReadRequest()) c.Send(head + part);
         }},
        {"stalls past the receive time-out", [&](Connection& c) {
             if (!c.ReadRequest()) return;
             c.Send(head + part);
             c.AwaitRelease();
         }},
        {"chunked body cut off", [&](Connection& c) {
             if (c.ReadRequest()) c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n12c\r\n" + part);
         }},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedServer server(c.script);
        Exchange exchange(server.Port());
        exchange.SetTimeouts(300);
        ASSERT_TRUE(exchange.Send());
        auto body = exchange.ReadAll();
        server.Release();
        EXPECT_EQ(body.bytes, part);
        EXPECT_TRUE(body.failed);
        EXPECT_FALSE(server.GaveUpWaiting());
    }
}

TEST(WininetBody, LargeBodyArrivesIntact) {
    constexpr size_t kSize = 64u << 20;
    std::string pattern(kSize, '\0');
    for (size_t i = 0; i < kSize; ++i) pattern[i] = static_cast<char>((i * 2654435761u) >> 13);
    ScriptedServer server(Answer(Response("200 OK", pattern)));
    Exchange exchange(server.Port());
    ASSERT_TRUE(exchange.Send());
    auto body = exchange.ReadAll(512);
    EXPECT_FALSE(body.failed);
    ASSERT_EQ(body.bytes.size(), kSize);
    EXPECT_TRUE(body.bytes == pattern) << "the bytes differ from the pattern sent";
}

TEST(WininetBody, SmallReadsGiveNoMoreThanAskedFor) {
    std::string sent;
    for (int i = 0; i < 1000; ++i) sent += static_cast<char>('a' + i % 26);
    ScriptedServer server(Answer(Response("200 OK", sent)));
    Exchange exchange(server.Port());
    ASSERT_TRUE(exchange.Send());
    std::string received;
    const DWORD sizes[] = {1, 2, 3, 7, 64};
    for (size_t i = 0;; ++i) {
        char buffer[64];
        DWORD count = 0;
        DWORD asked = sizes[i % std::size(sizes)];
        ASSERT_TRUE(Wininet().InternetReadFile(exchange.request, buffer, asked, &count));
        ASSERT_LE(count, asked);
        if (count == 0) break;
        received.append(buffer, count);
    }
    EXPECT_EQ(received, sent);
}

TEST(WininetQueryInfo, TooSmallABufferIsLeftUntouched) {
    ScriptedServer server(Answer(Response("200 OK", "1", "Server: scripted\r\n")));
    Exchange exchange(server.Port());
    ASSERT_TRUE(exchange.Send());
    const std::string block = "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nServer: scripted\r\n\r\n";

    std::string blanks(1024, ' ');
    std::string buffer = blanks;
    DWORD length = static_cast<DWORD>(block.size());  // no room for the NUL
    EXPECT_FALSE(Wininet().HttpQueryInfoA(exchange.request, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &length, nullptr));
    EXPECT_EQ(buffer, blanks);
    EXPECT_EQ(length, block.size() + 1);

    EXPECT_TRUE(Wininet().HttpQueryInfoA(exchange.request, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &length, nullptr));
    EXPECT_EQ(length, block.size());
    EXPECT_EQ(std::string(buffer.c_str()), block);

    length = 1024;
    EXPECT_FALSE(Wininet().HttpQueryInfoA(exchange.request, 19, buffer.data(), &length, nullptr)) << "only raw headers";
}

// The head block follows curl's reading of the response: any letter case for "HTTP/", and a line
// that begins with CR or LF ends the head whatever else is on it.
TEST(WininetQueryInfo, HeadBlockEndsWhereCurlEndsTheHead) {
    struct Case { const char* what; std::string response; std::string block; std::string body; } cases[] = {
        {"status line in small letters", "http/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
         "http/1.1 200 OK\r\nContent-Length: 2\r\n\r\n", "ok"},
        {"blank line with a stray byte after its CR", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r:\r\nok",
         "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n", "ok"},
        {"interim status with white space before its code",
         "HTTP/1.1 \r100 Continue\r\n\r\nHTTP/1.1 404 Not Found\r\nContent-Length: 2\r\n\r\nok",
         "HTTP/1.1 404 Not Found\r\nContent-Length: 2\r\n\r\n", "ok"},
        {"blank line holding NUL bytes", std::string("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\0\0\nok", 43),
         "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n", "ok"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedServer server(Answer(c.response));
        Exchange exchange(server.Port());
        ASSERT_TRUE(exchange.Send());
        EXPECT_EQ(exchange.RawHeaders(), c.block);
        EXPECT_EQ(exchange.ReadAll().bytes, c.body);
    }
}

// Time-outs set on a parent reach the children made afterwards; the program sets them on the request.
TEST(WininetTimeouts, InheritedByChildrenCreatedAfterwards) {
    enum class Where { Internet, Connection, Request };
    for (Where where : {Where::Internet, Where::Connection, Where::Request}) {
        SCOPED_TRACE(static_cast<int>(where));
        ScriptedServer server([](Connection& c) {
            if (c.ReadRequest()) c.AwaitRelease();
        });
        const Library& w = Wininet();
        DWORD shortWait = 300;
        auto set = [&](HINTERNET handle) {
            EXPECT_TRUE(w.InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &shortWait, sizeof shortWait));
        };
        HINTERNET internet = w.InternetOpenA(kAgent, INTERNET_OPEN_TYPE_DIRECT, "", "", 0);
        if (where == Where::Internet) set(internet);
        HINTERNET connection = w.InternetConnectA(internet, "127.0.0.1", server.Port(), "", "", 3, 0, 0);
        if (where == Where::Connection) set(connection);
        HINTERNET request = w.HttpOpenRequestA(connection, "GET", "/", "HTTP/1.1", nullptr, nullptr, 0, 0);
        if (where == Where::Request) set(request);
        EXPECT_FALSE(w.HttpSendRequestA(request, "", 0, nullptr, 0));
        server.Release();
        EXPECT_FALSE(server.GaveUpWaiting());
        for (HINTERNET handle : {internet, connection, request}) EXPECT_TRUE(w.InternetCloseHandle(handle));
    }
}

TEST(WininetTimeouts, SendTimeoutEndsAnUploadTheServerNeverTakes) {
    ScriptedServer server(
        [](Connection& c) {
            if (c.ReadHead()) c.AwaitRelease();
        },
        {.receiveBuffer = 4096});
    Exchange exchange(Exchange::Target{.port = server.Port(), .verb = "POST"});
    DWORD shortWait = 300, forever = 0;
    const Library& w = Wininet();
    EXPECT_TRUE(w.InternetSetOptionA(exchange.request, INTERNET_OPTION_SEND_TIMEOUT, &shortWait, sizeof shortWait));
    EXPECT_TRUE(w.InternetSetOptionA(exchange.request, INTERNET_OPTION_RECEIVE_TIMEOUT, &forever, sizeof forever));
    const std::string body(32u << 20, 'b');
    EXPECT_FALSE(exchange.Send("Content-Length: " + std::to_string(body.size()) + "\r\n", body));
    server.Release();
    EXPECT_FALSE(server.GaveUpWaiting());
}

TEST(WininetProxy, NamedProxyCarriesTheRequestAndPortZeroMeansEighty) {
    ScriptedServer proxy(Answer(Response("200 OK", "via proxy")));
    const std::string list = "http=127.0.0.1:" + std::to_string(proxy.Port());
    Exchange exchange(Exchange::Target{
        .host = "update.example.invalid", .port = 0, .access = INTERNET_OPEN_TYPE_PROXY, .proxy = list.c_str()});
    ASSERT_TRUE(exchange.Send());
    EXPECT_EQ(exchange.ReadAll().bytes, "via proxy");
    ASSERT_EQ(proxy.Requests().size(), 1u);
    const std::string request = proxy.Requests()[0];
    EXPECT_TRUE(request.starts_with("GET http://update.example.invalid/kestu/713.txt HTTP/1.1\r\n")) << request;
    EXPECT_EQ(CountOf(request, "\r\nHost: update.example.invalid\r\n"), 1u) << request;
}

TEST(WininetProxy, DirectAccessIgnoresProxiesFromTheEnvironment) {
    ScriptedServer proxy(Answer(Response("200 OK", "via proxy")));
    ScriptedServer server(Answer(Response("200 OK", "direct")));
    const std::string proxyUrl = "http://127.0.0.1:" + std::to_string(proxy.Port());
    setenv("http_proxy", proxyUrl.c_str(), 1);
    Exchange exchange(server.Port());
    ASSERT_TRUE(exchange.Send());
    EXPECT_EQ(exchange.ReadAll().bytes, "direct");
    unsetenv("http_proxy");
    EXPECT_EQ(proxy.Connections(), 0);
}

TEST(WininetProxy, ProxyListNamingNoServerIsRefused) {
    for (const char* list : {"", "http=", "http=127.0.0.1:1 https="}) {
        SCOPED_TRACE(list);
        EXPECT_EQ(Wininet().InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PROXY, list, "", 0), nullptr);
    }
    EXPECT_EQ(Wininet().InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PROXY, nullptr, "", 0), nullptr);
}

// The program closes the internet handle first, then the connection, then the request.
TEST(WininetHandles, CloseInAnyOrder) {
    struct Order {
        const char* what;
        int first, second, third;  // 0 internet, 1 connection, 2 request
    } orders[] = {
        {"the program's order", 0, 1, 2},
        {"children first", 2, 1, 0},
        {"connection first", 1, 0, 2},
    };
    for (const Order& order : orders) {
        SCOPED_TRACE(order.what);
        ScriptedServer server(Answer(Response("200 OK", std::string(5000, 'z'))));
        Exchange exchange(server.Port());
        ASSERT_TRUE(exchange.Send());
        HINTERNET handles[3] = {exchange.internet, exchange.connection, exchange.request};
        // The body is left half read: closing must end the transfer under way.
        char buffer[100];
        DWORD count = 0;
        EXPECT_TRUE(Wininet().InternetReadFile(exchange.request, buffer, sizeof buffer, &count));
        for (int which : {order.first, order.second, order.third}) {
            EXPECT_TRUE(Wininet().InternetCloseHandle(handles[which]));
            // The request outlives its parents until it is closed itself.
            if (which != 2 && order.third == 2) {
                EXPECT_TRUE(Wininet().InternetReadFile(exchange.request, buffer, sizeof buffer, &count));
            }
        }
        for (HINTERNET handle : handles) EXPECT_FALSE(Wininet().InternetCloseHandle(handle)) << "closed twice";
        exchange.internet = exchange.connection = exchange.request = nullptr;
    }
}

// Every entry point checks the kind of handle it is given; a closed or made-up handle is no handle.
TEST(WininetHandles, WrongOrInvalidHandlesFail) {
    const Library& w = Wininet();
    HINTERNET internet = w.InternetOpenA(kAgent, INTERNET_OPEN_TYPE_DIRECT, "", "", 0);
    HINTERNET connection = w.InternetConnectA(internet, "127.0.0.1", 80, "", "", INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET request = w.HttpOpenRequestA(connection, "GET", "/", "HTTP/1.1", nullptr, nullptr, 0, 0);
    ASSERT_TRUE(internet && connection && request);
    HINTERNET closed = w.InternetOpenA(kAgent, INTERNET_OPEN_TYPE_DIRECT, "", "", 0);
    ASSERT_TRUE(w.InternetCloseHandle(closed));
    HINTERNET madeUp = reinterpret_cast<HINTERNET>(static_cast<uintptr_t>(0xdead0));

    for (HINTERNET notInternet : {HINTERNET{}, connection, request, closed, madeUp})
        EXPECT_EQ(w.InternetConnectA(notInternet, "127.0.0.1", 80, "", "", INTERNET_SERVICE_HTTP, 0, 0), nullptr);
    for (HINTERNET notConnection : {HINTERNET{}, internet, request, closed, madeUp})
        EXPECT_EQ(w.HttpOpenRequestA(notConnection, "GET", "/", "HTTP/1.1", nullptr, nullptr, 0, 0), nullptr);
    for (HINTERNET notRequest : {HINTERNET{}, internet, connection, closed, madeUp}) {
        char buffer[8];
        DWORD count = 5, length = sizeof buffer;
        EXPECT_FALSE(w.HttpSendRequestA(notRequest, "", 0, nullptr, 0));
        EXPECT_FALSE(w.InternetReadFile(notRequest, buffer, sizeof buffer, &count));
        EXPECT_EQ(count, 0u);
        EXPECT_FALSE(w.HttpQueryInfoA(notRequest, HTTP_QUERY_RAW_HEADERS_CRLF, buffer, &length, nullptr));
    }
    DWORD value = 1000;
    for (HINTERNET invalid : {HINTERNET{}, closed, madeUp}) {
        EXPECT_FALSE(w.InternetSetOptionA(invalid, INTERNET_OPTION_CONNECT_TIMEOUT, &value, sizeof value));
        EXPECT_FALSE(w.InternetCloseHandle(invalid));
    }

    // Bad arguments on a good parent.
    EXPECT_EQ(w.InternetOpenA(kAgent, 2, "", "", 0), nullptr) << "unknown access type";
    EXPECT_EQ(w.InternetConnectA(internet, "", 80, "", "", INTERNET_SERVICE_HTTP, 0, 0), nullptr);
    EXPECT_EQ(w.InternetConnectA(internet, nullptr, 80, "", "", INTERNET_SERVICE_HTTP, 0, 0), nullptr);
    EXPECT_EQ(w.InternetConnectA(internet, "a b", 80, "", "", INTERNET_SERVICE_HTTP, 0, 0), nullptr);
    EXPECT_EQ(w.InternetConnectA(internet, "127.0.0.1", 80, "", "", 1 /* ftp */, 0, 0), nullptr);
    EXPECT_EQ(w.HttpOpenRequestA(connection, "GET /x HTTP/1.1\r\nX:", "/", "HTTP/1.1", nullptr, nullptr, 0, 0), nullptr);
    EXPECT_EQ(w.HttpOpenRequestA(connection, "GET", "/", "HTTP/9", nullptr, nullptr, 0, 0), nullptr);
    EXPECT_FALSE(w.InternetSetOptionA(request, 12345, &value, sizeof value)) << "unknown option";
    EXPECT_FALSE(w.InternetSetOptionA(request, INTERNET_OPTION_CONNECT_TIMEOUT, &value, 2)) << "short buffer";
    EXPECT_FALSE(w.HttpSendRequestA(request, "", 0, nullptr, 5)) << "optional data missing";

    for (HINTERNET handle : {internet, connection, request}) EXPECT_TRUE(w.InternetCloseHandle(handle));
}

// A made-up object name cannot smuggle a second request line onto the wire.
TEST(WininetGet, ObjectNameBytesAreEscapedOnTheWire) {
    ScriptedServer server(Answer(Response("200 OK", "")));
    Exchange exchange(Exchange::Target{.port = server.Port(), .path = "/a b\r\nX-Evil: 1/\xC7\xE0?q=1"});
    ASSERT_TRUE(exchange.Send());
    exchange.ReadAll();
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_TRUE(server.Requests()[0].starts_with("GET /a%20b%0D%0AX-Evil:%201/%C7%E0?q=1 HTTP/1.1\r\n"))
        << server.Requests()[0];
}

TEST(WininetResources, NoDescriptorIsLeftOpen) {
    { ScriptedServer warmUp(Answer(Response("200 OK", "w"))); Exchange(warmUp.Port()).Send(); }
    const int before = OpenDescriptorCount();
    {
        ScriptedServer server([](Connection& c) {
            if (!c.ReadRequest()) return;
            c.Send(Response("200 OK", "abc"));
            if (c.ReadRequest()) c.Reset();
        });
        for (int i = 0; i < 3; ++i) {
            Exchange exchange(server.Port());
            exchange.SetTimeouts(300);
            exchange.Send();
            exchange.ReadAll();
        }
        Exchange refused(UnusedPort());
        refused.Send();
    }
    EXPECT_EQ(OpenDescriptorCount(), before);
}

}  // namespace
