// Running a program, or any helper such as a local server, as a child of a test: in a run
// directory of its own, with its own environment, under the current DISPLAY; finding its
// windows with xdotool; always stopped on teardown.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
// Durations without <chrono>, whose C++20 "\u00b5s" suffix cannot be encoded in GBK.
#include <thread>
#include <utility>
#include <vector>

struct ExitStatus {
    bool exited = false;  // false: ended by a signal
    int code = 0;         // the exit code, or the signal's number
};

class ChildProcess {
public:
    struct Options {
        std::vector<std::string> argv;  // argv[0] without "/" is searched on the child's PATH
        std::string workingDirectory;   // empty: the test's own
        std::vector<std::pair<std::string, std::string>> environment;  // set on top of the test's
        std::string outputFile;         // standard output and error go there; empty: the test's
    };

    // Throws std::runtime_error when the child cannot be started.
    explicit ChildProcess(const Options& options);
    // Kills the child and everything it started in its process group.
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // nullopt while it still runs after the limit.
    std::optional<ExitStatus> WaitForExit(std::chrono::milliseconds limit);
    void Kill();

private:
    pid_t pid_ = -1;
    std::optional<ExitStatus> status_;
};

// Runs a command to its end and gives its standard output (empty when it fails).
std::string CommandOutput(const std::vector<std::string>& argv);

// A fresh folder under the system's temporary folder, removed with everything in it.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Copies the executable into `folder`, so that the program's run directory is a scratch one.
std::string CopyIntoRunDirectory(const std::string& executable, const std::string& folder);
// The names of what a folder holds, sorted.
std::vector<std::string> FolderEntries(const std::string& folder);
// The DOS attributes of an entry as stored: the text of user.DOSATTRIB, empty when it has none.
std::string StoredDosAttributes(const std::string& path);

// A stand-in "xdg-open" that records the arguments of every call instead of opening anything.
class RecordingOpener {
public:
    RecordingOpener();
    // The child's PATH: the stand-in's folder first, then the test's PATH.
    std::string SearchPath() const;
    // The arguments of each call so far, in the order of the calls.
    std::vector<std::vector<std::string>> Calls() const;
    // Waits until at least `count` calls have been recorded.
    bool WaitForCalls(size_t count, std::chrono::milliseconds limit) const;

private:
    TemporaryDirectory folder_;
};

// Waits until something accepts connections on 127.0.0.1 at the port.
bool WaitForPort(int port, std::chrono::milliseconds limit);
// Waits until the file exists and is not empty.
bool WaitForFile(const std::string& path, std::chrono::milliseconds limit);

// X windows of the current DISPLAY whose title is exactly `utf8Title`; with `pid`, only the
// windows of that process. Only mapped (shown) windows unless `visibleOnly` is false.
std::vector<std::string> FindWindows(const std::string& utf8Title, std::optional<pid_t> pid = std::nullopt,
                                     bool visibleOnly = true);
// The first such window, waiting for it up to the limit.
std::optional<std::string> WaitForWindow(const std::string& utf8Title, std::optional<pid_t> pid,
                                         std::chrono::milliseconds limit);
// Gives the window the keyboard focus and presses Return, which answers a box's default button.
void PressReturnIn(const std::string& window);
// Asks the window to close, as a window manager does for its close button or Alt+F4.
void RequestClose(const std::string& window);
