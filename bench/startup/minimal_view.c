// The least a program needs to show the page: a fixed-size window holding one web view.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

int main(int argc, char** argv)
{
    const gboolean software = argc == 4 && g_strcmp0(argv[3], "--software") == 0;
    if (argc != 3 && !software) {
        g_printerr("usage: minimal_view TITLE URL [--software]\n");
        return 64;
    }
    gtk_init(&argc, &argv);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), argv[1]);
    gtk_window_set_default_size(GTK_WINDOW(window), 942, 705);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    GtkWidget* view = webkit_web_view_new();
    // The same drawing policy as the program, to compare like with like.
    if (software)
        webkit_settings_set_hardware_acceleration_policy(webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view)),
                                                         WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    gtk_widget_set_size_request(view, 936, 576);
    gtk_container_add(GTK_CONTAINER(window), view);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[2]);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
