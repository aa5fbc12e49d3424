#!/usr/bin/python3
"""Converts log files on a Dask cluster: one tracemill run per shard.

Each task runs `tracemill --shard=K/N --report=...` on a worker with the same
inputs and options; the reports come back to this process, which prints the
combined summary (one JSON object, the fields of a report's last line plus
"shards") and exits with the OR of the shards' exit statuses, as a run
without shards would.

    tracemill_dask.py [--workers W | --scheduler ADDRESS] [--shards N]
                      [--files-from LIST [--null]] [--report FILE]
                      [--tracemill PATH] [input ...] [-- tracemill options]

Without --scheduler a LocalCluster of W single-threaded worker processes runs
the shards on this machine. With --scheduler the tasks go to that cluster;
the inputs, the output folder and the tracemill binary must then be reachable
under the same paths on every worker. A cluster built in Python (dask-jobqueue,
dask-kubernetes) plugs in through run_shards(client, ...).

Needs python3-distributed (Debian 12).
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

# Counters of a report's last line that add up over shards.
SUMMED = ("converted", "failed", "passed_over", "repeated", "deleted", "kept", "outputs", "bytes_read",
          "bytes_written")
NESTED = ("frames", "records_passed_over")


def run_shard(tracemill, index, count, options, inputs, listed, null):
    """One tracemill run of shard index/count; its exit status, report lines and log."""
    with tempfile.TemporaryDirectory(prefix="tracemill-shard-") as folder:
        report = os.path.join(folder, "report.jsonl")
        command = [tracemill, "--non-interactive", f"--shard={index}/{count}", f"--report={report}", *options]
        if listed is not None:
            command.append("--files-from=-")
            if null:
                command.append("--null")
        command += ["--", *inputs] if inputs else []
        run = subprocess.run(command, input=listed, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        lines = []
        if os.path.exists(report):
            with open(report, encoding="utf-8") as text:
                lines = [json.loads(line) for line in text if line.strip()]
    # A run ended by a signal counts as the shell shows it: 128 + the signal.
    status = run.returncode if run.returncode >= 0 else 128 - run.returncode
    return {"shard": index, "exit_status": status, "report": lines, "log": run.stderr.decode("utf-8", "replace")}


def combine(results, seconds):
    """The shards' last report lines added up; the exit status is the OR of the shards'."""
    summary = {"shards": len(results)}
    for key in SUMMED:
        summary[key] = 0
    for key in NESTED:
        summary[key] = {}
    status = 0
    for result in results:
        status |= result["exit_status"]
        last = result["report"][-1] if result["report"] and "exit_status" in result["report"][-1] else None
        if last is None:
            continue
        for key in SUMMED:
            summary[key] += last[key]
        for key in NESTED:
            for name, value in last[key].items():
                summary[key][name] = summary[key].get(name, 0) + value
    summary["seconds"] = round(seconds, 3)
    summary["exit_status"] = status
    return summary


def run_shards(client, tracemill, count, options, inputs, listed=None, null=False):
    """Runs shards 1..count on the client's cluster; the per-shard results in shard order."""
    futures = [
        client.submit(run_shard, tracemill, index, count, options, inputs, listed, null,
                      key=f"tracemill-shard-{index}-of-{count}", pure=False)
        for index in range(1, count + 1)
    ]
    return client.gather(futures)


def parse_arguments(argv):
    own, options = (argv[: argv.index("--")], argv[argv.index("--") + 1:]) if "--" in argv else (argv, [])
    parser = argparse.ArgumentParser(description="Converts log files on a Dask cluster, one tracemill run per shard; "
                                     "tracemill options follow a --.")
    parser.add_argument("inputs", nargs="*", help="log files or folders (absolute paths on a real cluster)")
    parser.add_argument("--files-from", metavar="LIST", help="a list of inputs, - for standard input")
    parser.add_argument("--null", action="store_true", help="the list's names end with NUL (find -print0)")
    parser.add_argument("--scheduler", metavar="ADDRESS", help="a running cluster's scheduler, e.g. tcp://head:8786")
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1,
                        help="workers of the local cluster (default: the number of cores)")
    parser.add_argument("--shards", type=int, help="number of shards (default: the cluster's workers)")
    parser.add_argument("--tracemill", default="tracemill", help="the converter on the workers (default: tracemill)")
    parser.add_argument("--report", metavar="FILE",
                        help="write every shard's file lines and the combined summary as one JSON Lines report")
    arguments = parser.parse_args(own)
    if not arguments.inputs and arguments.files_from is None:
        parser.error("no inputs: name files or folders, or --files-from")
    return arguments, options


def main(argv):
    arguments, options = parse_arguments(argv)
    from dask.distributed import Client, LocalCluster  # only now: --help works without Dask

    listed = None
    if arguments.files_from is not None:
        if arguments.files_from == "-":
            listed = sys.stdin.buffer.read()
        else:
            with open(arguments.files_from, "rb") as text:
                listed = text.read()
    # The workers may run in other folders: relative paths are resolved here.
    inputs = [os.path.abspath(path) for path in arguments.inputs]
    started = time.monotonic()
    cluster = None
    if arguments.scheduler:
        client = Client(arguments.scheduler)
    else:
        cluster = LocalCluster(n_workers=arguments.workers, threads_per_worker=1, dashboard_address=None)
        client = Client(cluster)
    try:
        count = arguments.shards or max(1, len(client.scheduler_info()["workers"]))
        results = run_shards(client, arguments.tracemill, count, options, inputs, listed, arguments.null)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    for result in results:
        sys.stderr.write(result["log"])
    summary = combine(results, time.monotonic() - started)
    if arguments.report:
        with open(arguments.report, "w", encoding="utf-8") as report:
            for result in results:
                for line in result["report"]:
                    if "exit_status" not in line:
                        report.write(json.dumps(line) + "\n")
            report.write(json.dumps(summary) + "\n")
    print(json.dumps(summary))
    return summary["exit_status"]


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
