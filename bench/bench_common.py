"""What the Python benchmarks share: a scratch folder with a device lab in it and Harlix started beside a loopback
peer, ended in order with time-outs; rounds that alternate ours and the baseline; the process figures read from
/proc; and the printed spreads, ratios and aims. Standard library only."""

import contextlib
import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools"))

import hlx_lab  # noqa: E402
import hlx_peer  # noqa: E402

TIMEOUT_S = 600
READY_TIMEOUT_S = 60
IDLE_WAIT_S = 10
AIM_COMPRESSION_SHARE = 0.10  # of the service's CPU on a warm listing
COMPRESSOR_LIBRARY = "libisal"  # the service's reply compressor: nothing else in the service runs its code
SAMPLE_HZ = 4000


class Bench:
    """A scratch folder (made with `prefix`, or the caller's `folder`, which is then left in place), a device lab in
    it, and once `start_harlix` ran, Harlix beside a peer. `close` (or leaving a with block) ends the peer, the lab
    and the scratch folder, in that order; it may be called again."""

    def __init__(self, support, prefix=None, folder=None, **lab_options):
        self.own_folder = folder is None
        self.folder = tempfile.mkdtemp(prefix=prefix) if folder is None else folder
        self.peer = None
        self.lab = None
        try:
            self.lab = hlx_lab.DeviceLab(self.folder, support, **lab_options)
        except BaseException:
            self.close()
            raise

    def environment(self, **extra):
        """The environment a program run against the lab needs: the lab's variables, TMPDIR in the scratch
        folder, and `extra`."""
        env = dict(os.environ, **self.lab.variables())
        env["TMPDIR"] = self.folder
        env.update(extra)
        return env

    def start_harlix(self, harlix, udid=None, logging=True, **extra_env):
        """Starts Harlix, accepts its connection and waits until device `udid` (any device when None) is ready."""
        self.peer = hlx_peer.Peer(harlix, env=self.environment(**extra_env), logging=logging)
        self.peer.start()
        self.peer.accept()
        wait_ready(self.peer, udid)
        return self.peer

    def restart_harlix(self, harlix, udid=None, logging=True, **extra_env):
        """Ends the running Harlix, if any, and starts a fresh one as `start_harlix` does."""
        peer, self.peer = self.peer, None
        if peer is not None:
            peer.close()
        return self.start_harlix(harlix, udid, logging, **extra_env)

    def close(self):
        peer, self.peer = self.peer, None
        lab, self.lab = self.lab, None
        try:
            if peer is not None:
                peer.close()
        finally:
            try:
                if lab is not None:
                    lab.close()
            finally:
                if self.own_folder:
                    shutil.rmtree(self.folder, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()


@contextlib.contextmanager
def scratch_folder(prefix):
    """A temporary folder, removed with everything in it when the block ends."""
    folder = tempfile.mkdtemp(prefix=prefix)
    try:
        yield folder
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def wait_ready(peer, udid=None, timeout_s=READY_TIMEOUT_S):
    """Waits for the service's device-ready event for `udid` (any device when None); a RuntimeError after
    `timeout_s`."""
    deadline = time.monotonic() + timeout_s
    while time.monotonic() < deadline:
        item = peer.receive(timeout=deadline - time.monotonic())
        if item is None:
            break
        if item.get("id") == 0 and item.get("command") == hlx_peer.EVENT_DEVICE_READY:
            if udid is None or json.loads(item["body"].split(b"\0")[1])["uuid"] == udid:
                return
    raise RuntimeError("the device did not become ready")


def progress_replies(peer, packet_id, code, timeout_s=TIMEOUT_S):
    """The intermediate replies to request `packet_id` (request code `code`) as (packet, record, data), until its
    final reply, which must carry code 0; a RuntimeError when it fails or does not come within `timeout_s`."""
    deadline = time.monotonic() + timeout_s
    while True:
        item = peer.receive(timeout=max(0.0, deadline - time.monotonic()))
        if item is None:
            raise RuntimeError("no final reply in time")
        if item["id"] != packet_id:
            continue
        _, text, data = item["body"].split(b"\0", 2)
        record = json.loads(text)
        if item["status"] != 2:
            if record["code"] != 0:
                raise RuntimeError("request %d failed with code %d" % (code, record["code"]))
            return
        yield item, record, data


def list_once(peer, packet_id, udid, code, save_to=None):
    """Seconds for one listing request (request code `code`), the items its record replies (those with the request's
    command) carried, the listing's peak KiB and the service's CPU seconds for it. With `save_to`,
    every inflated data part goes there, after the clock stopped."""
    pid = peer.process.pid
    before = reset_peak(pid)
    cpu_before = cpu_seconds(pid)
    started = time.perf_counter()
    peer.send(packet_id, code, 0, hlx_peer.encode_request(1, {"uuid": udid}))
    items = 0
    parts = []
    for item, _, data in progress_replies(peer, packet_id, code):
        if data:
            inflated = zlib.decompress(data)
            batch = json.loads(inflated)
            if item["command"] == code:
                items += len(batch)
            if save_to is not None:
                parts.append(inflated)
    seconds = time.perf_counter() - started
    cpu = cpu_seconds(pid) - cpu_before
    if save_to is not None:
        save_parts(save_to, parts)
    return seconds, items, status_kib(pid, "VmHWM:") - before, cpu


def save_parts(save_to, parts):
    """Writes each inflated data part to a file of its own in folder `save_to`, in order."""
    os.makedirs(save_to, exist_ok=True)
    for index, part in enumerate(parts):
        with open(os.path.join(save_to, "reply-%05d.json" % index), "wb") as f:
            f.write(part)


def status_kib(pid, key):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(key):
                return int(line.split()[1])
    return 0


def reset_peak(pid):
    """Resets the process's VmHWM to its present resident size, which it returns in KiB."""
    with open("/proc/%d/clear_refs" % pid, "w") as f:
        f.write("5")
    return status_kib(pid, "VmRSS:")


def cpu_seconds(pid):
    """The CPU time (user and system) of every thread the process has had, ended ones included."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def thread_cpu_seconds(pid):
    """The CPU time (user and system) of each thread of the process now, by thread id."""
    seconds = {}
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/stat" % (pid, tid)) as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue  # the thread ended meanwhile
        seconds[tid] = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    return seconds


def busiest_thread_seconds(before, after):
    """The largest CPU time any one thread spent between the two thread_cpu_seconds readings, among
    the threads alive at both (threads started and ended between them are not seen)."""
    return max((after[tid] - before[tid] for tid in after if tid in before), default=0.0)


def idle_resident_kib(pid):
    """Resident memory once it stops falling, waiting at most IDLE_WAIT_S."""
    deadline = time.monotonic() + IDLE_WAIT_S
    last = status_kib(pid, "VmRSS:")
    while time.monotonic() < deadline:
        time.sleep(0.5)
        now = status_kib(pid, "VmRSS:")
        if now >= last:
            return now
        last = now
    return last


def in_turn(steps, round_index):
    """The steps of one round in their order: as given in even rounds, reversed in odd ones, so that neither side
    always runs first."""
    return list(steps) if round_index % 2 == 0 else list(reversed(steps))


def alternate(rounds, steps):
    """Runs `rounds` rounds of the steps in turn, each called with the round's index."""
    for round_index in range(rounds):
        for step in in_turn(steps, round_index):
            step(round_index)


def warm(values):
    """The values after the first (cold) one; all of them when there is only one."""
    return values[1:] or values


def warm_median(values):
    return statistics.median(warm(values))


def evict(path):
    """Drops the file's pages from the page cache (written back first), so that the next read of it
    comes from the disk."""
    with open(path, "rb+") as f:
        os.fsync(f.fileno())
        os.posix_fadvise(f.fileno(), 0, 0, os.POSIX_FADV_DONTNEED)


def samples(values, unit, scale=1.0):
    """Median, min and max of all the values, with their count."""
    return "median %.3f %s (min %.3f, max %.3f; %d samples)" % (
        statistics.median(values) * scale, unit, min(values) * scale, max(values) * scale, len(values))


def spread(values, unit, scale=1.0):
    rest = warm(values)
    return "median %.3f %s (min %.3f, max %.3f; cold %.3f)" % (
        statistics.median(rest) * scale, unit, min(rest) * scale, max(rest) * scale, values[0] * scale)


def print_ratio(ours, baseline):
    """Prints ours over the baseline, warm medians and cold rounds, and returns both as (warm, cold)."""
    ratio = warm_median(ours) / warm_median(baseline)
    cold = ours[0] / baseline[0]
    print("  ratio %.2f warm, %.2f cold" % (ratio, cold))
    return ratio, cold


def met_text(met):
    return "met" if met else "not met"


def aim(what, met):
    print("  aim: %s: %s" % (what, met_text(met)))
    return met


def sampled_compression_share(pid, listing, listings=5):
    """The compressor's share of the service's CPU sampled in the service itself: perf samples the
    CPU time of every thread of process `pid` (helpers started meanwhile included) while `listing()`
    runs `listings` times, and the share is the samples in the compressor's library over all of the
    service's samples. Returns (share, samples, the service's CPU seconds over those listings as /proc counts
    them), or None when perf is not installed, did not attach or took no sample."""
    perf = shutil.which("perf")
    if perf is None:
        return None
    with scratch_folder("hlx-bench-perf-") as folder:
        data = os.path.join(folder, "perf.data")
        sampler = subprocess.Popen([perf, "record", "-q", "-e", "cpu-clock", "-F", str(SAMPLE_HZ), "-o", data,
                                    "-p", str(pid)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            if not perf_attached(sampler, pid):
                return None
            cpu_before = cpu_seconds(pid)
            for _ in range(listings):
                listing()
            cpu = cpu_seconds(pid) - cpu_before
        finally:
            sampler.send_signal(signal.SIGINT)
            try:
                sampler.wait(timeout=TIMEOUT_S)
            except subprocess.TimeoutExpired:
                sampler.kill()
                sampler.wait(timeout=TIMEOUT_S)
        if not os.path.exists(data):
            return None
        report = subprocess.run([perf, "report", "-i", data, "--no-children", "--sort", "dso", "-g", "none", "--stdio",
                                 "-F", "sample,dso"], capture_output=True, text=True, timeout=TIMEOUT_S)
    samples = {}
    for line in report.stdout.splitlines():
        fields = line.split()
        if len(fields) == 2 and fields[0].isdigit():
            samples[fields[1]] = samples.get(fields[1], 0) + int(fields[0])
    total = sum(samples.values())
    if total == 0:
        return None
    return sum(n for dso, n in samples.items() if dso.startswith(COMPRESSOR_LIBRARY)) / total, total, cpu


def perf_attached(sampler, pid, timeout_s=READY_TIMEOUT_S):
    """Waits until perf process `sampler` holds a sampling event for every thread of process `pid`;
    False when it ended or did not within `timeout_s`."""
    deadline = time.monotonic() + timeout_s
    while time.monotonic() < deadline and sampler.poll() is None:
        try:
            fds = os.listdir("/proc/%d/fd" % sampler.pid)
            events = sum(1 for fd in fds if "perf_event" in os.readlink("/proc/%d/fd/%s" % (sampler.pid, fd)))
        except OSError:
            events = 0  # a descriptor closed while it was read: look again
        if events >= len(os.listdir("/proc/%d/task" % pid)):
            return True
        time.sleep(0.01)
    return False


def compression_share(ipc_tool, replies, service_cpu, what, aim_share=AIM_COMPRESSION_SHARE, sampled=None):
    """Prints and judges the compressor's CPU time on the data parts in folder `replies` beside the
    service's CPU seconds per listing `service_cpu` (warm ones after the first); True when at most `aim_share`.
    Given `sampled` (sampled_compression_share's answer), the share sampled in the service is printed beside it
    and judged instead: it is the compressor's CPU time during the listings themselves, where the figure of a
    process of its own is the same bytes compressed at another moment, with its caches emptied by hand."""
    out = subprocess.run([ipc_tool, "--compress-seconds", replies], check=True, timeout=TIMEOUT_S,
                         capture_output=True).stdout.split()
    compress, size = float(out[0]), int(out[1])
    rest = warm(service_cpu)
    print("  the service's CPU per %s: %s (clock ticks of %.0f ms)"
          % (what, spread(service_cpu, "s"), 1000 / os.sysconf("SC_CLK_TCK")))
    title = "compression at most %.0f %% of the service's CPU in the %s" % (100 * aim_share, what)
    if min(rest) <= 0:
        print("  a warm listing took the service less than a clock tick of CPU: compression's share not measured")
        return aim(title, False)
    share = compress / statistics.median(rest)
    print("  the service's compressor on that listing's %.1f MiB of data parts: %.4f s of CPU (median of five passes, "
          "a process of its own)" % (size / (1 << 20), compress))
    print("  compression's share of the service's CPU: %.1f %% of the warm median (%.1f %% to %.1f %% over the warm "
          "listings)" % (100 * share, 100 * compress / max(rest), 100 * compress / min(rest)))
    if sampled is not None:
        share, samples, cpu = sampled
        print("  compression's share sampled in the service (perf, %d Hz, %d samples, %.2f s of CPU over %.2f s that "
              "/proc counts for those warm listings): %.1f %%" % (SAMPLE_HZ, samples, samples / SAMPLE_HZ, cpu,
                                                                   100 * share))
    else:
        print("  (not sampled in the service: perf is not installed or could not sample it)")
    return aim(title, share <= aim_share)
