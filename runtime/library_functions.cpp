#include "runtime/library_functions.h"

#include <string>

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

platform::Library LoadDeclaredLibrary(const char* fileName)
{
    std::string name = fileName;
    if (name.find('/') == std::string::npos) {
        Text runDirectory = RunDirectory();
        if (auto library = platform::LoadLibrary(std::string(runDirectory.View()) + "/" + name))
            return std::move(*library);
    }
    if (auto library = platform::LoadLibrary(name))
        return std::move(*library);
    return {};
}

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

void UnloadLibraryFunctions()
{
    for (LibraryFunctionRecord& declaration : declarations) {
        declaration.boundAddress = nullptr;
        declaration.module = {};
    }
}
