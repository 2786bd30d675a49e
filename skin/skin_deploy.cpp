#include "skin/skin_deploy.h"

#include <string>

#include "platform/platform.h"
#include "runtime/library_functions.h"
#include "runtime/runtime.h"
#include "skin/skin_data.h"
#include "values/values.h"

namespace {

constexpr int32_t kHiddenAttribute = 2;

// The image goes in whole or not at all: a write cut short must never leave a file that every later
// start would find and fail to load. An entry that appears meanwhile is never replaced.
void PlaceEngineFile(const std::string& path)
{
    size_t slash = path.rfind('/');
    std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    auto created = platform::CreateUniqueFile(folder, ".SkinH_EL.dll.");
    if (!created) return;
    auto& [file, temporaryPath] = *created;
    // On the disk before the move, so that a power cut cannot leave an empty file under the name.
    bool written = file.Write(SkinEngineImage().Bytes()) && file.Sync() && file.Close();
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
