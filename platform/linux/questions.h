#pragma once

#include "platform/desktop.h"

#include <cstddef>
#include <functional>
#include <gtk/gtk.h>
#include <vector>

namespace brindle::native {

// The questions on screen, each a GtkMessageDialog with what runs when it is answered.
class Questions {
public:
    Questions() = default;
    // Questions still up when the main loop has ended go unanswered.
    ~Questions();
    Questions(Questions const&) = delete;
    Questions& operator=(Questions const&) = delete;

    // A modal dialog over the parent, or above every window where there is none. The main loop
    // goes on as usual while it is up; the answer comes from its response.
    void ask(GtkWindow* parent, Question const& question, std::function<void(std::size_t choice)> answered);
    // A system quit cannot wait for an answer: each question on screen is closed as if dismissed.
    void dismissAll();

private:
    static void onResponse(GtkDialog* dialog, int responseId, gpointer self);

    struct OpenQuestion {
        GtkDialog* dialog;
        std::size_t choices;
        std::function<void(std::size_t)> answered;
    };
    std::vector<OpenQuestion> open_;
};

} // namespace brindle::native
