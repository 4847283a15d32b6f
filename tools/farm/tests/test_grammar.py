"""Reading the benchmark's output: saved real outputs, the golden machine reports, edited, cut and foreign input."""

import glob
import json
import os
import re

from common import DATA, GOLDEN, Case, cli, golden, grammar, load, read, record


def field(rec, path):
    for key in path.split("."):  # through a list: the key of each item
        rec = [item[key] for item in rec] if isinstance(rec, list) else rec[key]
    return rec


class SavedOutputs(Case):
    def test_every_saved_output(self):
        expected = load("outputs.json")
        common = expected.pop("*")
        names = {os.path.basename(p) for p in glob.glob(os.path.join(DATA, "*.out"))} - {"usage.out"}
        for name in sorted(names | set(expected)):
            with self.subTest(name):
                text = read(name.split()[0])
                rec = record.new_record("n", grammar.parse_output(text.replace("\n", "\r\n") if " crlf" in name
                                                                  else text), 0, None, "1")
                if name not in expected:  # another machine's output: readable, its system named
                    self.assertEqual("WIN" if "windows" in name else "LINUX", rec["os_family"])
                    continue
                want = dict(common, **expected[name])
                self.assertEqual(want, {key: field(rec, key) for key in want})

    def test_golden_machine_reports(self):
        # Every value read back must print as the report's own line did.
        names = sorted(glob.glob(os.path.join(GOLDEN, "*.txt")))
        self.assertGreaterEqual(len(names), 16)
        for name in names:
            with self.subTest(os.path.basename(name)):
                text = read(name)  # a path of its own
                lines = text.split("\n")
                machine, errors = grammar.parse_report(lines)
                unknown = {6: "(?:-1    |0     )", 10: "(?:-1        |0         )", 0: "(?:-1|0)"}

                def cell(v, width=0):  # unknown clocks print as -1, or 0
                    text = {True: "true", False: "-"}[v] if isinstance(v, bool) else str(v)
                    return unknown[width] if v is None else re.escape(text.ljust(width))

                def shows(pattern):
                    self.assertTrue(any(re.fullmatch(pattern, l) for l in lines), pattern)
                for label, key, _ in grammar.REPORT_FIELDS:
                    shows(re.escape(label) + ({True: "Enabled", False: "Disabled"}[machine[key]]
                                              if isinstance(machine[key], bool) else cell(machine[key])))
                processors = machine["processors"]
                self.assertEqual(list(range(machine["core_count"])), [p["index"] for p in processors])
                for start in range(0, len(processors), 10):
                    for label, key, width in grammar.TABLE_ROWS:
                        shows(re.escape(label) + "".join(cell(p[key], width) for p in processors[start:start + 10]))
                self.assertEqual((grammar.NOTE in lines, [l for l in text.split("ERRORS:\n")[1].split(
                    "-" * 30)[0].split("\n") if l]), (machine["complete"], errors))

    def test_report_variants(self):
        example, cases = read("example-report.txt"), load("report-variants.json")
        processor, fields = cases.pop("*")
        for name, (old, new, changes) in cases.items():
            with self.subTest(name):
                lines = example.split("\n")
                lines = [l.rstrip() for l in lines] if not old else [l for l in lines if not l.startswith(old)] \
                    if new is None else example.replace(old, new).split("\n")
                machine, errors = grammar.parse_report(lines)
                self.assertEqual(([dict(processor, index=i, **c) for i, c in enumerate(changes or [])], fields),
                                 (machine["processors"], [machine[key] for _, key, _ in grammar.REPORT_FIELDS] +
                                  [machine["complete"], errors]))

    def test_saved_on_windows(self):
        plain = json.loads(cli("parse", os.path.join(DATA, "windows-singlespeed.out"))[1])
        for name, (encoding, mark, options, start, how) in load("windows-saves.json").items():
            with self.subTest(name):
                self.write("w.out", ("\ufeff" * mark + golden("windows-singlespeed.out").decode()).encode(encoding))
                os.utime(self.path("w.out"), (1796594201, 1796594201))
                code, out, err = cli("parse", self.path("w.out"), "--host", "windows-singlespeed", *options)
                rec = json.loads(out)
                self.assertEqual((0, start, how), (code, rec.pop("start_time"), rec.pop("start_time_source")), err)
                self.assertEqual({k: v for k, v in plain.items() if k not in ("start_time", "start_time_source")}, rec)

    def test_edited_outputs(self):
        for name, (source, pattern, new, want) in load("edited-outputs.json").items():
            with self.subTest(name):
                self.write("n.out", re.sub(pattern.encode("latin-1"), new.encode("latin-1"), golden(source), count=1,
                                           flags=re.S))
                code, out, err = cli("parse", self.path("n.out"))
                if isinstance(want, str):  # refused
                    self.assertFailsCleanly((code, out, err), want)
                else:
                    self.assertEqual((0, want), (code, {key: field(json.loads(out), key) for key in want}), err)
