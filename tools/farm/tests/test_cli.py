"""run through stand-ins that print saved outputs, and through the built benchmark."""

import json
import os
import signal
import subprocess
import unittest

from common import DATA, Case, cli, grammar, load, metrics

BENCHMARK = os.environ.get("FARM_BENCHMARK")
RECORD_FIELDS = ("status", "passed", "score", "spread_percent", "tier", "test", "failure")


class Run(Case):
    def test_command_lines(self):
        """run through a stand-in printing the saved outputs, one per call; refused command lines."""
        cases, fake = load("command-lines.json"), self.path("fake-benchmark")
        for outputs, exit_code, options, *expected in cases["run"]:
            with self.subTest(outputs=outputs, options=options):
                self.write("count", b"0")
                self.write("fake-benchmark", ('#!/bin/sh\nn=$(cat "%s/count"); echo $((n + 1)) >"%s/count"\nset -- %s\n'
                                 'shift $((n %% $#)); cat "%s/$1"\nexit %d\n'
                                 % (self.folder.name, self.folder.name, " ".join(outputs), DATA, exit_code)), True)
                code, out, err = cli("run", "--program", fake, "--out", self.path("r"), "--host", "n7", *options)
                rec = json.loads(self.text("r", "n7.json"))
                self.assertEqual(expected, [code] + [rec[k] for k in RECORD_FIELDS], err)
                self.assertEqual(len(outputs), len(out.decode().split("PS_Result")) - 1 + outputs.count("usage.out"))
        for *args, message in cases["usage"]:
            with self.subTest(args):
                self.assertFailsCleanly(cli(*(a.format(folder=self.folder.name, data=DATA) for a in args)), message)


@unittest.skipUnless(BENCHMARK, "needs the built benchmark (FARM_BENCHMARK)")
class Benchmark(Case):
    def test_run_passes_the_output_through_and_records_it(self):
        """The real benchmark on this machine: its record, its facts from / and its line in the metrics file."""
        code, out, err = cli("run", "--program", BENCHMARK, "--test", "SingleSpeed", "--out", self.folder.name,
                             "--host", "e2e", "--tiers", "A:0", "--prom", self.path("ps.prom"))
        self.assertEqual(0, code, err)
        rec = json.loads(self.text("e2e.json"))
        parsed = grammar.parse_output(grammar.decode(out))
        self.assertEqual(("ok", "SingleSpeed", "A", parsed["ps_result"], parsed["workers"],
                          len(os.sched_getaffinity(0))), (rec["status"], rec["test"], rec["tier"], rec["score"],
                                                          rec["workers"], rec["node"]["affinity_cpus"]))
        self.assertIn(rec["node"]["cgroup"], ("v1", "v2", None))
        found = metrics(self.text("ps.prom"))
        self.assertEqual((rec["score"], 1.0), (float(found['dirurarovavu_score{test="SingleSpeed"}']),
                                               float(found['dirurarovavu_run_success{test="SingleSpeed"}'])))
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
