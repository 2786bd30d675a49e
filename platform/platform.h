// What the program asks of the operating system, apart from its window (see ui.h).
// Paths are the file system's own bytes; texts shown to the user or handed to another
// process are UTF-8 here, converted by the caller.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace platform {

// Why a call failed: the call's name and the system's error number, for tests and diagnostics.
struct Failure {
    const char* call = "";
    int error = 0;
};

template <typename T>
class Result {
public:
    Result(T value) : value_(std::move(value)) {}
    Result(Failure failure) : failure_(failure) {}
    explicit operator bool() const { return value_.has_value(); }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const Failure& Why() const { return failure_; }

private:
    std::optional<T> value_;
    Failure failure_;
};

struct Done {};

// ---- Process ----------------------------------------------------------------------------

// Full path of the running program file, of any length.
Result<std::string> ProgramPath();
Result<Done> SetCurrentDirectory(const std::string& path);
// Ends the process at once; helper processes of the toolkit go with it.
[[noreturn]] void ExitProcess(int exitCode);
// realloc for a block that may grow large, such as a download: one of 32 MiB or more is backed
// by the system's large pages where it has them, so that filling it does not fault in each 4 KiB.
void* ResizeLargeBlock(void* block, size_t size);

// ---- Files ------------------------------------------------------------------------------

// DOS attribute bits that the program uses.
inline constexpr uint32_t kAttributeReadOnly = 0x01;
inline constexpr uint32_t kAttributeHidden = 0x02;
inline constexpr uint32_t kAttributeSystem = 0x04;
inline constexpr uint32_t kAttributeArchive = 0x20;

// True when an entry matches the path; "*" and "?" in its last component match any entry.
bool EntryExists(const std::string& path);

// An open file, closed by its destructor.
class File {
public:
    File() = default;
    explicit File(int descriptor) : descriptor_(descriptor) {}
    File(File&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    Result<Done> Write(std::span<const uint8_t> bytes);
    // Waits until what was written is on the disk.
    Result<Done> Sync();
    // Closes now, reporting a failure of the close itself.
    Result<Done> Close();
    int Descriptor() const { return descriptor_; }

private:
    int descriptor_ = -1;
};

// Creates the file or empties an existing one. An existing file whose attributes hold
// read-only, hidden or system is refused and left as it is.
Result<File> CreateFileAlways(const std::string& path);
// Creates a new file with a unique name in the folder; the name begins with the prefix.
Result<std::pair<File, std::string>> CreateUniqueFile(const std::string& folder, std::string_view prefix);
// Moves a file to a name where no entry may exist yet; fails rather than replace one.
Result<Done> MoveFileNoReplace(const std::string& from, const std::string& to);
// A new file holding `bytes` with `attributes`, whole or not at all: it is on the disk before it
// gets its name, and an entry that appears meanwhile is never replaced. A process that dies
// midway leaves nothing behind where the file system has files without a name; elsewhere it may
// leave a temporary file beginning with "." and the file's name.
Result<Done> CreateFileWhole(const std::string& path, std::span<const uint8_t> bytes, uint32_t attributes);
Result<Done> RemoveFile(const std::string& path);

// Attributes are 0 where none were ever set or the file system keeps none.
Result<uint32_t> GetFileAttributes(const std::string& path);
// Replaces the file's attributes; read-only also takes away the write permission.
Result<Done> SetFileAttributes(const std::string& path, uint32_t attributes);

// ---- Libraries bound by name ------------------------------------------------------------

// A loaded library, unloaded by its destructor.
class Library {
public:
    Library() = default;
    explicit Library(void* handle) : handle_(handle) {}
    Library(Library&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Library& operator=(Library&& other) noexcept;
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    ~Library();

    explicit operator bool() const { return handle_ != nullptr; }
    // The export's address, or nullptr.
    void* Symbol(const char* exportName) const;

private:
    void* handle_ = nullptr;
};

// A name holding "/" is loaded from there; a bare name goes through the system's search.
Result<Library> LoadLibrary(const std::string& fileName);

// ---- Shell ------------------------------------------------------------------------------

// Hands the address to the desktop's default handler and returns at once.
void OpenWithDefaultHandler(const std::string& utf8Address);

// ---- Code page 936 ----------------------------------------------------------------------

std::string AnsiToUtf8(std::string_view ansi);
// Characters outside the code page become "?".
std::string Utf8ToAnsi(std::string_view utf8);

// ---- Toolkit and event loop -------------------------------------------------------------

// Connects to the display once; false when there is none.
bool InitToolkit();
// Runs until QuitMessageLoop; returns at once when the quit is already pending.
void RunMessageLoop();
void QuitMessageLoop();
bool QuitPending();
// Dispatches what is waiting, never waits, and leaves a pending quit for the message loop.
// Calls that follow one another within microseconds may look for events only every so often
// (well under a millisecond apart), since each look can cost more than the work between them.
void DispatchPendingEvents();

enum class MessageButtons { Ok, OkCancel, AbortRetryIgnore, YesNoCancel, YesNo, RetryCancel };
enum class MessageIcon { None, Error, Question, Warning, Information };
enum class MessageAnswer { None, Ok, Cancel, Abort, Retry, Ignore, Yes, No };

// A modal box with no parent; the program's other windows take no input while it is open.
// Works before any window exists; without a display it writes to standard error.
MessageAnswer ShowMessageBox(const std::string& utf8Text, const std::string& utf8Caption,
                             MessageButtons buttons, MessageIcon icon);

}  // namespace platform
