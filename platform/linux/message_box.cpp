#include <cstdio>
#include <gtk/gtk.h>

#include "platform/platform.h"

namespace platform {
namespace {

struct Choice {
    const char8_t* label;
    MessageAnswer answer;
};

struct ButtonSet {
    MessageButtons buttons;
    Choice choices[3];
    // What Esc and the close button give; None: the box cannot be dismissed that way.
    MessageAnswer onDismiss;
};

const ButtonSet kButtonSets[] = {
    {MessageButtons::Ok, {{u8"确定", MessageAnswer::Ok}}, MessageAnswer::Ok},
    {MessageButtons::OkCancel, {{u8"确定", MessageAnswer::Ok}, {u8"取消", MessageAnswer::Cancel}}, MessageAnswer::Cancel},
    {MessageButtons::AbortRetryIgnore,
     {{u8"中止(_A)", MessageAnswer::Abort}, {u8"重试(_R)", MessageAnswer::Retry}, {u8"忽略(_I)", MessageAnswer::Ignore}},
     MessageAnswer::None},
    {MessageButtons::YesNoCancel,
     {{u8"是(_Y)", MessageAnswer::Yes}, {u8"否(_N)", MessageAnswer::No}, {u8"取消", MessageAnswer::Cancel}},
     MessageAnswer::Cancel},
    {MessageButtons::YesNo, {{u8"是(_Y)", MessageAnswer::Yes}, {u8"否(_N)", MessageAnswer::No}}, MessageAnswer::None},
    {MessageButtons::RetryCancel, {{u8"重试(_R)", MessageAnswer::Retry}, {u8"取消", MessageAnswer::Cancel}}, MessageAnswer::Cancel},
};

struct IconInfo {
    MessageIcon icon;
    GtkMessageType type;
    const char* iconName;
};

const IconInfo kIcons[] = {
    {MessageIcon::None, GTK_MESSAGE_OTHER, nullptr},
    {MessageIcon::Error, GTK_MESSAGE_ERROR, "dialog-error"},
    {MessageIcon::Question, GTK_MESSAGE_QUESTION, "dialog-question"},
    {MessageIcon::Warning, GTK_MESSAGE_WARNING, "dialog-warning"},
    {MessageIcon::Information, GTK_MESSAGE_INFO, "dialog-information"},
};

}  // namespace

MessageAnswer ShowMessageBox(const std::string& utf8Text, const std::string& utf8Caption, MessageButtons buttons,
                             MessageIcon icon)
{
    if (!InitToolkit()) {
        std::fprintf(stderr, "%s: %s\n", utf8Caption.c_str(), utf8Text.c_str());
        return MessageAnswer::None;
    }
    const ButtonSet& set = kButtonSets[static_cast<int>(buttons)];
    const IconInfo& iconInfo = kIcons[static_cast<int>(icon)];

    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, iconInfo.type, GTK_BUTTONS_NONE, "%s",
                                               utf8Text.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), utf8Caption.c_str());
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    gtk_window_set_deletable(GTK_WINDOW(dialog), set.onDismiss != MessageAnswer::None);
    if (iconInfo.iconName) {
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        GtkWidget* image = gtk_image_new_from_icon_name(iconInfo.iconName, GTK_ICON_SIZE_DIALOG);
        gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(dialog), image);
        gtk_widget_show(image);
        G_GNUC_END_IGNORE_DEPRECATIONS
        // Setting an image makes the box a plain message; screen readers should still hear an error.
        g_object_set(dialog, "message-type", iconInfo.type, nullptr);
    }
    for (const Choice& choice : set.choices) {
        if (!choice.label)
            break;
        GtkWidget* button = gtk_dialog_add_button(GTK_DIALOG(dialog), reinterpret_cast<const char*>(choice.label),
                                                  static_cast<int>(choice.answer));
        gtk_button_set_use_underline(GTK_BUTTON(button), TRUE);
    }
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), static_cast<int>(set.choices[0].answer));

    MessageAnswer answer = MessageAnswer::None;
    while (answer == MessageAnswer::None) {
        int response = gtk_dialog_run(GTK_DIALOG(dialog));
        if (response == GTK_RESPONSE_NONE)
            return MessageAnswer::None;  // destroyed under us: nothing left to close
        answer = response >= 0 ? static_cast<MessageAnswer>(response) : set.onDismiss;
    }
    gtk_widget_destroy(dialog);
    return answer;
}

}  // namespace platform
