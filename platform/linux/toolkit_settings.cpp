#include "platform/linux/toolkit_settings.h"

#include <utility>
#include <vector>

namespace platform {
namespace {

// Nothing here draws with OpenGL: the web view draws pages in software. Left to themselves, GDK
// at its start and WebKit at its first web view still load and try the whole OpenGL stack; on a
// machine without a GPU, GDK's part alone made its start 100 ms longer.
constexpr std::pair<const char*, const char*> kSettings[] = {
    {"GDK_GL", "disable"},
    {"WEBKIT_DISABLE_COMPOSITING_MODE", "1"},
};

std::vector<const char*> added;

}  // namespace

void ApplyToolkitSettings()
{
    for (const auto& [name, value] : kSettings) {
        if (g_getenv(name))
            continue;
        g_setenv(name, value, TRUE);
        added.push_back(name);
    }
}

GStrv EnvironmentForOtherPrograms()
{
    GStrv environment = g_get_environ();
    for (const char* name : added)
        environment = g_environ_unsetenv(environment, name);
    return environment;
}

}  // namespace platform
