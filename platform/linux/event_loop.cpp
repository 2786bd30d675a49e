#include <gtk/gtk.h>

#include "platform/linux/toolkit_settings.h"
#include "platform/platform.h"

namespace platform {
namespace {

GMainLoop* messageLoop = nullptr;
bool quitPending = false;

// Each look polls every event source, a system call that costs more than a 512-byte read of a
// download that is already buffered. Calls that follow one another that closely look only every
// half a millisecond; a call after anything slower, such as a read that had to wait, always looks.
constexpr gint64 kBackToBackMicroseconds = 50;
constexpr gint64 kLookIntervalMicroseconds = 500;
gint64 lastCallEnd = 0;
gint64 lastLook = 0;

}  // namespace

bool InitToolkit()
{
    static const bool connected = [] {
        ApplyToolkitSettings();
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
    const gint64 now = g_get_monotonic_time();
    const bool backToBack = now - lastCallEnd < kBackToBackMicroseconds;
    lastCallEnd = now;
    if (backToBack && now - lastLook < kLookIntervalMicroseconds)
        return;
    lastLook = now;
    while (!quitPending && g_main_context_pending(nullptr))
        g_main_context_iteration(nullptr, FALSE);
    lastCallEnd = g_get_monotonic_time();
}

}  // namespace platform
