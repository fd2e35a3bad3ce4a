"""Devices seen from the desktop side: arrival, readiness, removal, trust, passcode lock, old
firmware, Wi-Fi and the instance modes, with the simulated device library behind the Harlix process."""

import json
import unittest
import zlib

from harlix_process import HarlixTestCase, record_of

import hlx_device  # noqa: E402  (on the path through harlix_process)

READY, REMOVED, ATTACHED_STATUS, ERROR_REPORT = 1, 8, 11, 12
READY_MEMBERS = ["Model", "FirmVersion", "Type", "Data_FreeSize", "Data_PhysicalSize", "Pid", "TaskId",
                 "SerialNumber"]


class DeviceTest(HarlixTestCase):
    def expect_attached_status(self):
        item = self.next_packet()
        self.assertEqual((item["id"], item["command"], item["status"]), (0, ATTACHED_STATUS, 1))
        record, data = record_of(item)
        self.assertEqual(data, b"")
        self.assertNotEqual(record["code"], 0)  # the device handle
        return record["code"]

    def expect_ready(self, image, handle=None, task_id=0, mode=0):
        item = self.next_packet()
        self.assertEqual((item["id"], item["command"], item["status"]), (0, READY, 2))
        record, data = record_of(item)
        self.assertEqual(data, b"")
        self.assertEqual(record["stage"], mode)
        self.assertEqual(record["uuid"], image["udid"])
        if handle is not None:
            self.assertEqual(record["code"], handle)
        info = record["info"]
        self.assertEqual(list(info), READY_MEMBERS)
        self.assertEqual(info["FirmVersion"], image["product_version"])
        self.assertEqual(info["Type"], image["device_class"])
        self.assertEqual(info["Model"], image["product_type"])
        self.assertEqual(info["SerialNumber"], image["serial"])
        self.assertEqual(info["Data_PhysicalSize"], image["total_bytes"])
        self.assertEqual(info["Data_FreeSize"], image["free_bytes"])
        self.assertEqual(info["Pid"], self.peer.process.pid)
        self.assertEqual(info["TaskId"], task_id)
        return record["code"]

    def expect_error_report(self, image, code):
        item = self.next_packet()
        self.assertEqual((item["id"], item["command"], item["status"]), (0, ERROR_REPORT, 1))
        record, data = record_of(item)
        self.assertEqual(record["info"], str(code))
        self.assertEqual(record["uuid"], image["udid"])
        self.assertEqual(json.loads(zlib.decompress(data).decode("utf-8")), {"DeviceName": image["device_name"]})

    def test_device_arrives_ready_and_leaves(self):
        image = self.lab.make()
        self.assertIn("\u00eb", image["device_name"])  # a non-ASCII name all the way through
        udid = self.lab.attach(image)
        self.start_harlix()
        handle = self.expect_attached_status()
        self.assertEqual(self.expect_ready(image), handle)

        self.lab.detach(udid)
        item = self.next_packet()
        self.assertEqual((item["id"], item["command"], item["status"]), (0, REMOVED, 2))
        record, _ = record_of(item)
        self.assertEqual((record["uuid"], record["code"]), (udid, handle))
        self.assertEqual(record["info"], {"PID": self.peer.process.pid})

        # The same device again is a new arrival with a new handle.
        again = self.lab.make(udid=udid, seed=99)
        self.lab.attach(again)
        second = self.expect_attached_status()
        self.assertNotEqual(second, handle)
        self.expect_ready(again, second)

    def test_untrusted_device_is_reported_then_ready_once_trusted(self):
        image = self.lab.make(trusted=False)
        udid = self.lab.attach(image)
        self.start_harlix()
        self.expect_attached_status()
        self.expect_error_report(image, 25)
        self.lab.trust(udid)
        self.expect_ready(image)

    def test_locked_device_refuses_services_after_five_attempts(self):
        image = self.lab.make(locked=True)
        udid = self.lab.attach(image)
        self.start_harlix()
        self.expect_attached_status()
        self.expect_error_report(image, 48)
        attempts = self.lab.counters(udid).get("serviceStartAttempts", {})
        self.assertEqual(attempts.get("com.apple.afc"), 5)
        # Requests that need a service say why it did not open, whichever service they start: the
        # synchronisation service (contacts), AFC (device information).
        for code in (100, 300):
            with self.subTest(request=code):
                progress, final = self.run_request(code, {"uuid": udid})
                self.assertEqual(final[2]["code"], 48, final)

    def test_a_locked_device_unlocked_and_connected_again_is_ready(self):
        image = self.lab.make(locked=True)
        udid = self.lab.attach(image)
        self.start_harlix()
        self.expect_attached_status()
        self.expect_error_report(image, 48)
        hlx_device.set_locked(udid, False, root=self.lab.root)
        parked = hlx_device.detach(udid, root=self.lab.root)
        self.assertEqual(record_of(self.next_event(REMOVED, udid))[0]["uuid"], udid)
        hlx_device.attach(parked, root=self.lab.root)
        self.expect_attached_status()
        self.expect_ready(image)

    def test_a_device_locked_while_ready_answers_48(self):
        image = self.lab.make()
        udid = self.lab.attach(image)
        self.start_harlix()
        self.expect_attached_status()
        self.expect_ready(image)
        hlx_device.set_locked(udid, True, root=self.lab.root)
        _, final = self.run_request(100, {"uuid": udid})
        self.assertEqual(final[2]["code"], 48, final)
        hlx_device.set_locked(udid, False, root=self.lab.root)
        _, final = self.run_request(100, {"uuid": udid})
        self.assertEqual(final[2]["code"], 0, "unlocked, the same request succeeds")

    def test_firmware_floor_applies_to_iphone_and_ipod_only(self):
        old_phone = self.lab.make(product_version="4.1")
        self.lab.attach(old_phone)
        self.start_harlix()
        self.expect_attached_status()
        self.expect_error_report(old_phone, 3)
        old_pad = self.lab.make(device_class="iPad", product_version="4.1")
        self.lab.attach(old_pad)
        self.expect_attached_status()
        self.expect_ready(old_pad)
        minimum_phone = self.lab.make(product_version="4.2")
        self.lab.attach(minimum_phone)
        self.expect_attached_status()
        self.expect_ready(minimum_phone)

    def test_wifi_devices_are_ignored(self):
        self.lab.attach(self.lab.make(wifi=True))
        usb = self.lab.make()
        self.lab.attach(usb)
        self.start_harlix()
        self.expect_attached_status()
        self.expect_ready(usb)
        self.assertIsNone(self.peer.receive(timeout=0.5))

    def test_modes_one_and_two_send_no_status_or_error_reports(self):
        for mode, task_id in ((1, 77), (2, None)):
            with self.subTest(mode=mode):
                untrusted = self.lab.make(trusted=False)
                udid = self.lab.attach(untrusted)
                ready = self.lab.make()
                self.lab.attach(ready)
                self.start_harlix(mode=mode, task_id=task_id)
                # Neither the arrival status nor the pairing error: only the ready event.
                self.expect_ready(ready, task_id=task_id or 0, mode=mode)
                self.assertIsNone(self.peer.receive(timeout=0.5))
                self.peer.close()
                self.lab.detach(udid)
                self.lab.detach(ready["udid"])


if __name__ == "__main__":
    unittest.main()
