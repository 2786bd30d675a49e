// A scripted HTTP server on 127.0.0.1 for tests and benchmarks: each connection's request is
// read and recorded, then the script answers it on the open connection.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct ReceivedRequest {
    std::string head;  // request line and header lines, each ending in CRLF, and the blank line
    std::string body;  // as many bytes as its Content-Length said

    std::string RequestLine() const;
    // The header lines in their order, without their CRLF.
    std::vector<std::string> HeaderLines() const;
};

class ClientConnection {
public:
    ClientConnection(int socket, ReceivedRequest request) : socket_(socket), request_(std::move(request)) {}
    const ReceivedRequest& Request() const { return request_; }
    // False once the client has gone away.
    bool Send(std::string_view bytes);

private:
    int socket_;
    ReceivedRequest request_;
};

class LoopbackServer {
public:
    using Script = std::function<void(ClientConnection&)>;

    // Listens on a free port at once; connections are answered one after the other.
    explicit LoopbackServer(Script script);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    uint16_t Port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by the path.
    std::string Address(std::string_view path) const;
    std::vector<ReceivedRequest> Requests() const;

private:
    void Serve();

    Script script_;
    int listener_ = -1;
    uint16_t port_ = 0;
    mutable std::mutex mutex_;
    std::vector<ReceivedRequest> requests_;
    std::thread thread_;
};

// A complete response with Content-Length and "Connection: close".
std::string HttpResponse(std::string_view body, std::string_view status = "200 OK",
                         std::string_view extraHeaderLines = "");
// A script that sends the same bytes to every connection.
LoopbackServer::Script Reply(std::string response);
// A port on 127.0.0.1 where nothing listens (it was free a moment ago).
uint16_t UnusedLoopbackPort();
