#include <dlfcn.h>

#include "platform/platform.h"

namespace platform {

Library& Library::operator=(Library&& other) noexcept
{
    if (this != &other) {
        if (handle_)
            dlclose(handle_);
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

Library::~Library()
{
    if (handle_)
        dlclose(handle_);
}

void* Library::Symbol(const char* exportName) const
{
    return handle_ ? dlsym(handle_, exportName) : nullptr;
}

Result<Library> LoadLibrary(const std::string& fileName)
{
    void* handle = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return Failure{"dlopen", 0};
    return Library(handle);
}

}  // namespace platform
