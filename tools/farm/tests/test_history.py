"""history over run folders: ordering, the earlier median and spread, its flags, forms and exit codes."""

import csv
import io
import json
import os

from common import DATA, Case, cli, load, node, record
from test_chart import svgs


class History(Case):
    def setUp(self):
        super().setUp()
        self.cases = load("history-runs.json")
        for k, (run, start) in enumerate(self.cases["runs"]):
            for key, scores in self.cases["hosts"].items():
                host, test = key.split(":")
                score = scores[k]
                if score == "-":
                    continue
                rec = node(host.rstrip("!"), score, test=test.rstrip("~"), start=start,
                           failure=None if score is not None else "DirUrarovavu ended with exit code 3")
                if host.endswith("!") and k == len(self.cases["runs"]) - 1:
                    rec["node"] = {"throttle_events": 5}
                if key.endswith("~") and k == 0:
                    rec = dict(rec, schema_version=1)
                    del rec["node"], rec["node_notes"]
                record.write_record(rec, self.path("farm", run + ("-all" if test == "All" else "")))
        # the latest table a playbook keeps beside the run folders is not a run
        record.write_record(node("slid", 999.0), self.path("farm"))

    def test_table_and_options(self):
        code, out, err = cli("history", self.path("farm"), "--html", self.path("history.html"))
        with open(os.path.join(DATA, "history-table.txt"), "rb") as stream:
            self.assertEqual((1, stream.read()), (code, out), err)
        for options, code, expected in self.cases["options"]:
            done = cli("history", self.path("farm"), "--json", *options)
            rows = json.loads(done[1])["rows"]
            flagged = {r["host"]: " ".join(w for w in ["FAILED"] * (r["status"] != "ok") + ["NEW"] * r["new"] +
                                           ["DEGRADED"] * r["degraded"] + ["THROTTLED"] * r["throttled"])
                       for r in rows}
            self.assertEqual((code, expected), (done[0], {h: f for h, f in flagged.items() if f}), options)
        for options, message in self.cases["refused"]:
            self.assertFailsCleanly(cli("history", self.path("farm"), *options), message)

    def test_csv_json_and_page(self):
        rows = list(csv.reader(io.StringIO(cli("history", self.path("farm"), "--csv")[1].decode())))
        self.assertEqual(self.cases["csv row of slid"], rows[1])
        table = json.loads(cli("history", self.path("farm"), "--json", "--html", self.path("history.html"))[1])
        steady = next(r for r in table["rows"] if r["host"] == "steady" and r["test"] == "SingleSpeed")
        self.assertEqual(self.cases["runs of steady in order"], [p["run"] for p in steady["series"]])
        page = self.text("history.html")
        self.assertEqual(10, len(svgs(page)))
        self.assertEqual(3, page.count('class="degraded"'))

    def test_many_nodes_and_bad_folders(self):
        for run in range(3):
            for i in range(60):
                score = 80.0 if run == 2 and i in (7, 9) else 100.0 + (i % 3)
                record.write_record(node("n%02d" % i, score, start="2026-11-0%dT00:00:00+00:00" % (run + 1)),
                                    self.path("big", "run%d" % run))
        self.write("big/run1/broken.json", b"{")
        code, _, err = cli("history", self.path("big"), "--html", self.path("big.html"))
        self.assertEqual(3, code, err)
        self.assertIn("skipped %s: not JSON" % self.path("big", "run1", "broken.json"), err)
        page = self.text("big.html")
        self.assertEqual(1, len(svgs(page)))
        self.assertIn("<b>2 degraded:</b> n07 (SingleSpeed, -20.8%), n09 (SingleSpeed, -20.0%)", page)
        for run in range(2):  # a flat line of the highest score a run can print, under a name that would steer
            record.write_record(node("esc\x1b[2J", 1e7, start="2026-11-0%dT00:00:00+00:00" % (run + 1)),
                                self.path("tiny", "run%d" % run))
        code, out, err = cli("history", self.path("tiny"), "--html", self.path("tiny.html"))
        self.assertEqual((0, 1), (code, len(svgs(self.text("tiny.html")))), err)
        self.assertTrue(out.startswith(b"HOST") and b"\nesc\\x1b[2J " in out and b"\x1b" not in out, out)
        os.makedirs(self.path("nothing", "run"))
        self.assertFailsCleanly(cli("history", self.path("nothing")), "holds no folders of readable records")

