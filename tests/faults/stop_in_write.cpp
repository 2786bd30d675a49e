// Preloaded: the first write into QY_STOP_WRITES_IN puts half its bytes down, then stops the process for a test to kill.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<bool> stopped{false};

// True when the descriptor's file, named or not yet named, lies directly in `folder`.
bool InFolder(int descriptor, const char* folder)
{
    char link[64];
    char target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", descriptor);
    const ssize_t length = readlink(link, target, sizeof target - 1);
    if (length < 0)
        return false;
    target[length] = '\0';
    const size_t folderLength = std::strlen(folder);
    return std::strncmp(target, folder, folderLength) == 0 && target[folderLength] == '/' &&
           std::strchr(target + folderLength + 1, '/') == nullptr;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) ssize_t write(int descriptor, const void* bytes, size_t count)
{
    using Write = ssize_t (*)(int, const void*, size_t);
    static const Write realWrite = reinterpret_cast<Write>(dlsym(RTLD_NEXT, "write"));
    const char* folder = std::getenv("QY_STOP_WRITES_IN");
    if (!folder || count < 2 || stopped.load() || !InFolder(descriptor, folder) || stopped.exchange(true))
        return realWrite(descriptor, bytes, count);
    const ssize_t written = realWrite(descriptor, bytes, count / 2);
    raise(SIGSTOP);
    return written;
}
