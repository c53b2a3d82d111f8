#include "platform/linux/questions.h"

#include <algorithm>
#include <utility>

namespace brindle::native {

namespace {

// The choices' responses are their indexes, so that a response maps straight to the answer.
// Closing the dialog any other way (Escape, the window manager, quitting) answers with the
// default choice, the one that changes nothing.
std::size_t choiceFor(int responseId, std::size_t choices)
{
    return responseId < 0 || static_cast<std::size_t>(responseId) >= choices
        ? 0
        : static_cast<std::size_t>(responseId);
}

} // namespace

Questions::~Questions()
{
    for (auto& question : std::exchange(open_, {}))
        gtk_widget_destroy(GTK_WIDGET(question.dialog));
}

void Questions::ask(
    GtkWindow* parent, Question const& question, std::function<void(std::size_t choice)> answered)
{
    GtkWidget* widget = gtk_message_dialog_new(
        parent, GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE, "%s", question.primaryText.c_str());
    GtkDialog* dialog = GTK_DIALOG(widget);
    if (!question.secondaryText.empty())
        gtk_message_dialog_format_secondary_text(
            GTK_MESSAGE_DIALOG(widget), "%s", question.secondaryText.c_str());
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

    open_.push_back({ dialog, question.choices.size(), std::move(answered) });
    g_signal_connect(dialog, "response", G_CALLBACK(onResponse), this);
    gtk_window_present(GTK_WINDOW(widget));
}

void Questions::onResponse(GtkDialog* dialog, int responseId, gpointer data)
{
    auto& open = static_cast<Questions*>(data)->open_;
    auto found = std::find_if(open.begin(), open.end(),
        [dialog](OpenQuestion const& question) { return question.dialog == dialog; });
    if (found == open.end())
        return;
    OpenQuestion answered = std::move(*found);
    open.erase(found);
    gtk_widget_destroy(GTK_WIDGET(dialog));
    answered.answered(choiceFor(responseId, answered.choices));
}

void Questions::dismissAll()
{
    std::vector<GtkDialog*> dialogs;
    for (auto const& question : open_)
        dialogs.push_back(question.dialog);
    for (GtkDialog* dialog : dialogs)
        gtk_dialog_response(dialog, GTK_RESPONSE_DELETE_EVENT);
}

} // namespace brindle::native
