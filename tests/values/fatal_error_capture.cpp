#include "tests/values/fatal_error_capture.h"

#include <unistd.h>

#include "runtime/runtime.h"

int gFatalErrorMessageFd = 2;

void FatalRuntimeError(TextRef message, int32_t) {
    std::string_view bytes = message.View();
    while (!bytes.empty()) {
        ssize_t written = write(gFatalErrorMessageFd, bytes.data(), bytes.size());
        if (written <= 0) break;
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    _exit(kFatalErrorExitCode);
}
