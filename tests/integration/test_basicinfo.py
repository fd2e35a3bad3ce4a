"""Device information seen from the desktop side: request 300's two documents (member order and values
computed independently from the device image), request 303's rename, request 15's retry, and the
peer tool's run command, with the Harlix process and the simulated device library."""

import datetime
import json
import os
import plistlib
import signal
import subprocess
import sys
import unittest
import zlib

import basicinfo_reference as reference
from harlix_process import HARLIX, HarlixTestCase, hlx_peer, record_of

import hlx_device  # noqa: E402  (on the path through harlix_process)
import hlx_lab  # noqa: E402

TOOLS = os.path.dirname(os.path.abspath(hlx_lab.__file__))
TOOL = os.path.join(TOOLS, "hlx_peer.py")
READY, REMOVED, ERROR_REPORT = 1, 8, 12
INFO, RENAME, BRING_READY = 300, 303, 15
IN_PROGRESS, DONE, FAILED = 2, 1, 6
ATC_LIMIT = 4 * 1024 * 1024


def metrics(params):
    return {"Command": "AssetMetrics", "Params": params, "Session": 0}


class BasicInfoTest(HarlixTestCase):
    # ---- helpers -----------------------------------------------------------------------------

    def attach(self, **options):
        """Makes and attaches an image; returns (udid, image folder in the device root)."""
        image = self.lab.make(**options)
        udid = self.lab.attach(image)
        return udid, os.path.join(self.lab.root, udid)

    def wait_ready(self, udid):
        """The device's ready event; returns its handle."""
        return record_of(self.next_event(READY, udid))[0]["code"]

    def request(self, code, payload, sub=1, data=None, packet_id=None):
        """Sends a request; returns (intermediate replies, final reply) as (record, data) pairs."""
        packet_id = packet_id if packet_id is not None else self.next_id
        self.next_id += 1
        json_text = payload if isinstance(payload, (str, bytes)) else json.dumps(payload)
        body = hlx_peer.encode_request(sub, json_text)
        if data is not None:
            body += data
        self.peer.send(packet_id, code, 0, body)
        return self.replies(packet_id, code)

    def replies(self, packet_id, code, timeout=60):
        """The replies to one request, in arrival order; packets of others wait in self.events."""
        intermediate = []
        while True:
            mine = [i for i, item in enumerate(self.events) if item["id"] == packet_id and item["command"] == code]
            if mine:
                item = self.events.pop(mine[0])
            else:
                item = self.peer.receive(timeout=timeout)
                self.assertIsNotNone(item, "no final reply to request %d" % packet_id)
                if item["id"] != packet_id or item["command"] != code:
                    self.events.append(item)
                    continue
            record, data = record_of(item)
            if item["status"] == IN_PROGRESS:
                self.assertEqual((record["stage"], record["code"], record["type"]), (0, 0, 0))
                intermediate.append((record, json.loads(zlib.decompress(data).decode("utf-8"))))
                continue
            self.assertEqual(item["status"], DONE if record["code"] == 0 else FAILED)
            self.assertEqual(data, b"")
            self.assertNotIn("info", record)
            return intermediate, record

    def device_info(self, udid):
        intermediate, final = self.request(INFO, {"uuid": udid})
        self.assertEqual(final["code"], 0)
        self.assertEqual(final["uuid"], udid)
        self.assertEqual(len(intermediate), 2)
        for record, _ in intermediate:
            self.assertEqual(record["uuid"], udid)
        return intermediate[0][1], intermediate[1][1]

    def assert_documents(self, udid, image, properties, usage):
        # Lists of pairs: the member order counts, not only the values.
        self.assertEqual(list(properties.items()), list(reference.expected_properties(image).items()))
        self.assertEqual(list(usage.items()), list(reference.expected_usage(image).items()))

    def lockdown(self, image):
        with open(os.path.join(image, "lockdown.plist"), "rb") as f:
            return plistlib.load(f)

    # ---- request 300 -------------------------------------------------------------------------

    def test_documents_follow_the_image(self):
        cases = [
            ("iPhone", {}),
            ("iPhone without a SIM", {"no_sim": True}),
            ("jailbroken iPhone", {"jailbroken": True}),
            ("iPad, binary lockdown", {"device_class": "iPad", "binary_lockdown": True}),
        ]
        devices = [(name,) + self.attach(**options) for name, options in cases]
        self.start_harlix()
        for _, udid, _ in devices:
            self.wait_ready(udid)
        for name, udid, image in devices:
            with self.subTest(name):
                properties, usage = self.device_info(udid)
                self.assert_documents(udid, image, properties, usage)
                self.assertEqual(list(properties)[-1], "IsJailbreak")
        by_name = {name: self.device_info(udid) for name, udid, _ in devices}

        phone, phone_usage = by_name["iPhone"]
        self.assertIn("\u00eb", phone["DeviceName"])
        self.assertEqual(phone["IsJailbreak"], 0)
        # Reals in lockdown (as real devices send them) arrive rounded half up.
        plain = self.lockdown(devices[0][2])[""]
        self.assertIsInstance(plain["TimeIntervalSince1970"], float)
        self.assertEqual(plain["TimeIntervalSince1970"] % 1, 0.5)
        self.assertEqual(phone["TimeIntervalSince1970"], int(plain["TimeIntervalSince1970"]) + 1)
        # The metrics hold "Photo" split into sub-categories and categories without a row: the
        # camera roll fills its row, the photo row stays 0, the others become extra members.
        self.assertEqual((phone_usage["Photo_PhysicalSize"], phone_usage["Photo_Count"]), (0, 0))
        self.assertGreater(phone_usage["CameraRoll_PhysicalSize"], 0)
        for extra in ("PhotoStream", "Podcast", "VoiceMemo"):
            self.assertIn(extra + "_Count", phone_usage)
        self.assertNotIn("TVShow_Count", phone_usage)  # a count without a size
        self.assertNotIn("_PurgeableSize_Count", phone_usage)

        no_sim, _ = by_name["iPhone without a SIM"]
        self.assertEqual(no_sim["SIMStatus"], "kCTSIMSupportSIMStatusNotInserted")
        for missing in ("PhoneNumber", "InternationalMobileSubscriberIdentity", "IntegratedCircuitCardIdentity"):
            self.assertNotIn(missing, no_sim)
        self.assertEqual(by_name["jailbroken iPhone"][0]["IsJailbreak"], 1)
        self.assertNotIn("BasebandVersion", by_name["iPad, binary lockdown"][0])

    def test_usage_document_when_services_or_metrics_are_missing(self):
        diagnostics, atc = reference.DIAGNOSTICS_SERVICE, reference.ATC_SERVICE
        later_metrics = metrics({"_PhysicalSize": 1000, "_FreeSize": 10, "Music": {"_Count": 1, "_PhysicalSize": 5}})
        cases = [
            ("a ping before the metrics", {"atc_messages": [{"Command": "Ping"}, later_metrics]}, "zeros"),
            # The other ways an exchange ends without metrics are the ATC unit test's; this one shows
            # that a refused body ends the request normally too.
            ("a body longer than the buffer",
             {"atc_messages": [{"Directive": "announce", "Bytes": ATC_LIMIT + 1, "Send": ATC_LIMIT + 1},
                               later_metrics]}, "zeros"),
            ("more in the total than the parts", {"atc_messages": [metrics({
                "_PhysicalSize": 100, "_FreeSize": 90, "Application": {"_Count": 1, "_PhysicalSize": 30}})]},
             "negative"),
            ("no diagnostics service", {"without_service": [diagnostics]}, "no cycles"),
            ("no ATC service", {"without_service": [atc]}, "no storage"),
            ("neither service", {"without_service": [diagnostics, atc]}, "empty"),
        ]
        devices = [(name, expect) + self.attach(**options) for name, options, expect in cases]
        # A cycle count of the wrong type is left out too.
        mistyped_udid, mistyped_image = self.attach()
        path = os.path.join(mistyped_image, "diagnostics.plist")
        with open(path, "rb") as f:
            registry = plistlib.load(f)
        registry["IORegistry"]["IOPMPowerSource"]["CycleCount"] = "412"
        with open(path, "wb") as f:
            plistlib.dump(registry, f)
        devices.append(("a mistyped cycle count", "no cycles", mistyped_udid, mistyped_image))
        self.start_harlix()
        for _, _, udid, _ in devices:
            self.wait_ready(udid)
        for name, expect, udid, image in devices:
            with self.subTest(name):
                properties, usage = self.device_info(udid)
                self.assert_documents(udid, image, properties, usage)
                storage = {k: v for k, v in usage.items() if k != "CycleCount"}
                if expect == "zeros":
                    self.assertIn("CycleCount", usage)
                    self.assertEqual(len(storage), 17)
                    self.assertEqual(set(storage.values()), {0})
                elif expect == "negative":
                    self.assertEqual(usage["Data_Others_PhysicalSize"], -20)
                elif expect == "no cycles":
                    self.assertNotIn("CycleCount", usage)
                    self.assertGreater(usage["Data_PhysicalSize"], 0)
                elif expect == "no storage":
                    self.assertEqual(list(usage), ["CycleCount"])
                else:
                    self.assertEqual(usage, {})

    def test_requests_for_one_device_at_the_same_time(self):
        udid, image = self.attach()
        self.start_harlix()
        self.wait_ready(udid)
        ids = list(range(500, 506))
        for packet_id in ids:
            self.peer.send(packet_id, INFO, 0, hlx_peer.encode_request(1, {"uuid": udid}))
        for packet_id in ids:
            with self.subTest(request=packet_id):
                intermediate, final = self.replies(packet_id, INFO)
                self.assertEqual(final["code"], 0)
                self.assertEqual([document for _, document in intermediate],
                                 [reference.expected_properties(image), reference.expected_usage(image)])

    def test_the_log_names_a_service_the_device_does_not_offer_as_no_problem(self):
        # The jailbreak test asks for a service that only a jailbroken device offers.
        udid, _ = self.attach()
        self.start_harlix()
        self.wait_ready(udid)
        self.assertEqual(self.request(INFO, {"uuid": udid})[1]["code"], 0)
        folder = os.path.join(self.tmp.path, "HarlixPeer", datetime.date.today().strftime("%Y%m%d"))
        log = ""
        for name in os.listdir(folder):
            if name.startswith("Harlix."):
                with open(os.path.join(folder, name), encoding="utf-8", errors="replace") as f:
                    log += f.read()
        self.assertRegex(log, r"\nI[^\n]* service com\.apple\.afc2 is not offered by the device \(0xe8000022\)\n")
        self.assertNotIn("refused to start", log)
        self.assertNotIn("service start refused", log)

    def test_malformed_requests_and_other_sub_commands(self):
        udid, _ = self.attach()
        self.start_harlix()
        self.wait_ready(udid)
        _, final = self.request(INFO, "{not json")
        self.assertEqual((final["code"], final["uuid"]), (21, ""))
        _, final = self.request(INFO, {"uuid": "no-such-device"})
        self.assertEqual((final["code"], final["uuid"]), (7, "no-such-device"))
        intermediate, final = self.request(INFO, {"uuid": udid}, sub=0)
        self.assertEqual((intermediate, final["code"]), ([], 0))

    def test_device_gone_mid_request_ends_with_no_connection(self):
        udid, _ = self.attach()
        self.start_harlix()
        self.wait_ready(udid)
        # The first receive of any service is the diagnostics answer: the cable goes there.
        hlx_device.set_fault(udid, root=self.lab.root, detach_on={"AMDServiceConnectionReceive": 1})
        intermediate, final = self.request(INFO, {"uuid": udid})
        self.assertEqual(len(intermediate), 1, "the properties went out before the device left")
        self.assertEqual(final["code"], 24)
        self.next_event(REMOVED, udid)

    def test_self_test_mode_reads_each_arriving_device(self):
        udid, image = self.attach()
        self.start_harlix(self_test=True)
        self.wait_ready(udid)
        intermediate, final = self.replies(0, INFO)
        self.assertEqual((final["code"], final["uuid"]), (0, udid))
        self.assertEqual(len(intermediate), 2)
        self.assert_documents(udid, image, intermediate[0][1], intermediate[1][1])

    # ---- request 303 -------------------------------------------------------------------------

    def test_rename_round_trip_and_refusals(self):
        udid, image = self.attach()
        self.start_harlix()
        self.wait_ready(udid)
        new_name = "Zo\u00eb's \u65b0\u3057\u3044 iPhone \U0001f4f1"
        data = zlib.compress(json.dumps({"name": new_name}).encode("utf-8"))
        _, final = self.request(RENAME, {"uuid": udid}, data=data)
        self.assertEqual((final["code"], final["uuid"]), (0, udid))
        self.assertEqual(self.lockdown(image)[""]["DeviceName"], new_name)
        properties, _ = self.device_info(udid)
        self.assertEqual(properties["DeviceName"], new_name)

        bad = [
            ("not zlib", b"plain bytes"),
            ("not JSON", zlib.compress(b"{name")),
            ("no name", zlib.compress(b'{"title": "x"}')),
            ("a name that is no string", zlib.compress(b'{"name": 7}')),
            ("a NUL in the name", zlib.compress(b'{"name": "a\\u0000b"}')),
            ("not UTF-8", zlib.compress(b'{"name": "\xff\xfe"}')),
        ]
        for name, payload in bad:
            with self.subTest(name):
                _, final = self.request(RENAME, {"uuid": udid}, data=payload)
                self.assertEqual(final["code"], 8)
        _, final = self.request(RENAME, {"uuid": udid}, sub=0, data=zlib.compress(b'{"name": "Other"}'))
        self.assertEqual(final["code"], 0)
        self.assertEqual(self.lockdown(image)[""]["DeviceName"], new_name, "sub-command 0 renames nothing")

        hlx_device.set_fault(udid, root=self.lab.root, refuse_set_value=True)
        _, final = self.request(RENAME, {"uuid": udid}, data=zlib.compress(b'{"name": "Refused"}'))
        self.assertEqual(final["code"], 31)
        self.assertEqual(self.lockdown(image)[""]["DeviceName"], new_name)

    # ---- request 15 --------------------------------------------------------------------------

    def test_bring_ready(self):
        ready_udid, _ = self.attach()
        # The first AFC device-information read fails: the device stays listed but not ready.
        stuck = self.lab.make()
        with open(os.path.join(stuck["path"], "state.json"), encoding="utf-8") as f:
            state = json.load(f)
        state["faults"] = {"failCalls": {"AFCDeviceInfoOpen": [1]}}
        with open(os.path.join(stuck["path"], "state.json"), "w", encoding="utf-8") as f:
            json.dump(state, f)
        untrusted = self.lab.make(trusted=False)
        self.lab.attach(untrusted)
        stuck_udid = self.lab.attach(stuck)
        self.start_harlix()
        self.wait_ready(ready_udid)
        reports = {}
        for udid in (stuck_udid, untrusted["udid"]):
            record, _ = record_of(self.next_event(ERROR_REPORT, udid))
            reports[udid] = (record["info"], record["code"])
        self.assertEqual(reports[stuck_udid][0], "17")
        self.assertEqual(reports[untrusted["udid"]][0], "25")

        _, final = self.request(BRING_READY, {"uuid": ready_udid})
        self.assertEqual(final["code"], 0)
        _, final = self.request(BRING_READY, {"uuid": untrusted["udid"]})
        self.assertEqual(final["code"], 25, "the user has not trusted this computer yet")
        # Found by its handle, the "code" of its reports, although the uuid names no device.
        _, final = self.request(BRING_READY, {"uuid": "unknown", "code": reports[stuck_udid][1]})
        self.assertEqual((final["code"], final["uuid"]), (0, "unknown"))
        self.assertEqual(self.wait_ready(stuck_udid), reports[stuck_udid][1])
        _, final = self.request(BRING_READY, {"uuid": "unknown", "code": 12345})
        self.assertEqual(final["code"], 7)

    # ---- the run command's peer --------------------------------------------------------------

    def test_peer_tool_shows_what_the_desktop_will_show(self):
        env = dict(os.environ, TMPDIR=self.tmp.path)
        process = subprocess.Popen([sys.executable, TOOL, "serve", "--harlix", HARLIX, "--devices",
                                    os.environ["HLX_APPLE_SUPPORT_DIR"], "--seconds", "120"],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, text=True)
        lines = []
        try:
            for line in process.stdout:
                lines.append(json.loads(line))
                if lines[-1].get("event") == "device-info":
                    break
        finally:
            process.send_signal(signal.SIGINT)  # the tool tidies its lab up on an interrupt
            _, words = process.communicate(timeout=60)
        lab = lines[0]
        self.assertEqual(sorted(lab["environment"]), sorted(hlx_lab.LAB_VARIABLES))
        summary = lines[-1]
        self.assertEqual(summary.get("event"), "device-info", lines[-3:])
        self.assertEqual(summary["uuid"], lab["attached"])
        self.assertFalse(os.path.exists(lab["device_root"]), "the tool removes its lab")
        documents = [json.loads(item["data"]) for item in lines
                     if item.get("command") == INFO and item.get("status") == IN_PROGRESS]
        self.assertEqual(len(documents), 2)
        properties, usage = documents
        self.assertEqual(properties["UniqueDeviceID"], lab["attached"])
        self.assertEqual((summary["model"], summary["ios"]), (properties["ProductType"], properties["ProductVersion"]))
        self.assertEqual(summary["battery_percent"], properties["BatteryCurrentCapacity"])
        self.assertEqual(summary["battery_cycles"], usage["CycleCount"])
        storage = summary["storage_bytes"]
        self.assertEqual((storage["total"], storage["free"]), (usage["Data_PhysicalSize"], usage["Data_FreeSize"]))
        self.assertEqual(storage["others"], usage["Data_Others_PhysicalSize"])
        self.assertEqual(storage["PhotoStream"], usage["PhotoStream_PhysicalSize"])
        # Standard error says the same in words.
        self.assertIn("device ready: iPhone, %s, iOS %s (UDID %s)" % (summary["model"], summary["ios"], lab["attached"]),
                      words)
        self.assertIn("request 300 (id 1000) answered: code 0", words)
        self.assertIn("device information: %s, %s" % (properties["DeviceName"], summary["model"]), words)
        self.assertIn("export HLX_DEVICE_ROOT='%s'" % lab["device_root"], words)

    def test_peer_tool_send_needs_the_lab_environment_and_waits_for_the_device(self):
        udid, _ = self.attach()
        command = [sys.executable, TOOL, "send", "--harlix", HARLIX, "--code", str(INFO), "--json",
                   json.dumps({"uuid": udid})]
        env = dict(self.lab.env(self.tmp.path), HLX_PROGRAM_FILES="")
        result = subprocess.run(command, env=env, capture_output=True, text=True, timeout=20)
        self.assertEqual(result.returncode, 2)
        self.assertIn("HLX_PROGRAM_FILES not set", result.stderr)
        self.assertEqual(result.stdout, "")

        result = subprocess.run(command, env=self.lab.env(self.tmp.path), capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("request 300 (id 1) answered: code 0", result.stderr)
        final = json.loads(result.stdout.splitlines()[-1])
        self.assertEqual((final["id"], final["command"], final["status"], final["record"]["uuid"]), (1, INFO, DONE, udid))

    def test_lab_tool_runs_again_on_the_same_folder(self):
        folder = os.path.join(self.tmp.path, "pc")
        attached = []
        for _ in range(2):
            process = subprocess.Popen([sys.executable, os.path.join(TOOLS, "hlx_lab.py"), "--support",
                                        os.environ["HLX_APPLE_SUPPORT_DIR"], "--lab", folder, "--attach-demo"],
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            try:
                for line in process.stdout:
                    if line.startswith("# attached "):
                        attached.append(line.split()[-1])
                        break
            finally:
                process.terminate()  # the lab stops its service stand-in on SIGTERM
                _, errors = process.communicate(timeout=30)
            self.assertEqual(process.returncode, 0, errors)
        self.assertEqual(len(attached), 2)
        self.assertEqual([d["udid"] for d in hlx_device.list_devices(os.path.join(folder, "devices"))], attached[:1])


if __name__ == "__main__":
    unittest.main()
