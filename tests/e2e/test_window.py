#!/usr/bin/python3
"""The real Brindle on a virtual display: its main window, closing and launching again, and where
the page's navigations go. Links are clicked with the real pointer (xdotool)."""

import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
from desktop import close_window, visible_windows, window_size, xdotool  # noqa: E402
from harness import APP_PORT, PLANNER_URL, now_ms, planner_page, wait_for  # noqa: E402

ORIGIN = f"https://localhost:{APP_PORT}"
# In page order, one 50-pixel row each.
LINKS = {
    "external": "https://example.org/elsewhere", "dmg": f"{ORIGIN}/downloads/Brindle.dmg",
    "http": f"http://localhost:{APP_PORT}/planner", "mailto": "mailto:someone@example.org",
    "file": "file:///etc/hostname", "data": "data:text/html,hello", "about": "about:blank",
}
BODY = ("<style>html, body { margin: 0; padding: 0; } a { display: block; height: 50px; }</style>"
        + "".join(f'<a href="{href}">{name}</a>' for name, href in LINKS.items()))
SCRIPT = 'document.addEventListener("click", (event) => report("clicked", event.target.textContent), true);'
# The stand-in browser takes these too, so that handing any of them to the desktop would be seen.
EXTRA_TYPES = ["x-scheme-handler/mailto", "x-scheme-handler/about", "x-scheme-handler/data",
               "text/html", "text/plain", "application/x-apple-diskimage"]


class WindowTest(unittest.TestCase):
    def launch(self, alarms=None):
        brindle = harness.Brindle(start=False)
        self.addCleanup(brindle.__exit__, None, None, None)
        if alarms is not None:
            brindle.write_store(alarms)
        brindle.hub.route("/planner", planner_page(SCRIPT, BODY))
        entry = brindle.data_home / "applications" / "brindle-test-browser.desktop"
        entry.write_text(entry.read_text().replace("MimeType=", "MimeType=" + ";".join(EXTRA_TYPES) + ";"))
        with open(brindle.config_home / "mimeapps.list", "a") as defaults:
            defaults.writelines(f"{kind}=brindle-test-browser.desktop\n" for kind in EXTRA_TYPES)
        brindle.start()
        self.document = brindle.wait_planner()
        self.window = wait_for(lambda: visible_windows(brindle.process.pid), what="the main window")[0]
        return brindle

    def click(self, brindle, name):
        """Clicks the link with the real pointer and waits until the page has seen the click."""
        rows = brindle.page.run("return [window.innerHeight, [...document.querySelectorAll('a')]"
                                ".map((a) => a.getBoundingClientRect().top + 25)];")
        y = window_size(self.window)[1] - rows[0] + int(rows[1][list(LINKS).index(name)])
        clicks = len(brindle.hub.reports_named("clicked"))
        xdotool("mousemove", "--window", self.window, 200, y, "click", "1")
        wait_for(lambda: len(brindle.hub.reports_named("clicked")) > clicks, what=f"the click on {name}")

    def test_the_window_its_navigations_and_closing_it_which_only_hides_it(self):
        ahead = {"key": "a1/main", "at": now_ms() + 3600e3, "title": "Later", "sound": "bell", "mode": "alarm"}
        brindle = self.launch([ahead])
        self.assertEqual(self.document["href"], PLANNER_URL)
        # The page gets 1060 x 780; the menubar sits above it.
        self.assertEqual(brindle.page.run("return [window.innerWidth, window.innerHeight];"), [1060, 780])
        width, height = window_size(self.window)
        self.assertEqual(width, 1060)
        self.assertGreater(height, 780)

        for name in LINKS:
            self.click(brindle, name)
        expected = [LINKS["external"], LINKS["dmg"]]
        wait_for(lambda: len(brindle.opened_urls()) >= len(expected), what="the browser to get the addresses")
        # One more hand-over after all of them: anything wrongly opened before it is in the file
        # by the time it arrives.
        self.click(brindle, "external")
        expected.append(LINKS["external"])
        wait_for(lambda: len(brindle.opened_urls()) >= len(expected), what="the last address")

        self.assertEqual(brindle.opened_urls(), expected)
        self.assertEqual(brindle.page.run("return location.href;"), PLANNER_URL)
        self.assertEqual(brindle.hub.document_count(), 1, "the view must stay on its document")
        self.assertEqual(xdotool("search", "--onlyvisible", "--pid", brindle.process.pid, "--name", "."),
                         [self.window], "no second window")

        close_window(self.window)
        wait_for(lambda: not visible_windows(brindle.process.pid), what="the window to hide")
        brindle.check_running()

        # Launching again shows the same window on the same document, and the second process ends.
        second = subprocess.run([brindle.binary], env=brindle.environment(), capture_output=True,
                                timeout=harness.DEFAULT_TIMEOUT)
        self.assertEqual(second.returncode, 0)
        self.assertEqual(wait_for(lambda: visible_windows(brindle.process.pid), what="the window again"),
                         [self.window])
        self.assertEqual(brindle.page.run("return location.href;"), PLANNER_URL)
        self.assertEqual(brindle.hub.document_count(), 1, "the page must not have loaded again")

        # With the quit question up (an alarm is ahead), the session's SIGTERM still ends Brindle
        # at once and cleanly.
        xdotool("windowfocus", "--sync", self.window)
        xdotool("key", "--window", self.window, "ctrl+q")
        wait_for(lambda: len(xdotool("search", "--onlyvisible", "--pid", brindle.process.pid)) == 2,
                 what="the quit question")
        brindle.process.terminate()
        self.assertEqual(brindle.process.wait(timeout=harness.DEFAULT_TIMEOUT), 0)


if __name__ == "__main__":
    harness.main()
