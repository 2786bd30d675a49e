#include "skin/skin_deploy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/platform.h"
#include "runtime/library_functions.h"
#include "runtime/runtime.h"
#include "skin/skin_data.h"
#include "values/values.h"

namespace {

constexpr int32_t kHiddenAttribute = 2;

// The image, synced to the disk so that a power cut cannot leave an empty file under the name.
bool WriteImage(platform::File& file)
{
    return file.Write(SkinEngineImage().Bytes()) && file.Sync();
}

// A file without a name gets one only once whole, so a start killed mid-write leaves nothing; false: use a named one.
bool PlaceThroughUnnamedFile(const std::string& folder, const std::string& path)
{
    int descriptor = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (descriptor < 0) return false;
    platform::File file(descriptor);
    fchmod(descriptor, 0644);  // as any other file of the folder, whatever the umask
    if (!WriteImage(file)) return true;
    std::string unnamed = "/proc/self/fd/" + std::to_string(descriptor);
    SetFileAttributesTo(unnamed.c_str(), kHiddenAttribute);
    // Never replaces: an entry that appeared meanwhile stays, and this copy's file goes with the close.
    if (linkat(AT_FDCWD, unnamed.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) return errno == EEXIST;
    file.Close();
    return true;
}

// The image goes in whole or not at all: a write cut short must never leave a file that every later
// start would find and fail to load. An entry that appears meanwhile is never replaced.
void PlaceEngineFile(const std::string& path)
{
    size_t slash = path.rfind('/');
    std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    if (PlaceThroughUnnamedFile(folder, path)) return;
    auto created = platform::CreateUniqueFile(folder, ".SkinH_EL.dll.");
    if (!created) return;
    auto& [file, temporaryPath] = *created;
    bool written = WriteImage(file) && file.Close();
    if (written) SetFileAttributesTo(temporaryPath.c_str(), kHiddenAttribute);
    if (!written || !platform::MoveFileNoReplace(temporaryPath, path)) platform::RemoveFile(temporaryPath);
}

}  // namespace

void EnsureSkinEngine()
{
    Text directory = RunDirectory();
    Text path = JoinText({directory, "/SkinH_EL.dll"});
    if (FileExists(path)) return;
    PlaceEngineFile(std::string(path.View()));
}

void ApplySkin(int32_t skinNumber)
{
    EnsureSkinEngine();
    ByteArray skin;
    if (skinNumber >= 1 && skinNumber <= kSkinCount) skin = CopyBytes(SkinTableEntry(skinNumber));
    SkinH_AttachRes(skin.Data(), BytesLength(skin), "", 0, 0, 0);
}
