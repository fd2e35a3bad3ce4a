#!/usr/bin/env python3
"""A full backup of a simulated iPhone against `tar -c | tar -x` of the same files, with `cp -r`
beside them, in the same run.

The image holds its usual files and a large download (256 MiB by default; --mib 2048 for the full
2 GiB). The backup runs in the backup tool (AppleMobileBackup.exe -b), which speaks the service's
backup protocol with the simulated device in its own process. The baseline passes the image's files
through a pipe between two processes (`tar -c | tar -x`), as the backup passes every byte from the
device side to the files it writes; `cp -r`, which copies each file inside the kernel, is printed
beside it without an aim. Every run is a process of its own, started by bench_peak_tool, which
reports its time and its own peak resident memory (a process started straight from Python would
report Python's peak, carried over exec; the tool's own floor, `true` run through it, is printed).
They alternate, the order turning every round. The first round is reported apart as the cold one;
the warm rounds give medians with min and max. Aims: the backup faster than the pipe, and at least
1.5 times its throughput (warm medians), and its peak memory (the tool's maximum resident size, device side included) not growing
with the backup: at most 32 MiB above that of a backup of a quarter of the size.

Before every timed run, of the backup and of the baselines alike, a helper process writes to a block
of memory somewhat larger than the data and exits. This machine's VM hands memory freed in its guest back to
the host, and the first write to such memory again costs host-side faults, which the guest sees as
slow kernel copies: runs of `cp` and of the backup alike varied fourfold, depending on which of them
happened to write into memory returned a moment earlier. Memory just freed by the helper is still
held, so every run starts alike.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys

from bench_common import Bench, aim, in_turn, warm, warm_median

AIM_FASTER = 1.0  # the backup's throughput over the pipe's: above it
AIM_SHARE = 1.5  # and at least this
AIM_MEMORY_GROWTH_MIB = 32
TIMEOUT_S = 1800


def touch_memory(mib):
    """Writes to `mib` MiB in a process of its own, which then exits and frees them (see above)."""
    subprocess.run([sys.executable, "-c", "import sys; bytearray(b'\\1') * (int(sys.argv[1]) << 20)", str(mib)],
                   check=True, timeout=TIMEOUT_S)


def run_measured(peak_tool, argv, env=None, touch_mib=0):
    """(seconds, peak resident MiB) of a program run in a process of its own through bench_peak_tool;
    fails on a non-zero exit or the time-out.

    The data the steps before wrote is flushed first (untimed), so that no run pays for another's
    write-back, and `touch_mib` MiB are written to and freed just before the run (untimed)."""
    os.sync()
    if touch_mib:
        touch_memory(touch_mib)
    out = subprocess.run([peak_tool, str(TIMEOUT_S)] + argv, env=env, check=True, capture_output=True,
                         timeout=TIMEOUT_S + 60).stdout.split()
    seconds, peak_kib, code = float(out[0]), int(out[1]), int(out[2])
    if code == 124:
        sys.exit("bench_backup: %s timed out" % argv[0])
    if code != 0:
        sys.exit("bench_backup: %s ended with %d" % (argv[0], code))
    return seconds, peak_kib / 1024.0


def tree_bytes(root):
    return sum(os.path.getsize(os.path.join(d, n)) for d, _, names in os.walk(root) for n in names)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--support", required=True, help="the staged device library folder (with the tool)")
    parser.add_argument("--peak-tool", required=True, help="bench_peak_tool, which runs and measures each step")
    parser.add_argument("--mib", type=int, default=256, help="size of the large file (2048 for the full run)")
    parser.add_argument("--rounds", type=int, default=4, help="rounds in all, the first one cold")
    args = parser.parse_args()
    tool = os.path.join(os.path.abspath(args.support), "AppleMobileBackup.exe")
    with Bench(args.support, prefix="bench-backup-", start_service=False) as bench:
        lab, work = bench.lab, bench.folder
        env = dict(os.environ, **lab.variables())
        images = {}
        for label, mib in (("quarter", max(1, args.mib // 4)), ("full", args.mib)):
            image = lab.make(big_file_mib=mib)
            udid = lab.attach(image)
            images[label] = (udid, os.path.join(lab.root, udid))
        udid, image = images["full"]
        data_bytes = tree_bytes(os.path.join(image, "fs")) + tree_bytes(os.path.join(image, "icons"))
        print(f"backup: {data_bytes / (1 << 20):.0f} MiB in the image, {args.rounds} rounds (first cold)")
        touch_mib = max(1024, data_bytes * 3 // 2 // (1 << 20))

        def backup(label):
            target = os.path.join(work, "backup-" + label)
            shutil.rmtree(target, ignore_errors=True)
            return run_measured(args.peak_tool, [tool, "-b", "--target", images[label][0], "-q", target], env,
                                touch_mib)

        def copy():
            target = os.path.join(work, "copy")
            shutil.rmtree(target, ignore_errors=True)
            return run_measured(args.peak_tool, ["cp", "-r", image, target], touch_mib=touch_mib)

        def stream():
            target = os.path.join(work, "stream")
            shutil.rmtree(target, ignore_errors=True)
            os.makedirs(target)
            return run_measured(args.peak_tool,
                                ["sh", "-c", 'tar -C "$1" -cf - . | tar -C "$2" -xf -', "sh", image, target],
                                touch_mib=touch_mib)

        times = {"backup": [], "cp": [], "tar | tar": []}
        peaks = {"backup": []}
        for round_index in range(args.rounds):
            steps = [("backup", lambda: backup("full")), ("cp", copy), ("tar | tar", stream)]
            for key, step in in_turn(steps, round_index):
                seconds, peak = step()
                times[key].append(seconds)
                peaks.setdefault(key, []).append(peak)
        _, quarter_peak = backup("quarter")

        def line(key):
            rest = warm(times[key])
            return (f"{key} median {statistics.median(rest):.2f} s (min {min(rest):.2f}, max {max(rest):.2f}), "
                    f"cold {times[key][0]:.2f} s, {data_bytes / statistics.median(rest) / (1 << 20):.0f} MiB/s")

        _, floor = run_measured(args.peak_tool, ["true"])
        print("  " + line("backup"))
        print("  " + line("tar | tar"))
        print("  " + line("cp") + " (beside, no aim)")
        warm_backup = warm_median(times["backup"])
        warm_stream = warm_median(times["tar | tar"])
        warm_copy = warm_median(times["cp"])
        share = warm_stream / warm_backup
        cold_share = times["tar | tar"][0] / times["backup"][0]
        print(f"  throughput {share:.2f}x tar | tar's, warm medians (cold {cold_share:.2f}x; "
              f"{warm_copy / warm_backup:.2f}x cp's)")
        share_met = aim("backup faster than tar | tar", share > AIM_FASTER)
        share_met &= aim(f"backup at least {AIM_SHARE:.1f}x tar | tar's throughput", share >= AIM_SHARE)
        peak = max(peaks["backup"])
        memory_met = peak <= quarter_peak + AIM_MEMORY_GROWTH_MIB
        print(f"  peak resident memory, largest of the rounds: backup tool {peak:.1f} MiB, tar | tar's largest "
              f"process {max(peaks['tar | tar']):.1f} MiB, cp {max(peaks['cp']):.1f} MiB (each includes the "
              f"launcher's floor of {floor:.1f} MiB)")
        print(f"  backup tool {quarter_peak:.1f} MiB for a quarter of the data")
        aim(f"peak memory growth <= {AIM_MEMORY_GROWTH_MIB} MiB", memory_met)
        return 0 if share_met and memory_met else 1


if __name__ == "__main__":
    sys.exit(main())
