"""Harlix's life cycle seen from outside: connecting to its peer, heartbeats, the log folder, and
quitting when the watched desktop process is gone."""

import datetime
import os
import re
import select
import signal
import socket
import subprocess
import unittest

from harlix_process import (HARLIX, HarlixTestCase, dead_pid, environment, expect_monitor_status, hlx_peer,
                            wait_until)

ATTEMPT_FAILED = re.compile(rb"desktop connect attempt (\d+) of 11 failed")


class StderrLines:
    """Reads a child's standard error line by line with a deadline."""

    def __init__(self, stream):
        self.stream = stream
        self.buffer = b""
        self.lines = []

    def read_until(self, pattern, timeout=20.0):
        regex = re.compile(pattern)
        def found():
            ready, _, _ = select.select([self.stream], [], [], 0.05)
            if ready:
                chunk = os.read(self.stream.fileno(), 65536)
                self.buffer += chunk
                *complete, self.buffer = self.buffer.split(b"\n")
                self.lines.extend(complete)
            return any(regex.search(line) for line in self.lines)
        return wait_until(found, timeout, interval=0)


class LifecycleTest(HarlixTestCase):
    uses_lab = False

    def make_peer(self, **env):
        return super().make_peer(env, console=True, log_subfolder="LifeLogs")

    def test_connects_and_sends_heartbeat_when_idle(self):
        peer = self.make_peer(HLX_HEARTBEAT_INTERVAL_MS=100)
        peer.start()
        peer.accept()
        expect_monitor_status(self, peer)
        item = peer.receive(timeout=20, want_heartbeats=True)
        self.assertEqual(item, {"event": "heartbeat"})

    def test_busy_connection_gets_no_heartbeat_until_idle(self):
        # Traffic within a tick postpones the heartbeat: packets the peer keeps sending count as
        # activity, so the first heartbeat only comes after the peer falls silent.
        peer = self.make_peer(HLX_HEARTBEAT_INTERVAL_MS=300)
        peer.start()
        peer.accept()
        expect_monitor_status(self, peer)
        heartbeats = []
        for i in range(20):
            peer.send(i + 1, 999999, 0, b"0\0{}\0")
            item = peer.receive(timeout=0.05, want_heartbeats=True)
            if item and "event" in item:  # the requests' own final replies (code 2) are not heartbeats
                heartbeats.append(item)
        self.assertEqual(heartbeats, [])
        self.assertEqual(peer.receive(timeout=20, want_heartbeats=True), {"event": "heartbeat"})

    def test_late_listener_is_reached_on_the_sixth_attempt(self):
        # The port is bound but not listening, so connects are refused until the test listens.
        held = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        held.bind(("127.0.0.1", 0))
        port = held.getsockname()[1]
        try:
            peer = self.make_peer(HLX_CONNECT_INTERVAL_MS=400)
            peer.args[0] = str(port)
            process = peer.start(stderr=subprocess.PIPE)
            stderr = StderrLines(process.stderr)
            self.assertTrue(stderr.read_until(rb"desktop connect attempt 5 of 11 failed"))
            held.listen(1)
            held.settimeout(20)
            connection, _ = held.accept()
            connection.close()
            self.assertTrue(stderr.read_until(rb"connected to the desktop peer on attempt 6"))
            failed = [int(m.group(1)) for m in map(ATTEMPT_FAILED.search, stderr.lines) if m]
            self.assertEqual(failed, [1, 2, 3, 4, 5])
        finally:
            held.close()

    def test_gives_up_after_eleven_attempts_and_still_follows_the_watched_process(self):
        held = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        held.bind(("127.0.0.1", 0))
        try:
            peer = self.make_peer(HLX_CONNECT_INTERVAL_MS=20)
            peer.args[0] = str(held.getsockname()[1])
            process = peer.start(stderr=subprocess.PIPE)
            stderr = StderrLines(process.stderr)
            self.assertTrue(stderr.read_until(rb"no desktop peer after 11 attempts"))
            failed = [int(m.group(1)) for m in map(ATTEMPT_FAILED.search, stderr.lines) if m]
            self.assertEqual(failed, list(range(1, 12)))
            self.assertIsNone(process.poll())
            self.sleeper.kill()
            self.sleeper.wait()
            self.assertEqual(process.wait(timeout=20), 0)
        finally:
            held.close()

    def test_port_zero_never_connects(self):
        peer = self.make_peer()
        peer.args[0] = "0"
        process = peer.start(stderr=subprocess.PIPE)
        stderr = StderrLines(process.stderr)
        self.assertTrue(stderr.read_until(rb"no desktop port: running without a peer"))
        # An attempt would follow that line: the whole of standard error is read, to the service's end.
        process.send_signal(signal.SIGTERM)
        self.assertEqual(process.wait(timeout=20), 0)
        lines = stderr.lines + (stderr.buffer + process.stderr.read()).split(b"\n")
        self.assertFalse([line for line in lines if ATTEMPT_FAILED.search(line)])

    def test_quits_when_the_watched_process_ends_and_removes_its_temporary_folder(self):
        peer = self.make_peer()
        process = peer.start()
        peer.accept()
        # Without a device library the monitor cannot start, which the peer hears of once.
        expect_monitor_status(self, peer)
        log_folder = os.path.join(self.tmp.path, "LifeLogs", datetime.date.today().strftime("%Y%m%d"))
        self.assertTrue(wait_until(lambda: os.path.isdir(log_folder)))
        # The per-process temporary folder is where modules keep their scratch files.
        temp_folder = os.path.join(log_folder, "Harlix-%d" % process.pid)
        os.makedirs(os.path.join(temp_folder, "scratch"))
        with open(os.path.join(temp_folder, "scratch", "file.bin"), "wb") as f:
            f.write(b"x" * 1000)
        self.sleeper.kill()
        self.sleeper.wait()
        self.assertEqual(process.wait(timeout=20), 0)
        self.assertFalse(os.path.exists(temp_folder))
        self.assertTrue(any(name.startswith("Harlix") for name in os.listdir(log_folder)))
        # The peer sees the connection end.
        self.assertIsNone(peer.receive(timeout=5))

    def test_watched_process_missing_at_start_ends_the_service_at_once(self):
        peer = hlx_peer.Peer(HARLIX, watched_pid=dead_pid(), env=environment(self.tmp.path), listen=False)
        self.peer = peer
        process = peer.start()
        self.assertEqual(process.wait(timeout=20), 0)

    def test_sigterm_stops_in_order(self):
        peer = self.make_peer()
        process = peer.start()
        peer.accept()
        process.send_signal(signal.SIGTERM)
        self.assertEqual(process.wait(timeout=20), 0)

    def test_missing_positions_count_as_zero(self):
        # Only a port of 0 and no watched process: the service runs without a peer until signalled.
        process = subprocess.Popen([HARLIX, "0"], env=environment(self.tmp.path),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            with self.assertRaises(subprocess.TimeoutExpired):
                process.wait(timeout=1.5)
            process.send_signal(signal.SIGTERM)
            self.assertEqual(process.wait(timeout=20), 0)
        finally:
            if process.poll() is None:
                process.kill()

    def test_a_first_argument_that_is_no_port_prints_the_positions_and_starts_nothing(self):
        for first in ["--help", "-h", "help", "65536", "12ab", "-1", ""]:
            with self.subTest(first=first):
                result = subprocess.run([HARLIX, first, "0", "1", "0", "1"], env=environment(self.tmp.path),
                                        capture_output=True, timeout=20)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertTrue(result.stderr.startswith(b"usage: Harlix PORT PID CONSOLE SELFTEST LOGGING VERSION"
                                                         b" LOGFOLDER PRODUCT MODE - [TASKID]\n"), result.stderr)
                self.assertEqual(result.stdout, b"")
                self.assertEqual(os.listdir(self.tmp.path), [], "a run that started nothing left a folder")


if __name__ == "__main__":
    unittest.main()
