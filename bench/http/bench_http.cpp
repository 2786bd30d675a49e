// HttpRequestText against curl on a loopback server: time for a 64 MiB body, scaling from
// 8 MiB to 64 MiB, and the memory high-water mark of one fetch. Prints ratios and targets.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>  // steady_clock: <chrono> does not compile with GBK literals
#include <vector>

#include "net/http_request.h"
#include "runtime/runtime.h"
#include "tests/support/loopback_server.h"

namespace {

constexpr size_t kMiB = 1024 * 1024;
constexpr size_t kSmall = 8 * kMiB;
constexpr size_t kLarge = 64 * kMiB;
constexpr int kRounds = 5;

// Answers "/body/<n>" with n bytes of text, sent from one reused chunk.
void ServeBody(ClientConnection& connection)
{
    static const std::string chunk = [] {
        std::string text(kMiB, ' ');
        for (size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<char>('!' + i % 90);
        return text;
    }();
    const std::string line = connection.Request().RequestLine();
    const size_t at = line.find("/body/");
    const size_t size = at == std::string::npos ? 0 : std::strtoull(line.c_str() + at + 6, nullptr, 10);
    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\nConnection: close\r\n\r\n";
    if (!connection.Send(head))
        return;
    for (size_t sent = 0; sent < size; sent += chunk.size()) {
        if (!connection.Send(std::string_view(chunk).substr(0, std::min(chunk.size(), size - sent))))
            return;
    }
}

double Seconds(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Seconds of one HttpRequestText of `url`; the length is checked after the clock stops.
double FetchSeconds(const std::string& url, size_t size)
{
    Text body;
    const double seconds = Seconds([&] { body = HttpRequestText(url.c_str()); });
    if (static_cast<size_t>(TextLength(body)) != size) {
        std::fprintf(stderr, "fetched %d bytes of %zu from %s\n", TextLength(body), size, url.c_str());
        std::exit(2);
    }
    return seconds;
}

// Exit status and the child's own resource use.
int RunChild(const std::function<int()>& work, rusage& usage)
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(work());
    int status = 0;
    wait4(pid, &status, 0, &usage);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

double CurlSeconds(const std::string& url)
{
    rusage usage{};
    int status = 0;
    const double seconds = Seconds([&] {
        status = RunChild(
            [&] {
                execlp("curl", "curl", "-s", "-o", "/dev/null", url.c_str(), static_cast<char*>(nullptr));
                return 127;
            },
            usage);
    });
    if (status != 0) {
        std::fprintf(stderr, "curl failed with %d\n", status);
        std::exit(2);
    }
    return seconds;
}

// Kilobytes of the high-water mark of a child that makes one fetch.
long PeakKiB(const std::string& url, size_t size)
{
    rusage usage{};
    const int status = RunChild(
        [&] {
            const Text body = HttpRequestText(url.c_str());
            return static_cast<size_t>(TextLength(body)) == size ? 0 : 1;
        },
        usage);
    if (status != 0) {
        std::fprintf(stderr, "the measuring child failed with %d\n", status);
        std::exit(2);
    }
    return usage.ru_maxrss;
}

const char* Verdict(bool holds)
{
    return holds ? "holds" : "MISSED";
}

}  // namespace

int main()
{
    LoopbackServer server(ServeBody);
    const std::string large = server.Address("/body/" + std::to_string(kLarge));
    const std::string small = server.Address("/body/" + std::to_string(kSmall));

    // Bind the library in this process first, so that every child starts from the same state.
    FetchSeconds(server.Address("/body/1"), 1);

    // Memory before any large block has passed through this process's allocator.
    const long baselineKiB = PeakKiB(server.Address("/body/0"), 0);
    const long largeKiB = PeakKiB(large, kLarge);
    const double peakRatio = static_cast<double>(largeKiB - baselineKiB) * 1024 / kLarge;

    std::vector<double> ours64, curl64, ours8;
    for (int round = 0; round < kRounds; ++round) {
        ours64.push_back(FetchSeconds(large, kLarge));
        curl64.push_back(CurlSeconds(large));
        ours8.push_back(FetchSeconds(small, kSmall));
    }
    // The event processing owed before every 512-byte read, on its own: a floor under the fetch.
    const double events64 = Seconds([] {
        for (size_t read = 0; read <= kLarge / 512; ++read)
            ProcessPendingEvents();
    });
    const double best64 = *std::min_element(ours64.begin(), ours64.end());
    const double bestCurl = *std::min_element(curl64.begin(), curl64.end());
    const double best8 = *std::min_element(ours8.begin(), ours8.end());
    const double curlRatio = best64 / bestCurl;
    const double scaling = best64 / best8;

    std::printf("HttpRequestText, loopback, best of %d rounds\n", kRounds);
    std::printf("  64 MiB: %.3f s   curl -s -o /dev/null: %.3f s   ratio %.2f (target <= 2.00: %s)\n", best64,
                bestCurl, curlRatio, Verdict(curlRatio <= 2.0));
    std::printf("          of which the %zu calls of ProcessPendingEvents alone take about %.3f s (%.2f x curl)\n",
                kLarge / 512 + 1, events64, events64 / bestCurl);
    std::printf("   8 MiB: %.3f s   64 MiB / 8 MiB: %.2f (target <= 8.80: %s)\n", best8, scaling,
                Verdict(scaling <= 8.8));
    std::printf("  peak memory of one 64 MiB fetch: %.1f MiB over a %.1f MiB baseline, %.2f x the body "
                "(target <= 2.50: %s)\n",
                static_cast<double>(largeKiB - baselineKiB) / 1024, static_cast<double>(baselineKiB) / 1024,
                peakRatio, Verdict(peakRatio <= 2.5));
    return 0;
}
