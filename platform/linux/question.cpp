#include "platform/linux/linux_platform.h"

#include <algorithm>

namespace brindle::native {

namespace {

// The choices' responses are their indexes, so that a response maps straight to the answer.
// Closing the dialog any other way (Escape, the window manager, quitting) answers with the
// default choice, the one that changes nothing.
std::size_t choiceFor(int response, std::size_t choices)
{
    return response < 0 || static_cast<std::size_t>(response) >= choices ? 0
                                                                         : static_cast<std::size_t>(response);
}

} // namespace

// A modal dialog over the main window, or above every window while that is hidden. The main loop
// goes on as usual while it is up; the answer comes from its response.
void LinuxPlatform::ask(Question const& question, std::function<void(std::size_t choice)> answered)
{
    GtkWindow* parent
        = mainWindow_ && gtk_widget_get_visible(GTK_WIDGET(mainWindow_.get())) ? mainWindow_.get() : nullptr;
    GtkWidget* widget = gtk_message_dialog_new(
        parent, GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE, "%s", question.messageText.c_str());
    GtkDialog* dialog = GTK_DIALOG(widget);
    if (!question.informativeText.empty())
        gtk_message_dialog_format_secondary_text(
            GTK_MESSAGE_DIALOG(widget), "%s", question.informativeText.c_str());
    gtk_window_set_title(GTK_WINDOW(widget), "Brindle");
    gtk_window_set_position(GTK_WINDOW(widget), parent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
    gtk_window_set_keep_above(GTK_WINDOW(widget), parent == nullptr);

    for (std::size_t index = 0; index < question.choices.size(); ++index)
        gtk_dialog_add_button(dialog, question.choices[index].c_str(), static_cast<int>(index));
    if (!question.choices.empty()) {
        gtk_dialog_set_default_response(dialog, 0);
        if (GtkWidget* first = gtk_dialog_get_widget_for_response(dialog, 0))
            gtk_widget_grab_focus(first);
    }

    questions_.push_back({ dialog, question.choices.size(), std::move(answered) });
    g_signal_connect(dialog, "response", G_CALLBACK(+[](GtkDialog* dialog, int response, gpointer data) {
        auto& self = *static_cast<LinuxPlatform*>(data);
        auto found = std::find_if(self.questions_.begin(), self.questions_.end(),
            [dialog](OpenQuestion const& open) { return open.dialog == dialog; });
        if (found == self.questions_.end())
            return;
        OpenQuestion answeredQuestion = std::move(*found);
        self.questions_.erase(found);
        gtk_widget_destroy(GTK_WIDGET(dialog));
        answeredQuestion.answered(choiceFor(response, answeredQuestion.choices));
    }),
        this);
    gtk_window_present(GTK_WINDOW(widget));
}

// A system quit cannot wait for an answer: each question on screen is closed as if dismissed.
void LinuxPlatform::dismissQuestions()
{
    std::vector<GtkDialog*> open;
    for (auto const& question : questions_)
        open.push_back(question.dialog);
    for (GtkDialog* dialog : open)
        gtk_dialog_response(dialog, GTK_RESPONSE_DELETE_EVENT);
}

} // namespace brindle::native
