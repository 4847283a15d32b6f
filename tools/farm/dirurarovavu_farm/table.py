"""The farm table: every node's score against the reference and against the nodes
with the same processor running the same test, and its text form."""

import datetime
import re
import statistics
import textwrap

from . import node_flags
from .grammar import FarmError
from .record import is_number

TABLE_SCHEMA = "dirurarovavu-farm/table"
TABLE_VERSION = 1
WIDTH = 100
FAIL_ON = ("failed", "below", "slow", "stale", "throttled", "quota")
CONTROL = re.compile("[\x00-\x1f\x7f-\x9f]")


def printable(text):
    """Text with control characters as \\xNN: a host name must not move a terminal's cursor."""
    return CONTROL.sub(lambda m: "\\x%02x" % ord(m.group()), text)


def model_of(record):
    machine = record.get("machine") if isinstance(record.get("machine"), dict) else {}
    names = [machine.get(key) for key in ("name", "description")]
    return next((name for name in names if isinstance(name, str) and name), "unknown processor")


def farm_table(records, reference=None, threshold=10.0, max_age=None, now=None):
    """Rows: fresh nodes by score, then stale ones, then failed ones. A node is SLOW when
    its gap below the median of its processor, test and operating system exceeds both the
    threshold and its own spread."""
    now = now or datetime.datetime.now(datetime.timezone.utc)

    def is_stale(r):
        return max_age is not None and (r["started"] is None or (now - r["started"]).total_seconds() > max_age)

    by_score = lambda r: (-r["score"], r["host"])
    ok = [r for r in records if r["status"] == "ok"]
    fresh = sorted((r for r in ok if not is_stale(r)), key=by_score)
    stale = sorted((r for r in ok if is_stale(r)), key=by_score)
    failed = sorted((r for r in records if r["status"] != "ok"), key=lambda r: r["host"])
    if reference is None:
        reference = fresh[0]["host"] if fresh else None
    elif reference not in [r["host"] for r in fresh]:
        raise FarmError("--reference %s: no fresh successful record of that host" % reference)
    ref_score = next((r["score"] for r in fresh if r["host"] == reference), None)
    groups = {}
    for r in fresh:  # nodes compare only with the same processor running the same test on the same system
        groups.setdefault((model_of(r), r.get("test"), r.get("os_family")), []).append(r["score"])
    medians = {key: statistics.median(scores) for key, scores in groups.items()}
    rows = []
    for rank, r in enumerate(fresh + stale + failed, 1):
        row = {"rank": rank, "host": r["host"], "status": r["status"],
               "score": r["score"] if r["status"] == "ok" else None,
               "scores": r.get("scores") or [], "spread_percent": r.get("spread_percent"),
               "relative_percent": None, "tier": r.get("tier"), "test": r.get("test"),
               "processor": model_of(r), "os": r.get("os_family"), "threads": r.get("number_of_threads"),
               "start_time": r.get("start_time"),
               "stale": is_stale(r), "model_median": None, "below_median_percent": None,
               "slow": False, "below_min_score": r.get("passed") is False, "failure": r.get("failure")}
        row.update(node_row(r))
        median = medians.get((row["processor"], row["test"], row["os"]))
        if row["status"] == "ok" and median is not None:
            row["model_median"] = median
            if ref_score:
                row["relative_percent"] = round(100.0 * row["score"] / ref_score, 1)
            if median > 0:
                below = round(100.0 * (median - row["score"]) / median, 1)
                row["below_median_percent"] = below
                row["slow"] = not row["stale"] and below > threshold and below > (row["spread_percent"] or 0.0)
        row["flagged"] = row["status"] != "ok" or row["slow"] or row["throttled"] or row["quota"]
        rows.append(row)
    return {"schema": TABLE_SCHEMA, "schema_version": TABLE_VERSION, "reference": reference,
            "threshold_percent": threshold, "max_age_s": max_age,
            "made": now.astimezone().isoformat(timespec="seconds"), "rows": rows}


def mixed_systems(rows):
    """Whether the scored nodes run more than one operating system: only then does it tell them apart."""
    return len({r["os"] for r in rows if r["status"] == "ok"}) > 1


def node_row(record):
    """What the node did to the run, as the row shows it."""
    node = record.get("node") or {}
    fact = lambda key: node.get(key) if is_number(node.get(key)) else None  # strict JSON out, whatever came in
    return {"throttled": node_flags.throttled(record), "quota": node_flags.quota_limited(record),
            "throttle_events": fact("throttle_events"), "clock_drop_percent": fact("clock_drop_percent"),
            "cpu_quota": fact("cpu_quota"), "threads_created": record.get("threads_created")}


def counts(row):
    """The words of --fail-on that this row answers to."""
    return {"failed": row["status"] != "ok", "below": row["below_min_score"], "slow": row["slow"],
            "stale": row["stale"], "throttled": row["throttled"], "quota": row["quota"]}


def flags(row):
    words = []
    if row["status"] != "ok":
        words.append("FAILED")
    if row["stale"]:
        words.append("STALE")
    if row["slow"]:
        words.append("SLOW -%.1f%%" % row["below_median_percent"])
    if row["below_min_score"]:
        words.append("BELOW")
    if row["throttled"]:
        words.append("THROTTLED")
    if row["quota"]:
        words.append("QUOTA")
    return words


def number(value, digits):
    return "" if value is None else "%.*f" % (digits, value)


def short_time(text):
    """"2026-12-06T21:56:41+00:00" as "12-06 21:56": enough to tell runs apart."""
    return text[5:16].replace("T", " ") if isinstance(text, str) and len(text) >= 16 else ""


COLUMNS = [  # title, cell, right-aligned, widest
    ("#", lambda r: str(r["rank"]), True, 5),
    ("HOST", lambda r: r["host"], False, 22),
    ("PS", lambda r: number(r["score"], 3), True, 10),
    ("REL", lambda r: "" if r["relative_percent"] is None else "%.1f%%" % r["relative_percent"], True, 7),
    ("SPREAD", lambda r: "" if r["spread_percent"] is None else "%.1f%%" % r["spread_percent"], True, 7),
    ("TIER", lambda r: r["tier"] or "", False, 6),
    ("TEST", lambda r: r["test"] or "", False, 11),
    ("STARTED", lambda r: short_time(r["start_time"]), False, 11),
    ("PROCESSOR", lambda r: r["processor"], False, 18),
    ("OS", lambda r: r["os"] or "", False, 5),
    ("FLAGS", lambda r: " ".join(flags(r)), False, 40),
]
# Narrowed in this order, down to these widths, when the flags would not fit otherwise.
NARROWED = [("PROCESSOR", 9), ("HOST", 16), ("TEST", 6), ("TIER", 4), ("HOST", 8)]


def packed(words, width):
    """Words on lines of at most width, none split (one wider than that gets a line of its own)."""
    lines = []
    for word in words:
        if lines and len(lines[-1]) + 1 + len(word) <= width:
            lines[-1] += " " + word
        else:
            lines.append(word)
    return lines or [""]


def cut(text, width):
    """A cell in pieces of at most width characters."""
    return [text[k:k + width] for k in range(0, len(text), width)] or [""]


def laid_out(pieces, widths, right):
    """The text lines of one row whose cells are already cut to their columns' widths."""
    lines = []
    for k in range(max(len(p) for p in pieces)):
        text = " ".join((p[k] if k < len(p) else "").rjust(w) if r else (p[k] if k < len(p) else "").ljust(w)
                        for p, w, r in zip(pieces, widths, right))
        lines.append(text.rstrip())
    return lines


def render_text(table):
    """At most WIDTH columns: cells wider than their column continue on the next lines; flags are
    never split, so that grep finds them."""
    rows, titles = table["rows"], [title for title, _, _, _ in COLUMNS]
    cells = [[printable(cell(r)) for _, cell, _, _ in COLUMNS] for r in rows]
    mixed = mixed_systems(rows)
    shown = [i for i, title in enumerate(titles) if (title not in ("SPREAD", "TIER") or any(c[i] for c in cells))
             and (title != "OS" or mixed)]
    natural = {i: max([len(titles[i])] + [len(c[i]) for c in cells]) for i in shown}
    widths = {i: min(COLUMNS[i][3], natural[i]) for i in shown}
    host, last = 1, shown[-1]
    words = [["FLAGS"]] + [flags(r) for r in rows]
    need = max(len(w) for line in words for w in line)
    # Host names take what the other columns leave, then the flags what is left.
    spare = WIDTH - sum(widths[i] + 1 for i in shown if i not in (host, last)) - max(min(natural[last], 16), need) - 1
    widths[host] = max(widths[host], min(natural[host], spare))
    for title, least in NARROWED:
        i = titles.index(title)
        over = sum(widths[k] + 1 for k in shown[:-1]) + need - WIDTH
        if over > 0 and i in shown:
            widths[i] -= min(over, max(0, widths[i] - least))
    widths[last] = max(need, WIDTH - sum(widths[i] + 1 for i in shown[:-1]))
    lines = []
    for row, flag_words in zip([titles] + cells, words):
        pieces = [packed(flag_words, widths[i]) if i == last else cut(row[i], widths[i]) for i in shown]
        lines += laid_out(pieces, [widths[i] for i in shown], [COLUMNS[i][2] for i in shown])
    notes = ["%s: %s" % (r["host"], r["failure"] or "no score") for r in rows if r["status"] != "ok"]
    notes.append("reference: %s. SLOW: more than %g%% below the median of the same processor%s and test, and more "
                 "than the node's own spread." % (table["reference"] or "-", table["threshold_percent"],
                                                  ", operating system" if mixed else ""))
    if any(r["throttled"] for r in rows):
        notes.append("THROTTLED: the processors' thermal throttle counters rose during the run, or their clock "
                     "fell %g%% or more below where it started; the score is the hot node's, not the model's."
                     % node_flags.CLOCK_DROP_PERCENT)
    if any(r["quota"] for r in rows):
        notes.append("QUOTA: the node's cgroup lets the benchmark use fewer CPUs than the threads it created; "
                     "the score is the quota's, not the machine's.")
    if table["max_age_s"] is not None:
        notes.append("STALE: started more than %s ago, or at an unknown time; not compared."
                     % age_text(table["max_age_s"]))
    for note in notes:
        lines.extend(textwrap.wrap(printable(note), WIDTH, subsequent_indent="  ", break_on_hyphens=False))
    return "\n".join(lines) + "\n"


def parse_age(text):
    """"90", "90s", "30m", "12h", "2d" as seconds."""
    units = {"s": 1, "m": 60, "h": 3600, "d": 86400}
    number_part, unit = (text[:-1], units[text[-1]]) if text and text[-1] in units else (text, 1)
    try:
        value = float(number_part)
    except ValueError:
        value = -1.0
    if not value >= 0 or value == float("inf"):
        raise ValueError("not an age: %r (seconds, or a number with s, m, h or d)" % text)
    return value * unit


def age_text(seconds):
    for unit, size in (("d", 86400), ("h", 3600), ("m", 60)):
        if seconds >= size and seconds % size == 0:
            return "%d%s" % (seconds // size, unit)
    return "%gs" % seconds
