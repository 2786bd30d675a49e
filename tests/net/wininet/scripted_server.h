// A one-thread HTTP server on 127.0.0.1 that plays a script on each connection it accepts.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct ScriptedServerOptions {
    int receiveBuffer = 0;  // SO_RCVBUF of accepted sockets; 0 keeps the system's
};

class ScriptedServer {
public:
    class Connection {
    public:
        // One request, head and Content-Length body; nothing when the client closed or the server stops.
        std::optional<std::string> ReadRequest();
        // Reads the head alone and leaves any body unread in the socket.
        std::optional<std::string> ReadHead();
        void Send(std::string_view bytes);
        void Pause(std::chrono::milliseconds duration);
        // Closes with a reset instead of an orderly end.
        void Reset();
        // Holds the connection open until the test calls Release().
        void AwaitRelease();

    private:
        friend class ScriptedServer;
        Connection(ScriptedServer& server, int fd) : server_(server), fd_(fd) {}
        bool WaitFor(short events, int timeoutMs);
        bool FillUntil(size_t size);
        bool FillUntilHeadEnd();

        ScriptedServer& server_;
        int fd_;
        std::string received_;
    };
    using Script = std::function<void(Connection&)>;

    using Options = ScriptedServerOptions;

    explicit ScriptedServer(Script script, Options options = {});
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    uint16_t Port() const { return port_; }
    // Every request read so far, in order, as the bytes that arrived.
    std::vector<std::string> Requests();
    int Connections();
    // Lets AwaitRelease() return.
    void Release();
    // True when some AwaitRelease() ran out of patience before Release(): the client never gave up.
    bool GaveUpWaiting();
    // Stops accepting, ends the script under way and joins the thread.
    void Stop();

private:
    void Run();

    Script script_;
    int listener_ = -1;
    int stop_ = -1;  // eventfd, readable once Stop() is called
    uint16_t port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable released_;
    bool isReleased_ = false;
    bool gaveUp_ = false;
    int connections_ = 0;
    std::vector<std::string> requests_;
};

// A port on 127.0.0.1 where nothing listens.
uint16_t UnusedPort();
// The number of open descriptors of this process.
int OpenDescriptorCount();
