"""Messages (request 201) through the Harlix process: the message database fetched with a backup tool
stand-in (backup_tool_standin.py) in each backup layout, then the conversations compared with what
Python's sqlite3 reads from the same database, for every era of make_sms_db.py and a real database;
and the requests that must fail."""

import datetime
import glob
import json
import os
import shutil
import sqlite3
import unittest

from harlix_process import PINNED_OFFSET, PINNED_TZ, READY, HarlixTestCase, wait_until

import backup_tool_standin
import make_sms_db

MESSAGES = 201
# The real database beside the project (../shared/real-data), read from a copy only.
REAL_DB = next((p for p in (os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "shared"),
                            "/work/shared")
                if os.path.isdir(os.path.join(p, "real-data"))), "") + "/real-data/plaso/test_data/sqlite/imessage_chat.db"
DATABASE_ID = "3d0d7e5fb2ce288813306e4d4636395e047a3d28"
APPLE_EPOCH = datetime.datetime(2001, 1, 1)
NOT_OPENED, UNREADABLE, TOOL_NOT_STARTED, TASK_ERROR, BAD_DATA = 19, 20, 23, 2, 8
DEVICE_GONE, NO_DATABASE, CANCELLED, CANCEL = 45, 46, 6, 600


def local_text(apple_count):
    """A stored date as the service's local-time text ("" for 0); nanoseconds beyond seconds' range."""
    if not apple_count:
        return ""
    seconds = apple_count if apple_count <= 32535215999 - 978307200 else apple_count // 1000000000
    return (APPLE_EPOCH + datetime.timedelta(seconds=seconds) + PINNED_OFFSET).strftime("%Y-%m-%d %H:%M:%S")


def read_copy(path, folder):
    """Rows of a copy of the database (with its companions): opening the fixture itself would move
    its -wal rows into the main file."""
    copy = os.path.join(folder, "reference-%d.db" % len(os.listdir(folder)))
    for suffix in ("", "-wal", "-shm"):
        if os.path.exists(path + suffix):
            shutil.copyfile(path + suffix, copy + suffix)
    db = sqlite3.connect(copy)
    db.row_factory = sqlite3.Row
    return db


def expected_chats(path, folder):
    """{key: (chat object without "handles", sorted handles, messages sorted by (date, id))}, built
    from whole tables joined in Python."""
    db = read_copy(path, folder)
    tables = {r[0] for r in db.execute("SELECT name FROM sqlite_master WHERE type='table'")}
    if "message" not in tables:
        return {}
    current = {"handle", "chat", "chat_message_join", "chat_handle_join"} <= tables
    if not current and "madrid_chat" in tables:
        return {}
    chats = {}

    def chat(key):
        return chats.setdefault(key, {"id": key, "messages": [], "handles": [], "is_group": 0, "phones": []})

    if current:
        handles = {r["ROWID"]: dict(r) for r in db.execute("SELECT * FROM handle")}
        chat_ids = {r[0] for r in db.execute("SELECT ROWID FROM chat")}
        joins = {}
        for r in db.execute("SELECT chat_id, message_id FROM chat_message_join"):
            joins.setdefault(r[1], []).append(r[0] if r[0] in chat_ids else 0)
        for m in db.execute("SELECT * FROM message"):
            handle = handles.get(m["handle_id"], {})
            for key in joins.get(m["ROWID"], [0]):
                c = chat(str(key or 0))
                c["is_group"] |= 1 if m["handle_id"] == 0 else 0
                c["messages"].append({
                    "id": m["ROWID"], "chat_id": c["id"], "text": m["text"] or "", "date": m["date"],
                    "date_str": local_text(m["date"]), "date_read": m["date_read"] or 0,
                    "date_read_str": local_text(m["date_read"]), "is_from_me": m["is_from_me"],
                    "is_read": m["is_read"], "is_sent": m["is_sent"], "error": m["error"], "handle_id": m["handle_id"],
                    "handle_id_phone": handle.get("id", ""), "subject": m["subject"] or "",
                    "account_guid": m["account_guid"] or "", "account": m["account"] or ""})
        joined = {}
        for r in db.execute("SELECT chat_id, handle_id FROM chat_handle_join"):
            joined.setdefault(r[1], []).append(r[0] if r[0] in chat_ids else 0)
        for rowid, h in handles.items():
            for key in joined.get(rowid, [0]):
                if str(key) in chats:
                    chats[str(key)]["handles"].append({"id": rowid, "chat_id": str(key), "service": h["service"],
                                                       "country": h["country"] or "", "handle_id_phone": h["id"]})
    else:
        for m in db.execute("SELECT * FROM message"):
            address = m["address"]
            key = "0" if address is None else str(int(address)) if address.isdigit() else address
            c = chat(key)
            c["phones"] = [key]
            c["messages"].append({
                "id": m["ROWID"], "chat_id": key, "text": m["text"] or "", "date": m["date"],
                "date_str": local_text(m["date"] - 978307200), "date_read": 0, "date_read_str": "",
                "is_from_me": 1 if m["flags"] == 3 else 0, "is_read": m["read"], "is_sent": 0, "error": 0,
                "handle_id": 0, "handle_id_phone": "", "subject": m["subject"] or "", "account_guid": "",
                "account": ""})
    db.close()
    result = {}
    for key, c in chats.items():
        messages = sorted(c["messages"], key=lambda m: (m["date"], m["id"]))
        last = max(messages, key=lambda m: m["date"])
        phones = c["phones"] or [h["handle_id_phone"] for h in c["handles"]]
        result[key] = ({"id": key, "snippet": last["text"], "display_phone": sorted(phones), "is_group": c["is_group"],
                        "date": last["date"], "date_str": last["date_str"], "message_count": len(messages)},
                       sorted(c["handles"], key=lambda h: h["id"]), messages)
    return result


class MessagesTest(HarlixTestCase):
    first_request_id = 20100

    def setUp(self):
        super().setUp()
        self.program_files = backup_tool_standin.install(self.lab.support, self.tmp.path)
        self.reference = os.path.join(self.tmp.path, "reference")
        os.makedirs(self.reference)

    def attach(self, era="ios11", messages=None, database=None, **tool):
        """An attached device with sms.db of an era (or a copy of `database`) and the stand-in's
        options; returns (udid, image folder)."""
        image = self.lab.make(sms={"era": era, "messages": messages})
        if database:
            shutil.copyfile(database, os.path.join(image["path"], "sms.db"))
            for suffix in ("-wal", "-shm"):
                if os.path.exists(os.path.join(image["path"], "sms.db" + suffix)):
                    os.remove(os.path.join(image["path"], "sms.db" + suffix))
        backup_tool_standin.configure(image["path"], **tool)
        udid = self.lab.attach(image)
        return udid, os.path.join(self.lab.root, udid)

    def start(self, *udids):
        self.start_harlix({"TZ": PINNED_TZ, "HLX_PROGRAM_FILES": self.program_files})
        for udid in udids:
            self.next_event(READY, udid)

    def list_all(self, requests):
        """Sends every (udid, info) at once; {udid: (progress, final)}."""
        ids = {self.send(MESSAGES, {"uuid": udid, "info": info}): udid for udid, info in requests}
        return {ids[i]: result for i, result in self.replies(list(ids)).items()}

    def listing(self, udid, progress, final):
        """The replies of a successful listing as {key: (chat, handles, messages)}, checking their shape:
        the desktop copy's path, the count, then each chat with its messages in arrays of at most 50."""
        self.assert_final(final, 0, udid)
        for command, status, record, _ in progress:
            self.assertEqual((command, status, record["uuid"], record["type"]), (MESSAGES, 2, udid, 0))
        if not progress:
            return {}
        (_, _, path_record, _), (_, _, count_record, _) = progress[:2]
        self.assertEqual((path_record["stage"], count_record["stage"]), (-1, 0))
        self.assertTrue(os.path.isfile(path_record["info"]), path_record["info"])
        count = count_record["info"]["Count"]
        chats, order = {}, []
        for _, _, record, data in progress[2:]:
            self.assertEqual((record["stage"], record["info"]), (1, {"Count": count}))
            value = json.loads(data.decode("utf-8"))
            if record["code"] == 0:
                handles = value.pop("handles")
                value["display_phone"] = sorted(value["display_phone"].split(",")) if value["display_phone"] else []
                chats[value["id"]] = (value, sorted(handles, key=lambda h: h["id"]), [])
                order.append(value)
            else:
                self.assertEqual(record["code"], 1)
                self.assertTrue(1 <= len(value) <= 50)
                chats[order[-1]["id"]][2].extend(value)
        self.assertEqual(len(chats), count)
        dates = [c["date"] for c in order]
        self.assertEqual(dates, sorted(dates, reverse=True), "newest first")
        for chat, _, messages in chats.values():
            self.assertEqual([m["date"] for m in messages], sorted(m["date"] for m in messages))
            messages.sort(key=lambda m: (m["date"], m["id"]))
        return chats

    def batch_sizes(self, progress, key):
        """The sizes of the message arrays that follow the chat `key`."""
        sizes, current = [], None
        for _, _, record, data in progress[2:]:
            if record["code"] == 0:
                current = json.loads(data.decode("utf-8"))["id"]
            elif current == key:
                sizes.append(len(json.loads(data.decode("utf-8"))))
        return sizes

    def test_every_era_and_a_real_database_list_what_sqlite_reads(self):
        devices = {era: self.attach(era) for era in make_sms_db.ERAS}
        if os.path.isfile(REAL_DB):
            devices["real"] = self.attach(database=REAL_DB)
        self.start(*(udid for udid, _ in devices.values()))
        results = self.list_all([(udid, {"command": 1}) for udid, _ in devices.values()])
        for name, (udid, image) in devices.items():
            with self.subTest(database=name):
                listed = self.listing(udid, *results[udid])
                expected = expected_chats(os.path.join(image, "sms.db"), self.reference)
                self.assertEqual(listed, expected)
                if name not in ("ios5",):
                    self.assertTrue(listed)
        # The fixtures hold what the listing must cope with: rows only in the -wal file, a chat of
        # 120 messages (50/50/20) and one of exactly 50, an orphan message, a group, emoji and CJK.
        udid, image = devices["ios11"]
        main_only = sqlite3.connect("file:%s?immutable=1" % os.path.join(image, "sms.db"), uri=True)
        self.assertLess(main_only.execute("SELECT count(*) FROM message").fetchone()[0], 200)
        progress, _ = results[udid]
        listed = self.listing(udid, *results[udid])
        self.assertEqual(sorted(self.batch_sizes(progress, key) for key in listed if key != "0")[-2:],
                         [[50], [50, 50, 20]])
        self.assertIn("0", listed)
        self.assertEqual(sum(c["is_group"] for c, _, _ in listed.values() if c["id"] != "0"), 1)
        texts = "".join(m["text"] for _, _, ms in listed.values() for m in ms)
        self.assertIn("\U0001f389", texts)
        self.assertIn("\u4f60\u597d", texts)
        # The oldest layout keeps e-mail senders apart and reads the subject.
        udid, _ = devices["ios4"]
        listed = self.listing(udid, *results[udid])
        self.assertIn("anna@example.com", listed)
        self.assertIn("bob@example.com", listed)
        self.assertTrue(any(m["subject"] == "Re: plans" for _, _, ms in listed.values() for m in ms))

        # Command 2 lists the copy fetched before again.
        udid, image = devices["recent"]
        again = self.list_all([(udid, {"command": 2})])[udid]
        self.assertEqual(self.listing(udid, *again), expected_chats(os.path.join(image, "sms.db"), self.reference))

    def test_partial_backup_lists_what_sqlite_reads_and_needs_the_database_itself(self):
        devices = {era: self.attach(era) for era in ("ios4", "ios11")}
        failing = {name: self.attach() for name in ("wal only", "error 0 first", "disconnect", "stalled")}
        for _, image in list(devices.values()) + list(failing.values()):
            # Batches of files ahead of the database: progress before it, and a scripted end before it.
            os.makedirs(os.path.join(image, "fs", "Early"), exist_ok=True)
            for i in range(40):
                with open(os.path.join(image, "fs", "Early", "%02d.txt" % i), "w") as f:
                    f.write("early %d" % i * 1000)
        os.remove(os.path.join(failing["wal only"][1], "sms.db"))
        for name, script in (("error 0 first", {"failAtPercent": 0, "errorCode": 0, "errorText": "done early"}),
                             ("disconnect", {"disconnectAtPercent": 0}), ("stalled", {"stallAtPercent": 0})):
            with open(os.path.join(failing[name][1], "backup.json"), "w") as f:
                json.dump(script, f)
        self.start(*(udid for udid, _ in list(devices.values()) + list(failing.values())))
        stalled = failing.pop("stalled")[0]
        stalled_id = self.send(MESSAGES, {"uuid": stalled, "info": {"command": 0}})
        results = self.list_all([(udid, {"command": 0}) for udid, _ in list(devices.values()) + list(failing.values())])
        for name, (udid, image) in devices.items():
            with self.subTest(era=name):
                progress, final = results[udid]
                backup = [record["code"] for _, _, record, _ in progress if record["stage"] == 2]
                self.assertTrue(backup)
                self.assertEqual(backup, sorted(set(backup)), "progress only rises")
                listed = self.listing(udid, [p for p in progress if p[2]["stage"] != 2], final)
                self.assertTrue(listed)
                self.assertEqual(listed, expected_chats(os.path.join(image, "sms.db"), self.reference))
                # Command 2 lists the same copy again.
                again = self.list_all([(udid, {"command": 2})])[udid]
                self.assertEqual(self.listing(udid, *again), listed)
        for name, code in (("wal only", NO_DATABASE), ("error 0 first", NO_DATABASE), ("disconnect", DEVICE_GONE)):
            with self.subTest(case=name):
                udid = failing[name][0]
                progress, final = results[udid]
                self.assert_final(final, code, udid)
                self.assertEqual([p for p in progress if p[2]["stage"] != 2], [])
                # Nothing fetched: there is no copy to list.
                self.assert_final(self.list_all([(udid, {"command": 2})])[udid][1], NOT_OPENED, udid)
        # A cancel ends a backup whose device went silent, and its folder goes.
        self.send(CANCEL, {"uuid": stalled, "code": stalled_id})
        _, status, record, _ = self.replies([stalled_id])[stalled_id][1]
        self.assertEqual((status, record["code"]), (5, CANCELLED))
        self.assertEqual(glob.glob(os.path.join(self.tmp.path, "**", "Backup0", stalled + "-*"), recursive=True), [])

    def test_backup_layouts_a_slow_writer_and_a_tool_that_exits(self):
        cases = {"3d": dict(layout="3d"), "snapshot": dict(layout="snapshot"),
                 "snapshot-3d": dict(layout="snapshot-3d"), "slow": dict(mode="slow"),
                 "write-and-exit": dict(mode="write-and-exit"), "exit-early": dict(mode="exit-early")}
        devices = {name: self.attach(**tool) for name, tool in cases.items()}
        self.start(*(udid for udid, _ in devices.values()))
        results = self.list_all([(udid, {"command": 1}) for udid, _ in devices.values()])
        for name, (udid, image) in devices.items():
            with self.subTest(case=name):
                if name == "exit-early":
                    self.assert_final(results[udid][1], NOT_OPENED, udid)
                    self.assertEqual(results[udid][0], [])
                    continue
                listed = self.listing(udid, *results[udid])
                self.assertEqual(listed, expected_chats(os.path.join(image, "sms.db"), self.reference))
                self.assertEqual(sum(len(ms) for _, _, ms in listed.values()), 200)
        # Each run deleted its backup folder and kept only the copied database with its companions.
        for udid, _ in devices.values():
            scratch = glob.glob(os.path.join(self.tmp.path, "**", udid, "Backup0"), recursive=True)
            self.assertEqual(len(scratch), 1)
            self.assertFalse(os.path.exists(os.path.join(scratch[0], udid)))

    def test_stopping_the_service_ends_the_tool_and_deletes_its_folder(self):
        record = os.path.join(self.tmp.path, "tool.json")
        udid, _ = self.attach(mode="hang", record=record)
        self.start(udid)
        self.send(MESSAGES, {"uuid": udid, "info": {"command": 1}})
        self.assertTrue(wait_until(lambda: os.path.exists(record), timeout=20))
        with open(record, encoding="utf-8") as f:
            tool = json.load(f)
        self.assertEqual(tool["argv"][:4], ["-b", "--target", udid, "-q"])
        backup = os.path.join(tool["argv"][4], udid)
        unwanted = os.path.join(backup, "%040x" % 0xfeed)
        # The watch deletes backed-up files that are not the database while the tool runs.
        self.assertTrue(wait_until(lambda: not os.path.exists(unwanted), timeout=20))
        self.sleeper.kill()
        self.assertTrue(wait_until(lambda: self.peer.process.poll() is not None, timeout=20))
        self.assertTrue(wait_until(lambda: not os.path.exists("/proc/%d" % tool["pid"]), timeout=10))
        self.assertFalse(os.path.exists(backup))

    def test_texts_that_are_not_utf8_arrive_as_valid_utf8(self):
        # A bad byte, a cut sequence before a bad byte, an overlong form, a surrogate, a sequence cut by
        # the end: each ill-formed part becomes U+FFFD, as Python's own decoder replaces it.
        raw_texts = [b"H\xc3\xffhi", b"a\xe0\x80\xafb", b"\xed\xa0\x80", b"ok \xf0\x9f\x98"]
        udid, image = self.attach(messages=20)
        db = sqlite3.connect(os.path.join(image, "sms.db"))
        rows = [r for (r,) in db.execute("SELECT rowid FROM message ORDER BY rowid LIMIT ?", (len(raw_texts),))]
        for rowid, raw in zip(rows, raw_texts):
            db.execute("UPDATE message SET text = CAST(? AS TEXT) WHERE rowid = ?", (raw, rowid))
        db.commit()
        db.close()
        self.start(udid)
        listed = self.listing(udid, *self.list_all([(udid, {"command": 1})])[udid])
        texts = {m["id"]: m["text"] for _, _, messages in listed.values() for m in messages}
        self.assertEqual([texts[r] for r in rows], [raw.decode("utf-8", "replace") for raw in raw_texts])

    def test_a_cancel_ends_the_tool_and_a_database_failing_its_check_ends_the_run(self):
        # The tool would run for minutes in both cases; each request must end long before that.
        record = os.path.join(self.tmp.path, "tool.json")
        hanging, _ = self.attach(mode="hang", record=record)
        garbage = os.path.join(self.tmp.path, "garbage.db")
        with open(garbage, "wb") as f:
            f.write(b"not a database at all" * 200)
        corrupt, _ = self.attach(database=garbage)
        self.start(hanging, corrupt)
        packet_id = self.send(MESSAGES, {"uuid": hanging, "info": {"command": 1}})
        self.assertTrue(wait_until(lambda: os.path.exists(record), timeout=20))
        with open(record, encoding="utf-8") as f:
            tool = json.load(f)
        self.send(CANCEL, {"uuid": hanging, "code": packet_id})
        _, (_, status, record, _) = self.replies([packet_id], timeout=30)[packet_id]
        self.assertEqual((status, record["code"]), (5, CANCELLED))
        self.assertTrue(wait_until(lambda: not os.path.exists("/proc/%d" % tool["pid"]), timeout=10))
        self.assertFalse(os.path.exists(os.path.join(tool["argv"][4], hanging)))

        packet_id = self.send(MESSAGES, {"uuid": corrupt, "info": {"command": 1}})
        progress, final = self.replies([packet_id], timeout=30)[packet_id]
        self.assert_final(final, NOT_OPENED, corrupt)
        self.assertEqual(progress, [])

    def test_a_missing_unreadable_or_foreign_database_fails(self):
        udid, _ = self.attach(messages=20)
        self.start(udid)
        # Nothing fetched yet: nothing is opened, and nothing is created.
        for info, code in (({"command": 2}, NOT_OPENED), ({"command": "1"}, BAD_DATA), ([], BAD_DATA),
                           ({"command": 7}, 0)):
            progress, final = self.list_all([(udid, info)])[udid]
            self.assert_final(final, code, udid)
            self.assertEqual(progress, [])
        # Without the tool there is nothing to start.
        tool = os.path.join(self.program_files, "Common Files", "Apple", "Mobile Device Support",
                            "AppleMobileBackup.exe")
        os.rename(tool, tool + ".off")
        self.assert_final(self.list_all([(udid, {"command": 1})])[udid][1], TOOL_NOT_STARTED, udid)
        os.rename(tool + ".off", tool)
        progress, final = self.list_all([(udid, {"command": 1})])[udid]
        self.assert_final(final, 0, udid)
        fetched = glob.glob(os.path.join(self.tmp.path, "**", "Backup0", DATABASE_ID), recursive=True)
        self.assertEqual(len(fetched), 1)
        for contents, code in ((b"not a database at all" * 200, UNREADABLE), (None, NOT_OPENED)):
            for suffix in ("-wal", "-shm"):
                if os.path.exists(fetched[0] + suffix):
                    os.remove(fetched[0] + suffix)
            if contents is None:
                os.remove(fetched[0])
            else:
                with open(fetched[0], "wb") as f:
                    f.write(contents)
            progress, final = self.list_all([(udid, {"command": 2})])[udid]
            self.assert_final(final, code, udid)
            self.assertEqual(progress, [])
        self.assertFalse(os.path.exists(fetched[0]))


if __name__ == "__main__":
    unittest.main()
