// Our wininet.dll's exports on arbitrary arguments, and whole exchanges with a server that answers
// arbitrary bytes. The server is named as the HTTP proxy, so redirects to any host come back to it
// and nothing is ever looked up or sent elsewhere.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "net/wininet/wininet.h"
#include "tests/fuzz/fuzz_input.h"

using fuzz::Require;

namespace {

// Answers every connection with the current response bytes, then closes; keeps the first request head.
class ScriptedProxy {
public:
    ScriptedProxy() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        Require(listener_ >= 0 && bind(listener_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                    listen(listener_, 16) == 0 &&
                    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0,
                "the scripted proxy listens on 127.0.0.1");
        port_ = ntohs(address.sin_port);
        std::thread([this] { Serve(); }).detach();
    }

    uint16_t Port() const { return port_; }

    void Script(std::string_view response) {
        std::lock_guard lock(mutex_);
        response_.assign(response);
        firstHead_.clear();
        sawHead_ = false;
    }

    std::string FirstHead() {
        std::lock_guard lock(mutex_);
        return firstHead_;
    }

private:
    void Serve() {
        for (;;) {
            int client = accept(listener_, nullptr, nullptr);
            if (client < 0) continue;
            timeval wait{2, 0};
            setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            std::string head = ReadHead(client);
            std::string response;
            {
                std::lock_guard lock(mutex_);
                if (!head.empty() && !sawHead_) {
                    firstHead_ = head;
                    sawHead_ = true;
                }
                response = response_;
            }
            if (!head.empty()) WriteAll(client, response);
            shutdown(client, SHUT_WR);
            // Reading what is left before closing keeps the close from resetting the connection.
            char sink[4096];
            while (recv(client, sink, sizeof sink, 0) > 0) {
            }
            close(client);
        }
    }

    static std::string ReadHead(int client) {
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < (1 << 20)) {
            ssize_t got = recv(client, buffer, sizeof buffer, 0);
            if (got <= 0) return {};
            head.append(buffer, static_cast<size_t>(got));
        }
        return head.substr(0, head.find("\r\n\r\n") + 4);
    }

    static void WriteAll(int client, std::string_view bytes) {
        while (!bytes.empty()) {
            ssize_t sent = send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent <= 0) return;
            bytes.remove_prefix(static_cast<size_t>(sent));
        }
    }

    int listener_ = -1;
    uint16_t port_ = 0;
    std::mutex mutex_;
    std::string response_;
    std::string firstHead_;
    bool sawHead_ = false;
};

ScriptedProxy& Proxy() {
    static ScriptedProxy* proxy = new ScriptedProxy;
    return *proxy;
}

std::string Terminated(std::string_view piece) { return std::string(piece.substr(0, piece.find('\0'))); }

const char* OrNull(const std::string& text, bool present) { return present ? text.c_str() : nullptr; }

// Every argument of every export from the input, no network: opening, connecting, options, closing.
void FuzzArguments(fuzz::Input& input) {
    const uint8_t flags = input.Byte();
    const DWORD accessType = input.Byte() % 6;
    const INTERNET_PORT port = input.Take<INTERNET_PORT>();
    const DWORD option = input.Byte() % 8;
    const DWORD optionValue = input.Take<DWORD>();
    const DWORD optionLength = input.Byte() % 6;
    const std::string proxyList = Terminated(input.Until('\n'));
    const std::string bypass = Terminated(input.Until('\n'));
    const std::string host = Terminated(input.Until('\n'));
    const std::string verb = Terminated(input.Until('\n'));
    const std::string object = Terminated(input.Until('\n'));
    const std::string version = Terminated(input.Until('\n'));
    const std::string referrer = Terminated(input.Until('\n'));
    std::vector<std::string> types;
    while (types.size() < 4) {
        std::string_view type = input.Until('\n');
        if (type.empty()) break;
        types.push_back(Terminated(type));
    }
    std::vector<const char*> typePointers;
    for (const std::string& type : types) typePointers.push_back(type.c_str());
    typePointers.push_back(nullptr);

    HINTERNET internet = InternetOpenA("fuzz", accessType, OrNull(proxyList, flags & 1), OrNull(bypass, flags & 2), 0);
    HINTERNET connection = InternetConnectA(internet, OrNull(host, flags & 4), port, "", "", INTERNET_SERVICE_HTTP, 0, 0);
    Require(internet || !connection, "no connection without an internet handle");
    HINTERNET request = HttpOpenRequestA(connection, OrNull(verb, flags & 8), OrNull(object, flags & 16),
                                         OrNull(version, flags & 32), OrNull(referrer, flags & 64),
                                         (flags & 128) ? typePointers.data() : nullptr, INTERNET_FLAG_RELOAD, 0);
    Require(connection || !request, "no request without a connection");
    DWORD value = optionValue;
    InternetSetOptionA(request ? request : connection, option, &value, optionLength);

    char buffer[64];
    DWORD length = sizeof buffer;
    Require(!HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, buffer, &length, nullptr),
            "no headers before a send");
    DWORD read = 7;
    Require(!InternetReadFile(request, buffer, sizeof buffer, &read) && read == 0, "no body before a send");

    HINTERNET order[3] = {request, internet, connection};
    if (flags & 1) std::swap(order[0], order[1]);
    for (HINTERNET handle : order)
        if (handle) Require(InternetCloseHandle(handle), "an open handle closes once");
    for (HINTERNET handle : order) Require(!InternetCloseHandle(handle), "a closed handle does not close again");
}

// Every line of a request head ends with CR LF, and only the last one is empty.
bool IsWellFormedHead(std::string_view head) {
    if (!head.ends_with("\r\n\r\n")) return false;
    for (size_t i = 0; i < head.size(); ++i) {
        if (head[i] == '\0') return false;
        if (head[i] == '\r' && (i + 1 == head.size() || head[i + 1] != '\n')) return false;
        if (head[i] == '\n' && (i == 0 || head[i - 1] != '\r')) return false;
    }
    return head.find("\r\n\r\n") == head.size() - 4;
}

// One request through the scripted proxy: caller's object name, header block and body, server's answer.
void FuzzExchange(fuzz::Input& input) {
    static constexpr const char* kVerbs[] = {"GET", "POST", "HEAD", "PUT", "post", "OPTIONS"};
    const uint8_t choice = input.Byte();
    const char* verb = kVerbs[choice % std::size(kVerbs)];
    const std::string object = Terminated(input.Until(0));
    const std::string headers = Terminated(input.Until(0));
    const std::string body(input.Until(0));
    const std::string_view response = input.Rest();

    ScriptedProxy& proxy = Proxy();
    proxy.Script(response);
    const std::string proxyList = "http=127.0.0.1:" + std::to_string(proxy.Port());
    HINTERNET internet = InternetOpenA("fuzz", INTERNET_OPEN_TYPE_PROXY, proxyList.c_str(), "", 0);
    HINTERNET connection = InternetConnectA(internet, "fuzz.test", 80, "", "", INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET request = HttpOpenRequestA(connection, verb, object.c_str(), "HTTP/1.1", nullptr, nullptr,
                                         INTERNET_FLAG_RELOAD, 0);
    Require(internet && connection && request, "opening a request to a plain host name succeeds");
    DWORD timeout = 3000;
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                         INTERNET_OPTION_RECEIVE_TIMEOUT})
        InternetSetOptionA(request, option, &timeout, sizeof timeout);

    const bool withBody = (choice & 0x80) != 0;
    std::string bodyCopy = body;
    BOOL sent = HttpSendRequestA(request, headers.c_str(), static_cast<DWORD>(headers.size()),
                                 withBody ? bodyCopy.data() : nullptr, withBody ? static_cast<DWORD>(body.size()) : 0);

    const std::string head = proxy.FirstHead();
    if (!head.empty()) {
        Require(IsWellFormedHead(head), "caller's header bytes cannot break the request head");
        Require(head.starts_with(std::string(verb) + " http://fuzz.test/"), "the request line names verb and host");
    }

    char piece[512];
    DWORD delivered = 0;
    size_t total = 0;
    for (int reads = 0;; ++reads) {
        Require(reads < (1 << 16), "reading ends");
        BOOL ok = InternetReadFile(request, piece, sizeof piece, &delivered);
        Require(delivered <= sizeof piece, "a read delivers no more than asked");
        Require(sent || (!ok && delivered == 0), "nothing to read after a failed send");
        total += delivered;
        if (delivered == 0) break;
    }
    Require(total <= response.size(), "no more body than the server sent");

    std::string block(1024, ' ');
    block.push_back('\0');
    DWORD length = 1024;
    BOOL queried = HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, block.data(), &length, nullptr);
    if (queried) {
        Require(length == std::strlen(block.c_str()), "the length given is the block's length");
        // curl takes the protocol name in any letter case.
        Require(strncasecmp(block.c_str(), "HTTP/", 5) == 0, "the block begins with the status line");
        Require(std::string_view(block.c_str()).ends_with("\r\n\r\n"), "the block ends with its empty line");
    } else if (sent) {
        Require(length > 1024 && block.find_first_not_of(' ') == 1024, "a block too large leaves the buffer alone");
    }

    Require(InternetCloseHandle(internet) && InternetCloseHandle(connection) && InternetCloseHandle(request),
            "each handle closes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    if (input.Byte() & 1)
        FuzzExchange(input);
    else
        FuzzArguments(input);
    return 0;
}
