"""What a node's facts say about its score: the rules the farm table and the Slurm health
check share, read from a record's "node" object (null in records before schema version 2)."""

# A clock this far below where it started counts as throttling even without counter events.
CLOCK_DROP_PERCENT = 10.0


def _node(record):
    node = record.get("node") if isinstance(record, dict) else None
    return node if isinstance(node, dict) else {}


def _number(value):
    return value if isinstance(value, (int, float)) and not isinstance(value, bool) else None


def throttled(record):
    """Thermal throttle events during the run, or a clock drop of CLOCK_DROP_PERCENT or more."""
    node = _node(record)
    events, drop = _number(node.get("throttle_events")), _number(node.get("clock_drop_percent"))
    return (events is not None and events > 0) or (drop is not None and drop >= CLOCK_DROP_PERCENT)


def quota_limited(record):
    """The cgroup grants fewer CPUs than the threads the benchmark created."""
    quota, threads = _number(_node(record).get("cpu_quota")), _number(record.get("threads_created"))
    return quota is not None and threads is not None and quota < threads
