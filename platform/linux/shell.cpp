#include <glib.h>

#include "platform/linux/toolkit_settings.h"
#include "platform/platform.h"

namespace platform {

void OpenWithDefaultHandler(const std::string& utf8Address)
{
    // An argument vector, no shell; without DO_NOT_REAP_CHILD GLib double-forks, so the
    // opener outlives us and leaves no zombie.
    char* argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(utf8Address.c_str()), nullptr};
    g_auto(GStrv) environment = EnvironmentForOtherPrograms();
    g_spawn_async(nullptr, argv, environment, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace platform
