"""What the benchmark prints, and reading it back.

An output is lines ended by "\\n" (Windows: "\\r\\n"), in this order:

  hh:mm.ss                                  the local time of day
  SpecificOperSys: <name>                   the header: operating system,
  NumberOfThreads: <n>                      logical processors,
  RAM installed: <GiB>                      (or an empty line when unknown)
  OperatingSystem: LINUX | WIN
  ...                                       filler blocks, then in verbose mode
                                            the live lines of each run, among them
    CPU PS Test... / Creating <n> threads   the start of a run,
    psTest: Calling cpuInfo                 followed by the machine report,
    psTest: all Threads done
    psTest: PS_Result: <score>              that run's score
  CPU PS Test...                            the test log of the last run:
  Creating <n> threads
  <machine report>                          (non-verbose mode only; cut at 5000
                                            characters, then the next line runs on)
  adding thread <i>: <score>PS (<ms> ms, <loops> loops)    once per worker
  =totalSpeed <total> PS (Average per core: <average> PS)
  PS_Result: <score>                        the score
  Returning exit code <n>                   only with exitCodeThreshold
  (empty)
  Time_Exec: <s> sec
  Core*Time: <ms x processors>
  hh:mm.ss

Scores are printed with exactly three decimals ("%5.3f"), so a score with fewer
is a cut line. The machine report's values below 1 mean "unknown". Unknown lines
are skipped. Bytes are UTF-8 on Linux; others are kept as \\xNN escapes. A saved
output may begin with a byte-order mark (Windows PowerShell's ">" writes UTF-16LE).
"""

import math
import re
import struct

BENCHMARK = "DirUrarovavu"
TEST_NAMES = ["All", "AllVerbose", "Single", "SingleSpeed", "Single5", "Single5Verbose",
              "Single10", "Single10Verbose"]
REPEATS = {"Single5": 5, "Single5Verbose": 5, "Single10": 10, "Single10Verbose": 10}


class FarmError(Exception):
    """A failure to report in one line."""


SCORE = r"(-?\d+\.\d{3}|-?inf|-?nan)"
TIME_OF_DAY = re.compile(r"^\d\d:\d\d\.\d\d$")
HEADER = {"SpecificOperSys: ": ("operating_system", str), "NumberOfThreads: ": ("number_of_threads", int),
          "RAM installed: ": ("ram_gib", int), "OperatingSystem: ": ("os_family", str)}
TEST_START = "CPU PS Test..."
CREATING = re.compile(r"^Creating (\d+) threads$")
ADDING = re.compile(r"adding thread (\d+): *" + SCORE + r"PS \((-?[\d ]+) ms, (-?\d+) loops\)$")
TOTAL = re.compile(r"^=totalSpeed *" + SCORE + r" PS \(Average per core: *" + SCORE + r" PS\)$")
RESULT = re.compile(r"^PS_Result: *" + SCORE + r"$")
LIVE_RESULT = re.compile(r"^psTest: PS_Result: *" + SCORE + r"$")
LIVE_REPORT_START, LIVE_REPORT_END = "psTest: Calling cpuInfo", "psTest: all Threads done"
TRAILER = {"Returning exit code ": "returned_exit_code", "Time_Exec: ": "time_exec_s", "Core*Time: ": "core_time"}
TRAILER_VALUE = re.compile(r"^(-?\d+)(?: sec)?$")
USAGE = "Usage: "

REPORT_FIELDS = [  # label, key, kind
    ("CPU Description:     ", "description", str),
    ("CPU:                 ", "name", str),
    ("CPU Core Count:      ", "core_count", int),
    ("CPU Core Count (HW): ", "core_count_hw", int),
    ("CPU Hyperthreading:  ", "hyperthreading", bool),
    ("CPU MHz in label: ", "mhz_label", "mhz"),
    ("CPU MHz Info:     ", "mhz_info", "mhz"),
    ("CPU MHz Max:      ", "mhz_max", "mhz"),
    ("CPU MHz Current:  ", "mhz_current", "mhz"),
    ("CPU MHz summed (calculated, HT adjusted):  ", "mhz_summed", "mhz"),
    ("CPU MHz summed (calculated per Core, HT adjusted): ", "mhz_summed_per_core", "mhz"),
    ("CPU MHz summed (measured current, HT adjusted):    ", "mhz_summed_measured", "mhz"),
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


BOMS = [(b"\xef\xbb\xbf", "utf-8"), (b"\xff\xfe", "utf-16-le"), (b"\xfe\xff", "utf-16-be")]
SCORE_MAX = 1e7  # above what the benchmark's "%5.3f" scores can reach on any machine
SCORE_RANGE = "0 to 1e7 PS"


def decode(data):
    """An output's bytes as text: UTF-8, or what a byte-order mark names; bytes that do not
    decode are kept readable as \\xNN."""
    for mark, encoding in BOMS:
        if data.startswith(mark):
            return data[len(mark):].decode(encoding, "backslashreplace")
    return data.decode("utf-8", "backslashreplace")


def is_score(value):
    """A node score the benchmark can print: a finite number from 0 to SCORE_MAX."""
    return (isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value)
            and 0 <= value <= SCORE_MAX)


def to_number(text, kind=float):
    """A number as JSON can hold it: None for a missing, infinite or unreadable value."""
    try:
        value = kind(text.replace(" ", ""))
    except ValueError:
        return None
    if kind is float and not math.isfinite(value):
        return None
    return value


def to_mhz(text):
    """A clock in MHz; the report's values below 1 mean unknown."""
    value = to_number(text, int)
    return value if value is not None and value >= 1 else None


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
    Returns (machine or None, errors)."""
    machine = {key: None for _, key, _ in REPORT_FIELDS}
    machine["processors"] = []
    machine["complete"] = False
    errors, block, in_errors, found = [], {}, False, False

    def flush_block():
        if "ht" in block:
            count = (len(block["ht"].rstrip()) + 5) // 6  # "true" or "-" in cells of 6
            start = len(machine["processors"])
            cells = {key: split_cells(block[key], count, width) if key in block else [None] * count
                     for _, key, width in TABLE_ROWS}
            for i in range(count):
                ht = cells["ht"][i]
                row = {"index": start + i, "ht": None if ht not in ("true", "-") else ht == "true"}
                for _, key, _ in TABLE_ROWS[1:]:
                    row[key] = None if cells[key][i] is None else to_mhz(cells[key][i])
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
            in_errors = found = True
            continue
        row = next(((label, key) for label, key, _ in TABLE_ROWS if line.startswith(label)), None)
        if row:
            if row[1] == "ht":
                flush_block()
            block[row[1]] = line[len(row[0]):]
            found = True
            continue
        if block and not line.strip():
            flush_block()
        for label, key, kind in REPORT_FIELDS:
            if line.startswith(label):
                value = line[len(label):]
                if kind is bool:
                    machine[key] = {"Enabled": True, "Disabled": False}.get(value)
                elif kind == "mhz":
                    machine[key] = to_mhz(value)
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
    if not TIME_OF_DAY.match(lines[0]) or len(lines) < 2 or not lines[1].startswith("SpecificOperSys: "):
        raise FarmError("not an output of %s: it does not begin with the time of day and "
                        "the SpecificOperSys line" % BENCHMARK)
    if any(l.startswith(USAGE) for l in lines) and TEST_START not in lines:
        raise FarmError("the benchmark printed its usage text: the test name was not accepted")
    record = {"start_time_of_day": lines[0]}
    record.update({key: None for key, _ in HEADER.values()})
    for line in lines[1:6]:
        for label, (key, kind) in HEADER.items():
            if line.startswith(label):
                record[key] = line[len(label):] if kind is str else to_number(line[len(label):], int)

    # The test log is the last "CPU PS Test..." with its "Creating" line: in verbose
    # mode the same two lines are printed live before it, once per run.
    starts = [i for i in range(len(lines) - 1) if lines[i] == TEST_START and CREATING.match(lines[i + 1])]
    if not starts:
        raise FarmError("no test log in the output (no \"%s\" line): truncated or not an output of %s"
                        % (TEST_START, BENCHMARK))
    log_start = starts[-1]
    threads_created = int(CREATING.match(lines[log_start + 1]).group(1))
    # The last line is complete only when a line feed follows it.
    result_at = next((i for i in range(log_start, len(lines) - 1) if RESULT.match(lines[i])), None)
    if result_at is None:
        raise FarmError("no whole PS_Result line after the test log: the output is truncated")

    workers, total, average, first_worker = [], None, None, None
    for i in range(log_start + 2, result_at):
        found = ADDING.search(lines[i])
        if found:
            first_worker = i if first_worker is None else first_worker
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

    live = lines[:log_start]
    verbose = LIVE_REPORT_START in live
    if verbose:
        # Printed live, once per run; the last one belongs to the printed log.
        begin = max(i for i, l in enumerate(live) if l == LIVE_REPORT_START) + 1
        end = next((i for i in range(begin, log_start) if lines[i] == LIVE_REPORT_END), log_start)
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
    record["machine"], record["errors"] = parse_report(report_lines)

    run_scores = [to_number(m.group(1)) for m in map(LIVE_RESULT.match, live) if m]
    record.update({
        "test": test or infer_test(verbose, threads_created, record["number_of_threads"], workers,
                                   sum(1 for l in live if l == TEST_START)),
        "verbose": verbose, "threads_created": threads_created, "workers": workers,
        "total_speed": total, "average_per_core": average,
        "ps_result": to_number(RESULT.match(lines[result_at]).group(1)),
    })
    if not is_score(record["ps_result"]):
        raise FarmError("the PS_Result line holds no score the benchmark can print (%s)" % SCORE_RANGE)
    record["run_scores"] = run_scores if verbose else [record["ps_result"]]
    record["ps_mean"] = repeated_mean(record["test"], record["run_scores"])
    record.update({key: None for key in TRAILER.values()})
    for line in lines[result_at + 1:]:
        for label, key in TRAILER.items():
            found = TRAILER_VALUE.match(line[len(label):]) if line.startswith(label) else None
            if found:
                record[key] = int(found.group(1))
    return record


def repeated_mean(test, scores):
    """The mean the benchmark's exit code uses for its repeated tests: the scores added
    in single precision in run order, divided by the count. None unless every run shows."""
    count = REPEATS.get(test)
    if not count or len(scores) != count or None in scores:
        return None
    total = 0.0
    for score in scores:
        total = single(total + single(score))
    return shortest(single(total / count))


def single(value):
    return struct.unpack("f", struct.pack("f", value))[0]


def shortest(value):
    """A single-precision value as the shortest decimal that reads back as it."""
    for digits in range(1, 10):
        text = float("%.*g" % (digits, value))
        if single(text) == value:
            return text
    return value


def infer_test(verbose, threads_created, processors, workers, live_starts):
    """The test name from the shape of a saved output; Single5 and Single10 without
    their verbose log look like Single."""
    if workers and workers[0]["loops"] == 7:
        return "SingleSpeed"
    if not (threads_created == 1 and (processors or 1) > 1):
        return "AllVerbose" if verbose else "All"
    if verbose:
        return {5: "Single5Verbose", 10: "Single10Verbose"}.get(live_starts, "Single")
    return "Single"
