#!/usr/bin/python3
"""`cmake --install` lays Brindle out, and the installed Brindle rings with its sounds from there."""

import contextlib
import os
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

import harness
from harness import alarm, need, now_ms, wait_for


def open_files(pid):
    paths = []
    for descriptor in Path(f"/proc/{pid}/fd").glob("*"):
        with contextlib.suppress(OSError):  # Closed while the folder was read.
            paths.append(os.readlink(descriptor))
    return paths


class InstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        build = need(os.environ.get("BRINDLE_BUILD_DIR"), "BRINDLE_BUILD_DIR, which ctest sets")
        cls.prefix = Path(tempfile.mkdtemp(prefix="brindle-prefix-"))
        cls.addClassCleanup(shutil.rmtree, cls.prefix, ignore_errors=True)
        result = subprocess.run(["cmake", "--install", build, "--prefix", str(cls.prefix)], capture_output=True, text=True)
        assert result.returncode == 0, f"cmake --install failed:\n{result.stdout}{result.stderr}"

    def test_package_carries_the_install_tree(self):
        package = Path(tempfile.mkdtemp(prefix="brindle-package-"))
        self.addCleanup(shutil.rmtree, package, ignore_errors=True)
        config = Path(os.environ["BRINDLE_BUILD_DIR"], "CPackConfig.cmake")
        made = subprocess.run(["cpack", "--config", config, "-B", package], capture_output=True, text=True)
        self.assertEqual(made.returncode, 0, made.stdout + made.stderr)
        deb, = package.glob("brindle_*_amd64.deb")
        listing = subprocess.run(["dpkg-deb", "-c", str(deb)], capture_output=True, text=True, check=True).stdout
        # A link's line ends "path -> target".
        files = sorted(line.split(" -> ")[0].split()[-1][1:] for line in listing.splitlines() if not line.startswith("d"))
        installed = sorted("/" + str(path.relative_to(self.prefix)) for path in self.prefix.rglob("*")
                           if path.is_file() and not path.is_relative_to(self.prefix / "etc"))
        self.assertIn("/etc/xdg/autostart/app.brindle.Brindle.desktop", files)
        self.assertIn("/usr/lib/systemd/user/graphical-session.target.wants/app.brindle.Brindle.service", files)
        self.assertEqual([path for path in files if not path.startswith("/etc/")],
                         [path.replace("/", "/usr/", 1) for path in installed])
        depends = subprocess.run(["dpkg-deb", "-f", str(deb), "Depends"], capture_output=True, text=True).stdout
        for package_name in ("libwebkit2gtk-4.1-0", "libgstreamer1.0-0", "bubblewrap", "gstreamer1.0-plugins-good"):
            self.assertIn(package_name, depends)

    def test_installed_brindle_rings_with_the_sound_beside_it(self):
        self.ring_installed(self.prefix / "bin" / "brindle")

    def test_rings_unsandboxed_where_bubblewrap_cannot_start(self):
        need(os.geteuid() == 0 and subprocess.run(["unshare", "-m", "true"]).returncode == 0,
             "root in a mount namespace of its own, to bind a failing bubblewrap over /usr/bin/bwrap")
        scripts = Path(tempfile.mkdtemp(prefix="brindle-bwrap-"))
        self.addCleanup(shutil.rmtree, scripts, ignore_errors=True)
        stub, wrapper = scripts / "bwrap", scripts / "brindle"
        stub.write_text("#!/bin/sh\necho 'bwrap: No permissions to create new namespace' >&2\nexit 1\n")
        wrapper.write_text(f"#!/bin/sh\nexec unshare -m sh -c 'mount --bind {stub} /usr/bin/bwrap && "
                           f"exec {self.prefix}/bin/brindle'\n")
        for script in (stub, wrapper):
            script.chmod(0o755)
        self.assertIn("without its sandbox", self.ring_installed(wrapper))

    def ring_installed(self, binary):
        with harness.Brindle(start=False) as brindle:
            brindle.binary = str(binary)
            brindle.start().wait_planner()
            brindle.schedule(alarm("t1/main", now_ms() + 2000, "Take the bread out", sound="digital"))
            brindle.wait_panel()

            # The player reads the WAV from the installed prefix, not from the build tree.
            sound = str(self.prefix / "share" / "brindle" / "sounds" / "digital.wav")
            wait_for(lambda: sound in open_files(brindle.process.pid), what="the installed sound to be open")
            self.assertEqual([path for path in open_files(brindle.process.pid) if path.endswith(".wav")
                              and not path.startswith(str(self.prefix))], [])
            return brindle.log_path.read_text(errors="replace")


if __name__ == "__main__":
    harness.main()
