#!/usr/bin/python3
"""The real Brindle on a virtual display: its main window, closing it and launching again,
where the page's navigations go, and the page permissions it refuses.

Links are clicked with the real pointer (xdotool), so that navigations which need a user
gesture, such as a new window, get one. A stand-in browser, registered with the desktop for
https and for the schemes Brindle must never hand over, writes down every address it gets.
"""

import os
import signal
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
from desktop import close_window, visible_windows, window_size, xdotool  # noqa: E402
from harness import APP_PORT, PLANNER_URL, now_ms, planner_page, wait_for  # noqa: E402

ORIGIN = f"https://localhost:{APP_PORT}"

# In page order; each link fills the page's width, one row each.
LINKS = [
    ("external", '<a href="https://example.org/elsewhere">external</a>'),
    ("dmg", f'<a href="{ORIGIN}/downloads/Brindle.dmg">dmg</a>'),
    ("http", f'<a href="http://localhost:{APP_PORT}/planner">http</a>'),
    ("mailto", '<a href="mailto:someone@example.org">mailto</a>'),
    ("file", '<a href="file:///etc/hostname">file</a>'),
    ("data", '<a href="data:text/html,hello">data</a>'),
    ("about", '<a href="about:blank">about</a>'),
    ("blank", '<a href="https://example.net/new-tab" target="_blank">blank</a>'),
    ("open", '<a href="#" onclick="window.open(\'https://example.com/popup\'); return false">open</a>'),
    ("blank-here", f'<a href="{ORIGIN}/planner?from=blank" target="_blank">blank-here</a>'),
    ("geolocation", '<a href="#" onclick="askLocation(); return false">geolocation</a>'),
    ("notification", '<a href="#" onclick="askNotification(); return false">notification</a>'),
]

STYLE = """<style>
  html, body { margin: 0; padding: 0; }
  a { display: block; height: 50px; line-height: 50px; padding-left: 20px; font: 18px sans-serif; }
</style>"""

SCRIPT = """
  function askLocation() {
    navigator.geolocation.getCurrentPosition(
      () => report("geolocation", "granted"),
      (error) => report("geolocation", error.code === error.PERMISSION_DENIED ? "denied" : `error ${error.code}`));
  }
  function askNotification() {
    Notification.requestPermission().then((answer) => report("notification", answer));
  }
  document.addEventListener("click", (event) => report("clicked", event.target.textContent), true);
"""

# Schemes and types the stand-in browser takes as well, so that handing any of them to the
# desktop would be seen.
EXTRA_TYPES = ["x-scheme-handler/mailto", "x-scheme-handler/about", "x-scheme-handler/data",
               "text/html", "text/plain", "application/x-apple-diskimage"]


def web_processes(ancestor):
    """The WebKit web processes that descend from the given process (inside their sandbox)."""
    parents = {}
    names = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            with open(f"/proc/{entry}/cmdline", "rb") as cmdline:
                names[int(entry)] = cmdline.read().split(b"\0")[0]
            parents[int(entry)] = int(fields[1])
        except (OSError, IndexError, ValueError):
            continue

    def descends(pid):
        while pid > 1:
            pid = parents.get(pid, 0)
            if pid == ancestor:
                return True
        return False

    return [pid for pid, name in names.items() if name.endswith(b"/WebKitWebProcess") and descends(pid)]


class WindowTest(unittest.TestCase):
    def launch(self, alarms=None):
        brindle = harness.Brindle(start=False)
        self.addCleanup(brindle.__exit__, None, None, None)
        if alarms is not None:
            brindle.write_store(alarms)
        body = STYLE + "\n".join(link for _, link in LINKS)
        brindle.hub.route("/planner", planner_page(SCRIPT, body))
        self.widen_browser(brindle)
        brindle.start()
        self.document = brindle.wait_planner()
        self.window = wait_for(lambda: visible_windows(brindle.process.pid), what="the main window")[0]
        self.brindle = brindle
        return brindle

    @staticmethod
    def widen_browser(brindle):
        entry = brindle.data_home / "applications" / "brindle-test-browser.desktop"
        text = entry.read_text()
        entry.write_text(text.replace("MimeType=", "MimeType=" + ";".join(EXTRA_TYPES) + ";"))
        with open(brindle.config_home / "mimeapps.list", "a") as defaults:
            defaults.writelines(f"{kind}=brindle-test-browser.desktop\n" for kind in EXTRA_TYPES)

    def click(self, name, wait=True):
        """Clicks the link with the real pointer and waits until the page has seen the click."""
        index = [link for link, _ in LINKS].index(name)
        rows = self.brindle.page.run(
            "return { tops: [...document.querySelectorAll('a')].map((a) => a.getBoundingClientRect().top + 25),"
            " innerHeight: window.innerHeight };")
        _, height = window_size(self.window)
        y = height - rows["innerHeight"] + int(rows["tops"][index])
        clicks = len(self.brindle.hub.reports_named("clicked"))
        xdotool("mousemove", "--window", self.window, 200, y, "click", "1")
        if wait:
            wait_for(lambda: len(self.brindle.hub.reports_named("clicked")) > clicks, what=f"the click on {name}")

    def test_window_shows_the_planner_and_closing_it_only_hides_it(self):
        brindle = self.launch()
        self.assertEqual(self.document["href"], PLANNER_URL)
        # The page gets 1060 x 780; the menubar sits above it.
        self.assertEqual(brindle.page.run("return [window.innerWidth, window.innerHeight];"), [1060, 780])
        width, height = window_size(self.window)
        self.assertEqual(width, 1060)
        self.assertGreater(height, 780)

        close_window(self.window)
        wait_for(lambda: not visible_windows(brindle.process.pid), what="the window to hide")
        brindle.check_running()

        # Launching again reaches the running Brindle, which shows the same window on the same
        # document, and the second process ends.
        second = subprocess.run([brindle.binary], env=brindle.environment(), capture_output=True,
                                timeout=harness.DEFAULT_TIMEOUT)
        self.assertEqual(second.returncode, 0)
        self.assertEqual(wait_for(lambda: visible_windows(brindle.process.pid), what="the window again"),
                         [self.window])
        self.assertEqual(brindle.page.run("return location.href;"), PLANNER_URL)
        self.assertEqual(brindle.hub.document_count(), 1, "the page must not have loaded again")

        # The session's SIGTERM ends Brindle at once and cleanly.
        brindle.process.terminate()
        self.assertEqual(brindle.process.wait(timeout=harness.DEFAULT_TIMEOUT), 0)

    def test_system_quit_does_not_wait_for_the_quit_question(self):
        ahead = {"key": "a1/main", "at": now_ms() + 3600e3, "title": "Later", "sound": "bell", "mode": "alarm"}
        brindle = self.launch([ahead])
        xdotool("windowfocus", "--sync", self.window)
        xdotool("key", "--window", self.window, "ctrl+q")
        # The question is a second window of Brindle's, in front of the main one.
        wait_for(lambda: len(xdotool("search", "--onlyvisible", "--pid", brindle.process.pid)) == 2,
                 what="the quit question")
        brindle.process.terminate()
        self.assertEqual(brindle.process.wait(timeout=harness.DEFAULT_TIMEOUT), 0)

    def test_navigations_stay_on_the_planner_host_and_secure_addresses_go_to_the_browser(self):
        brindle = self.launch()
        for name in ("external", "dmg", "http", "mailto", "file", "data", "about", "blank", "open"):
            self.click(name)

        expected = ["https://example.org/elsewhere", f"{ORIGIN}/downloads/Brindle.dmg",
                    "https://example.net/new-tab", "https://example.com/popup"]
        wait_for(lambda: len(brindle.opened_urls()) >= len(expected), what="the browser to get the addresses")
        # One more hand-over after all of them: anything wrongly opened before it is in the file
        # by the time it arrives.
        self.click("external")
        expected.append("https://example.org/elsewhere")
        wait_for(lambda: len(brindle.opened_urls()) >= len(expected), what="the last address")

        self.assertEqual(brindle.opened_urls(), expected)
        self.assertEqual(brindle.page.run("return location.href;"), PLANNER_URL)
        self.assertEqual(brindle.hub.document_count(), 1, "the view must stay on its document")
        self.assertEqual(xdotool("search", "--onlyvisible", "--pid", brindle.process.pid, "--name", "."),
                         [self.window], "no second window")

    def test_new_window_on_the_planner_host_loads_in_the_same_view(self):
        brindle = self.launch()
        self.click("blank-here", wait=False)
        document = brindle.wait_planner(after=1)
        self.assertEqual(document["href"], f"{PLANNER_URL}?from=blank")
        self.assertEqual(brindle.opened_urls(), [])
        self.assertEqual(xdotool("search", "--onlyvisible", "--pid", brindle.process.pid, "--name", "."),
                         [self.window], "no second window")

    def test_page_comes_back_after_its_web_process_dies(self):
        brindle = self.launch()
        victims = wait_for(lambda: web_processes(brindle.process.pid), what="the web process")
        for pid in victims:
            os.kill(pid, signal.SIGKILL)
        document = brindle.wait_planner(after=1)
        self.assertEqual(document["href"], PLANNER_URL)
        brindle.check_running()
        self.assertEqual(visible_windows(brindle.process.pid), [self.window])

    def test_page_permission_requests_are_refused(self):
        brindle = self.launch()
        self.click("geolocation")
        self.click("notification")
        self.assertEqual(brindle.hub.wait_report("geolocation"), "denied")
        self.assertEqual(brindle.hub.wait_report("notification"), "denied")


if __name__ == "__main__":
    harness.main()
