// A wininet.dll that answers every call with "no data" and lacks the export whose QY_OMIT_<name> is defined.
#include <cstdint>

namespace {
int handle = 1;
}

extern "C" {

#define QY_HANDLE_EXPORT(name) \
    __attribute__((visibility("default"))) void* name(...) { return &handle; }
#define QY_TRUE_EXPORT(name) \
    __attribute__((visibility("default"))) int name(...) { return 1; }

#ifndef QY_OMIT_InternetOpenA
QY_HANDLE_EXPORT(InternetOpenA)
#endif
#ifndef QY_OMIT_InternetConnectA
QY_HANDLE_EXPORT(InternetConnectA)
#endif
#ifndef QY_OMIT_HttpOpenRequestA
QY_HANDLE_EXPORT(HttpOpenRequestA)
#endif
#ifndef QY_OMIT_InternetSetOptionA
QY_TRUE_EXPORT(InternetSetOptionA)
#endif
#ifndef QY_OMIT_HttpSendRequestA
QY_TRUE_EXPORT(HttpSendRequestA)
#endif
#ifndef QY_OMIT_HttpQueryInfoA
QY_TRUE_EXPORT(HttpQueryInfoA)
#endif
#ifndef QY_OMIT_InternetCloseHandle
QY_TRUE_EXPORT(InternetCloseHandle)
#endif
#ifndef QY_OMIT_InternetReadFile
// The body is empty: nothing read, and the read succeeded.
__attribute__((visibility("default"))) int InternetReadFile(void*, void*, uint32_t, uint32_t* read)
{
    *read = 0;
    return 1;
}
#endif
}
