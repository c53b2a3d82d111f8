"""A corrupt store and defaults, a read-only data folder and a full 64 KiB tmpfs: the store stays whole,
reminders come on time, the next possible save writes the schedule out, no temporary file stays."""

import contextlib
import json
import os
import subprocess
import unittest

from harness import Brindle, alarm, main, need, now_ms, wait_for


def run(*command):
    return subprocess.run(command, capture_output=True).returncode == 0


def mounted(stack, folder, *options):
    """Mounts over folder (as root) until the stack closes; false where that cannot be done."""
    if os.geteuid() != 0 or not run("mount", *options, str(folder)):
        return False
    stack.callback(lambda: run("umount", str(folder)) or run("umount", "-l", str(folder)))
    return True


class DiskFaults(unittest.TestCase):
    def delivered(self, brindle, due):
        wait_for(lambda: brindle.check_running() or any(n["body"] == due["title"] for n in brindle.notifications()),
                 what=f"the reminder {due['title']!r}")
        self.assertEqual(brindle.page.request("stop"), {"value": True})  # The pass that delivered has ended.

    def only_store(self, brindle):
        self.assertEqual(sorted(set(os.listdir(brindle.store_path.parent)) - {"WebKit", "filler"}), ["alarms.json"])

    def through_fault(self, brindle, fault, repair):
        """A reminder falls due while the store cannot be replaced; a second, handed over then and
        due seconds after the repair that follows at once, is delivered and saved with the first."""
        stored = brindle.store_bytes()
        alarms = [alarm("t1/first", now_ms() + 2000, f"With a {fault}", "notify")]
        brindle.schedule(*alarms)  # A failed save is no failure of the request.
        self.delivered(brindle, alarms[0])
        self.assertEqual(brindle.store_bytes(), stored)
        self.only_store(brindle)
        alarms.append(alarm("t2/second", now_ms() + 5000, f"After the {fault}", "notify"))
        brindle.schedule(*alarms)
        repair()
        self.assertLess(now_ms(), alarms[1]["at"], "the repair came after the second reminder was due")
        self.assertEqual(brindle.store_bytes(), stored)
        self.delivered(brindle, alarms[1])
        self.assertEqual(brindle.stored_alarms(), alarms)
        self.only_store(brindle)

    def test_a_corrupt_store_a_read_only_folder_and_a_full_disk(self):
        with Brindle(start=False) as brindle, contextlib.ExitStack() as stack:
            folder = brindle.store_path.parent
            folder.mkdir(parents=True)
            full_disk = mounted(stack, folder, "-t", "tmpfs", "-o", "size=64k,mode=0755", "tmpfs")
            brindle.write_store(b'[{"key": "t1", "at": 1')
            brindle.defaults_path.parent.mkdir(parents=True)
            brindle.defaults_path.write_bytes(b'{"fired": [')
            brindle.start()
            brindle.wait_planner()
            self.assertEqual(brindle.store_bytes(), b'[{"key": "t1", "at": 1')
            due = alarm("t1/soon", now_ms() + 2000, "After a corrupt store", "notify")
            brindle.schedule(due)
            self.delivered(brindle, due)
            self.assertEqual((brindle.stored_alarms(), json.loads(brindle.defaults_path.read_text())["fired"]), ([due], [f"t1/soon{due['at']!r}"]))

            with contextlib.ExitStack() as read_only:
                if not mounted(read_only, folder, "--bind", "-o", "ro", str(folder)):
                    os.chmod(folder, 0o555)
                    read_only.callback(os.chmod, folder, 0o755)
                self.through_fault(brindle, "read-only folder", read_only.close)

            need(full_disk, "a 64 KiB tmpfs mounted over the data folder (as root) for a full disk")
            filler = os.open(folder / "filler", os.O_WRONLY | os.O_CREAT)
            for size in (4096, 1):
                with contextlib.suppress(OSError):
                    while os.write(filler, b"\0" * size):
                        pass
            os.close(filler)
            self.assertEqual(os.statvfs(folder).f_bavail, 0)
            self.through_fault(brindle, "full disk", (folder / "filler").unlink)
            brindle.stop()


if __name__ == "__main__":
    main()
