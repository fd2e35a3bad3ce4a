"""The connect module through the Harlix process: the device monitor start (10), the driver package
downloads (16) against a local HTTP server (verified by MD5 side files, skipped when present,
refused when wrong or missing, cancelled half way), and the install (17) and store check (18) that
only an elevated helper instance runs, with stand-ins for the installer and the store query."""

import hashlib
import http.server
import json
import os
import threading
import time

from harlix_process import HarlixTestCase


START, DOWNLOAD, INSTALL, STORE, CANCEL = 10, 16, 17, 18, 600
PACKAGES = ["x64/AppleApplicationSupport.msi", "x64/AppleApplicationSupport64.msi",
            "x64/AppleMobileDeviceSupport64.msi"]
STANDIN = os.path.join(os.environ.get("HLX_TOOLS_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "tools")),
                       "installer_standin.py")


class PackageServer:
    """Serves `files` (path -> bytes) under /`folder`/ on a loopback `port` (0: a free one);
    anything else is 404. Paths in `slow` are sent in small pieces with pauses, so that a cancel can
    arrive in the middle. Counts GETs."""

    def __init__(self, port=0, folder="drivers"):
        self.files, self.slow, self.gets, self.folder = {}, set(), [], folder
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_HEAD(self):
                self.respond(False)

            def do_GET(self):
                server.gets.append(self.path)
                self.respond(True)

            def respond(self, send_body):
                body = server.files.get(self.path)
                self.send_response(404 if body is None else 200)
                body = b"missing" if body is None else body
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                if not send_body:
                    return
                step = 16384 if self.path in server.slow else len(body) or 1
                try:
                    for start in range(0, len(body), step):
                        self.wfile.write(body[start:start + step])
                        if self.path in server.slow:
                            self.wfile.flush()
                            time.sleep(0.05)
                except OSError:
                    pass  # the client gave up

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.base = "http://127.0.0.1:%d/%s" % (self.server.server_address[1], folder)

    def publish(self, index, data, side=None):
        path = "/%s/%s" % (self.folder, PACKAGES[index])
        self.files[path] = data
        self.files[path + ".txt"] = (hashlib.md5(data).hexdigest() if side is None else side).encode()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class ConnectTest(HarlixTestCase):
    first_request_id = 7300

    def test_start_of_the_device_monitor(self):
        self.start_harlix()
        _, final = self.run_request(START, {})
        self.assertEqual(final[2], {"stage": 0, "code": 0, "uuid": "", "type": 0})
        self.peer.close()
        self.start_harlix({"HLX_REGISTRY_FILE": os.path.join(self.tmp.path, "none.ini")})
        _, final = self.run_request(START, {})
        self.assertEqual((final[1], final[2]["code"]), (6, 9))

    def download(self, server, url=None):
        """(progress infos, verified paths of the stage 3 reply, final code)."""
        progress, final = self.run_request(DOWNLOAD, {"info": {"url": url or server.base}})
        stage3 = [r for _, _, r, _ in progress if r["stage"] == 3]
        self.assertEqual(len(stage3), 1)
        return [r["info"] for _, _, r, _ in progress if r["stage"] == 2], stage3[0]["info"], final[2]["code"]

    def test_self_test_mode_downloads_the_drivers_from_the_test_server(self):
        try:
            server = PackageServer(port=80, folder="ios_driver")
        except OSError as error:
            self.skipTest("the test server's port 80 cannot be had here: %s" % error)
        self.addCleanup(server.close)
        contents = [os.urandom(1000 + i) for i in range(3)]
        for i, data in enumerate(contents):
            server.publish(i, data)
        self.start_harlix(self_test=True)
        # The service's own request is the first of its counter, answered like a desktop's.
        progress, final = self.replies([1])[1]
        self.assertEqual((final[0], final[1], final[2]["code"]), (DOWNLOAD, 1, 0))
        [paths] = [r["info"] for command, _, r, _ in progress if command == DOWNLOAD and r["stage"] == 3]
        for path, data in zip(paths, contents):
            with open(path, "rb") as f:
                self.assertEqual(f.read(), data)
        self.assertEqual(len(paths), 3)
        self.assertEqual(sorted(set(server.gets)),
                         sorted("/ios_driver/%s%s" % (p, side) for p in PACKAGES for side in ("", ".txt")))

    def test_driver_downloads_are_verified_skipped_and_cancelled(self):
        server = PackageServer()
        self.addCleanup(server.close)
        contents = [os.urandom(200000 + i) for i in range(3)]
        for i, data in enumerate(contents):
            # Side files as servers write them: a trailing newline, upper-case digits.
            server.publish(i, data, hashlib.md5(data).hexdigest().upper() + "\r\n" if i == 0 else None)
        self.start_harlix()

        progress, paths, code = self.download(server, server.base + "/")
        self.assertEqual(code, 0)
        self.assertEqual([os.path.basename(p) for p in paths], [os.path.basename(p) for p in PACKAGES])
        for path, data in zip(paths, contents):
            with open(path, "rb") as f:
                self.assertEqual(f.read(), data)
        finished = [p for p in progress if p["step"] == p["total"]]
        self.assertEqual([(p["index"], p["count"], p["total"]) for p in finished][-3:],
                         [(i + 1, 3, len(d)) for i, d in enumerate(contents)])

        # Present and matching: nothing is fetched but the side files.
        server.gets.clear()
        _, again, code = self.download(server)
        self.assertEqual((code, again), (0, paths))
        self.assertTrue(all(g.endswith(".txt") for g in server.gets), server.gets)

        # A package whose side file names another digest, then one whose side file is missing.
        server.publish(1, b"changed on the server", side="0" * 32)
        _, verified, code = self.download(server)
        self.assertEqual((code, verified), (50, paths[:1]))
        server.publish(1, contents[1])
        del server.files["/drivers/" + PACKAGES[2] + ".txt"]
        _, verified, code = self.download(server)
        self.assertEqual((code, verified), (50, paths[:2]))

        # Cancelled while the third package streams: 6, and the list holds the two before it.
        server.publish(2, os.urandom(4 * 1024 * 1024) + b"new")
        server.slow.add("/drivers/" + PACKAGES[2])
        packet_id = self.send(DOWNLOAD, {"info": {"url": server.base}})
        while True:
            item = self.next_packet()
            if item["id"] == packet_id and json.loads(item["body"].split(b"\0")[1])["stage"] == 2:
                break
        self.send(CANCEL, {"uuid": "", "code": packet_id})
        replies = self.replies([packet_id])[packet_id]
        stage3 = [r["info"] for _, _, r, _ in replies[0] if r["stage"] == 3]
        self.assertEqual((stage3, replies[1][1], replies[1][2]["code"]), ([paths[:2]], 5, 6))

    def standin_folder(self):
        folder = os.path.join(self.tmp.path, "system")
        os.makedirs(os.path.join(folder, "wbem"))
        os.symlink(STANDIN, os.path.join(folder, "msiexec.exe"))
        os.symlink(STANDIN, os.path.join(folder, "wbem", "WMIC.exe"))
        self.control = os.path.join(self.tmp.path, "standin.json")
        self.standin_log = os.path.join(self.tmp.path, "standin.log")
        return {"HLX_SYSTEM_FOLDER": folder, "HLX_STANDIN_CONTROL": self.control, "HLX_STANDIN_LOG": self.standin_log}

    def helper_request(self, code, info, output="", exit_code=0):
        """Runs 17 or 18 with the stand-in answering (output, exit code): (progress infos, final
        status, the result in the final info); every reply carries the same non-zero token, and it is
        no address in the service's memory."""
        with open(self.control, "w") as f:
            json.dump({"output": output, "exit": exit_code}, f)
        progress, final = self.run_request(code, {"info": info})
        tokens = {r["code"] for _, _, r, _ in progress + [final]}
        self.assertEqual(len(tokens), 1)
        self.assertNotEqual(tokens, {0})
        [token] = tokens
        with open("/proc/%d/maps" % self.peer.process.pid) as f:
            ranges = [[int(end, 16) for end in line.split()[0].split("-")] for line in f]
        self.assertEqual([r for r in ranges if r[0] <= token < r[1]], [], "the token %#x is an address" % token)
        return [r["info"] for _, _, r, _ in progress], final[1], final[2]["info"]["error"]

    def test_install_and_store_check_run_in_the_helper_instance(self):
        self.start_harlix(self.standin_folder())
        progress, status, error = self.helper_request(INSTALL, ["/d/a b.msi", "/d/c.msi"], "Done. Error 0 is fine")
        self.assertEqual((progress, status, error), ([{"index": 1, "count": 2}, {"index": 2, "count": 2}], 1, 0))
        with open(self.standin_log) as f:
            self.assertEqual([json.loads(line) for line in f], [
                ["msiexec.exe", "/package", "/d/a b.msi", "/passive", "/norestart", "/qn", "/l*", "/d/a b.msi.log"],
                ["msiexec.exe", "/package", "/d/c.msi", "/passive", "/norestart", "/qn", "/l*", "/d/c.msi.log"]])
        # The requests ran in one helper instance, which this Harlix started in mode 2.
        helpers = [p for p in os.listdir("/proc") if p.isdigit() and self.is_helper(p)]
        self.assertEqual(len(helpers), 1)

        for output, exit_code, expected in [("", 3010, (1, 0)), ("", 1641, (1, 0)), ("", 1603, (6, 51)),
                                            ("an error occurred", 0, (6, 51))]:
            _, status, error = self.helper_request(INSTALL, ["/d/a.msi"], output, exit_code)
            self.assertEqual((status, error), expected, (output, exit_code))
        self.assertEqual(self.helper_request(INSTALL, [])[1:], (1, 0))

        for output, exit_code, expected in [("Name\r\nAppleInc.iTunes_12.0\r\n", 0, (6, 54)),
                                            ("Name\r\nOther.App\r\n", 0, (1, 0)), ("", 1, (6, 2))]:
            self.assertEqual(self.helper_request(STORE, None, output, exit_code)[1:], expected)
        with open(self.standin_log) as f:
            self.assertEqual(json.loads(f.readlines()[-1]), ["WMIC.exe", "path", "Win32_InstalledStoreProgram", "get",
                                                             "name"])

    def is_helper(self, pid):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                argv = f.read().split(b"\0")[:-1]
        except OSError:
            return False
        return (len(argv) > 2 and os.path.basename(argv[0]) == b"Harlix" and argv[-1] == b"2"
                and argv[2] == str(self.peer.process.pid).encode())


if __name__ == "__main__":
    import unittest
    unittest.main()
