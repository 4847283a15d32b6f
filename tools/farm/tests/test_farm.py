#!/usr/bin/python3
"""Tests of dirurarovavu-farm on outputs saved from real runs and on machine reports of recorded machines.
FARM_PROGRAM: the built program (default: the source next to this folder); FARM_REPORT_TOOL and
FARM_TESTDATA: the report tool and the recordings, to check the report code as it is now too."""

import importlib.machinery
import importlib.util
import json
import os
import stat
import subprocess
import sys
import tempfile
import unittest
from xml.etree import ElementTree

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "data")
PROGRAM = os.environ.get("FARM_PROGRAM") or os.path.join(HERE, "..", "dirurarovavu_farm.py")

_loader = importlib.machinery.SourceFileLoader("dirurarovavu_farm", PROGRAM)
_spec = importlib.util.spec_from_loader("dirurarovavu_farm", _loader)
farm = importlib.util.module_from_spec(_spec)
_loader.exec_module(farm)


def read(name):
    with open(os.path.join(DATA, name), encoding="latin-1") as stream:
        return stream.read()


def cli(*args):
    done = subprocess.run([sys.executable, PROGRAM] + list(args), capture_output=True)
    return done.returncode, done.stdout, done.stderr.decode("utf-8", "replace")


class _Case(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def path(self, name):
        return os.path.join(self.folder.name, name)

    def assertFailsCleanly(self, result, message):
        code, _, err = result
        self.assertEqual(2, code, err)
        self.assertIn(message, err)
        self.assertNotIn("Traceback", err)


# The example report: two processors sharing one core.
EXAMPLE_REPORT = """CPU Description:     Example Processor @ 3.60GHz
CPU:                 Example Processor
CPU Core Count:      2
CPU Core Count (HW): 1
CPU Hyperthreading:  Enabled
CPU MHz in label: 3600
CPU MHz Info:     -1
CPU MHz Max:      4000
CPU MHz Current:  3600
CPU MHz summed (calculated, HT adjusted):  4940
Core HT:       true  true  
Core MHz Info: 3600  3600  
Core MHz Min:  -1    -1    
Core MHz Max:  -1    -1    
Core MHz Cur:  3600      3600      

CPU MHz summed (calculated per Core, HT adjusted): 4940
CPU MHz summed (measured current, HT adjusted):    4680

NOTE: Tessel reads the information provided by the OS or BIOS.
Not all information is available on every OS. And not all GHz information provided by the system is reliable.
"""


class SavedOutputs(unittest.TestCase):
    def test_runs_on_this_machine(self):
        cases = [  # file, test, verbose, scores, times, loops, PS_Result, exit-code line, Time_Exec
            ("singlespeed.out", "SingleSpeed", False, [8.379], [3620], 7, 16.757, None, 5),
            ("singlespeed.out with Windows line ends", "SingleSpeed", False, [8.379], [3620], 7, 16.757, None, 5),
            ("singlespeed-threshold.out", "SingleSpeed", False, [11.797], [2571], 7, 23.595, 23, 4),
            ("singlespeed-filler.out", "SingleSpeed", False, [11.989], [2530], 7, 23.977, None, 3),
            ("allverbose.out", "AllVerbose", True, [8.411, 8.481], [51516, 51088], 100, 16.892, None, 64),
        ]
        for name, test, verbose, scores, times, loops, result, returned, seconds in cases:
            with self.subTest(name):
                text = read(name.split()[0])
                record = farm.parse_output(text.replace("\n", "\r\n") if " " in name else text)
                machine = record["machine"]
                self.assertEqual([test, verbose, len(scores), result, returned, seconds, "debian12", "LINUX", 2, 23,
                                  ["GetSystemFirmwareTable - Error 2: The system cannot find the file specified.."],
                                  "AMD EPYC", 2, 2, False, -1, True],
                                 [record[key] for key in ("test", "verbose", "threads_created", "ps_result",
                                                          "returned_exit_code", "time_exec_s", "operating_system",
                                                          "os_family", "number_of_threads", "ram_gib", "errors")] +
                                 [machine[key] for key in ("name", "core_count", "core_count_hw", "hyperthreading",
                                                           "mhz_label", "complete")])
                self.assertEqual([{"index": i, "score": s, "time_ms": t, "loops": loops}
                                  for i, (s, t) in enumerate(zip(scores, times))], record["workers"])
                self.assertEqual([{"index": i, "ht": False, "mhz_info": 2596, "mhz_min": -1, "mhz_max": -1,
                                   "mhz_cur": 2596} for i in range(2)], machine["processors"])

    def check_recorded(self, text):
        machine, errors = farm.parse_report(text.split("\n"))
        self.assertTrue(machine["complete"] and machine["description"])
        self.assertEqual(list(range(machine["core_count"])), [p["index"] for p in machine["processors"]])
        for p in machine["processors"]:
            self.assertEqual([bool] + [int] * 4, [type(p[k]) for k in ("ht", "mhz_info", "mhz_min", "mhz_max",
                                                                       "mhz_cur")], p)
        self.assertEqual("ERRORS:" in text, bool(errors))
        self.assertNotIn(None, [machine[key] for _, key, _ in farm.REPORT_FIELDS])
        return machine, errors

    def test_reports_of_the_recorded_machines(self):
        names = sorted(os.listdir(os.path.join(DATA, "recorded")))
        self.assertGreaterEqual(len(names), 16)
        parsed = {}
        for name in names:
            with self.subTest(name):
                parsed[name] = self.check_recorded(read(os.path.join("recorded", name)))
        spots = [  # report, processor count, cores, multithreading, processor, its HT and clocks
            ("intel-i7-1370P-raptorlake-hybrid.report", 20, 14, True, 12, False, 1400, 400),
            ("intel-i7-1370P-raptorlake-hybrid.report", 20, 14, True, 11, True, 1900, 400),
            ("amd-epyc-7451-2s-96cpu.report", 64, 48, True, 63, False, 2300, 2894),
            ("intel-xeon-silver4108-2s-32cpu+supermicro-x9dbl-2s.report", 32, 16, True, 31, True, 800, 800),
        ]
        for name, count, cores, ht, index, core_ht, info, cur in spots:
            machine, row = parsed[name][0], parsed[name][0]["processors"][index]
            self.assertEqual((count, cores, ht, core_ht, info, cur),
                             (machine["core_count"], machine["core_count_hw"], machine["hyperthreading"], row["ht"],
                              row["mhz_info"], row["mhz_cur"]), (name, index))
        self.assertEqual([], parsed["intel-xeon-silver4108-2s-32cpu+supermicro-x9dbl-2s.report"][1])

    @unittest.skipUnless(os.environ.get("FARM_REPORT_TOOL") and os.environ.get("FARM_TESTDATA"),
                         "needs the built report tool and the recordings")
    def test_reports_built_now(self):
        machines = os.path.join(os.environ["FARM_TESTDATA"], "linux")
        for name in sorted(os.listdir(machines)):
            if os.path.isdir(os.path.join(machines, name)):
                with self.subTest(name):
                    done = subprocess.run([os.environ["FARM_REPORT_TOOL"], os.path.join(machines, name)],
                                          capture_output=True, check=True)
                    self.check_recorded(done.stdout.decode("latin-1"))


class ReportPieces(unittest.TestCase):
    def test_example_and_its_variants(self):
        expected = [{"index": i, "ht": True, "mhz_info": 3600, "mhz_min": -1, "mhz_max": -1, "mhz_cur": 3600}
                    for i in range(2)]
        # A value longer than its cell runs into the next one: the row cannot be split
        # unless it is the last cell.
        run_on = [dict(p, mhz_info=None) for p in expected]
        long_last = [expected[0], dict(expected[1], mhz_info=1234567)]
        cases = [
            ("as built", EXAMPLE_REPORT, expected),
            ("trailing blanks lost", "\n".join(l.rstrip() for l in EXAMPLE_REPORT.split("\n")), expected),
            ("long value", EXAMPLE_REPORT.replace("Core MHz Info: 3600  ", "Core MHz Info: 1234567"), run_on),
            ("long last value", EXAMPLE_REPORT.replace("Info: 3600  3600  ", "Info: 3600  1234567"), long_last),
            ("value filling its cell", EXAMPLE_REPORT.replace("Cur:  3600      ", "Cur:  1234567890"),
             [dict(expected[0], mhz_cur=1234567890), expected[1]]),
            ("no table", "\n".join(l for l in EXAMPLE_REPORT.split("\n") if not l.startswith("Core ")), []),
        ]
        for name, text, processors in cases:
            with self.subTest(name):
                machine, errors = farm.parse_report(text.split("\n"))
                self.assertEqual(processors, machine["processors"])
                self.assertEqual(["Example Processor @ 3.60GHz", "Example Processor", 2, 1, True, 3600, -1, 4000,
                                  3600, 4940, 4940, 4680, True, []],
                                 [machine[key] for _, key, _ in farm.REPORT_FIELDS] + [machine["complete"], errors])

    def test_errors_block(self):
        text = "-" * 30 + "\nERRORS:\nfirst failure - Error 5: Access is denied.\n\nsecond\n" + "-" * 30 + \
               "\n\n" + EXAMPLE_REPORT
        machine, errors = farm.parse_report(text.split("\n"))
        self.assertEqual(["first failure - Error 5: Access is denied.", "second"], errors)
        self.assertEqual(2, len(machine["processors"]))

    def test_report_cut_at_its_size_limit(self):
        # The log goes on right after the last character that fitted; the value
        # there may be cut as well, so it is dropped.
        output = read("singlespeed.out")
        start = output.index("------------------------------\nERRORS")
        end = output.index("adding thread 0")
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
                record = farm.parse_output(output[:start] + report[:cut] + output[end:])
                machine = record["machine"]
                self.assertFalse(machine["complete"])
                self.assertEqual(cur, [p["mhz_cur"] for p in machine["processors"]])
                self.assertEqual(per_core, machine["mhz_summed_per_core"])
                self.assertEqual((1, 16.757), (len(record["workers"]), record["ps_result"]))

        # In verbose mode the poll's dots follow the cut.
        verbose = read("allverbose.out")
        cut = verbose.index("Core MHz Cur:  2596      25") + len("Core MHz Cur:  2596      25")
        machine = farm.parse_output(verbose[:cut] + "..." + verbose[verbose.index("\npsTest: all Threads done"):])
        self.assertEqual([2596, None], [p["mhz_cur"] for p in machine["machine"]["processors"]])


class BadOutputs(_Case):
    def test_unreadable_outputs_exit_2(self):
        good = read("singlespeed.out")
        cases = [
            ("empty", "", "not an output of DirUrarovavu"),
            ("header only", "\n".join(good.split("\n")[:6]), "no test log"),
            ("cut before the score", good[:good.index("PS_Result")], "truncated"),
            ("cut in the worker lines", good[:good.index("adding thread") + 20], "truncated"),
            ("another program", "total 8\ndrwxr-xr-x 2 root root 4096 Dec  6 12:21 .ci\n", "not an output"),
            ("the usage text", read("usage.out"), "usage text"),
            ("a worker missing", good.replace("Creating 1 threads", "Creating 2 threads"), "1 workers for 2"),
            ("no finite score", good.replace("PS_Result: 16.757", "PS_Result: nan"), "no finite score"),
            ("binary", "\x7fELF\x02\x01\x01\x00" * 20, "not an output"),
        ]
        for name, text, message in cases:
            with self.subTest(name):
                with open(self.path("node.out"), "w", encoding="latin-1") as stream:
                    stream.write(text)
                self.assertFailsCleanly(cli("parse", self.path("node.out")), message)
        self.assertFailsCleanly(cli("parse", self.path("missing.out")), "cannot read")

    def test_usage_errors_exit_2(self):
        for args, message in [((), "required"), (("run", "--test", "Bogus"), "unknown test"),
                              (("run", "--min-score", "fast"), "not a number"),
                              (("run", "--tiers", "A", "--program", "/bin/true"), "NAME:SCORE"),
                              (("collect",), "required")]:
            with self.subTest(args):
                self.assertFailsCleanly(cli(*args), message)


class Run(_Case):
    def run_farm(self, output, exit_code, *extra):
        """Runs a stand-in for the benchmark that prints a saved output; returns the result and the record."""
        fake = self.path("fake-benchmark")
        with open(fake, "w") as stream:
            stream.write("#!/bin/sh\n[ \"$1\" = SingleSpeed ] || exit 99\ncat '%s'\nexit %d\n"
                         % (os.path.join(DATA, output), exit_code))
        os.chmod(fake, stat.S_IRWXU)
        result = cli("run", "--program", fake, "--test", "singlespeed", "--out", self.path("records"),
                     "--host", "node-7", *extra)
        with open(self.path("records/node-7.json")) as stream:
            return result, json.load(stream)

    def test_output_passes_through_and_record_is_written(self):
        (code, out, err), record = self.run_farm("singlespeed.out", 0, "--tiers", "A:20,B:10,C:0")
        self.assertEqual(0, code, err)
        with open(os.path.join(DATA, "singlespeed.out"), "rb") as stream:
            self.assertEqual(stream.read(), out)
        self.assertEqual(("node-7", "SingleSpeed", 0, "ok", 16.757, "B", True),
                         (record["host"], record["test"], record["exit_code"], record["status"], record["ps_result"],
                          record["tier"], record["passed"]))
        self.assertEqual((farm.SCHEMA, farm.SCHEMA_VERSION), (record["schema"], record["schema_version"]))
        self.assertRegex(record["start_time"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d$")
        self.assertIn("16.757 PS, tier B", err)

    def test_exit_codes(self):
        cases = [  # saved output, benchmark's exit code, options, farm's exit code, status, passed
            ("singlespeed.out", 0, ["--min-score", "16.757"], 0, "ok", True),
            ("singlespeed.out", 0, ["--min-score", "16.758"], 1, "ok", False),
            ("singlespeed.out", 3, [], 2, "failed", None),
            ("singlespeed.out", 0, ["--min-score", "1000", "--tiers", "Z:5000"], 1, "ok", False),
            ("usage.out", 0, [], 2, "failed", None),
        ]
        for output, exit_code, options, expected, status, passed in cases:
            with self.subTest(output=output, exit_code=exit_code, options=options):
                (code, _, err), record = self.run_farm(output, exit_code, *options)
                self.assertEqual((expected, status, passed, exit_code),
                                 (code, record["status"], record["passed"], record["exit_code"]), err)
                if status == "failed":
                    self.assertTrue(record["failure"])
                    self.assertEqual(output == "usage.out", record["ps_result"] is None)
        for tiers, tier in [("Z:5000", None), ("A:16.757,B:0", "A"), ("A:16.758,B:0", "B")]:
            _, record = self.run_farm("singlespeed.out", 0, "--tiers", tiers)
            self.assertEqual(tier, record["tier"], tiers)

    def test_missing_benchmark(self):
        self.assertFailsCleanly(cli("run", "--program", self.path("nothing"), "--out", self.folder.name),
                                "cannot start")


def record(host, score, model="Model M", test="SingleSpeed", status="ok"):
    base = farm.parse_output(read("singlespeed.out"))
    base["machine"]["name"] = model
    base["ps_result"] = score
    base["test"] = test
    return farm.new_record(host, base, 0, None, failure=None if status == "ok" else "exit code 3")


class Collect(_Case):
    def setUp(self):
        super().setUp()
        self.farm = [record("a", 100.0), record("b", 95.0), record("c", 80.0), record("d", 50.0, "Model N"),
                     record("e", 20.0, test="All"), record("f", None, status="failed")]
        for r in self.farm:
            farm.write_record(r, self.folder.name)

    def test_order_reference_and_flags(self):
        cases = [  # options, reference, relative scores, below-median percentages, flagged hosts
            ((), "a", [100.0, 95.0, 80.0, 50.0, 20.0, None], [-5.3, 0.0, 15.8, 0.0, 0.0, None], ["c", "f"]),
            (("--threshold", "20"), "a", None, None, ["f"]),
            (("--threshold", "15.8"), "a", None, None, ["f"]),
            (("--reference", "d"), "d", [200.0, 190.0, 160.0, 100.0, 40.0, None], None, ["c", "f"]),
        ]
        for options, reference, relative, below, flagged in cases:
            with self.subTest(options):
                code, out, err = cli("collect", self.folder.name, "--json", *options)
                self.assertEqual(0, code, err)
                table = json.loads(out)
                rows = table["rows"]
                self.assertEqual(["a", "b", "c", "d", "e", "f"], [r["host"] for r in rows])
                self.assertEqual(list(range(1, 7)), [r["rank"] for r in rows])
                self.assertEqual(reference, table["reference"])
                if relative:
                    self.assertEqual(relative, [r["relative_percent"] for r in rows])
                if below:
                    self.assertEqual(below, [r["below_median_percent"] for r in rows])
                self.assertEqual(flagged, [r["host"] for r in rows if r["flagged"]])
        self.assertEqual((farm.TABLE_SCHEMA, 95.0), (table["schema"], table["rows"][0]["model_median"]))

    def test_text_csv_and_html(self):
        code, out, err = cli("collect", self.folder.name, "--html", self.path("farm.html"))
        self.assertEqual(0, code, err)
        lines = out.decode().split("\n")
        self.assertEqual(["RANK", "HOST", "SCORE", "RELATIVE"], lines[0].split()[:4])
        self.assertEqual(["1", "a", "100.000", "100.0%"], lines[1].split()[:4])
        self.assertIn("SLOW: 15.8% below its model's median", lines[3])
        self.assertIn("FAILED: exit code 3", lines[6])
        self.assertTrue(lines[7].startswith("reference: a;"))

        code, out, _ = cli("collect", self.folder.name, "--csv")
        rows = out.decode().strip().split("\n")
        self.assertEqual(7, len(rows))
        self.assertTrue(rows[0].startswith("rank,host,status,score,relative_percent,"))
        self.assertEqual("3,c,ok,80.000,80.0,", rows[3][:len("3,c,ok,80.000,80.0,")])

        with open(self.path("farm.html"), encoding="utf-8") as stream:
            page = stream.read()
        self.assertEqual(5, page.count("<rect"))  # one bar per node with a score
        self.assertEqual(1, page.count('class="bar flagged"'))
        self.assertIn(">Model M</text>", page)
        self.assertIn(">Model N</text>", page)
        self.assertLess(page.index(">Model M</text>"), page.index(">Model N</text>"))
        self.assertNotIn("<script", page)
        ElementTree.fromstring(page[page.index("<svg"):page.index("</svg>") + 6])  # well-formed
        self.assertNotIn("http://", page.replace("http://www.w3.org/2000/svg", ""))

    def test_html_escapes_names(self):
        farm.write_record(record("x<y>&z", 70.0, model="<b>Model</b>"), self.folder.name)
        page = farm.render_html(farm.farm_table(farm.load_records(self.folder.name)))
        self.assertNotIn("<b>Model", page)
        self.assertIn("&lt;b&gt;Model&lt;/b&gt;", page)
        self.assertIn("x&lt;y&gt;&amp;z", page)
        ElementTree.fromstring(page[page.index("<svg"):page.index("</svg>") + 6])

    def test_bad_folders_exit_2(self):
        cases = [
            ("future schema", json.dumps(dict(record("g", 10.0), schema_version=2)), "schema version 2"),
            ("not JSON", "{\"schema\": ", "is not JSON"),
            ("other JSON", "[1, 2]", "not a dirurarovavu-farm/record record"),
            ("no score", json.dumps(dict(record("g", 1.0), ps_result=None)), "no score"),
            ("same host twice", json.dumps(record("a", 1.0)), "more than one record for a"),
        ]
        for name, content, message in cases:
            with self.subTest(name):
                with open(self.path("g.json"), "w") as stream:
                    stream.write(content)
                self.assertFailsCleanly(cli("collect", self.folder.name), message)
                os.remove(self.path("g.json"))
        self.assertFailsCleanly(cli("collect", self.folder.name, "--reference", "f"), "no successful record")
        with tempfile.TemporaryDirectory() as empty:
            self.assertFailsCleanly(cli("collect", empty), "holds no records")
            self.assertFailsCleanly(cli("collect", os.path.join(empty, "none")), "is not a folder")


class Version(unittest.TestCase):
    @unittest.skipUnless(os.environ.get("FARM_PROGRAM"), "needs the built program")
    def test_built_program_knows_its_version(self):
        code, out, _ = cli("--version")
        self.assertEqual(0, code)
        self.assertRegex(out.decode(), r"^dirurarovavu-farm \d+\.\d+\.\d+\n$")


if __name__ == "__main__":
    unittest.main()
