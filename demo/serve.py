#!/usr/bin/env python3
"""Serves Brindle's demo planner over HTTPS on this machine.

The planner page is plain files under demo/planner/; this server hands them out at
https://localhost:<port>/planner with a self-signed certificate for localhost, which it makes
with the openssl command line the first time it runs. A development build of Brindle is told to
trust exactly that certificate (BRINDLE_TRUSTED_CERTIFICATE), so nothing else needs to trust it.

Only the Python standard library is used, so the demo runs wherever python3 does.
"""

import argparse
import http.server
import mimetypes
import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
from pathlib import Path
from urllib.parse import unquote

DEMO_DIR = Path(__file__).resolve().parent
DEFAULT_ROOT = DEMO_DIR / "planner"
DEFAULT_CERT_DIR = DEMO_DIR / ".cert"
CERT_NAME = "localhost.pem"
KEY_NAME = "localhost-key.pem"

# The page loads nothing from elsewhere; saying so keeps a stray injection from reaching out.
# Brindle's own page script and reply scripts come from the application, not from the page, and
# the web view does not hold them to this policy.
SECURITY_HEADERS = {
    "Content-Security-Policy": "default-src 'self'; script-src 'self'; style-src 'self'; "
    "img-src 'self' data:; object-src 'none'; base-uri 'none'; form-action 'none'; "
    "frame-ancestors 'none'",
    "X-Content-Type-Options": "nosniff",
    "Referrer-Policy": "no-referrer",
    "Cache-Control": "no-cache",
}

CONTENT_TYPES = {
    ".html": "text/html; charset=utf-8",
    ".css": "text/css; charset=utf-8",
    ".js": "text/javascript; charset=utf-8",
    ".svg": "image/svg+xml",
    ".png": "image/png",
    ".ico": "image/x-icon",
    ".json": "application/json",
}


def certificate_paths(cert_dir):
    return cert_dir / CERT_NAME, cert_dir / KEY_NAME


def ensure_certificate(cert_dir):
    """Returns the certificate and key paths, making a new pair when either is missing.

    The pair is made in a scratch folder beside the final one and moved into place only when
    openssl has finished, so an interrupted first run never leaves a key without its
    certificate for the next run to trip over.
    """
    cert, key = certificate_paths(cert_dir)
    if cert.is_file() and key.is_file():
        return cert, key
    if shutil.which("openssl") is None:
        raise RuntimeError("openssl is needed to make the demo certificate; install it first")
    cert_dir.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=cert_dir, prefix=".new-") as scratch:
        new_cert = Path(scratch) / CERT_NAME
        new_key = Path(scratch) / KEY_NAME
        subprocess.run(
            [
                "openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256",
                "-days", "3650", "-subj", "/CN=localhost",
                "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1",
                "-addext", "basicConstraints=critical,CA:FALSE",
                "-addext", "extendedKeyUsage=serverAuth",
                "-keyout", str(new_key), "-out", str(new_cert),
            ],
            check=True,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE,
        )
        os.chmod(new_key, 0o600)
        os.replace(new_key, key)
        os.replace(new_cert, cert)
    return cert, key


class PlannerHandler(http.server.BaseHTTPRequestHandler):
    """Answers GET and HEAD for the planner and its files; everything else is refused."""

    server_version = "BrindleDemo"
    sys_version = ""
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        self.respond(send_body=True)

    def do_HEAD(self):
        self.respond(send_body=False)

    def respond(self, send_body):
        path = self.path.split("?", 1)[0].split("#", 1)[0]
        if path in ("/", "/index.html"):
            self.send_plain(302, "", location="/planner")
            return
        if path in ("/planner", "/planner/"):
            path = "/planner/index.html"
        file = self.server.resolve(path)
        if file is None:
            self.send_plain(404, "Not found\n", send_body=send_body)
            return
        try:
            body = file.read_bytes()
        except OSError:
            self.send_plain(404, "Not found\n", send_body=send_body)
            return
        content_type = CONTENT_TYPES.get(file.suffix) or mimetypes.guess_type(file.name)[0]
        self.send_response(200)
        self.send_header("Content-Type", content_type or "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        for name, value in SECURITY_HEADERS.items():
            self.send_header(name, value)
        self.end_headers()
        if send_body:
            self.wfile.write(body)

    def send_plain(self, status, text, location=None, send_body=True):
        body = text.encode()
        self.send_response(status)
        if location:
            self.send_header("Location", location)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("X-Content-Type-Options", "nosniff")
        self.end_headers()
        if send_body:
            self.wfile.write(body)

    def log_message(self, format, *args):
        if not self.server.quiet:
            super().log_message(format, *args)


class PlannerServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, root, context, quiet):
        self.root = root.resolve()
        self.context = context
        self.quiet = quiet
        super().__init__(address, PlannerHandler)

    def resolve(self, url_path):
        """Maps "/planner/<file>" and "/assets/<file>" to a file under the planner folder.

        Anything that would leave the folder (.., encoded slashes, links pointing out) maps to
        nothing, as do hidden files and folders.
        """
        for prefix in ("/planner/", "/assets/"):
            if url_path.startswith(prefix):
                relative = unquote(url_path[len(prefix):])
                break
        else:
            return None
        parts = relative.split("/")
        if not relative or any(part in ("", ".", "..") or part.startswith(".") for part in parts):
            return None
        if "\\" in relative or "\0" in relative:
            return None
        candidate = (self.root / relative).resolve()
        if not candidate.is_relative_to(self.root) or not candidate.is_file():
            return None
        return candidate

    def get_request(self):
        # The TLS handshake runs in the request's own thread (on its first read), so a client
        # that connects and stays silent cannot hold up everyone else in accept().
        connection, address = super().get_request()
        connection.settimeout(30)
        return (
            self.context.wrap_socket(connection, server_side=True, do_handshake_on_connect=False),
            address,
        )

    def handle_error(self, request, client_address):
        # Browsers drop speculative connections and reject the certificate of a first visit;
        # neither is worth a traceback.
        error = sys.exc_info()[1]
        if isinstance(error, (ssl.SSLError, ConnectionError, TimeoutError, socket.timeout)):
            return
        super().handle_error(request, client_address)


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        description="Serve Brindle's demo planner at https://localhost:PORT/planner."
    )
    parser.add_argument("--port", type=int, default=8443, help="port to listen on (default 8443)")
    parser.add_argument("--bind", default="127.0.0.1", help="address to listen on (default 127.0.0.1)")
    parser.add_argument("--root", type=Path, default=DEFAULT_ROOT, help="folder holding the planner files")
    parser.add_argument("--cert-dir", type=Path, default=DEFAULT_CERT_DIR,
                        help="folder of the self-signed certificate (default demo/.cert)")
    parser.add_argument("--print-certificate", action="store_true",
                        help="make the certificate if it is missing, print its path and exit")
    parser.add_argument("--quiet", action="store_true", help="do not log each request")
    return parser.parse_args(argv)


def main(argv=None):
    arguments = parse_arguments(sys.argv[1:] if argv is None else argv)
    try:
        cert, key = ensure_certificate(arguments.cert_dir.resolve())
    except (RuntimeError, OSError, subprocess.CalledProcessError) as error:
        detail = getattr(error, "stderr", None)
        print(f"serve.py: cannot make the certificate: {error}", file=sys.stderr)
        if detail:
            sys.stderr.write(detail.decode(errors="replace"))
        return 1
    if arguments.print_certificate:
        print(cert)
        return 0

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(cert, key)

    try:
        server = PlannerServer((arguments.bind, arguments.port), arguments.root, context, arguments.quiet)
    except OSError as error:
        print(f"serve.py: cannot listen on {arguments.bind}:{arguments.port}: {error.strerror}",
              file=sys.stderr)
        return 1

    # SIGTERM (from run-demo's trap, or a service manager) ends the server like Ctrl-C does.
    stopping = threading.Event()

    def stop(signum, frame):
        if not stopping.is_set():
            stopping.set()
            threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    print(f"Serving the planner at https://localhost:{server.server_address[1]}/planner", flush=True)
    print(f"Certificate: {cert}", flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
