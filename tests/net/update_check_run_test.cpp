// The update check of the real program, run under the current DISPLAY against the bundled
// local server on port 8713, with a stand-in xdg-open that records what it was asked to open.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/program_fixture.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kServer = "http://127.0.0.1:8713";
const std::string kDefaultDownload = kServer + "/download.html";
const std::string kAgentLine = "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
const std::string kDefaultAcceptLine =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*";

// One logged request head as lines, the request line first.
using Head = std::vector<std::string>;

std::vector<Head> SplitLog(const std::string& log)
{
    std::vector<Head> heads;
    size_t start = 0;
    for (size_t end; (end = log.find("\r\n\r\n", start)) != std::string::npos; start = end + 4) {
        Head head;
        const std::string block = log.substr(start, end - start);
        size_t lineStart = 0;
        for (size_t lineEnd; (lineEnd = block.find("\r\n", lineStart)) != std::string::npos; lineStart = lineEnd + 2)
            head.push_back(block.substr(lineStart, lineEnd - lineStart));
        head.push_back(block.substr(lineStart));
        heads.push_back(std::move(head));
    }
    return heads;
}

class UpdateCheckRun : public ProgramRun {
protected:
    UpdateCheckRun() : ProgramRun({QY_PROGRAM, QY_LIBRARY_DIR, QY_LOCAL_SERVER}) {}

    // Every request head the server saw goes to the log.
    void StartServer(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), {"--log", LogPath()});
        ProgramRun::StartServer(arguments);
    }

    ChildProcess& StartProgram()
    {
        const std::string program = CopyIntoRunDirectory(files_.program, runDirectory_);
        program_.emplace(ChildProcess::Options{{program}, runDirectory_, ProgramEnvironment(files_.libraryDir),
                                               OutputPath()});
        return *program_;
    }

    std::string LogPath() const { return scratch_.Path() + "/requests.log"; }

    std::vector<Head> LoggedHeads() const { return SplitLog(ReadFile(LogPath())); }

    // The logged heads of the two update documents, in the order they came.
    std::vector<Head> UpdateRequests() const
    {
        std::vector<Head> heads = LoggedHeads();
        std::erase_if(heads, [](const Head& head) { return !head[0].starts_with("GET /kestu/"); });
        return heads;
    }

    size_t GamePageRequests() const
    {
        const std::vector<Head> heads = LoggedHeads();
        return std::count_if(heads.begin(), heads.end(),
                             [](const Head& head) { return head[0] == "GET /flash/130342.htm HTTP/1.1"; });
    }

    void ExpectBothDocumentsRequestedInOrder() const
    {
        const std::vector<Head> heads = UpdateRequests();
        ASSERT_EQ(heads.size(), 2u);
        const char* paths[] = {"/kestu/713.txt", "/kestu/dizhi.txt"};
        for (size_t i = 0; i < 2; ++i) {
            SCOPED_TRACE(paths[i]);
            const Head& head = heads[i];
            EXPECT_EQ(head[0], std::string("GET ") + paths[i] + " HTTP/1.1");
            EXPECT_NE(std::find(head.begin(), head.end(), kAgentLine), head.end());
            const Head block = {kDefaultAcceptLine, "Referer: " + kServer + paths[i], "Accept-Language: zh-cn"};
            EXPECT_NE(std::search(head.begin(), head.end(), block.begin(), block.end()), head.end());
        }
    }

    std::optional<ChildProcess> program_;
};

TEST_F(UpdateCheckRun, FlagOneShowsTheWindowAfterBothRequests)
{
    ASSERT_NO_FATAL_FAILURE(StartServer({}));
    ChildProcess& program = StartProgram();

    ASSERT_TRUE(WaitForWindow(kWindowTitle, program.Pid(), 90s)) << "the main window never appeared";

    EXPECT_TRUE(FindWindows(kUpdateBoxTitle, program.Pid()).empty());
    ExpectBothDocumentsRequestedInOrder();
    EXPECT_FALSE(program.WaitForExit(0ms));
    EXPECT_TRUE(opener_.Calls().empty());
    // The game page is asked for once the window is on screen.
    for (int i = 0; i < 600 && GamePageRequests() == 0; ++i)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(GamePageRequests(), 1u);
}

// The created event runs to its end before the window shows; closing it ends the program with 0.
TEST_F(UpdateCheckRun, WindowShowsOnlyAfterTheCreatedEventAndClosingEndsWithZero)
{
    ASSERT_NO_FATAL_FAILURE(StartServer({"--delay-ms", "1500"}));
    ChildProcess& program = StartProgram();

    // The second document is asked for and held back by the server: the handler is still running.
    for (int i = 0; i < 600 && UpdateRequests().size() < 2; ++i)
        std::this_thread::sleep_for(50ms);
    ASSERT_EQ(UpdateRequests().size(), 2u);
    EXPECT_TRUE(FindWindows(kWindowTitle, program.Pid()).empty()) << "shown before the update check finished";

    std::optional<std::string> window = WaitForWindow(kWindowTitle, program.Pid(), 90s);
    ASSERT_TRUE(window) << "the main window never appeared";
    RequestClose(*window);
    std::optional<ExitStatus> status = program.WaitForExit(30s);
    ASSERT_TRUE(status) << "still running after the close request";
    EXPECT_TRUE(status->exited && status->code == 0) << Describe(*status);
}

// A window that is never shown needs no page: none is loaded while the box says to update.
TEST_F(UpdateCheckRun, NoGamePageBehindTheUpdateBox)
{
    ASSERT_NO_FATAL_FAILURE(StartServer({"--flag", "0"}));
    ChildProcess& program = StartProgram();
    const auto box = WaitForWindow(kUpdateBoxTitle, program.Pid(), 90s);
    ASSERT_TRUE(box) << "no message box";
    // Long enough for a page load to reach the server, had one started.
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(GamePageRequests(), 0u);
    PressReturnIn(*box);
    EXPECT_TRUE(program.WaitForExit(30s)) << "the program did not end after the box";
}

struct BoxRow {
    const char* name;
    std::optional<std::vector<std::string>> serverArguments;  // nullopt: no server at all
    std::optional<std::string> opened;                        // nullopt: nothing may be opened
};

void PrintTo(const BoxRow& row, std::ostream* out)
{
    *out << row.name;
}

class UpdateCheckBox : public UpdateCheckRun, public ::testing::WithParamInterface<BoxRow> {};

TEST_P(UpdateCheckBox, TellsOpensTheAddressAndEnds)
{
    const BoxRow& row = GetParam();
    if (row.serverArguments)
        ASSERT_NO_FATAL_FAILURE(StartServer(*row.serverArguments));
    else
        ASSERT_FALSE(WaitForPort(8713, 0ms)) << "something else listens on port 8713";
    ChildProcess& program = StartProgram();

    const auto box = WaitForWindow(kUpdateBoxTitle, program.Pid(), 90s);
    ASSERT_TRUE(box) << "no message box";
    EXPECT_TRUE(FindWindows(kWindowTitle, program.Pid()).empty()) << "the main window was shown";
    PressReturnIn(*box);

    const auto status = program.WaitForExit(30s);
    ASSERT_TRUE(status) << "the program did not end after the box";
    EXPECT_TRUE(status->exited && status->code == 0) << Describe(*status);
    if (row.opened) {
        ASSERT_TRUE(opener_.WaitForCalls(1, 20s)) << "nothing was opened";
        EXPECT_EQ(opener_.Calls(), (std::vector<std::vector<std::string>>{{*row.opened}}));
    } else {
        EXPECT_FALSE(opener_.WaitForCalls(1, 1s)) << "opened \"" << opener_.Calls()[0][0] << "\"";
    }
    EXPECT_FALSE(fs::exists(runDirectory_ + "/" + kEngineName));
    if (row.serverArguments)
        ExpectBothDocumentsRequestedInOrder();
}

const std::vector<std::string> kFlagZero = {"--flag", "0"};

std::vector<std::string> FlagZeroWithAddress(const std::string& address)
{
    return {"--flag", "0", "--address", address};
}

INSTANTIATE_TEST_SUITE_P(
    AnythingButOne, UpdateCheckBox,
    ::testing::Values(
        // flags that are not exactly "1"
        BoxRow{"FlagWithLineEnd", std::vector<std::string>{"--flag", "1\\r\\n"}, kDefaultDownload},
        BoxRow{"FlagWithLeadingBlank", std::vector<std::string>{"--flag", " 1"}, kDefaultDownload},
        BoxRow{"FlagZero", kFlagZero, kDefaultDownload},
        BoxRow{"FlagMissing", std::vector<std::string>{"--missing", "/kestu/713.txt"}, kDefaultDownload},
        // nothing answers: the address is empty, and an empty address is not opened
        BoxRow{"ServerDown", std::nullopt, std::nullopt},
        // the address: trailing line end dropped; no files, no programs
        BoxRow{"AddressWithLineEnd", FlagZeroWithAddress(kDefaultDownload + "\\r\\n"), kDefaultDownload},
        BoxRow{"FileAddress", FlagZeroWithAddress("file:///etc/passwd"), std::nullopt},
        BoxRow{"ProgramAddress", FlagZeroWithAddress("/usr/bin/xterm"), std::nullopt}),
    [](const ::testing::TestParamInfo<BoxRow>& info) { return std::string(info.param.name); });

}  // namespace
