#include <gtk/gtk.h>

#include "platform/platform.h"

namespace platform {
namespace {

GMainLoop* messageLoop = nullptr;
bool quitPending = false;

}  // namespace

bool InitToolkit()
{
    static const bool connected = gtk_init_check(nullptr, nullptr);
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
