#!/usr/bin/env python3
"""A test-only backup tool for the messages tests: called as the desktop backup tool is,

    AppleMobileBackup.exe -b --target UDID -q FOLDER

it writes a backup of the attached device $HLX_DEVICE_ROOT/UDID into FOLDER/UDID/: other backed-up
files (names of 40 hex digits) and the device's sms.db (with -wal and -shm) under the backup name
of the message database. How it does that is read from the image's backup_tool.json:

    {"layout": "flat" | "3d" | "snapshot" | "snapshot-3d",
     "mode": "normal"          database at once, then more files until ended
           | "slow"            the database in pieces over several watch cycles, then as normal
           | "write-and-exit"  the database, then exit 0 at once
           | "exit-early"      no database; exit 1
           | "hang"            no database; run until ended
     "record": PATH}           where to write {"pid", "argv"} once the first unwanted files are there

install() gives a test or benchmark a program-files folder holding the device library's files and
this script as the tool; configure() writes an image's backup_tool.json. Standard library only."""

import json
import os
import shutil
import sys
import time

DATABASE_ID = "3d0d7e5fb2ce288813306e4d4636395e047a3d28"
LAYOUTS = {"flat": "", "3d": "3d", "snapshot": "Snapshot", "snapshot-3d": os.path.join("Snapshot", "3d")}
RUN_SECONDS = 120


def install(support, folder):
    """A program-files folder (for HLX_PROGRAM_FILES) under `folder`: links to the files of the staged
    device library folder `support`, and this script as AppleMobileBackup.exe."""
    program_files = os.path.join(folder, "programfiles")
    tool_folder = os.path.join(program_files, "Common Files", "Apple", "Mobile Device Support")
    os.makedirs(tool_folder)
    for name in os.listdir(support):
        if name != "AppleMobileBackup.exe":
            os.symlink(os.path.join(support, name), os.path.join(tool_folder, name))
    os.symlink(os.path.abspath(__file__), os.path.join(tool_folder, "AppleMobileBackup.exe"))
    return program_files


def configure(image, **options):
    """How the tool backs up the device of this image folder (see above)."""
    with open(os.path.join(image, "backup_tool.json"), "w", encoding="utf-8") as f:
        json.dump(options, f)


def other_file(backup, number):
    """A backed-up file that is not wanted, in a sub-folder named by its first two digits."""
    name = "%040x" % (0xabc0000 + number)
    folder = os.path.join(backup, name[:2])
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(os.urandom(512))


def write_database(source, target, slow):
    os.makedirs(os.path.dirname(target), exist_ok=True)
    with open(source, "rb") as f:
        data = f.read()
    with open(target, "wb") as f:
        pieces = 4 if slow else 1
        step = (len(data) + pieces - 1) // pieces
        for start in range(0, len(data), step):
            f.write(data[start:start + step])
            f.flush()
            if slow:
                time.sleep(1.5)  # longer than half a watch cycle: the size changes between cycles
    for suffix in ("-wal", "-shm"):
        if os.path.exists(source + suffix):
            shutil.copyfile(source + suffix, target + suffix)


def main(argv):
    if len(argv) != 5 or argv[:2] != ["-b", "--target"] or argv[3] != "-q":
        print("usage: -b --target UDID -q FOLDER", file=sys.stderr)
        return 2
    udid, folder = argv[2], argv[4]
    image = os.path.join(os.environ["HLX_DEVICE_ROOT"], udid)
    with open(os.path.join(image, "backup_tool.json"), encoding="utf-8") as f:
        options = json.load(f)
    mode = options.get("mode", "normal")
    backup = os.path.join(folder, udid)
    os.makedirs(backup, exist_ok=True)
    # An unwanted file at the top, where the database of the flat layout would lie too.
    with open(os.path.join(backup, "%040x" % 0xfeed), "wb") as f:
        f.write(b"x" * 100)
    other_file(backup, 0)
    if options.get("record"):
        # After the first files: a test that sees the record knows they were written, so that their
        # deletion by the service is what makes them go. Written whole, then renamed: a test waiting
        # for the record must never read it half written.
        partial = options["record"] + ".partial"
        with open(partial, "w", encoding="utf-8") as f:
            json.dump({"pid": os.getpid(), "argv": argv}, f)
        os.replace(partial, options["record"])
    if mode == "exit-early":
        return 1
    if mode != "hang":
        target = os.path.join(backup, LAYOUTS[options.get("layout", "flat")], DATABASE_ID)
        write_database(os.path.join(image, "sms.db"), target, mode == "slow")
        if mode == "write-and-exit":
            return 0
    for number in range(1, RUN_SECONDS * 4):
        other_file(backup, number)
        time.sleep(0.25)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
