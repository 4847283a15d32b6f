"""What the node is doing to the benchmark: its affinity, its cgroup's CPU quota, the
processors' throttle counters and clocks, read from / or from a folder laid out like it
(a recorded or made-up machine). Every reader gives None and a note, never an exception."""

import os
import re
import statistics
import threading

CPU_DIR = "sys/devices/system/cpu"
NOTES_MAX = 20
# Seconds between clock samples while the benchmark runs; 0 reads only at start and end.
SAMPLE_ENV = "DIRURAROVAVU_FARM_SAMPLE_SECONDS"
SAMPLE_DEFAULT_S = 3.0
MOUNT_ESCAPE = re.compile(r"\\([0-7]{3})")


class Notes:
    """What could not be read, once each and at most NOTES_MAX."""

    def __init__(self):
        self.items, self.lock = [], threading.Lock()

    def add(self, text):
        with self.lock:
            if text not in self.items and len(self.items) < NOTES_MAX:
                self.items.append(text)


def read_text(root, relative, notes, missing_ok=True):
    """A small file's text, or None (a missing file is noted only when not missing_ok)."""
    try:
        with open(os.path.join(root, relative), "rb") as stream:
            return stream.read(65536).decode("utf-8", "replace")
    except FileNotFoundError:
        if not missing_ok:
            notes.add("/%s: missing" % relative)
    except OSError as error:
        notes.add("/%s: cannot read it: %s" % (relative, error.strerror or error))
    return None


def read_int(root, relative, notes):
    text = read_text(root, relative, notes)
    if text is None:
        return None
    try:
        return int(text.strip())
    except ValueError:
        notes.add("/%s: not a whole number: %r" % (relative, text.strip()[:40]))
        return None


def parse_cpu_list(text):
    """"0-3,8,10-11" as a sorted list, or None when it is not such a list."""
    cpus = set()
    for part in text.strip().split(","):
        first, sep, last = part.partition("-")
        if not first.isdigit() or (sep and not last.isdigit()):
            return None
        low, high = int(first), int(last) if sep else int(first)
        if high < low or high > 65535:
            return None
        cpus.update(range(low, high + 1))
    return sorted(cpus)


def affinity(root, notes):
    """The logical processors this process may run on (the benchmark inherits them)."""
    text = read_text(root, "proc/self/status", notes)
    if text is None:
        return None
    for line in text.splitlines():
        if line.startswith("Cpus_allowed_list:"):
            cpus = parse_cpu_list(line.split(":", 1)[1])
            if cpus is None:
                notes.add("/proc/self/status: Cpus_allowed_list is not a processor list: %r" % line[:60])
            return cpus
    notes.add("/proc/self/status: no Cpus_allowed_list")
    return None


def cgroup_mounts(root, notes):
    """(file system type, super options, mount root, mount point) of each cgroup mount."""
    text = read_text(root, "proc/self/mountinfo", notes)
    mounts = []
    for line in (text or "").splitlines():
        fields = line.split()
        if " - " not in line or len(fields) < 5:
            continue
        after = line.split(" - ", 1)[1].split()
        if len(after) < 3 or after[0] not in ("cgroup", "cgroup2"):
            continue
        unescape = lambda s: MOUNT_ESCAPE.sub(lambda m: chr(int(m.group(1), 8)), s)
        mounts.append((after[0], after[2].split(","), unescape(fields[3]), unescape(fields[4])))
    return mounts


def cgroup_levels(path, mount_root, mount_point):
    """The folders of a cgroup and its ancestors up to the mount's root, own first."""
    path, mount_root = path.rstrip("/") or "/", mount_root.rstrip("/") or "/"
    if ".." in path.split("/") or (path != mount_root and not path.startswith(mount_root.rstrip("/") + "/")):
        return None  # a cgroup namespace shows cgroups outside it as ../
    inside = path[len(mount_root):].strip("/")
    parts = inside.split("/") if inside else []
    return [os.path.join(mount_point, *parts[:k]) for k in range(len(parts), -1, -1)]


def quota_v2(root, folder, notes):
    relative = os.path.join(folder, "cpu.max").lstrip("/")
    text = read_text(root, relative, notes)
    if text is None:
        return None
    fields = text.split()
    if len(fields) == 2 and fields[0] == "max" and fields[1].isdigit():
        return None
    if len(fields) == 2 and fields[0].isdigit() and fields[1].isdigit() and int(fields[1]) > 0:
        return int(fields[0]) / int(fields[1])
    notes.add("/%s: not 'quota period' or 'max period': %r" % (relative, text.strip()[:40]))
    return None


def quota_v1(root, folder, notes):
    quota = read_int(root, os.path.join(folder, "cpu.cfs_quota_us").lstrip("/"), notes)
    if quota is None or quota == -1:
        return None
    period = read_int(root, os.path.join(folder, "cpu.cfs_period_us").lstrip("/"), notes)
    if quota <= 0 or period is None or period <= 0:
        if period is not None:
            notes.add("/%s: quota %d over period %d is no limit" % (folder.lstrip("/"), quota, period))
        return None
    return quota / period


def cpu_quota(root, notes):
    """("v1" | "v2" | None, CPUs the cgroup may use or None): the tightest limit of the
    process's cgroup and its ancestors. Where v1 holds the cpu controller (hybrid) it rules."""
    text = read_text(root, "proc/self/cgroup", notes)
    if text is None:
        return None, None
    v1_path = v2_path = None
    for line in text.splitlines():
        fields = line.split(":", 2)
        if len(fields) != 3:
            if line.strip():
                notes.add("/proc/self/cgroup: not 'id:controllers:path': %r" % line[:60])
            continue
        if fields[0] == "0" and fields[1] == "":
            v2_path = fields[2]
        elif "cpu" in fields[1].split(","):
            v1_path = fields[2]
    mounts = cgroup_mounts(root, notes)
    if v1_path is not None:
        kind, path, reader = "v1", v1_path, quota_v1
        candidates = [m for m in mounts if m[0] == "cgroup" and "cpu" in m[1]]
    elif v2_path is not None:
        kind, path, reader = "v2", v2_path, quota_v2
        candidates = [m for m in mounts if m[0] == "cgroup2"]
    else:
        return None, None
    if not candidates:
        notes.add("/proc/self/mountinfo: the %s cpu hierarchy is not mounted" % kind)
        return kind, None
    # A hierarchy may be mounted more than once; the mount whose root holds the cgroup shows it.
    for _, _, mount_root, mount_point in candidates:
        levels = cgroup_levels(path, mount_root, mount_point)
        if levels is not None:
            break
    else:
        notes.add("/proc/self/cgroup: %s is outside the mounted part of the hierarchy" % path)
        return kind, None
    limits = [q for q in (reader(root, folder, notes) for folder in levels) if q is not None]
    return kind, round(min(limits), 2) if limits else None


def present_cpus(root):
    try:
        names = os.listdir(os.path.join(root, CPU_DIR))
    except OSError:
        return []
    return sorted(int(n[3:]) for n in names if n.startswith("cpu") and n[3:].isdigit())


def throttle_counts(root, cpus, notes):
    """{counter: value} of the core counters of the given processors and the package counter
    once per package; None when the machine has no such counters."""
    counts, packages = {}, set()
    for cpu in cpus:
        folder = "%s/cpu%d/thermal_throttle" % (CPU_DIR, cpu)
        if not os.path.isdir(os.path.join(root, folder)):
            continue
        core = read_int(root, folder + "/core_throttle_count", notes)
        if core is not None:
            counts["core%d" % cpu] = core
        package = read_int(root, "%s/cpu%d/topology/physical_package_id" % (CPU_DIR, cpu), notes)
        if package not in packages:  # an unknown package counts as one shared package
            packages.add(package)
            value = read_int(root, folder + "/package_throttle_count", notes)
            if value is not None:
                counts["package%s" % package] = value
    return counts or None


def clock_mhz(root, cpus, notes):
    """The median current clock of the processors in MHz, or None without cpufreq."""
    values = []
    for cpu in cpus:
        folder = "%s/cpu%d/cpufreq/" % (CPU_DIR, cpu)
        name = "cpuinfo_avg_freq" if os.path.exists(os.path.join(root, folder + "cpuinfo_avg_freq")) \
            else "scaling_cur_freq"
        khz = read_int(root, folder + name, notes)
        if khz is not None and khz > 0:
            values.append(khz)
        elif khz is not None:
            notes.add("/%s%s: %d is no clock" % (folder, name, khz))
    return round(statistics.median(values) / 1000.0, 1) if values else None


def sample_interval():
    """Seconds between samples from the environment (tests and measurements), else the default."""
    text = os.environ.get(SAMPLE_ENV, "")
    try:
        value = float(text) if text else SAMPLE_DEFAULT_S
    except ValueError:
        value = SAMPLE_DEFAULT_S
    return value if 0 <= value < 86400 else SAMPLE_DEFAULT_S


class Probe:
    """Reads the node's facts before the benchmark starts, samples the clock every few
    seconds from a thread that sleeps between reads, and reads again after it ends."""

    def __init__(self, root="/", interval=None):
        self.root, self.notes = root, Notes()
        self.interval = sample_interval() if interval is None else interval
        self.stop_event, self.thread, self.lock = threading.Event(), None, threading.Lock()
        self.cpus, self.counters_start, self.clock_start, self.clock_low = None, None, None, None
        self.facts = {}

    def start(self):
        allowed = affinity(self.root, self.notes)
        present = present_cpus(self.root)
        self.cpus = [c for c in allowed if c in present] if allowed is not None and present else allowed or present
        kind, quota = cpu_quota(self.root, self.notes)
        self.facts = {"affinity_cpus": len(allowed) if allowed else None, "cpu_quota": quota, "cgroup": kind}
        self.counters_start = throttle_counts(self.root, self.cpus, self.notes)
        self.clock_start = clock_mhz(self.root, self.cpus, self.notes)
        if self.interval > 0 and self.clock_start is not None:
            self.thread = threading.Thread(target=self.keep_sampling, daemon=True)
            self.thread.start()
        return self

    def sample(self):
        clock = clock_mhz(self.root, self.cpus, self.notes)
        if clock is not None:
            with self.lock:
                self.clock_low = clock if self.clock_low is None else min(self.clock_low, clock)

    def keep_sampling(self):
        while not self.stop_event.wait(self.interval):
            self.sample()

    def __enter__(self):
        return self

    def __exit__(self, *ignored):
        self.finish()

    def finish(self):
        """The record's "node" object (also kept as facts); the benchmark has ended."""
        if self.stop_event.is_set():
            return self.facts
        self.stop_event.set()
        if self.thread:
            self.thread.join()
        self.sample()
        end = throttle_counts(self.root, self.cpus, self.notes)
        events = None
        if self.counters_start is not None and end is not None:
            rises = []
            for name in sorted(set(self.counters_start) & set(end)):
                rise = end[name] - self.counters_start[name]
                if rise < 0:
                    self.notes.add("throttle counter %s went down during the run (%d to %d)"
                                   % (name, self.counters_start[name], end[name]))
                else:
                    rises.append(rise)
            events = sum(rises) if rises else None
        start, low = self.clock_start, self.clock_low
        drop = round(max(0.0, 100.0 * (start - low) / start), 1) if start and low is not None else None
        self.facts = dict(self.facts, throttle_events=events, clock_start_mhz=start,
                          clock_low_mhz=low if start is not None else None, clock_drop_percent=drop)
        return self.facts
