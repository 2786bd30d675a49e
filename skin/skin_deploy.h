// Deploying the skin engine next to the program and attaching a skin.
#pragma once

#include <cstdint>

void EnsureSkinEngine();
void ApplySkin(int32_t skinNumber);
