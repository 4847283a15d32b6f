"""The node's metrics in Prometheus' text format, for node_exporter's textfile collector:
one file shared by the tests run on the node, each run replacing its own test's lines."""

import fcntl
import os
import re

from .record import is_number, start_of, write_atomic
from .table import model_of

# name: (help, per test); written in this order, each family's lines together.
METRICS = {
    "dirurarovavu_score": ("Score in PS of the last run of the test.", True),
    "dirurarovavu_spread_ratio": ("Coefficient of variation of the repeated runs' scores.", True),
    "dirurarovavu_run_success": ("1 when the last run of the test gave a score, 0 when it failed.", True),
    "dirurarovavu_last_run_timestamp_seconds": ("Start of the last successful run of the test.", True),
    "dirurarovavu_throttle_events": ("Thermal throttle events while the test ran.", True),
    "dirurarovavu_cpu_quota_cpus": ("CPUs the benchmark's cgroup may use; absent without a limit.", False),
    "dirurarovavu_info": ("Version of the benchmark suite and the processor's name.", False),
}
SAMPLE = re.compile(r'^([a-zA-Z_:][a-zA-Z0-9_:]*)(?:\{(.*)\})?[ \t]+(\S+)(?:[ \t]+-?\d+)?$')
LABEL = re.compile(r'\s*([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\]|\\.)*)"\s*(?:,|$)')


def escape(value):
    return value.replace("\\", "\\\\").replace("\n", "\\n").replace('"', '\\"')


def unescape(value):
    return re.sub(r"\\(.)", lambda m: "\n" if m.group(1) == "n" else m.group(1), value)


def number(value):
    if isinstance(value, float) and value.is_integer() and abs(value) < 1e15:
        return "%d" % value
    return repr(value)


def parse_labels(text):
    labels, at = {}, 0
    while at < len(text):
        found = LABEL.match(text, at)
        if not found or found.end() == at:
            return None
        labels[found.group(1)] = unescape(found.group(2))
        at = found.end()
    return labels


def read_samples(text):
    """The known metrics' samples of an existing file as (name, labels, value text);
    other lines and lines this program did not write are dropped."""
    samples = []
    for line in text.splitlines():
        found = SAMPLE.match(line.strip())
        if not found or found.group(1) not in METRICS:
            continue
        labels = parse_labels(found.group(2) or "")
        if labels is not None:
            samples.append((found.group(1), labels, found.group(3)))
    return samples


def record_samples(record):
    """This run's samples; a failed run has only its run_success 0."""
    test = {"test": record.get("test") or "All"}
    if record["status"] != "ok":
        return [("dirurarovavu_run_success", test, "0")]
    node = record.get("node") or {}
    started = start_of(record.get("start_time"))
    spread = record.get("spread_percent")
    values = [("dirurarovavu_score", test, record["score"]),
              ("dirurarovavu_spread_ratio", test, None if spread is None else round(spread / 100.0, 6)),
              ("dirurarovavu_run_success", test, 1),
              ("dirurarovavu_last_run_timestamp_seconds", test, None if started is None else int(started.timestamp())),
              ("dirurarovavu_throttle_events", test, node.get("throttle_events")),
              ("dirurarovavu_cpu_quota_cpus", {}, node.get("cpu_quota")),
              ("dirurarovavu_info", {"version": str(record.get("version")), "processor": model_of(record)}, 1)]
    return [(name, labels, number(value)) for name, labels, value in values if is_number(value)]


def render(samples):
    lines = []
    for name, (text, _) in METRICS.items():
        family = sorted((s for s in samples if s[0] == name), key=lambda s: sorted(s[1].items()))
        if family:
            lines += ["# HELP %s %s" % (name, text), "# TYPE %s gauge" % name]
            for _, labels, value in family:
                shown = ",".join('%s="%s"' % (k, escape(v)) for k, v in sorted(labels.items()))
                lines.append("%s%s %s" % (name, "{%s}" % shown if shown else "", value))
    return "\n".join(lines) + "\n"


def write_metrics(path, record):
    """Replaces the run's test's lines in the file, keeping the other tests' ones; the lines
    without a test follow the last successful run. Written whole, one writer at a time."""
    folder = os.path.dirname(os.path.abspath(path))
    lock = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
    try:
        fcntl.flock(lock, fcntl.LOCK_EX)
        try:
            with open(path, "rb") as stream:
                old = read_samples(stream.read(1 << 20).decode("utf-8", "replace"))
        except FileNotFoundError:
            old = []
        new = record_samples(record)
        test = record.get("test") or "All"
        replaced = {s[0] for s in new if not METRICS[s[0]][1]}
        kept = [s for s in old if (s[1].get("test") != test if METRICS[s[0]][1] else s[0] not in replaced)]
        if record["status"] == "ok":  # a limit that is gone now, or an older version's line, goes
            kept = [s for s in kept if METRICS[s[0]][1]]
        write_atomic(path, render(kept + new))
    finally:
        os.close(lock)
