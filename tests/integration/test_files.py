"""File transfers through the Harlix process and the simulated iPhone: a large file downloaded (702)
and uploaded (703) in segments sent out of order and at once, byte for byte (sha256); an upload cut
off by a killed service that resumes with only the missing segments; a cancelled upload that leaves
nothing behind; uploads refused for a table that does not cover the file, an MD5 their bytes do not
have, or a written segment sent again with other bytes; uploads and exports that leave every file
they did not make as it was; and an export (701) of a file, a folder tree and a book bundle to a PC
folder."""

import hashlib
import json
import os
import random
import zipfile
import zlib

from harlix_process import READY, HarlixTestCase, record_of

import hlx_device  # noqa: E402

EXPORT, DOWNLOAD, UPLOAD, CANCEL = 701, 702, 703, 600
MIB = 1024 * 1024


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def body(json_text, data=b"", compress=True):
    """A request body; the data part compressed unless it is an upload's raw segment."""
    text = json.dumps(json_text, separators=(",", ":")).encode("utf-8")
    return b"1\0" + text + b"\0" + (zlib.compress(data) if compress and data else data)


class FileTest(HarlixTestCase):
    first_request_id = 7100

    def attach(self):
        image = self.lab.make()
        self.udid = self.lab.attach(image)
        self.fs = os.path.join(hlx_device.image_folder(self.udid, root=self.lab.root), "fs")
        self.start_harlix()
        self.next_event(READY, self.udid)

    def restart_harlix(self):
        self.peer.close()
        self.start_harlix()
        self.next_event(READY, self.udid)

    def stage(self, code, packet_id, stage, data=b"", info=None, compress=True, status=0):
        request = {"uuid": self.udid, "stage": stage, "code": 0}
        if info is not None:
            request["info"] = info
        self.peer.send(packet_id, code, status, body(request, data, compress))

    def receive(self, packet_id, count):
        """The next `count` replies to packet_id as (status, record, data), data inflated for type 0."""
        out = []
        while len(out) < count:
            item = self.next_packet(timeout=60)
            if item["id"] != packet_id:
                continue
            record, data = record_of(item)
            if data and record["type"] == 0:
                data = zlib.decompress(data)
            out.append((item["status"], record, data))
        return out

    def assert_nothing_pending_for(self, packet_id):
        """Harlix answers a later request first: nothing came for packet_id before it."""
        marker = self.send(EXPORT, {"uuid": self.udid}, [])
        while True:
            item = self.next_packet()
            self.assertNotEqual(item["id"], packet_id, "unexpected reply %r" % (record_of(item),))
            if item["id"] == marker:
                return

    def put_device_file(self, path, data):
        full = os.path.join(self.fs, path.lstrip("/"))
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)

    def device_file(self, path):
        with open(os.path.join(self.fs, path.lstrip("/")), "rb") as f:
            return f.read()

    # --- 702 -------------------------------------------------------------------------------------

    def test_download_in_segments_out_of_order_and_at_once(self):
        self.attach()
        content = random.Random(1).randbytes(50 * MIB + 12345)
        self.put_device_file("/Downloads/big.bin", content)
        packet_id = 7500
        self.stage(DOWNLOAD, packet_id, 1, json.dumps({"path": "/Downloads/big.bin"}).encode())
        (status, record, data), = self.receive(packet_id, 1)
        self.assertEqual((status, record["stage"], record["code"]), (2, 1, 0))
        header = json.loads(data, object_pairs_hook=list)
        header_dict = dict(header)
        self.assertEqual([k for k, _ in header], ["version", "file_name", "md5", "size", "status", "fbs"])
        self.assertEqual((header_dict["file_name"], header_dict["size"]), ("big.bin", len(content)))
        segments = dict(header_dict["fbs"])
        self.assertEqual(list(segments), sorted(str(i) for i in range(1, 27)))  # "1", "10", "11", ... "9"
        self.assertEqual(dict(segments["26"]), {"status": 0, "offset": 25 * 2 * MIB,
                                                "offset_length": len(content) - 25 * 2 * MIB})

        # A file replaced on the device once the download began does not mix in: every segment is
        # the file that stage 1 opened.
        replacement = os.path.join(self.fs, "Downloads", "replacement.bin")
        with open(replacement, "wb") as f:
            f.write(bytes(len(content)))
        os.replace(replacement, os.path.join(self.fs, "Downloads", "big.bin"))

        order = list(segments.items())
        random.Random(2).shuffle(order)
        for key, segment in order:  # all in flight at once: the workers serve them concurrently
            segment = dict(segment)
            ask = {"id": int(key), "offset": segment["offset"], "offset_length": segment["offset_length"]}
            self.stage(DOWNLOAD, packet_id, 2, json.dumps(ask).encode())
        pieces = {}
        for status, record, data in self.receive(packet_id, len(order)):
            self.assertEqual((status, record["stage"], record["code"], record["type"]), (2, 2, 0, 1))
            pieces[record["info"]["offset"]] = data
        self.assertEqual(sha256(b"".join(pieces[o] for o in sorted(pieces))), sha256(content))

        # Past the end of the file: a failure, not an empty segment.
        self.stage(DOWNLOAD, packet_id, 2, json.dumps({"id": 99, "offset": len(content), "offset_length": 10}).encode())
        (status, record, _), = self.receive(packet_id, 1)
        self.assertEqual((status, record["code"]), (6, 2))

        # A read the device fails is that segment's failure alone: once the device answers again,
        # segments asked for at once are the file's bytes.
        hlx_device.set_fault(self.udid, root=self.lab.root, fail_calls={"AFCFileRefSeek": range(1, 5000)})
        self.stage(DOWNLOAD, packet_id, 2, json.dumps({"id": 1, "offset": 0, "offset_length": 2 * MIB}).encode())
        (status, record, _), = self.receive(packet_id, 1)
        self.assertEqual((status, record["code"]), (6, 2))
        hlx_device.set_fault(self.udid, root=self.lab.root, clear=True)
        again = [dict(segments[key]) for key in ("3", "26", "1", "14")]
        for segment in again:
            ask = {"id": 0, "offset": segment["offset"], "offset_length": segment["offset_length"]}
            self.stage(DOWNLOAD, packet_id, 2, json.dumps(ask).encode())
        for status, record, data in self.receive(packet_id, len(again)):
            self.assertEqual((status, record["code"]), (2, 0))
            offset = record["info"]["offset"]
            self.assertEqual(sha256(data), sha256(content[offset:offset + record["info"]["offset_length"]]))

        self.stage(DOWNLOAD, packet_id, 3)
        (status, record, _), = self.receive(packet_id, 1)
        self.assertEqual((status, record["stage"], record["code"]), (2, 3, 0))
        # The transfer is closed: a late segment request is answered by nothing.
        self.stage(DOWNLOAD, packet_id, 2, json.dumps({"id": 1, "offset": 0, "offset_length": 10}).encode())
        self.assert_nothing_pending_for(packet_id)

        # A folder or a missing file cannot be downloaded.
        for path in ("/Downloads", "/Downloads/none.bin"):
            self.stage(DOWNLOAD, 7600, 1, json.dumps({"path": path}).encode())
            (status, record, _), = self.receive(7600, 1)
            self.assertEqual((status, record["code"]), (6, 2))

    # --- 703 -------------------------------------------------------------------------------------

    def upload_header(self, content, segment_bytes=2 * MIB):
        fbs = {}
        for index, offset in enumerate(range(0, len(content), segment_bytes), 1):
            fbs[str(index)] = {"status": 0, "offset": offset,
                               "offset_length": min(segment_bytes, len(content) - offset)}
        header = {"version": "1", "md5": hashlib.md5(content).hexdigest(), "size": len(content), "fbs": fbs}
        return header, fbs

    def send_segment(self, packet_id, content, key, segment):
        ask = {"id": int(key), "offset": segment["offset"], "offset_length": segment["offset_length"]}
        raw = content[segment["offset"]:segment["offset"] + segment["offset_length"]]
        self.stage(UPLOAD, packet_id, 2, raw, info=ask, compress=False)

    def follow_asks(self, packet_id, content, fbs, first_ask):
        """Answers each segment the service asks for until stage 3; returns (final path, ids sent)."""
        ask, sent = first_ask, []
        while True:
            self.assertEqual(list(ask), ["id", "offset_length", "offset"])
            sent.append(ask["id"])
            self.send_segment(packet_id, content, str(ask["id"]), fbs[str(ask["id"])])
            (status, record, data), = self.receive(packet_id, 1)
            self.assertEqual((status, record["code"]), (2, 0))
            if record["stage"] == 3:
                return data.decode("utf-8"), sent
            ask = json.loads(data, object_pairs_hook=dict)

    def test_upload_in_segments_out_of_order_and_at_once(self):
        self.attach()
        self.put_device_file("/Downloads/up.bin", b"an older file of the same name")
        content = random.Random(3).randbytes(50 * MIB + 777)
        header, fbs = self.upload_header(content)
        packet_id = 7700
        self.stage(UPLOAD, packet_id, 1, json.dumps(header).encode(), info={"name": "up.bin", "dir": "/Downloads/"})
        (status, record, data), = self.receive(packet_id, 1)
        self.assertEqual((status, record["stage"]), (2, 2))
        self.assertEqual(json.loads(data), {"id": 1, "offset_length": 2 * MIB, "offset": 0})

        order = list(fbs.items())
        random.Random(4).shuffle(order)
        for key, segment in order:
            self.send_segment(packet_id, content, key, segment)
        replies = self.receive(packet_id, len(order))
        finals = [data.decode() for status, record, data in replies if record["stage"] == 3]
        self.assertEqual(finals, ["/Downloads/up(1).bin"])
        self.assertTrue(all(status == 2 and record["code"] == 0 for status, record, _ in replies))
        self.assertEqual(sha256(self.device_file("/Downloads/up(1).bin")), sha256(content))
        self.assertEqual(self.device_file("/Downloads/up.bin"), b"an older file of the same name")
        self.assertEqual(sorted(os.listdir(os.path.join(self.fs, "Downloads"))), ["readme.txt", "up(1).bin", "up.bin"])

        # A segment that is not the one the table names is refused, and the upload goes on.
        packet_id = 7701
        small = b"0123456789" * 100
        header, fbs = self.upload_header(small, segment_bytes=400)
        # A repeated stage 1 starts the upload over on the same files.
        for _ in range(2):
            self.stage(UPLOAD, packet_id, 1, json.dumps(header).encode(), info={"name": "small.txt", "media": 0})
            (_, _, data), = self.receive(packet_id, 1)
        self.stage(UPLOAD, packet_id, 2, b"x" * 10, info={"id": 1, "offset": 0, "offset_length": 400}, compress=False)
        (status, record, _), = self.receive(packet_id, 1)
        self.assertEqual((status, record["code"]), (6, 8))
        path, sent = self.follow_asks(packet_id, small, fbs, json.loads(data))
        self.assertEqual((path, sent, self.device_file("/Books/small.txt")), ("/Books/small.txt", [1, 2, 3], small))

        # Segment tables that do not cover the file exactly (past its end, overlapping, leaving a gap, a
        # short sum, none at all, one id twice), a digest that is no MD5, and names that leave the folder:
        # refused before anything is written.
        downloads = sorted(os.listdir(os.path.join(self.fs, "Downloads")))
        a_bin = {"name": "a.bin", "dir": "/Downloads/"}
        whole = {"1": {"offset": 0, "offset_length": 1000}}
        for info, table, md5 in [
                (a_bin, {"1": {"offset": 900, "offset_length": 200}}, ""),
                (a_bin, {"1": {"offset": 0, "offset_length": 600}, "2": {"offset": 500, "offset_length": 500}}, ""),
                (a_bin, {"1": {"offset": 0, "offset_length": 400}, "2": {"offset": 500, "offset_length": 500}}, ""),
                (a_bin, {"2": {"offset": 400, "offset_length": 600}}, ""),
                (a_bin, {"1": {"offset": 0, "offset_length": 999}}, ""),
                (a_bin, {}, ""),
                (a_bin, None, ""),
                (a_bin, {"1": {"offset": 0, "offset_length": 500}, "01": {"offset": 500, "offset_length": 500}}, ""),
                (a_bin, whole, "a"),
                (a_bin, whole, "0" * 31),
                (a_bin, whole, "z" * 32),
                ({"name": "../a.bin", "dir": "/Downloads/"}, whole, "")]:
            bad = {"version": "1", "md5": md5, "size": 1000}
            if table is not None:
                bad["fbs"] = table
            self.stage(UPLOAD, 7702, 1, json.dumps(bad).encode(), info=info)
            (status, record, _), = self.receive(7702, 1)
            self.assertEqual((status, record["code"]), (6, 8), (table, md5))
        # A header that is whole but a name that is no plain name of the folder (one that climbs, one
        # that would end early at its NUL): refused as well.
        header, _ = self.upload_header(b"n" * 1000, segment_bytes=1000)
        for name in ["../a.bin", "..", "a\u0000.bin"]:
            self.stage(UPLOAD, 7703, 1, json.dumps(header).encode(), info={"name": name, "dir": "/Downloads/"})
            (status, record, _), = self.receive(7703, 1)
            self.assertEqual((status, record["code"]), (6, 8), repr(name))
        self.assertEqual(sorted(os.listdir(os.path.join(self.fs, "Downloads"))), downloads)

    def test_upload_is_checked_against_its_md5_and_a_written_segment_keeps_its_bytes(self):
        self.attach()
        downloads = os.path.join(self.fs, "Downloads")
        before = sorted(os.listdir(downloads))
        content = random.Random(7).randbytes(5 * 1000 + 1)
        header, fbs = self.upload_header(content, segment_bytes=1000)  # six segments
        info = {"name": "sum.bin", "dir": "/Downloads/"}

        # Every segment arrives, but the bytes are not the file the header names: no file is placed,
        # and neither the temporary nor the resume file stays.
        wrong = dict(header, md5=hashlib.md5(content[:-1] + b"!").hexdigest())
        self.stage(UPLOAD, 7900, 1, json.dumps(wrong).encode(), info=info)
        self.receive(7900, 1)
        for key, segment in fbs.items():
            self.send_segment(7900, content, key, segment)
        # Segments sent at once are taken in parallel: the reply that ends the upload need not come last.
        replies = self.receive(7900, len(fbs))
        self.assertEqual(sorted((s, r["stage"], r["code"]) for s, r, _ in replies),
                         sorted([(6, 0, 8)] + [(2, 2, 0)] * (len(fbs) - 1)))
        self.assertEqual(sorted(os.listdir(downloads)), before)

        # A segment sent again with the same bytes is taken; with other bytes it is refused, and the
        # bytes written first stay. The digest in capitals is the same digest.
        upper = dict(header, md5=header["md5"].upper())
        self.stage(UPLOAD, 7901, 1, json.dumps(upper).encode(), info=info)
        (_, _, data), = self.receive(7901, 1)
        self.assertEqual(json.loads(data)["id"], 1)
        self.send_segment(7901, content, "1", fbs["1"])
        (_, record, data), = self.receive(7901, 1)
        self.assertEqual((record["stage"], record["code"], json.loads(data)["id"]), (2, 0, 2))
        self.send_segment(7901, content, "1", fbs["1"])
        (status, record, data), = self.receive(7901, 1)
        self.assertEqual((status, record["stage"], record["code"], json.loads(data)["id"]), (2, 2, 0, 2))
        other = bytearray(content)
        other[10] ^= 0xFF
        self.send_segment(7901, bytes(other), "1", fbs["1"])
        (status, record, _), = self.receive(7901, 1)
        self.assertEqual((status, record["code"]), (6, 8))
        path, sent = self.follow_asks(7901, content, fbs, {"id": 2, "offset_length": 1000, "offset": 1000})
        self.assertEqual((path, sent), ("/Downloads/sum.bin", [2, 3, 4, 5, 6]))
        self.assertEqual(self.device_file(path), content)

        # After an interruption the segments written before it keep their bytes too.
        content = random.Random(8).randbytes(3000)
        header, fbs = self.upload_header(content, segment_bytes=1000)
        info = {"name": "again.bin", "dir": "/Downloads/"}
        self.stage(UPLOAD, 7902, 1, json.dumps(header).encode(), info=info)
        self.receive(7902, 1)
        self.send_segment(7902, content, "2", fbs["2"])
        self.receive(7902, 1)
        self.peer.process.kill()
        self.peer.process.wait()
        self.restart_harlix()
        self.stage(UPLOAD, 7903, 1, json.dumps(header).encode(), info=info)
        (_, _, data), = self.receive(7903, 1)
        self.send_segment(7903, b"\0" * len(content), "2", fbs["2"])
        (status, record, _), = self.receive(7903, 1)
        self.assertEqual((status, record["code"]), (6, 8))
        path, sent = self.follow_asks(7903, content, fbs, json.loads(data))
        self.assertEqual((path, sent, self.device_file(path)), ("/Downloads/again.bin", [1, 3], content))

        # Without a digest (absent or empty, as peers that compute none send it) the file is placed
        # unchecked; a file of no bytes has no segments.
        for packet_id, name, header in [(7904, "plain.bin", {"version": "1", "size": 1000, "fbs": {
                                            "1": {"offset": 0, "offset_length": 1000}}}),
                                        (7905, "empty.bin", {"version": "1", "md5": "", "size": 0, "fbs": {}}),
                                        (7906, "none.bin", {"version": "1", "md5": hashlib.md5(b"").hexdigest(),
                                                            "size": 0, "fbs": {}})]:
            data = bytes(range(256)) * 4
            self.stage(UPLOAD, packet_id, 1, json.dumps(header).encode(), info={"name": name, "dir": "/Downloads/"})
            (status, record, reply), = self.receive(packet_id, 1)
            if header["size"]:
                path, _ = self.follow_asks(packet_id, data[:1000], header["fbs"], json.loads(reply))
            else:
                self.assertEqual((status, record["stage"], record["code"]), (2, 3, 0))
                path = reply.decode()
            self.assertEqual((path, self.device_file(path)), ("/Downloads/" + name, data[:header["size"]]))

    def test_upload_resumes_after_the_service_died_and_a_cancel_leaves_nothing(self):
        self.attach()
        content = random.Random(5).randbytes(9 * MIB)
        header, fbs = self.upload_header(content)  # five segments
        info = {"name": "resume.bin", "dir": "/Downloads/"}
        self.stage(UPLOAD, 7800, 1, json.dumps(header).encode(), info=info)
        self.receive(7800, 1)
        for key in ("3", "1"):
            self.send_segment(7800, content, key, fbs[key])
        self.receive(7800, 2)
        self.peer.process.kill()  # the service dies half way: its temporary and resume files stay
        self.peer.process.wait()
        self.assertTrue(os.path.exists(os.path.join(self.fs, "Downloads/resume.bin.bak")))

        self.restart_harlix()
        self.stage(UPLOAD, 7801, 1, json.dumps(header).encode(), info=info)
        (_, record, data), = self.receive(7801, 1)
        path, sent = self.follow_asks(7801, content, fbs, json.loads(data))
        self.assertEqual((path, sent), ("/Downloads/resume.bin", [2, 4, 5]))
        self.assertEqual(sha256(self.device_file(path)), sha256(content))

        # The same size with another MD5 is another file: it starts from the first segment.
        other = random.Random(6).randbytes(len(content))
        header, _ = self.upload_header(other)
        self.stage(UPLOAD, 7802, 1, json.dumps(header).encode(), info={"name": "x.bin", "dir": "/Downloads/"})
        self.receive(7802, 1)
        self.send_segment(7802, other, "1", fbs["1"])
        self.receive(7802, 1)
        self.peer.process.kill()
        self.peer.process.wait()
        self.restart_harlix()
        header["md5"] = "0" * 32
        self.stage(UPLOAD, 7803, 1, json.dumps(header).encode(), info={"name": "x.bin", "dir": "/Downloads/"})
        (_, _, data), = self.receive(7803, 1)
        self.assertEqual(json.loads(data)["id"], 1)

        # A cancel releases the upload: its temporary and resume files are removed.
        self.send(CANCEL, {"uuid": self.udid, "code": 7803})
        self.assertEqual(self.receive(self.next_id - 1, 1)[0][0], 1)
        self.assertFalse([n for n in os.listdir(os.path.join(self.fs, "Downloads")) if n.startswith("x.bin")])
        # Later stages of the cancelled transfer are answered by nothing.
        self.send_segment(7803, other, "1", fbs["1"])
        self.assert_nothing_pending_for(7803)

    def listing(self, folder="/Downloads"):
        return sorted(os.listdir(os.path.join(self.fs, folder.lstrip("/"))))

    def upload_until_killed(self, packet_id, header, info, content, fbs, keys):
        """Starts an upload, sends the segments of `keys`, then kills the service and starts it again."""
        self.stage(UPLOAD, packet_id, 1, json.dumps(header).encode(), info=info)
        self.receive(packet_id, 1)
        for key in keys:
            self.send_segment(packet_id, content, key, fbs[key])
        self.receive(packet_id, len(keys))
        self.peer.process.kill()
        self.peer.process.wait()
        self.restart_harlix()

    def test_upload_never_touches_a_file_it_did_not_make(self):
        self.attach()
        content = random.Random(9).randbytes(3000)
        header, fbs = self.upload_header(content, segment_bytes=1000)  # three segments
        user_files = {"/Downloads/song.mp3.bak": b"the user's own backup", "/Downloads/song.mp3.json": b'{"mine":1}',
                      "/Downloads/full.bin.bak": b"u" * len(content),  # of exactly the upload's size
                      "/Downloads/half.bin.json": b"{}", "/Downloads/README": b"the user's readme"}
        for path, data in user_files.items():
            self.put_device_file(path, data)
        # (name, final path, the temporary and resume files it writes meanwhile)
        for packet_id, name, final, pair in [
                (7950, "song.mp3", "/Downloads/song.mp3", ["song.mp3(1).bak", "song.mp3(1).json"]),
                (7951, "full.bin", "/Downloads/full.bin", ["full.bin(1).bak", "full.bin(1).json"]),
                (7952, "half.bin", "/Downloads/half.bin", ["half.bin(1).bak", "half.bin(1).json"]),
                (7953, "README", "/Downloads/README(1)", ["README.bak", "README.json"])]:
            self.stage(UPLOAD, packet_id, 1, json.dumps(header).encode(), info={"name": name, "dir": "/Downloads/"})
            (_, _, data), = self.receive(packet_id, 1)
            self.assertTrue(set(pair) <= set(self.listing()), (name, self.listing()))
            path, _ = self.follow_asks(packet_id, content, fbs, json.loads(data))
            self.assertEqual((path, self.device_file(path)), (final, content))
        for path, data in user_files.items():
            self.assertEqual(self.device_file(path), data, path)
        self.assertEqual(self.listing(), sorted(["readme.txt", "song.mp3", "full.bin", "half.bin", "README(1)"] +
                                                [os.path.basename(p) for p in user_files]))

        # Interrupted and resumed beside the user's files: the numbered pair is found again and only the
        # missing segments are asked for.
        info = {"name": "song.mp3", "dir": "/Books/"}
        self.put_device_file("/Books/song.mp3.json", b"the user's notes")
        self.upload_until_killed(7954, header, info, content, fbs, ["2"])
        self.stage(UPLOAD, 7955, 1, json.dumps(header).encode(), info=info)
        (_, _, data), = self.receive(7955, 1)
        path, sent = self.follow_asks(7955, content, fbs, json.loads(data))
        self.assertEqual((path, sent, self.device_file(path)), ("/Books/song.mp3", [1, 3], content))
        self.assertEqual(self.device_file("/Books/song.mp3.json"), b"the user's notes")
        self.assertFalse([n for n in self.listing("/Books") if "(1)" in n])

        # Two uploads of one name at once write two files of their own.
        contents = [random.Random(10 + n).randbytes(3000) for n in range(2)]
        for packet_id, data in zip((7956, 7957), contents):
            one, _ = self.upload_header(data, segment_bytes=1000)
            self.stage(UPLOAD, packet_id, 1, json.dumps(one).encode(), info={"name": "twin.bin", "dir": "/Downloads/"})
            self.receive(packet_id, 1)
        for key in fbs:
            for packet_id, data in zip((7956, 7957), contents):
                self.send_segment(packet_id, data, key, fbs[key])
        replies = {7956: [], 7957: []}
        while sum(map(len, replies.values())) < 2 * len(fbs):
            item = self.next_packet(timeout=60)
            if item["id"] in replies:
                record, data = record_of(item)
                replies[item["id"]].append((item["status"], record["stage"], record["code"],
                                             zlib.decompress(data) if data else b""))
        finals = {}
        for packet_id, got in replies.items():
            self.assertEqual(sorted(reply[:3] for reply in got), [(2, 2, 0)] * (len(fbs) - 1) + [(2, 3, 0)])
            finals[packet_id] = next(reply[3] for reply in got if reply[1] == 3).decode()
        self.assertEqual(sorted(finals.values()), ["/Downloads/twin(1).bin", "/Downloads/twin.bin"])
        for packet_id, data in zip((7956, 7957), contents):
            self.assertEqual(self.device_file(finals[packet_id]), data)
        self.assertEqual([n for n in self.listing() if n.startswith("twin")], ["twin(1).bin", "twin.bin"])

    def test_nothing_unproven_resumes_and_no_short_segment_counts_as_whole(self):
        self.attach()
        # Two files of one name and size without an MD5: the second never inherits the first's segments.
        first, second = (random.Random(n).randbytes(3000) for n in (11, 12))
        header, fbs = self.upload_header(first, segment_bytes=1000)
        del header["md5"]
        info = {"name": "mix.bin", "dir": "/Downloads/"}
        self.upload_until_killed(7960, header, info, first, fbs, ["1", "2"])
        self.stage(UPLOAD, 7961, 1, json.dumps(header).encode(), info=info)
        (_, _, data), = self.receive(7961, 1)
        path, sent = self.follow_asks(7961, second, fbs, json.loads(data))
        self.assertEqual((path, sent), ("/Downloads/mix.bin", [1, 2, 3]))
        self.assertEqual(sha256(self.device_file(path)), sha256(second))
        self.assertEqual([n for n in self.listing() if n.startswith("mix")], ["mix.bin"])

        # A device file cut short after the download opened it: the bytes it no longer has are a failed
        # read, not a shorter segment answered as whole.
        self.put_device_file("/Downloads/cut.bin", first)
        self.stage(DOWNLOAD, 7962, 1, json.dumps({"path": "/Downloads/cut.bin"}).encode())
        (_, record, data), = self.receive(7962, 1)
        self.assertEqual(json.loads(data)["size"], len(first))
        with open(os.path.join(self.fs, "Downloads/cut.bin"), "r+b") as f:
            f.truncate(2000)
        for ask, status, code, length in [({"id": 1, "offset": 0, "offset_length": 2000}, 2, 0, 2000),
                                          ({"id": 1, "offset": 0, "offset_length": 3000}, 6, 2, 0),
                                          ({"id": 1, "offset": 1500, "offset_length": 2 * MIB}, 6, 2, 0)]:
            self.stage(DOWNLOAD, 7962, 2, json.dumps(ask).encode())
            (got_status, record, data), = self.receive(7962, 1)
            self.assertEqual((got_status, record["code"], len(data)), (status, code, length), ask)

    # --- 701 -------------------------------------------------------------------------------------

    def test_export_of_a_file_a_folder_tree_and_a_book_bundle(self):
        self.attach()
        book = {"mimetype": b"application/epub+zip", "META-INF/container.xml": b"<container/>",
                "OEBPS/ch1.xhtml": b"<html>one</html>"}
        for name, data in book.items():
            self.put_device_file("/Books/Novel.ePub/" + name, data)
        self.put_device_file("/Downloads/tree/a/b.txt", b"bee")
        self.put_device_file("/Downloads/tree/c.txt", b"sea")
        out = os.path.join(self.tmp.path, "out")
        os.makedirs(out)
        blocked = os.path.join(self.tmp.path, "not-a-folder")
        open(blocked, "w").close()
        items = [["Novel", "/Books/Novel.ePub", out], ["a/b:c>d", "/Downloads/readme.txt", out + "/"],
                 ["tree", "/Downloads/tree", out], ["Novel", "/Books/Novel.ePub", out],
                 ["gone", "/Downloads/none.txt", out], ["..", "/Downloads/tree", out],
                 ["readme", "/Downloads/readme.txt", blocked], ["readme", "/Downloads/readme.txt", ""]]
        progress, final = self.run_request(EXPORT, {"uuid": self.udid}, items)
        self.assert_final(final, 2, self.udid)  # one item is missing and one could not be written
        written = [(record["code"], data.decode()) for _, _, record, data in progress]
        self.assertEqual(written, [(0, out + "/Novel.ePub"), (0, out + "/a_b_c>d.txt"), (0, out + "/tree"),
                                   (0, out + "/Novel(1).ePub"), (0, out + "/__"), (2, blocked + "/readme.txt")])
        for name in ("Novel.ePub", "Novel(1).ePub"):
            with zipfile.ZipFile(os.path.join(out, name)) as archive:
                self.assertIsNone(archive.testzip())
                self.assertEqual({n: archive.read(n) for n in archive.namelist()}, book)
        with open(os.path.join(out, "tree/a/b.txt"), "rb") as f:
            self.assertEqual(f.read(), b"bee")
        self.assertEqual(sorted(os.listdir(out)), sorted(["Novel.ePub", "Novel(1).ePub", "a_b_c>d.txt", "tree", "__"]))
        self.assertEqual(os.path.getsize(os.path.join(out, "a_b_c>d.txt")),
                         len(self.device_file("/Downloads/readme.txt")))

        # A PC file or folder that holds the name already is never written into or removed: a name
        # without an extension gets its counter too, and a book's scratch copy is a folder of its own.
        mine = os.path.join(self.tmp.path, "mine")
        os.makedirs(os.path.join(mine, "Novel"))
        for name, data in (("README", b"the user's readme"), ("Novel/keep.txt", b"keep")):
            with open(os.path.join(mine, name), "wb") as f:
                f.write(data)
        self.put_device_file("/Downloads/README", b"the device's readme")
        progress, final = self.run_request(EXPORT, {"uuid": self.udid},
                                           [["README", "/Downloads/README", mine], ["Novel", "/Books/Novel.ePub", mine]])
        self.assert_final(final, 0, self.udid)
        self.assertEqual([data.decode() for _, _, _, data in progress],
                         [mine + "/README(1)", mine + "/Novel.ePub"])
        for name, data in (("README", b"the user's readme"), ("Novel/keep.txt", b"keep"),
                           ("README(1)", b"the device's readme")):
            with open(os.path.join(mine, name), "rb") as f:
                self.assertEqual(f.read(), data, name)
        self.assertEqual(sorted(os.listdir(mine)), ["Novel", "Novel.ePub", "README", "README(1)"])


if __name__ == "__main__":
    import unittest
    unittest.main()
