"""One `Brindle` is one run of the real binary with fresh XDG folders, HTTPS test servers, dbusmock's
notification server and a stand-in browser; tests drive the page through pages/harness.js."""

import ctypes
import json
import os
import shutil
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path
from urllib.parse import parse_qs, urlsplit

import dbus
import pyatspi

E2E_DIR = Path(__file__).resolve().parent
CERTIFICATE = E2E_DIR / "certs" / "localhost.pem"
APP_PORT = int(os.environ.get("BRINDLE_APP_PORT") or 9443)
PLANNER_URL = f"https://localhost:{APP_PORT}/planner"
TIMEOUT = 60.0  # Generous: the machines are shared and WebKit starts slowly.
SKIPPED = 77  # The exit status CTest reports as "Not Run" (the tests' SKIP_RETURN_CODE).
STRICT = os.environ.get("CI") == "true"  # scripts/test sets it
# The build's application id and folder name: a development build has its own.
APP_ID = os.environ.get("BRINDLE_APP_ID", "app.brindle.Brindle")
FOLDER = os.environ.get("BRINDLE_FOLDER_NAME", "Brindle")


def need(available, what):
    """`available` when true; else the test cannot check: a failure under CI, elsewhere a skip CTest shows."""
    if not available:
        raise (AssertionError if STRICT else unittest.SkipTest)(f"missing: {what}")
    return available


def wait_for(condition, timeout=TIMEOUT, what="the condition", interval=0.05):
    deadline = time.monotonic() + timeout
    while not (value := condition()):
        if time.monotonic() >= deadline:
            raise AssertionError(f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(interval)
    return value


def now_ms():
    return time.time() * 1000


def alarm(key, at, title="Stand up", mode="alarm", sound="bell"):
    return {"key": key, "at": at, "title": title, "sound": sound, "mode": mode}


def planner_page(script="", body=""):
    return (f'<!doctype html><html><head><meta charset="utf-8"><title>Planner under test</title>'
            f'<script src="/harness.js"></script><script>{script}</script></head><body>{body}</body></html>')


def xdotool(*arguments):
    """xdotool's words on standard output; none when it failed (no window matched, say)."""
    result = subprocess.run(["xdotool", *map(str, arguments)], capture_output=True, text=True)
    return result.stdout.split() if result.returncode == 0 else []


def visible_windows(pid, title="Brindle"):
    return xdotool("search", "--all", "--onlyvisible", "--pid", pid, "--name", f"^{title}$")


def panel_shown():
    return xdotool("search", "--onlyvisible", "--name", "^Brindle alarm$")


def close_window(window):
    """Asks the window to close as a window manager's close button does (WM_DELETE_WINDOW)."""
    x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    display = ctypes.c_void_p(x11.XOpenDisplay(None))
    # An XClientMessageEvent: type, serial, send_event, display, window, message_type, format, data.
    event = (ctypes.c_long * 24)(33, 0, 0, 0, int(window), x11.XInternAtom(display, b"WM_PROTOCOLS", 0), 32,
                                 x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0))
    x11.XSendEvent(display, ctypes.c_ulong(int(window)), 0, ctypes.c_long(0), event)
    x11.XFlush(display)
    x11.XCloseDisplay(display)


def safely(predicate):
    """The predicate, false for accessibles that vanish (a window closes) while it reads them."""
    def matches(node):
        try:
            return node is not None and predicate(node)
        except Exception:
            return False
    return matches


def application_of(pid):
    return next(filter(safely(lambda application: application.get_process_id() == pid), pyatspi.Registry.getDesktop(0)), None)


def find(root, predicate):
    return None if root is None else pyatspi.findDescendant(root, safely(predicate))


def press(node):
    action = node.queryAction()
    action.doAction(next((i for i in range(action.nActions) if action.getName(i) in ("click", "press", "activate")), 0))


class Hub:
    def __init__(self):
        self.lock = threading.Condition()
        self.routes, self.reports, self.documents = {}, [], []
        self.commands, self.results, self.last_command, self.doc = {}, {}, 0, None
        self.route("/planner", planner_page())
        for page in (E2E_DIR / "pages").iterdir():
            self.route(f"/{page.name}", page.read_bytes(), "text/javascript" if page.suffix == ".js" else "text/html")

    def route(self, path, body, kind="text/html; charset=utf-8", status=200, headers=None):
        self.routes[path] = (status, kind, body.encode() if isinstance(body, str) else body, headers or {})

    def wait(self, condition, timeout, what):
        with self.lock:
            if not (value := self.lock.wait_for(condition, timeout)):
                raise AssertionError(f"timed out after {timeout:g} s waiting for {what}; reports: {self.reports}")
            return value

    def reports_named(self, name):
        with self.lock:
            return [r["value"] for r in self.reports if r.get("name") == name]

    def wait_report(self, name, count=1, timeout=TIMEOUT):
        return self.wait(lambda: self.reports_named(name)[count - 1:], timeout, f"report {name!r}")[0]

    def posted(self, path, payload):
        with self.lock:
            {"/report": self.reports.append, "/harness/hello": self.documents.append,
             "/harness/result": lambda result: self.results.update({result["id"]: result})}[path](payload)
            self.lock.notify_all()

    def command(self, doc, code=None):
        """Queues code for the document and gives its id; without code, takes the next one (or None)."""
        with self.lock:
            queue = self.commands.setdefault(doc, [])
            if code is None:
                return queue.pop(0) if self.lock.wait_for(lambda: queue, 1.0) else None
            self.last_command += 1
            queue.append({"id": self.last_command, "code": code})
            self.lock.notify_all()
            return self.last_command

    def send(self, code):  # The body of an async function, not waited for.
        return self.command(self.doc, code)

    def run(self, code, timeout=TIMEOUT):
        command = self.send(code)
        result = self.wait(lambda: self.results.pop(command, None), timeout, f"the page to run {code[:80]!r}")
        if "error" in result:
            raise AssertionError(f"the page threw: {result['error']}")
        return result.get("value")

    def request(self, method, *args, timeout=TIMEOUT):  # BrindleDesktop.request's {"value": ...} or {"error": ...}
        return self.run(f"return await t.call({', '.join(map(json.dumps, (method, *args)))});", timeout)


def make_handler(hub):
    class Handler(BaseHTTPRequestHandler):
        def setup(self):
            # The handshake runs in the request's own thread, so a client that never finishes it stalls nothing.
            self.request.settimeout(30)
            if isinstance(self.request, ssl.SSLSocket):
                self.request.do_handshake()
            super().setup()

        log_message = lambda *args: None  # noqa: E731

        def reply(self, status, body=b"", kind="text/plain", headers=None):
            self.send_response(status)
            for name, value in {"Content-Type": kind, "Content-Length": len(body), "Cache-Control": "no-store",
                                **(headers or {})}.items():
                self.send_header(name, str(value))
            self.end_headers()
            self.wfile.write(body)

        def do_GET(self):
            url = urlsplit(self.path)
            if url.path in hub.routes:
                status, kind, body, headers = hub.routes[url.path]
                return self.reply(status, body, kind, headers)
            if url.path == "/harness/next":
                command = hub.command(parse_qs(url.query)["doc"][0])
                return self.reply(204) if command is None else self.reply(200, json.dumps(command).encode())
            return self.reply(404)

        def do_POST(self):
            hub.posted(urlsplit(self.path).path, json.loads(self.rfile.read(int(self.headers["Content-Length"]))))
            self.reply(204)

    return Handler


class TestServer(ThreadingHTTPServer):
    daemon_threads = allow_reuse_address = True

    def __init__(self, hub, port, secure=True):
        super().__init__(("127.0.0.1", port), make_handler(hub))
        if secure:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(CERTIFICATE, E2E_DIR / "certs" / "localhost-key.pem")
            self.socket = context.wrap_socket(self.socket, server_side=True, do_handshake_on_connect=False)
        self.port = self.server_address[1]
        threading.Thread(target=self.serve_forever, daemon=True).start()

    handle_error = lambda *args: None  # noqa: E731 (clients hang up in the middle of long polls and handshakes)

    def stop(self):
        self.shutdown()
        self.server_close()


class Brindle:
    """One run of the real binary; with start=False, set up routes and files before `start()`."""

    def __init__(self, notifications=True, start=True, accessible=False, arguments=()):
        self.binary = need(os.environ.get("BRINDLE_BINARY"), "BRINDLE_BINARY, which ctest sets")
        self.root = Path(tempfile.mkdtemp(prefix="brindle-e2e-"))
        self.data_home, self.config_home, self.home = self.root / "data", self.root / "config", self.root / "home"
        for folder in (self.data_home / "applications", self.config_home, self.home):
            folder.mkdir(parents=True)
        self.store_path, self.defaults_path = self.data_home / FOLDER / "alarms.json", self.config_home / FOLDER / "defaults.json"
        self.opened_path, self.log_path = self.root / "opened-urls.txt", self.root / "brindle.log"
        self.hub = self.page = Hub()
        self.servers, self.process, self.log, self.notification_server, self.mock = [], None, None, None, None
        self.want_notifications, self.start_on_enter, self.accessible, self.arguments = notifications, start, accessible, list(arguments)
        browser = self.root / "browser.sh"
        browser.write_text(f'#!/bin/sh\nprintf "%s\\n" "$1" >> "{self.opened_path}"\n')
        browser.chmod(0o755)
        types = ["x-scheme-handler/https", "x-scheme-handler/http", "x-scheme-handler/mailto", "text/html"]
        (self.data_home / "applications" / "test-browser.desktop").write_text(
            f"[Desktop Entry]\nType=Application\nName=Browser\nExec={browser} %u\nMimeType={';'.join(types)};\n")
        (self.config_home / "mimeapps.list").write_text(
            "[Default Applications]\n" + "".join(f"{kind}=test-browser.desktop\n" for kind in types))

    def write_store(self, data):
        self.store_path.parent.mkdir(parents=True, exist_ok=True)
        self.store_path.write_bytes(data if isinstance(data, bytes) else json.dumps(data).encode())

    def environment(self):
        return {**os.environ, "HOME": str(self.home), "XDG_DATA_HOME": str(self.data_home),
                "XDG_CONFIG_HOME": str(self.config_home), "XDG_CACHE_HOME": str(self.root / "cache"),
                "GSETTINGS_BACKEND": "memory", "NO_AT_BRIDGE": "0" if self.accessible else "1"}

    def start(self):
        self.servers = [TestServer(self.hub, APP_PORT), TestServer(self.hub, 0)]
        if self.want_notifications:
            self.notification_server = subprocess.Popen(
                ["/usr/bin/python3", "-m", "dbusmock", "--template", "notification_daemon"], stdout=subprocess.DEVNULL)
            bus = dbus.SessionBus()
            wait_for(lambda: bus.name_has_owner("org.freedesktop.Notifications"), what="the notification server")
            self.mock = dbus.Interface(bus.get_object("org.freedesktop.Notifications", "/org/freedesktop/Notifications"),
                                       "org.freedesktop.DBus.Mock")
        self.relaunch()
        return self

    def relaunch(self):
        self.log = self.log or open(self.log_path, "ab")
        self.process = subprocess.Popen([self.binary, *self.arguments], env=self.environment(), stdout=self.log,
                                        stderr=subprocess.STDOUT, cwd=self.root)
        return self.process

    def end(self):  # as the session does (SIGTERM); gives the exit status
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        return self.process.returncode

    def wait_planner(self, after=0, timeout=TIMEOUT):
        """Waits for the top document after the first `after` ones, and drives it from then on."""
        def loaded():
            self.check_running()
            return [d for d in self.hub.documents[after:] if d.get("top")]
        document = wait_for(loaded, timeout, "the planner page")[0]
        self.page.doc = document["doc"]
        return document

    def check_running(self):
        if self.process.poll() is not None:
            raise AssertionError(f"Brindle exited with {self.process.returncode}")

    def wait_panel(self):
        return wait_for(lambda: self.check_running() or panel_shown(), what="the alarm panel")[0]

    def main_window(self):
        return wait_for(lambda: visible_windows(self.process.pid), what="Brindle's main window")[0]

    def stop(self):
        self.process and self.end()
        self.log = self.log and self.log.close()
        if self.notification_server:
            self.notification_server.terminate()
            self.notification_server.wait()
        for server in self.servers:
            server.stop()
        self.servers = []

    def __enter__(self):
        return self.start() if self.start_on_enter else self

    def __exit__(self, kind, *rest):
        self.stop()
        if kind is not None and self.log_path.exists():
            print(f"--- Brindle's output:\n{self.log_path.read_text(errors='replace')}---", file=sys.stderr)
        shutil.rmtree(self.root, ignore_errors=True)

    def store_bytes(self):
        return self.store_path.read_bytes() if self.store_path.exists() else None

    def stored_alarms(self):
        """The store parsed as strict UTF-8 JSON (no NaN, which Python's reader lets through), or None."""
        return None if (data := self.store_bytes()) is None else json.loads(data.decode(), parse_constant=int)

    def opened_urls(self):
        return self.opened_path.read_text().splitlines() if self.opened_path.exists() else []

    def notifications(self):
        names = ("app_name", "replaces_id", "app_icon", "summary", "body", "actions", "hints")
        return [dict(zip(names, json.loads(json.dumps(args)))) for _, args in self.mock.GetMethodCalls("Notify")]

    def schedule(self, *alarms):
        answer = self.page.request("schedule", {"alarms": list(alarms), "taskIds": sorted({a["key"].split("/")[0] for a in alarms})})
        assert answer == {"value": True}, answer


def main():
    result = unittest.main(verbosity=2, exit=False).result
    if result.skipped and STRICT:
        print("Under CI and in scripts/test a skip fails:", *(f"{t.id()}: {why}" for t, why in result.skipped), file=sys.stderr)
    sys.exit(1 if not result.wasSuccessful() or result.skipped and STRICT else SKIPPED if result.skipped else 0)
