#!/usr/bin/env python3
"""Stands in for the PC's package installer and store query in tests and demos (standard library
only). Installed under the names the service starts (see HLX_SYSTEM_FOLDER), it appends its argument
vector as one JSON line to $HLX_STANDIN_LOG (when set), prints the "output" text of the JSON file
$HLX_STANDIN_CONTROL and exits with its "exit" code; without a control file it prints nothing and
exits with 0.
"""

import json
import os
import sys


def main(argv):
    log = os.environ.get("HLX_STANDIN_LOG")
    if log:
        with open(log, "a", encoding="utf-8") as f:
            f.write(json.dumps([os.path.basename(argv[0])] + argv[1:]) + "\n")
    control = {}
    path = os.environ.get("HLX_STANDIN_CONTROL")
    if path and os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            control = json.load(f)
    sys.stdout.write(control.get("output", ""))
    sys.stdout.flush()
    return int(control.get("exit", 0))


if __name__ == "__main__":
    sys.exit(main(sys.argv))
