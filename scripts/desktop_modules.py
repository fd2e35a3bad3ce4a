#!/usr/bin/env python3
"""Checks that a desktop holds every module the host talks to: the host's tables of command names
(gui/sdk/command_names.h, one `k<Name>CommandNames` list per module besides the host's own "Main") name
the six page plug-ins and the outside modules, and each must be in the plug-in folder as
plugins/<Name>/lib<Name>.dll.

    desktop_modules.py --app APP_FOLDER                 the folder of a built desktop
    desktop_modules.py --build DESKTOP_BUILD [--ninja N]  also what its `trevane_app` target builds

scripts/run-desktop.sh runs the first before it starts Trevane; the tests run the second, so that a
module the runnable desktop leaves out fails them even where the whole tree has built it. Exit status
1 names the missing modules. Standard library only.
"""

import argparse
import os
import re
import subprocess
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
COMMAND_NAMES = os.path.join(ROOT, "gui", "sdk", "command_names.h")
HOST_TABLE = "Main"
MODULE_LIBRARY = re.compile(r"(?:^|/)plugins/(\w+)/lib\1\.dll$")


def expected_modules(header=COMMAND_NAMES):
    with open(header, encoding="utf-8") as f:
        names = re.findall(r"\bk(\w+)CommandNames\[\]", f.read())
    return sorted(set(names) - {HOST_TABLE})


def folder_modules(app):
    plugins = os.path.join(app, "plugins")
    if not os.path.isdir(plugins):
        return []
    return sorted(name for name in os.listdir(plugins)
                  if os.path.isfile(os.path.join(plugins, name, "lib%s.dll" % name)))


def target_modules(build, ninja="ninja", target="trevane_app"):
    """The modules a build's target makes, from the inputs ninja lists for it."""
    query = subprocess.run([ninja, "-C", build, "-t", "query", target], capture_output=True, text=True, check=True)
    found = (MODULE_LIBRARY.search(line.strip().replace("\\", "/")) for line in query.stdout.splitlines())
    return sorted({match.group(1) for match in found if match})


def missing(expected, present):
    return [name for name in expected if name not in present]


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    where = parser.add_mutually_exclusive_group(required=True)
    where.add_argument("--app", help="a desktop's app folder (with plugins/)")
    where.add_argument("--build", help="a desktop build folder (gui/CMakeLists.txt configured with Ninja)")
    parser.add_argument("--ninja", default="ninja", help="the ninja program of that build")
    options = parser.parse_args(argv)
    expected = expected_modules()
    checks = []
    if options.build:
        checks.append(("the target trevane_app does not build", target_modules(options.build, options.ninja)))
        options.app = os.path.join(options.build, "app")
    checks.append(("the plug-in folder %s lacks" % os.path.join(options.app, "plugins"), folder_modules(options.app)))
    failed = False
    for words, present in checks:
        lacking = missing(expected, present)
        if lacking:
            print("desktop_modules: %s: %s" % (words, ", ".join(lacking)), file=sys.stderr)
            failed = True
    if not failed:
        print("desktop_modules: all %d modules present: %s" % (len(expected), ", ".join(expected)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
