"""Records, the farm table and its text and CSV forms, and collect's survival of bad folders."""

import datetime
import json
import os

from common import DATA, Case, cli, farm, golden, load, node, record, row_record

class Collect(Case):
    def setUp(self):
        super().setUp()
        for r in farm("farm"):
            record.write_record(r, self.folder.name)

    def test_text_and_csv_goldens(self):
        code, out, err = cli("collect", self.folder.name)
        self.assertEqual((1, golden("farm-table.txt")), (code, out), err)
        self.assertEqual(golden("farm-table.csv"), cli("collect", self.folder.name, "--csv")[1])

    def test_wide_farm(self):
        for r in farm("wide"):
            record.write_record(r, self.path("wide"))
        code, out, err = cli("collect", self.path("wide"), "--html", self.path("wide.html"))
        self.assertEqual((1, golden("farm-table-wide.txt")), (code, out), err)
        self.assertLessEqual(max(len(line) for line in out.decode().splitlines()), 100)
        page = self.text("wide.html")
        self.assertIn("PS per node: AMD EPYC 7B13 64-Core Processor, Single10Verbose, WIN", page)
        self.assertNotIn("\x1b", page)

    def test_fail_on_and_reference(self):
        for options, *expected in load("command-lines.json")["collect"]:
            code, out, err = cli("collect", self.folder.name, "--json", *options)
            table = json.loads(out)
            rows = {r["host"]: r for r in table["rows"]}
            self.assertEqual(expected, [code, table["reference"], [rows[h]["relative_percent"] for h in "ag"],
                                        [r["host"] for r in table["rows"] if r["slow"]]], options)
        self.assertFailsCleanly(cli("collect", self.folder.name, "--reference", "i"), "no fresh successful record")

    def test_stale_records(self):
        now = datetime.datetime.now(datetime.timezone.utc)
        for host, days in [("a", 40), ("b", 1), ("c", None)]:
            start = None if days is None else (now - datetime.timedelta(days=days)).isoformat(timespec="seconds")
            record.write_record(dict(node(host, {"a": 500.0}.get(host, 95.3)), start_time=start), self.path("s"))
        code, out, _ = cli("collect", self.path("s"), "--json", "--max-age", "30d", "--fail-on", "stale")
        table = json.loads(out)
        self.assertEqual((1, "b", ["a", "c"], 95.3),
                         (code, table["reference"], [r["host"] for r in table["rows"] if r["stale"]],
                          table["rows"][0]["model_median"]))
        self.assertIn("STALE", cli("collect", self.path("s"), "--max-age", "30d")[1].decode())

    def test_bad_files_are_skipped(self):
        bad = load("bad-records.json")
        for name, (content, _) in bad.items():
            self.write(name, row_record(content) if isinstance(content, dict) else
                       content.encode("latin-1") if isinstance(content, str) else content)
        code, out, err = cli("collect", self.folder.name, "--html", self.path("farm.html"))
        self.assertEqual(3, code, err)
        self.assertEqual(golden("farm-table.txt"), out)
        for name, (_, reason) in bad.items():
            self.assertIn("skipped %s: %s" % (self.path(name), reason), err)
        json.loads(cli("collect", self.folder.name, "--json")[1], parse_constant=self.fail)  # strict JSON
        missing = self.path("missing", "farm.html")
        self.assertFailsCleanly(cli("collect", self.folder.name, "--html", missing),
                                "cannot write %s: No such" % missing)
        self.assertEqual([], [n for n in os.listdir(self.folder.name) if n.endswith(".part")])

    def test_host_names_never_collide(self):
        out = self.path("names")
        hosts = [b"render/node 01", b"render_node_01", b"bad\xffname", b"..", b"x" * 300]
        for host in hosts:
            self.assertEqual(0, cli("parse", os.path.join(DATA, "singlespeed.out"), "--host", os.fsdecode(host),
                                    "--out", out)[0])
        self.assertEqual(len(hosts), len(os.listdir(out)))
        record.write_record(dict(node("x", 1.0), host="old\udcffname"), out)  # as an earlier version wrote it
        code, text, err = cli("collect", out, "--html", self.path("names.html"))
        self.assertEqual(0, code, err)
        for shown in ["render/node 01", "render_node_01", "bad\\xffname", "old\\xffname"]:
            self.assertIn(shown, text.decode())
        self.assertIn("bad\\xffname", self.text("names.html"))
