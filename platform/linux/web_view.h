#pragma once

#include "platform/linux/gobject_ptr.h"
#include "platform/web_view.h"

#include <gtk/gtk.h>
#include <string>
#include <string_view>
#include <webkit2/webkit2.h>

namespace brindle::native {

// What the web view's network side trusts beyond the system's authorities: a development
// server's own certificate, for the planner's host only.
struct TrustedCertificate {
    std::string pem;
    std::string host;
};

// The planner's web view: the page script in the page's world, the relay and the message
// handler in Brindle's world, every navigation through the navigation policy, and no
// permission granted to the page.
class LinuxWebView final : public WebView {
public:
    LinuxWebView(WebViewConfig config, TrustedCertificate const& certificate);
    ~LinuxWebView() override;
    LinuxWebView(LinuxWebView const&) = delete;
    LinuxWebView& operator=(LinuxWebView const&) = delete;

    void load(std::string const& url, int timeoutSeconds) override;
    void reload() override;
    void evaluateJavaScript(std::string const& script) override;

    GtkWidget* widget() const { return GTK_WIDGET(view_.get()); }

private:
    static void onScriptMessageReceived(WebKitUserContentManager*, WebKitJavascriptResult*, gpointer self);
    static gboolean onDecidePolicy(
        WebKitWebView*, WebKitPolicyDecision*, WebKitPolicyDecisionType, gpointer self);
    static GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction*, gpointer self);
    static gboolean onPermissionRequest(WebKitWebView*, WebKitPermissionRequest*, gpointer self);
    static gboolean onPrint(WebKitWebView*, WebKitPrintOperation*, gpointer);
    static void onLoadChanged(WebKitWebView*, WebKitLoadEvent, gpointer self);
    static void onWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer self);

    NavigationPolicy decideNavigation(WebKitNavigationAction* action);
    void loadInPlace(char const* uri);
    void cancelLoadTimeout();

    WebViewConfig config_;
    GObjectPtr<WebKitWebContext> context_;
    GObjectPtr<WebKitUserContentManager> contentManager_;
    GObjectPtr<WebKitWebView> view_;
    std::string lastRequestedUrl_;
    int lastTimeoutSeconds_ = 60;
    guint loadTimeout_ = 0;
};

} // namespace brindle::native
