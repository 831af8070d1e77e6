#!/usr/bin/env python3
"""What the connector costs while nobody calls it, fresh and after a burst (native build, test
launcher for Spine).

1. A fresh program: its threads, and its context switches over --window seconds of idle.
2. A burst of --burst conversions sent at once (each one waits for its turn at the conversion
   lock, so the connection pool grows); the most threads seen while it runs.
3. --settle seconds after the last reply: threads, and context switches over --window seconds.

Context switches are the voluntary and involuntary ones of every thread of the process, summed
over /proc/<pid>/task/*/status (the process's own status file counts its first thread only).
Targets: back to the fresh thread count, and fewer than TARGET_SWITCHES in the window."""
import argparse
import base64
import json
import os
import shutil
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import connector_harness as harness  # noqa: E402

HEADERS = {"Origin": "http://localhost:5173", "Content-Type": "application/json"}
TARGET_SWITCHES = 10


def conversion_body():
    return json.dumps({
        "schemaVersion": 1,
        "skeletonJson": json.dumps({"skeleton": {"spine": "4.2.11", "images": "./images/"}}),
        "spineVersion": "4.2", "projectName": "idle",
        "images": [{"path": "p.png", "dataBase64": base64.b64encode(b"\x89PNG" * 256).decode()}],
    }).encode("ascii")


def task_ids(pid):
    try:
        return set(os.listdir("/proc/%d/task" % pid))
    except OSError:
        return set()


def switches(pid):
    """{thread id: voluntary + involuntary context switches} of the threads alive now."""
    counts = {}
    for task in task_ids(pid):
        try:
            with open("/proc/%d/task/%s/status" % (pid, task), encoding="ascii") as status:
                fields = dict(line.split(":", 1) for line in status if ":" in line)
        except OSError:
            continue  # the thread ended while we looked
        counts[task] = (int(fields["voluntary_ctxt_switches"])
                        + int(fields["nonvoluntary_ctxt_switches"]))
    return counts


def idle_window(pid, seconds):
    """(threads at the start, threads at the end, context switches in between). A thread that
    ends inside the window counts what it had done until the last look at it."""
    before = switches(pid)
    time.sleep(seconds)
    after = switches(pid)
    total = 0
    for task, count in after.items():
        total += count - before.get(task, 0)
    return len(before), len(after), total


def burst(count):
    """Sends count conversions at once; (statuses seen, most threads seen meanwhile)."""
    body = conversion_body()
    statuses = {}
    lock = threading.Lock()

    def convert():
        try:
            status = harness.request("POST", "/v1/convert", body=body, headers=HEADERS,
                                     timeout=600).status
        except OSError as error:
            status = type(error).__name__
        with lock:
            statuses[status] = statuses.get(status, 0) + 1

    clients = [threading.Thread(target=convert) for _ in range(count)]
    for client in clients:
        client.start()
    return clients, statuses


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--burst", type=int, default=250)
    parser.add_argument("--settle", type=float, default=30.0)
    parser.add_argument("--window", type=float, default=10.0)
    options = parser.parse_args()
    harness.Options.program = os.path.abspath(options.program)
    harness.Options.stub = os.path.abspath(options.stub)
    print("load average at the start: %.1f %.1f %.1f" % os.getloadavg())
    directory = tempfile.mkdtemp(prefix="glimmer-bench-idle-")
    connector = harness.Connector(directory, spine=harness.Options.stub)
    try:
        connector.start()
        pid = connector.process.pid
        time.sleep(2)  # the start-up's own requests settle
        fresh_start, fresh_end, fresh_switches = idle_window(pid, options.window)
        print("fresh: %d threads, %d context switches in %.0f s of idle"
              % (fresh_end, fresh_switches, options.window))

        clients, statuses = burst(options.burst)
        most = 0
        while any(client.is_alive() for client in clients):
            most = max(most, len(task_ids(pid)))
            time.sleep(0.05)
        print("burst of %d conversions: replies %s, at most %d threads"
              % (options.burst, dict(sorted(statuses.items(), key=str)), most))

        time.sleep(options.settle)
        start, end, after_switches = idle_window(pid, options.window)
        print("%.0f s after the burst: %d threads (%d at the window's start), %d context switches "
              "in %.0f s of idle" % (options.settle, end, start, after_switches, options.window))
        back = end <= fresh_end
        quiet = after_switches < TARGET_SWITCHES
        print("back to the fresh thread count: %s; fewer than %d switches: %s"
              % ("meets" if back else "MISSES", TARGET_SWITCHES, "meets" if quiet else "MISSES"))
    finally:
        connector.stop()
        shutil.rmtree(directory, ignore_errors=True)


if __name__ == "__main__":
    main()
