#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/platform.h"

namespace platform {
namespace {

// DOS attributes live where Samba keeps them: hex text such as "0x2".
constexpr const char* kAttributeName = "user.DOSATTRIB";
constexpr uint32_t kRefusedOnCreate = kAttributeReadOnly | kAttributeHidden | kAttributeSystem;

// Bytes of the code page character that starts at the position: a lead byte takes its trail byte.
size_t CharacterLength(std::string_view text, size_t at)
{
    auto lead = static_cast<unsigned char>(text[at]);
    return lead >= 0x81 && lead <= 0xFE && at + 1 < text.size() ? 2 : 1;
}

// Only "*" and "?" are wildcards, "?" taking one whole character; brackets and backslashes,
// common in file names, stand for themselves (fnmatch would read them as pattern syntax).
bool MatchesPattern(std::string_view pattern, std::string_view name)
{
    size_t p = 0, n = 0;
    size_t starPattern = std::string_view::npos, starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starPattern = ++p;
            starName = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            n += CharacterLength(name, n);
        } else if (p < pattern.size() && pattern[p] == name[n]) {
            ++p;
            ++n;
        } else if (starPattern != std::string_view::npos) {
            p = starPattern;
            starName += CharacterLength(name, starName);
            n = starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

std::pair<std::string, std::string> SplitLastComponent(const std::string& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

}  // namespace

bool EntryExists(const std::string& path)
{
    if (path.empty())
        return false;
    auto [folder, pattern] = SplitLastComponent(path);
    if (pattern.find_first_of("*?") == std::string::npos) {
        struct stat status;
        return lstat(path.c_str(), &status) == 0;
    }
    DIR* directory = opendir(folder.c_str());
    if (!directory)
        return false;
    bool found = false;
    while (dirent* entry = readdir(directory)) {
        if (MatchesPattern(pattern, entry->d_name)) {
            found = true;
            break;
        }
    }
    closedir(directory);
    return found;
}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        if (descriptor_ >= 0)
            close(descriptor_);
        descriptor_ = std::exchange(other.descriptor_, -1);
    }
    return *this;
}

File::~File()
{
    if (descriptor_ >= 0)
        close(descriptor_);
}

Result<Done> File::Write(std::span<const uint8_t> bytes)
{
    while (!bytes.empty()) {
        ssize_t written = write(descriptor_, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return Failure{"write", errno};
        }
        bytes = bytes.subspan(static_cast<size_t>(written));
    }
    return Done{};
}

Result<Done> File::Sync()
{
    if (fsync(descriptor_) != 0)
        return Failure{"fsync", errno};
    return Done{};
}

Result<Done> File::Close()
{
    int descriptor = std::exchange(descriptor_, -1);
    if (close(descriptor) != 0)
        return Failure{"close", errno};
    return Done{};
}

Result<File> CreateFileAlways(const std::string& path)
{
    if (auto attributes = GetFileAttributes(path); attributes && (*attributes & kRefusedOnCreate))
        return Failure{"open", EACCES};
    int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0)
        return Failure{"open", errno};
    return File(descriptor);
}

Result<std::pair<File, std::string>> CreateUniqueFile(const std::string& folder, std::string_view prefix)
{
    std::string path = folder + "/" + std::string(prefix) + "XXXXXX";
    int descriptor = mkostemp(path.data(), O_CLOEXEC);
    if (descriptor < 0)
        return Failure{"mkostemp", errno};
    fchmod(descriptor, 0644);  // mkostemp makes it 0600; the file is meant to be shared like any other
    return std::pair{File(descriptor), std::move(path)};
}

Result<Done> MoveFileNoReplace(const std::string& from, const std::string& to)
{
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return Done{};
    if (errno != EINVAL && errno != ENOSYS)
        return Failure{"renameat2", errno};
    // A file system without RENAME_NOREPLACE: link() refuses an existing name just the same.
    if (link(from.c_str(), to.c_str()) != 0)
        return Failure{"link", errno};
    unlink(from.c_str());
    return Done{};
}

namespace {

// On a file that no other process can see yet, so no permission dance is needed.
Result<Done> SetAttributesOf(const File& file, uint32_t attributes)
{
    char text[16];
    int length = std::snprintf(text, sizeof text, "0x%x", attributes);
    if (fsetxattr(file.Descriptor(), kAttributeName, text, static_cast<size_t>(length), 0) != 0)
        return Failure{"fsetxattr", errno};
    if ((attributes & kAttributeReadOnly) && fchmod(file.Descriptor(), 0444) != 0)
        return Failure{"fchmod", errno};
    return Done{};
}

Result<Done> FillFile(File& file, std::span<const uint8_t> bytes, uint32_t attributes)
{
    if (auto written = file.Write(bytes); !written)
        return written;
    if (auto synced = file.Sync(); !synced)
        return synced;
    return SetAttributesOf(file, attributes);
}

}  // namespace

Result<Done> CreateFileWhole(const std::string& path, std::span<const uint8_t> bytes, uint32_t attributes)
{
    const auto [folder, name] = SplitLastComponent(path);
    int descriptor = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (descriptor >= 0) {
        File file(descriptor);
        fchmod(descriptor, 0644);  // like any other file of the folder, whatever the umask
        if (auto filled = FillFile(file, bytes, attributes); !filled)
            return filled;
        // linkat by descriptor needs a capability; through /proc it needs none.
        const std::string unnamed = "/proc/self/fd/" + std::to_string(descriptor);
        if (linkat(AT_FDCWD, unnamed.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0)
            return Failure{"linkat", errno};
        return file.Close();
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return Failure{"open", errno};

    // No files without a name here: a named temporary, moved into place once whole.
    auto created = CreateUniqueFile(folder, "." + name + ".");
    if (!created)
        return created.Why();
    auto& [file, temporaryPath] = *created;
    Result<Done> placed = FillFile(file, bytes, attributes);
    if (placed)
        placed = file.Close();
    if (placed)
        placed = MoveFileNoReplace(temporaryPath, path);
    if (!placed)
        unlink(temporaryPath.c_str());
    return placed;
}

Result<Done> RemoveFile(const std::string& path)
{
    if (unlink(path.c_str()) != 0)
        return Failure{"unlink", errno};
    return Done{};
}

Result<uint32_t> GetFileAttributes(const std::string& path)
{
    char text[32];
    ssize_t length = getxattr(path.c_str(), kAttributeName, text, sizeof text - 1);
    if (length < 0) {
        if (errno == ENODATA || errno == ENOTSUP)
            return 0u;
        return Failure{"getxattr", errno};
    }
    text[length] = '\0';
    return static_cast<uint32_t>(std::strtoul(text, nullptr, 16));
}

Result<Done> SetFileAttributes(const std::string& path, uint32_t attributes)
{
    struct stat status;
    if (stat(path.c_str(), &status) != 0)
        return Failure{"stat", errno};
    char text[16];
    int length = std::snprintf(text, sizeof text, "0x%x", attributes);
    mode_t mode = status.st_mode & 07777;
    mode_t wanted = (attributes & kAttributeReadOnly) ? mode & ~mode_t(0222) : mode | S_IWUSR;
    // User extended attributes need write permission, which read-only took away: give it back first.
    mode_t writable = mode | S_IWUSR;
    if (writable != mode && chmod(path.c_str(), writable) != 0)
        return Failure{"chmod", errno};
    if (setxattr(path.c_str(), kAttributeName, text, static_cast<size_t>(length), 0) != 0) {
        int error = errno;
        if (writable != mode)
            chmod(path.c_str(), mode);
        return Failure{"setxattr", error};
    }
    if (wanted != writable && chmod(path.c_str(), wanted) != 0)
        return Failure{"chmod", errno};
    return Done{};
}

}  // namespace platform
