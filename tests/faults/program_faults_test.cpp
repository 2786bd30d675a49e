// The real program under faults, run under the current DISPLAY against the bundled local server
// on port 8713: every way of ending leaves no process behind, a missing or partial internet
// library ends in the fatal box, and a slow or stalled server does not hang the start.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/program_runner.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string Utf8(const char8_t* text)
{
    return reinterpret_cast<const char*>(text);
}

const std::string kWindowTitle = Utf8(u8"霜岭群英录青柚修改器v3.6最新版");
const std::string kUpdateBoxTitle = Utf8(u8"信息：");
const std::string kFatalBoxTitle = Utf8(u8"错误");
const std::string kEngineName = "SkinH_EL.dll";
constexpr int kFatalExitCode = 255;

std::string ReadFile(const std::string& path)
{
    std::ifstream input(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>()};
}

std::string Describe(const ExitStatus& status)
{
    return (status.exited ? "exit code " : "signal ") + std::to_string(status.code);
}

// Process ids whose /proc/<pid>/stat field (counted after the command's closing parenthesis) equals `value`.
std::vector<pid_t> ProcessesWithStatField(int field, pid_t value)
{
    std::vector<pid_t> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit))
            continue;
        const std::string stat = ReadFile(entry.path().string() + "/stat");
        const size_t close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        std::vector<std::string> fields;
        std::string rest = stat.substr(close + 2);
        for (size_t start = 0, end; start < rest.size(); start = end + 1) {
            end = rest.find(' ', start);
            if (end == std::string::npos)
                end = rest.size();
            fields.push_back(rest.substr(start, end - start));
        }
        // A zombie has ended; only its parent's wait is missing.
        if (fields.size() > static_cast<size_t>(field) && fields[0] != "Z" && std::stoi(fields[field]) == value)
            found.push_back(std::stoi(name));
    }
    return found;
}

std::string CommandName(pid_t pid)
{
    std::string name = ReadFile("/proc/" + std::to_string(pid) + "/comm");
    if (!name.empty() && name.back() == '\n')
        name.pop_back();
    return name;
}

class ProgramFaults : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // Descendants orphaned by the program's end come to this process, so none can slip away unseen.
        prctl(PR_SET_CHILD_SUBREAPER, 1);
    }

    void SetUp() override
    {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X display: run under xvfb-run";
        runDirectory_ = scratch_.Path() + "/run";
        emptyLibraries_ = scratch_.Path() + "/no-libraries";
        for (const std::string& folder : {runDirectory_, emptyLibraries_, scratch_.Path() + "/cache",
                                          scratch_.Path() + "/data", scratch_.Path() + "/config"})
            fs::create_directories(folder);
    }

    void TearDown() override
    {
        if (HasFailure()) {
            std::cout << "--- program output\n" << ReadFile(OutputPath());
            std::cout << "--- server output\n" << ReadFile(scratch_.Path() + "/server.out");
        }
        programs_.clear();
        ReapOrphans();
    }

    void StartServer(const std::vector<std::string>& arguments)
    {
        const std::string ready = scratch_.Path() + "/server.ready";
        std::vector<std::string> argv = {"python3", QY_LOCAL_SERVER, "--port", "8713", "--ready-file", ready};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        // Another run on this machine may hold the port for a while: try again until it is free.
        for (int attempt = 0; attempt < 12; ++attempt) {
            server_.emplace(ChildProcess::Options{argv, "", {}, scratch_.Path() + "/server.out"});
            if (WaitForFile(ready, 20s))
                return;
            if (server_->WaitForExit(0ms))
                std::this_thread::sleep_for(5s);
        }
        FAIL() << "the local server did not start (is port 8713 taken?)";
    }

    std::string OutputPath() const { return scratch_.Path() + "/program.out"; }

    std::string CopyProgram() { return CopyIntoRunDirectory(QY_PROGRAM, runDirectory_); }

    // Starts the copy in the run directory; `libraryPath` is where libraries not beside it are found.
    ChildProcess& StartProgram(const std::string& libraryPath = QY_LIBRARY_DIR)
    {
        const std::string program = runDirectory_ + "/" + fs::path(QY_PROGRAM).filename().string();
        if (!fs::exists(program))
            CopyProgram();
        programs_.emplace_back(ChildProcess::Options{
            {program},
            runDirectory_,
            {{"LD_LIBRARY_PATH", libraryPath},
             {"PATH", opener_.SearchPath()},
             {"XDG_CACHE_HOME", scratch_.Path() + "/cache"},
             {"XDG_DATA_HOME", scratch_.Path() + "/data"},
             {"XDG_CONFIG_HOME", scratch_.Path() + "/config"}},
            OutputPath()});
        return programs_.back();
    }

    // Waits for the box or window titled `title` of the program, answers it and expects the exit.
    void ExpectBoxThenExit(ChildProcess& program, const std::string& title, int expectedCode)
    {
        const auto box = WaitForWindow(title, program.Pid(), 90s);
        ASSERT_TRUE(box) << "no box titled " << title;
        EXPECT_TRUE(FindWindows(kWindowTitle, program.Pid()).empty()) << "the main window was shown";
        PressReturnIn(*box);
        ExpectExit(program, expectedCode);
    }

    void ExpectExit(ChildProcess& program, int expectedCode)
    {
        const auto status = program.WaitForExit(30s);
        ASSERT_TRUE(status) << "the program did not end";
        EXPECT_TRUE(status->exited && status->code == expectedCode) << Describe(*status);
    }

    // Nothing of the program may outlive it: not its process group, not anything it started.
    void ExpectNothingLeftOf(pid_t program)
    {
        std::vector<pid_t> left;
        for (int i = 0; i < 200; ++i) {
            ReapOrphans();
            left = ProcessesWithStatField(2, program);  // same process group
            for (pid_t orphan : ProcessesWithStatField(1, getpid()))  // orphans handed to this process
                if (!IsOwnChild(orphan))
                    left.push_back(orphan);
            if (left.empty())
                return;
            std::this_thread::sleep_for(50ms);
        }
        std::string names;
        for (pid_t pid : left)
            names += " " + std::to_string(pid) + ":" + CommandName(pid);
        ADD_FAILURE() << "still running 10 s after the program ended:" << names;
    }

    // Waits for ended orphans; a ChildProcess's own child is left to its own wait.
    void ReapOrphans()
    {
        for (const auto& entry : fs::directory_iterator("/proc")) {
            const std::string name = entry.path().filename().string();
            if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit))
                continue;
            const pid_t pid = std::stoi(name);
            const std::string stat = ReadFile(entry.path().string() + "/stat");
            const size_t close = stat.rfind(')');
            if (close == std::string::npos || stat.compare(close + 2, 2, "Z ") != 0 ||
                std::atoi(stat.c_str() + close + 4) != getpid() || IsOwnChild(pid))
                continue;
            waitpid(pid, nullptr, WNOHANG);
        }
    }

    bool IsOwnChild(pid_t pid) const
    {
        if (server_ && server_->Pid() == pid)
            return true;
        return std::any_of(programs_.begin(), programs_.end(), [pid](const ChildProcess& p) { return p.Pid() == pid; });
    }

    TemporaryDirectory scratch_;
    RecordingOpener opener_;
    std::string runDirectory_;
    std::string emptyLibraries_;
    std::optional<ChildProcess> server_;
    std::deque<ChildProcess> programs_;  // a deque: references stay valid as copies are added
};

enum class Ending { Close, UpdatePath, FatalError, Terminate };

struct EndingRow {
    const char* name;
    Ending ending;
};

void PrintTo(const EndingRow& row, std::ostream* out)
{
    *out << row.name;
}

// The web view's helpers run as children of the program, so the later check has something to miss.
void ExpectWebHelpersOf(pid_t program)
{
    const std::vector<pid_t> children = ProcessesWithStatField(1, program);
    EXPECT_TRUE(std::any_of(children.begin(), children.end(),
                            [](pid_t child) { return CommandName(child).starts_with("WebKit"); }))
        << "no web view helper process found";
}

class EveryEnding : public ProgramFaults, public ::testing::WithParamInterface<EndingRow> {};

// The web view's helper processes included: nothing of the program outlives it.
TEST_P(EveryEnding, LeavesNoProcessBehind)
{
    const Ending ending = GetParam().ending;
    ASSERT_NO_FATAL_FAILURE(StartServer(ending == Ending::UpdatePath ? std::vector<std::string>{"--flag", "0"}
                                                                     : std::vector<std::string>{}));
    if (ending == Ending::FatalError)
        fs::copy_file(std::string(QY_PARTIAL_WININET_DIR) + "/without_InternetOpenA/wininet.dll",
                      runDirectory_ + "/wininet.dll");
    ChildProcess& program = StartProgram();
    const pid_t pid = program.Pid();

    switch (ending) {
    case Ending::Close: {
        const auto window = WaitForWindow(kWindowTitle, pid, 90s);
        ASSERT_TRUE(window) << "the main window never appeared";
        ExpectWebHelpersOf(pid);
        RequestClose(*window);
        ExpectExit(program, 0);
        break;
    }
    case Ending::UpdatePath:
        ExpectBoxThenExit(program, kUpdateBoxTitle, 0);
        break;
    case Ending::FatalError:
        ExpectBoxThenExit(program, kFatalBoxTitle, kFatalExitCode);
        break;
    case Ending::Terminate: {
        ASSERT_TRUE(WaitForWindow(kWindowTitle, pid, 90s)) << "the main window never appeared";
        ExpectWebHelpersOf(pid);
        kill(pid, SIGTERM);
        const auto status = program.WaitForExit(30s);
        ASSERT_TRUE(status) << "still running after SIGTERM";
        break;
    }
    }
    ExpectNothingLeftOf(pid);
}

INSTANTIATE_TEST_SUITE_P(Endings, EveryEnding,
                         ::testing::Values(EndingRow{"Close", Ending::Close},
                                           EndingRow{"UpdatePath", Ending::UpdatePath},
                                           EndingRow{"FatalError", Ending::FatalError},
                                           EndingRow{"Terminate", Ending::Terminate}),
                         [](const ::testing::TestParamInfo<EndingRow>& info) { return std::string(info.param.name); });

// The internet library missing, or lacking an export the update check calls: the fatal box, then 255.
TEST_F(ProgramFaults, MissingOrPartialInternetLibraryEndsInTheFatalBox)
{
    ASSERT_NO_FATAL_FAILURE(StartServer({}));
    const char* variants[] = {"", "without_InternetOpenA", "without_InternetReadFile"};
    for (const std::string variant : variants) {
        SCOPED_TRACE(variant.empty() ? "no wininet.dll anywhere" : variant);
        fs::remove(runDirectory_ + "/wininet.dll");
        if (!variant.empty())
            fs::copy_file(std::string(QY_PARTIAL_WININET_DIR) + "/" + variant + "/wininet.dll",
                          runDirectory_ + "/wininet.dll");
        ChildProcess& program = StartProgram(emptyLibraries_);
        ExpectBoxThenExit(program, kFatalBoxTitle, kFatalExitCode);
        EXPECT_FALSE(fs::exists(runDirectory_ + "/" + kEngineName)) << "the skin was reached";
    }
}

// A slow server inside the time-outs still lets the start succeed.
TEST_F(ProgramFaults, SlowServerInsideTheTimeOutsStillStarts)
{
    ASSERT_NO_FATAL_FAILURE(StartServer({"--delay-ms", "2000"}));
    ChildProcess& program = StartProgram();
    const auto window = WaitForWindow(kWindowTitle, program.Pid(), 90s);
    ASSERT_TRUE(window) << "the main window never appeared";
    RequestClose(*window);
    ExpectExit(program, 0);
}

// A flag document that stops mid-body: the receive time-out ends the wait, and the update path follows.
TEST_F(ProgramFaults, StalledFlagDocumentEndsInTheUpdatePath)
{
    ASSERT_NO_FATAL_FAILURE(StartServer({"--flag", "1", "--stall-path", "/kestu/713.txt", "--stall-after", "0"}));
    ChildProcess& program = StartProgram();
    ExpectBoxThenExit(program, kUpdateBoxTitle, 0);
    ExpectNothingLeftOf(program.Pid());
}

}  // namespace
