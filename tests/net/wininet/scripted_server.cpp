#include "scripted_server.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace {

// A script that outlives this is stuck: the test has gone wrong and must not hang.
constexpr int kPatienceMs = 10000;

int ListenOnLoopback(uint16_t& port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    port = ntohs(address.sin_port);
    return fd;
}

size_t ContentLength(std::string_view head) {
    std::string lower(head);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    size_t at = lower.find("\r\ncontent-length:");
    return at == std::string::npos ? 0 : std::strtoul(lower.c_str() + at + 17, nullptr, 10);
}

}  // namespace

ScriptedServer::ScriptedServer(Script script, Options options) : script_(std::move(script)) {
    listener_ = ListenOnLoopback(port_);
    if (options.receiveBuffer > 0)
        setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &options.receiveBuffer, sizeof options.receiveBuffer);
    stop_ = eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() { Stop(); }

void ScriptedServer::Stop() {
    if (!thread_.joinable()) return;
    uint64_t one = 1;
    (void)!write(stop_, &one, sizeof one);
    Release();
    thread_.join();
    close(listener_);
    close(stop_);
}

void ScriptedServer::Run() {
    for (;;) {
        pollfd waits[2] = {{listener_, POLLIN, 0}, {stop_, POLLIN, 0}};
        if (poll(waits, 2, -1) < 0 || waits[1].revents) return;
        int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        {
            std::lock_guard lock(mutex_);
            ++connections_;
        }
        Connection connection(*this, fd);
        script_(connection);
        if (connection.fd_ >= 0) close(connection.fd_);
    }
}

std::vector<std::string> ScriptedServer::Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
}

int ScriptedServer::Connections() {
    std::lock_guard lock(mutex_);
    return connections_;
}

void ScriptedServer::Release() {
    std::lock_guard lock(mutex_);
    isReleased_ = true;
    released_.notify_all();
}

bool ScriptedServer::GaveUpWaiting() {
    std::lock_guard lock(mutex_);
    return gaveUp_;
}

bool ScriptedServer::Connection::WaitFor(short events, int timeoutMs) {
    pollfd waits[2] = {{fd_, events, 0}, {server_.stop_, POLLIN, 0}};
    return poll(waits, 2, timeoutMs) > 0 && !waits[1].revents && waits[0].revents;
}

bool ScriptedServer::Connection::FillUntil(size_t size) {
    char chunk[65536];
    while (received_.size() < size) {
        if (fd_ < 0 || !WaitFor(POLLIN, kPatienceMs)) return false;
        ssize_t got = recv(fd_, chunk, sizeof chunk, 0);
        if (got <= 0) return false;
        received_.append(chunk, static_cast<size_t>(got));
    }
    return true;
}

bool ScriptedServer::Connection::FillUntilHeadEnd() {
    while (received_.find("\r\n\r\n") == std::string::npos)
        if (!FillUntil(received_.size() + 1)) return false;
    return true;
}

std::optional<std::string> ScriptedServer::Connection::ReadHead() {
    if (!FillUntilHeadEnd()) return std::nullopt;
    size_t end = received_.find("\r\n\r\n") + 4;
    std::string head = received_.substr(0, end);
    received_.erase(0, end);
    std::lock_guard lock(server_.mutex_);
    server_.requests_.push_back(head);
    return head;
}

std::optional<std::string> ScriptedServer::Connection::ReadRequest() {
    if (!FillUntilHeadEnd()) return std::nullopt;
    size_t headEnd = received_.find("\r\n\r\n") + 4;
    size_t total = headEnd + ContentLength(std::string_view(received_).substr(0, headEnd));
    if (!FillUntil(total)) return std::nullopt;
    std::string request = received_.substr(0, total);
    received_.erase(0, total);
    std::lock_guard lock(server_.mutex_);
    server_.requests_.push_back(request);
    return request;
}

void ScriptedServer::Connection::Send(std::string_view bytes) {
    while (!bytes.empty() && fd_ >= 0 && WaitFor(POLLOUT, kPatienceMs)) {
        ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && errno != EAGAIN) return;
        if (sent > 0) bytes.remove_prefix(static_cast<size_t>(sent));
    }
}

void ScriptedServer::Connection::Pause(std::chrono::milliseconds duration) {
    pollfd wait{server_.stop_, POLLIN, 0};
    poll(&wait, 1, static_cast<int>(duration.count()));
}

void ScriptedServer::Connection::Reset() {
    linger abort{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(fd_);
    fd_ = -1;
}

void ScriptedServer::Connection::AwaitRelease() {
    std::unique_lock lock(server_.mutex_);
    if (!server_.released_.wait_for(lock, std::chrono::milliseconds(kPatienceMs), [this] { return server_.isReleased_; }))
        server_.gaveUp_ = true;
}

uint16_t UnusedPort() {
    uint16_t port = 0;
    close(ListenOnLoopback(port));
    return port;
}

int OpenDescriptorCount() {
    int count = 0;
    DIR* directory = opendir("/proc/self/fd");
    while (dirent* entry = readdir(directory))
        if (entry->d_name[0] != '.') ++count;
    closedir(directory);
    return count - 1;  // the directory's own descriptor
}
