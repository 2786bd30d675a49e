// The 58 skins and the skin engine's file image: constant blocks of the program in storage form.
#pragma once

#include <cstdint>

#include "values/values.h"

inline constexpr int32_t kSkinCount = 58;

// Skin 1..58; the absent value for any other number.
BytesRef SkinTableEntry(int32_t number);
// The engine library's built file, byte for byte.
BytesRef SkinEngineImage();
