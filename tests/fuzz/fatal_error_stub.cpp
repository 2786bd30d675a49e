// The fuzz targets link the value operations without the runtime: a fatal error is a finding.
#include <cstdio>
#include <cstdlib>

#include "runtime/runtime.h"

void FatalRuntimeError(TextRef message, int32_t errorCode) {
    std::fprintf(stderr, "FatalRuntimeError(%s, %d)\n", message.Data() ? message.Data() : "", errorCode);
    std::abort();
}
