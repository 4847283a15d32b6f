"""run through stand-ins that print saved outputs, and through the built benchmark."""

import json
import os
import signal
import stat
import subprocess
import unittest

from common import DATA, Case, cli, grammar

BENCHMARK = os.environ.get("FARM_BENCHMARK")


class Run(Case):
    def run_farm(self, outputs, exit_code, *options):
        """Runs a stand-in printing the saved outputs one per call; returns the result and the record."""
        fake = self.path("fake-benchmark")
        with open(fake, "w") as stream:
            stream.write('#!/bin/sh\nn=$(cat "%s/count" 2>/dev/null || echo 0); echo $((n + 1)) >"%s/count"\n'
                         'set -- %s\nshift $((n %% $#)); cat "%s/$1"\nexit %d\n'
                         % (self.folder.name, self.folder.name, " ".join(outputs), DATA, exit_code))
        os.chmod(fake, stat.S_IRWXU)
        result = cli("run", "--program", fake, "--out", self.path("records"), "--host", "node-7", *options)
        with open(self.path("records", "node-7.json")) as stream:
            return result, json.load(stream)

    def test_exit_codes_and_records(self):
        cases = [  # saved outputs, the benchmark's exit code, options, farm's exit code, record fields
            (["singlespeed.out"], 0, ["--min-score", "16.757", "--tiers", "A:20,B:10"], 0,
             ("ok", True, 16.757, None, "B")),
            (["singlespeed.out"], 0, ["--min-score", "16.758"], 1, ("ok", False, 16.757, None, None)),
            (["singlespeed.out"], 3, ["--test", "singlespeed"], 2, ("failed", None, None, None, None)),
            (["singlespeed.out"], 0, ["--min-score", "1000", "--tiers", "Z:5000"], 1,
             ("ok", False, 16.757, None, None)),
            (["usage.out"], 0, ["--test", "All"], 2, ("failed", None, None, None, None)),
            (["singlespeed.out", "singlespeed-threshold.out", "singlespeed-filler.out"], 0,
             ["--repeat", "3", "--min-score", "23.595"], 0, ("ok", True, 23.595, 18.95, None)),
            (["singlespeed.out", "usage.out"], 0, ["--repeat", "2"], 2, ("failed", None, None, None, None)),
        ]
        for outputs, exit_code, options, expected, fields in cases:
            with self.subTest(outputs=outputs, options=options):
                if os.path.exists(self.path("count")):
                    os.remove(self.path("count"))
                (code, out, err), rec = self.run_farm(outputs, exit_code, *options)
                self.assertEqual((expected, fields), (code, tuple(rec[k] for k in (
                    "status", "passed", "score", "spread_percent", "tier"))), err)
                self.assertEqual(len(outputs), len(out.decode().split("PS_Result")) - 1 + outputs.count("usage.out"))
                self.assertEqual(fields[0] == "failed", bool(rec["failure"]))
        _, rec = self.run_farm(["singlespeed.out"], 3, "--test", "singlespeed")
        self.assertEqual(("SingleSpeed", "DirUrarovavu ended with exit code 3"), (rec["test"], rec["failure"]))

    def test_bad_usage_and_missing_benchmark(self):
        for args, message in [((), "required"), (("run", "--test", "Bogus"), "unknown test"),
                              (("run", "--min-score", "fast"), "not a number"), (("run", "--repeat", "0"), "1 to 1000"),
                              (("run", "--tiers", "A", "--program", "/bin/true"), "NAME:SCORE"),
                              (("collect", ".", "--max-age", "soon"), "not an age"),
                              (("collect", ".", "--fail-on", "slow,late"), "not late"),
                              (("run", "--program", self.path("nothing"), "--out", self.folder.name), "cannot start")]:
            with self.subTest(args):
                self.assertFailsCleanly(cli(*args), message)


@unittest.skipUnless(BENCHMARK, "needs the built benchmark (FARM_BENCHMARK)")
class Benchmark(Case):
    def test_run_passes_the_output_through_and_records_it(self):
        code, out, err = cli("run", "--program", BENCHMARK, "--test", "SingleSpeed", "--out", self.folder.name,
                             "--host", "e2e", "--tiers", "A:0")
        self.assertEqual(0, code, err)
        with open(self.path("e2e.json")) as stream:
            rec = json.load(stream)
        parsed = grammar.parse_output(grammar.decode(out))
        self.assertEqual(("ok", "SingleSpeed", "A", parsed["ps_result"], parsed["workers"]),
                         (rec["status"], rec["test"], rec["tier"], rec["score"], rec["workers"]))
        self.assertNotIn("\r", err)  # no progress line into a pipe

    def test_lines_reach_a_pipe_while_the_test_runs(self):
        child = subprocess.Popen([BENCHMARK, "All"], stdout=subprocess.PIPE)
        try:
            header = [child.stdout.readline() for _ in range(5)]
        finally:
            child.send_signal(signal.SIGKILL)
            rest = child.stdout.read()
            child.wait()
        self.assertEqual(b"OperatingSystem: LINUX\n", header[4])
        self.assertNotIn(b"PS_Result", rest)  # the header came long before the end of the test
