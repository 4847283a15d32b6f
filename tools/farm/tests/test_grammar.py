"""Reading the benchmark's output: saved real outputs, the golden machine reports, cut and foreign input."""

import glob
import json
import os
import re

from common import DATA, GOLDEN, Case, cli, grammar, read, record


def load(name):
    with open(os.path.join(DATA, name)) as stream:
        cases = json.load(stream)
    cases.pop("what")
    return cases


def field(rec, path):
    for key in path.split("."):
        rec = rec[key]
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
                want["workers"] = [{"index": i, "score": s, "time_ms": t, "loops": n}
                                   for i, (s, t, n) in enumerate(want.get("workers", []))] or rec["workers"]
                self.assertEqual(want, {key: field(rec, key) for key in want})

    def test_golden_machine_reports(self):
        # Every value read back must print as the report's own line did.
        names = sorted(glob.glob(os.path.join(GOLDEN, "*.txt")))
        self.assertGreaterEqual(len(names), 16)
        for name in names:
            with self.subTest(os.path.basename(name)):
                with open(name, "rb") as stream:
                    text = grammar.decode(stream.read())
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
        for name, (old, new, changes) in cases.items():
            with self.subTest(name):
                lines = example.split("\n")
                lines = [l.rstrip() for l in lines] if not old else [l for l in lines if not l.startswith(old)] \
                    if new is None else example.replace(old, new).split("\n")
                machine, errors = grammar.parse_report(lines)
                self.assertEqual([dict({"index": i, "ht": True, "mhz_info": 3600, "mhz_min": None, "mhz_max": None,
                                        "mhz_cur": 3600}, **c) for i, c in enumerate(changes or [])],
                                 machine["processors"])
                self.assertEqual(["Example Processor @ 3.60GHz", "Example Processor", 2, 1, True, 3600, None, 4000,
                                  3600, 4940, 4940, 4680, True, []],
                                 [machine[key] for _, key, _ in grammar.REPORT_FIELDS] + [machine["complete"], errors])

    def test_report_cut_at_its_size_limit(self):
        # The log goes on right after the last character that fitted; the value there may be cut too.
        output = read("singlespeed.out")
        start, end = output.index("------------------------------\nERRORS"), output.index("adding thread 0")
        report = output[start:end]
        cases = [  # the report up to the cut, Cur values, summed clock per core
            ("Core MHz Cur:  2596      25", [2596, None], None),
            ("Core MHz Cur:  2596", [None, None], None),
            ("Core MHz Cur:  2596  ", [2596, None], None),
            ("Core MHz Cur:  2596      2596      \n\nCPU MHz summed (calculated per Core, HT adjusted): 72",
             [2596, 2596], None),
            ("CPU MHz summed (calculated per Core, HT adjusted): 7268\n", [2596, 2596], 7268),
            ("CPU Core", [], None),
        ]
        for cut_after, cur, per_core in cases:
            with self.subTest(cut_after):
                cut = report.index(cut_after) + len(cut_after)
                rec = grammar.parse_output(output[:start] + report[:cut] + output[end:])
                self.assertEqual((False, cur, per_core, 1, 16.757),
                                 (rec["machine"]["complete"], [p["mhz_cur"] for p in rec["machine"]["processors"]],
                                  rec["machine"]["mhz_summed_per_core"], len(rec["workers"]), rec["ps_result"]))
        verbose = read("allverbose.out")  # in verbose mode the poll's dots follow the cut
        cut = verbose.index("Core MHz Cur:  2596      25") + len("Core MHz Cur:  2596      25")
        rec = grammar.parse_output(verbose[:cut] + "..." + verbose[verbose.index("\npsTest: all Threads done"):])
        self.assertEqual([2596, None], [p["mhz_cur"] for p in rec["machine"]["processors"]])

    def test_processor_names_keep_their_bytes(self):
        raw = read("singlespeed.out").encode()
        for name, shown in [(b"AMD EPYC \xc2\xae 7B13", "AMD EPYC \u00ae 7B13"), (b"AMD EPYC \xae", "AMD EPYC \\xae")]:
            with self.subTest(shown):
                self.write("n.out", raw.replace(b"CPU:                 AMD EPYC", b"CPU:                 " + name))
                code, out, err = cli("parse", self.path("n.out"))
                self.assertEqual((0, shown), (code, json.loads(out)["machine"]["name"]), err)


class BadOutputs(Case):
    def test_unreadable_outputs_exit_2(self):
        good = read("singlespeed.out")
        cases = [
            ("empty", "", "not an output of DirUrarovavu"),
            ("header only", "\n".join(good.split("\n")[:6]), "no test log"),
            ("cut before the score", good[:good.index("PS_Result")], "truncated"),
            ("a score cut inside its number", good.replace("PS_Result: 16.757", "PS_Result: 16."), "truncated"),
            ("cut after the score", good[:good.index("PS_Result") + 17], "truncated"),
            ("cut in the worker lines", good[:good.index("adding thread") + 20], "truncated"),
            ("another program", "total 8\ndrwxr-xr-x 2 root root 4096 Dec  6 12:21 .ci\n", "not an output"),
            ("the usage text", read("usage.out"), "usage text"),
            ("a worker missing", good.replace("Creating 1 threads", "Creating 2 threads"), "1 workers for 2"),
            ("no finite score", good.replace("PS_Result: 16.757", "PS_Result: nan"), "no finite score"),
            ("binary", "\x7fELF\x02\x01\x01\x00" * 20, "not an output"),
        ]
        for name, text, message in cases:
            with self.subTest(name):
                self.write("node.out", text.encode("latin-1"))
                self.assertFailsCleanly(cli("parse", self.path("node.out")), message)
        self.assertFailsCleanly(cli("parse", self.path("missing.out")), "cannot read")
