#!/usr/bin/env python3
"""Runs one step of a script (a build, a test run) and passes its output on line by line; when the step
has printed nothing for a while, it says that it is still at work and on what, so that a long compile or
a long test never leaves the person at the terminal in silence.

    narrate.py [--label WORDS] [--quiet-seconds S] -- COMMAND [ARG...]

"What" is the tests that CTest has started and not yet finished ("Start N: name" without its result
line), else the step's last line. The exit status is the command's; Ctrl-C ends both. Standard library only.
"""

import argparse
import os
import queue
import re
import signal
import subprocess
import sys
import threading
import time

CTEST_START = re.compile(r"^\s*Start\s+\d+: (\S+)")
CTEST_END = re.compile(r"Test\s+#\d+: (\S+)")


class Progress:
    """What the step is doing, from its output lines."""

    def __init__(self):
        self.running = []  # CTest's started tests, oldest first
        self.last_line = ""

    def see(self, line):
        started = CTEST_START.match(line)
        ended = CTEST_END.search(line)
        if started:
            self.running.append(started.group(1))
        elif ended and ended.group(1) in self.running:
            self.running.remove(ended.group(1))
        if line.strip():
            self.last_line = line.strip()

    def describe(self):
        if self.running:
            return "running " + ", ".join(self.running)
        return "last: " + self.last_line[:160] if self.last_line else "no output yet"


def elapsed_words(seconds):
    minutes, seconds = divmod(int(seconds), 60)
    return "%dm%02ds" % (minutes, seconds) if minutes else "%ds" % seconds


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--label", default="", help="words that begin each still-at-work line")
    parser.add_argument("--quiet-seconds", type=float, default=20, help="say something after this much silence")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    options = parser.parse_args(argv)
    command = options.command[1:] if options.command[:1] == ["--"] else options.command
    if not command:
        parser.error("no command given")

    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    lines = queue.Queue()

    def read():
        for raw in iter(process.stdout.readline, b""):
            lines.put(raw.decode("utf-8", "replace"))
        lines.put(None)

    threading.Thread(target=read, daemon=True).start()
    progress = Progress()
    started = last_output = time.monotonic()
    try:
        while True:
            try:
                line = lines.get(timeout=max(0.1, last_output + options.quiet_seconds - time.monotonic()))
            except queue.Empty:
                now = time.monotonic()
                print("%sstill at work after %s: %s" % (options.label, elapsed_words(now - started),
                                                        progress.describe()), file=sys.stderr, flush=True)
                last_output = now
                continue
            if line is None:
                break
            sys.stdout.write(line)
            sys.stdout.flush()
            progress.see(line)
            last_output = time.monotonic()
        return process.wait()
    except KeyboardInterrupt:
        # The command has had the same Ctrl-C: let it end, then end the way Ctrl-C ends a program, so that
        # the script around stops too.
        process.wait()
        signal.signal(signal.SIGINT, signal.SIG_DFL)
        os.kill(os.getpid(), signal.SIGINT)
        return 130


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
