"""The farm table as one self-contained HTML page: per processor model and test a bar
per node (or, for many nodes, the distribution with the odd nodes named)."""

import html
import math

from .table import COLUMNS, flags, mixed_systems, printable

BARS_MAX = 40        # nodes of one model and test drawn one bar each; more get a histogram
BINS = 40
NAMES_MAX = 100      # nodes named per kind under a histogram
TABLE_MAX = 300      # rows in the page's table; beyond, only the flagged ones
LABEL_W, PLOT_W, NAME_CHARS, ROW_H = 280, 560, 38, 18


def esc(text):
    return html.escape(printable(text))


def nice_step(top, ticks=6):
    raw = max(top, 1e-9) / ticks
    power = 10.0 ** math.floor(math.log10(raw))
    return next(m * power for m in (1, 2, 2.5, 5, 10) if m * power >= raw)


def score_text(value, step=None):
    """Whole scores, or one decimal when the step or the value needs it."""
    if step is not None and step >= 1:
        return "%d" % round(value)
    return "%.1f" % value


def axis(lo, hi, y):
    """Ticks and labels of the score axis from lo to hi at height y; returns the SVG pieces."""
    step = nice_step(hi - lo)
    x_of = lambda v: LABEL_W + PLOT_W * (v - lo) / (hi - lo)
    parts = ['<line class="axis" x1="%d" y1="%d" x2="%d" y2="%d"/>' % (LABEL_W, y, LABEL_W + PLOT_W, y)]
    k = math.ceil(lo / step - 1e-9)
    while k * step <= hi + step * 1e-6:
        x = x_of(k * step)
        parts.append('<line class="tick" x1="%.1f" y1="%d" x2="%.1f" y2="%d"/><text class="tick" x="%.1f" y="%d" '
                     'text-anchor="middle">%s</text>' % (x, y, x, y + 4, x, y + 15, score_text(k * step, step)))
        k += 1
    parts.append('<text class="tick" x="%d" y="%d">PS</text>' % (LABEL_W + PLOT_W + 22, y + 15))
    return parts


def wrapped(text, x, y, anchor="end"):
    pieces = [text[i:i + NAME_CHARS] for i in range(0, len(text), NAME_CHARS)] or [""]
    spans = "".join('<tspan x="%d" dy="%d">%s</tspan>' % (x, 0 if i == 0 else 13, esc(p))
                    for i, p in enumerate(pieces))
    return '<text class="host" x="%d" y="%d" text-anchor="%s">%s</text>' % (x, y, anchor, spans), len(pieces)


def bars(rows, top, median):
    parts, y = [], 4
    for r in rows:
        label, lines = wrapped(r["host"], LABEL_W - 8, y + 12)
        height = ROW_H + 13 * (lines - 1)
        kind = "failed" if r["status"] != "ok" else "stale" if r["stale"] else "slow" if r["slow"] else "ok"
        words = " ".join(flags(r))
        title = "%s: %s%s" % (r["host"], "no score" if r["score"] is None else "%.3f PS" % r["score"],
                              ", " + words if words else "")
        parts.append('<g class="%s"><title>%s</title>%s' % (kind, esc(title), label))
        if r["score"] is not None:
            width = max(1.0, PLOT_W * max(r["score"], 0.0) / top)
            parts.append('<rect x="%d" y="%d" width="%.1f" height="%d"/>' % (LABEL_W, y + 2, width, ROW_H - 4))
            if r["spread_percent"]:
                half = PLOT_W * r["score"] * r["spread_percent"] / 100.0 / top
                parts.append('<line class="spread" x1="%.1f" y1="%d" x2="%.1f" y2="%d"/>'
                             % (LABEL_W + width - half, y + ROW_H // 2, LABEL_W + width + half, y + ROW_H // 2))
            else:
                half = 0.0
            parts.append('<text class="value" x="%.1f" y="%d">%s %s</text>'
                         % (LABEL_W + width + half + 6, y + 13, score_text(r["score"]), esc(words)))
        else:
            parts.append('<text class="value failed" x="%d" y="%d">FAILED: %s</text>'
                         % (LABEL_W + 4, y + 13, esc((r["failure"] or "no score")[:80])))
        parts.append("</g>")
        y += height
    if median is not None:
        x = LABEL_W + PLOT_W * median / top
        parts.append('<line class="median" x1="%.1f" y1="2" x2="%.1f" y2="%d"><title>median %.3f PS</title></line>'
                     % (x, x, y, median))
    return parts, y


def histogram(rows, median):
    """The distribution of a big group's fresh scores on an axis of their own; slow nodes marked below."""
    scored = [r["score"] for r in rows if r["score"] is not None and not r["stale"]] or [0.0]
    step = nice_step(max(scored) - min(scored), 4)
    lo, hi = math.floor(min(scored) / step) * step, math.ceil(max(scored) / step) * step
    hi = hi if hi > lo else lo + step
    x_of = lambda v: LABEL_W + PLOT_W * (v - lo) / (hi - lo)
    counts = [0] * BINS
    for score in scored:
        counts[min(BINS - 1, int(BINS * (score - lo) / (hi - lo)))] += 1
    high, parts, height = max(counts + [1]), [], 90
    for i, count in enumerate(counts):
        if count:
            h = max(1.0, (height - 6) * count / high)
            a, b = lo + (hi - lo) * i / BINS, lo + (hi - lo) * (i + 1) / BINS
            parts.append('<rect class="bin" x="%.1f" y="%.1f" width="%.1f" height="%.1f"><title>%s to %s PS: %d '
                         'nodes</title></rect>' % (x_of(a), height - h, PLOT_W / BINS - 1, h, score_text(a),
                                                   score_text(b), count))
    for r in [r for r in rows if r["slow"]][:NAMES_MAX]:
        parts.append('<path class="mark" d="M%.1f %d l-4 7 h8 z"><title>%s</title></path>'
                     % (x_of(r["score"]), height + 1, esc("%s: %.3f PS, slow" % (r["host"], r["score"]))))
    parts.append('<text class="host" x="%d" y="%d" text-anchor="end">%d nodes, up to %d per bin</text>'
                 % (LABEL_W - 8, height - 4, len(scored), high))
    if median is not None:
        parts.append('<line class="median" x1="%.1f" y1="0" x2="%.1f" y2="%d"><title>median %.3f PS</title></line>'
                     % (x_of(median), x_of(median), height, median))
    return parts, height + 8, lo, hi


def named(rows):
    """The nodes of a big group that need a look, by kind."""
    kinds = [("failed", [r for r in rows if r["status"] != "ok"]), ("slow", [r for r in rows if r["slow"]]),
             ("stale", [r for r in rows if r["stale"]]), ("throttled", [r for r in rows if r["throttled"]]),
             ("quota-limited", [r for r in rows if r["quota"]])]
    out = []
    for kind, found in kinds:
        if found:
            names = ", ".join("%s (%s)" % (esc(r["host"]), "no score" if r["score"] is None else score_text(r["score"]))
                              for r in found[:NAMES_MAX])
            more = " and %d more" % (len(found) - NAMES_MAX) if len(found) > NAMES_MAX else ""
            out.append('<p class="%s"><b>%d %s:</b> %s%s</p>' % (kind.split("-")[0], len(found), kind, names, more))
    return "".join(out)


def render_html(table):
    rows = table["rows"]
    groups, mixed = {}, mixed_systems(rows)
    for r in rows:  # the groups whose medians the table compares with
        groups.setdefault((r["processor"], r["test"] or "?", r["os"] if mixed else None), []).append(r)
    top = max([r["score"] for r in rows if r["score"] is not None] + [1e-9])
    top = nice_step(top) * math.ceil(top / nice_step(top))
    order = sorted(groups, key=lambda k: (-max([r["score"] or 0 for r in groups[k]]), k[:2], k[2] or ""))
    sections = []
    for model, test, system in order:
        members = groups[model, test, system]
        if mixed:
            test = "%s, %s" % (test, system or "unknown system")
        median = next((r["model_median"] for r in members if r["model_median"] is not None), None)
        if len(members) <= BARS_MAX:
            (parts, y), lo, hi = bars(members, top, median), 0.0, top
        else:
            parts, y, lo, hi = histogram(members, median)
        parts += axis(lo, hi, y + 4)
        svg = ('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" role="img" aria-label="%s">%s</svg>'
               % (LABEL_W + PLOT_W + 150, y + 26, esc("PS per node: %s, %s" % (model, test)), "".join(parts)))
        sections.append('<section><h2>%s <small>%s &middot; %d nodes &middot; median %s PS</small></h2>%s%s</section>'
                        % (esc(model), esc(test), len(members), "-" if median is None else score_text(median),
                           svg, named(members) if len(members) > BARS_MAX else ""))
    listed = rows if len(rows) <= TABLE_MAX else [r for r in rows if r["flagged"] or r["stale"] or r["below_min_score"]]
    head = "".join("<th>%s</th>" % esc(title) for title, _, _, _ in COLUMNS)
    body = "".join('<tr class="%s">%s</tr>' % ("bad" if r["flagged"] else "", "".join(
        "<td>%s</td>" % esc(cell(r)) for _, cell, _, _ in COLUMNS)) for r in listed)
    kinds = {k: sum(1 for r in rows if test(r)) for k, test in
             (("failed", lambda r: r["status"] != "ok"), ("slow", lambda r: r["slow"]),
              ("stale", lambda r: r["stale"]))}
    return """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>DirUrarovavu farm</title>
<style>
body{font-family:sans-serif;margin:1.5em;color:#222;max-width:75em}h2{font-size:15px;margin:1.2em 0 .3em}
h2 small{font-weight:normal;color:#555}.host,.value,.tick{font-size:12px}.value.failed{fill:#a00}
.ok rect{fill:#4a7ebb}.slow rect{fill:#d9534f}.stale rect{fill:#bbb}.failed .host{fill:#a00}.slow .value{fill:#a00}
.bin{fill:#4a7ebb}.median{stroke:#222;stroke-width:1.5;stroke-dasharray:4 3}.spread{stroke:#222}
.axis,.tick{stroke:#888}text.tick{stroke:none;fill:#444}p.failed,p.slow{color:#a00}p.stale{color:#666}
table{border-collapse:collapse;margin-top:1em}td,th{border:1px solid #ccc;padding:2px 6px;font-size:12px}
tr.bad td{color:#a00}td{white-space:nowrap}td:nth-child(2){white-space:normal;word-break:break-all}
.mark{fill:#d9534f}p.throttled,p.quota{color:#a00}
</style></head><body>
<h1>DirUrarovavu farm: %d nodes</h1>
<p>Made %s. Reference node (100%%): %s. %d failed, %d slow (more than %g%% below the median of their processor
and test, and more than their own spread), %d stale. Per processor model and test: score in PS, the dashed line
is the median; red bars are slow, grey ones stale, failed nodes are named in red. Above %d nodes, the
distribution of the scores on an axis of its own, slow nodes marked red.</p>
%s
<h2>%s</h2>
<table><tr>%s</tr>%s</table>
</body></html>
""" % (len(rows), esc(table["made"]), esc(table["reference"] or "-"), kinds["failed"], kinds["slow"],
       table["threshold_percent"], kinds["stale"], BARS_MAX, "".join(sections),
       "All nodes" if len(listed) == len(rows) else
       "The %d nodes that need a look (of %d; the whole table: collect --csv)" % (len(listed), len(rows)),
       head, body)
