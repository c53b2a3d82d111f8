#!/usr/bin/python3
"""The demo planner's HTTPS server as a real process: what it serves, what it refuses, how it ends."""

import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
from http.client import HTTPSConnection
from pathlib import Path

SOURCE_DIR = Path(os.environ.get("BRINDLE_SOURCE_DIR", Path(__file__).resolve().parents[2]))
SERVE = SOURCE_DIR / "demo" / "serve.py"


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class DemoServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = Path(tempfile.mkdtemp(prefix="brindle-demo-server-"))
        cls.cert_dir = cls.scratch / "cert"
        cls.port = free_port()
        cls.server = subprocess.Popen(
            [sys.executable, "-u", str(SERVE), "--port", str(cls.port), "--cert-dir", str(cls.cert_dir)],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        banner = cls.server.stdout.readline()
        if not banner.startswith("Serving the planner"):
            cls.server.kill()
            raise RuntimeError(f"the server did not start: {banner}{cls.server.stdout.read()}")
        # Trusting exactly the certificate the server made is what Brindle's build does too.
        cls.context = ssl.create_default_context(cafile=str(cls.cert_dir / "localhost.pem"))

    @classmethod
    def tearDownClass(cls):
        if cls.server.poll() is None:
            cls.server.kill()
            cls.server.wait()
        cls.server.stdout.close()
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def get(self, path):
        connection = HTTPSConnection("localhost", self.port, context=self.context, timeout=10)
        try:
            # Sent as written: the client must not tidy "/../" away before the server sees it.
            connection.putrequest("GET", path, skip_accept_encoding=True)
            connection.endheaders()
            response = connection.getresponse()
            return response.status, dict(response.getheaders()), response.read()
        finally:
            connection.close()

    def test_serves_the_planner_and_its_files_over_verified_tls(self):
        status, headers, body = self.get("/planner")
        self.assertEqual((status, headers["Content-Type"].split(";")[0]), (200, "text/html"))
        self.assertIn(b'src="/planner/planner.js"', body)
        self.assertIn("default-src 'self'", headers["Content-Security-Policy"])

        for path, kind in (("/planner/planner.js", "text/javascript"), ("/planner/planner.css", "text/css"),
                           ("/assets/planner.css", "text/css")):
            with self.subTest(path=path):
                status, headers, body = self.get(path)
                self.assertEqual((status, headers["Content-Type"].split(";")[0]), (200, kind))
                self.assertEqual(body, (SOURCE_DIR / "demo" / "planner" / Path(path).name).read_bytes())

        status, headers, _ = self.get("/")
        self.assertEqual((status, headers["Location"]), (302, "/planner"))

    def test_nothing_outside_the_planner_folder_is_reachable(self):
        for path in ("/planner/../serve.py", "/planner/%2e%2e/serve.py", "/planner/..%2fserve.py",
                     "/assets/%2E%2E%2F%2E%2E%2Fdemo%2Fserve.py", "/planner//etc/passwd",
                     "/planner/%2Fetc%2Fpasswd", "/serve.py", "/demo/serve.py", "/planner/.hidden",
                     "/planner/missing.js", "/.cert/localhost-key.pem", "/planner/..\\serve.py"):
            with self.subTest(path=path):
                status, _, body = self.get(path)
                self.assertEqual(status, 404)
                self.assertFalse(b"PRIVATE KEY" in body or b"import " in body)

    def test_certificate_is_made_once_and_reused(self):
        certificate = self.cert_dir / "localhost.pem"
        key = self.cert_dir / "localhost-key.pem"
        self.assertEqual(key.stat().st_mode & 0o077, 0, "the private key is readable by others")
        subject = subprocess.run(["openssl", "x509", "-in", str(certificate), "-noout", "-ext",
                                  "subjectAltName"], check=True, capture_output=True, text=True).stdout
        self.assertIn("DNS:localhost", subject)

        before = certificate.read_bytes()
        printed = subprocess.run([sys.executable, str(SERVE), "--cert-dir", str(self.cert_dir),
                                  "--print-certificate"], check=True, capture_output=True, text=True)
        self.assertEqual(printed.stdout.strip(), str(certificate))
        self.assertEqual(certificate.read_bytes(), before)
        self.assertEqual(sorted(p.name for p in self.cert_dir.iterdir()), ["localhost-key.pem", "localhost.pem"])


class DemoServerLifetimeTest(unittest.TestCase):
    def start(self, cert_dir, port):
        server = subprocess.Popen([sys.executable, "-u", str(SERVE), "--port", str(port), "--cert-dir", str(cert_dir),
                                   "--quiet"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.addCleanup(server.stdout.close)
        self.addCleanup(lambda: server.poll() is None and (server.kill(), server.wait()))
        return server

    def test_ends_cleanly_on_sigterm_and_sigint_and_a_taken_port_is_reported(self):
        with tempfile.TemporaryDirectory() as scratch, socket.socket() as taken:
            for signum in (signal.SIGTERM, signal.SIGINT):
                with self.subTest(signal=signum.name):
                    port = free_port()
                    server = self.start(Path(scratch), port)
                    self.assertTrue(server.stdout.readline().startswith("Serving the planner"))
                    # An idle client holding a connection open must not keep the server alive.
                    idle = socket.create_connection(("127.0.0.1", port))
                    self.addCleanup(idle.close)
                    time.sleep(0.2)
                    server.send_signal(signum)
                    self.assertEqual(server.wait(timeout=10), 0)
                    # The port is free again for a server that reuses addresses, as this probe does.
                    with socket.socket() as probe:
                        probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                        probe.bind(("127.0.0.1", port))

            taken.bind(("127.0.0.1", 0))
            taken.listen()
            server = self.start(Path(scratch), taken.getsockname()[1])
            self.assertEqual(server.wait(timeout=20), 1)
            self.assertIn("cannot listen", server.stdout.read())


if __name__ == "__main__":
    unittest.main(verbosity=2)
