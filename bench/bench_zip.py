#!/usr/bin/env python3
"""The service's zip helper against zip and unzip on the same files, in the same run.

A folder of many files (about 200 MiB by default: text that compresses well and bytes that do not) is
archived and extracted again, by the helper (bench_zip_tool) and by `zip -r -q` / `unzip -q`, each
operation in a process of its own. Project and baseline alternate, the order swapping every round, so
both see the same machine. The first round is reported apart as the cold one (fresh files, first
start of each program); the warm rounds give medians with min and max. Aim: the helper's median within
1.5x of the baseline's, for creating and for extracting.
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

from bench_common import in_turn, met_text, scratch_folder, warm

AIM_RATIO = 1.5
TIMEOUT_S = 600


def make_tree(root, total_bytes, seed):
    rng = random.Random(seed)
    words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(500)]
    written = 0
    index = 0
    while written < total_bytes:
        folder = os.path.join(root, f"d{index // 100:03d}", f"s{index % 7}")
        os.makedirs(folder, exist_ok=True)
        size = rng.randint(4 * 1024, 400 * 1024)
        if index % 2:
            data = rng.randbytes(size)
        else:
            data = b" ".join(rng.choice(words) for _ in range(size // 5))[:size]
        with open(os.path.join(folder, f"f{index:05d}.{'bin' if index % 2 else 'txt'}"), "wb") as f:
            f.write(data)
        written += len(data)
        index += 1
    return index, written


def timed(argv, cwd=None):
    start = time.perf_counter()
    subprocess.run(argv, cwd=cwd, check=True, timeout=TIMEOUT_S, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tool", required=True, help="path of bench_zip_tool")
    parser.add_argument("--mib", type=int, default=200)
    parser.add_argument("--rounds", type=int, default=5, help="rounds in all, the first one cold")
    args = parser.parse_args()
    for program in ("zip", "unzip"):
        if shutil.which(program) is None:
            sys.exit(f"bench_zip: {program} is not installed")

    with scratch_folder("bench-zip-") as work:
        source = os.path.join(work, "source")
        count, size = make_tree(source, args.mib << 20, 1)
        print(f"zip helper: {count} files, {size / (1 << 20):.0f} MiB, {args.rounds} rounds (first cold)")
        times = {key: [] for key in ("create", "zip", "extract", "unzip")}
        for round_index in range(args.rounds):
            ours, theirs = os.path.join(work, "ours.zip"), os.path.join(work, "theirs.zip")
            for path in (ours, theirs):
                if os.path.exists(path):
                    os.remove(path)
            steps = [
                ("create", lambda: timed([args.tool, "create", source, ours])),
                ("zip", lambda: timed(["zip", "-r", "-q", theirs, "."], cwd=source)),
            ]
            for key, step in in_turn(steps, round_index):
                times[key].append(step())
            outs = {key: os.path.join(work, f"out-{key}") for key in ("extract", "unzip")}
            for folder in outs.values():
                shutil.rmtree(folder, ignore_errors=True)
            steps = [
                ("extract", lambda: timed([args.tool, "extract", ours, outs["extract"]])),
                ("unzip", lambda: timed(["unzip", "-q", theirs, "-d", outs["unzip"]])),
            ]
            for key, step in in_turn(steps, round_index):
                times[key].append(step())

        all_met = True
        for ours_key, baseline_key in (("create", "zip"), ("extract", "unzip")):
            cold = times[ours_key][0] / times[baseline_key][0]
            warm_ours, warm_base = warm(times[ours_key]), warm(times[baseline_key])
            ratio = statistics.median(warm_ours) / statistics.median(warm_base)
            met = ratio <= AIM_RATIO
            all_met &= met
            print(f"  {ours_key:8s} helper median {statistics.median(warm_ours):.2f} s "
                  f"(min {min(warm_ours):.2f}, max {max(warm_ours):.2f}); "
                  f"{baseline_key} median {statistics.median(warm_base):.2f} s "
                  f"(min {min(warm_base):.2f}, max {max(warm_base):.2f}); "
                  f"ratio {ratio:.2f} warm, {cold:.2f} cold; aim <= {AIM_RATIO}x: {met_text(met)}")
        return 0 if all_met else 1


if __name__ == "__main__":
    sys.exit(main())
