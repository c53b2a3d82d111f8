"""Runs the real Brindle binary for end-to-end tests: one `Brindle` is one run with its HTTPS test
servers (the planner's origin and another port for cross-origin frames), python3-dbusmock's
notification server, fresh XDG folders and a stand-in browser that records the addresses it gets.
Pages report to /report and are driven through pages/harness.js. Run through run-e2e."""

import json
import os
import shutil
import signal
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

E2E_DIR = Path(__file__).resolve().parent
PAGES_DIR = E2E_DIR / "pages"
CERTIFICATE = E2E_DIR / "certs" / "localhost.pem"
PRIVATE_KEY = E2E_DIR / "certs" / "localhost-key.pem"

APP_HOST = "localhost"
APP_PORT = int(os.environ.get("BRINDLE_APP_PORT") or 9443)
PLANNER_URL = f"https://{APP_HOST}:{APP_PORT}/planner"

NOTIFICATIONS_NAME = "org.freedesktop.Notifications"
NOTIFICATIONS_PATH = "/org/freedesktop/Notifications"
MOCK_INTERFACE = "org.freedesktop.DBus.Mock"

# Generous: the machines are shared and WebKit starts slowly under load.
DEFAULT_TIMEOUT = 60.0


def wait_for(condition, timeout=DEFAULT_TIMEOUT, what="the condition", interval=0.05):
    """Polls until condition() gives a true value and returns it; fails the test at the deadline."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError(f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(interval)


def planner_page(script="", body=""):
    """A planner page with the page driver, an inline script run at load and some body HTML."""
    return f"""<!doctype html>
<html><head><meta charset="utf-8"><title>Planner under test</title>
<script src="/harness.js"></script>
<script src="/bridge-tools.js"></script>
<script>{script}</script>
</head><body>{body}</body></html>
"""


class Hub:
    """What the test servers share with the test: routes, reports and the page driver's queues."""

    def __init__(self):
        self.lock = threading.Condition()
        self.routes = {}
        self.reports = []
        self.documents = []
        self.commands = {}
        self.results = {}
        self.next_command = 1
        self.requests = []

    def route(self, path, body, content_type="text/html; charset=utf-8", status=200, headers=None):
        """Serves body (text or bytes) at path in place of any file."""
        if isinstance(body, str):
            body = body.encode("utf-8")
        with self.lock:
            self.routes[path] = (status, content_type, body, dict(headers or {}))

    def add_report(self, report):
        with self.lock:
            self.reports.append(report)
            self.lock.notify_all()

    def wait_report(self, name, timeout=DEFAULT_TIMEOUT, count=1):
        """The value of the count-th report named name, waiting for it."""
        with self.lock:
            if not self.lock.wait_for(lambda: len(self.reports_named(name)) >= count, timeout):
                raise AssertionError(f"no report {name!r} within {timeout:g} s; got {self.reports}")
            return self.reports_named(name)[count - 1]

    def reports_named(self, name):
        with self.lock:
            return [r.get("value") for r in self.reports if r.get("name") == name]

    def hello(self, document):
        with self.lock:
            self.documents.append(document)
            self.commands.setdefault(document["doc"], [])
            self.lock.notify_all()

    def wait_document(self, after=0, timeout=DEFAULT_TIMEOUT):
        """The first top-level document to say hello after the given number of documents."""
        with self.lock:
            if not self.lock.wait_for(
                    lambda: any(d.get("top") for d in self.documents[after:]), timeout):
                raise AssertionError(f"no planner document loaded within {timeout:g} s")
            return next(d for d in self.documents[after:] if d.get("top"))

    def document_count(self):
        return len(self.documents)

    def send(self, doc, code):
        with self.lock:
            command_id = self.next_command
            self.next_command += 1
            self.commands.setdefault(doc, []).append({"id": command_id, "code": code})
            self.lock.notify_all()
            return command_id

    def take_command(self, doc, timeout):
        with self.lock:
            if not self.lock.wait_for(lambda: self.commands.get(doc), timeout):
                return None
            return self.commands[doc].pop(0)

    def add_result(self, result):
        with self.lock:
            self.results[result.get("id")] = result
            self.lock.notify_all()

    def wait_result(self, command_id, timeout):
        with self.lock:
            if not self.lock.wait_for(lambda: command_id in self.results, timeout):
                raise AssertionError(f"the page did not finish command {command_id} within {timeout:g} s")
            return self.results.pop(command_id)


class PageError(Exception):
    """Code run in the page threw; the message is the page's."""


class Page:
    """The planner document the test drives through pages/harness.js."""

    def __init__(self, hub):
        self.hub = hub
        self.doc = None

    def wait_loaded(self, after=0, timeout=DEFAULT_TIMEOUT):
        document = self.hub.wait_document(after, timeout)
        self.doc = document["doc"]
        return document

    def run(self, code, timeout=DEFAULT_TIMEOUT):
        """Runs code as the body of an async function in the page and returns its JSON result."""
        result = self.hub.wait_result(self.send(code), timeout)
        if "error" in result:
            raise PageError(result["error"])
        return result.get("value")

    def send(self, code):
        """Runs code in the page without waiting for it, for code that leaves the document."""
        if self.doc is None:
            self.wait_loaded()
        return self.hub.send(self.doc, code)

    def request(self, method, *args, timeout=DEFAULT_TIMEOUT):
        """Calls window.BrindleDesktop.request and returns {"value": ...} or {"error": ...}."""
        arguments = ", ".join(json.dumps(a) for a in (method, *args))
        return self.run(f"""
            try {{ return {{ value: await window.BrindleDesktop.request({arguments}) }}; }}
            catch (error) {{ return {{ error: error.message }}; }}""", timeout)


def make_handler(hub):
    class Handler(BaseHTTPRequestHandler):
        server_version = "BrindleTest/1"

        def setup(self):
            # The handshake runs here, in the request's own thread, so a client that never
            # finishes it cannot stall the server.
            self.request.settimeout(30)
            if isinstance(self.request, ssl.SSLSocket):
                self.request.do_handshake()
            super().setup()

        def log_message(self, format, *args):
            pass

        def reply(self, status, body=b"", content_type="text/plain; charset=utf-8", headers=None):
            self.send_response(status)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Cache-Control", "no-store")
            for name, value in (headers or {}).items():
                self.send_header(name, value)
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(body)

        def read_json(self):
            length = int(self.headers.get("Content-Length") or 0)
            return json.loads(self.rfile.read(length).decode("utf-8") or "null")

        def do_GET(self):
            url = urlsplit(self.path)
            with hub.lock:
                hub.requests.append(url.path)
                route = hub.routes.get(url.path)
            if route:
                status, content_type, body, headers = route
                return self.reply(status, body, content_type, headers)
            if url.path == "/harness/next":
                doc = parse_qs(url.query).get("doc", [""])[0]
                command = hub.take_command(doc, 1.0)
                if command is None:
                    return self.reply(204)
                return self.reply(200, json.dumps(command).encode(), "application/json")
            if url.path == "/planner":
                return self.reply(200, planner_page().encode(), "text/html; charset=utf-8")
            name = url.path.lstrip("/")
            if name and "/" not in name and not name.startswith("."):
                return self.file(PAGES_DIR / name)
            return self.reply(404)

        do_HEAD = do_GET

        def file(self, path):
            if not path.is_file():
                return self.reply(404)
            types = {".html": "text/html; charset=utf-8", ".js": "text/javascript; charset=utf-8"}
            return self.reply(200, path.read_bytes(), types.get(path.suffix, "application/octet-stream"))

        def do_POST(self):
            path = urlsplit(self.path).path
            try:
                payload = self.read_json()
            except ValueError:
                return self.reply(400)
            if path == "/report":
                hub.add_report(payload)
            elif path == "/harness/hello":
                hub.hello(payload)
            elif path == "/harness/result":
                hub.add_result(payload)
            else:
                return self.reply(404)
            return self.reply(204)

    return Handler


class TestServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, hub, port, secure=True):
        # Another build's tests may hold the port for a while on a shared machine.
        def bound():
            try:
                super(TestServer, self).__init__(("127.0.0.1", port), make_handler(hub))
                return True
            except OSError:
                return False
        wait_for(bound, 300, f"port {port} to be free", interval=1.0)
        if secure:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(CERTIFICATE, PRIVATE_KEY)
            self.socket = context.wrap_socket(self.socket, server_side=True, do_handshake_on_connect=False)
        self.port = self.server_address[1]
        self.thread = threading.Thread(target=self.serve_forever, daemon=True)
        self.thread.start()

    def handle_error(self, request, client_address):
        # Clients hang up in the middle of long polls and handshakes; that is no failure.
        pass

    def stop(self):
        self.shutdown()
        self.server_close()


class NotificationServer:
    def __init__(self, log_path, parameters=()):
        self.log_path = log_path
        self.process = subprocess.Popen(
            ["/usr/bin/python3", "-m", "dbusmock", "--template", "notification_daemon", "-l", str(log_path),
             *parameters], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.bus = dbus.SessionBus()
        wait_for(lambda: self.bus.name_has_owner(NOTIFICATIONS_NAME), what="the notification server")
        self.mock = dbus.Interface(self.bus.get_object(NOTIFICATIONS_NAME, NOTIFICATIONS_PATH), MOCK_INTERFACE)

    def notifications(self):
        """Every Notify call so far, as dicts of its arguments."""
        return [{"app_name": str(args[0]), "replaces_id": int(args[1]), "app_icon": str(args[2]),
                 "summary": str(args[3]), "body": str(args[4]), "actions": [str(a) for a in args[5]],
                 "hints": {str(k): v for k, v in args[6].items()}}
                for _, args in self.mock.GetMethodCalls("Notify")]

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


class Brindle:
    """One run of the real binary; with start=False, set up routes and files before `start()`."""

    def __init__(self, notifications=True, start=True):
        self.binary = os.environ.get("BRINDLE_BINARY")
        if not self.binary:
            raise unittest.SkipTest("BRINDLE_BINARY is not set; run the tests through ctest")
        self.root = Path(tempfile.mkdtemp(prefix="brindle-e2e-"))
        self.data_home = self.root / "data"
        self.config_home = self.root / "config"
        self.home = self.root / "home"
        for folder in (self.data_home, self.config_home, self.home, self.root / "cache"):
            folder.mkdir()
        self.store_path = self.data_home / "Brindle" / "alarms.json"
        self.defaults_path = self.config_home / "Brindle" / "defaults.json"
        self.opened_path = self.root / "opened-urls.txt"
        self.log_path = self.root / "brindle.log"
        self.hub = Hub()
        self.page = Page(self.hub)
        self.servers = []
        self.process = None
        self.log = None
        self.notification_server = None
        self.want_notifications = notifications
        self.start_on_enter = start
        self._install_browser()

    def _install_browser(self):
        applications = self.data_home / "applications"
        applications.mkdir()
        browser = self.root / "browser.sh"
        browser.write_text(f'#!/bin/sh\nprintf "%s\\n" "$1" >> "{self.opened_path}"\n')
        browser.chmod(0o755)
        (applications / "brindle-test-browser.desktop").write_text(
            "[Desktop Entry]\nType=Application\nName=Test browser\n"
            f"Exec={browser} %u\nMimeType=x-scheme-handler/https;x-scheme-handler/http;\nNoDisplay=true\n")
        (self.config_home / "mimeapps.list").write_text(
            "[Default Applications]\n"
            "x-scheme-handler/https=brindle-test-browser.desktop\n"
            "x-scheme-handler/http=brindle-test-browser.desktop\n")

    def write_store(self, alarms):
        """Writes alarms.json before launch: a list is written as JSON, text as it is."""
        self.store_path.parent.mkdir(parents=True, exist_ok=True)
        text = alarms if isinstance(alarms, (str, bytes)) else json.dumps(alarms)
        if isinstance(text, str):
            text = text.encode("utf-8")
        self.store_path.write_bytes(text)

    def environment(self):
        env = dict(os.environ)
        env.update({
            "HOME": str(self.home),
            "XDG_DATA_HOME": str(self.data_home),
            "XDG_CONFIG_HOME": str(self.config_home),
            "XDG_CACHE_HOME": str(self.root / "cache"),
            "GSETTINGS_BACKEND": "memory",
            "NO_AT_BRIDGE": env.get("NO_AT_BRIDGE", "1"),
        })
        return env

    def start(self):
        self.start_servers()
        if self.want_notifications:
            self.notification_server = NotificationServer(self.root / "notifications.log")
        self.relaunch()
        return self

    def start_servers(self):
        """Starts the test servers alone, for tests that launch the binary with relaunch()."""
        self.servers.append(TestServer(self.hub, APP_PORT))
        self.servers.append(TestServer(self.hub, 0))
        return self

    def relaunch(self):
        """Starts the binary (again) in the same folders once any run before has ended, logging on
        into the same file. Without start() before, no servers run (a second Brindle on one hub)."""
        if self.process and self.process.poll() is None:
            raise AssertionError("Brindle is still running")
        if self.log is None:
            self.log = open(self.log_path, "ab")
        self.process = subprocess.Popen([self.binary], env=self.environment(), stdout=self.log,
                                        stderr=subprocess.STDOUT, cwd=self.root)
        return self.process

    def kill(self):
        """Ends Brindle at once with SIGKILL, as a crash or the out-of-memory killer would."""
        if self.process and self.process.poll() is None:
            self.process.kill()
        if self.process:
            self.process.wait()

    @property
    def other_origin(self):
        """The address of the second server: the planner's host on another port."""
        return f"https://{APP_HOST}:{self.servers[1].port}"

    def wait_planner(self, after=0, timeout=DEFAULT_TIMEOUT):
        """Waits for the planner document after the first `after` ones to load, and drives it."""
        deadline = time.monotonic() + timeout
        while True:
            self.check_running()
            try:
                return self.page.wait_loaded(after, 0.5)
            except AssertionError:
                if time.monotonic() >= deadline:
                    raise AssertionError(f"the planner page did not load within {timeout:g} s:\n{self.output()}")

    def check_running(self):
        if self.process and self.process.poll() is not None:
            raise AssertionError(f"Brindle exited with {self.process.returncode}:\n{self.output()}")

    def output(self):
        try:
            return self.log_path.read_text(errors="replace")
        except OSError:
            return ""

    def stop(self):
        """Ends Brindle the way the session would (SIGTERM), then the servers; kills only as a last resort."""
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.log:
            self.log.close()
            self.log = None
        if self.notification_server:
            self.notification_server.stop()
        for server in self.servers:
            server.stop()
        self.servers = []

    def __enter__(self):
        return self.start() if self.start_on_enter else self

    def __exit__(self, kind, value, trace):
        self.stop()
        if kind is not None:
            print(f"--- Brindle's output (exit status {self.process and self.process.returncode}):\n"
                  f"{self.output()}---", file=sys.stderr)
        if kind is not None and os.environ.get("BRINDLE_E2E_KEEP"):
            print(f"kept {self.root}", file=sys.stderr)
        else:
            shutil.rmtree(self.root, ignore_errors=True)
        return False

    def stored_alarms(self):
        """The parsed store file, or None while there is none."""
        data = self.store_bytes()
        return None if data is None else json.loads(data.decode("utf-8"))

    def store_bytes(self):
        try:
            return self.store_path.read_bytes()
        except FileNotFoundError:
            return None

    def opened_urls(self):
        return self.opened_path.read_text().splitlines() if self.opened_path.exists() else []

    def notifications(self):
        return self.notification_server.notifications() if self.notification_server else []


def now_ms():
    return time.time() * 1000.0


def main():
    """unittest's main, with output that names each test."""
    unittest.main(verbosity=2)
