// Settings this process gives its toolkit through the environment. Programs it starts for the
// user (the desktop's opener, and the browser that may start behind it) do not inherit them.
#pragma once

#include <glib.h>

namespace platform {

// Before the toolkit starts. A setting the user has made himself stays as he made it.
void ApplyToolkitSettings();
// This process's environment without what ApplyToolkitSettings added; free with g_strfreev.
GStrv EnvironmentForOtherPrograms();

}  // namespace platform
