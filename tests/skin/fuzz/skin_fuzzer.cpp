// Any bytes into the skin reader; whatever it accepts must write back to itself and give sound style text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "skin/engine/skin_css.h"
#include "skin/engine/skin_format.h"

namespace {

void Check(bool condition)
{
    if (!condition) std::abort();
}

void Exercise(std::span<const uint8_t> bytes)
{
    skin::Skin read;
    if (skin::ParseSkin(bytes, read) != skin::SkinError::None) return;
    Check(skin::ValidateSkin(read) == skin::SkinError::None);

    std::vector<uint8_t> written = skin::EncodeSkin(read);
    skin::Skin again;
    Check(skin::ParseSkin(written, again) == skin::SkinError::None);
    Check(again == read);

    // Every rule stays one rule: nothing in a skin can open or close a block of the style text.
    std::string css = skin::BuildSkinCss(read);
    int depth = 0;
    for (char c : css) {
        if (c == '{') Check(++depth == 1);
        if (c == '}') Check(--depth == 0);
    }
    Check(depth == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Exercise({data, size});
    // The same bytes with a correct length and checksum, so the mutations reach the sections.
    if (size >= skin::kSkinHeaderSize) {
        std::vector<uint8_t> sealed(data, data + size);
        skin::SealSkin(sealed);
        Exercise(sealed);
    }
    return 0;
}
