// Skin sources: the readable text form that skin authors write, turned into a Skin.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "skin/engine/skin_format.h"

namespace skin {

// Gives the text of the base template of that name, or nothing when there is none.
using BaseLoader = std::function<std::optional<std::string>(std::string_view baseName)>;

// Compiles one source; on failure gives false and a message that names the file and line.
bool CompileSkinSource(std::string_view text, std::string_view fileName, const BaseLoader& loadBase, Skin& out,
                       std::string& error);

}  // namespace skin
