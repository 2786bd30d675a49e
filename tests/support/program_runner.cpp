#include "tests/support/program_runner.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// Polls `ready` until it holds or the limit has passed.
template <typename Ready>
bool PollUntil(std::chrono::milliseconds limit, Ready ready)
{
    const auto deadline = Clock::now() + limit;
    for (;;) {
        if (ready())
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

std::map<std::string, std::string> EnvironmentWith(const std::vector<std::pair<std::string, std::string>>& changes)
{
    std::map<std::string, std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        std::string_view text(*entry);
        const size_t equals = text.find('=');
        if (equals != std::string_view::npos)
            environment[std::string(text.substr(0, equals))] = std::string(text.substr(equals + 1));
    }
    for (const auto& [name, value] : changes)
        environment[name] = value;
    return environment;
}

// The file that execvp would run, found on the given PATH; resolved before fork, since the
// child of a threaded test may only make async-signal-safe calls.
std::string ResolveProgram(const std::string& name, const std::string& searchPath)
{
    if (name.find('/') != std::string::npos)
        return name;
    std::stringstream folders(searchPath);
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return name;
}

std::vector<char*> NullTerminated(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (std::string& text : strings)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

std::string EscapeRegex(const std::string& text)
{
    std::string escaped;
    for (const char c : text) {
        if (std::string_view(".[]()*+?{}|^$\\").find(c) != std::string_view::npos)
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

}  // namespace

ChildProcess::ChildProcess(const Options& options)
{
    if (options.argv.empty())
        throw std::runtime_error("ChildProcess: no program given");
    const auto environment = EnvironmentWith(options.environment);
    const auto path = environment.find("PATH");
    std::string program = ResolveProgram(options.argv[0], path == environment.end() ? "" : path->second);
    std::vector<std::string> argv = options.argv;
    std::vector<std::string> envp;
    for (const auto& [name, value] : environment)
        envp.push_back(name + "=" + value);
    std::vector<char*> argvPointers = NullTerminated(argv);
    std::vector<char*> envpPointers = NullTerminated(envp);

    int output = -1;
    if (!options.outputFile.empty()) {
        output = open(options.outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (output < 0)
            throw std::runtime_error("ChildProcess: cannot open " + options.outputFile);
    }
    pid_ = fork();
    if (pid_ == 0) {
        // Its own process group, so that teardown reaches every process it starts.
        setpgid(0, 0);
        if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0)
            _exit(126);
        if (output >= 0) {
            dup2(output, STDOUT_FILENO);
            dup2(output, STDERR_FILENO);
        }
        execve(program.c_str(), argvPointers.data(), envpPointers.data());
        _exit(127);
    }
    if (output >= 0)
        close(output);
    if (pid_ < 0)
        throw std::runtime_error("ChildProcess: fork failed");
    setpgid(pid_, pid_);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), status_(other.status_)
{
}

ChildProcess::~ChildProcess()
{
    Kill();
}

std::optional<ExitStatus> ChildProcess::WaitForExit(std::chrono::milliseconds limit)
{
    if (pid_ < 0 || status_)
        return status_;
    PollUntil(limit, [&] {
        int raw = 0;
        if (waitpid(pid_, &raw, WNOHANG) != pid_)
            return false;
        status_ = WIFEXITED(raw) ? ExitStatus{true, WEXITSTATUS(raw)} : ExitStatus{false, WTERMSIG(raw)};
        return true;
    });
    return status_;
}

void ChildProcess::Kill()
{
    if (pid_ < 0)
        return;
    // Also after the leader has ended: helpers it started may still be running in its group.
    kill(-pid_, SIGKILL);
    if (!status_) {
        kill(pid_, SIGKILL);
        int raw = 0;
        while (waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
        }
        status_ = WIFEXITED(raw) ? ExitStatus{true, WEXITSTATUS(raw)} : ExitStatus{false, WTERMSIG(raw)};
    }
}

std::string CommandOutput(const std::vector<std::string>& command)
{
    int pipeEnds[2];
    if (command.empty() || pipe2(pipeEnds, O_CLOEXEC) != 0)
        return {};
    const char* path = std::getenv("PATH");
    const std::string program = ResolveProgram(command[0], path ? path : "");
    std::vector<std::string> argv = command;
    std::vector<char*> argvPointers = NullTerminated(argv);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        execv(program.c_str(), argvPointers.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    std::string output;
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeEnds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0)
            output.append(buffer, static_cast<size_t>(n));
    }
    close(pipeEnds[0]);
    int raw = 0;
    if (pid > 0) {
        while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
        }
    }
    return output;
}

TemporaryDirectory::TemporaryDirectory()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/qy-test.XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory()
{
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string CopyIntoRunDirectory(const std::string& executable, const std::string& folder)
{
    const fs::path target = fs::path(folder) / fs::path(executable).filename();
    fs::copy_file(executable, target, fs::copy_options::overwrite_existing);
    return target.string();
}

std::vector<std::string> FolderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string StoredDosAttributes(const std::string& path)
{
    char text[64];
    const ssize_t length = lgetxattr(path.c_str(), "user.DOSATTRIB", text, sizeof text);
    return length < 0 ? std::string() : std::string(text, static_cast<size_t>(length));
}

RecordingOpener::RecordingOpener()
{
    const std::string calls = folder_.Path() + "/calls";
    fs::create_directory(calls);
    const std::string script = folder_.Path() + "/xdg-open";
    std::ofstream(script) << "#!/bin/sh\n"
                             "# Records this call's arguments, each followed by a NUL, in a file of its own.\n"
                             "tmp=$(mktemp '" << calls << "/.call.XXXXXX') || exit 1\n"
                             "printf '%s\\0' \"$@\" > \"$tmp\"\n"
                             "mv \"$tmp\" '" << calls << "'/call.$(date +%s%N).$$\n";
    fs::permissions(script, fs::perms::owner_all, fs::perm_options::add);
}

std::string RecordingOpener::SearchPath() const
{
    const char* path = std::getenv("PATH");
    return folder_.Path() + ":" + (path ? path : "/usr/bin:/bin");
}

std::vector<std::vector<std::string>> RecordingOpener::Calls() const
{
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(folder_.Path() + "/calls")) {
        if (entry.path().filename().string().starts_with("call."))
            files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    std::vector<std::vector<std::string>> calls;
    for (const std::string& file : files) {
        std::ifstream input(file, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>()};
        std::vector<std::string> arguments;
        size_t start = 0;
        for (size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1)
            arguments.push_back(bytes.substr(start, end - start));
        calls.push_back(std::move(arguments));
    }
    return calls;
}

bool RecordingOpener::WaitForCalls(size_t count, std::chrono::milliseconds limit) const
{
    return PollUntil(limit, [&] { return Calls().size() >= count; });
}

bool WaitForPort(int port, std::chrono::milliseconds limit)
{
    return PollUntil(limit, [&] {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        return connected;
    });
}

bool WaitForFile(const std::string& path, std::chrono::milliseconds limit)
{
    return PollUntil(limit, [&] {
        std::error_code error;
        return fs::file_size(path, error) > 0 && !error;
    });
}

std::vector<std::string> FindWindows(const std::string& utf8Title, std::optional<pid_t> pid, bool visibleOnly)
{
    std::vector<std::string> command = {"xdotool", "search"};
    if (visibleOnly)
        command.push_back("--onlyvisible");
    if (pid) {
        command.insert(command.end(), {"--all", "--pid", std::to_string(*pid)});
    }
    command.insert(command.end(), {"--name", "^" + EscapeRegex(utf8Title) + "$"});
    std::vector<std::string> windows;
    std::stringstream lines(CommandOutput(command));
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty())
            windows.push_back(line);
    }
    return windows;
}

std::optional<std::string> WaitForWindow(const std::string& utf8Title, std::optional<pid_t> pid,
                                         std::chrono::milliseconds limit)
{
    std::optional<std::string> found;
    PollUntil(limit, [&] {
        auto windows = FindWindows(utf8Title, pid);
        if (!windows.empty())
            found = windows.front();
        return found.has_value();
    });
    return found;
}

void PressReturnIn(const std::string& window)
{
    // Real key events through XTEST: toolkits may ignore events sent to a window directly.
    CommandOutput({"timeout", "10", "xdotool", "windowfocus", "--sync", window, "key", "--clearmodifiers", "Return"});
}

void RequestClose(const std::string& window)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = std::stoul(window);
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, event.xclient.window, False, NoEventMask, &event);
    XCloseDisplay(display);
}
