"""Full backups through the Harlix process and the simulated iPhone's backup service: the backup
folder compared file by file with the image (names by SHA-1, Manifest.db read with sqlite3,
Info.plist with plistlib) in each layout, the backup list, restores onto a fresh image, and the
failures that must leave no backup behind."""

import hashlib
import json
import os
import plistlib
import sqlite3
import shutil
import signal
import subprocess
import sys
import time
import unittest

import zlib

from harlix_process import READY, HarlixTestCase, record_of

import hlx_device  # noqa: E402  (tools/, put on the path by harlix_process)
import make_app_catalog as apps  # noqa: E402

BACKUP, RESTORE, LIST, FIND_MY, ENCRYPTION, CHANGE_PASSWORD, PLAYER_RUNNING = 1600, 1601, 1602, 1603, 1604, 1605, 1606
STOP_PLAYER = 1607
CANCEL = 600
SMS_ID = "3d0d7e5fb2ce288813306e4d4636395e047a3d28"
DATA_FILES = {"addressbook.plist": "Library/AddressBook/addressbook.plist", "notes.plist": "Library/Notes/notes.plist",
              "bookmarks.plist": "Library/Safari/bookmarks.plist", "calendars.plist": "Library/Calendar/calendars.plist",
              "apps.plist": "Library/MobileInstallation/apps.plist", "sms.db": "Library/SMS/sms.db"}


def file_id(domain, path):
    return hashlib.sha1(("%s-%s" % (domain, path)).encode("utf-8")).hexdigest()


def image_files(image):
    """{(domain, relative path): bytes} of what the device backs up."""
    files = {}
    for top, domain, prefix in (("fs", "MediaDomain", "Media"),
                                ("icons", "HomeDomain", "Library/MobileInstallation/icons")):
        for folder, _, names in os.walk(os.path.join(image, top)):
            for name in names:
                path = os.path.join(folder, name)
                rel = os.path.relpath(path, os.path.join(image, top)).replace(os.sep, "/")
                with open(path, "rb") as f:
                    files[(domain, prefix + "/" + rel)] = f.read()
    for name, rel in DATA_FILES.items():
        if os.path.exists(os.path.join(image, name)):
            with open(os.path.join(image, name), "rb") as f:
                files[("HomeDomain", rel)] = f.read()
    return files


def write_sms_db(image):
    db = sqlite3.connect(os.path.join(image, "sms.db"))
    db.execute("CREATE TABLE message (ROWID INTEGER PRIMARY KEY, text TEXT)")
    db.execute("INSERT INTO message (text) VALUES ('caf\u00e9 \U0001f600')")
    db.commit()
    db.close()


class BackupTestCase(HarlixTestCase):
    first_request_id = 16000

    def attach(self, script=None, sms=True, encrypt=False, edit=None, **options):
        """Makes, edits (`edit(catalog)` changes the apps) and attaches an image; (udid, image folder)."""
        image = self.lab.make(**options)
        if edit:
            catalog = apps.read_catalog(image["path"])
            edit(catalog)
            apps.write_catalog(image["path"], catalog)
        if sms:
            write_sms_db(image["path"])
        if script is not None:
            with open(os.path.join(image["path"], "backup.json"), "w") as f:
                json.dump(script, f)
        udid = self.lab.attach(image)
        if encrypt:
            hlx_device.set_lockdown_value(udid, "WillEncrypt", True, domain="com.apple.mobile.backup",
                                          root=self.lab.root)
        return udid, hlx_device.image_folder(udid, root=self.lab.root)

    def start(self, *udids):
        self.start_harlix()
        for udid in udids:
            self.next_event(READY, udid)

    def backup(self, udid, base):
        """Runs 1600; returns (announced folder, progress values, final record)."""
        progress, final = self.run_request(BACKUP, {"uuid": udid}, {"path": base})
        command, status, record, data = progress[0]
        self.assertEqual((record["stage"], list(json.loads(data))), (0, ["BackupDir"]))
        folder = json.loads(data)["BackupDir"]
        values = [r["code"] for _, _, r, _ in progress[1:]]
        self.assertTrue(all(r["stage"] == 1 and r["uuid"] == udid for _, _, r, _ in progress[1:]))
        self.assertEqual(values, sorted(set(values)), "progress only grows")
        return folder, values, final[2]

    def assert_backup_of(self, folder, udid, image, layout):
        with open(os.path.join(folder, "Info.plist"), "rb") as f:
            raw = f.read()
        self.assertTrue(raw.startswith(b"bplist00"))
        info = plistlib.loads(raw)
        self.assertEqual((info["Target Identifier"], info["Unique Identifier"], info["Target Type"]),
                         (udid, udid.upper(), "Device"))
        self.assertEqual(len(info["GUID"]), 32)
        self.assert_apps_of(info, image)
        for name in ("Manifest.plist", "Status.plist"):
            with open(os.path.join(folder, name), "rb") as f:
                plistlib.load(f)
        db = sqlite3.connect(os.path.join(folder, "Manifest.db"))
        rows = {(d, p): (i, flags) for i, d, p, flags in db.execute("SELECT fileID, domain, relativePath, flags FROM Files")}
        db.close()
        expected = image_files(image)
        for (domain, path), content in expected.items():
            fid, flags = rows[(domain, path)]
            self.assertEqual((fid, flags), (file_id(domain, path), 1))
            stored = os.path.join(folder, fid if layout == "flat" else os.path.join(fid[:2], fid))
            with open(stored, "rb") as f:
                self.assertEqual(f.read(), content, path)
        self.assertEqual(rows[("HomeDomain", "Library/SMS/sms.db")][0], SMS_ID)
        self.assertFalse(os.path.exists(os.path.join(folder, "Snapshot")))


    def assert_apps_of(self, info, image):
        """Info.plist lists every user app of the image that has a SINF and store metadata, in the
        device's order, with its icon when the image has one."""
        expected = {}
        for entry in apps.read_catalog(image)["Applications"]:
            if entry["ApplicationType"] != "User" or "ApplicationSINF" not in entry or "iTunesMetadata" not in entry:
                continue
            record = {"ApplicationSINF": entry["ApplicationSINF"], "iTunesMetadata": entry["iTunesMetadata"]}
            icon = apps.icon_bytes(image, entry)
            if icon is not None:
                record["PlaceholderIcon"] = icon
            expected[entry["CFBundleIdentifier"]] = record
        self.assertEqual(info["Installed Applications"], list(expected))
        self.assertEqual(info["Applications"], expected)


class BackupTest(BackupTestCase):
    def test_backup_in_each_layout_holds_the_image_files(self):
        devices = {layout: self.attach({"layout": layout}) for layout in ("3d", "flat", "snapshot")}
        self.start(*[udid for udid, _ in devices.values()])
        base = os.path.join(self.tmp.path, "Backups")  # without a trailing separator
        for layout, (udid, image) in devices.items():
            with self.subTest(layout=layout):
                folder, values, final = self.backup(udid, base)
                self.assertTrue(folder.startswith(base + "/" + udid + "-") and folder.endswith("/"), folder)
                self.assertEqual((final["code"], final["info"]), (0, {"error": ""}))
                self.assertEqual(values[-1], 10000)
                self.assert_backup_of(folder, udid, image, layout)

    def test_device_messages_of_unknown_names_are_passed_over(self):
        # A backup answers none of them, a restore every "DLMessage..." one as an order: a missing
        # answer leaves the device waiting, an extra one puts its next status or file stream out of
        # step and fails the session. Names match whole and by case.
        stray = {"strayMessages": ["DLMessageNotKnown", "NotAnOrder", "dlmessagedisconnect",
                                   "DLMessageDisconnectLater", "Ping", "", "DLMessageUploadFiles"]}
        udid, image = self.attach(stray)
        target, target_image = self.attach(stray, sms=False, seed=12)
        self.start(udid, target)
        folder, _, final = self.backup(udid, os.path.join(self.tmp.path, "Backups"))
        self.assertEqual(final["code"], 0, final)
        self.assert_backup_of(folder, udid, image, "3d")
        _, final = self.run_request(RESTORE, {"uuid": target}, {"path": folder, "sourceDeviceId": udid, "password": ""})
        self.assertEqual(final[2]["code"], 0, final[2])
        self.assertEqual(image_files(target_image), image_files(image))

    def test_info_plist_lists_the_user_apps_with_their_store_records_and_icons(self):
        quoted = 'com.example.<&"quoted">'

        def edit(catalog):
            user = [a for a in catalog["Applications"] if a["ApplicationType"] == "User"]
            del user[0]["ApplicationSINF"]  # in neither list
            del user[1]["IconFile"]  # listed without an icon
            del user[2]["iTunesMetadata"]  # in neither list
            user[3]["CFBundleIdentifier"] = quoted  # kept whole as a key
            catalog["Applications"].append(dict(user[4]))  # listed twice by the device: once in Info.plist

        udid, image = self.attach(edit=edit, apps=6)
        bare, _ = self.attach(without_service=["com.apple.springboardservices", "com.apple.mobile.installation_proxy"])
        self.start(udid, bare)
        base = os.path.join(self.tmp.path, "Backups")
        folder, _, final = self.backup(udid, base)
        self.assertEqual(final["code"], 0)
        self.assert_backup_of(folder, udid, image, "3d")
        with open(os.path.join(folder, "Info.plist"), "rb") as f:
            info = plistlib.load(f)
        user = [a for a in apps.read_catalog(image)["Applications"] if a["ApplicationType"] == "User"]
        self.assertEqual(info["Installed Applications"], [a["CFBundleIdentifier"] for a in user[1:2] + user[3:6]])
        self.assertNotIn("PlaceholderIcon", info["Applications"][user[1]["CFBundleIdentifier"]])
        self.assertEqual(info["Applications"][quoted]["PlaceholderIcon"], apps.icon_bytes(image, user[3]))
        # A device whose app services do not open: a backup with empty app lists.
        folder, _, final = self.backup(bare, base)
        self.assertEqual(final["code"], 0)
        with open(os.path.join(folder, "Info.plist"), "rb") as f:
            info = plistlib.load(f)
        self.assertEqual((info["Applications"], info["Installed Applications"]), ({}, []))

    def test_list_reports_each_backup_once_per_stage_with_encryption(self):
        plain, _ = self.attach()
        secret, _ = self.attach({"password": "p w\"d"}, encrypt=True)
        self.start(plain, secret)
        base = os.path.join(self.tmp.path, "Backups") + "/"
        folders = {udid: self.backup(udid, base)[0] for udid in (plain, secret)}
        os.makedirs(os.path.join(base, "not-a-backup"))
        progress, final = self.run_request(LIST, {"uuid": ""}, {"paths": [base, base, "/no/such/folder"]})
        self.assertEqual(final[2]["code"], 0)
        reports = [(r["stage"], json.loads(data)) for _, _, r, data in progress]
        self.assertEqual([stage for stage, _ in reports], [0, 0, 1, 1])
        by_stage = {stage: {s["Unique Identifier"]: s for st, s in reports if st == stage} for stage in (0, 1)}
        for udid, folder in folders.items():
            summary = by_stage[1][udid]
            self.assertEqual(summary["Path"], folder)
            self.assertEqual(summary["IsEncrypted"], udid == secret)
            size = sum(os.path.getsize(os.path.join(d, n)) for d, _, ns in os.walk(folder) for n in ns)
            self.assertEqual(summary["Size"], size)
            self.assertNotIn("Size", by_stage[0][udid])
            self.assertRegex(summary["Last Backup Date"], r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$")
        self.assertEqual(self.run_request(LIST, {"uuid": ""}, {"path": base})[1][2]["code"], 21)

    def test_restore_onto_a_fresh_image_gives_back_the_source(self):
        source, source_image = self.attach({"password": "secret"}, encrypt=True, seed=11, contacts=5)
        target, target_image = self.attach(sms=False, seed=12, contacts=2)
        self.start(source, target)
        folder, _, final = self.backup(source, os.path.join(self.tmp.path, "Backups"))
        self.assertEqual(final["code"], 0)
        for password, code in (("wrong", 207), ("secret", 0)):
            progress, final = self.run_request(RESTORE, {"uuid": target},
                                               {"path": folder, "sourceDeviceId": source, "password": password})
            self.assertEqual(final[2]["code"], code, final[2])
        self.assertEqual(image_files(target_image), image_files(source_image))
        self.assertEqual(progress[-1][2]["code"], 10000)
        # A missing parameter and a folder without a manifest fail before the device is asked.
        for data, code in (({"path": folder, "sourceDeviceId": source}, 21),
                           ({"path": self.tmp.path, "sourceDeviceId": source, "password": ""}, 42)):
            self.assertEqual(self.run_request(RESTORE, {"uuid": target}, data)[1][2]["code"], code)


    def test_a_restore_killed_at_any_step_leaves_the_old_data_or_the_new_whole(self):
        # The device's process dies (as by a kill) right before a chosen step of the restore: the commit
        # of the received files, then each rename of the swap. At its next arrival the device has the old
        # data or the new, never a mix, and no staging is left.
        source, source_image = self.attach(seed=11, contacts=5)
        target, target_image = self.attach(sms=False, seed=12, contacts=2)
        self.start(source, target)
        folder, _, final = self.backup(source, os.path.join(self.tmp.path, "Backups"))
        self.assertEqual(final["code"], 0)
        old, new = image_files(target_image), image_files(source_image)
        self.assertNotEqual(old, new)
        pristine = os.path.join(self.tmp.path, "pristine")
        shutil.copytree(target_image, pristine)
        outcomes = []
        for step in range(1, 30):
            with open(os.path.join(target_image, "backup.json"), "w") as f:
                json.dump({"killRestoreAt": step}, f)
            packet = self.send(RESTORE, {"uuid": target}, {"path": folder, "sourceDeviceId": source, "password": ""})
            final = None
            while final is None and self.peer.process.poll() is None:
                item = self.peer.receive(timeout=1)
                if item is not None and item["id"] == packet and self.is_final_reply(item["status"], record_of(item)[0]):
                    final = record_of(item)[0]
            if final is not None:  # past the last step: the restore ran whole
                self.assertEqual(final["code"], 0, final)
                self.assertEqual(image_files(target_image), new)
                break
            self.assertEqual(self.peer.process.wait(timeout=30), -signal.SIGKILL, step)
            self.peer.close()
            self.start(source, target)
            now = image_files(target_image)
            outcomes.append("old" if now == old else "new" if now == new else "a mix at step %d" % step)
            self.assertEqual([n for n in os.listdir(target_image) if n.startswith(".restore-")], [], step)
            # The next round starts from the old data again.
            self.peer.close()
            shutil.rmtree(target_image)
            shutil.copytree(pristine, target_image)
            self.start(source, target)
        else:
            self.fail("the restore never ran whole")
        self.assertEqual(outcomes[0], "old", "killed before the commit, the old data stays")
        self.assertEqual(set(outcomes[1:]), {"new"}, outcomes)

class BackupFailureTest(BackupTestCase):
    def run_failing(self, script, code, base=None):
        udid, _ = self.attach(script)
        self.start(udid)
        base = base or os.path.join(self.tmp.path, "Backups")
        folder, _, final = self.backup(udid, base)
        self.assertEqual(final["code"], code, final)
        self.assertFalse(os.path.exists(folder), "a failed backup leaves no folder")
        return final

    def test_disconnect_below_100_percent(self):
        self.run_failing({"disconnectAtPercent": 60}, 45)

    def test_device_error_in_mid_backup(self):
        final = self.run_failing({"failAtPercent": 30, "errorCode": 17, "errorText": "Disk <error>"}, 17)
        self.assertEqual(final["info"], {"error": "Disk <error>"})

    def test_device_error_at_100_percent(self):
        final = self.run_failing({"failAtPercent": 100, "errorCode": 17, "errorText": "late"}, 17)
        self.assertEqual(final["info"], {"error": "late"})

    def test_folders_of_the_second_are_never_reused_nor_deleted(self):
        udid, _ = self.attach({"failAtPercent": 30, "errorCode": 17, "errorText": "x"})
        other, image = self.attach()
        self.start(udid, other)
        base = os.path.join(self.tmp.path, "Backups")
        # Each of the next seconds' folders exists already, as a twin started in that second makes it.
        premade = []
        now = time.time()
        for device in (udid, other):
            for second in range(10):
                stamp = time.strftime("%Y%m%d%H%M%S", time.localtime(now + second))
                premade.append(os.path.join(base, "%s-%s" % (device, stamp)))
                os.makedirs(os.path.join(premade[-1], "Info.plist"))
        failed, _, final = self.backup(udid, base)
        self.assertEqual(final["code"], 17)
        self.assertFalse(os.path.exists(failed))
        folder, _, final = self.backup(other, base)
        self.assertEqual(final["code"], 0)
        self.assertNotIn(folder.rstrip("/"), premade + [failed.rstrip("/")])
        self.assert_backup_of(folder, other, image, "3d")
        for made in premade:
            self.assertEqual(os.listdir(made), ["Info.plist"], made)

    def test_restore_of_an_incomplete_backup_touches_nothing(self):
        source, _ = self.attach(seed=21, contacts=3)
        target, target_image = self.attach(sms=False, seed=22, contacts=2)
        self.start(source, target)
        good, _, final = self.backup(source, os.path.join(self.tmp.path, "Backups"))
        self.assertEqual(final["code"], 0)
        outside = os.path.join(self.tmp.path, "secret.txt")
        with open(outside, "w") as f:
            f.write("a PC file")
        db = sqlite3.connect(os.path.join(good, "Manifest.db"))
        first = db.execute("SELECT fileID FROM Files WHERE flags = 1 ORDER BY rowid LIMIT 1").fetchone()[0]
        db.close()

        def drop_blob_folders(folder):
            for name in os.listdir(folder):
                if len(name) == 2:
                    shutil.rmtree(os.path.join(folder, name))

        def drop_one_blob(folder):
            os.remove(os.path.join(folder, first[:2], first))

        def flat_manifest(folder):
            with open(os.path.join(folder, "Manifest.plist"), "rb") as f:
                manifest = plistlib.load(f)
            manifest["Version"] = "9.1"
            with open(os.path.join(folder, "Manifest.plist"), "wb") as f:
                plistlib.dump(manifest, f, fmt=plistlib.FMT_BINARY)

        def wrong_types(folder):
            db = sqlite3.connect(os.path.join(folder, "Manifest.db"))
            db.execute("UPDATE Files SET fileID = CAST(fileID AS BLOB) WHERE fileID = ?", (first,))
            db.commit()
            db.close()

        def blob_links_outside(folder):
            os.remove(os.path.join(folder, first[:2], first))
            os.symlink(outside, os.path.join(folder, first[:2], first))

        before = image_files(target_image)
        for case in (drop_blob_folders, drop_one_blob, flat_manifest, wrong_types, blob_links_outside):
            with self.subTest(case=case.__name__):
                folder = os.path.join(self.tmp.path, case.__name__) + "/"
                shutil.copytree(good, folder, symlinks=True)
                case(folder)
                _, final = self.run_request(RESTORE, {"uuid": target},
                                            {"path": folder, "sourceDeviceId": source, "password": ""})
                self.assertEqual((final[2]["code"], final[2]["info"]), (61, {"error": "BackupIncompleteError"}))
                self.assertEqual(image_files(target_image), before)

    def test_device_that_needs_more_space_than_is_free(self):
        self.run_failing({"needBytes": 1 << 62}, 105)

    def test_full_disk_fails_cleanly(self):
        base = os.path.join(self.tmp.path, "small")
        os.makedirs(base)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=40k", "tmpfs", base]).returncode != 0:
            self.skipTest("no tmpfs can be mounted here")
        self.addCleanup(subprocess.run, ["umount", base])
        final = self.run_failing({"needBytes": 0}, 2, base=base)
        self.assertEqual(final["info"], {"error": "The backup folder cannot be written."})
        self.assertEqual(os.listdir(base), [])

    def test_hostile_paths_touch_nothing_outside_the_backup(self):
        base = os.path.join(self.tmp.path, "Backups")
        other = os.path.join(base, "other-backup")
        os.makedirs(other)
        with open(os.path.join(other, "Info.plist"), "wb") as f:
            f.write(b"keep")
        udid, image = self.attach({"extraRemoveItems": []})
        with open(os.path.join(image, "backup.json"), "w") as f:
            json.dump({"extraRemoveItems": [udid + "/../other-backup", "other-backup", udid + "/..", udid],
                       # Copies and removals the device orders are done inside the backup and answered
                       # (a device waits for the answer), hostile ones refused.
                       "copyItems": [[udid + "/Manifest.plist", udid + "/Copy.plist"],
                                     [udid + "/Manifest.plist", udid + "/Gone.plist"],
                                     [udid + "/Manifest.plist", udid + "/../stolen.plist"],
                                     ["other-backup/Info.plist", udid + "/Taken.plist"]],
                       "removeFiles": [udid + "/Gone.plist", udid + "/../other-backup/Info.plist"]}, f)
        self.start(udid)
        folder, _, final = self.backup(udid, base)
        self.assertEqual(final["code"], 0)
        self.assertTrue(os.path.exists(os.path.join(other, "Info.plist")))
        with open(os.path.join(folder, "Manifest.plist"), "rb") as a, open(os.path.join(folder, "Copy.plist"), "rb") as b:
            self.assertEqual(a.read(), b.read())
        for name in ("Gone.plist", "Taken.plist", "../stolen.plist"):
            self.assertFalse(os.path.exists(os.path.join(folder, name)), name)
        self.assert_backup_of(folder, udid, image, "3d")


class BackupRequestTest(BackupTestCase):
    def test_cancel_ends_a_backup_whose_device_hangs(self):
        udid, _ = self.attach({"stallAtPercent": 20})
        self.start(udid)
        packet_id, folder = self.stalled_backup(udid, os.path.join(self.tmp.path, "Backups"))
        self.send(CANCEL, {"uuid": udid, "code": packet_id})
        final = self.replies([packet_id])[packet_id][1]
        self.assertEqual(final[2]["code"], 6)
        self.assertEqual(final[2]["info"], {"error": "Task cancelled."})
        self.assertFalse(os.path.exists(folder))

    def stalled_backup(self, udid, base):
        """Starts a backup that stalls at 20 percent; (packet id, folder) once it has."""
        packet_id = self.send(BACKUP, {"uuid": udid}, {"path": base})
        folder = None
        while True:
            item = self.next_packet()
            if item["id"] != packet_id:
                continue
            record, data = record_of(item)
            if record["stage"] == 0:
                folder = json.loads(zlib.decompress(data))["BackupDir"]
            elif record["code"] == 2000:
                return packet_id, folder

    def test_a_second_session_of_a_device_is_refused_while_one_runs(self):
        udid, _ = self.attach({"stallAtPercent": 20})
        self.start(udid)
        base = os.path.join(self.tmp.path, "Backups")
        packet_id, folder = self.stalled_backup(udid, base)
        busy = (60, {"error": "A backup or restore of this device is running."})
        for code, data in ((BACKUP, {"path": base}), (RESTORE, {"path": folder, "sourceDeviceId": udid, "password": ""})):
            progress, final = self.run_request(code, {"uuid": udid}, data)
            self.assertEqual((final[2]["code"], final[2]["info"]), busy)
            self.assertEqual(progress, [])
        self.assertEqual(os.listdir(base), [os.path.basename(folder.rstrip("/"))])
        self.assertTrue(os.path.exists(os.path.join(folder, "Info.plist")))
        # A path that is not a text is refused, not taken as the standard folder.
        for path in (5, None, [base], {"path": base}):
            _, final = self.run_request(BACKUP, {"uuid": udid}, {"path": path})
            self.assertEqual((final[2]["code"], final[2]["info"]), (8, {"error": "ParameterError"}), path)
        self.send(CANCEL, {"uuid": udid, "code": packet_id})
        self.assertEqual(self.replies([packet_id])[packet_id][1][2]["code"], 6)
        # The session ended: the next backup of the device runs.
        packet_id, _ = self.stalled_backup(udid, base)
        self.send(CANCEL, {"uuid": udid, "code": packet_id})
        self.assertEqual(self.replies([packet_id])[packet_id][1][2]["code"], 6)

    def test_a_backup_killed_mid_way_is_listed_as_incomplete_and_kept(self):
        udid, _ = self.attach({"stallAtPercent": 20})
        other, _ = self.attach()
        self.start(udid, other)
        base = os.path.join(self.tmp.path, "Backups") + "/"
        whole = self.backup(other, base)[0]
        _, torn = self.stalled_backup(udid, base)
        self.peer.process.kill()  # the service dies in mid-backup
        self.peer.process.wait()
        left = set(os.listdir(torn))
        self.assertIn("Info.plist", left)
        self.assertFalse(left & {"Manifest.plist", "Status.plist"}, left)
        # A folder whose Info.plist names no device is no backup, finished or not.
        stray = os.path.join(base, "stray")
        os.makedirs(stray)
        with open(os.path.join(stray, "Info.plist"), "wb") as f:
            plistlib.dump({"CFBundleName": "Stray"}, f)
        self.peer.close()
        self.start(udid, other)

        progress, final = self.run_request(LIST, {"uuid": ""}, {"paths": [base]})
        self.assertEqual(final[2]["code"], 0)
        reports = {(r["stage"], json.loads(data)["Path"]): json.loads(data) for _, _, r, data in progress}
        self.assertEqual(sorted(reports), sorted((stage, path) for stage in (0, 1) for path in (whole, torn)))
        for stage in (0, 1):
            self.assertEqual([reports[(stage, path)]["IsIncomplete"] for path in (whole, torn)], [False, True])
        self.assertEqual(reports[(1, torn)]["Unique Identifier"], udid)
        self.assertEqual(set(os.listdir(torn)), left, "the listing changes nothing")
        self.assertTrue(os.path.exists(os.path.join(stray, "Info.plist")))
        _, final = self.run_request(RESTORE, {"uuid": other}, {"path": torn, "sourceDeviceId": udid, "password": ""})
        self.assertEqual(final[2]["code"], 42)
        # A folder with Info.plist and Manifest.plist but no Status.plist is no finished backup: its
        # sub-folders are searched, and the finished backup in one of them is found.
        shutil.copy(os.path.join(whole, "Manifest.plist"), torn)
        inner = shutil.copytree(whole, os.path.join(torn, "inner")) + "/"
        progress, final = self.run_request(LIST, {"uuid": ""}, {"paths": [torn]})
        self.assertEqual(final[2]["code"], 0)
        found = {(r["stage"], json.loads(data)["Path"]): json.loads(data)["IsIncomplete"] for _, _, r, data in progress}
        self.assertEqual(found, {(stage, path): path == torn for stage in (0, 1) for path in (torn, inner)})

    def test_find_my_and_encryption_and_password_change_through_the_tool(self):
        udid, image = self.attach()
        other, _ = self.attach()
        hlx_device.set_lockdown_value(udid, "IsAssociated", True, domain="com.apple.fmip", root=self.lab.root)
        # A device that answers "WillEncrypt" as a number counts as well as one that answers a boolean.
        hlx_device.set_lockdown_value(other, "WillEncrypt", 1, domain="com.apple.mobile.backup", root=self.lab.root)
        self.start(udid, other)
        code = lambda request, device, data=None: self.run_request(request, {"uuid": device}, data)[1][2]["code"]
        self.assertEqual([code(FIND_MY, udid), code(FIND_MY, other)], [0, 1])
        self.assertEqual([code(ENCRYPTION, udid), code(ENCRYPTION, other)], [1, 0])
        password = 'a b "c" $(touch x); \\'
        self.assertEqual(code(CHANGE_PASSWORD, udid, {"password": password}), 0)
        with open(os.path.join(image, "backup.json")) as f:
            self.assertEqual(json.load(f)["password"], password)
        self.assertEqual(code(ENCRYPTION, udid), 0)
        self.assertEqual(code(CHANGE_PASSWORD, udid, {"password": ""}), 1)
        self.assertEqual(code(ENCRYPTION, udid), 1)

    def test_player_running(self):
        self.start_harlix()
        self.assertEqual(self.run_request(PLAYER_RUNNING, {"uuid": ""}, sub=0)[1][2]["code"], 0)
        self.assertEqual(self.run_request(PLAYER_RUNNING, {"uuid": ""})[1][2]["code"], 1)
        player = os.path.join(self.tmp.path, "iTunes.exe")
        shutil.copy(sys.executable, player)
        players = [subprocess.Popen([player, "-c", "import time; time.sleep(60)"]) for _ in range(2)]
        for process in players:
            self.addCleanup(process.wait)
            self.addCleanup(process.kill)
        self.assertEqual(self.run_request(PLAYER_RUNNING, {"uuid": ""})[1][2]["code"], 0)
        # A program whose path merely holds the player's name is another program.
        look_alike_path = os.path.join(self.tmp.path, "NotiTunes.exe.bak")
        shutil.copy(sys.executable, look_alike_path)
        look_alike = subprocess.Popen([look_alike_path, "-c", "import time; time.sleep(60)"])
        self.addCleanup(look_alike.wait)
        self.addCleanup(look_alike.kill)
        # Stopping ends every player process by force; with none left it answers 128.
        self.assertEqual(self.run_request(STOP_PLAYER, {"uuid": ""}, sub=0)[1][2]["code"], 0)
        self.assertIsNone(players[0].poll())
        self.assertEqual(self.run_request(STOP_PLAYER, {"uuid": ""})[1][2]["code"], 0)
        self.assertEqual([process.wait(timeout=30) for process in players], [-signal.SIGKILL] * 2)
        self.assertIsNone(look_alike.poll(), "the look-alike was ended")
        self.assertEqual(self.run_request(STOP_PLAYER, {"uuid": ""})[1][2]["code"], 128)
        self.assertIsNone(look_alike.poll(), "the look-alike was ended")
        look_alike.kill()
        look_alike.wait()
        self.assertEqual(self.run_request(PLAYER_RUNNING, {"uuid": ""})[1][2]["code"], 1)
        self.assertEqual(self.run_request(STOP_PLAYER, {"uuid": ""})[1][2]["code"], 128)


class BackupToolTest(BackupTestCase):
    TOOL = os.path.join(os.environ.get("HLX_APPLE_SUPPORT_DIR", ""), "AppleMobileBackup.exe")

    def test_tool_backs_up_in_each_layout(self):
        udid, image = self.attach()
        with open(os.path.join(image, "sms.db"), "rb") as f:
            database = f.read()
        places = {"flat": SMS_ID, "3d": "3d/" + SMS_ID, "snapshot": "Snapshot/3d/" + SMS_ID}
        for layout, place in places.items():
            with self.subTest(layout=layout):
                scratch = os.path.join(self.tmp.path, "scratch-" + layout) + "/"
                env = self.lab.env(self.tmp.path, HLX_BACKUP_TOOL_LAYOUT=layout)
                done = subprocess.run([self.TOOL, "-b", "--target", udid, "-q", scratch], env=env, timeout=120, capture_output=True)
                self.assertEqual(done.returncode, 0)
                with open(os.path.join(scratch, udid, place), "rb") as f:
                    self.assertEqual(f.read(), database)
        env = self.lab.env(self.tmp.path)
        for arguments, code in ((["-b", "--target", udid], 64), (["-b", "--target", "no-such-udid", "-q", "x"], 66)):
            self.assertEqual(subprocess.run([self.TOOL] + arguments, env=env, timeout=60, capture_output=True).returncode, code)


if __name__ == "__main__":
    unittest.main()
