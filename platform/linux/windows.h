#pragma once

#include "platform/desktop.h"
#include "platform/linux/gobject_ptr.h"

#include <gtk/gtk.h>
#include <memory>
#include <string>

namespace brindle::native {

// The planner's view, the main window around it and the About dialog.
class Windows {
public:
    explicit Windows(GtkApplication* application);
    ~Windows();
    Windows(Windows const&) = delete;
    Windows& operator=(Windows const&) = delete;

    std::unique_ptr<WebView> createWebView(WebViewConfig config);
    // The close button hides the window instead of destroying it, so that the same window, with
    // its page as it was, comes back when Brindle is launched again.
    std::unique_ptr<Window> createMainWindow(WindowLayout const& layout, WebView& content);
    // The main window while it is shown, for a dialog to stand over; null otherwise.
    GtkWindow* shownMainWindow() const;

    // Entitles the main window to the focus on its next present, after a click on one of
    // Brindle's notifications.
    void acceptActivation(std::string const& activationToken);
    void hideAll();
    void presentAbout();
    // One of WebKit's editing commands (WEBKIT_EDITING_COMMAND_COPY, ...) on the planner.
    void runEditingCommand(char const* command);

private:
    GtkApplication* const application_;
    // They turn null when GTK destroys the object.
    GObjectWeakPtr<GtkWidget> webView_;
    GObjectWeakPtr<GtkWindow> mainWindow_;
    GObjectWeakPtr<GtkWidget> aboutDialog_;
};

} // namespace brindle::native
