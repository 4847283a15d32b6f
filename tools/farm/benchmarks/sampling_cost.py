#!/usr/bin/python3
"""Whether sampling the clocks disturbs the score: runs `dirurarovavu-farm run --test TEST`
N times each with and without sampling, alternating, and prints both medians. Without
cpufreq on the machine the sampler has nothing to read, so --fake-cpufreq gives run a root
whose processors have clock files (read as a real node's would be).

  sampling_cost.py [--program PATH] [--benchmark PATH] [--runs N] [--test NAME]
                   [--interval SECONDS] [--fake-cpufreq]"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def fake_root(folder):
    """This machine's affinity and cgroup files with a clock file per allowed processor."""
    for name in ("status", "cgroup", "mountinfo"):
        os.makedirs(os.path.join(folder, "proc", "self"), exist_ok=True)
        shutil.copyfile("/proc/self/" + name, os.path.join(folder, "proc", "self", name))
    for cpu in sorted(os.sched_getaffinity(0)):
        clock = os.path.join(folder, "sys/devices/system/cpu/cpu%d/cpufreq" % cpu)
        os.makedirs(clock)
        with open(os.path.join(clock, "scaling_cur_freq"), "w") as stream:
            stream.write("2600000\n")
    return folder


def main():
    options = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    options.add_argument("--program", default=os.path.join(HERE, "..", "..", "..", "build", "dirurarovavu-farm"))
    options.add_argument("--benchmark", help="the benchmark run runs (default: its own choice)")
    options.add_argument("--runs", type=int, default=5)
    options.add_argument("--test", default="SingleSpeed")
    options.add_argument("--interval", default="3", help="seconds between samples when sampling (default 3)")
    options.add_argument("--fake-cpufreq", action="store_true")
    args = options.parse_args()
    work = tempfile.mkdtemp(prefix="sampling-cost.")
    try:
        root = fake_root(os.path.join(work, "root")) if args.fake_cpufreq else None
        scores = {"sampling": [], "none": []}
        for k in range(2 * args.runs):
            kind = ("sampling", "none")[k % 2]
            env = dict(os.environ, DIRURAROVAVU_FARM_SAMPLE_SECONDS=args.interval if kind == "sampling" else "0")
            command = [args.program, "run", "--test", args.test, "--out", work, "--host", "n"] + \
                (["--program", args.benchmark] if args.benchmark else []) + (["--root", root] if root else [])
            subprocess.run(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            with open(os.path.join(work, "n.json")) as stream:
                record = json.load(stream)
            scores[kind].append(record["score"])
            print("%-8s %8.3f PS  clock %s MHz at the start, lowest %s" % (
                kind, record["score"] or 0.0, (record["node"] or {}).get("clock_start_mhz"),
                (record["node"] or {}).get("clock_low_mhz")), flush=True)
        print("median with sampling every %s s: %.3f PS; without: %.3f PS; load average %.1f"
              % (args.interval, statistics.median(scores["sampling"]), statistics.median(scores["none"]),
                 os.getloadavg()[0]))
    finally:
        shutil.rmtree(work)
    return 0


if __name__ == "__main__":
    sys.exit(main())
