"""Did a node get slower: each host's runs of a test across the farm runs kept in a folder
(one folder per run), its latest score against the median of its earlier ones."""

import csv
import datetime
import html
import io
import json
import math
import os
import textwrap

from . import node_flags
from .chart import nice_step
from .grammar import FarmError
from .record import load_folder, spread
from .table import WIDTH, cut, laid_out, model_of, number, packed, printable, short_time

HISTORY_SCHEMA = "dirurarovavu-farm/history"
HISTORY_VERSION = 1
FAIL_ON = ("degraded", "failed")
RUN_FOLDER_TIME = "%Y%m%dT%H%M%SZ"  # the playbook's farm_results/<UTC time>/
LINES_MAX = 40     # nodes drawn one line each; more get a histogram of the changes
NAMES_MAX, TABLE_MAX, BINS = 100, 300, 40
esc = lambda text: html.escape(printable(text))  # XML allows no control characters either


def folder_time(name):
    try:
        return datetime.datetime.strptime(name, RUN_FOLDER_TIME).replace(tzinfo=datetime.timezone.utc)
    except ValueError:
        return None


def load_runs(folder):
    """The records of every run folder in folder, each knowing its run; the files skipped."""
    if not os.path.isdir(folder):
        raise FarmError("%s is not a folder" % folder)
    records, skipped = [], []
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if name.startswith(".") or not os.path.isdir(path):
            continue
        try:
            found, missed = load_folder(path)
        except OSError as error:
            skipped.append((path, "cannot read the folder: %s" % (error.strerror or error)))
            continue
        skipped += missed
        when = folder_time(name)
        for r in found:
            r["run"] = name
            started = r["started"] or when
            r["order"] = (started is None, started.timestamp() if started else 0.0, name)
            records.append(r)
    return records, skipped


def history_table(records, threshold=10.0, runs=10, now=None):
    """A row per host and test. DEGRADED: the latest score is more than threshold percent
    below the median of the up to `runs` scored runs before it, and further below than
    their spread; NEW: no earlier scored run; FAILED: the latest run failed."""
    now = now or datetime.datetime.now(datetime.timezone.utc)
    groups = {}
    for r in records:
        groups.setdefault((r["host"], r.get("test") or ""), []).append(r)
    rows = []
    for (host, test), found in groups.items():
        found.sort(key=lambda r: r["order"])
        latest = found[-1]
        earlier = [r["score"] for r in found[:-1] if r["status"] == "ok"][-runs:]
        median, cv = spread(earlier)
        failed = latest["status"] != "ok"
        change = None
        if not failed and median:
            change = round(100.0 * (latest["score"] - median) / median, 1)
        row = {"host": host, "test": test or None, "processor": model_of(latest), "runs": len(found),
               "compared": len(earlier), "earlier_median": median, "earlier_spread_percent": cv,
               "latest_score": None if failed else latest["score"], "change_percent": change,
               "latest_start_time": latest.get("start_time"), "latest_run": latest["run"],
               "status": latest["status"], "failure": latest.get("failure"),
               "new": not earlier and not failed,
               "degraded": change is not None and -change > threshold and -change > (cv or 0.0),
               "throttled": node_flags.throttled(latest), "quota": node_flags.quota_limited(latest),
               "series": [{"run": r["run"], "start_time": r.get("start_time"), "score": r["score"]}
                          for r in found]}
        rows.append(row)
    rows.sort(key=lambda r: (r["change_percent"] is None, r["change_percent"] or 0.0, r["host"], r["test"] or ""))
    return {"schema": HISTORY_SCHEMA, "schema_version": HISTORY_VERSION, "threshold_percent": threshold,
            "runs_compared": runs, "run_folders": sorted({r["run"] for r in records}),
            "made": now.astimezone().isoformat(timespec="seconds"), "rows": rows}


def counts(row):
    return {"degraded": row["degraded"], "failed": row["status"] != "ok"}


def flags(row):
    words = ["FAILED"] if row["status"] != "ok" else []
    words += ["NEW"] if row["new"] else []
    words += ["DEGRADED"] if row["degraded"] else []
    words += ["THROTTLED"] if row["throttled"] else []
    words += ["QUOTA"] if row["quota"] else []
    return words


def change_text(value):
    if value is None:
        return ""
    return ">+999%" if value > 999.9 else "%+.1f%%" % value


COLUMNS = [  # title, cell, right-aligned
    ("HOST", lambda r: printable(r["host"]), False),
    ("TEST", lambda r: printable(r["test"] or ""), False),
    ("RUNS", lambda r: str(r["runs"]), True),
    ("MEDIAN", lambda r: number(r["earlier_median"], 3), True),
    ("LATEST", lambda r: number(r["latest_score"], 3), True),
    ("CHANGE", lambda r: change_text(r["change_percent"]), True),
    ("SPREAD", lambda r: "" if r["earlier_spread_percent"] is None else "%.1f%%" % r["earlier_spread_percent"],
     True),
    ("LATEST RUN", lambda r: short_time(r["latest_start_time"]) or r["latest_run"][:11], False),
    ("FLAGS", lambda r: " ".join(flags(r)), False),
]
HOST, FLAGS = 0, len(COLUMNS) - 1


def pieces(text, width, words):
    """A cell in lines of at most width; flags break between words only, as in the farm table."""
    return packed(text.split(), width) if words else cut(text, width)


def render_text(table):
    """At most WIDTH columns: the host and flag cells take what the others leave, the host
    continuing on the next lines only when it must, flags moving whole to the next line."""
    cells = [[cell(r) for _, cell, _ in COLUMNS] for r in table["rows"]]
    # Test names fit in 15 characters, scores below 1e7 PS in 12; anything longer wraps.
    natural = [max([len(title)] + [min(len(c[i]), 15 if i == 1 else 12) for c in cells])
               for i, (title, _, _) in enumerate(COLUMNS)]
    natural[HOST] = max([4] + [len(c[HOST]) for c in cells])
    natural[FLAGS] = max([5] + [len(c[FLAGS]) for c in cells])
    widths = list(natural)
    spare = WIDTH - sum(w + 1 for i, w in enumerate(widths) if i not in (HOST, FLAGS)) - 1
    if widths[HOST] + widths[FLAGS] > spare:  # the host first, down to the flags' longest word
        word = max([5] + [len(w) for c in cells for w in c[FLAGS].split()])
        widths[HOST] = max(4, min(widths[HOST], spare - word))
        widths[FLAGS] = spare - widths[HOST]
    lines = []
    for row in [[title for title, _, _ in COLUMNS]] + cells:
        lines += laid_out([pieces(row[i], widths[i], i == FLAGS) for i in range(len(COLUMNS))], widths,
                          [right for _, _, right in COLUMNS])
    notes = [printable("%s (%s): %s" % (r["host"], r["test"] or "?", r["failure"] or "no score"))
             for r in table["rows"] if r["status"] != "ok"]
    folders = len(table["run_folders"])
    notes.append("%d run folder%s. MEDIAN and SPREAD: of up to %d scored runs before the latest. DEGRADED: the "
                 "latest more than %g%% below that median and further than the spread. NEW: no earlier scored run."
                 % (folders, "" if folders == 1 else "s", table["runs_compared"], table["threshold_percent"]))
    for note in notes:
        lines.extend(textwrap.wrap(note, WIDTH, subsequent_indent="  ", break_on_hyphens=False))
    return "\n".join(lines) + "\n"


CSV_COLUMNS = ["host", "test", "processor", "runs", "compared", "earlier_median", "earlier_spread_percent",
               "latest_score", "change_percent", "latest_start_time", "latest_run", "status", "flags", "failure"]


def render_csv(table):
    stream = io.StringIO()
    writer = csv.writer(stream, lineterminator="\n")
    writer.writerow(CSV_COLUMNS)
    for r in table["rows"]:
        values = dict(r, flags=" ".join(flags(r)))
        writer.writerow(["" if values[c] is None else values[c] for c in CSV_COLUMNS])
    return stream.getvalue()


def render_json(table):
    return json.dumps(table, indent=2) + "\n"


def sparkline(row, width=200, height=32):
    """The node's scores over its runs; the dashed line is the earlier median."""
    scores = [p["score"] for p in row["series"]]
    known = [s for s in scores if s is not None] or [0.0]
    lo, hi = min(known + [row["earlier_median"] or known[0]]), max(known + [row["earlier_median"] or known[0]])
    hi = hi if hi > lo else lo + max(1.0, abs(lo))  # a flat line, also where 1 is lost in the score's size
    x_of = lambda i: 4 + (width - 8) * (i / max(1, len(scores) - 1))
    y_of = lambda v: height - 4 - (height - 8) * (v - lo) / (hi - lo)
    parts, line = [], []
    for i, (point, score) in enumerate(zip(row["series"], scores)):
        title = "%s: %s" % (point["start_time"] or point["run"], "failed" if score is None else "%.3f PS" % score)
        if score is None:
            parts.append('<path class="fail" d="M%.1f %d l-3 -6 h6 z"><title>%s</title></path>'
                         % (x_of(i), height - 1, esc(title)))
        else:
            line.append("%.1f,%.1f" % (x_of(i), y_of(score)))
            parts.append('<circle cx="%.1f" cy="%.1f" r="2"><title>%s</title></circle>'
                         % (x_of(i), y_of(score), esc(title)))
    if row["earlier_median"] is not None:
        y = y_of(row["earlier_median"])
        parts.insert(0, '<line class="median" x1="0" y1="%.1f" x2="%d" y2="%.1f"/>' % (y, width, y))
    parts.insert(0, '<polyline points="%s"/>' % " ".join(line))
    return ('<svg xmlns="http://www.w3.org/2000/svg" class="%s" width="%d" height="%d" role="img" aria-label="%s">%s'
            '</svg>' % ("degraded" if row["degraded"] else "ok", width, height,
                        esc("scores of %s over %d runs" % (row["host"], len(scores))), "".join(parts)))


def change_histogram(rows):
    """The distribution of the changes, degraded nodes marked below it."""
    changes = [r["change_percent"] for r in rows if r["change_percent"] is not None] or [0.0]
    step = nice_step(max(changes) - min(changes), 4)
    lo, hi = math.floor(min(changes) / step) * step, math.ceil(max(changes) / step) * step
    hi = hi if hi > lo else lo + step
    left, plot, height = 60, 720, 110
    x_of = lambda v: left + plot * (v - lo) / (hi - lo)
    bins = [0] * BINS
    for value in changes:
        bins[min(BINS - 1, int(BINS * (value - lo) / (hi - lo)))] += 1
    high, parts = max(bins + [1]), []
    for i, count in enumerate(bins):
        if count:
            h = max(1.0, (height - 6) * count / high)
            a, b = lo + (hi - lo) * i / BINS, lo + (hi - lo) * (i + 1) / BINS
            parts.append('<rect class="bin" x="%.1f" y="%.1f" width="%.1f" height="%.1f"><title>%+.1f%% to %+.1f%%: '
                         '%d nodes</title></rect>' % (x_of(a), height - h, plot / BINS - 1, h, a, b, count))
    for r in [r for r in rows if r["degraded"]][:NAMES_MAX]:
        parts.append('<path class="mark" d="M%.1f %d l-4 7 h8 z"><title>%s</title></path>'
                     % (x_of(r["change_percent"]), height + 1, esc("%s: %+.1f%%" % (r["host"], r["change_percent"]))))
    k = math.ceil(lo / step - 1e-9)
    while k * step <= hi + step * 1e-6:
        x = x_of(k * step)
        parts.append('<line class="tick" x1="%.1f" y1="%d" x2="%.1f" y2="%d"/><text x="%.1f" y="%d" '
                     'text-anchor="middle">%+g%%</text>' % (x, height + 8, x, height + 12, x, height + 24, k * step))
        k += 1
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" role="img" aria-label="changes of %d '
            'nodes">%s</svg>' % (left + plot + 40, height + 30, len(changes), "".join(parts)))


def render_html(table):
    rows = table["rows"]
    drawn = len(rows) <= LINES_MAX
    listed = rows if len(rows) <= TABLE_MAX else [r for r in rows if r["degraded"] or r["status"] != "ok"]
    degraded = [r for r in rows if r["degraded"]]
    # The line of scores beside the host and test, where a narrow window still shows it.
    head = "".join("<th>%s</th>" % esc(title) for title, _, _ in COLUMNS[:2]) + ("<th>SCORES</th>" if drawn else "") \
        + "".join("<th>%s</th>" % esc(title) for title, _, _ in COLUMNS[2:])
    body = "".join('<tr class="%s">%s%s%s</tr>' % (
        "bad" if r["degraded"] or r["status"] != "ok" else "",
        "".join("<td>%s</td>" % esc(cell(r)) for _, cell, _ in COLUMNS[:2]),
        "<td>%s</td>" % sparkline(r) if drawn else "",
        "".join("<td>%s</td>" % esc(cell(r)) for _, cell, _ in COLUMNS[2:])) for r in listed)
    if drawn:
        overview = ""
    else:
        names = ", ".join("%s (%s, %+.1f%%)" % (esc(r["host"]), esc(r["test"] or "?"), r["change_percent"])
                          for r in degraded[:NAMES_MAX])
        more = " and %d more" % (len(degraded) - NAMES_MAX) if len(degraded) > NAMES_MAX else ""
        overview = "<section><h2>Change of the latest score against the earlier median</h2>%s%s</section>" % (
            change_histogram(rows), '<p class="bad"><b>%d degraded:</b> %s%s</p>' % (len(degraded), names, more)
            if degraded else "<p>No node degraded.</p>")
    return """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>DirUrarovavu farm history</title>
<style>
body{font-family:sans-serif;margin:1.5em;color:#222;max-width:75em}h2{font-size:15px;margin:1.2em 0 .3em}
table{border-collapse:collapse;margin-top:1em}td,th{border:1px solid #ccc;padding:2px 6px;font-size:12px}
tr.bad td{color:#a00}td{white-space:nowrap}polyline{fill:none;stroke:#4a7ebb;stroke-width:1.5}
circle{fill:#4a7ebb}svg.degraded polyline{stroke:#d9534f}svg.degraded circle{fill:#d9534f}.fail{fill:#a00}
.median{stroke:#222;stroke-dasharray:3 3}.bin{fill:#4a7ebb}.mark{fill:#d9534f}.tick{stroke:#888}
text{font-size:12px}p.bad{color:#a00}
</style></head><body>
<h1>DirUrarovavu farm history: %d nodes over %d runs</h1>
<p>Made %s. Each node's latest score against the median of up to %d scored runs before it; DEGRADED when more
than %g%% below it and further than those runs' spread. %d degraded, %d failed in their latest run, %d new.</p>
%s
<h2>%s</h2>
<table><tr>%s</tr>%s</table>
</body></html>
""" % (len(rows), len(table["run_folders"]), esc(table["made"]), table["runs_compared"], table["threshold_percent"],
       len(degraded), sum(1 for r in rows if r["status"] != "ok"), sum(1 for r in rows if r["new"]), overview,
       "All nodes" if len(listed) == len(rows) else
       "The %d nodes that need a look (of %d; the whole table: history --csv)" % (len(listed), len(rows)),
       head, body)
