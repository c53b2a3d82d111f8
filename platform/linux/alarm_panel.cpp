#include "platform/linux/alarm_panel.h"

#include "platform/linux/displays.h"
#include "platform/linux/gobject_ptr.h"

#include <cmath>
#include <functional>
#include <gtk-layer-shell.h>
#include <gtk/gtk.h>
#include <string>

namespace brindle::native {

namespace {

constexpr int panelWidth = 420;
constexpr int panelHeight = 210;
constexpr int stackSpacing = 18;
constexpr int sideMargin = 24;
// Keeps a long title from asking for a window wider than the panel; it wraps instead.
constexpr int labelMaxWidthChars = 20;
// A title of any length must leave the buttons on screen, or the alarm could not be answered.
// Longer titles are cut short with an ellipsis and shown whole in the tooltip.
constexpr int labelMaxLines = 3;

std::string titleMarkup(std::string const& title, double pointSize)
{
    // Titles come from the page; anything that is not UTF-8 is patched rather than dropped.
    g_autofree gchar* valid = g_utf8_make_valid(title.c_str(), static_cast<gssize>(title.size()));
    g_autofree gchar* escaped = g_markup_escape_text(valid, -1);
    int size = static_cast<int>(std::lround(pointSize * PANGO_SCALE));
    return "<span weight=\"bold\" size=\"" + std::to_string(size) + "\">" + escaped + "</span>";
}

// Only a title that was cut short gets a tooltip, so that one of normal length does not cover
// the buttons while the pointer rests on it.
gboolean onQueryTooltip(GtkWidget* widget, gint, gint, gboolean, GtkTooltip* tooltip, gpointer)
{
    GtkLabel* label = GTK_LABEL(widget);
    if (!pango_layout_is_ellipsized(gtk_label_get_layout(label)))
        return FALSE;
    gtk_tooltip_set_text(tooltip, gtk_label_get_text(label));
    return TRUE;
}

class GtkAlarmPanel final : public AlarmPanel {
public:
    GtkAlarmPanel(PanelContent const& content, GtkApplication* app)
        : onStop_(content.onStop)
        , onSnooze_(content.onSnooze)
    {
        GtkWindow* window = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
        window_.reset(GTK_WIDGET(window));
        // Before anything realizes it: the panel may live on another display than the main
        // window (Xwayland beside GNOME's Wayland). Nothing may tie it to a window of the other
        // display, such as a transient parent, or GTK moves it back.
        if (GdkScreen* screen = panelScreen())
            gtk_window_set_screen(window, screen);
        gtk_window_set_title(window, content.windowTitle.c_str());
        // A non-resizable GTK window takes its size from its request, not from a default size.
        gtk_widget_set_size_request(GTK_WIDGET(window), panelWidth, panelHeight);
        gtk_window_set_resizable(window, FALSE);
        gtk_window_set_deletable(window, FALSE);
        gtk_window_set_keep_above(window, TRUE);
        gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
        gtk_window_set_position(window, GTK_WIN_POS_CENTER);
        // The panel never takes the keyboard from the application the user types into: a Space
        // or Return meant for it must not stop or snooze an alarm nobody has seen. The user
        // clicks the panel, or answers from the notification.
        gtk_window_set_focus_on_map(window, FALSE);
        if (app)
            gtk_window_set_application(window, app);
        if (panelOnOverlayLayer()) {
            // Above every ordinary window for as long as it is up, whatever is clicked; with no
            // edge anchored the compositor centres it on the output the user works on. Its
            // buttons take clicks; the keyboard stays where the user types.
            gtk_layer_init_for_window(window);
            gtk_layer_set_layer(window, GTK_LAYER_SHELL_LAYER_OVERLAY);
            gtk_layer_set_namespace(window, "brindle-alarm");
            gtk_layer_set_keyboard_mode(window, GTK_LAYER_SHELL_KEYBOARD_MODE_NONE);
        }

        // Window managers may still offer a close shortcut; the alarm ends only by its buttons.
        g_signal_connect(window, "delete-event", G_CALLBACK(gtk_true), nullptr);

        GtkWidget* stack = gtk_box_new(GTK_ORIENTATION_VERTICAL, stackSpacing);
        gtk_widget_set_margin_start(stack, sideMargin);
        gtk_widget_set_margin_end(stack, sideMargin);
        gtk_widget_set_valign(stack, GTK_ALIGN_CENTER);

        GtkWidget* label = gtk_label_new(nullptr);
        gtk_label_set_markup(GTK_LABEL(label), titleMarkup(content.label, content.labelPointSize).c_str());
        gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
        gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
        gtk_label_set_max_width_chars(GTK_LABEL(label), labelMaxWidthChars);
        gtk_label_set_lines(GTK_LABEL(label), labelMaxLines);
        gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
        gtk_widget_set_has_tooltip(label, TRUE);
        g_signal_connect(label, "query-tooltip", G_CALLBACK(onQueryTooltip), nullptr);

        GtkWidget* stopButton = gtk_button_new_with_label(content.stopTitle.c_str());
        g_signal_connect(stopButton, "clicked", G_CALLBACK(onStopClicked), this);
        GtkWidget* snoozeButton = gtk_button_new_with_label(content.snoozeTitle.c_str());
        g_signal_connect(snoozeButton, "clicked", G_CALLBACK(onSnoozeClicked), this);

        gtk_box_pack_start(GTK_BOX(stack), label, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(stack), stopButton, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(stack), snoozeButton, FALSE, FALSE, 0);
        gtk_container_add(GTK_CONTAINER(window), stack);

        // A screen reader announces a notification when it appears, wherever the focus is, by its
        // name: the alarm's title. The buttons are named by their labels.
        AtkObject* accessible = gtk_widget_get_accessible(GTK_WIDGET(window));
        atk_object_set_role(accessible, ATK_ROLE_NOTIFICATION);
        g_autofree gchar* name
            = g_utf8_make_valid(content.label.c_str(), static_cast<gssize>(content.label.size()));
        atk_object_set_name(accessible, name);

        gtk_widget_show_all(GTK_WIDGET(window));
        // Should the window manager give it the focus all the same, no button has it: a key
        // meant for another window must not stop or snooze the alarm by accident.
        gtk_window_set_focus(window, nullptr);
    }

    ~GtkAlarmPanel() override
    {
        if (window_)
            gtk_widget_destroy(window_.get());
    }

    // Shown again and raised, still without the focus.
    void present() override
    {
        if (!window_)
            return;
        gtk_widget_show(window_.get());
        gdk_window_raise(gtk_widget_get_window(window_.get()));
    }

private:
    // A button's action usually destroys this very panel, so it runs from a copy and nothing
    // here is touched afterwards.
    static void run(std::function<void()> action)
    {
        if (action)
            action();
    }
    static void onStopClicked(GtkButton*, gpointer data) { run(static_cast<GtkAlarmPanel*>(data)->onStop_); }
    static void onSnoozeClicked(GtkButton*, gpointer data)
    {
        run(static_cast<GtkAlarmPanel*>(data)->onSnooze_);
    }

    // GTK owns the window; it turns null should GTK destroy it first.
    GObjectWeakPtr<GtkWidget> window_;
    std::function<void()> const onStop_;
    std::function<void()> const onSnooze_;
};

} // namespace

std::unique_ptr<AlarmPanel> showGtkAlarmPanel(PanelContent const& content, GtkApplication* app)
{
    return std::make_unique<GtkAlarmPanel>(content, app);
}

} // namespace brindle::native
