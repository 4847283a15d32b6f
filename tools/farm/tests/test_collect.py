"""Records, the farm table and its text and CSV forms, and collect's survival of bad folders."""

import datetime
import json
import os

from common import DATA, Case, cli, load, node, record

LONG = "render-node-with-a-very-long-name-rack-17-slot-04.example.org"


def farm():
    """Model M runs SingleSpeed on six nodes: c is slow; d is as far below but its own runs spread
    wider; Model N runs two tests, never compared with each other; i failed (no output, so no system)."""
    return [node("a", 100.0), node("b", 95.3), node("e", 93.1), node(LONG, 96.4), node("c", 80.1),
            node("d", None, scores=[55.0, 75.0, 95.0]), node("f", 50.0, "Model N", "All"),
            node("g", 40.2, "Model N"),
            dict(node("i", None, failure="DirUrarovavu ended with exit code 3"), os_family=None)]


def wide():
    """A farm that strains the 100 columns: long host and processor names, spread and tier columns,
    two flags on one node, control characters in a host name, and a Windows node of the same
    processor, compared only with nodes on its own system."""
    model, test = "AMD EPYC 7B13 64-Core Processor", "Single10Verbose"
    nodes = [node(LONG, None, model, test, scores=[400.0, 404.0, 396.0]),
             node("a-much-longer-name-than-a-rack-label.render.example.org", 395.0, model, test),
             node("esc\x1b[31mred\nx", 390.0, model, test), node("slow-and-below", 300.0, model, test),
             dict(node("win-07", 250.0, model, test), os_family="WIN")]
    for r in nodes:
        r.update(tier="Gold+", min_score=320.0, passed=r["score"] >= 320.0)
    return nodes


class Collect(Case):
    def setUp(self):
        super().setUp()
        for r in farm():
            record.write_record(r, self.folder.name)

    def golden(self, name):
        with open(os.path.join(DATA, name), "rb") as stream:
            return stream.read()

    def test_text_and_csv_goldens(self):
        code, out, err = cli("collect", self.folder.name)
        self.assertEqual((1, self.golden("farm-table.txt")), (code, out), err)
        self.assertEqual(self.golden("farm-table.csv"), cli("collect", self.folder.name, "--csv")[1])

    def test_wide_farm(self):
        for r in wide():
            record.write_record(r, self.path("wide"))
        code, out, err = cli("collect", self.path("wide"), "--html", self.path("wide.html"))
        text = out.decode()
        self.assertEqual((1, self.golden("farm-table-wide.txt")), (code, out), err)
        self.assertLessEqual(max(len(line) for line in text.splitlines()), 100)
        self.assertEqual((2, 1, 0), (text.count("BELOW"), text.count("SLOW -23.6%"), text.count("\x1b")))
        with open(self.path("wide.html"), encoding="utf-8") as stream:
            page = stream.read()
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
        good = node("z", 10.0)
        bad = {  # file: content, reason on standard error
            "future.json": (dict(good, host="y", schema_version=3), "schema version 3"),
            "half.json": (json.dumps(good)[:200].encode(), "not JSON"),
            "stray.json": ([1, 2], "not a dirurarovavu-farm/record record"),
            "noscore.json": (dict(good, host="x", ps_result=None, score=None), "the record has no score"),
            "a-older.json": (dict(node("a", 1.0), start_time="2020-01-01T00:00:00+00:00"), "an older record of host a"),
            "bytes.json": (b'{"schema": "\xff', "not JSON"),
            "huge.json": (dict(good, host="h", score=1.7e308), "score 1.7e+308 is not one the benchmark can print"),
            "negative.json": (dict(good, host="n", score=-5.0), "score -5.0 is not one"),
            "infinite.json": (dict(good, host="f", scores=[10.0, float("inf")]), "score inf is not one"),
        }
        for name, (content, _) in bad.items():
            self.write(name, content)
        code, out, err = cli("collect", self.folder.name, "--html", self.path("farm.html"))
        self.assertEqual(3, code, err)
        self.assertEqual(self.golden("farm-table.txt"), out)
        for name, (_, reason) in bad.items():
            self.assertIn("skipped %s: %s" % (self.path(name), reason), err)
        json.loads(cli("collect", self.folder.name, "--json")[1], parse_constant=self.fail)  # strict JSON
        missing = self.path("missing", "farm.html")
        self.assertFailsCleanly(cli("collect", self.folder.name, "--html", missing),
                                "cannot write %s: No such" % missing)
        os.mkdir(self.path("empty"))
        self.assertFailsCleanly(cli("collect", self.path("empty")), "holds no readable records")
        self.assertFailsCleanly(cli("collect", self.path("none")), "is not a folder")
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
        with open(self.path("names.html"), encoding="utf-8") as stream:
            self.assertIn("bad\\xffname", stream.read())
