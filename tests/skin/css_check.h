// Asks the toolkit to read style text and reports every complaint it has, empty when none.
#pragma once

#include <gtk/gtk.h>

#include <string>

inline std::string CssProblems(const std::string& css)
{
    GtkCssProvider* provider = gtk_css_provider_new();
    std::string problems;
    g_signal_connect(provider, "parsing-error",
                     G_CALLBACK(+[](GtkCssProvider*, GtkCssSection* section, GError* error, gpointer data) {
                         auto* text = static_cast<std::string*>(data);
                         *text += "line " + std::to_string(gtk_css_section_get_start_line(section) + 1) + ": " +
                                  error->message + "\n";
                     }),
                     &problems);
    gtk_css_provider_load_from_data(provider, css.data(), static_cast<gssize>(css.size()), nullptr);
    g_object_unref(provider);
    return problems;
}
