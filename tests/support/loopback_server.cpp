#include "tests/support/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace {

int ListenOnLoopback(uint16_t& port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        throw std::runtime_error("bind or listen on 127.0.0.1 failed");
    }
    port = ntohs(address.sin_port);
    return fd;
}

std::string Lower(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower;
}

size_t ContentLength(const ReceivedRequest& request)
{
    for (const std::string& line : request.HeaderLines()) {
        if (Lower(line).starts_with("content-length:"))
            return std::strtoull(line.c_str() + 15, nullptr, 10);
    }
    return 0;
}

// False when the client closed or stalled before a whole request arrived.
bool ReadRequest(int socket, ReceivedRequest& request)
{
    std::string received;
    char buffer[4096];
    size_t headEnd = std::string::npos;
    while ((headEnd = received.find("\r\n\r\n")) == std::string::npos) {
        const ssize_t n = recv(socket, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        received.append(buffer, static_cast<size_t>(n));
    }
    request.head = received.substr(0, headEnd + 4);
    request.body = received.substr(headEnd + 4);
    const size_t length = ContentLength(request);
    while (request.body.size() < length) {
        const ssize_t n = recv(socket, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        request.body.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

std::string ReceivedRequest::RequestLine() const
{
    return head.substr(0, head.find("\r\n"));
}

std::vector<std::string> ReceivedRequest::HeaderLines() const
{
    std::vector<std::string> lines;
    size_t start = head.find("\r\n");
    while (start != std::string::npos) {
        start += 2;
        const size_t end = head.find("\r\n", start);
        if (end == std::string::npos || end == start)
            break;
        lines.push_back(head.substr(start, end - start));
        start = end;
    }
    return lines;
}

bool ClientConnection::Send(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

LoopbackServer::LoopbackServer(Script script) : script_(std::move(script))
{
    listener_ = ListenOnLoopback(port_);
    thread_ = std::thread([this] { Serve(); });
}

LoopbackServer::~LoopbackServer()
{
    // Wakes the blocked accept(); the thread then sees the failure and ends.
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
}

std::string LoopbackServer::Address(std::string_view path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<ReceivedRequest> LoopbackServer::Requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

void LoopbackServer::Serve()
{
    for (;;) {
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        // A client that stops sending must not hold the server (and the test) forever.
        timeval limit{10, 0};
        setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ReceivedRequest request;
        if (ReadRequest(client, request)) {
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(request);
            }
            ClientConnection connection(client, std::move(request));
            script_(connection);
        }
        close(client);
    }
}

std::string HttpResponse(std::string_view body, std::string_view status, std::string_view extraHeaderLines)
{
    std::string response = "HTTP/1.1 " + std::string(status) + "\r\n";
    response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    response += "Connection: close\r\n";
    response += extraHeaderLines;
    response += "\r\n";
    response += body;
    return response;
}

LoopbackServer::Script Reply(std::string response)
{
    return [response = std::move(response)](ClientConnection& connection) { connection.Send(response); };
}

uint16_t UnusedLoopbackPort()
{
    uint16_t port = 0;
    close(ListenOnLoopback(port));
    return port;
}
