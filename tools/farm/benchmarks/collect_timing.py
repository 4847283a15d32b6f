#!/usr/bin/python3
"""Times `dirurarovavu-farm collect` on a big farm: makes N records (default 10,000) from a
saved output, a third of them with the 48-processor report of a recorded machine, some
failed, slow or old, then runs collect for the text table with the HTML page, CSV and JSON.
Then the same number of records as 20 weekly farm runs (N / 20 hosts, some of them
sliding or failing in the last run) for history's table with its page, CSV and JSON.

  collect_timing.py [--records N] [--program PATH] [--keep DIR] [--budget SECONDS]

Exit code 1 when a run takes longer than the budget (default 2 s)."""

import argparse
import datetime
import os
import random
import resource
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
from dirurarovavu_farm import grammar, record  # noqa: E402

GOLDEN = os.path.join(HERE, "..", "..", "..", "tests", "machine", "golden", "amd-epyc-7451-2s-96cpu.txt")
OUTPUT = os.path.join(HERE, "..", "tests", "data", "singlespeed.out")


def models():
    with open(OUTPUT, "rb") as stream:
        parsed = grammar.parse_output(grammar.decode(stream.read()))
    with open(GOLDEN, "rb") as stream:
        big = grammar.parse_report(grammar.decode(stream.read()).split("\n"))[0]
    return parsed, [("AMD EPYC", 150.0, parsed["machine"]), ("7451", 900.0, big), ("i7-1370P", 300.0, None)]


def make_records(folder, count, seed=1):
    rng = random.Random(seed)
    parsed, kinds = models()
    now = datetime.datetime.now(datetime.timezone.utc)
    for i in range(count):
        name, centre, machine = kinds[i % 3]
        run = dict(parsed, ps_result=round(rng.gauss(centre, centre * 0.03) * (0.8 if i % 997 == 0 else 1.0), 3),
                   machine=dict(machine or parsed["machine"], name=name))
        start = now - datetime.timedelta(days=40 if i % 1009 == 0 else 0, seconds=rng.randrange(3600))
        rec = record.new_record("node%05d.farm.example.org" % i, run, 0, start.isoformat(timespec="seconds"),
                                "1.0.0", failure="DirUrarovavu ended with signal 9" if i % 1013 == 0 else None)
        record.write_record(rec, folder)


def make_history(folder, count, runs=20, seed=2):
    """count records as runs weekly farm runs; in the last one some hosts slid or failed."""
    rng = random.Random(seed)
    parsed, kinds = models()
    first = datetime.datetime(2026, 7, 1, 2, tzinfo=datetime.timezone.utc)
    hosts = max(1, count // runs)
    for k in range(runs):
        start = first + datetime.timedelta(days=7 * k)
        run_folder = os.path.join(folder, start.strftime("%Y%m%dT%H%M%SZ"))
        for i in range(hosts):
            name, centre, machine = kinds[i % 3]
            slid = 0.8 if k == runs - 1 and i % 97 == 0 else 1.0
            run = dict(parsed, ps_result=round(rng.gauss(centre, centre * 0.02) * slid, 3),
                       machine=dict(machine or parsed["machine"], name=name))
            failed = k == runs - 1 and i % 101 == 0
            rec = record.new_record("node%05d.farm.example.org" % i, run, None if failed else 0,
                                    start.isoformat(timespec="seconds"), "1.0.0",
                                    failure="DirUrarovavu ended with signal 9" if failed else None,
                                    node={"throttle_events": 3 if i % 89 == 0 else 0, "cpu_quota": None})
            record.write_record(rec, run_folder)


def timed(command, budget):
    """Runs command; prints and returns whether it took longer than the budget."""
    started, before = time.perf_counter(), resource.getrusage(resource.RUSAGE_CHILDREN)
    done = subprocess.run(command, stdout=subprocess.DEVNULL)
    took, after = time.perf_counter() - started, resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
    # On a busy machine the wall time grows; the processor time much less.
    print("%-7s %-8s %.2f s, %.2f s of processor time (exit code %d)"
          % (command[1], (command[3:] or ["text"])[0], took, cpu, done.returncode))
    return took > budget


def main():
    options = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    options.add_argument("--records", type=int, default=10000)
    options.add_argument("--program", default=os.path.join(HERE, "..", "..", "..", "build", "dirurarovavu-farm"))
    options.add_argument("--keep", help="make the records in this folder and keep them")
    options.add_argument("--budget", type=float, default=2.0)
    args = options.parse_args()
    folder = args.keep or tempfile.mkdtemp(prefix="farm-timing.")
    os.makedirs(folder, exist_ok=True)
    try:
        started = time.perf_counter()
        make_records(folder, args.records)
        size = sum(os.path.getsize(os.path.join(folder, n)) for n in os.listdir(folder))
        print("%d records, %.1f MB, made in %.1f s; load average %.1f"
              % (args.records, size / 1e6, time.perf_counter() - started, os.getloadavg()[0]))
        over = False
        for extra in (["--html", os.path.join(folder, "farm.html")], ["--csv"], ["--json"]):  # text with the page
            over = timed([args.program, "collect", folder] + extra + ["--max-age", "30d"], args.budget) or over
        past = os.path.join(folder, "history")
        started = time.perf_counter()
        make_history(past, args.records)
        print("%d records in 20 run folders, made in %.1f s" % (args.records, time.perf_counter() - started))
        for extra in (["--html", os.path.join(folder, "history.html")], ["--csv"], ["--json"]):
            over = timed([args.program, "history", past] + extra, args.budget) or over
        if args.keep:
            for page in ("farm.html", "history.html"):
                print("page: %s (%.0f kB)" % (os.path.join(folder, page),
                                             os.path.getsize(os.path.join(folder, page)) / 1e3))
        return 1 if over else 0
    finally:
        if not args.keep:
            shutil.rmtree(folder)


if __name__ == "__main__":
    sys.exit(main())
