"""Helpers shared by the integration tests: where Harlix is, a private temporary folder per test,
waiting on conditions with deadlines, reading reply frames, and HarlixTestCase, the surroundings of
one test (folder, watched process, simulated PC, Harlix beside its peer)."""

import datetime
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

sys.path.insert(0, os.environ.get("HLX_TOOLS_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "tools")))

import hlx_lab  # noqa: E402
import hlx_peer  # noqa: E402

HARLIX = hlx_peer.default_harlix()


def wait_until(predicate, timeout=10.0, interval=0.02):
    """Polls predicate until it is true; returns its last value. The deadline only bounds a failing
    test: a passing one returns as soon as the condition holds."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


class TempDir:
    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="hlx-test-")

    def cleanup(self):
        shutil.rmtree(self.path, ignore_errors=True)


def environment(tmpdir, **overrides):
    """Harlix's environment: a private TMPDIR, and no device library unless the test names one."""
    env = dict(os.environ)
    env["TMPDIR"] = tmpdir
    for name in ("HLX_REGISTRY_FILE", "HLX_DEVICE_ROOT", "HLX_TEST_MODULES"):
        env.pop(name, None)
    for key, value in overrides.items():
        env[key] = str(value)
    return env


MONITOR_LIBRARY_NOT_BOUND = 9


def expect_monitor_status(test, peer, code=MONITOR_LIBRARY_NOT_BOUND):
    """The status packet that start-up sends when the device monitor could not start."""
    item = peer.receive(timeout=20)
    test.assertIsNotNone(item, "no monitor status packet")
    test.assertEqual((item["id"], item["command"], item["status"]), (0, code, 1))
    test.assertEqual(item["body"], b'1\0{"stage":0,"code":0,"uuid":"","type":0}\0')


def start_sleeper():
    """A process for Harlix to watch; the test kills it to make the desktop side vanish."""
    return subprocess.Popen([sys.executable, "-c", "import time; time.sleep(600)"])


def dead_pid():
    """The id of a process that has ended and been reaped."""
    process = subprocess.Popen([sys.executable, "-c", "pass"])
    process.wait()
    return process.pid



class DeviceLab(hlx_lab.DeviceLab):
    """The lab with the staged library of this build and Harlix's test environment."""

    def __init__(self, tmp, start_service=True):
        super().__init__(tmp, os.environ.get("HLX_APPLE_SUPPORT_DIR"), start_service)

    def env(self, tmpdir, **overrides):
        return environment(tmpdir, **dict(self.variables(), **overrides))


# A zone 5 h 30 min east of UTC without daylight saving: local times differ from UTC by a half hour.
PINNED_TZ = "HLX-5:30"
PINNED_OFFSET = datetime.timedelta(hours=5, minutes=30)

READY = 1  # the device-ready event
IN_PROGRESS = 2  # the packet status of progress replies and device events


def record_of(item):
    """A packet's body split into its JSON record (a dict) and its data part (bytes, as sent)."""
    _, text, data = item["body"].split(b"\0", 2)
    return json.loads(text.decode("utf-8")), data


def peak_resident_kb(pid):
    """The most memory the process has held resident so far (VmHWM), in KiB."""
    with open("/proc/%d/status" % pid) as f:
        return int(next(line for line in f if line.startswith("VmHWM:")).split()[1])


def stop_process(process):
    if process.poll() is None:
        process.kill()
    process.wait()


class HarlixTestCase(unittest.TestCase):
    """One test's surroundings, all ended with the test: a private temporary folder, a process for
    Harlix to watch (self.sleeper), a simulated PC with this build's device library (self.lab; none
    when `uses_lab` is false) and at most one Harlix beside its peer (self.peer)."""

    uses_lab = True
    first_request_id = 100

    def setUp(self):
        self.tmp = TempDir()
        self.addCleanup(self.tmp.cleanup)
        self.sleeper = start_sleeper()
        self.addCleanup(stop_process, self.sleeper)
        self.lab = DeviceLab(self.tmp.path) if self.uses_lab else None
        if self.lab is not None:
            self.addCleanup(self.lab.close)
        self.peer = None
        self.addCleanup(lambda: self.peer and self.peer.close())
        self.next_id = self.first_request_id
        self.events = []  # packets put aside by next_event while it looked for another

    def make_peer(self, env=None, **options):
        """A peer (not started) for a Harlix that watches the sleeper, in Harlix's environment (the
        lab's, when there is one) with `env` on top; `options` go to hlx_peer.Peer."""
        env = env or {}
        harlix_env = self.lab.env(self.tmp.path, **env) if self.lab is not None else environment(self.tmp.path, **env)
        self.peer = hlx_peer.Peer(HARLIX, watched_pid=self.sleeper.pid, env=harlix_env, **options)
        self.events = []
        return self.peer

    def start_harlix(self, env=None, **options):
        """Starts Harlix (see make_peer) and accepts its connection."""
        self.make_peer(env, **options)
        self.peer.start()
        self.peer.accept()
        return self.peer

    def next_packet(self, timeout=20):
        item = self.peer.receive(timeout=timeout)
        self.assertIsNotNone(item, "expected a packet from Harlix")
        return item

    def next_event(self, command, udid=None, timeout=30):
        """The first device event or report with this command (and device) not taken yet; the packets
        passed over stay in self.events for later calls."""
        def matches(item):
            return item["id"] == 0 and item["command"] == command and (
                udid is None or record_of(item)[0]["uuid"] == udid)
        for index, item in enumerate(self.events):
            if matches(item):
                return self.events.pop(index)
        while True:
            item = self.peer.receive(timeout=timeout)
            self.assertIsNotNone(item, "no packet with command %d for %s" % (command, udid))
            if matches(item):
                return item
            self.events.append(item)

    def send_request(self, code, payload, data=None, sub=1):
        """Sends a request with the next packet id (a data part is compressed); returns the id."""
        packet_id = self.next_id
        self.next_id += 1
        self.peer.send(packet_id, code, 0, hlx_peer.encode_request(sub, payload, data))
        return packet_id

    def send(self, code, json_text, data=None, sub=1):
        """send_request with a JSON data part given as a dict or list."""
        if isinstance(data, (dict, list)):
            data = json.dumps(data)
        return self.send_request(code, json_text, data, sub)

    def replies(self, packet_ids, timeout=120):
        """{id: (progress replies, final reply)}; each reply is (command, status, record, data)."""
        results = {i: [] for i in packet_ids}
        finals = {}
        while len(finals) < len(packet_ids):
            item = self.peer.receive(timeout=timeout)
            self.assertIsNotNone(item, "no final reply for %s" % sorted(set(packet_ids) - set(finals)))
            if item["id"] not in results:
                continue
            record, data = record_of(item)
            if data and record["type"] == 0:
                data = zlib.decompress(data)
            reply = (item["command"], item["status"], record, data)
            if self.is_final_reply(item["status"], record):
                finals[item["id"]] = reply
            else:
                self.assertNotIn(item["id"], finals, "a reply after the final one")
                results[item["id"]].append(reply)
        return {i: (results[i], finals[i]) for i in packet_ids}

    def answered_before(self, packet_id, others, timeout=60):
        """Receives until the final reply of `packet_id`; returns its (status, code) and the ids of
        `others` whose final reply came before it (their progress replies are dropped)."""
        ended = []
        while True:
            item = self.next_packet(timeout=timeout)
            code = record_of(item)[0]["code"]
            if item["id"] in others and hlx_peer.is_final_reply(item["status"], code):
                ended.append(item["id"])
            if item["id"] == packet_id and hlx_peer.is_final_reply(item["status"], code):
                return (item["status"], code), ended

    def is_final_reply(self, status, record):
        """Whether a reply ends its request (an item's last reply does not)."""
        return hlx_peer.is_final_reply(status, record["code"])

    def run_request(self, code, json_text, data=None, sub=1):
        packet_id = self.send(code, json_text, data, sub)
        return self.replies([packet_id])[packet_id]

    def counted_items(self, progress, batch_size, **json_options):
        """The items of a counted list: a count reply (stage 0, info {"Count": n}, no data), then
        batches of at most batch_size items (stage 1, the same info); checks the shapes."""
        (_, status, count_record, count_data), batches = progress[0], progress[1:]
        count = count_record["info"]["Count"]
        self.assertEqual((status, count_record["stage"], count_data), (2, 0, b""))
        listed = []
        for _, status, record, data in batches:
            self.assertEqual((status, record["stage"], record["type"], record["info"]), (2, 1, 0, {"Count": count}))
            listed.append(json.loads(data.decode("utf-8"), **json_options))
        self.assertEqual([len(b) for b in listed], [min(batch_size, count - i) for i in range(0, count, batch_size)])
        return [item for batch in listed for item in batch]

    def assert_final(self, final, code, udid):
        command, status, record, data = final
        self.assertEqual(record, {"stage": 0, "code": code, "uuid": udid, "type": 0})
        self.assertEqual(status, 1 if code == 0 else 6)
        self.assertEqual(data, b"")
