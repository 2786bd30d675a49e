#include "skin/skin_deploy.h"

#include <string>

#include "platform/platform.h"
#include "runtime/library_functions.h"
#include "runtime/runtime.h"
#include "skin/skin_data.h"
#include "values/values.h"

void EnsureSkinEngine()
{
    Text path = JoinText({RunDirectory(), "/SkinH_EL.dll"});
    if (FileExists(path)) return;
    // Whole or not at all: a write cut short must never leave a file that every later start would find
    // and fail to load. An engine that another copy placed meanwhile is left as it is.
    platform::CreateFileWhole(std::string(path.View()), SkinEngineImage().Bytes(), platform::kAttributeHidden);
}

void ApplySkin(int32_t skinNumber)
{
    EnsureSkinEngine();
    ByteArray skin;
    if (skinNumber >= 1 && skinNumber <= kSkinCount) skin = CopyBytes(SkinTableEntry(skinNumber));
    SkinH_AttachRes(skin.Data(), BytesLength(skin), "", 0, 0, 0);
}
