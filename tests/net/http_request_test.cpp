#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net/http_request.h"
#include "tests/support/loopback_server.h"

namespace {

const std::string kAgentLine = "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
const std::string kDefaultAcceptLine =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*";
const std::string kLanguageLine = "Accept-Language: zh-cn";
const std::string kFormTypeLine = "Content-Type: application/x-www-form-urlencoded";

std::string Text_(const Text& text)
{
    return std::string(text.View());
}

// Where `run` begins as consecutive lines of `lines`, or nullopt.
std::optional<size_t> FindRun(const std::vector<std::string>& lines, const std::vector<std::string>& run)
{
    auto found = std::search(lines.begin(), lines.end(), run.begin(), run.end());
    if (found == lines.end() && !run.empty())
        return std::nullopt;
    return static_cast<size_t>(found - lines.begin());
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string joined;
    for (const std::string& line : lines)
        joined += "  " + line + "\n";
    return joined;
}

// The one request a test's server received.
ReceivedRequest OnlyRequest(const LoopbackServer& server)
{
    auto requests = server.Requests();
    EXPECT_EQ(requests.size(), 1u);
    return requests.empty() ? ReceivedRequest{} : requests.front();
}

TEST(HttpRequestText, SendsTheDefaultHeaderBlockAfterTheAgent)
{
    LoopbackServer server(Reply(HttpResponse("1")));
    const std::string url = server.Address("/kestu/713.txt");

    EXPECT_EQ(Text_(HttpRequestText(url.c_str())), "1");

    const ReceivedRequest request = OnlyRequest(server);
    EXPECT_EQ(request.RequestLine(), "GET /kestu/713.txt HTTP/1.1");
    const auto lines = request.HeaderLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), kAgentLine), 1) << Joined(lines);
    EXPECT_TRUE(FindRun(lines, {kDefaultAcceptLine, "Referer: " + url, kLanguageLine})) << Joined(lines);
    EXPECT_TRUE(request.body.empty());
}

struct HeaderRow {
    const char* name;
    const char* headers;
    // The caller's lines followed by the default lines that must be added behind them.
    std::vector<std::string> expectedRun;
    std::vector<std::string> mustNotAppear;
};

TEST(HttpRequestText, AddsOnlyTheDefaultLinesWhoseNamesAreMissing)
{
    const HeaderRow rows[] = {
        {"accept in small letters", "accept: text/plain\r\n",
         {"accept: text/plain", "REFERER", kLanguageLine}, {kDefaultAcceptLine}},
        {"X-Accept contains the name", "X-Accept: 1\r\n", {"X-Accept: 1", "REFERER", kLanguageLine},
         {kDefaultAcceptLine}},
        {"no blank after the colon", "Accept:text/plain\r\n",
         {"Accept:text/plain", kDefaultAcceptLine, "REFERER", kLanguageLine}, {}},
        {"only Accept-Language", "Accept-Language: en\r\n",
         {"Accept-Language: en", kDefaultAcceptLine, "REFERER"}, {kLanguageLine}},
        {"own Referer", "Referer: http://elsewhere/\r\n",
         {"Referer: http://elsewhere/", kDefaultAcceptLine, kLanguageLine}, {"REFERER"}},
        {"last line lacks its CRLF", "X-Last: 1", {"X-Last: 1" + kDefaultAcceptLine, "REFERER", kLanguageLine}, {}},
    };
    for (const HeaderRow& row : rows) {
        SCOPED_TRACE(row.name);
        LoopbackServer server(Reply(HttpResponse("ok")));
        const std::string url = server.Address("/h");
        auto complete = [&](std::string line) { return line == "REFERER" ? "Referer: " + url : line; };

        EXPECT_EQ(Text_(HttpRequestText(url.c_str(), {}, std::nullopt, row.headers)), "ok");

        const auto lines = OnlyRequest(server).HeaderLines();
        std::vector<std::string> run;
        std::transform(row.expectedRun.begin(), row.expectedRun.end(), std::back_inserter(run), complete);
        EXPECT_TRUE(FindRun(lines, run)) << Joined(lines);
        for (const std::string& line : row.mustNotAppear)
            EXPECT_EQ(std::count(lines.begin(), lines.end(), complete(line)), 0) << Joined(lines);
    }
}

struct MethodRow {
    std::optional<const char*> method;  // nullopt: omitted
    const char* verb;
};

TEST(HttpRequestText, SendsGetUnlessTheMethodIsPostInAnyCase)
{
    const MethodRow rows[] = {
        {std::nullopt, "GET"}, {"", "GET"},      {"GET", "GET"},    {"get", "GET"},
        {"PUT", "GET"},        {"POST", "POST"}, {"post", "post"}, {"PoSt", "PoSt"},
    };
    for (const MethodRow& row : rows) {
        SCOPED_TRACE(std::string("method ") + (row.method ? *row.method : "(omitted)"));
        LoopbackServer server(Reply(HttpResponse("ok")));
        const std::string url = server.Address("/m");

        const Text result = row.method ? HttpRequestText(url.c_str(), *row.method) : HttpRequestText(url.c_str());

        EXPECT_EQ(Text_(result), "ok");
        const ReceivedRequest request = OnlyRequest(server);
        EXPECT_EQ(request.RequestLine(), std::string(row.verb) + " /m HTTP/1.1");
        // Without PostData even a POST carries no form lines and no body.
        const auto lines = request.HeaderLines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), kFormTypeLine), 0) << Joined(lines);
        EXPECT_TRUE(request.body.empty());
    }
}

struct PostRow {
    const char* name;
    const char* headers;
    const char* postData;
    std::vector<std::string> expectedRun;  // ends the block that the routine built
};

TEST(HttpRequestText, PostsTheDataWithFormTypeAndByteLength)
{
    const PostRow rows[] = {
        {"seven bytes", nullptr, "a=1&b=2",
         {kDefaultAcceptLine, "REFERER", kLanguageLine, kFormTypeLine, "Content-Length: 7"}},
        // two double-byte characters and "=": five bytes, three characters
        {"double-byte characters", nullptr, "名=值",
         {kDefaultAcceptLine, "REFERER", kLanguageLine, kFormTypeLine, "Content-Length: 5"}},
        {"own Content-Type kept", "Content-Type: text/plain\r\n", "x=1",
         {"Content-Type: text/plain", kDefaultAcceptLine, "REFERER", kLanguageLine, kFormTypeLine,
          "Content-Length: 3"}},
    };
    for (const PostRow& row : rows) {
        SCOPED_TRACE(row.name);
        LoopbackServer server(Reply(HttpResponse("posted")));
        const std::string url = server.Address("/p");

        EXPECT_EQ(Text_(HttpRequestText(url.c_str(), "POST", std::nullopt, row.headers, row.postData)), "posted");

        const ReceivedRequest request = OnlyRequest(server);
        EXPECT_EQ(request.RequestLine(), "POST /p HTTP/1.1");
        std::vector<std::string> run = row.expectedRun;
        std::replace(run.begin(), run.end(), std::string("REFERER"), "Referer: " + url);
        EXPECT_TRUE(FindRun(request.HeaderLines(), run)) << Joined(request.HeaderLines());
        EXPECT_EQ(request.body, row.postData);
    }
}

TEST(HttpRequestText, GoesThroughTheSuppliedProxy)
{
    LoopbackServer proxy(Reply(HttpResponse("via proxy")));
    const std::string url = "http://update.invalid/kestu/713.txt";
    const std::string proxyName = "127.0.0.1:" + std::to_string(proxy.Port());

    EXPECT_EQ(Text_(HttpRequestText(url.c_str(), {}, proxyName.c_str())), "via proxy");

    const ReceivedRequest request = OnlyRequest(proxy);
    EXPECT_EQ(request.RequestLine(), "GET " + url + " HTTP/1.1");
    const auto lines = request.HeaderLines();
    EXPECT_TRUE(FindRun(lines, {kDefaultAcceptLine, "Referer: " + url, kLanguageLine})) << Joined(lines);
}

struct BodyRow {
    const char* name;
    std::string response;
    std::string expected;
};

TEST(HttpRequestText, ReturnsTheBodyUpToItsFirstNul)
{
    std::string large(300000, '\0');
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>('!' + i % 90);
    // Past a mebibyte the body moves into a large block of its own; the cut must survive that.
    const std::string beyond = large + large + large + large;
    const BodyRow rows[] = {
        {"plain", HttpResponse("hello"), "hello"},
        {"empty", HttpResponse(""), ""},
        {"NUL inside", HttpResponse(std::string("ab\0cd", 5)), "ab"},
        {"NUL first", HttpResponse(std::string("\0x", 2)), ""},
        {"many reads", HttpResponse(large), large},
        {"NUL after many reads", HttpResponse(large + '\0' + large), large},
        {"NUL past a mebibyte", HttpResponse(beyond + '\0' + large), beyond},
        {"error page", HttpResponse("missing", "404 Not Found"), "missing"},
        {"ended by closing", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nuntil the end", "until the end"},
    };
    for (const BodyRow& row : rows) {
        SCOPED_TRACE(row.name);
        LoopbackServer server(Reply(row.response));
        EXPECT_EQ(Text_(HttpRequestText(server.Address("/b").c_str())), row.expected);
    }
}

TEST(HttpRequestText, GivesEmptyWhenNothingAnswers)
{
    const std::string refused = "http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()) + "/x";
    for (const std::string& url : {refused, std::string()}) {
        SCOPED_TRACE("url \"" + url + "\"");
        Text headers = Text::FromBytes("left alone?");
        EXPECT_TRUE(HttpRequestText(url.c_str()).IsAbsent());
        EXPECT_TRUE(HttpRequestText(url.c_str(), "POST", std::nullopt, {}, "a=1", &headers).IsAbsent());
    }
}

TEST(HttpRequestText, HandsBackTheResponseHeadersWhenTheyFit)
{
    LoopbackServer server(Reply(HttpResponse("body", "200 OK", "X-Test: yes\r\n")));
    Text headers = Text::FromBytes("old");

    EXPECT_EQ(Text_(HttpRequestText(server.Address("/r").c_str(), {}, std::nullopt, {}, {}, &headers)), "body");

    const std::string block = Text_(headers);
    EXPECT_TRUE(block.starts_with("HTTP/1.1 200 OK\r\n")) << block;
    EXPECT_NE(block.find("\r\nX-Test: yes\r\n"), std::string::npos) << block;
    EXPECT_EQ(block.find(' ', block.size() - 1), std::string::npos) << "blanks of the buffer left behind";
}

TEST(HttpRequestText, LeavesTheBlanksWhenTheHeadersDoNotFit)
{
    const std::string longLine = "X-Long: " + std::string(1100, 'x') + "\r\n";
    LoopbackServer server(Reply(HttpResponse("body", "200 OK", longLine)));
    Text headers;

    EXPECT_EQ(Text_(HttpRequestText(server.Address("/r").c_str(), {}, std::nullopt, {}, {}, &headers)), "body");

    EXPECT_EQ(Text_(headers), std::string(1024, ' '));
}

// Records which callbacks queued on the default main context have run, so that a server
// thread can wait for the client's event processing between two pieces of a body.
class EventProbe {
public:
    ~EventProbe()
    {
        std::lock_guard lock(mutex_);
        for (Ticket& ticket : tickets_) {
            g_source_destroy(ticket.source);
            g_source_unref(ticket.source);
        }
    }

    void Queue(int tag)
    {
        std::lock_guard lock(mutex_);
        Ticket& ticket = tickets_.emplace_back(Ticket{this, tag, g_idle_source_new()});
        g_source_set_callback(ticket.source, &EventProbe::Run, &ticket, nullptr);
        g_source_attach(ticket.source, nullptr);
    }

    bool WaitUntilRun(int tag)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [&] {
            return std::find(ran_.begin(), ran_.end(), tag) != ran_.end();
        });
    }

    std::vector<int> Ran() const
    {
        std::lock_guard lock(mutex_);
        return ran_;
    }

private:
    struct Ticket {
        EventProbe* probe;
        int tag;
        GSource* source;
    };

    static gboolean Run(gpointer data)
    {
        auto* ticket = static_cast<Ticket*>(data);
        std::lock_guard lock(ticket->probe->mutex_);
        ticket->probe->ran_.push_back(ticket->tag);
        ticket->probe->changed_.notify_all();
        return G_SOURCE_REMOVE;
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Ticket> tickets_;
    std::vector<int> ran_;
};

TEST(HttpRequestText, ProcessesEventsBeforeEveryReadTheLastOneIncluded)
{
    const std::vector<size_t> pieceSizes = {512, 512, 512, 100};
    std::string body;
    for (size_t i = 0; i < 1636; ++i)
        body += static_cast<char>('a' + i % 26);

    EventProbe probe;
    std::vector<int> neverRan;
    Text result;
    {
        // Piece k is sent only after the callback queued before piece k-1 has run, which takes
        // event processing between the two reads; the last callback needs it before the final read.
        LoopbackServer server([&](ClientConnection& connection) {
            std::string head = HttpResponse(body);
            connection.Send(head.substr(0, head.size() - body.size()));
            size_t offset = 0;
            for (size_t k = 1; k <= pieceSizes.size(); ++k) {
                if (!probe.WaitUntilRun(static_cast<int>(k - 1)))
                    neverRan.push_back(static_cast<int>(k - 1));
                // Let the client leave its event processing and block in the read first.
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                probe.Queue(static_cast<int>(k));
                connection.Send(std::string_view(body).substr(offset, pieceSizes[k - 1]));
                offset += pieceSizes[k - 1];
            }
            if (!probe.WaitUntilRun(static_cast<int>(pieceSizes.size())))
                neverRan.push_back(static_cast<int>(pieceSizes.size()));
        });
        // Queued before the call: needs event processing before the very first read.
        probe.Queue(0);

        result = HttpRequestText(server.Address("/pieces").c_str());
    }

    EXPECT_EQ(Text_(result), body);
    EXPECT_EQ(probe.Ran(), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_TRUE(neverRan.empty()) << "callbacks that waited in vain: " << neverRan.size();
}

}  // namespace
