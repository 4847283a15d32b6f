"""run --prom: the textfile collector's file, kept per test, and scraped from a real node_exporter."""

import ctypes
import os
import shutil
import signal
import socket
import subprocess
import time
import unittest
import urllib.request

from common import Case, cli, farm, golden, load, metrics, node
from dirurarovavu_farm import prom
from test_node import HotRoot

EXPORTER = shutil.which("prometheus-node-exporter", path=os.environ.get("PATH", "") + ":/usr/bin")


class File(Case):
    def test_tests_share_the_file(self):
        """Each run replaces its test's lines; a failed run leaves only run_success 0; the lines
        without a test follow the last successful run; foreign lines go."""
        path = self.write("dirurarovavu.prom", 'dirurarovavu_score{test="All"} 1\nnot a metric\nother_metric 5\n')
        for rec in farm("prom"):
            prom.write_metrics(path, rec)
        self.assertEqual(golden("shared.prom").decode(), self.text("dirurarovavu.prom"))
        self.assertEqual(["dirurarovavu.prom"], os.listdir(self.folder.name))

    def test_a_benchmark_that_cannot_start_is_a_failed_run(self):
        code, _, err = cli("run", "--program", "/nonexistent", "--test", "SingleSpeed", "--out", self.folder.name,
                           "--host", "n", "--prom", self.path("ps.prom"))
        self.assertEqual(2, code, err)
        self.assertEqual({'dirurarovavu_run_success{test="SingleSpeed"}': "0"}, metrics(self.text("ps.prom")))


def die_with_parent():
    ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG: never outlives the test


@unittest.skipUnless(EXPORTER, "needs prometheus-node-exporter")
class Exporter(HotRoot):
    maxDiff = None

    def start_exporter(self, folder):
        """node_exporter with only the textfile collector on a free loopback port; stopped at cleanup."""
        log = open(self.path("exporter.log"), "w+")
        self.addCleanup(log.close)
        for _ in range(5):  # another program may take the port between asking and binding
            with socket.socket() as probe:
                probe.bind(("127.0.0.1", 0))
                port = probe.getsockname()[1]
            child = subprocess.Popen([EXPORTER, "--web.listen-address=127.0.0.1:%d" % port,
                                      "--collector.disable-defaults", "--collector.textfile",
                                      "--collector.textfile.directory=" + folder],
                                     stdout=subprocess.DEVNULL, stderr=log, preexec_fn=die_with_parent)
            self.addCleanup(lambda c=child: (c.terminate(), c.wait()))
            for _ in range(600):  # until it answers or ends; never forever
                if child.poll() is not None:
                    break
                try:
                    with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % port, timeout=30) as answer:
                        return answer.read().decode()
                except OSError:
                    time.sleep(0.1)
        log.seek(0)
        self.fail("node_exporter did not start: %s" % log.read()[-500:])

    def test_scraped(self):
        feed = self.path("textfile")
        os.mkdir(feed)
        path = os.path.join(feed, "dirurarovavu.prom")
        prom.write_metrics(path, node("hot", 300.5, test="All", scores=[300.0, 300.5, 302.0]))
        rec = self.run_hot("echo 12 >cpu0/thermal_throttle/core_throttle_count", prom=path)
        prom.write_metrics(path, node("hot", None, test="Single", failure="DirUrarovavu ended with exit code 3"))
        found = metrics(self.start_exporter(feed))
        start = int(prom.start_of(rec["start_time"]).timestamp())
        expected = {k.replace("VERSION", rec["version"]): start if v == "START" else v
                    for k, v in load("scraped.json").items()}
        self.assertEqual(expected, {k: float(v) for k, v in found.items()
                                    if k.startswith(("dirurarovavu_", "node_textfile_scrape_error"))})
