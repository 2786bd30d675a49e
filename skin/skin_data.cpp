#include "skin/skin_data.h"

// Laid out by the build's generated assembly: a table of offsets from its own start to each skin's block.
extern "C" const int32_t qy_skin_offsets[kSkinCount];
extern "C" const uint8_t qy_skin_engine_image[];

BytesRef SkinTableEntry(int32_t number)
{
    if (number < 1 || number > kSkinCount) return {};
    auto* table = reinterpret_cast<const uint8_t*>(qy_skin_offsets);
    return BytesRef(table + qy_skin_offsets[number - 1]);
}

BytesRef SkinEngineImage() { return BytesRef(qy_skin_engine_image); }
