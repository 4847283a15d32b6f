#!/usr/bin/python3
"""dirurarovavu-farm: runs DirUrarovavu on a farm node and compares the nodes.

  run      runs the benchmark, passes its output through and writes one JSON record
  parse    builds the same record from a saved output
  collect  merges the records of a folder into one farm table

Exit codes: 0 success (or pass), 1 below --min-score, 2 the benchmark failed, its output
could not be read, or the input was bad. The score is never the exit code.
Python 3 standard library only: farm nodes get it from the distribution's python3.
"""

import argparse
import csv
import datetime
import html
import io
import json
import math
import os
import re
import shutil
import socket
import statistics
import subprocess
import sys

VERSION = "@PROJECT_VERSION@"  # filled in by the build
SCHEMA = "dirurarovavu-farm/record"
TABLE_SCHEMA = "dirurarovavu-farm/table"
SCHEMA_VERSION = 1
BENCHMARK = "DirUrarovavu"
TEST_NAMES = ["All", "AllVerbose", "Single", "SingleSpeed", "Single5", "Single5Verbose",
              "Single10", "Single10Verbose"]

EXIT_OK, EXIT_BELOW, EXIT_FAILED = 0, 1, 2


class FarmError(Exception):
    """A failure to report in one line and exit 2 for."""


def version():
    return "unknown" if VERSION.startswith("@") else VERSION


# ---------------------------------------------------------------------------
# Reading the benchmark's output. Everything is matched on the program's fixed
# texts; unknown lines (filler blocks, worker 0's live lines) are skipped.

NUMBER = r"[-+]?(?:\d+(?:\.\d*)?|inf|nan)"
TIME_OF_DAY = re.compile(r"^\d\d:\d\d\.\d\d$")
ADDING = re.compile(r"adding thread (\d+): *(" + NUMBER + r")PS \((-?[\d ]+) ms, (-?\d+) loops\)$")
TOTAL = re.compile(r"^=totalSpeed *(" + NUMBER + r") PS \(Average per core: *(" + NUMBER + r") PS\)$")
RESULT = re.compile(r"^PS_Result: *(" + NUMBER + r")$")
CREATING = re.compile(r"^Creating (\d+) threads$")

REPORT_FIELDS = [  # label, key, kind
    ("CPU Description:     ", "description", str),
    ("CPU:                 ", "name", str),
    ("CPU Core Count:      ", "core_count", int),
    ("CPU Core Count (HW): ", "core_count_hw", int),
    ("CPU Hyperthreading:  ", "hyperthreading", bool),
    ("CPU MHz in label: ", "mhz_label", int),
    ("CPU MHz Info:     ", "mhz_info", int),
    ("CPU MHz Max:      ", "mhz_max", int),
    ("CPU MHz Current:  ", "mhz_current", int),
    ("CPU MHz summed (calculated, HT adjusted):  ", "mhz_summed", int),
    ("CPU MHz summed (calculated per Core, HT adjusted): ", "mhz_summed_per_core", int),
    ("CPU MHz summed (measured current, HT adjusted):    ", "mhz_summed_measured", int),
]
TABLE_ROWS = [  # label, key, cell width
    ("Core HT:       ", "ht", 6),
    ("Core MHz Info: ", "mhz_info", 6),
    ("Core MHz Min:  ", "mhz_min", 6),
    ("Core MHz Max:  ", "mhz_max", 6),
    ("Core MHz Cur:  ", "mhz_cur", 10),
]
SEPARATOR = "-" * 30
NOTE = "NOTE: Tessel reads the information provided by the OS or BIOS."


def to_number(text, kind=float):
    """A number as JSON can hold it: None for a missing, infinite or unreadable value."""
    try:
        value = kind(text.replace(" ", ""))
    except ValueError:
        return None
    if kind is float and not math.isfinite(value):
        return None
    return value


def drop_cut_value(line):
    """The last line of a cut report without its last value, which may be cut too."""
    return line if line.endswith(" ") else line[:line.rfind(" ") + 1]


def split_cells(row, count, width):
    """The cells of a table row. Values fit their cells unless one is longer than its
    width; then it runs into the next cell and only a split at blanks can help."""
    if len(row) <= count * width:
        row = row.ljust(count * width)
        return [row[i * width:(i + 1) * width].strip() for i in range(count)]
    cells = row.split()
    return cells if len(cells) == count else [None] * count


def parse_report(lines):
    """The machine report's fields from its lines; tolerates missing and cut-off pieces.
    Returns (machine, errors)."""
    machine = {key: None for _, key, _ in REPORT_FIELDS}
    machine["processors"] = []
    machine["complete"] = False
    errors = []
    in_errors = False
    block = {}
    found = False

    def flush_block():
        if "ht" not in block:
            block.clear()
            return
        count = (len(block["ht"].rstrip()) + 5) // 6  # "true" or "-" in cells of 6
        start = len(machine["processors"])
        cells = {key: split_cells(block[key], count, width) if key in block else [None] * count
                 for _, key, width in TABLE_ROWS}
        for i in range(count):
            ht = cells["ht"][i]
            row = {"index": start + i, "ht": None if ht not in ("true", "-") else ht == "true"}
            for _, key, _ in TABLE_ROWS[1:]:
                row[key] = None if cells[key][i] is None else to_number(cells[key][i], int)
            machine["processors"].append(row)
        block.clear()

    for line in lines:
        if in_errors:
            if line == SEPARATOR:
                in_errors = False
            elif line:
                errors.append(line)
            continue
        if line == "ERRORS:":
            in_errors = True
            found = True
            continue
        for label, key, width in TABLE_ROWS:
            if line.startswith(label):
                if key == "ht":
                    flush_block()
                block[key] = line[len(label):]
                found = True
                break
        else:
            if block and not line.strip():
                flush_block()
            for label, key, kind in REPORT_FIELDS:
                if line.startswith(label):
                    value = line[len(label):]
                    if kind is bool:
                        machine[key] = {"Enabled": True, "Disabled": False}.get(value)
                    elif kind is int:
                        machine[key] = to_number(value, int)
                    else:
                        machine[key] = value
                    found = True
                    break
            if line == NOTE:
                machine["complete"] = True
    flush_block()
    return (machine if found else None), errors


def parse_output(text, test=None):
    """The record's run fields from a whole output of the benchmark. Raises FarmError."""
    lines = [line[:-1] if line.endswith("\r") else line for line in text.split("\n")]
    if not lines or not TIME_OF_DAY.match(lines[0]) or len(lines) < 2 \
            or not lines[1].startswith("SpecificOperSys: "):
        raise FarmError("not an output of %s: it does not begin with the time of day and "
                        "the SpecificOperSys line" % BENCHMARK)
    if any(l.startswith("Usage: ") for l in lines) and "CPU PS Test..." not in lines:
        raise FarmError("the benchmark printed its usage text: the test name was not accepted")
    header = {"start_time_of_day": lines[0]}
    for line in lines[1:6]:
        if line.startswith("SpecificOperSys: "):
            header["operating_system"] = line[len("SpecificOperSys: "):]
        elif line.startswith("NumberOfThreads: "):
            header["number_of_threads"] = to_number(line[len("NumberOfThreads: "):], int)
        elif line.startswith("RAM installed: "):
            header["ram_gib"] = to_number(line[len("RAM installed: "):], int)
        elif line.startswith("OperatingSystem: "):
            header["os_family"] = line[len("OperatingSystem: "):]

    # The test log is the last "CPU PS Test..." with its "Creating" line: in verbose
    # mode the same two lines are printed live before it.
    starts = [i for i in range(len(lines) - 1) if lines[i] == "CPU PS Test..." and CREATING.match(lines[i + 1])]
    if not starts:
        raise FarmError("no test log in the output (no \"CPU PS Test...\" line): truncated or "
                        "not an output of %s" % BENCHMARK)
    log_start = starts[-1]
    threads_created = int(CREATING.match(lines[log_start + 1]).group(1))
    result_at = next((i for i in range(log_start, len(lines)) if RESULT.match(lines[i])), None)
    if result_at is None:
        raise FarmError("no PS_Result line after the test log: the output is truncated")

    workers, total, average, first_worker = [], None, None, None
    for i in range(log_start + 2, result_at):
        found = ADDING.search(lines[i])
        if found:
            if first_worker is None:
                first_worker = i
            workers.append({"index": int(found.group(1)), "score": to_number(found.group(2)),
                            "time_ms": to_number(found.group(3), int), "loops": int(found.group(4))})
            continue
        found = TOTAL.match(lines[i])
        if found:
            total, average = to_number(found.group(1)), to_number(found.group(2))
    if not workers or total is None:
        raise FarmError("the test log has no worker scores or no totalSpeed line")
    if len(workers) != threads_created:
        raise FarmError("the test log lists %d workers for %d threads created" % (len(workers), threads_created))

    verbose = any(l == "psTest: Calling cpuInfo" for l in lines[:log_start])
    if verbose:
        # Printed live, once per run; the last one belongs to the printed log.
        begin = max(i for i in range(log_start) if lines[i] == "psTest: Calling cpuInfo") + 1
        end = next((i for i in range(begin, log_start) if lines[i] == "psTest: all Threads done"), log_start)
        report_lines = lines[begin:end]
        if NOTE not in report_lines:  # cut at its size limit; the poll's dots may follow
            last = max((i for i, l in enumerate(report_lines) if l.strip()), default=None)
            if last is not None:
                report_lines[last] = drop_cut_value(report_lines[last].rstrip("."))
    else:
        report_lines = lines[log_start + 2:first_worker]
        # A report cut at its size limit has no line feed: the first worker line follows it.
        glued = lines[first_worker][:ADDING.search(lines[first_worker]).start()]
        if glued:
            report_lines = report_lines + [drop_cut_value(glued)]
    machine, errors = parse_report(report_lines)

    record = {
        "test": test or infer_test(verbose, threads_created, header.get("number_of_threads"), workers,
                                   sum(1 for l in lines[:log_start] if l == "CPU PS Test...")),
        "verbose": verbose,
        "threads_created": threads_created,
        "workers": workers,
        "total_speed": total,
        "average_per_core": average,
        "ps_result": to_number(RESULT.match(lines[result_at]).group(1)),
        "returned_exit_code": None,
        "time_exec_s": None,
        "core_time": None,
        "machine": machine,
        "errors": errors,
    }
    for key in ("operating_system", "number_of_threads", "ram_gib", "os_family"):
        record[key] = header.get(key)
    record["start_time_of_day"] = header["start_time_of_day"]
    for line in lines[result_at + 1:]:
        found = re.match(r"^Returning exit code (-?\d+)$", line)
        if found:
            record["returned_exit_code"] = int(found.group(1))
        found = re.match(r"^Time_Exec: (-?\d+) sec$", line)
        if found:
            record["time_exec_s"] = int(found.group(1))
        found = re.match(r"^Core\*Time: (-?\d+)$", line)
        if found:
            record["core_time"] = int(found.group(1))
    if record["ps_result"] is None:
        raise FarmError("the PS_Result line holds no finite score")
    return record


def infer_test(verbose, threads_created, processors, workers, live_starts):
    """The test name from the shape of a saved output; Single5 and Single10 without
    their verbose log look like Single."""
    single = threads_created == 1 and (processors or 1) > 1
    if workers and workers[0]["loops"] == 7:
        return "SingleSpeed"
    if not single:
        return "AllVerbose" if verbose else "All"
    if verbose:
        return {5: "Single5Verbose", 10: "Single10Verbose"}.get(live_starts, "Single")
    return "Single"


# ---------------------------------------------------------------------------
# Records

def new_record(host, parsed, exit_code, start_time, min_score=None, tiers=None, failure=None):
    record = {
        "schema": SCHEMA,
        "schema_version": SCHEMA_VERSION,
        "host": host,
        "start_time": start_time,
        "version": version(),
        "exit_code": exit_code,
        "status": "failed" if failure else "ok",
        "failure": failure,
    }
    fields = ["test", "start_time_of_day", "operating_system", "os_family", "number_of_threads", "ram_gib",
              "verbose", "threads_created", "workers", "total_speed", "average_per_core", "ps_result",
              "returned_exit_code", "time_exec_s", "core_time", "machine", "errors"]
    for key in fields:
        record[key] = (parsed or {}).get(key, [] if key in ("workers", "errors") else None)
    score = record["ps_result"]
    record["min_score"] = min_score
    record["passed"] = None if failure else (min_score is None or score >= min_score)
    record["tier"] = None if failure or tiers is None else tier_of(score, tiers)
    return record


def parse_tiers(text):
    """"A:400,B:200" as [(400.0, "A"), (200.0, "B")], highest first."""
    tiers = []
    for item in text.split(","):
        name, sep, value = item.strip().rpartition(":")
        score = to_number(value) if sep else None
        if not name or score is None:
            raise FarmError("--tiers wants NAME:SCORE pairs separated by commas, like A:400,B:200; got %r" % item)
        tiers.append((score, name))
    return sorted(tiers, reverse=True)


def tier_of(score, tiers):
    return next((name for floor, name in tiers if score >= floor), None)


def check_record(record, where):
    """Raises FarmError unless record is a record this program can read."""
    if not isinstance(record, dict) or record.get("schema") != SCHEMA:
        raise FarmError("%s: not a %s record" % (where, SCHEMA))
    found = record.get("schema_version")
    if not isinstance(found, int) or found > SCHEMA_VERSION or found < 1:
        raise FarmError("%s: schema version %r; this program (version %s) reads version %d"
                        % (where, found, version(), SCHEMA_VERSION))
    if not isinstance(record.get("host"), str) or not record["host"]:
        raise FarmError("%s: the record names no host" % where)
    score = record.get("ps_result")
    if record.get("status") == "ok" and (not isinstance(score, (int, float)) or isinstance(score, bool)):
        raise FarmError("%s: the record has no score" % where)


def write_record(record, out_dir):
    os.makedirs(out_dir, exist_ok=True)
    path = os.path.join(out_dir, safe_file_name(record["host"]) + ".json")
    temporary = path + ".part"
    with open(temporary, "w", encoding="utf-8") as stream:
        json.dump(record, stream, indent=2)
        stream.write("\n")
    os.replace(temporary, path)  # a collector never sees half a record
    return path


def safe_file_name(host):
    name = re.sub(r"[^A-Za-z0-9._-]", "_", host).lstrip(".")
    return name or "host"


# ---------------------------------------------------------------------------
# Commands

def find_benchmark(given):
    if given:
        return given
    beside = os.path.join(os.path.dirname(os.path.abspath(sys.argv[0])), BENCHMARK)
    if os.access(beside, os.X_OK):
        return beside
    found = shutil.which(BENCHMARK)
    if not found:
        raise FarmError("%s is not installed (not beside this program and not on PATH); "
                        "use --program PATH" % BENCHMARK)
    return found


def command_run(args):
    tiers = parse_tiers(args.tiers) if args.tiers else None
    program = find_benchmark(args.program)
    host = args.host or socket.gethostname()
    start = datetime.datetime.now(datetime.timezone.utc).astimezone().isoformat(timespec="seconds")
    command = [program] + ([args.test] if args.test else [])
    try:
        child = subprocess.Popen(command, stdout=subprocess.PIPE)
    except OSError as error:
        raise FarmError("cannot start %s: %s" % (program, error.strerror or error))
    captured = bytearray()
    out = sys.stdout.buffer
    while True:  # passed through unchanged as it comes
        chunk = child.stdout.read1(65536)
        if not chunk:
            break
        captured += chunk
        out.write(chunk)
        out.flush()
    exit_code = child.wait()
    text = captured.decode("latin-1")

    failure, parsed = None, None
    if exit_code != 0:
        failure = "%s ended with %s" % (BENCHMARK, "signal %d" % -exit_code if exit_code < 0
                                        else "exit code %d" % exit_code)
    try:
        parsed = parse_output(text, args.test)
    except FarmError as error:
        failure = failure or "unreadable output: %s" % error
    record = new_record(host, parsed, exit_code, start, args.min_score, tiers, failure)
    path = write_record(record, args.out)
    if failure:
        print("dirurarovavu-farm: %s: %s (record %s)" % (host, failure, path), file=sys.stderr)
        return EXIT_FAILED
    print("dirurarovavu-farm: %s: %.3f PS%s%s (record %s)" % (
        host, record["ps_result"], ", tier %s" % record["tier"] if record["tier"] else "",
        "" if record["passed"] else ", below --min-score %g" % args.min_score, path), file=sys.stderr)
    return EXIT_OK if record["passed"] else EXIT_BELOW


def command_parse(args):
    try:
        with open(args.file, "rb") as stream:
            text = stream.read().decode("latin-1")
    except OSError as error:
        raise FarmError("cannot read %s: %s" % (args.file, error.strerror or error))
    host = args.host or os.path.splitext(os.path.basename(args.file))[0]
    try:
        parsed = parse_output(text, args.test)
    except FarmError as error:
        raise FarmError("%s: %s" % (args.file, error))
    record = new_record(host, parsed, None, None, args.min_score,
                        parse_tiers(args.tiers) if args.tiers else None)
    if args.out:
        print(write_record(record, args.out))
    else:
        json.dump(record, sys.stdout, indent=2)
        sys.stdout.write("\n")
    return EXIT_OK if record["passed"] else EXIT_BELOW


def load_records(folder):
    if not os.path.isdir(folder):
        raise FarmError("%s is not a folder" % folder)
    names = sorted(n for n in os.listdir(folder) if n.endswith(".json"))
    if not names:
        raise FarmError("%s holds no records (*.json)" % folder)
    records = []
    for name in names:
        path = os.path.join(folder, name)
        try:
            with open(path, encoding="utf-8") as stream:
                record = json.load(stream)
        except OSError as error:
            raise FarmError("cannot read %s: %s" % (path, error.strerror or error))
        except ValueError as error:
            raise FarmError("%s is not JSON: %s" % (path, error))
        check_record(record, path)
        records.append(record)
    hosts = [r["host"] for r in records]
    twice = sorted({h for h in hosts if hosts.count(h) > 1})
    if twice:
        raise FarmError("%s: more than one record for %s" % (folder, ", ".join(twice)))
    return records


def model_of(record):
    machine = record.get("machine") or {}
    return machine.get("name") or machine.get("description") or "unknown processor"


def farm_table(records, reference=None, threshold=10.0):
    """Rows sorted by score, each with its share of the reference's score and a flag when
    it is more than threshold percent below the median of its processor model's nodes."""
    ok = sorted((r for r in records if r.get("status") == "ok"), key=lambda r: (-r["ps_result"], r["host"]))
    failed = sorted((r for r in records if r.get("status") != "ok"), key=lambda r: r["host"])
    if reference is None:
        reference = ok[0]["host"] if ok else None
    elif reference not in [r["host"] for r in ok]:
        raise FarmError("--reference %s: no successful record of that host" % reference)
    ref_score = next((r["ps_result"] for r in ok if r["host"] == reference), None)
    medians = {}
    for r in ok:  # nodes compare only with the same processor running the same test
        medians.setdefault((model_of(r), r.get("test")), []).append(r["ps_result"])
    medians = {key: statistics.median(scores) for key, scores in medians.items()}
    rows = []
    for rank, r in enumerate(ok + failed, 1):
        row = {"rank": rank, "host": r["host"], "status": r.get("status"), "score": r.get("ps_result"),
               "relative_percent": None, "tier": r.get("tier"), "test": r.get("test"),
               "processor": model_of(r), "threads": r.get("number_of_threads"),
               "model_median": None, "below_median_percent": None, "flagged": r.get("status") != "ok",
               "failure": r.get("failure")}
        if row["status"] == "ok":
            median = medians[(row["processor"], row["test"])]
            row["model_median"] = median
            if ref_score:
                row["relative_percent"] = round(100.0 * row["score"] / ref_score, 1)
            if median > 0:
                below = round(100.0 * (median - row["score"]) / median, 1)
                row["below_median_percent"] = below
                row["flagged"] = below > threshold
        rows.append(row)
    return {"schema": TABLE_SCHEMA, "schema_version": SCHEMA_VERSION, "reference": reference,
            "threshold_percent": threshold, "rows": rows}


def cell(value, digits=None):
    if value is None:
        return "-"
    if digits is not None:
        return "%.*f" % (digits, value)
    return str(value)


def flag_text(row, threshold):
    if row["status"] != "ok":
        return "FAILED: %s" % (row["failure"] or "no score")
    if row["flagged"]:
        return "SLOW: %.1f%% below its model's median" % row["below_median_percent"]
    return ""


COLUMNS = ["rank", "host", "score", "relative", "tier", "test", "threads", "processor", "flag"]


def table_cells(table):
    out = []
    for row in table["rows"]:
        out.append([str(row["rank"]), row["host"], cell(row["score"], 3),
                    "-" if row["relative_percent"] is None else "%.1f%%" % row["relative_percent"],
                    cell(row["tier"]), cell(row["test"]), cell(row["threads"]), row["processor"],
                    flag_text(row, table["threshold_percent"])])
    return out


def render_text(table):
    rows = [[c.upper() for c in COLUMNS]] + table_cells(table)
    widths = [max(len(r[i]) for r in rows) for i in range(len(COLUMNS))]
    right = {0, 2, 3, 6}
    lines = ["  ".join(c.rjust(widths[i]) if i in right else c.ljust(widths[i]) for i, c in enumerate(r)).rstrip()
             for r in rows]
    lines.append("reference: %s; flagged: more than %g%% below the median of the same processor and test"
                 % (table["reference"] or "-", table["threshold_percent"]))
    return "\n".join(lines) + "\n"


def render_csv(table):
    stream = io.StringIO()
    writer = csv.writer(stream, lineterminator="\n")
    writer.writerow(["rank", "host", "status", "score", "relative_percent", "tier", "test", "threads",
                     "processor", "model_median", "below_median_percent", "flagged", "failure"])
    for r in table["rows"]:
        writer.writerow([r["rank"], r["host"], r["status"], "" if r["score"] is None else "%.3f" % r["score"],
                         "" if r["relative_percent"] is None else r["relative_percent"], r["tier"] or "",
                         r["test"] or "", "" if r["threads"] is None else r["threads"], r["processor"],
                         "" if r["model_median"] is None else "%.3f" % r["model_median"],
                         "" if r["below_median_percent"] is None else r["below_median_percent"],
                         "yes" if r["flagged"] else "no", r["failure"] or ""])
    return stream.getvalue()


def render_html(table):
    """One page, no scripts or outside files: a bar per node, grouped by processor model."""
    esc = html.escape
    ok = [r for r in table["rows"] if r["status"] == "ok"]
    groups = {}
    for r in ok:
        groups.setdefault(r["processor"], []).append(r)
    order = sorted(groups, key=lambda m: -max(r["score"] for r in groups[m]))
    top = max([r["score"] for r in ok] + [1e-9])
    bar_h, gap, label_w, chart_w = 22, 6, 220, 560
    parts, y = [], 10
    for model in order:
        parts.append('<text class="model" x="4" y="%d">%s</text>' % (y + 14, esc(model)))
        y += 24
        median = groups[model][0]["model_median"]
        first_y = y
        for r in groups[model]:
            width = max(1.0, chart_w * max(r["score"], 0.0) / top)
            parts.append('<g class="%s"><title>%s: %.3f PS%s</title>'
                         '<text class="host" x="%d" y="%d" text-anchor="end">%s</text>'
                         '<rect x="%d" y="%d" width="%.1f" height="%d"/>'
                         '<text class="value" x="%.1f" y="%d">%.3f</text></g>'
                         % ("bar flagged" if r["flagged"] else "bar", esc(r["host"]), r["score"],
                            esc(", " + flag_text(r, table["threshold_percent"])) if r["flagged"] else "",
                            label_w - 6, y + 16, esc(r["host"]), label_w, y, width, bar_h,
                            label_w + width + 4, y + 16, r["score"]))
            y += bar_h + gap
        if median:
            x = label_w + chart_w * median / top
            parts.append('<line class="median" x1="%.1f" y1="%d" x2="%.1f" y2="%d"><title>median %.3f PS</title></line>'
                         % (x, first_y - 3, x, y - gap + 3, median))
        y += 10
    svg = ('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" role="img" '
           'aria-label="PS score per node, grouped by processor model">%s</svg>'
           % (label_w + chart_w + 80, y + 10, "".join(parts)))
    failed = [r for r in table["rows"] if r["status"] != "ok"]
    rows_html = "".join("<tr>%s</tr>" % "".join("<td>%s</td>" % esc(c) for c in cells)
                        for cells in table_cells(table))
    return """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>DirUrarovavu farm</title>
<style>
body{font-family:sans-serif;margin:1.5em;color:#222}
.model{font-weight:bold;font-size:14px}.host,.value{font-size:12px}
.bar rect{fill:#4a7ebb}.bar.flagged rect{fill:#d9534f}.median{stroke:#222;stroke-dasharray:4 3}
table{border-collapse:collapse;margin-top:1em}td,th{border:1px solid #ccc;padding:2px 8px;font-size:13px}
</style></head><body>
<h1>DirUrarovavu farm: %d nodes</h1>
<p>Score in PS per node, grouped by processor model; the dashed line is the model's median, red bars are
more than %g%% below it%s. Reference node: %s.</p>
%s
<table><tr>%s</tr>%s</table>
</body></html>
""" % (len(table["rows"]), table["threshold_percent"],
       "; %d node(s) failed and have no bar" % len(failed) if failed else "",
       esc(table["reference"] or "-"), svg,
       "".join("<th>%s</th>" % c for c in COLUMNS), rows_html)


def command_collect(args):
    records = load_records(args.folder)
    table = farm_table(records, args.reference, args.threshold)
    if args.html:
        with open(args.html, "w", encoding="utf-8") as stream:
            stream.write(render_html(table))
    if args.json:
        json.dump(table, sys.stdout, indent=2)
        sys.stdout.write("\n")
    elif args.csv:
        sys.stdout.write(render_csv(table))
    else:
        sys.stdout.write(render_text(table))
    return EXIT_OK


# ---------------------------------------------------------------------------

class Parser(argparse.ArgumentParser):
    def error(self, message):  # usage errors are bad input: exit 2, as argparse does
        self.print_usage(sys.stderr)
        self.exit(EXIT_FAILED, "%s: error: %s\n" % (self.prog, message))


def score_value(text):
    value = to_number(text)
    if value is None:
        raise argparse.ArgumentTypeError("not a number: %r" % text)
    return value


def test_name(text):
    for name in TEST_NAMES:
        if name.lower() == text.lower():
            return name
    raise argparse.ArgumentTypeError("unknown test %r (one of %s)" % (text, ", ".join(TEST_NAMES)))


def build_parser():
    parser = Parser(prog="dirurarovavu-farm", description="Runs DirUrarovavu on farm nodes and compares them.")
    parser.add_argument("--version", action="version", version="%(prog)s " + version())
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=Parser)
    commands.required = True

    run = commands.add_parser("run", help="run the benchmark and write this host's record")
    run.add_argument("--test", type=test_name, help="test name passed to the benchmark (its default: All)")
    run.add_argument("--min-score", type=score_value, help="exit with 1 when PS_Result is below this")
    run.add_argument("--tiers", help="tier names with their lowest scores, e.g. A:400,B:200")
    run.add_argument("--out", default=".", help="folder for <host>.json (default: the current folder)")
    run.add_argument("--host", help="host name in the record (default: this machine's name)")
    run.add_argument("--program", help="the benchmark to run (default: the installed DirUrarovavu)")
    run.set_defaults(handler=command_run)

    parse = commands.add_parser("parse", help="build the record from a saved output")
    parse.add_argument("file")
    parse.add_argument("--test", type=test_name, help="the test that was run (default: read from the output)")
    parse.add_argument("--host", help="host name in the record (default: the file name without extension)")
    parse.add_argument("--min-score", type=score_value)
    parse.add_argument("--tiers")
    parse.add_argument("--out", help="write <host>.json there instead of printing the record")
    parse.set_defaults(handler=command_parse)

    collect = commands.add_parser("collect", help="merge the records of a folder into one farm table")
    collect.add_argument("folder")
    formats = collect.add_mutually_exclusive_group()
    formats.add_argument("--csv", action="store_true", help="CSV instead of the text table")
    formats.add_argument("--json", action="store_true", help="JSON instead of the text table")
    collect.add_argument("--html", metavar="FILE", help="also write a page with a chart of the scores")
    collect.add_argument("--reference", metavar="HOST", help="node whose score is 100%% (default: the fastest)")
    collect.add_argument("--threshold", type=score_value, default=10.0, metavar="PERCENT",
                         help="flag nodes more than this far below their model's median (default 10)")
    collect.set_defaults(handler=command_collect)
    return parser


def main(argv=None):
    args = build_parser().parse_args(argv)
    try:
        return args.handler(args)
    except FarmError as error:
        print("dirurarovavu-farm: %s" % error, file=sys.stderr)
    except OSError as error:
        print("dirurarovavu-farm: %s%s" % (error.strerror or error, ": " + error.filename if error.filename else ""),
              file=sys.stderr)
    except KeyboardInterrupt:
        print("dirurarovavu-farm: interrupted", file=sys.stderr)
    return EXIT_FAILED


if __name__ == "__main__":
    sys.exit(main())
