"""The real Brindle against a broken disk: a store or defaults file that is corrupt, empty, a
folder or a named pipe, a read-only data folder, a full disk, and a store kept behind a symbolic
link. Brindle keeps running, the file it could not replace stays whole, the schedule it holds in
memory still rings on time, the next save that can succeed writes that schedule out, and no
temporary file is ever left beside the store.

A read-only folder needs more than permission bits when the tests run as root, who ignores them:
the folder is bind-mounted read-only onto itself, else made immutable with chattr; a user other
than root gets plain permission bits. A full disk is a 64 KiB tmpfs as the data folder, filled up
after launch; without the right to mount, that test is skipped.
"""

import contextlib
import json
import os
import stat
import subprocess
import unittest
from pathlib import Path

from harness import Brindle, main, now_ms, wait_for

PANEL_TITLE = "Brindle alarm"
# The first alarm falls due while the disk is still broken; the second one only after the test
# has repaired it, with time to spare on a loaded machine.
FIRST_LEAD_MS = 3000.0
SECOND_LEAD_MS = 15000.0
# What WebKit keeps in the data folder beside the store.
WEBKIT_FOLDER = "WebKit"


def alarm(key, at, title, mode="reminder", sound="bell"):
    return {"key": key, "at": at, "title": title, "sound": sound, "mode": mode}


def run(*command):
    return subprocess.run(command, capture_output=True, text=True)


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
    """Makes folder read-only for Brindle for the time of the block; gives how it was done."""
    folder = str(folder)
    if os.geteuid() != 0:
        os.chmod(folder, 0o555)
        try:
            yield "permission bits"
        finally:
            os.chmod(folder, 0o755)
        return
    if run("mount", "--bind", folder, folder).returncode == 0:
        if run("mount", "-o", "remount,bind,ro", folder).returncode == 0 and not can_create_in(folder):
            try:
                yield "a read-only bind mount"
            finally:
                if run("umount", folder).returncode != 0:
                    run("umount", "-l", folder)
            return
        run("umount", folder)
    if run("chattr", "+i", folder).returncode == 0 and not can_create_in(folder):
        try:
            yield "chattr +i"
        finally:
            run("chattr", "-i", folder)
        return
    raise unittest.SkipTest("no way to make a folder read-only for root here (mount, chattr)")


def fill(folder):
    """Writes a file into folder until the file system has no room left, not even for one more
    byte; gives the file."""
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
    def wait_notification(self, brindle, title):
        def arrived():
            brindle.check_running()
            return any(n["body"] == title for n in brindle.notifications())
        wait_for(arrived, what=f"the reminder {title!r}")

    def wait_panel(self, brindle, title):
        def shown():
            brindle.check_running()
            result = run("xdotool", "search", "--onlyvisible", "--pid", str(brindle.process.pid),
                         "--name", f"^{PANEL_TITLE}$")
            return result.returncode == 0 and result.stdout.split()
        wait_for(shown, what=f"the alarm panel for {title!r}")

    def settle(self, brindle):
        """Returns once Brindle's main loop has finished what it was doing: a request's answer
        comes only after the tick that ran before it."""
        self.assertEqual(brindle.page.request("stop"), {"value": True})

    def schedule(self, brindle, alarms):
        reply = brindle.page.request("schedule", {"alarms": alarms, "taskIds": ["t1", "t2"]})
        # A failed save is no failure of the request: the schedule is taken and rings.
        self.assertEqual(reply, {"value": True})

    def assert_nothing_beside(self, brindle, *expected):
        folder = brindle.store_path.parent
        self.assertEqual(sorted(set(os.listdir(folder)) - {WEBKIT_FOLDER}), sorted(expected))

    def two_alarms(self, first_mode="reminder"):
        now = now_ms()
        return [alarm("t1/first", now + FIRST_LEAD_MS, "While the disk is broken", mode=first_mode),
                alarm("t2/second", now + SECOND_LEAD_MS, "After the repair")]

    def ring_through_the_fault_and_save_after_the_repair(self, brindle, repair, unchanged, first_mode="reminder"):
        """The common course: schedule two alarms, see that the fault keeps the old store
        (`unchanged` checks it) while the first rings, repair, and see the second one's
        delivery write the schedule out."""
        alarms = self.two_alarms(first_mode)
        self.schedule(brindle, alarms)
        unchanged()
        if first_mode == "alarm":
            self.wait_panel(brindle, alarms[0]["title"])
        else:
            self.wait_notification(brindle, alarms[0]["title"])
        self.settle(brindle)
        unchanged()
        repair()
        self.wait_notification(brindle, alarms[1]["title"])
        self.settle(brindle)
        self.assertEqual(brindle.stored_alarms(), alarms)
        self.assert_nothing_beside(brindle, "alarms.json")
        return alarms


class StoreFaults(DiskFaultTest):
    def test_a_store_that_cannot_be_read_gives_an_empty_schedule_and_the_next_save_replaces_it(self):
        earlier = json.dumps([alarm("t9/old", now_ms() + 3_600_000, "Old")])
        for name, content in [("not JSON", b"[{\"key\": \"t1\", \"at\": 1"),
                              ("an element without its mode", earlier.replace(', "mode": "reminder"', "").encode()),
                              ("an object", b"{\"alarms\": []}"),
                              ("empty", b"")]:
            with self.subTest(name), Brindle() as brindle:
                brindle.write_store(content)
                brindle.wait_planner()
                # Nothing of the broken file is scheduled: a new, empty schedule keeps nothing.
                self.assertEqual(brindle.store_bytes(), content)
                alarms = [alarm("t1/soon", now_ms() + FIRST_LEAD_MS, f"After a store that is {name}")]
                self.schedule(brindle, alarms)
                self.assertEqual(brindle.stored_alarms(), alarms)
                self.wait_notification(brindle, alarms[0]["title"])
                self.settle(brindle)
                self.assertEqual(brindle.stored_alarms(), alarms)
                self.assert_nothing_beside(brindle, "alarms.json")

    def test_a_folder_in_place_of_the_store_stays_and_the_schedule_rings_from_memory(self):
        with Brindle() as brindle:
            brindle.store_path.mkdir(parents=True)
            (brindle.store_path / "kept").write_text("mine")
            brindle.wait_planner()

            def unchanged():
                self.assertEqual((brindle.store_path / "kept").read_text(), "mine")
                self.assert_nothing_beside(brindle, "alarms.json")

            def repair():
                (brindle.store_path / "kept").unlink()
                brindle.store_path.rmdir()

            self.ring_through_the_fault_and_save_after_the_repair(brindle, repair, unchanged, first_mode="alarm")

    def test_a_named_pipe_in_place_of_the_store_neither_blocks_the_launch_nor_is_replaced(self):
        with Brindle() as brindle:
            brindle.store_path.parent.mkdir(parents=True)
            os.mkfifo(brindle.store_path)
            brindle.wait_planner()

            def unchanged():
                self.assertTrue(brindle.store_path.is_fifo())
                self.assert_nothing_beside(brindle, "alarms.json")

            self.ring_through_the_fault_and_save_after_the_repair(brindle, brindle.store_path.unlink, unchanged)

    def test_a_store_linked_to_a_device_neither_blocks_the_launch_nor_replaces_the_device(self):
        if os.geteuid() != 0:
            self.skipTest("making a device node needs root")
        with Brindle() as brindle:
            # A device of the test's own, like /dev/zero, that gives bytes without end.
            device = brindle.root / "zero"
            os.mknod(device, 0o666 | stat.S_IFCHR, os.makedev(1, 5))
            brindle.store_path.parent.mkdir(parents=True)
            brindle.store_path.symlink_to(device)
            brindle.wait_planner()

            def unchanged():
                self.assertTrue(device.is_char_device())
                self.assertTrue(brindle.store_path.is_symlink())
                self.assert_nothing_beside(brindle, "alarms.json")
                self.assertEqual(sorted(p.name for p in brindle.root.iterdir() if p.name.startswith(".zero")), [])

            self.ring_through_the_fault_and_save_after_the_repair(brindle, brindle.store_path.unlink, unchanged)


class FolderFaults(DiskFaultTest):
    def test_a_read_only_data_folder_keeps_the_old_store_and_the_schedule_rings_from_memory(self):
        with Brindle(start=False) as brindle:
            old = [alarm("t1/old", now_ms() + 3_600_000, "Before the folder became read-only")]
            brindle.write_store(old)
            stored = brindle.store_bytes()
            with contextlib.ExitStack() as repair:
                how = repair.enter_context(read_only(brindle.store_path.parent))
                print(f"\nread-only folder by {how}")
                brindle.start()
                brindle.wait_planner()

                def unchanged():
                    self.assertEqual(brindle.store_bytes(), stored)
                    self.assert_nothing_beside(brindle, "alarms.json")

                self.ring_through_the_fault_and_save_after_the_repair(brindle, repair.close, unchanged,
                                                                      first_mode="alarm")

    def test_a_full_disk_keeps_the_old_store_and_the_schedule_rings_from_memory(self):
        if os.geteuid() != 0:
            self.skipTest("mounting a small file system needs root")
        with Brindle(start=False) as brindle:
            mounted = run("mount", "-t", "tmpfs", "-o", "size=64k,mode=0755", "tmpfs", str(brindle.data_home))
            if mounted.returncode != 0:
                self.skipTest(f"cannot mount a small tmpfs here: {mounted.stderr.strip()}")
            try:
                old = [alarm("t1/old", now_ms() + 3_600_000, "Before the disk filled up")]
                brindle.write_store(old)
                stored = brindle.store_bytes()
                brindle.start()
                brindle.wait_planner()
                # Filled once WebKit has set up its own files, so that only Brindle's writes fail.
                filler = fill(brindle.data_home)
                self.assertEqual(os.statvfs(brindle.data_home).f_bavail, 0)

                def unchanged():
                    self.assertEqual(brindle.store_bytes(), stored)
                    self.assert_nothing_beside(brindle, "alarms.json")

                self.ring_through_the_fault_and_save_after_the_repair(brindle, filler.unlink, unchanged)
            finally:
                brindle.stop()
                if run("umount", str(brindle.data_home)).returncode != 0:
                    run("umount", "-l", str(brindle.data_home))


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
            self.wait_notification(brindle, due["title"])
            brindle.wait_planner()
            later = [due, alarm("t2/later", now_ms() + 3_600_000, "Written through the link")]
            self.schedule(brindle, later)

            self.assertTrue(brindle.store_path.is_symlink())
            self.assertEqual(os.readlink(brindle.store_path), "../../synced/alarms.json")
            self.assertEqual(json.loads(target.read_text()), later)
            self.assertEqual(target.stat().st_mode & 0o777, 0o600)
            self.assertEqual(sorted(os.listdir(synced)), ["alarms.json"])
            self.assert_nothing_beside(brindle, "alarms.json")

    def test_a_dangling_link_gets_its_target_file(self):
        with Brindle(start=False) as brindle:
            target = brindle.root / "elsewhere.json"
            brindle.store_path.parent.mkdir(parents=True)
            brindle.store_path.symlink_to(target)
            brindle.start()
            brindle.wait_planner()
            alarms = [alarm("t1/a", now_ms() + 3_600_000, "First save")]
            self.schedule(brindle, alarms)
            self.assertTrue(brindle.store_path.is_symlink())
            self.assertEqual(json.loads(target.read_text()), alarms)


class DefaultsFaults(DiskFaultTest):
    def test_defaults_that_cannot_be_read_are_replaced_at_the_first_delivery(self):
        for name, content in [("not JSON", b"{\"fired\": ["), ("an array", b"[\"t1/soon1\"]"),
                              ("fired of numbers", b"{\"fired\": [1, 2]}"), ("empty", b"")]:
            with self.subTest(name), Brindle() as brindle:
                brindle.defaults_path.parent.mkdir(parents=True)
                brindle.defaults_path.write_bytes(content)
                brindle.wait_planner()
                due = alarm("t1/soon", now_ms() + FIRST_LEAD_MS, f"After defaults that are {name}")
                self.schedule(brindle, [due])
                self.wait_notification(brindle, due["title"])
                self.settle(brindle)
                self.assertEqual(json.loads(brindle.defaults_path.read_text()), {"fired": [f"t1/soon{due['at']!r}"]})
                self.assertEqual(sorted(os.listdir(brindle.defaults_path.parent)), ["defaults.json"])

    def test_a_folder_in_place_of_the_defaults_stays_and_deliveries_go_on(self):
        with Brindle() as brindle:
            brindle.defaults_path.mkdir(parents=True)
            brindle.wait_planner()

            def unchanged():
                self.assertTrue(brindle.defaults_path.is_dir())
                self.assertEqual(sorted(os.listdir(brindle.defaults_path.parent)), ["defaults.json"])

            alarms = self.ring_through_the_fault_and_save_after_the_repair(
                brindle, brindle.defaults_path.rmdir, unchanged)
            fired = json.loads(brindle.defaults_path.read_text())["fired"]
            # Both deliveries are remembered: the set in memory kept the first one.
            self.assertEqual(sorted(fired), sorted(a["key"] + repr(a["at"]) for a in alarms))


if __name__ == "__main__":
    main()
