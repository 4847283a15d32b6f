"""The HTML page: a chart per processor model and test, readable at 16 nodes and at 5,000."""

import datetime
import random
import unittest
import re
from xml.etree import ElementTree

from common import farm, node, record
from dirurarovavu_farm import chart, table


def page(records, **options):
    return chart.render_html(table.farm_table([record.check_record(r) for r in records], **options))


def svgs(text):
    return [ElementTree.fromstring(s) for s in re.findall(r"<svg.*?</svg>", text, re.S)]


class Page(unittest.TestCase):
    def test_small_farm(self):
        text = page(farm("farm") + [node("x<y>&z", 70.0, model="<b>Model</b>")])
        charts = svgs(text)  # well-formed, one per model and test
        self.assertEqual(["Model M, SingleSpeed", "<b>Model</b>, SingleSpeed", "Model N, All", "Model N, SingleSpeed"],
                         [s.get("aria-label")[len("PS per node: "):] for s in charts])
        ticks = [t.text for t in charts[0].iter("{http://www.w3.org/2000/svg}text") if t.get("class") == "tick"]
        self.assertEqual(["0", "20", "40", "60", "80", "100", "PS"], ticks)
        self.assertEqual(4, text.count('class="median"'))
        self.assertEqual(1, text.count('<g class="slow">'))
        self.assertIn("FAILED: DirUrarovavu ended with exit code 3</text>", text)
        self.assertIn('>render-node-with-a-very-long-name-rack</tspan><tspan x="272" dy="13">-17-slot', text)
        self.assertIn("x&lt;y&gt;&amp;z", text)
        self.assertNotIn("<b>Model", text)

    def test_five_thousand_nodes(self):
        rng, now = random.Random(7), datetime.datetime.now(datetime.timezone.utc).isoformat()
        records = [node("n%04d" % i, round(rng.gauss(200.0, 4.0), 3), model="Model %s" % "ABC"[i % 3], start=now)
                   for i in range(5000)]
        records[10]["score"], records[13]["score"] = 120.0, 110.0
        records[11] = node("n0011", None, "Model C", failure="DirUrarovavu ended with signal 9", start=now)
        records[12]["start_time"] = "2020-01-01T00:00:00+00:00"
        text = page(records, max_age=86400 * 30)
        self.assertLess(len(text), 100000)
        self.assertEqual(3, len(svgs(text)))
        self.assertIn("<b>2 slow:</b> n0010 (120.0), n0013 (110.0)", text)
        self.assertIn("<b>1 failed:</b> n0011 (no score)", text)
        self.assertIn("<b>1 stale:</b> n0012 (", text)
        self.assertNotIn("n0014", text)
