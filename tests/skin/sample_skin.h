// A small valid skin whose colours are all different, for the tests of reading and styling.
#pragma once

#include "skin/engine/skin_format.h"

inline skin::Skin SampleSkin()
{
    using namespace skin;
    uint8_t next = 10;
    auto colour = [&next] {
        next = static_cast<uint8_t>(next + 3);
        return Rgba{next, static_cast<uint8_t>(255 - next), static_cast<uint8_t>(next * 7), 255};
    };
    auto look = [&] {
        return Look{Fill{FillKind::Vertical, {{0, colour()}, {100, colour()}}}, colour(), colour()};
    };
    Skin s;
    s.name = "Sample";
    s.window = {look(), 6, Font{"DejaVu Sans", 10, 400}};
    s.titleBar = {look(), look(), Font{"DejaVu Sans", 11, 700}, 4, look(), look(), look()};
    s.button = {1, 3, look(), look(), look(), look(), look()};
    s.entry = {2, 2, look(), look(), look(), colour(), colour(), colour()};
    s.tabs = {look(), look(), 5, look(), look(), look(), colour(), 3};
    s.dialog = {look()};
    s.window.body.fill = Fill{FillKind::Solid, {{0, Rgba{0x12, 0x34, 0x56, 255}}}};
    s.titleBar.active.fill = Fill{FillKind::Horizontal, {{0, colour()}, {40, colour()}, {60, colour()}, {100, colour()}}};
    return s;
}
