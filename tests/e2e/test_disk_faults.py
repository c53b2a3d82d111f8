"""The real Brindle against a broken disk: a store or defaults file that is corrupt, empty, a
folder, a named pipe or a link to a device, a read-only data folder, a full disk, and a store
behind a symbolic link. Brindle keeps running, the file it could not replace stays whole, the
schedule in memory still rings on time, the next save that can succeed writes it out, and no
temporary file is left beside the store.
"""

import contextlib
import json
import os
import stat
import subprocess
import unittest
from pathlib import Path

from desktop import visible_windows
from harness import Brindle, main, now_ms, wait_for

HOUR_MS = 3_600_000
# The first alarm falls due while the disk is broken, the second only after the repair.
FIRST_LEAD_MS, SECOND_LEAD_MS = 3000.0, 15000.0


def alarm(key, at, title, mode="reminder"):
    return {"key": key, "at": at, "title": title, "sound": "bell", "mode": mode}


def run(*command):
    return subprocess.run(command, capture_output=True, text=True).returncode == 0


def can_create_in(folder):
    probe = Path(folder) / ".brindle-probe"
    try:
        probe.write_bytes(b"")
    except OSError:
        return False
    probe.unlink()
    return True


@contextlib.contextmanager
def read_only(folder):
    """Makes folder read-only for Brindle within the block. Root ignores permission bits, so as
    root the folder is bind-mounted read-only onto itself, else made immutable with chattr."""
    folder = str(folder)
    if os.geteuid() != 0:
        os.chmod(folder, 0o555)
        try:
            yield
        finally:
            os.chmod(folder, 0o755)
        return
    if run("mount", "--bind", folder, folder):
        if run("mount", "-o", "remount,bind,ro", folder) and not can_create_in(folder):
            try:
                yield
            finally:
                run("umount", folder) or run("umount", "-l", folder)
            return
        run("umount", folder)
    if run("chattr", "+i", folder) and not can_create_in(folder):
        try:
            yield
        finally:
            run("chattr", "-i", folder)
        return
    raise unittest.SkipTest("no way to make a folder read-only for root here (mount, chattr)")


def fill(folder):
    """Writes a file into folder until not one more byte fits; gives the file."""
    filler = Path(folder) / "filler"
    descriptor = os.open(filler, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    try:
        for size in (65536, 4096, 1):
            with contextlib.suppress(OSError):
                while os.write(descriptor, b"\0" * size):
                    pass
    finally:
        os.close(descriptor)
    return filler


class DiskFaultTest(unittest.TestCase):
    def wait_delivered(self, brindle, due):
        def delivered():
            brindle.check_running()
            if due["mode"] == "alarm":
                return visible_windows(brindle.process.pid, "Brindle alarm")
            return any(n["body"] == due["title"] for n in brindle.notifications())
        wait_for(delivered, what=f"the delivery of {due['title']!r}")
        # An answer comes only after the main loop has finished the tick before it.
        self.assertEqual(brindle.page.request("stop"), {"value": True})

    def schedule(self, brindle, alarms):
        # A failed save is no failure of the request: the schedule is taken and rings.
        reply = brindle.page.request("schedule", {"alarms": alarms, "taskIds": ["t1", "t2"]})
        self.assertEqual(reply, {"value": True})

    def assert_only_file(self, path):
        self.assertEqual(sorted(set(os.listdir(path.parent)) - {"WebKit"}), [path.name])

    def ring_through_the_fault(self, brindle, repair, unchanged, first_mode="reminder"):
        """Schedules two alarms; the fault keeps the old file (`unchanged` checks it) while the
        first rings; after the repair the second one's delivery writes the schedule out."""
        now = now_ms()
        alarms = [alarm("t1/first", now + FIRST_LEAD_MS, "While the disk is broken", first_mode),
                  alarm("t2/second", now + SECOND_LEAD_MS, "After the repair")]
        self.schedule(brindle, alarms)
        unchanged()
        self.wait_delivered(brindle, alarms[0])
        unchanged()
        repair()
        self.wait_delivered(brindle, alarms[1])
        self.assertEqual(brindle.stored_alarms(), alarms)
        self.assert_only_file(brindle.store_path)
        return alarms


class StoreFaults(DiskFaultTest):
    def test_a_store_and_defaults_that_cannot_be_read_are_replaced_at_the_next_save(self):
        earlier = json.dumps([alarm("t9/old", now_ms() + HOUR_MS, "Old")])
        for name, store, defaults in [
                ("not JSON", b"[{\"key\": \"t1\", \"at\": 1", b"{\"fired\": ["),
                ("of the wrong shape", earlier.replace(', "mode": "reminder"', "").encode(), b"{\"fired\": [1, 2]}"),
                ("of the wrong type", b"{\"alarms\": []}", b"[\"t1/soon1\"]"),
                ("empty", b"", b"")]:
            with self.subTest(name), Brindle() as brindle:
                brindle.write_store(store)
                brindle.defaults_path.parent.mkdir(parents=True)
                brindle.defaults_path.write_bytes(defaults)
                brindle.wait_planner()
                self.assertEqual(brindle.store_bytes(), store)
                due = alarm("t1/soon", now_ms() + FIRST_LEAD_MS, f"After files that are {name}")
                self.schedule(brindle, [due])
                self.wait_delivered(brindle, due)
                # Nothing of the broken store was scheduled: the new schedule alone is stored.
                self.assertEqual(brindle.stored_alarms(), [due])
                self.assertEqual(json.loads(brindle.defaults_path.read_text()), {"fired": [f"t1/soon{due['at']!r}"]})
                self.assert_only_file(brindle.store_path)
                self.assert_only_file(brindle.defaults_path)

    def test_something_other_than_a_file_in_place_of_the_store_or_defaults_stays_and_alarms_ring(self):
        def folder(brindle):
            brindle.store_path.mkdir(parents=True)
            (brindle.store_path / "kept").write_text("mine")
            return (lambda: self.assertEqual((brindle.store_path / "kept").read_text(), "mine"),
                    lambda: ((brindle.store_path / "kept").unlink(), brindle.store_path.rmdir()))

        def pipe(brindle):
            brindle.store_path.parent.mkdir(parents=True)
            os.mkfifo(brindle.store_path)
            return lambda: self.assertTrue(brindle.store_path.is_fifo()), brindle.store_path.unlink

        def device(brindle):
            # A device of the test's own, like /dev/zero, that gives bytes without end.
            zero = brindle.root / "zero"
            os.mknod(zero, 0o666 | stat.S_IFCHR, os.makedev(1, 5))
            brindle.store_path.parent.mkdir(parents=True)
            brindle.store_path.symlink_to(zero)

            def unchanged():
                self.assertTrue(zero.is_char_device() and brindle.store_path.is_symlink())
                self.assertEqual([p.name for p in brindle.root.iterdir() if p.name.startswith(".zero")], [])
            return unchanged, brindle.store_path.unlink

        def defaults_folder(brindle):
            brindle.defaults_path.mkdir(parents=True)
            return (lambda: (self.assertTrue(brindle.defaults_path.is_dir()), self.assert_only_file(brindle.defaults_path)),
                    brindle.defaults_path.rmdir)

        for make, first_mode in ((folder, "alarm"), (pipe, "reminder"), (device, "reminder"),
                                 (defaults_folder, "reminder")):
            if make is device and os.geteuid() != 0:
                continue  # Making a device node needs root.
            with self.subTest(make.__name__), Brindle() as brindle:
                check, repair = make(brindle)
                brindle.wait_planner()

                def unchanged():
                    check()
                    self.assert_only_file(brindle.store_path)
                alarms = self.ring_through_the_fault(brindle, repair, unchanged, first_mode)
                # Both deliveries are remembered: the fired set in memory kept the first one.
                fired = json.loads(brindle.defaults_path.read_text())["fired"]
                self.assertEqual(sorted(fired), sorted(a["key"] + repr(a["at"]) for a in alarms))

    def test_a_read_only_folder_or_a_full_disk_keeps_the_old_store_and_the_schedule_rings(self):
        with self.subTest("read-only folder"), Brindle(start=False) as brindle:
            brindle.write_store([alarm("t1/old", now_ms() + HOUR_MS, "Before the folder became read-only")])
            with contextlib.ExitStack() as repair:
                repair.enter_context(read_only(brindle.store_path.parent))
                self.launch_and_ring(brindle, repair.close, "alarm")

        # The full disk is a 64 KiB tmpfs as the data folder, filled up after launch.
        with self.subTest("full disk"), Brindle(start=False) as brindle:
            if os.geteuid() != 0 or not run("mount", "-t", "tmpfs", "-o", "size=64k,mode=0755", "tmpfs",
                                            str(brindle.data_home)):
                self.skipTest("cannot mount a small tmpfs here")
            try:
                brindle.write_store([alarm("t1/old", now_ms() + HOUR_MS, "Before the disk filled up")])
                # Filled once WebKit has set up its own files, so that only Brindle's writes fail.
                self.launch_and_ring(brindle, None, "reminder")
            finally:
                brindle.stop()
                run("umount", str(brindle.data_home)) or run("umount", "-l", str(brindle.data_home))

    def launch_and_ring(self, brindle, repair, first_mode):
        stored = brindle.store_bytes()
        brindle.start()
        brindle.wait_planner()
        if repair is None:
            repair = fill(brindle.data_home).unlink
            self.assertEqual(os.statvfs(brindle.data_home).f_bavail, 0)

        def unchanged():
            self.assertEqual(brindle.store_bytes(), stored)
            self.assert_only_file(brindle.store_path)
        self.ring_through_the_fault(brindle, repair, unchanged, first_mode)


class LinkedStore(DiskFaultTest):
    def test_a_store_behind_a_link_is_read_and_written_through_it_and_the_link_stays(self):
        with Brindle(start=False) as brindle:
            synced = brindle.root / "synced"
            synced.mkdir()
            target = synced / "alarms.json"
            due = alarm("t1/linked", now_ms() + FIRST_LEAD_MS, "Kept behind a link")
            target.write_text(json.dumps([due]))
            os.chmod(target, 0o600)
            brindle.store_path.parent.mkdir(parents=True)
            brindle.store_path.symlink_to(Path("..") / ".." / "synced" / "alarms.json")
            brindle.start()

            # Loaded through the link at launch, it rings without the page sending anything.
            brindle.wait_planner()
            self.wait_delivered(brindle, due)
            later = [due, alarm("t2/later", now_ms() + HOUR_MS, "Written through the link")]
            self.schedule(brindle, later)
            self.assertEqual(os.readlink(brindle.store_path), "../../synced/alarms.json")
            self.assertEqual(json.loads(target.read_text()), later)
            self.assertEqual(target.stat().st_mode & 0o777, 0o600)
            self.assert_only_file(target)
            self.assert_only_file(brindle.store_path)

    def test_a_dangling_link_gets_its_target_file(self):
        with Brindle(start=False) as brindle:
            target = brindle.root / "elsewhere.json"
            brindle.store_path.parent.mkdir(parents=True)
            brindle.store_path.symlink_to(target)
            brindle.start()
            brindle.wait_planner()
            alarms = [alarm("t1/a", now_ms() + HOUR_MS, "First save")]
            self.schedule(brindle, alarms)
            self.assertTrue(brindle.store_path.is_symlink())
            self.assertEqual(json.loads(target.read_text()), alarms)


if __name__ == "__main__":
    main()
