#!/usr/bin/env python3
"""Listing 100,000 messages end to end, beside the `sqlite3` shell running the same queries on the
same file in the same run.

    bench_messages.py --harlix PATH --support DIR [--messages 100000] [--rounds 7]

The device image gets sms.db of the current layout (make_sms_db.py); the database is fetched once
with request 201 command 1 through the test backup tool stand-in (not timed). End to end: request 201
command 2 sent by a loopback peer to the real Harlix until the final reply, every reply received,
plus the peer's inflating of the replies afterwards, which only the service's compressed output
needs; the peer's parsing of the JSON is timed apart. Baseline: `sqlite3 -json` on the fetched file
with the listing's two statements, in a process of its own, its output read whole (and parsed after
its timing, as the service's replies are). The two alternate, the order turning
every round; the first round is reported apart as the cold one, the others give medians with min
and max. Peak memory: Harlix's peak resident memory of each listing above its resident memory before
(VmHWM after a reset through /proc/PID/clear_refs), beside the shell's peak resident memory. Every
wait has a time-out. Standard library only.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import time
import zlib

from bench_common import (HERE, TIMEOUT_S, Bench, aim, alternate, print_ratio, progress_replies, reset_peak, spread,
                          status_kib)
import hlx_peer

sys.path.insert(0, os.path.join(HERE, "..", "tests", "integration"))
import backup_tool_standin  # noqa: E402

MESSAGES = 201
AIM_TIME = 1.5
DATABASE_ID = "3d0d7e5fb2ce288813306e4d4636395e047a3d28"
# The statements of the listing's current layout.
QUERIES = [
    "select c.rowid,m.rowid,m.text,m.date_read,m.date,m.is_read,m.is_from_me,m.is_sent,m.error,m.handle_id,h.id,"
    "m.subject,m.account,m.account_guid from message m left join chat_message_join cmj on  m.rowid = cmj.message_id "
    "left join  chat c on  cmj.chat_id = c.rowid left join handle h on m.handle_id = h.rowid order by m.date",
    "select c.rowid,h.rowid,h.id,h.country,h.service from handle h left join chat_handle_join chj on h.rowid = "
    "chj.handle_id left join chat c on chj.chat_id = c.rowid",
]
# The baseline in a process of its own: seconds, rows, and the shell's peak resident KiB.
SHELL = r"""
import json, resource, subprocess, sys, time
started = time.perf_counter()
out = subprocess.run(["sqlite3", "-json", sys.argv[1]] + sys.argv[2:], check=True, capture_output=True).stdout
seconds = time.perf_counter() - started
rows = sum(len(json.loads(part)) for part in out.decode().replace("]\n[", "]\x00[").split("\x00") if part.strip())
print(json.dumps([seconds, rows, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss]))
"""


def list_once(peer, packet_id, udid, command):
    """Seconds for one request 201 until its final reply plus the peer's inflating of its replies
    afterwards, its peak KiB, the messages its replies carried, and the seconds the peer took to parse
    them (the shell's JSON output is not parsed within its timing either)."""
    pid = peer.process.pid
    before = reset_peak(pid)
    started = time.perf_counter()
    peer.send(packet_id, MESSAGES, 0, hlx_peer.encode_request(1, {"uuid": udid, "info": {"command": command}}))
    parts = [(record["code"], data) for _, record, data in progress_replies(peer, packet_id, MESSAGES, TIMEOUT_S)
             if data]
    seconds = time.perf_counter() - started
    peak = status_kib(pid, "VmHWM:") - before
    started = time.perf_counter()
    inflated = [(code, zlib.decompress(data)) for code, data in parts]
    seconds += time.perf_counter() - started
    started = time.perf_counter()
    messages = sum(len(json.loads(text)) for code, text in inflated if code == 1)
    return seconds, peak, messages, time.perf_counter() - started


def shell_once(path):
    out = subprocess.run([sys.executable, "-c", SHELL, path] + QUERIES, check=True, timeout=TIMEOUT_S,
                         capture_output=True)
    return json.loads(out.stdout)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--harlix", required=True)
    parser.add_argument("--support", required=True, help="the staged device library folder")
    parser.add_argument("--messages", type=int, default=100000)
    parser.add_argument("--rounds", type=int, default=7, help="timed rounds beside the baseline, the first cold")
    options = parser.parse_args(argv)
    if shutil.which("sqlite3") is None:
        print("bench_messages: the sqlite3 shell is missing", file=sys.stderr)
        return 1

    with Bench(options.support, prefix="hlx-bench-messages-") as bench:
        lab, folder = bench.lab, bench.folder
        image = lab.make(sms={"era": "ios11", "messages": options.messages})
        backup_tool_standin.configure(image["path"])
        udid = lab.attach(image)
        peer = bench.start_harlix(options.harlix, udid,
                                  HLX_PROGRAM_FILES=backup_tool_standin.install(options.support, folder))
        _, _, fetched_messages, _ = list_once(peer, 99, udid, command=1)
        if fetched_messages != options.messages:
            raise RuntimeError("fetched %d messages of %d" % (fetched_messages, options.messages))
        fetched = [os.path.join(root, DATABASE_ID) for root, _, files in os.walk(folder) if DATABASE_ID in files]
        if len(fetched) != 1:
            raise RuntimeError("the fetched database was not found")

        times = {"harlix": [], "shell": [], "parse": []}
        peaks = {"harlix": [], "shell": []}

        def harlix_step(index):
            seconds, peak, listed, parse_seconds = list_once(peer, 100 + index, udid, command=2)
            if listed != options.messages:
                raise RuntimeError("listed %d messages of %d" % (listed, options.messages))
            times["harlix"].append(seconds)
            times["parse"].append(parse_seconds)
            peaks["harlix"].append(peak)

        def shell_step(_):
            seconds, rows, peak = shell_once(fetched[0])
            if rows < options.messages:
                raise RuntimeError("the shell read %d rows" % rows)
            times["shell"].append(seconds)
            peaks["shell"].append(peak)

        alternate(options.rounds, [harlix_step, shell_step])

        print("bench_messages: %d messages of the current layout; %d rounds (the first cold)"
              % (options.messages, options.rounds))
        print("  Harlix end to end (request 201 command 2, replies received and inflated): %s"
              % spread(times["harlix"], "s"))
        print("  sqlite3 -json shell, the same two statements, own process:             %s"
              % spread(times["shell"], "s"))
        print("  the peer parsing the inflated replies afterwards, not timed above:    %s"
              % spread(times["parse"], "s"))
        ratio, cold = print_ratio(times["harlix"], times["shell"])
        all_met = aim("listed cold within %.1fx the shell" % AIM_TIME, cold <= AIM_TIME)
        all_met &= aim("listed warm within %.1fx the shell" % AIM_TIME, ratio <= AIM_TIME)
        print("  peak memory of a listing, Harlix (above its resident memory before): %s"
              % spread(peaks["harlix"], "MiB", 1 / 1024))
        print("  peak resident memory of the sqlite3 shell: %s" % spread(peaks["shell"], "MiB", 1 / 1024))
        return 0 if all_met else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
