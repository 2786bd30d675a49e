// skinc SOURCE OUTPUT: compiles one skin source into a ".SHE" skin file.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "skin/compiler/skin_source.h"
#include "skin/engine/skin_format.h"

namespace {

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "skinc: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) return Fail("usage: skinc SOURCE OUTPUT");
    std::filesystem::path sourcePath = argv[1];
    std::filesystem::path outputPath = argv[2];

    std::optional<std::string> text = ReadWholeFile(sourcePath);
    if (!text) return Fail("cannot read " + sourcePath.string());
    std::filesystem::path baseFolder = sourcePath.parent_path() / "base";
    auto loadBase = [&baseFolder](std::string_view name) {
        return ReadWholeFile(baseFolder / (std::string(name) + ".skin"));
    };

    skin::Skin compiled;
    std::string error;
    if (!skin::CompileSkinSource(*text, sourcePath.filename().string(), loadBase, compiled, error)) return Fail(error);

    std::vector<uint8_t> bytes = skin::EncodeSkin(compiled);
    // What the engine reads back must be exactly what was written.
    skin::Skin readBack;
    skin::SkinError readError = skin::ParseSkin(bytes, readBack);
    if (readError != skin::SkinError::None || !(readBack == compiled))
        return Fail(sourcePath.string() + ": the written skin does not read back (" +
                    skin::SkinErrorName(readError) + ")");

    std::ofstream out(outputPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::filesystem::remove(outputPath);
        return Fail("cannot write " + outputPath.string());
    }
    return 0;
}
