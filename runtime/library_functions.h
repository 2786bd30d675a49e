// Functions of outside libraries, declared by library file name and export name and bound
// at their first call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/platform.h"

struct LibraryFunctionRecord {
    LibraryFunctionRecord(const char* library, const char* exportName)
        : libraryFileName(library), exportName(exportName) {}

    const char* libraryFileName;
    const char* exportName;  // "#n" stands for an ordinal
    void* boundAddress = nullptr;
    platform::Library module;
};

// The bound address; binds at the first call and ends the program when it cannot.
void* BindLibraryFunction(LibraryFunctionRecord& declaration);

// The program's declarations, in their order.
enum class Declared : size_t {
    InternetOpenA,
    InternetConnectA,
    InternetCloseHandle,
    HttpOpenRequestA,
    InternetSetOptionA,
    HttpSendRequestA,
    InternetReadFile,
    HttpQueryInfoA,
    SkinH_AttachRes,
};
std::span<LibraryFunctionRecord> DeclaredLibraryFunctions();
// Unloads every bound library once, in the order of the declarations, and lets go of what was
// preloaded.
void UnloadLibraryFunctions();
// Loads a library as its binding would find it, on a thread of its own, so that the first call
// of its functions finds it in memory already. Binding still searches, and fails, as without.
void PreloadLibrary(const char* libraryFileName);

// A declaration that carries its signature, so it cannot be called with the wrong arguments.
template <Declared Which, typename Signature>
struct LibraryFunction;

template <Declared Which, typename Result, typename... Args>
struct LibraryFunction<Which, Result(Args...)> {
    Result operator()(Args... args) const {
        auto& declaration = DeclaredLibraryFunctions()[static_cast<size_t>(Which)];
        auto* function = reinterpret_cast<Result (*)(Args...)>(BindLibraryFunction(declaration));
        // The x86-64 caller removes its own arguments, so no call can leave the stack unbalanced.
        return function(args...);
    }
};

using HINTERNET = void*;
using INTERNET_PORT = uint16_t;
using DWORD = uint32_t;
using BOOL = int32_t;

inline constexpr LibraryFunction<Declared::InternetOpenA,
    HINTERNET(const char* agent, DWORD accessType, const char* proxy, const char* proxyBypass, DWORD flags)>
    InternetOpenA;
inline constexpr LibraryFunction<Declared::InternetConnectA,
    HINTERNET(HINTERNET internet, const char* serverName, INTERNET_PORT port, const char* userName,
              const char* password, DWORD service, DWORD flags, uintptr_t context)>
    InternetConnectA;
inline constexpr LibraryFunction<Declared::InternetCloseHandle, BOOL(HINTERNET handle)> InternetCloseHandle;
inline constexpr LibraryFunction<Declared::HttpOpenRequestA,
    HINTERNET(HINTERNET connection, const char* verb, const char* objectName, const char* version,
              const char* referrer, const char** acceptTypes, DWORD flags, uintptr_t context)>
    HttpOpenRequestA;
inline constexpr LibraryFunction<Declared::InternetSetOptionA,
    BOOL(HINTERNET handle, DWORD option, void* buffer, DWORD bufferLength)>
    InternetSetOptionA;
inline constexpr LibraryFunction<Declared::HttpSendRequestA,
    BOOL(HINTERNET request, const char* headers, DWORD headersLength, void* optional, DWORD optionalLength)>
    HttpSendRequestA;
inline constexpr LibraryFunction<Declared::InternetReadFile,
    BOOL(HINTERNET request, void* buffer, DWORD bytesToRead, DWORD* bytesRead)>
    InternetReadFile;
inline constexpr LibraryFunction<Declared::HttpQueryInfoA,
    BOOL(HINTERNET request, DWORD infoLevel, void* buffer, DWORD* bufferLength, DWORD* index)>
    HttpQueryInfoA;
inline constexpr LibraryFunction<Declared::SkinH_AttachRes,
    int32_t(const uint8_t* skin, int32_t length, const char* options, int32_t reserved1, int32_t reserved2,
            int32_t reserved3)>
    SkinH_AttachRes;
