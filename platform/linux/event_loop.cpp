#include <gtk/gtk.h>

#include "platform/platform.h"

namespace platform {
namespace {

GMainLoop* messageLoop = nullptr;
bool quitPending = false;

}  // namespace

bool InitToolkit()
{
    static const bool connected = [] {
        // A busy X server can turn a connection away for a moment; a start should not fail for that.
        for (int attempt = 0; attempt < 50; ++attempt) {
            if (gtk_init_check(nullptr, nullptr))
                return true;
            if (!g_getenv("DISPLAY") && !g_getenv("WAYLAND_DISPLAY"))
                return false;
            g_usleep(100 * 1000);
        }
        return false;
    }();
    return connected;
}

void RunMessageLoop()
{
    if (quitPending)
        return;
    messageLoop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(messageLoop);
    g_main_loop_unref(messageLoop);
    messageLoop = nullptr;
}

void QuitMessageLoop()
{
    quitPending = true;
    if (messageLoop)
        g_main_loop_quit(messageLoop);
}

bool QuitPending()
{
    return quitPending;
}

void DispatchPendingEvents()
{
    while (!quitPending && g_main_context_pending(nullptr))
        g_main_context_iteration(nullptr, FALSE);
}

}  // namespace platform
