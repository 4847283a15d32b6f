"""The node's facts from synthetic roots: cgroup quotas, affinity, throttle counters and
clocks, read in process and through run --root with stand-ins that heat the machine."""

import json
import os

from common import DATA, Case, cli, farm, golden, load, node
from dirurarovavu_farm import node as facts

MOUNTS = {"M2": "30 22 0:27 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw,nsdelegate\n",
          "M1": "31 30 0:28 / /sys/fs/cgroup/cpu,cpuacct rw - cgroup cgroup rw,cpu,cpuacct\n"
                "40 30 0:37 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n"}


def lay(root, files):
    for relative, content in files.items():
        if content is None:
            continue
        path = os.path.join(root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as stream:
            stream.write(MOUNTS.get(content, content))


class HotRoot(Case):
    def run_hot(self, script, env=None, prom=None):
        """run --root on the heated root, the benchmark a stand-in that runs script in the root's
        processors' folder and prints the saved SingleSpeed output."""
        root, cases = self.path("hot"), load("node-roots.json")
        lay(root, dict(cases["*"], **cases["heated"]["files"]))
        program = self.write("stand-in", "#!/bin/sh\nset -e\ncd '%s/sys/devices/system/cpu'\n%s\n"
                             "cat '%s/singlespeed.out'\n" % (root, script, DATA), True)
        code, _, err = cli("run", "--program", program, "--root", root,
                           "--out", self.path("r"), "--host", "hot", *(["--prom", prom] if prom else []), env=env)
        self.assertEqual(0, code, err)
        return json.loads(self.text("r", "hot.json"))


class Facts(HotRoot):
    def test_synthetic_roots(self):
        cases = load("node-roots.json")
        base = cases.pop("*")
        for name, case in cases.items():
            with self.subTest(name):
                root = self.path(str(len(os.listdir(self.folder.name))))
                lay(root, dict(base, **case["files"]))
                probe = facts.Probe(root, interval=0).start()
                for files in case.get("during", []):
                    lay(root, files)
                    probe.sample()
                lay(root, case.get("after", {}))
                found = probe.finish()
                self.assertEqual(case["facts"], {k: found[k] for k in case["facts"]})
                self.assertEqual(len(case["notes"]), len(probe.notes.items), probe.notes.items)
                for text, note in zip(case["notes"], probe.notes.items):
                    self.assertIn(text, note)

    def test_run_records_what_the_run_did_to_the_node(self):
        rec = self.run_hot("echo 3 >cpu0/thermal_throttle/core_throttle_count; echo 11 >cpu1/thermal_throttle/"
                           "core_throttle_count; for c in 0 1; do echo 102 >cpu$c/thermal_throttle/package_throttle_"
                           "count; done; echo 2700000 >cpu1/cpufreq/scaling_cur_freq")
        # 3 + 1 core events, 2 of the package counted once; the median of 3000 and 2700 MHz.
        self.assertEqual((2, {"affinity_cpus": 2, "cpu_quota": 1.5, "cgroup": "v2", "throttle_events": 6,
                              "clock_start_mhz": 3000.0, "clock_low_mhz": 2850.0, "clock_drop_percent": 5.0}, []),
                         (rec["schema_version"], rec["node"], rec["node_notes"]))

    def test_a_dip_mid_run_is_sampled(self):
        rec = self.run_hot("for f in 1500000 3000000; do for c in 0 1; do echo $f >cpu$c/cpufreq/scaling_cur_freq; "
                           "done; sleep 1; done", {facts.SAMPLE_ENV: "0.05"})
        self.assertEqual((0, 1500.0, 50.0), (rec["node"]["throttle_events"], rec["node"]["clock_low_mhz"],
                                             rec["node"]["clock_drop_percent"]))

    def test_a_record_from_before_node_facts(self):
        rec = node("old", 10.0)
        del rec["node"], rec["node_notes"]
        self.write("old.json", dict(rec, schema_version=1))
        code, out, err = cli("collect", self.folder.name, "--json")
        self.assertEqual((0, None), (code, json.loads(out)["rows"][0]["throttle_events"]), err)


class Flags(Case):
    """THROTTLED and QUOTA in every form of the farm table, and under --fail-on."""

    def setUp(self):
        super().setUp()
        for rec in farm("flags"):
            self.write(rec["host"] + ".json", rec)

    def test_flags(self):
        self.assertEqual((1, golden("farm-flags.txt")), cli("collect", self.folder.name)[:2])
        rows = json.loads(cli("collect", self.folder.name, "--json")[1], parse_constant=self.fail)["rows"]
        self.assertEqual([["events", "hot", "failed-hot"], ["boxed"]],
                         [[r["host"] for r in rows if r[k]] for k in ("throttled", "quota")])
        self.assertEqual(golden("farm-flags.csv"), cli("collect", self.folder.name, "--csv")[1])
        cli("collect", self.folder.name, "--html", self.path("farm.html"))
        self.assertEqual(3, self.text("farm.html").count("THROTTLED</td>"))
        for words, code in [("throttled", 1), ("quota", 1), ("slow", 1), ("stale", 0), ("none", 0)]:
            self.assertEqual(code, cli("collect", self.folder.name, "--fail-on", words)[0], words)
