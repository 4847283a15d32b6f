"""The command line: run, parse and collect."""

import argparse
import datetime
import os
import shutil
import socket
import subprocess
import sys
import threading
import time

from . import chart, formats, history, node, prom, table
from .grammar import BENCHMARK, REPEATS, TEST_NAMES, FarmError, decode, parse_output, to_number
from .record import load_folder, new_record, node_score, parse_tiers, readable, write_atomic, write_record

EXIT_OK, EXIT_BELOW, EXIT_FAILED, EXIT_SKIPPED = 0, 1, 2, 3
# Rough length of each test at about 8 PS a pass; the progress line only says the run is alive.
EXPECTED_S = {"All": 60, "AllVerbose": 60, "Single": 60, "SingleSpeed": 8}


class Progress:
    """"elapsed of about expected" on a terminal's standard error, rewritten in place."""

    def __init__(self, test, runs):
        self.shown = sys.stderr.isatty()
        self.lock, self.stop = threading.Lock(), threading.Event()
        self.test, self.runs, self.run, self.drawn = test, runs, 0, False
        self.expected = EXPECTED_S.get(test, 60) * REPEATS.get(test, 1)
        self.start = time.monotonic()

    def __enter__(self):
        if self.shown:
            threading.Thread(target=self.tick, daemon=True).start()
        return self

    def __exit__(self, *ignored):
        self.stop.set()
        self.clear()

    def next_run(self):
        self.run += 1
        self.start = time.monotonic()

    def tick(self):
        while not self.stop.wait(1.0):
            with self.lock:
                elapsed = int(time.monotonic() - self.start)
                sys.stderr.write("\r\033[Kdirurarovavu-farm: %s%s on %d processors: %d:%02d of about %d:%02d"
                                 % (self.test, " (run %d of %d)" % (self.run, self.runs) if self.runs > 1 else "",
                                    os.cpu_count() or 1, elapsed // 60, elapsed % 60, self.expected // 60,
                                    self.expected % 60))
                sys.stderr.flush()
                self.drawn = True

    def clear(self):
        with self.lock:
            if self.drawn:
                sys.stderr.write("\r\033[K")
                sys.stderr.flush()
                self.drawn = False


def find_benchmark(given):
    if given:
        return given
    beside = os.path.join(os.path.dirname(os.path.abspath(sys.argv[0])), BENCHMARK)
    if os.access(beside, os.X_OK):
        return beside
    found = shutil.which(BENCHMARK)
    if not found:
        raise FarmError("%s is not installed (not beside this program and not on PATH); use --program PATH"
                        % BENCHMARK)
    return found


def run_once(command, progress):
    """Runs the benchmark once, passing its output through as it comes; returns (exit code, bytes)."""
    try:
        child = subprocess.Popen(command, stdout=subprocess.PIPE)
    except OSError as error:
        raise FarmError("cannot start %s: %s" % (command[0], error.strerror or error))
    captured, out = bytearray(), sys.stdout.buffer
    while True:
        chunk = child.stdout.read1(65536)
        if not chunk:
            break
        captured += chunk
        progress.clear()
        out.write(chunk)
        out.flush()
    return child.wait(), bytes(captured)


def command_run(args, version):
    tiers = parse_tiers(args.tiers) if args.tiers else None
    host = readable(args.host or socket.gethostname())
    start = datetime.datetime.now(datetime.timezone.utc).astimezone().isoformat(timespec="seconds")
    if args.root and not os.path.isdir(args.root):
        raise FarmError("--root %s is not a folder" % args.root)
    if args.prom and not os.path.isdir(os.path.dirname(os.path.abspath(args.prom))):
        raise FarmError("--prom %s: no such folder" % args.prom)
    sys.stdout.flush()
    failure, parsed, scores, exit_code = None, None, [], None
    probe = node.Probe(args.root or "/").start()
    with Progress(args.test or "All", args.repeat) as progress, probe:
        for run in range(1, args.repeat + 1):
            progress.next_run()
            try:  # a benchmark that cannot start is a failed run: the farm table must show the node
                command = [find_benchmark(args.program)] + ([args.test] if args.test else [])
                exit_code, output = run_once(command, progress)
            except FarmError as error:
                failure = str(error)
                break
            which = " (run %d of %d)" % (run, args.repeat) if args.repeat > 1 else ""
            if exit_code != 0:
                failure = "%s ended with %s%s" % (BENCHMARK, "signal %d" % -exit_code if exit_code < 0
                                                  else "exit code %d" % exit_code, which)
            try:
                parsed = parse_output(decode(output), args.test)
                scores.append(node_score(parsed))
            except FarmError as error:
                failure = failure or "unreadable output%s: %s" % (which, error)
            if failure:
                break
    record = new_record(host, parsed or {"test": args.test or "All"}, exit_code, start, version, args.min_score,
                        tiers, failure, scores, node=probe.facts, node_notes=probe.notes.items)
    path = write_record(record, args.out)
    if args.prom:
        prom.write_metrics(args.prom, record)
    if failure:
        print("dirurarovavu-farm: %s: %s (record %s)" % (host, failure, path), file=sys.stderr)
        return EXIT_FAILED
    print("dirurarovavu-farm: %s: %.3f PS%s%s%s (record %s)" % (
        host, record["score"],
        "" if record["spread_percent"] is None else " (spread %.1f%%)" % record["spread_percent"],
        ", tier %s" % record["tier"] if record["tier"] else "",
        "" if record["passed"] else ", below --min-score %g" % args.min_score, path), file=sys.stderr)
    return EXIT_OK if record["passed"] else EXIT_BELOW


def command_parse(args, version):
    try:
        with open(args.file, "rb") as stream:
            text, saved = decode(stream.read()), os.fstat(stream.fileno()).st_mtime
    except OSError as error:
        raise FarmError("cannot read %s: %s" % (args.file, error.strerror or error))
    host = readable(args.host or os.path.splitext(os.path.basename(args.file))[0])
    try:
        parsed = parse_output(text, args.test)
    except FarmError as error:
        raise FarmError("%s: %s" % (args.file, error))
    if args.started:
        started, source = args.started, "given"
    else:  # the output was saved when the run ended: near enough for --max-age
        started, source = datetime.datetime.fromtimestamp(saved, datetime.timezone.utc), "file"
    record = new_record(host, parsed, None, started.isoformat(timespec="seconds"), version, args.min_score,
                        parse_tiers(args.tiers) if args.tiers else None, start_source=source)
    if args.out:
        print(write_record(record, args.out))
    else:
        sys.stdout.write(formats.render_json(record))
    return EXIT_OK if record["passed"] else EXIT_BELOW


def report(args, loaded, missing, build, renderers, counts):
    """Names the skipped files, builds the table of the records, writes the page and prints the
    asked form; the exit code says whether files were skipped or a row counts under --fail-on."""
    records, skipped = loaded
    for path, reason in skipped:
        print("dirurarovavu-farm: skipped %s: %s" % (readable(path), reason), file=sys.stderr)
    if not records:
        raise FarmError(missing)
    made = build(records)
    render_html, render_json, render_csv, render_text = renderers
    if args.html:
        write_atomic(args.html, render_html(made))
    render = render_json if args.json else render_csv if args.csv else render_text
    sys.stdout.write(render(made))
    if skipped:
        return EXIT_SKIPPED
    counted = any(counts(r)[word] for r in made["rows"] for word in args.fail_on)
    return EXIT_BELOW if counted else EXIT_OK


def command_collect(args, version):
    return report(args, load_folder(args.folder), "%s holds no readable records (*.json)" % args.folder,
                  lambda records: table.farm_table(records, args.reference, args.threshold, args.max_age),
                  (chart.render_html, formats.render_json, formats.render_csv, table.render_text), table.counts)


def command_history(args, version):
    return report(args, history.load_runs(args.folder),
                  "%s holds no folders of readable records (one folder per farm run, each with *.json)"
                  % args.folder,
                  lambda records: history.history_table(records, args.threshold, args.runs),
                  (history.render_html, history.render_json, history.render_csv, history.render_text),
                  history.counts)


class Parser(argparse.ArgumentParser):
    def error(self, message):  # usage errors are bad input: exit 2, as argparse does
        self.print_usage(sys.stderr)
        self.exit(EXIT_FAILED, "%s: error: %s\n" % (self.prog, message))


def score_value(text):
    value = to_number(text)
    if value is None:
        raise argparse.ArgumentTypeError("not a number: %r" % text)
    return value


def percent(text):
    value = to_number(text)
    if value is None or value < 0:
        raise argparse.ArgumentTypeError("not a percentage of 0 or more: %r" % text)
    return value


def started(text):
    """An ISO 8601 time; without an offset it is UTC."""
    try:
        when = datetime.datetime.fromisoformat(text.strip())
    except ValueError:
        raise argparse.ArgumentTypeError("not an ISO 8601 time, like 2026-12-06T21:56:41+01:00: %r" % text)
    return when if when.tzinfo else when.replace(tzinfo=datetime.timezone.utc)


def test_name(text):
    for name in TEST_NAMES:
        if name.lower() == text.lower():
            return name
    raise argparse.ArgumentTypeError("unknown test %r (one of %s)" % (text, ", ".join(TEST_NAMES)))


def repeat_count(text):
    if not text.isdigit() or not 1 <= int(text) <= 1000:
        raise argparse.ArgumentTypeError("--repeat wants a whole number from 1 to 1000, not %r" % text)
    return int(text)


def age(text):
    try:
        return table.parse_age(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error))


def fail_on(text, known=table.FAIL_ON):
    words = [w.strip() for w in text.split(",") if w.strip()]
    wrong = [w for w in words if w not in known + ("none",)]
    if wrong:
        raise argparse.ArgumentTypeError("--fail-on takes %s or none, not %s" % (",".join(known), ",".join(wrong)))
    return [w for w in words if w != "none"]


def history_fail_on(text):
    return fail_on(text, history.FAIL_ON)


def run_count(text):
    if not text.isdigit() or not 1 <= int(text) <= 1000:
        raise argparse.ArgumentTypeError("--runs wants a whole number from 1 to 1000, not %r" % text)
    return int(text)


def build_parser(version):
    parser = Parser(prog="dirurarovavu-farm", description="Runs DirUrarovavu on farm nodes and compares them.")
    parser.add_argument("--version", action="version", version="%(prog)s " + version)
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=Parser)
    commands.required = True

    run = commands.add_parser("run", help="run the benchmark and write this host's record")
    run.add_argument("--test", type=test_name, help="test name passed to the benchmark (its default: All)")
    run.add_argument("--min-score", type=score_value, help="exit with 1 when the score is below this")
    run.add_argument("--tiers", help="tier names with their lowest scores, e.g. A:400,B:200")
    run.add_argument("--repeat", type=repeat_count, default=1, metavar="N",
                     help="run the test N times; the score is the median, the spread is recorded")
    run.add_argument("--out", default=".", help="folder for <host>.json (default: the current folder)")
    run.add_argument("--host", help="host name in the record (default: this machine's name)")
    run.add_argument("--program", help="the benchmark to run (default: the installed DirUrarovavu)")
    run.add_argument("--root", metavar="DIR",
                     help="read the node's facts (/proc, /sys) under DIR instead of / (a recorded machine)")
    run.add_argument("--prom", metavar="FILE",
                     help="also write the metrics for node_exporter's textfile collector into FILE")
    run.set_defaults(handler=command_run)

    parse = commands.add_parser("parse", help="build the record from a saved output")
    parse.add_argument("file")
    parse.add_argument("--test", type=test_name, help="the test that was run (default: read from the output)")
    parse.add_argument("--host", help="host name in the record (default: the file name without extension)")
    parse.add_argument("--min-score", type=score_value)
    parse.add_argument("--tiers")
    parse.add_argument("--out", help="write <host>.json there instead of printing the record")
    parse.add_argument("--started", type=started, metavar="TIME",
                       help="when the run started, ISO 8601 (default: the file's modification time)")
    parse.set_defaults(handler=command_parse)

    collect = commands.add_parser("collect", help="merge the records of a folder into one farm table")
    collect.add_argument("folder")
    formats_ = collect.add_mutually_exclusive_group()
    formats_.add_argument("--csv", action="store_true", help="CSV instead of the text table")
    formats_.add_argument("--json", action="store_true", help="JSON instead of the text table")
    collect.add_argument("--html", metavar="FILE", help="also write a page with a chart of the scores")
    collect.add_argument("--reference", metavar="HOST", help="node whose score is 100%% (default: the fastest)")
    collect.add_argument("--threshold", type=percent, default=10.0, metavar="PERCENT",
                         help="flag nodes more than this far below their model's median (default 10)")
    collect.add_argument("--max-age", type=age, metavar="AGE",
                         help="mark records started longer ago than this (90s, 30m, 12h, 2d) STALE")
    collect.add_argument("--fail-on", type=fail_on, default=["failed", "below"], metavar="WORDS",
                         help="what makes exit code 1: failed,below,slow,stale,throttled,quota or none "
                         "(default failed,below)")
    collect.set_defaults(handler=command_collect)

    past = commands.add_parser("history", help="whether each node got slower over the farm runs of a folder")
    past.add_argument("folder", help="a folder of run folders (the playbook's farm_results)")
    formats_ = past.add_mutually_exclusive_group()
    formats_.add_argument("--csv", action="store_true", help="CSV instead of the text table")
    formats_.add_argument("--json", action="store_true", help="JSON instead of the text table")
    past.add_argument("--html", metavar="FILE", help="also write a page with each node's scores over time")
    past.add_argument("--threshold", type=percent, default=10.0, metavar="PERCENT",
                      help="DEGRADED: latest this far below the earlier median (default 10)")
    past.add_argument("--runs", type=run_count, default=10, metavar="N",
                      help="earlier runs the median is taken of (default 10)")
    past.add_argument("--fail-on", type=history_fail_on, default=["degraded"], metavar="WORDS",
                      help="what makes exit code 1: degraded,failed or none (default degraded)")
    past.set_defaults(handler=command_history)
    return parser


def main(argv=None, version="unknown"):
    # Host and processor names may hold any bytes; never fail on printing them.
    for stream in (sys.stdout, sys.stderr):
        stream.reconfigure(encoding="utf-8", errors="backslashreplace")
    args = build_parser(version).parse_args(argv)
    try:
        return args.handler(args, version)
    except FarmError as error:
        message = str(error)
    except OSError as error:
        message = "%s%s" % (error.strerror or error, ": " + str(error.filename) if error.filename else "")
    except KeyboardInterrupt:
        message = "interrupted"
    print("dirurarovavu-farm: %s" % readable(message), file=sys.stderr)
    return EXIT_FAILED
