// A skin as toolkit style text. Pure code: no toolkit needed to build or test it.
#pragma once

#include <string>

#include "skin/engine/skin_format.h"

namespace skin {

// "#rrggbb" for an opaque colour, "rgba(r, g, b, 0.xyz)" otherwise; never depends on the locale.
std::string CssColour(Rgba colour);

// Style text for the whole window: title bar, frame, tabs, buttons, edit boxes and message boxes.
std::string BuildSkinCss(const Skin& skin);

}  // namespace skin
