#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace platform {

Result<std::string> ProgramPath()
{
    // Paths have no length limit here: grow the buffer until readlink leaves room to spare.
    std::string path(256, '\0');
    for (;;) {
        ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
        if (length < 0)
            return Failure{"readlink", errno};
        if (static_cast<size_t>(length) < path.size()) {
            path.resize(static_cast<size_t>(length));
            return path;
        }
        path.resize(path.size() * 2);
    }
}

Result<Done> SetCurrentDirectory(const std::string& path)
{
    if (chdir(path.c_str()) != 0)
        return Failure{"chdir", errno};
    return Done{};
}

void ExitProcess(int exitCode)
{
    std::fflush(nullptr);
    // No atexit handlers: the toolkit's own would run against a half-torn-down program.
    _exit(exitCode);
}

void* ResizeLargeBlock(void* block, size_t size)
{
    // From this size on the allocator gives every block a mapping of its own, which the advice
    // below may cover whole without touching anything else.
    constexpr size_t kOwnMapping = size_t{32} << 20;
    void* resized = std::realloc(block, size);
    if (!resized || size < kOwnMapping)
        return resized;
    // The whole mapping, so that it stays one piece that later growth can remap, not copy.
    static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t begin = reinterpret_cast<uintptr_t>(resized) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(resized) + size + page - 1) & ~(page - 1);
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);  // a hint: failing is harmless
    return resized;
}

}  // namespace platform
