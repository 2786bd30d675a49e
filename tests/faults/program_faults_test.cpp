// The real program under faults and load, run under the current DISPLAY against the bundled
// local server on port 8713: every way of ending leaves no process behind, missing or partial
// libraries and a full disk end in the fatal box, a kill in the middle of the engine's write
// leaves nothing a later start trips over, a slow or stalled server does not hang the start,
// and several copies at once or many starts in a row leave the run directory and the host sound.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/program_fixture.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// `entries` with one more name, sorted as FolderEntries gives them.
std::vector<std::string> WithEntry(std::vector<std::string> entries, const std::string& name)
{
    entries.insert(std::upper_bound(entries.begin(), entries.end(), name), name);
    return entries;
}

// The fields of /proc/<pid>/stat after the command's closing parenthesis, the one-letter state
// first; none once the process is gone.
std::vector<std::string> StatFields(const std::string& pid)
{
    const std::string stat = ReadFile("/proc/" + pid + "/stat");
    const size_t close = stat.rfind(')');
    std::vector<std::string> fields;
    if (close == std::string::npos)
        return fields;
    std::istringstream rest(stat.substr(close + 1));
    for (std::string field; rest >> field;)
        fields.push_back(field);
    return fields;
}

// Process ids whose stat field (counted as StatFields counts) equals `value`.
std::vector<pid_t> ProcessesWithStatField(size_t field, pid_t value)
{
    std::vector<pid_t> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit))
            continue;
        const std::vector<std::string> fields = StatFields(name);
        // A zombie has ended; only its parent's wait is missing.
        if (fields.size() > field && fields[0] != "Z" && std::stoi(fields[field]) == value)
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

size_t OpenDescriptorCount()
{
    return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

// This process's resident memory, from /proc/self/status.
long ResidentKilobytes()
{
    const std::string status = ReadFile("/proc/self/status");
    const size_t at = status.find("VmRSS:");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
}

// Shared memory segments still there that one of `creators` made: they outlive their maker.
std::vector<std::string> SharedMemoryMadeBy(const std::set<pid_t>& creators)
{
    std::vector<std::string> segments;
    std::istringstream lines(ReadFile("/proc/sysvipc/shm"));
    std::string line;
    std::getline(lines, line);  // the column names
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string key, id, permissions, size;
        pid_t creator = 0;
        if (fields >> key >> id >> permissions >> size >> creator && creators.contains(creator))
            segments.push_back("id " + id + " of " + std::to_string(creator) + ", " + size + " bytes");
    }
    return segments;
}

// The one-letter state of the process: "T" while stopped, "" once it is gone.
std::string ProcessState(pid_t pid)
{
    const std::vector<std::string> fields = StatFields(std::to_string(pid));
    return fields.empty() ? std::string() : fields[0];
}

// What the process has open directly in `folder`; a file without a name yet shows as "#<inode> (deleted)".
std::vector<std::string> FilesOpenIn(pid_t pid, const fs::path& folder)
{
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const fs::path target = fs::read_symlink(entry.path(), error);
        if (!error && target.parent_path() == folder)
            files.push_back(target.filename().string());
    }
    return files;
}

class ProgramFaults : public ProgramRun {
protected:
    ProgramFaults() : ProgramRun({QY_PROGRAM, QY_LIBRARY_DIR, QY_LOCAL_SERVER}) {}

    static void SetUpTestSuite()
    {
        // Descendants orphaned by the program's end come to this process, so none can slip away unseen.
        prctl(PR_SET_CHILD_SUBREAPER, 1);
    }

    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ProgramRun::SetUp());
        emptyLibraries_ = scratch_.Path() + "/no-libraries";
        fs::create_directories(emptyLibraries_);
    }

    void TearDown() override
    {
        ProgramRun::TearDown();
        programs_.clear();
        ReapOrphans();
        // Lazily: a helper of the program may still hold the mount for a moment.
        for (const std::string& mount : mounts_)
            umount2(mount.c_str(), MNT_DETACH);
    }

    std::string CopyProgram() { return CopyIntoRunDirectory(files_.program, runDirectory_); }

    // Starts the copy in the run directory; `libraryPath` is where libraries not beside it are found.
    ChildProcess& StartProgram(const std::string& libraryPath = QY_LIBRARY_DIR,
                               const std::vector<std::pair<std::string, std::string>>& extraEnvironment = {})
    {
        const std::string program = ProgramInRunDirectory();
        if (!fs::exists(program))
            CopyProgram();
        auto environment = ProgramEnvironment(libraryPath);
        environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
        programs_.emplace_back(ChildProcess::Options{{program}, runDirectory_, environment, OutputPath()});
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

    // The engine in the run directory is the built one, byte for byte, and hidden is its only attribute.
    void ExpectWholeHiddenEngine() const
    {
        const std::string engine = runDirectory_ + "/" + kEngineName;
        EXPECT_TRUE(ReadFile(engine) == ReadFile(files_.libraryDir + "/" + kEngineName))
            << "the engine file differs from the built one";
        EXPECT_EQ(StoredDosAttributes(engine), "0x2");
    }

    bool IsOwnChild(pid_t pid) const
    {
        if (server_ && server_->Pid() == pid)
            return true;
        return std::any_of(programs_.begin(), programs_.end(), [pid](const ChildProcess& p) { return p.Pid() == pid; });
    }

    std::string emptyLibraries_;
    std::deque<ChildProcess> programs_;  // a deque: references stay valid as copies are added
    std::vector<std::string> mounts_;    // unmounted on teardown
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

// Five copies at once on a fresh run directory: all run, and one whole, hidden engine results.
TEST_F(ProgramFaults, FiveCopiesAtOnceWriteOneWholeEngine)
{
    ASSERT_NO_FATAL_FAILURE(StartServer({}));
    CopyProgram();
    const std::vector<std::string> before = FolderEntries(runDirectory_);
    std::vector<ChildProcess*> copies;
    for (int i = 0; i < 5; ++i)
        copies.push_back(&StartProgram());
    std::vector<std::string> windows;
    for (ChildProcess* copy : copies) {
        const auto window = WaitForWindow(kWindowTitle, copy->Pid(), 120s);
        ASSERT_TRUE(window) << "copy " << copy->Pid() << " never showed its window";
        windows.push_back(*window);
    }
    for (size_t i = 0; i < copies.size(); ++i) {
        RequestClose(windows[i]);
        ExpectExit(*copies[i], 0);
        ExpectNothingLeftOf(copies[i]->Pid());
    }

    EXPECT_EQ(FolderEntries(runDirectory_), WithEntry(before, kEngineName)) << "a temporary file or another entry was left";
    ExpectWholeHiddenEngine();
}

// Many starts in a row on the update path: each ends with 0, nothing is written, and the host
// gets back its descriptors, its memory and every shared memory segment the starts made.
TEST_F(ProgramFaults, ManyStartsOnTheUpdatePathLeaveNothingBehind)
{
    constexpr int kStarts = 50;
    // Room for the allocator's own growth; a leak of a page per start or more goes over.
    constexpr long kResidentSlackKilobytes = 2048;
    ASSERT_NO_FATAL_FAILURE(StartServer({"--flag", "0"}));
    CopyProgram();
    const std::vector<std::string> before = FolderEntries(runDirectory_);
    size_t descriptors = 0;
    long resident = 0;
    std::set<pid_t> started;
    for (int start = 0; start < kStarts; ++start) {
        SCOPED_TRACE("start " + std::to_string(start + 1));
        ChildProcess& program = StartProgram();
        started.insert(program.Pid());
        ASSERT_NO_FATAL_FAILURE(ExpectBoxThenExit(program, kUpdateBoxTitle, 0));
        ASSERT_NO_FATAL_FAILURE(ExpectNothingLeftOf(program.Pid()));
        ASSERT_EQ(FolderEntries(runDirectory_), before);
        programs_.clear();
        // Measured after the first start, once this process has loaded and allocated what any start needs.
        if (start == 0) {
            descriptors = OpenDescriptorCount();
            resident = ResidentKilobytes();
        }
    }
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_LE(ResidentKilobytes(), resident + kResidentSlackKilobytes) << "from " << resident << " kB";
    EXPECT_EQ(SharedMemoryMadeBy(started), std::vector<std::string>{});
}

// Killed in the middle of writing the engine on the first start: neither the engine nor a
// temporary file is left, and the next start writes the engine and runs as ever.
TEST_F(ProgramFaults, KillDuringTheEngineWriteLeavesNothingAndTheNextStartWorks)
{
    ASSERT_NO_FATAL_FAILURE(StartServer({}));
    CopyProgram();
    const std::vector<std::string> before = FolderEntries(runDirectory_);
    ChildProcess& first = StartProgram(QY_LIBRARY_DIR, {{"LD_PRELOAD", QY_STOP_IN_WRITE},
                                                        {"QY_STOP_WRITES_IN", fs::canonical(runDirectory_).string()}});
    const pid_t pid = first.Pid();
    for (int i = 0; i < 1800 && ProcessState(pid) != "T"; ++i)
        std::this_thread::sleep_for(50ms);
    ASSERT_EQ(ProcessState(pid), "T") << "the program never stopped in a write into its run directory";
    EXPECT_FALSE(FilesOpenIn(pid, fs::canonical(runDirectory_)).empty()) << "stopped, but not in a write there";
    kill(pid, SIGKILL);
    const auto status = first.WaitForExit(30s);
    ASSERT_TRUE(status) << "still there after SIGKILL";
    EXPECT_FALSE(status->exited) << Describe(*status);
    ExpectNothingLeftOf(pid);
    EXPECT_EQ(FolderEntries(runDirectory_), before) << "the cut write left something behind";

    ChildProcess& next = StartProgram();
    const auto window = WaitForWindow(kWindowTitle, next.Pid(), 90s);
    ASSERT_TRUE(window) << "the next start never showed its window";
    RequestClose(*window);
    ExpectExit(next, 0);
    EXPECT_EQ(FolderEntries(runDirectory_), WithEntry(before, kEngineName));
    ExpectWholeHiddenEngine();
}

// No room for the engine in the run directory and none elsewhere to bind: the fatal box, 255,
// and not a byte of the engine left behind.
TEST_F(ProgramFaults, NoRoomForTheEngineEndsInTheFatalBox)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    const uintmax_t programSize = fs::file_size(files_.program);
    const uintmax_t engineSize = fs::file_size(files_.libraryDir + "/" + kEngineName);
    // Room for the program and a little more, not for the engine.
    const uintmax_t pages = (programSize + 4095) / 4096 + (engineSize / 2) / 4096;
    const std::string options = "size=" + std::to_string(pages * 4096) + ",mode=0755";
    if (mount("tmpfs", runDirectory_.c_str(), "tmpfs", 0, options.c_str()) != 0)
        GTEST_SKIP() << "cannot mount a small file system: " << std::strerror(errno);
    mounts_.push_back(runDirectory_);
    CopyProgram();
    struct statvfs space {};
    ASSERT_EQ(statvfs(runDirectory_.c_str(), &space), 0);
    ASSERT_LT(space.f_bavail * space.f_frsize, engineSize) << "the engine would fit";
    const std::vector<std::string> before = FolderEntries(runDirectory_);

    // Only the internet library is found by name: not the built engine beside it.
    const std::string internetOnly = scratch_.Path() + "/internet-only";
    fs::create_directories(internetOnly);
    fs::copy_file(files_.libraryDir + "/wininet.dll", internetOnly + "/wininet.dll");
    ASSERT_FALSE(fs::exists(scratch_.Path() + "/lib")) << "the program's own library folder would be searched";

    ASSERT_NO_FATAL_FAILURE(StartServer({}));
    ChildProcess& program = StartProgram(internetOnly);
    ExpectBoxThenExit(program, kFatalBoxTitle, kFatalExitCode);
    ExpectNothingLeftOf(program.Pid());
    EXPECT_EQ(FolderEntries(runDirectory_), before) << "a part of the engine was left";
}

}  // namespace
