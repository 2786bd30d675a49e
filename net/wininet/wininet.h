// The eight exports of our wininet.dll: an HTTP client library over libcurl.
#pragma once

#include <cstdint>

#define WININET_API extern "C" __attribute__((visibility("default")))

using HINTERNET = void*;
using INTERNET_PORT = uint16_t;
using DWORD = uint32_t;
using BOOL = int32_t;

inline constexpr BOOL FALSE = 0;
inline constexpr BOOL TRUE = 1;

inline constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
inline constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
inline constexpr DWORD INTERNET_OPEN_TYPE_PROXY = 3;
inline constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY = 4;
inline constexpr DWORD INTERNET_SERVICE_HTTP = 3;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
inline constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
inline constexpr DWORD INTERNET_OPTION_CONNECT_TIMEOUT = 2;
inline constexpr DWORD INTERNET_OPTION_SEND_TIMEOUT = 5;
inline constexpr DWORD INTERNET_OPTION_RECEIVE_TIMEOUT = 6;
inline constexpr DWORD HTTP_QUERY_RAW_HEADERS_CRLF = 22;

WININET_API HINTERNET InternetOpenA(const char* agent, DWORD accessType, const char* proxy, const char* proxyBypass,
                                    DWORD flags);
WININET_API HINTERNET InternetConnectA(HINTERNET internet, const char* serverName, INTERNET_PORT port,
                                       const char* userName, const char* password, DWORD service, DWORD flags,
                                       uintptr_t context);
WININET_API BOOL InternetCloseHandle(HINTERNET handle);
WININET_API HINTERNET HttpOpenRequestA(HINTERNET connection, const char* verb, const char* objectName,
                                       const char* version, const char* referrer, const char** acceptTypes,
                                       DWORD flags, uintptr_t context);
WININET_API BOOL InternetSetOptionA(HINTERNET handle, DWORD option, void* buffer, DWORD bufferLength);
WININET_API BOOL HttpSendRequestA(HINTERNET request, const char* headers, DWORD headersLength, void* optional,
                                  DWORD optionalLength);
WININET_API BOOL InternetReadFile(HINTERNET request, void* buffer, DWORD bytesToRead, DWORD* bytesRead);
WININET_API BOOL HttpQueryInfoA(HINTERNET request, DWORD infoLevel, void* buffer, DWORD* bufferLength,
                                DWORD* index);
