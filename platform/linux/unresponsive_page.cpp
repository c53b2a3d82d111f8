#include "platform/linux/unresponsive_page.h"

#include "platform/linux/async_calls.h"
#include "platform/linux/script_relay.h"

namespace brindle::native {

namespace {

// Owned by the view it watches, and destroyed with it.
struct Watch {
    WebKitWebView* view = nullptr;
    guint timer = 0;
    // When the unanswered sign of life was asked for (monotonic clock, which stands still while
    // the machine sleeps), or 0 when none is outstanding.
    gint64 askedAtUs = 0;
    gint64 lastBeatUs = 0;
    // The sign of life asked for, dropped when the watch goes.
    AsyncCalls calls;
};

// WebKit shows the page's alert, confirm and prompt dialogs inside the view, as a child widget,
// and the web process waits for the answer without answering anything else. The user may take
// their time over it, so the wait does not count while such a dialog is shown. The dialog's
// class is WebKit's own and has no public name; it is looked up once it exists.
bool showsDialog(WebKitWebView* view)
{
    GType dialogType = g_type_from_name("WebKitWebViewDialog");
    if (!dialogType)
        return false;
    struct Search {
        GType type;
        bool found = false;
    } search { dialogType };
    gtk_container_forall(
        GTK_CONTAINER(view),
        [](GtkWidget* child, gpointer data) {
            auto* search = static_cast<Search*>(data);
            if (G_TYPE_CHECK_INSTANCE_TYPE(child, search->type))
                search->found = true;
        },
        &search);
    return search.found;
}

gboolean onBeat(gpointer data)
{
    auto* watch = static_cast<Watch*>(data);
    gint64 now = g_get_monotonic_time();
    // A beat long overdue means Brindle itself was held up (stopped, or its main loop busy), and
    // with it the answer; the wait starts afresh.
    bool heldUp
        = watch->lastBeatUs && now - watch->lastBeatUs > 2 * gint64 { webProcessPingIntervalMs } * 1000;
    watch->lastBeatUs = now;
    if (watch->askedAtUs && (heldUp || showsDialog(watch->view)))
        watch->askedAtUs = now;
    if (watch->askedAtUs) {
        if (now - watch->askedAtUs >= unresponsiveWebProcessLimitMs * 1000) {
            watch->askedAtUs = 0;
            webkit_web_view_terminate_web_process(watch->view);
        }
        return G_SOURCE_CONTINUE;
    }
    watch->askedAtUs = now;
    watch->calls.start(
        [view = watch->view](GCancellable* cancellable, GAsyncReadyCallback ready, gpointer data) {
            webkit_web_view_evaluate_javascript(
                view, "0", -1, relayWorldName, nullptr, cancellable, ready, data);
        },
        // Any answer will do, an error too: a process that can report one is not stuck.
        [watch](GObject* view, GAsyncResult* result) {
            adopt(webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, nullptr));
            watch->askedAtUs = 0;
        });
    return G_SOURCE_CONTINUE;
}

void destroyWatch(gpointer data)
{
    auto* watch = static_cast<Watch*>(data);
    g_source_remove(watch->timer);
    delete watch;
}

} // namespace

void endUnresponsiveWebProcesses(WebKitWebView* view)
{
    auto* watch = new Watch;
    watch->view = view;
    watch->timer = g_timeout_add(webProcessPingIntervalMs, onBeat, watch);
    g_object_set_data_full(G_OBJECT(view), "brindle-unresponsive-watch", watch, destroyWatch);
}

} // namespace brindle::native
