#include "tests/runtime/dialog_inspector.h"

namespace {

void CollectButtons(GtkWidget* widget, gpointer buttons)
{
    if (GTK_IS_BUTTON(widget))
        static_cast<std::vector<GtkWidget*>*>(buttons)->push_back(widget);
    else if (GTK_IS_CONTAINER(widget))
        gtk_container_forall(GTK_CONTAINER(widget), CollectButtons, buttons);
}

std::string ShownLabel(GtkWidget* button)
{
    const char* label = gtk_button_get_label(GTK_BUTTON(button));
    std::string shown;
    for (const char* c = label ? label : ""; *c; ++c) {
        if (*c != '_' || !gtk_button_get_use_underline(GTK_BUTTON(button)))
            shown += *c;
    }
    return shown;
}

std::string IconNameOf(GtkMessageDialog* dialog)
{
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GtkWidget* image = gtk_message_dialog_get_image(dialog);
    G_GNUC_END_IGNORE_DEPRECATIONS
    if (!GTK_IS_IMAGE(image) || gtk_image_get_storage_type(GTK_IMAGE(image)) != GTK_IMAGE_ICON_NAME)
        return {};
    const char* name = nullptr;
    gtk_image_get_icon_name(GTK_IMAGE(image), &name, nullptr);
    return name ? name : "";
}

}  // namespace

std::optional<MessageBoxView> FindMessageBox()
{
    GList* toplevels = gtk_window_list_toplevels();
    GtkWidget* found = nullptr;
    for (GList* item = toplevels; item && !found; item = item->next) {
        GtkWidget* window = GTK_WIDGET(item->data);
        if (GTK_IS_MESSAGE_DIALOG(window) && gtk_widget_get_mapped(window))
            found = window;
    }
    g_list_free(toplevels);
    if (!found)
        return std::nullopt;

    MessageBoxView box;
    box.dialog = found;
    const char* title = gtk_window_get_title(GTK_WINDOW(found));
    box.caption = title ? title : "";
    gchar* text = nullptr;
    g_object_get(found, "text", &text, nullptr);
    box.text = text ? text : "";
    g_free(text);
    box.iconName = IconNameOf(GTK_MESSAGE_DIALOG(found));
    g_object_get(found, "message-type", &box.type, nullptr);
    box.modal = gtk_window_get_modal(GTK_WINDOW(found));
    CollectButtons(found, &box.buttons);
    for (GtkWidget* button : box.buttons)
        box.labels.push_back(ShownLabel(button));
    return box;
}

GtkWidget* ButtonLabelled(const MessageBoxView& box, const std::string& word)
{
    for (size_t i = 0; i < box.buttons.size(); ++i) {
        if (box.labels[i].starts_with(word))
            return box.buttons[i];
    }
    return nullptr;
}

void SendCloseRequest(GtkWidget* dialog)
{
    GdkEvent* event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(dialog)));
    event->any.send_event = TRUE;
    gtk_main_do_event(event);
    gdk_event_free(event);
}

void PressEscape(GtkWidget* dialog)
{
    // Esc is bound to the dialog's "close" signal.
    g_signal_emit_by_name(dialog, "close");
}
