"""Requests that reach Harlix before its device library is bound, or on a PC where it never is: every
request code of the service, sent the moment the connection is up, gets its final reply; the ones
that only read files on the PC (the backup list, the player checks) do their work, and the ones that
need a device answer 9 (the library is not bound) at once. The library's load is held up on purpose by
a registry file that is a pipe, so that the requests are sure to arrive while the binding is empty."""

import datetime
import json
import os
import plistlib
import re

from harlix_process import PINNED_OFFSET, PINNED_TZ, READY, HarlixTestCase, record_of

REQUEST_CODES_HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src", "utility",
                                    "hlx_request_code.h")
LIBRARY_NOT_BOUND, NO_DEVICE, BAD_DATA, TASK_ERROR = 9, 7, 8, 2
START_LIBRARY, LIST_BACKUPS, PLAYER_RUNNING, STOP_PLAYER, ENCRYPTION = 10, 1602, 1606, 1607, 1604
# What the requests that need no device answer here; every other code needs a device. 17 and 18 run in
# a helper instance, which answers with its result as the "error" of a failed final reply: no package
# list (8) and no store query program (2) here.
DEVICELESS = {10: LIBRARY_NOT_BOUND, 16: BAD_DATA, 600: NO_DEVICE, LIST_BACKUPS: 0, PLAYER_RUNNING: 1,
              STOP_PLAYER: 128}
HELPER_ERRORS = {17: BAD_DATA, 18: TASK_ERROR}
TEST_PROBE = {9000, 9001}  # registered only in test-module mode: no module owns them here
BACKUP_DATE = datetime.datetime(2024, 1, 31, 22, 45, 10)  # UTC, as plistlib writes dates


def request_codes():
    """Every request code of the service, from its one table."""
    with open(REQUEST_CODES_HEADER, encoding="utf-8") as f:
        return sorted({int(code) for code in re.findall(r"^\s*kRequest\w+ = (\d+),", f.read(), re.MULTILINE)})


def write_backup(folder, info, encrypted, fmt):
    os.makedirs(folder)
    for name, content in (("Info.plist", info), ("Manifest.plist", {"IsEncrypted": encrypted, "Version": "10.0"}),
                          ("Status.plist", {"SnapshotState": "finished", "IsFullBackup": True})):
        with open(os.path.join(folder, name), "wb") as f:
            plistlib.dump(content, f, fmt=fmt)
    return folder + "/"


def release_readers(pipe):
    """Opens the pipe for writing once when someone waits to read it, which ends their wait."""
    try:
        os.close(os.open(pipe, os.O_WRONLY | os.O_NONBLOCK))
    except OSError:
        pass  # nobody reads it


class UnboundLibraryTest(HarlixTestCase):
    first_request_id = 4300

    def setUp(self):
        super().setUp()
        self.base = os.path.join(self.tmp.path, "Backups")
        common = {"Product Version": "12.4.1", "Build Version": "16G102", "Serial Number": "F2LXK0AAHG7F",
                  "Product Type": "iPhone10,4", "Last Backup Date": BACKUP_DATE, "GUID": "A" * 32,
                  "Applications": {"com.example.a": {"iTunesMetadata": b"\x00\x01" * 40}}}
        binary = write_backup(os.path.join(self.base, "one"), dict(common, **{
            "Device Name": "Zo\u00eb's iPhone", "Display Name": "other", "Target Identifier": "ABCDEF0123"}),
            True, plistlib.FMT_BINARY)
        xml = write_backup(os.path.join(self.base, "two"), dict(common, **{
            "Display Name": "Display <&>", "Unique Identifier": "FEDCBA9876"}), False, plistlib.FMT_XML)
        local = (BACKUP_DATE + PINNED_OFFSET).strftime("%Y-%m-%d %H:%M:%S")
        expected = {}
        for path, name, identifier, encrypted in ((binary, "Zo\u00eb's iPhone", "abcdef0123", True),
                                                  (xml, "Display <&>", "fedcba9876", False)):
            expected[path] = {"Product Version": "12.4.1", "Build Version": "16G102", "Serial Number": "F2LXK0AAHG7F",
                              "Device Name": name, "Unique Identifier": identifier, "Last Backup Date": local,
                              "Product Type": "iPhone10,4", "Path": path, "IsEncrypted": encrypted,
                              "IsIncomplete": False}
        self.expected_backups = expected

    def send_every_code(self, udid):
        """Sends every request code at once; {id: code}."""
        sent = {}
        for code in request_codes():
            data = {"paths": [self.base]} if code == LIST_BACKUPS else {}
            sent[self.send(code, {"uuid": udid}, data)] = code
        return sent

    def assert_backup_list(self, progress):
        reports = [(r["stage"], json.loads(data)) for _, _, r, data in progress]
        self.assertEqual(sorted(stage for stage, _ in reports), [0, 0, 1, 1])
        for stage in (0, 1):
            listed = {s["Path"]: s for st, s in reports if st == stage}
            self.assertEqual(sorted(listed), sorted(self.expected_backups))
            for path, summary in listed.items():
                if stage == 1:
                    self.assertGreater(summary.pop("Size"), 0)
                self.assertEqual(summary, self.expected_backups[path])

    def assert_answers(self, answers, sent, held=()):
        """Every request but `held` answered: device-less ones as DEVICELESS says, the rest with 9."""
        for packet_id, code in sent.items():
            if code in held:
                continue
            progress, final = answers[packet_id]
            got = final[2]["code"]
            with self.subTest(code=code):
                if code in TEST_PROBE:
                    self.assertEqual(got, TASK_ERROR)
                elif code in HELPER_ERRORS:
                    self.assertEqual((final[1], final[2]["info"]), (6, {"error": HELPER_ERRORS[code]}))
                elif code in DEVICELESS:
                    self.assertEqual(got, DEVICELESS[code])
                else:
                    self.assertEqual((got, final[1]), (LIBRARY_NOT_BOUND, 6))
                if code == LIST_BACKUPS:
                    self.assert_backup_list(progress)
        self.assertIsNone(self.peer.process.poll(), "Harlix ended")

    def test_every_request_without_the_library(self):
        registry = os.path.join(self.tmp.path, "empty-registry.ini")
        open(registry, "w").close()  # no Apple support installed
        self.start_harlix({"HLX_REGISTRY_FILE": registry, "TZ": PINNED_TZ})
        udid = self.lab.attach(self.lab.make())
        sent = self.send_every_code(udid)
        self.assert_answers(self.replies(list(sent)), sent)
        # Nothing was left half done: the same requests are answered the same again.
        sent = self.send_every_code(udid)
        self.assert_answers(self.replies(list(sent)), sent)

    def test_every_request_while_the_library_loads(self):
        udid = self.lab.attach(self.lab.make())
        registry = self.lab.variables()["HLX_REGISTRY_FILE"]
        # The registry file is a pipe until the requests are answered: the service's first bind of
        # the library waits in its read, with every slot still empty.
        pipe = os.path.join(self.tmp.path, "registry-pipe")
        gated = os.path.join(self.tmp.path, "gated-registry.ini")
        os.mkfifo(pipe)
        os.link(pipe, gated)
        self.addCleanup(release_readers, pipe)  # whatever happens, no instance stays waiting in its read
        self.start_harlix({"HLX_REGISTRY_FILE": gated, "TZ": PINNED_TZ})
        sent = self.send_every_code(udid)
        [start_id] = [i for i, code in sent.items() if code == START_LIBRARY]
        answered = [i for i in sent if i != start_id]
        self.assert_answers(self.replies(answered), sent, held={START_LIBRARY})
        # The registry comes. The bind that read the pipe fails (start-up's, or the start request's
        # when that came first); the other one binds, and the device arrives.
        os.replace(registry, gated)
        os.close(os.open(pipe, os.O_WRONLY))
        self.assertIn(self.final_keeping_events(start_id)["code"], (0, LIBRARY_NOT_BOUND))
        self.next_event(READY, udid)
        self.assertEqual(self.run_request(START_LIBRARY, {"uuid": ""})[1][2]["code"], 0)
        self.assertEqual(self.run_request(ENCRYPTION, {"uuid": udid})[1][2]["code"], 1)
        progress, final = self.run_request(LIST_BACKUPS, {"uuid": ""}, {"paths": [self.base]})
        self.assertEqual(final[2]["code"], 0)
        self.assert_backup_list(progress)

    def final_keeping_events(self, packet_id):
        """The final record of a request; device events that come first stay for next_event."""
        while True:
            item = self.next_packet(timeout=60)
            if item["id"] == 0:
                self.events.append(item)
                continue
            record, _ = record_of(item)
            if item["id"] == packet_id and self.is_final_reply(item["status"], record):
                return record


if __name__ == "__main__":
    import unittest
    unittest.main()
