// The program's main window on a display, for the pictures of the skins and the test that reads
// the start skin back from the screen.
#pragma once

#include <gtk/gtk.h>

// Lets the toolkit and the web view draw for a while.
inline void Settle(int milliseconds)
{
    gint64 until = g_get_monotonic_time() + gint64{milliseconds} * 1000;
    while (g_get_monotonic_time() < until) {
        while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
        g_usleep(10 * 1000);
    }
}

// The main window once it is on the screen: the one toplevel with a caption of its own.
inline GtkWidget* ShownMainWindow()
{
    GList* toplevels = gtk_window_list_toplevels();
    GtkWidget* found = nullptr;
    for (GList* item = toplevels; item && !found; item = item->next)
        if (gtk_widget_get_mapped(GTK_WIDGET(item->data)) && gtk_window_get_titlebar(GTK_WINDOW(item->data)))
            found = GTK_WIDGET(item->data);
    g_list_free(toplevels);
    return found;
}
