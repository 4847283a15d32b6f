"""One node's record: building it, writing it safely and reading a folder of them."""

import datetime
import hashlib
import json
import math
import os
import re
import statistics
import tempfile

from .grammar import SCORE_RANGE, FarmError, is_score, to_number

SCHEMA = "dirurarovavu-farm/record"
SCHEMA_VERSION = 2  # 2: the node's facts ("node", "node_notes") and "start_time_source"
RUN_FIELDS = ["test", "start_time_of_day", "operating_system", "os_family", "number_of_threads", "ram_gib",
              "verbose", "threads_created", "workers", "total_speed", "average_per_core", "ps_result", "run_scores",
              "ps_mean", "returned_exit_code", "time_exec_s", "core_time", "machine", "errors"]
LISTS = ("workers", "errors", "run_scores")
SURROGATE = re.compile("[\ud800-\udfff]")
ODD_TEXT = re.compile(r"[\ud800-\udfff]|\\u[dD][89a-fA-F]")  # raw, or escaped in JSON


def readable(text):
    """Text with bytes that were not UTF-8 (Python keeps them as lone surrogates) as \\xNN."""
    return SURROGATE.sub(lambda m: "\\x%02x" % (ord(m.group()) - 0xDC00) if ord(m.group()) >= 0xDC80
                         else "\\u%04x" % ord(m.group()), text)


def clean(value):
    """A value read from JSON with every text made readable."""
    if isinstance(value, str):
        return readable(value) if SURROGATE.search(value) else value
    if isinstance(value, list):
        return [clean(v) for v in value]
    if isinstance(value, dict):
        return {clean(k): clean(v) for k, v in value.items()}
    return value


def node_score(parsed):
    """What one benchmark invocation is worth: the mean of the repeated tests when the
    output shows every run (the exit code uses it), else PS_Result."""
    if not parsed:
        return None
    return parsed.get("ps_mean") if parsed.get("ps_mean") is not None else parsed.get("ps_result")


def spread(scores):
    """Median and coefficient of variation in percent (None below two scores)."""
    if not scores:
        return None, None
    median = statistics.median(scores)
    mean = statistics.fmean(scores)
    cv = round(100.0 * statistics.stdev(scores) / mean, 2) if len(scores) > 1 and mean > 0 else None
    return median, cv


def new_record(host, parsed, exit_code, start_time, version, min_score=None, tiers=None, failure=None,
               scores=None, start_source="run", node=None, node_notes=None):
    """parsed: the last run's fields; scores: every run's node score (--repeat); start_source: where
    start_time comes from ("run", or for a saved output "given" or "file"); node: what the node did
    to the run (null from parse)."""
    record = {"schema": SCHEMA, "schema_version": SCHEMA_VERSION, "host": host, "start_time": start_time,
              "start_time_source": start_source if start_time else None, "version": version,
              "exit_code": exit_code, "status": "failed" if failure else "ok", "failure": failure}
    for key in RUN_FIELDS:
        record[key] = (parsed or {}).get(key, [] if key in LISTS else None)
    record["scores"] = [s for s in (scores if scores is not None else [node_score(parsed)]) if s is not None]
    record["score"], record["spread_percent"] = (None, None) if failure else spread(record["scores"])
    score = record["score"]
    record["min_score"] = min_score
    record["passed"] = None if failure or score is None else (min_score is None or score >= min_score)
    record["tier"] = None if failure or tiers is None or score is None else tier_of(score, tiers)
    record["node"], record["node_notes"] = node, list(node_notes or [])
    return record


def parse_tiers(text):
    """"A:400,B:200" as [(400.0, "A"), (200.0, "B")], highest first."""
    tiers = []
    for item in text.split(","):
        name, sep, value = item.strip().rpartition(":")
        score = to_number(value) if sep else None
        if not name or score is None:
            raise FarmError("--tiers wants NAME:SCORE pairs separated by commas, like A:400,B:200; got %r" % item)
        tiers.append((score, name))
    return sorted(tiers, reverse=True)


def tier_of(score, tiers):
    return next((name for floor, name in tiers if score >= floor), None)


def is_number(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value)


def odd_text(text):
    """Whether a record's JSON may hold bytes that were not UTF-8; the usual all-ASCII text
    is told apart at once (farms of thousands of records are read whole)."""
    if text.isascii():
        return "\\ud" in text or "\\uD" in text
    return ODD_TEXT.search(text) is not None


def check_record(record, text=None):
    """The record made ready to compare; raises FarmError unless this program can read it.
    text: the JSON it was read from; only a text with odd characters needs cleaning."""
    if text is None or odd_text(text):
        record = clean(record)
    if not isinstance(record, dict) or record.get("schema") != SCHEMA:
        raise FarmError("not a %s record" % SCHEMA)
    found = record.get("schema_version")
    if not isinstance(found, int) or isinstance(found, bool) or not 1 <= found <= SCHEMA_VERSION:
        raise FarmError("schema version %r; this program reads version %d" % (found, SCHEMA_VERSION))
    if not isinstance(record.get("host"), str) or not record["host"]:
        raise FarmError("the record names no host")
    if record.get("score") is None:  # written before the node score had a field of its own
        record["score"] = record.get("ps_result")
    if not isinstance(record.get("scores"), list):
        record["scores"] = []
    if record.get("status") == "ok":
        if record["score"] is None:
            raise FarmError("the record has no score")
        # Values no run can print would wreck every comparison and the strict JSON of the table.
        odd = next((s for s in [record["score"]] + record["scores"] if not is_score(s)), None)
        if odd is not None:
            raise FarmError("score %r is not one the benchmark can print (%s)" % (odd, SCORE_RANGE))
    else:
        record["status"], record["score"], record["scores"] = "failed", None, []
    for key in ("test", "tier", "failure", "start_time"):  # shown as text
        if not isinstance(record.get(key), str):
            record[key] = None
    if not is_number(record.get("spread_percent")):
        record["spread_percent"] = None
    for key in ("number_of_threads", "threads_created"):
        if not isinstance(record.get(key), int) or isinstance(record.get(key), bool):
            record[key] = None
    for key in ("os_family", "operating_system"):
        if not isinstance(record.get(key), str):
            record[key] = None
    if not isinstance(record.get("node"), dict):  # version 1 records have none
        record["node"] = None
    if not isinstance(record.get("node_notes"), list):
        record["node_notes"] = []
    record["started"] = start_of(record.get("start_time"))
    return record


def start_of(text):
    """A record's start time as an aware datetime, or None."""
    try:
        when = datetime.datetime.fromisoformat(text)
    except (TypeError, ValueError):
        return None
    return when if when.tzinfo else when.replace(tzinfo=datetime.timezone.utc)


def safe_file_name(host):
    """A file name for the host that no other host name maps to: names that are not
    already plain get a short digest of the whole name."""
    name = re.sub(r"[^A-Za-z0-9._-]", "_", host).lstrip(".")[:100]
    if name != host:
        name = "%s-%s" % (name or "host", hashlib.sha1(host.encode("utf-8", "surrogatepass")).hexdigest()[:8])
    return name


def write_atomic(path, text):
    """Writes a file whole or not at all: readers never see half of it."""
    folder = os.path.dirname(os.path.abspath(path))
    try:
        handle, temporary = tempfile.mkstemp(prefix="." + os.path.basename(path)[:50] + ".", suffix=".part",
                                             dir=folder)
    except OSError as error:  # name the file asked for, not the temporary one
        raise FarmError("cannot write %s: %s" % (path, error.strerror or error))
    try:
        with os.fdopen(handle, "w", encoding="utf-8", newline="\n") as stream:
            stream.write(text)
        os.chmod(temporary, 0o644)
        os.replace(temporary, path)
    except BaseException as error:
        os.unlink(temporary)
        if isinstance(error, OSError):
            raise FarmError("cannot write %s: %s" % (path, error.strerror or error))
        raise


def write_record(record, out_dir):
    os.makedirs(out_dir, exist_ok=True)
    path = os.path.join(out_dir, safe_file_name(record["host"]) + ".json")
    write_atomic(path, json.dumps(record, indent=2) + "\n")
    return path


def load_folder(folder):
    """The readable records of a folder and the files skipped, each with its reason."""
    if not os.path.isdir(folder):
        raise FarmError("%s is not a folder" % folder)
    records, skipped = {}, []
    for name in sorted(n for n in os.listdir(folder) if n.endswith(".json") and not n.startswith(".")):
        path = os.path.join(folder, name)
        try:
            with open(path, "rb") as stream:
                text = stream.read().decode("utf-8", "surrogateescape")
            record = check_record(json.loads(text), text)
        except OSError as error:
            skipped.append((path, "cannot read it: %s" % (error.strerror or error)))
            continue
        except (ValueError, RecursionError) as error:
            skipped.append((path, "not JSON: %s" % error))
            continue
        except FarmError as error:
            skipped.append((path, str(error)))
            continue
        record["file"] = path
        other = records.get(record["host"])
        if other:  # the same host twice: the later run counts
            older, record = sorted([other, record], key=lambda r: (r["started"] is not None, r["started"] or 0,
                                                                    r["file"]))
            skipped.append((older["file"], "an older record of host %s than %s" % (older["host"], record["file"])))
        records[record["host"]] = record
    return list(records.values()), skipped
