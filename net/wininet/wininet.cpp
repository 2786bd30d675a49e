// An HTTP client library with the eight exports of wininet.h, over libcurl's multi interface.
#include "net/wininet/wininet.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// ---- small text helpers ----

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The three digits behind the version, white space before them skipped, as curl reads them.
int StatusCode(std::string_view statusLine) {
    size_t at = statusLine.find(' ');
    if (at == std::string_view::npos) return 0;
    while (at < statusLine.size() && std::isspace(static_cast<unsigned char>(statusLine[at]))) ++at;
    int code = 0;
    for (size_t end = std::min(statusLine.size(), at + 3); at < end && std::isdigit(static_cast<unsigned char>(statusLine[at])); ++at)
        code = code * 10 + (statusLine[at] - '0');
    return code;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return Lower(x) == Lower(y);
           });
}

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool IsControlOrSpace(char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F; }

// Splits on any line break; empty lines are dropped, as one would end the request head early.
std::vector<std::string_view> SplitLines(std::string_view block, std::string_view separators) {
    std::vector<std::string_view> lines;
    while (!block.empty()) {
        size_t end = block.find_first_of(separators);
        std::string_view line = block.substr(0, end);
        if (!TrimSpaces(line).empty()) lines.push_back(line);
        if (end == std::string_view::npos) break;
        block.remove_prefix(end + 1);
    }
    return lines;
}

std::string_view HeaderName(std::string_view line) { return TrimSpaces(line.substr(0, line.find(':'))); }

// ---- curl owners ----

struct CurlEasyCleanup {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct CurlMultiCleanup {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct CurlSlistCleanup {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyCleanup>;
using CurlMulti = std::unique_ptr<CURLM, CurlMultiCleanup>;
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistCleanup>;

bool AppendTo(CurlSlist& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (!grown) return false;
    list.release();
    list.reset(grown);
    return true;
}

void InitialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// ---- handle state ----

constexpr uint32_t kDefaultTimeoutMs = 60000;

struct Timeouts {
    uint32_t connectMs = kDefaultTimeoutMs;
    uint32_t sendMs = kDefaultTimeoutMs;
    uint32_t receiveMs = kDefaultTimeoutMs;
};

// 0 and all bits set both mean "wait as long as it takes".
bool IsUnlimited(uint32_t ms) { return ms == 0 || ms == UINT32_MAX; }

enum class ProxyUse { Environment, None, Named };

struct InternetState {
    std::optional<std::string> agent;
    ProxyUse proxyUse = ProxyUse::None;
    std::string httpProxy;  // "" with ProxyUse::Named: the list names no proxy for http, so go direct
    std::string noProxy;
};

struct ConnectionState {
    InternetState internet;
    std::string host;
    INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
};

class Transfer;

struct RequestState {
    ConnectionState connection;
    std::string verb;
    std::string target;  // object name, percent-encoded where curl would refuse it
    long httpVersion = CURL_HTTP_VERSION_1_1;
    std::string referrer;
    std::string acceptTypes;
    std::unique_ptr<Transfer> transfer;
};

// ---- one request's exchange ----

struct SendData {
    std::vector<std::string> headerLines;  // ready for curl
    std::string body;
    bool bodyFramed = false;  // a body (possibly empty) goes with the request, with its length
};

class Transfer {
public:
    static std::unique_ptr<Transfer> Start(const RequestState& request, const Timeouts& timeouts, SendData data) {
        std::unique_ptr<Transfer> transfer(new Transfer(std::move(data)));
        if (!transfer->Configure(request, timeouts)) return nullptr;
        return transfer;
    }

    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    ~Transfer() {
        if (attached_) curl_multi_remove_handle(multi_.get(), easy_.get());
    }

    // Waits for the head of the final response; false when the exchange failed before it.
    bool AwaitHead(const Timeouts& timeouts) {
        PumpUntil(timeouts, [this] { return headReady_; });
        // A 3xx that curl chose not to follow is final after all.
        headAccepted_ = headReady_ || (finished_ && !failed_ && !inHead_ && !rawHeaders_.empty());
        return headAccepted_;
    }

    enum class ReadOutcome { Data, End, Failed };

    ReadOutcome Read(std::span<char> into, const Timeouts& timeouts, size_t& delivered) {
        delivered = 0;
        if (into.empty()) return failed_ && Pending() == 0 ? ReadOutcome::Failed : ReadOutcome::Data;
        PumpUntil(timeouts, [this] { return Pending() > 0; });
        delivered = std::min(into.size(), Pending());
        if (delivered > 0) {
            std::memcpy(into.data(), body_.data() + consumed_, delivered);
            consumed_ += delivered;
            if (consumed_ == body_.size()) {
                body_.clear();
                consumed_ = 0;
            }
            return ReadOutcome::Data;
        }
        return failed_ ? ReadOutcome::Failed : ReadOutcome::End;
    }

    bool HasHead() const { return headAccepted_; }
    const std::string& RawHeaders() const { return rawHeaders_; }

private:
    enum class Phase { Connecting, Exchanging };

    explicit Transfer(SendData data) : send_(std::move(data)) {}

    template <typename Option, typename Value>
    bool Set(Option option, Value value) {
        return curl_easy_setopt(easy_.get(), option, value) == CURLE_OK;
    }

    bool Configure(const RequestState& request, const Timeouts& timeouts) {
        multi_.reset(curl_multi_init());
        easy_.reset(curl_easy_init());
        if (!multi_ || !easy_) return false;
        for (const std::string& line : send_.headerLines)
            if (!AppendTo(headerList_, line)) return false;

        const ConnectionState& connection = request.connection;
        const InternetState& internet = connection.internet;
        bool ipv6Literal = connection.host.find(':') != std::string::npos;
        url_ = "http://" + (ipv6Literal ? "[" + connection.host + "]" : connection.host);
        if (connection.port != INTERNET_DEFAULT_HTTP_PORT) url_ += ":" + std::to_string(connection.port);
        url_ += request.target;

        bool ok = Set(CURLOPT_URL, url_.c_str()) && Set(CURLOPT_PROTOCOLS_STR, "http,https") &&
                  Set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https") && Set(CURLOPT_FOLLOWLOCATION, 1L) &&
                  Set(CURLOPT_MAXREDIRS, 10L) && Set(CURLOPT_NOSIGNAL, 1L) && Set(CURLOPT_PATH_AS_IS, 1L) &&
                  Set(CURLOPT_HTTP_VERSION, request.httpVersion) && Set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L) &&
                  Set(CURLOPT_HTTPHEADER, headerList_.get()) &&
                  Set(CURLOPT_CONNECTTIMEOUT_MS, IsUnlimited(timeouts.connectMs) ? 0L : long{timeouts.connectMs}) &&
                  Set(CURLOPT_HEADERFUNCTION, &Transfer::OnHeader) && Set(CURLOPT_HEADERDATA, this) &&
                  Set(CURLOPT_WRITEFUNCTION, &Transfer::OnBody) && Set(CURLOPT_WRITEDATA, this) &&
                  Set(CURLOPT_PREREQFUNCTION, &Transfer::OnPrerequest) && Set(CURLOPT_PREREQDATA, this);
        if (ok && internet.agent) ok = Set(CURLOPT_USERAGENT, internet.agent->c_str());
        if (ok && !request.referrer.empty()) ok = Set(CURLOPT_REFERER, request.referrer.c_str());
        if (ok && internet.proxyUse != ProxyUse::Environment) {
            // An empty proxy also keeps curl from taking one from the environment.
            ok = Set(CURLOPT_PROXY, internet.httpProxy.c_str()) && Set(CURLOPT_NOPROXY, internet.noProxy.c_str());
        }
        ok = ok && ConfigureMethod(request.verb);
        if (!ok) return false;
        if (curl_multi_add_handle(multi_.get(), easy_.get()) != CURLM_OK) return false;
        attached_ = true;
        lastProgress_ = Clock::now();
        return true;
    }

    bool ConfigureMethod(const std::string& verb) {
        if (send_.bodyFramed) {
            bool ok = Set(CURLOPT_POSTFIELDS, send_.body.data()) &&
                      Set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(send_.body.size()));
            return ok && (verb == "POST" || Set(CURLOPT_CUSTOMREQUEST, verb.c_str()));
        }
        if (verb == "GET") return Set(CURLOPT_HTTPGET, 1L);
        // A HEAD response announces a length it never sends.
        if (verb == "HEAD") return Set(CURLOPT_NOBODY, 1L);
        return Set(CURLOPT_HTTPGET, 1L) && Set(CURLOPT_CUSTOMREQUEST, verb.c_str());
    }

    size_t Pending() const { return body_.size() - consumed_; }

    template <typename Done>
    void PumpUntil(const Timeouts& timeouts, Done done) {
        while (!done() && !finished_) {
            int running = 0;
            if (curl_multi_perform(multi_.get(), &running) != CURLM_OK) {
                Stop(true);
                break;
            }
            CollectResult();
            if (done() || finished_) break;
            NoteUploadProgress();
            std::optional<Clock::duration> left = IdleTimeLeft(timeouts);
            if (left && *left <= Clock::duration::zero()) {
                Stop(true);
                break;
            }
            auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(left.value_or(std::chrono::seconds(1)));
            int waitMs = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(wait.count() + 1, 1, 1000));
            if (curl_multi_poll(multi_.get(), nullptr, 0, waitMs, nullptr) != CURLM_OK) {
                Stop(true);
                break;
            }
        }
    }

    void CollectResult() {
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_.get(), &queued)) {
            if (message->msg == CURLMSG_DONE) Stop(message->data.result != CURLE_OK);
        }
    }

    void Stop(bool failed) {
        finished_ = true;
        failed_ = failed_ || failed;
        if (attached_) curl_multi_remove_handle(multi_.get(), easy_.get());
        attached_ = false;
    }

    void NoteUploadProgress() {
        curl_off_t uploaded = 0;
        if (curl_easy_getinfo(easy_.get(), CURLINFO_SIZE_UPLOAD_T, &uploaded) != CURLE_OK) return;
        if (uploaded != uploaded_) lastProgress_ = Clock::now();
        uploaded_ = uploaded;
    }

    // curl guards the connect; from then on we fail when nothing moved for the send or receive time-out.
    std::optional<Clock::duration> IdleTimeLeft(const Timeouts& timeouts) const {
        if (phase_ == Phase::Connecting) return std::nullopt;
        bool sending = uploaded_ < static_cast<curl_off_t>(send_.body.size());
        uint32_t limitMs = sending ? timeouts.sendMs : timeouts.receiveMs;
        if (IsUnlimited(limitMs)) return std::nullopt;
        return lastProgress_ + std::chrono::milliseconds(limitMs) - Clock::now();
    }

    static int OnPrerequest(void* self, char*, char*, int, int) {
        auto* transfer = static_cast<Transfer*>(self);
        transfer->phase_ = Phase::Exchanging;
        transfer->lastProgress_ = Clock::now();
        transfer->uploaded_ = 0;
        return CURL_PREREQFUNC_OK;
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
        static_cast<Transfer*>(self)->TakeHeaderLine(std::string_view(data, size * count));
        return size * count;
    }

    void TakeHeaderLine(std::string_view line) {
        lastProgress_ = Clock::now();
        // curl ends the head at the first line that begins with CR or LF, whatever else is on it.
        if (line.starts_with('\r') || line.starts_with('\n')) line = {};
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
        // curl takes the protocol name in any letter case.
        if (line.size() >= 5 && EqualsIgnoringCase(line.substr(0, 5), "HTTP/")) {
            rawHeaders_.assign(line);
            rawHeaders_ += "\r\n";
            inHead_ = true;
            hasLocation_ = false;
            status_ = StatusCode(line);
            return;
        }
        if (!inHead_) return;  // trailers of a chunked body
        rawHeaders_.append(line);
        rawHeaders_ += "\r\n";
        if (!line.empty()) {
            hasLocation_ = hasLocation_ || EqualsIgnoringCase(HeaderName(line), "Location");
            return;
        }
        inHead_ = false;
        bool interim = status_ / 100 == 1;
        bool redirect = hasLocation_ && (status_ == 300 || status_ == 301 || status_ == 302 || status_ == 303 ||
                                         status_ == 307 || status_ == 308);
        if (redirect) phase_ = Phase::Connecting;
        headReady_ = headReady_ || !(interim || redirect);
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* self) {
        auto* transfer = static_cast<Transfer*>(self);
        transfer->lastProgress_ = Clock::now();
        transfer->headReady_ = true;  // curl passes on no body but the final one
        transfer->body_.append(data, size * count);
        return size * count;
    }

    SendData send_;
    std::string url_;
    CurlMulti multi_;
    CurlSlist headerList_;  // must outlive the easy handle that points at it
    CurlEasy easy_;
    bool attached_ = false;

    Phase phase_ = Phase::Connecting;
    Clock::time_point lastProgress_;
    curl_off_t uploaded_ = 0;
    bool finished_ = false;
    bool failed_ = false;

    std::string rawHeaders_;
    bool inHead_ = false;
    bool hasLocation_ = false;
    int status_ = 0;
    bool headReady_ = false;
    bool headAccepted_ = false;

    std::string body_;
    size_t consumed_ = 0;
};

// ---- handles ----

struct Handle {
    Timeouts timeouts;
    std::variant<InternetState, ConnectionState, RequestState> state;
};

// Handles are numbers that are never reused, so a closed or made-up handle is simply not found.
class Registry {
public:
    HINTERNET Add(std::shared_ptr<Handle> handle) {
        std::lock_guard lock(mutex_);
        next_ += 8;
        handles_.emplace(next_, std::move(handle));
        return reinterpret_cast<HINTERNET>(next_);
    }

    std::shared_ptr<Handle> Find(HINTERNET key) {
        std::lock_guard lock(mutex_);
        auto found = handles_.find(reinterpret_cast<uintptr_t>(key));
        return found == handles_.end() ? nullptr : found->second;
    }

    std::shared_ptr<Handle> Remove(HINTERNET key) {
        std::lock_guard lock(mutex_);
        auto found = handles_.find(reinterpret_cast<uintptr_t>(key));
        if (found == handles_.end()) return nullptr;
        std::shared_ptr<Handle> handle = std::move(found->second);
        handles_.erase(found);
        return handle;
    }

private:
    std::mutex mutex_;
    std::unordered_map<uintptr_t, std::shared_ptr<Handle>> handles_;
    uintptr_t next_ = 0x10000;
};

// Never destroyed: handles left open at exit must not be torn down after libcurl's own clean-up.
Registry& Handles() {
    static Registry* registry = new Registry;
    return *registry;
}

template <typename State>
struct Found {
    std::shared_ptr<Handle> handle;  // keeps the state alive for the whole call
    State* state = nullptr;
    explicit operator bool() const { return state != nullptr; }
};

template <typename State>
Found<State> FindHandle(HINTERNET key) {
    Found<State> found;
    found.handle = Handles().Find(key);
    if (found.handle) found.state = std::get_if<State>(&found.handle->state);
    return found;
}

// An exception must not cross the C boundary; the caller sees a failure instead.
template <typename Result, typename Body>
Result Guarded(Result failure, Body body) {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

// ---- argument checks ----

bool IsToken(std::string_view text) {
    return !text.empty() && std::none_of(text.begin(), text.end(), [](char c) {
        return IsControlOrSpace(c) || static_cast<unsigned char>(c) >= 0x80 ||
               std::string_view("()<>@,;:\\\"/[]?={}").find(c) != std::string_view::npos;
    });
}

bool IsHostName(std::string_view host) {
    return !host.empty() && host.size() < 256 && std::none_of(host.begin(), host.end(), [](char c) {
        return IsControlOrSpace(c) || std::string_view("/\\?#@[]").find(c) != std::string_view::npos;
    });
}

// Percent-encodes the bytes curl would refuse in a URL, so the target reaches the wire as one token.
std::string RequestTarget(const char* objectName) {
    std::string_view name = objectName ? objectName : "";
    std::string target = name.starts_with('/') ? "" : "/";
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (char c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (IsControlOrSpace(c) || byte >= 0x80) {
            target += '%';
            target += kHex[byte >> 4];
            target += kHex[byte & 15];
        } else {
            target += c;
        }
    }
    return target;
}

// A proxy list holds "scheme=server" or bare "server" entries; only the one for http matters here.
bool ParseProxyList(std::string_view list, std::string& httpProxy) {
    std::vector<std::string_view> entries = SplitLines(list, " ;\t");
    if (entries.empty()) return false;
    for (std::string_view entry : entries) {
        size_t equals = entry.find('=');
        std::string_view scheme = equals == std::string_view::npos ? "http" : entry.substr(0, equals);
        std::string_view server = equals == std::string_view::npos ? entry : entry.substr(equals + 1);
        if (server.empty()) return false;
        if (!EqualsIgnoringCase(scheme, "http") || !httpProxy.empty()) continue;
        httpProxy = server.find("://") == std::string_view::npos ? "http://" + std::string(server) : server;
    }
    return true;
}

std::string NoProxyList(const char* bypass) {
    std::string list;
    for (std::string_view entry : SplitLines(bypass ? bypass : "", " ;,\t")) {
        if (entry == "<local>") continue;  // curl has no notion of dot-less names
        if (entry.starts_with("*.")) entry.remove_prefix(1);
        if (!list.empty()) list += ',';
        list += entry;
    }
    return list;
}

SendData PrepareSend(const RequestState& request, std::string_view headers, std::string_view body) {
    SendData data;
    bool has[3] = {};
    static constexpr std::string_view kOwnNames[3] = {"Accept", "Expect", "Content-Type"};
    for (std::string_view line : SplitLines(headers, "\r\n")) {
        std::string_view name = HeaderName(line);
        for (size_t i = 0; i < 3; ++i) has[i] = has[i] || EqualsIgnoringCase(name, kOwnNames[i]);
        std::string text(line);
        size_t colon = line.find(':');
        // curl reads "Name:" as "drop this header" and sends "Name;" as "Name:".
        if (colon != std::string_view::npos && TrimSpaces(line.substr(colon + 1)).empty() &&
            name.find(';') == std::string_view::npos)
            text = std::string(line.substr(0, colon)) + ";";
        data.headerLines.push_back(std::move(text));
    }
    // Lines curl would add of its own accord are removed unless the caller gave them.
    if (!has[0]) data.headerLines.push_back(request.acceptTypes.empty() ? "Accept:" : "Accept: " + request.acceptTypes);
    if (!has[1]) data.headerLines.push_back("Expect:");
    if (!has[2]) data.headerLines.push_back("Content-Type:");
    data.body.assign(body);
    data.bodyFramed = !body.empty() || EqualsIgnoringCase(request.verb, "POST") || EqualsIgnoringCase(request.verb, "PUT");
    return data;
}

}  // namespace

WININET_API HINTERNET InternetOpenA(const char* agent, DWORD accessType, const char* proxy, const char* proxyBypass,
                                    DWORD /*flags*/) {
    return Guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
        InternetState state;
        if (agent && *agent) state.agent = agent;
        switch (accessType) {
        case INTERNET_OPEN_TYPE_PRECONFIG:
        case INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY:
            state.proxyUse = ProxyUse::Environment;
            break;
        case INTERNET_OPEN_TYPE_DIRECT:
            state.proxyUse = ProxyUse::None;
            break;
        case INTERNET_OPEN_TYPE_PROXY:
            state.proxyUse = ProxyUse::Named;
            if (!proxy || !ParseProxyList(proxy, state.httpProxy)) return nullptr;
            state.noProxy = NoProxyList(proxyBypass);
            break;
        default:
            return nullptr;
        }
        InitialiseCurlOnce();
        return Handles().Add(std::make_shared<Handle>(Handle{Timeouts{}, std::move(state)}));
    });
}

WININET_API HINTERNET InternetConnectA(HINTERNET internet, const char* serverName, INTERNET_PORT port,
                                       const char* /*userName*/, const char* /*password*/, DWORD service,
                                       DWORD /*flags*/, uintptr_t /*context*/) {
    return Guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
        auto parent = FindHandle<InternetState>(internet);
        if (!parent || service != INTERNET_SERVICE_HTTP || !serverName || !IsHostName(serverName)) return nullptr;
        ConnectionState state{*parent.state, serverName, port == 0 ? INTERNET_DEFAULT_HTTP_PORT : port};
        return Handles().Add(std::make_shared<Handle>(Handle{parent.handle->timeouts, std::move(state)}));
    });
}

WININET_API BOOL InternetCloseHandle(HINTERNET handle) {
    return Guarded<BOOL>(FALSE, [&] { return Handles().Remove(handle) ? TRUE : FALSE; });
}

WININET_API HINTERNET HttpOpenRequestA(HINTERNET connection, const char* verb, const char* objectName,
                                       const char* version, const char* referrer, const char** acceptTypes,
                                       DWORD /*flags*/, uintptr_t /*context*/) {
    return Guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
        auto parent = FindHandle<ConnectionState>(connection);
        if (!parent) return nullptr;
        RequestState state;
        state.connection = *parent.state;
        state.verb = verb && *verb ? verb : "GET";
        if (!IsToken(state.verb)) return nullptr;
        state.target = RequestTarget(objectName);
        std::string_view versionText = version ? version : "";
        if (versionText == "HTTP/1.0")
            state.httpVersion = CURL_HTTP_VERSION_1_0;
        else if (!versionText.empty() && versionText != "HTTP/1.1")
            return nullptr;
        if (referrer && std::none_of(referrer, referrer + std::strlen(referrer), IsControlOrSpace))
            state.referrer = referrer;
        for (const char** type = acceptTypes; type && *type; ++type) {
            if (std::any_of(*type, *type + std::strlen(*type), [](char c) { return c == '\r' || c == '\n'; }))
                return nullptr;
            state.acceptTypes += (state.acceptTypes.empty() ? "" : ", ") + std::string(*type);
        }
        return Handles().Add(std::make_shared<Handle>(Handle{parent.handle->timeouts, std::move(state)}));
    });
}

WININET_API BOOL InternetSetOptionA(HINTERNET handle, DWORD option, void* buffer, DWORD bufferLength) {
    return Guarded<BOOL>(FALSE, [&] {
        std::shared_ptr<Handle> found = Handles().Find(handle);
        if (!found || !buffer || bufferLength != sizeof(DWORD)) return FALSE;
        DWORD value;
        std::memcpy(&value, buffer, sizeof value);
        switch (option) {
        case INTERNET_OPTION_CONNECT_TIMEOUT: found->timeouts.connectMs = value; return TRUE;
        case INTERNET_OPTION_SEND_TIMEOUT: found->timeouts.sendMs = value; return TRUE;
        case INTERNET_OPTION_RECEIVE_TIMEOUT: found->timeouts.receiveMs = value; return TRUE;
        default: return FALSE;
        }
    });
}

WININET_API BOOL HttpSendRequestA(HINTERNET request, const char* headers, DWORD headersLength, void* optional,
                                  DWORD optionalLength) {
    return Guarded<BOOL>(FALSE, [&] {
        auto found = FindHandle<RequestState>(request);
        if (!found || (!optional && optionalLength > 0)) return FALSE;
        found.state->transfer.reset();
        // All bits set means the block is NUL-terminated; a NUL inside it ends it either way.
        size_t headerBytes = !headers ? 0 : headersLength == UINT32_MAX ? std::strlen(headers)
                                                                        : strnlen(headers, headersLength);
        SendData data = PrepareSend(*found.state, std::string_view(headers ? headers : "", headerBytes),
                                    std::string_view(static_cast<const char*>(optional), optionalLength));
        found.state->transfer = Transfer::Start(*found.state, found.handle->timeouts, std::move(data));
        return found.state->transfer && found.state->transfer->AwaitHead(found.handle->timeouts) ? TRUE : FALSE;
    });
}

WININET_API BOOL InternetReadFile(HINTERNET request, void* buffer, DWORD bytesToRead, DWORD* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    return Guarded<BOOL>(FALSE, [&] {
        auto found = FindHandle<RequestState>(request);
        if (!found || !bytesRead || (!buffer && bytesToRead > 0)) return FALSE;
        Transfer* transfer = found.state->transfer.get();
        if (!transfer || !transfer->HasHead()) return FALSE;
        size_t delivered = 0;
        auto outcome = transfer->Read(std::span(static_cast<char*>(buffer), bytesToRead), found.handle->timeouts,
                                      delivered);
        *bytesRead = static_cast<DWORD>(delivered);
        return outcome == Transfer::ReadOutcome::Failed ? FALSE : TRUE;
    });
}

WININET_API BOOL HttpQueryInfoA(HINTERNET request, DWORD infoLevel, void* buffer, DWORD* bufferLength,
                                DWORD* /*index*/) {
    return Guarded<BOOL>(FALSE, [&] {
        auto found = FindHandle<RequestState>(request);
        if (!found || !bufferLength || infoLevel != HTTP_QUERY_RAW_HEADERS_CRLF) return FALSE;
        Transfer* transfer = found.state->transfer.get();
        if (!transfer || !transfer->HasHead()) return FALSE;
        const std::string& block = transfer->RawHeaders();
        if (!buffer || *bufferLength < block.size() + 1) {
            *bufferLength = static_cast<DWORD>(block.size() + 1);
            return FALSE;
        }
        std::memcpy(buffer, block.c_str(), block.size() + 1);
        *bufferLength = static_cast<DWORD>(block.size());
        return TRUE;
    });
}
