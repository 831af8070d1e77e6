#!/usr/bin/env python3
"""Times a conversion whose launcher exits at once against the launcher's own run.

The test launcher in its plain mode prints its two lines, writes the project file and exits. The
conversion of a one-image request runs it once; everything the conversion adds to that run (the
request, the workspace, the wait until the launcher's process tree is gone, the archive) is the
overhead printed beside its target. The launcher's own run is timed by starting it directly with
the same arguments, from a shell for the native build and through the Wine wrapper for the Windows
build, so both figures include one process start of the same kind. The two are timed in turn, and
the overhead is the median of each conversion's time less the launcher run after it, so that a
busy moment of a shared machine weighs on both sides of a pair alike."""
import argparse
import base64
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import connector_harness as harness  # noqa: E402

HEADERS = {"Origin": "http://localhost:5173", "Content-Type": "application/json"}
TARGET_OVERHEAD_SECONDS = 0.100
PNG = b"\x89PNG\r\n\x1a\n" + bytes(64)


def conversion_body():
    return json.dumps({
        "schemaVersion": 1,
        "skeletonJson": json.dumps({"skeleton": {"spine": "4.2.11", "images": "./images/"}}),
        "spineVersion": "4.2", "projectName": "bench",
        "images": [{"path": "a.png", "dataBase64": base64.b64encode(PNG).decode()}]}).encode()


def time_conversion(body):
    started = time.perf_counter()
    reply = harness.request("POST", "/v1/convert", body=body, headers=HEADERS)
    elapsed = time.perf_counter() - started
    if reply.status != 200:
        raise RuntimeError("conversion failed: %d %s" % (reply.status, reply.body[:300]))
    return elapsed


def time_launcher(directory):
    """The launcher with the arguments a conversion gives it, in a folder of its own."""
    output = os.path.join(directory, "bench.spine")
    arguments = ["--update", "4.2.xx", "--input", harness.program_path(os.path.join(directory, "bench.json")),
                 "--output", harness.program_path(output), "--import", "bench"]
    command = ([harness.Options.wine] if harness.is_windows_build() else []) + [harness.Options.stub]
    started = time.perf_counter()
    subprocess.run(command + arguments, check=True, cwd=directory, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - started
    if not os.path.exists(output):
        raise RuntimeError("the launcher wrote no project file")
    os.remove(output)
    return elapsed


def summary(name, times):
    print("%s: median %.3f s (min %.3f, max %.3f, %d runs)"
          % (name, statistics.median(times), min(times), max(times), len(times)))
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--wine", help="the wrapper that runs a Windows program")
    parser.add_argument("--runs", type=int, default=31)
    options = parser.parse_args()
    harness.Options.program = os.path.abspath(options.program)
    harness.Options.stub = os.path.abspath(options.stub)
    harness.Options.wine = os.path.abspath(options.wine) if options.wine else None

    with tempfile.TemporaryDirectory(prefix="glimmer-bench-") as directory:
        connector = harness.Connector(os.path.join(directory, "connector"), spine=harness.Options.stub)
        os.makedirs(connector.directory)
        launcher_directory = os.path.join(directory, "launcher")
        os.makedirs(launcher_directory)
        body = conversion_body()
        connector.start()
        try:
            time_conversion(body)  # the first start of anything under Wine is slower
            time_launcher(launcher_directory)
            conversions, launches = [], []
            for _ in range(options.runs):  # interleaved, so a busy moment hits both alike
                conversions.append(time_conversion(body))
                launches.append(time_launcher(launcher_directory))
        finally:
            connector.stop()
    build = "Windows build under Wine" if harness.is_windows_build() else "native build"
    print("== a conversion whose launcher exits at once (%s)" % build)
    summary("conversion", conversions)
    summary("launcher alone", launches)
    overhead = statistics.median(c - l for c, l in zip(conversions, launches))
    verdict = "ok" if overhead <= TARGET_OVERHEAD_SECONDS else "OVER"
    print("overhead: %.3f s (target <= %.3f s) %s" % (overhead, TARGET_OVERHEAD_SECONDS, verdict))
    return 0 if verdict == "ok" else 1


if __name__ == "__main__":
    sys.exit(main())
