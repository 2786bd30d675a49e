#include "runtime/library_functions.h"

#include <list>
#include <string>
#include <thread>
#include <vector>

#include "runtime/runtime.h"

namespace {

// In the order of the Declared enumeration.
LibraryFunctionRecord declarations[] = {
    {"wininet.dll", "InternetOpenA"},
    {"wininet.dll", "InternetConnectA"},
    {"wininet.dll", "InternetCloseHandle"},
    {"wininet.dll", "HttpOpenRequestA"},
    {"wininet.dll", "InternetSetOptionA"},
    {"wininet.dll", "HttpSendRequestA"},
    {"wininet.dll", "InternetReadFile"},
    {"wininet.dll", "HttpQueryInfoA"},
    {"SkinH_EL.dll", "SkinH_AttachRes"},
};

// The places a library file name is looked for, in order: the run directory, then the
// system's search, for a bare name; a name holding "/" is loaded from there alone.
std::vector<std::string> SearchOrder(const char* fileName)
{
    const std::string name = fileName;
    if (name.find('/') != std::string::npos)
        return {name};
    return {std::string(RunDirectory().View()) + "/" + name, name};
}

platform::Library LoadFirstFound(const std::vector<std::string>& places)
{
    for (const std::string& place : places) {
        if (auto library = platform::LoadLibrary(place))
            return std::move(*library);
    }
    return {};
}

platform::Library LoadDeclaredLibrary(const char* fileName)
{
    return LoadFirstFound(SearchOrder(fileName));
}

struct Preload {
    platform::Library library;  // written by the loader only
    std::jthread loader;        // joined before the library goes
};
std::list<Preload> preloads;

}  // namespace

std::span<LibraryFunctionRecord> DeclaredLibraryFunctions()
{
    return declarations;
}

void* BindLibraryFunction(LibraryFunctionRecord& declaration)
{
    if (declaration.boundAddress)
        return declaration.boundAddress;
    platform::Library module = LoadDeclaredLibrary(declaration.libraryFileName);
    // Ordinals ("#n") have no meaning for the libraries of this platform: they never bind.
    void* address = declaration.exportName[0] == '#' ? nullptr : module.Symbol(declaration.exportName);
    if (!address) {
        module = {};
        FatalRuntimeError(JoinText({"无法找到指定DLL库文件“", declaration.libraryFileName, "”中的输出命令“",
                                    declaration.exportName, "”"}),
                          0);
    }
    declaration.boundAddress = address;
    declaration.module = std::move(module);
    return address;
}

void PreloadLibrary(const char* libraryFileName)
{
    Preload& preload = preloads.emplace_back();
    preload.loader = std::jthread([&preload, places = SearchOrder(libraryFileName)] {
        preload.library = LoadFirstFound(places);
    });
}

void UnloadLibraryFunctions()
{
    preloads.clear();
    for (LibraryFunctionRecord& declaration : declarations) {
        declaration.boundAddress = nullptr;
        declaration.module = {};
    }
}
