#include "platform/linux/linux_platform.h"

#include <algorithm>

namespace brindle::native {

// A modal question. GTK runs it in a nested main loop, so timers and D-Bus keep going; the
// modal depth lets default-only timers wait until it has closed.
int LinuxPlatform::runModalAlert(AlertQuestion const& alert)
{
    GtkWindow* parent
        = mainWindow_ && gtk_widget_get_visible(GTK_WIDGET(mainWindow_)) ? mainWindow_ : nullptr;
    GtkWidget* widget = gtk_message_dialog_new(
        parent, GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE, "%s", alert.messageText.c_str());
    GtkDialog* dialog = GTK_DIALOG(widget);
    if (!alert.informativeText.empty())
        gtk_message_dialog_format_secondary_text(
            GTK_MESSAGE_DIALOG(widget), "%s", alert.informativeText.c_str());
    gtk_window_set_title(GTK_WINDOW(widget), "Brindle");
    gtk_window_set_position(GTK_WINDOW(widget), parent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
    gtk_window_set_keep_above(GTK_WINDOW(widget), parent == nullptr);

    // Responses are the button indexes, so that the answer maps straight to the result.
    for (std::size_t index = 0; index < alert.buttons.size(); ++index)
        gtk_dialog_add_button(dialog, alert.buttons[index].c_str(), static_cast<int>(index));
    if (!alert.buttons.empty()) {
        gtk_dialog_set_default_response(dialog, 0);
        if (GtkWidget* first = gtk_dialog_get_widget_for_response(dialog, 0))
            gtk_widget_grab_focus(first);
    }

    int response = GTK_RESPONSE_NONE;
    {
        ModalScope scope(*modal_);
        runningDialogs_.push_back(dialog);
        response = gtk_dialog_run(dialog);
        std::erase(runningDialogs_, dialog);
    }
    gtk_widget_destroy(widget);

    // Closing the dialog any other way (Escape, the window manager) answers with the default
    // button, the one that changes nothing.
    if (response < 0 || static_cast<std::size_t>(response) >= alert.buttons.size())
        response = 0;
    return alertFirstButtonReturn + response;
}

// A system quit cannot wait for an answer: each open dialog is closed as if dismissed.
void LinuxPlatform::dismissDialogs()
{
    for (GtkDialog* dialog : std::vector<GtkDialog*>(runningDialogs_))
        gtk_dialog_response(dialog, GTK_RESPONSE_DELETE_EVENT);
}

} // namespace brindle::native
