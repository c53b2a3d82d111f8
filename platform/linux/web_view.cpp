#include "platform/linux/web_view.h"

#include "build_config.h"
#include "platform/linux/context_menu.h"
#include "platform/linux/navigation_url.h"
#include "platform/linux/script_relay.h"
#include "platform/linux/unresponsive_page.h"

#include <optional>

namespace brindle::native {

namespace {

// WebKit runs the web process in bubblewrap and aborts the whole of Brindle when bubblewrap
// cannot set up its namespaces (hosts that forbid unprivileged user namespaces, containers), so
// bubblewrap is tried once, with the namespaces and mounts WebKit asks for, before the first web
// process. Where it fails the page runs unsandboxed: it is still only ever the planner from the one
// host over verified HTTPS, and the alarms ring either way.
bool sandboxCanStart()
{
    static bool const canStart = [] {
        // WebKitGTK starts bubblewrap by this path, not from PATH.
        char const* argv[] = { "/usr/bin/bwrap", "--unshare-all", "--die-with-parent", "--ro-bind", "/", "/",
            "--proc", "/proc", "--dev", "/dev", "true", nullptr };
        gint status = 0;
        g_autoptr(GError) error = nullptr;
        g_autofree gchar* errorOutput = nullptr;
        bool const ran = g_spawn_sync(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_STDOUT_TO_DEV_NULL,
            nullptr, nullptr, nullptr, &errorOutput, &status, &error);
        bool const started = ran && g_spawn_check_wait_status(status, nullptr);
        if (!started)
            g_message("The web view runs without its sandbox, as bubblewrap cannot start here: %s",
                error ? error->message
                      : (errorOutput && *errorOutput ? g_strstrip(errorOutput) : "it failed"));
        return started;
    }();
    return canStart;
}

// WebKit keeps the planner's storage and cache in Brindle's own folders rather than in a
// folder named after the process.
GObjectPtr<WebKitWebContext> createWebContext(TrustedCertificate const& certificate)
{
    g_autofree gchar* dataFolder
        = g_build_filename(g_get_user_data_dir(), build::folderName, "WebKit", nullptr);
    g_autofree gchar* cacheFolder
        = g_build_filename(g_get_user_cache_dir(), build::folderName, "WebKit", nullptr);
    auto dataManager = adopt(webkit_website_data_manager_new(
        "base-data-directory", dataFolder, "base-cache-directory", cacheFolder, nullptr));
    auto context = adopt(webkit_web_context_new_with_website_data_manager(dataManager.get()));

    // The page is untrusted content: its web process runs in bubblewrap wherever bubblewrap can
    // start. This must be set before the first web process starts.
    webkit_web_context_set_sandbox_enabled(context.get(), sandboxCanStart());

    if (!certificate.pem.empty() && !certificate.host.empty()) {
        auto trusted = adopt(g_tls_certificate_new_from_pem(certificate.pem.c_str(), -1, nullptr));
        if (trusted)
            webkit_web_context_allow_tls_certificate_for_host(
                context.get(), trusted.get(), certificate.host.c_str());
    }
    return context;
}

} // namespace

LinuxWebView::LinuxWebView(WebViewConfig config, TrustedCertificate const& certificate)
    : config_(std::move(config))
    , context_(createWebContext(certificate))
    , contentManager_(adopt(webkit_user_content_manager_new()))
{
    auto* manager = contentManager_.get();

    // The page script belongs to the page's own world, where the page calls it.
    g_autoptr(WebKitUserScript) page = webkit_user_script_new(config_.pageScript.c_str(),
        WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(manager, page);

    // The handler and its relay live in Brindle's world only. The signal is connected before the
    // handler exists so that no message can arrive unheard.
    std::string const signal = "script-message-received::" + config_.handlerName;
    g_signal_connect(manager, signal.c_str(), G_CALLBACK(onScriptMessageReceived), this);
    webkit_user_content_manager_register_script_message_handler_in_world(
        manager, config_.handlerName.c_str(), relayWorldName);
    std::string const relay = relayScript(config_.handlerName);
    g_autoptr(WebKitUserScript) relayScriptObject
        = webkit_user_script_new_for_world(relay.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
            WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, relayWorldName, nullptr, nullptr);
    webkit_user_content_manager_add_script(manager, relayScriptObject);

    view_ = retain(WEBKIT_WEB_VIEW(g_object_new(
        WEBKIT_TYPE_WEB_VIEW, "web-context", context_.get(), "user-content-manager", manager, nullptr)));
    g_signal_connect(view_.get(), "decide-policy", G_CALLBACK(onDecidePolicy), this);
    g_signal_connect(view_.get(), "create", G_CALLBACK(onCreate), this);
    g_signal_connect(view_.get(), "permission-request", G_CALLBACK(onPermissionRequest), this);
    g_signal_connect(view_.get(), "load-changed", G_CALLBACK(onLoadChanged), this);
    g_signal_connect(view_.get(), "web-process-terminated", G_CALLBACK(onWebProcessTerminated), this);
    g_signal_connect(view_.get(), "print", G_CALLBACK(onPrint), nullptr);
    limitContextMenus(view_.get());
    endUnresponsiveWebProcesses(view_.get());
    gtk_widget_show(widget());
}

LinuxWebView::~LinuxWebView()
{
    cancelLoadTimeout();
    g_signal_handlers_disconnect_by_data(contentManager_.get(), this);
    g_signal_handlers_disconnect_by_data(view_.get(), this);
}

void LinuxWebView::load(std::string const& url, int timeoutSeconds)
{
    lastRequestedUrl_ = url;
    lastTimeoutSeconds_ = timeoutSeconds;
    cancelLoadTimeout();
    auto request = adopt(webkit_uri_request_new(url.c_str()));
    webkit_web_view_load_request(view_.get(), request.get());

    // WebKit's request has no time-out of its own; a load that has not committed in time is
    // stopped, as the page request's time-out would.
    if (timeoutSeconds > 0) {
        loadTimeout_ = g_timeout_add_seconds(
            static_cast<guint>(timeoutSeconds),
            [](gpointer data) -> gboolean {
                auto* self = static_cast<LinuxWebView*>(data);
                self->loadTimeout_ = 0;
                webkit_web_view_stop_loading(self->view_.get());
                return G_SOURCE_REMOVE;
            },
            this);
    }
}

void LinuxWebView::reload()
{
    // After the web process went away the view may have nothing committed to reload.
    if (webkit_web_view_get_uri(view_.get()))
        webkit_web_view_reload(view_.get());
    else if (!lastRequestedUrl_.empty())
        load(lastRequestedUrl_, lastTimeoutSeconds_);
}

void LinuxWebView::evaluateJavaScript(std::string const& script)
{
    webkit_web_view_evaluate_javascript(view_.get(), script.c_str(), static_cast<gssize>(script.size()),
        nullptr, nullptr, nullptr, nullptr, nullptr);
}

void LinuxWebView::cancelLoadTimeout()
{
    if (loadTimeout_) {
        g_source_remove(loadTimeout_);
        loadTimeout_ = 0;
    }
}

void LinuxWebView::onScriptMessageReceived(
    WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data)
{
    auto* self = static_cast<LinuxWebView*>(data);
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    if (!value || !jsc_value_is_string(value))
        return;
    g_autofree gchar* text = jsc_value_to_string(value);
    if (!text)
        return;
    auto message = readRelayMessage(text);
    if (message && self->config_.onScriptMessage)
        self->config_.onScriptMessage(*message);
}

NavigationPolicy LinuxWebView::decideNavigation(WebKitNavigationAction* action)
{
    WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
    auto url = parseNavigationUrl(request ? webkit_uri_request_get_uri(request) : nullptr);
    return config_.decideNavigation ? config_.decideNavigation(url) : NavigationPolicy::cancel;
}

// Brindle has one view: a page's request for a new window is decided like any navigation and,
// when allowed, loaded in place.
void LinuxWebView::loadInPlace(char const* uri)
{
    if (uri)
        load(uri, lastTimeoutSeconds_);
}

gboolean LinuxWebView::onDecidePolicy(
    WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type, gpointer data)
{
    auto* self = static_cast<LinuxWebView*>(data);
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION
        && type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION)
        return FALSE;

    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    NavigationPolicy policy = self->decideNavigation(action);

    if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
        webkit_policy_decision_ignore(decision);
        if (policy == NavigationPolicy::allow) {
            WebKitURIRequest* request = webkit_navigation_action_get_request(action);
            self->loadInPlace(request ? webkit_uri_request_get_uri(request) : nullptr);
        }
        return TRUE;
    }
    if (policy == NavigationPolicy::allow)
        webkit_policy_decision_use(decision);
    else
        webkit_policy_decision_ignore(decision);
    return TRUE;
}

// window.open() asks for a view without a new-window decision first; it is decided here the
// same way, and no second view is ever made.
GtkWidget* LinuxWebView::onCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer data)
{
    auto* self = static_cast<LinuxWebView*>(data);
    if (self->decideNavigation(action) == NavigationPolicy::allow) {
        WebKitURIRequest* request = webkit_navigation_action_get_request(action);
        self->loadInPlace(request ? webkit_uri_request_get_uri(request) : nullptr);
    }
    return nullptr;
}

// The planner needs none of the page permissions (location, camera, notifications from the
// page itself, pointer lock, clipboard, device lists, storage access, media keys): Brindle
// delivers notifications natively, so every request is refused.
gboolean LinuxWebView::onPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request, gpointer)
{
    webkit_permission_request_deny(request);
    return TRUE;
}

// The planner has nothing to print, and WebKit's print dialog is modal: while it is up the web
// process answers nothing, so the page would be taken for hung and loaded again under the dialog,
// and Brindle could not end on the session's SIGTERM. A page's window.print() is refused: handled
// here by doing nothing, it returns at once and no dialog opens.
gboolean LinuxWebView::onPrint(WebKitWebView*, WebKitPrintOperation*, gpointer)
{
    return TRUE;
}

void LinuxWebView::onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data)
{
    auto* self = static_cast<LinuxWebView*>(data);
    if (event == WEBKIT_LOAD_COMMITTED || event == WEBKIT_LOAD_FINISHED)
        self->cancelLoadTimeout();
}

void LinuxWebView::onWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer data)
{
    auto* self = static_cast<LinuxWebView*>(data);
    if (self->config_.onWebProcessTerminated)
        self->config_.onWebProcessTerminated();
}

} // namespace brindle::native
