#include "app/brindle_app.h"

namespace brindle {

// The menubar: the application menu and Edit. Keys are taken with the Primary (Ctrl) modifier.
MainMenu mainMenu()
{
    Menu application { "Brindle",
        {
            { "About Brindle", MenuAction::about, "" },
            {},
            { "Show Brindle", MenuAction::showWindow, "0" },
            { "Hide Brindle", MenuAction::hide, "h" },
            {},
            { "Quit Brindle", MenuAction::quit, "q" },
        } };
    Menu edit { "Edit",
        {
            { "Cut", MenuAction::cut, "x" },
            { "Copy", MenuAction::copy, "c" },
            { "Paste", MenuAction::paste, "v" },
            { "Select All", MenuAction::selectAll, "a" },
        } };
    return { { application, edit } };
}

} // namespace brindle
