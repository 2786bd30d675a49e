#include <cerrno>
#include <cstdio>
#include <unistd.h>

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

}  // namespace platform
