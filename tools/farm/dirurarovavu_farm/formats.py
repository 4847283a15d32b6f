"""The farm table as CSV and JSON for other programs."""

import csv
import io
import json

from .table import flags

CSV_COLUMNS = ["rank", "host", "status", "score", "relative_percent", "spread_percent", "tier", "test", "threads",
               "processor", "start_time", "stale", "model_median", "below_median_percent", "flagged", "flags",
               "failure", "os", "throttle_events", "clock_drop_percent", "cpu_quota"]


def render_csv(table):
    stream = io.StringIO()
    writer = csv.writer(stream, lineterminator="\n")
    writer.writerow(CSV_COLUMNS)
    for r in table["rows"]:
        values = dict(r, flags=" ".join(flags(r)), stale="yes" if r["stale"] else "no",
                      flagged="yes" if r["flagged"] else "no",
                      score="" if r["score"] is None else "%.3f" % r["score"],
                      model_median="" if r["model_median"] is None else "%.3f" % r["model_median"])
        writer.writerow(["" if values[c] is None else values[c] for c in CSV_COLUMNS])
    return stream.getvalue()


def render_json(table):
    return json.dumps(table, indent=2) + "\n"
