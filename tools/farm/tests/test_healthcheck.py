"""The Slurm health check, installed as the package lays it out, with stand-ins for the farm
program (it parses a saved output, the record then edited) and for scontrol (it logs its calls)."""

import json
import os
import re
import shutil
import subprocess
import sys

from common import DATA, HERE, Case, load

SOURCE = os.path.join(HERE, "..", "..", "..", "packaging", "slurm", "healthcheck")
FARM = """#!%s
import json, os, sys
sys.path.insert(0, %r)
from dirurarovavu_farm import record
from dirurarovavu_farm.cli import main
args, output = sys.argv[1:], os.environ["HC_OUTPUT"]
if not output:
    sys.exit(3)
code, out = main(["parse", output] + args[1:]), args[args.index("--out") + 1]
with open(os.path.join(out, args[args.index("--host") + 1] + ".json")) as stream:
    record.write_record(dict(json.load(stream), **json.loads(os.environ["HC_EDIT"])), out)
sys.exit(code)
"""
SCONTROL = """#!/bin/sh
echo "$*" >>"$HC_LOG"
if [ "$1" = -o ]; then
  [ -n "$HC_SHOW" ] || { echo "Node $4 not found" >&2; exit 1; }
  echo "NodeName=$4 Arch=x86_64 $HC_SHOW"
fi
"""


class HealthCheck(Case):
    def setUp(self):
        super().setUp()
        # The package's layout: the check finds the farm modules in ../farm beside its folder.
        os.makedirs(self.path("slurm"))
        shutil.copy(SOURCE, self.path("slurm", "healthcheck"))
        os.symlink(os.path.abspath(os.path.join(HERE, "..")), self.path("farm"))
        for name, text in (("farm-standin", FARM % (sys.executable, os.path.dirname(HERE))),
                           ("scontrol", SCONTROL)):
            self.write(name, text, program=True)

    def check(self, lines, output, edit, show):
        stands = {"FARM": self.path("farm-standin"), "SCONTROL": self.path("scontrol"), "OUT": self.path("out")}
        settings = lines + ["%s=%s" % item for item in stands.items() if not any(item[0] + "=" in l for l in lines)]
        env = {"PS_HEALTHCHECK_CONF": self.write("healthcheck.conf", "\n".join(settings) + "\n"),
               "SLURMD_NODENAME": "n1", "HC_OUTPUT": os.path.join(DATA, output) if output else "",
               "HC_EDIT": json.dumps(edit or {}), "HC_SHOW": show, "HC_LOG": self.write("calls", "")}
        done = subprocess.run([sys.executable, self.path("slurm", "healthcheck")], env=env, capture_output=True,
                              universal_newlines=True)
        return done.returncode, self.text("calls").splitlines(), done.stderr

    def test_rows(self):
        for group, rows in load("healthcheck.json").items():
            for lines, output, edit, show, updates, code, message in rows:
                with self.subTest(group=group, settings=lines, show=show, edit=edit):
                    found, calls, err = self.check(lines, output, edit, show)
                    asked = [c for c in calls if c.startswith("-o show node")]
                    self.assertEqual((code, updates), (found, [c[len("update nodename=n1 "):]
                                                               for c in calls if c not in asked]), err)
                    self.assertEqual(0 if code == 2 else 1, len(asked))  # refused settings: Slurm never asked
                    self.assertIn(message, err)
                    self.assertNotIn("Traceback", err)

    def test_the_example_settings(self):
        """The example file's lines, uncommented, are taken as they stand (its programs replaced)."""
        with open(os.path.join(os.path.dirname(SOURCE), "healthcheck.conf")) as stream:
            lines = [line[1:] for line in stream.read().splitlines() if re.match(r"#[A-Z_]+=", line)
                     and not line.startswith(("#FARM=", "#SCONTROL=", "#OUT="))]
        self.assertEqual((0, ["-o show node n1", "update nodename=n1 state=drain reason=PS 16.757 below 150",
                              "update nodename=n1 availablefeatures=C activefeatures=C"]),
                         self.check(lines, "singlespeed.out", None, "State=IDLE AvailableFeatures=(null) Reason=")[:2])
