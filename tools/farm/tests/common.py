"""What the farm tests share: the package from the source tree, the saved outputs and
the program as a farm tool calls it (FARM_PROGRAM: the built launcher)."""

import json
import os
import stat
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "data")
GOLDEN = os.path.join(os.environ.get("PS_TESTS_DIR") or os.path.join(HERE, "..", "..", "..", "tests"),
                      "machine", "golden")
sys.path.insert(0, os.path.dirname(HERE))
from dirurarovavu_farm import grammar, record  # noqa: E402

PROGRAM = [os.environ["FARM_PROGRAM"]] if os.environ.get("FARM_PROGRAM") else [sys.executable, "-m",
                                                                               "dirurarovavu_farm"]


def golden(name):
    with open(os.path.join(DATA, name), "rb") as stream:
        return stream.read()


def read(name):
    return grammar.decode(golden(name))


def load(name):
    """A table of cases from the data folder, without its description."""
    with open(os.path.join(DATA, name)) as stream:
        cases = json.load(stream)
    cases.pop("what")
    return cases


def cli(*args, env=None):
    done = subprocess.run(PROGRAM + list(args), capture_output=True, cwd=os.path.dirname(HERE),
                          env=dict(os.environ, **(env or {})))
    return done.returncode, done.stdout, done.stderr.decode("utf-8", "replace")


def node(host, score, model="Model M", test="SingleSpeed", failure=None, scores=None,
         start="2026-12-06T10:00:00+00:00"):
    """A record of the saved SingleSpeed output with another host, score, processor and test."""
    parsed = grammar.parse_output(read("singlespeed.out"))
    parsed.update(ps_result=score, test=test)
    parsed["machine"]["name"] = model
    return record.new_record(host, parsed, 0 if failure is None else 3, start, "1.0.0", failure=failure,
                             scores=scores)


def row_record(row):
    """A record of a row as farms.json writes them."""
    return dict(node(**{k: v for k, v in row.items() if k != "set"}), **row.get("set", {}))


def farm(name):
    return [row_record(row) for row in load("farms.json")[name]]


def metrics(text):
    """{name{labels}: value} of a text in Prometheus' format, comments left out."""
    return dict(line.rsplit(" ", 1) for line in text.splitlines() if line and not line.startswith("#"))


class Case(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def path(self, *names):
        return os.path.join(self.folder.name, *names)

    def write(self, name, content, program=False):
        """Bytes and text as they are, anything else as JSON; returns the file's path."""
        with open(self.path(name), "wb") as stream:
            stream.write(content if isinstance(content, bytes) else content.encode() if isinstance(content, str)
                         else json.dumps(content).encode())
        if program:
            os.chmod(self.path(name), stat.S_IRWXU)
        return self.path(name)

    def text(self, *names):
        with open(self.path(*names), encoding="utf-8") as stream:
            return stream.read()

    def assertFailsCleanly(self, result, message, code=2):
        self.assertEqual(code, result[0], result[2])
        self.assertIn(message, result[2])
        self.assertNotIn("Traceback", result[2])
