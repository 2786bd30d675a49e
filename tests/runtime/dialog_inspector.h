// Looks at the message box that is open and answers it, as a user would.
#pragma once

#include <gtk/gtk.h>

#include <optional>
#include <string>
#include <vector>

struct MessageBoxView {
    GtkWidget* dialog = nullptr;
    std::string caption;  // UTF-8, as shown
    std::string text;
    std::string iconName;  // the image shown beside the text; empty for none
    GtkMessageType type = GTK_MESSAGE_OTHER;  // what assistive technologies announce the box as
    bool modal = false;
    std::vector<GtkWidget*> buttons;
    std::vector<std::string> labels;  // as shown: mnemonic underscores removed
};

// The first mapped message dialog among the toplevel windows.
std::optional<MessageBoxView> FindMessageBox();

// The button whose shown label begins with the word, or nullptr.
GtkWidget* ButtonLabelled(const MessageBoxView& box, const std::string& word);

// What the window manager sends for the title bar's close button.
void SendCloseRequest(GtkWidget* dialog);
// What the Esc key does in a dialog.
void PressEscape(GtkWidget* dialog);
