#!/usr/bin/env python3
"""Times the largest conversion the limits accept against the real program.

128 MiB of decoded images spread over 64 images (2 MiB each) plus a 4 MiB skeleton, posted
several times; prints the median wall time per request, the request body's MB/s and the
server's peak resident memory (VmHWM)."""
import argparse
import base64
import json
import os
import random
import statistics
import sys
import tempfile
import shutil
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import connector_harness as harness  # noqa: E402

IMAGE_COUNT = 64
IMAGE_BYTES = 2 * 1024 * 1024  # 64 x 2 MiB = 128 MiB, the total the request decoding accepts
SKELETON_BYTES = 4 * 1024 * 1024


def skeleton_text(size):
    """A skeleton document of exactly size bytes (padding in a member Spine's format ignores)."""
    head = '{"skeleton":{"spine":"4.2.11","images":"./images/"},"bones":[{"name":"root"}],"pad":"'
    tail = '"}'
    return head + "x" * (size - len(head) - len(tail)) + tail


def request_body():
    generator = random.Random(27843)  # the same bytes on every run
    images = [{"path": "part%02d.png" % i,
               "dataBase64": base64.b64encode(generator.randbytes(IMAGE_BYTES)).decode("ascii")}
              for i in range(IMAGE_COUNT)]
    body = {"schemaVersion": 1, "skeletonJson": skeleton_text(SKELETON_BYTES), "spineVersion": "4.2",
            "projectName": "bench", "images": images}
    return json.dumps(body).encode("ascii")


def peak_resident_kib(pid):
    with open("/proc/%d/status" % pid, encoding="ascii") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    raise RuntimeError("no VmHWM for pid %d" % pid)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--runs", type=int, default=5)
    options = parser.parse_args()
    harness.Options.program = os.path.abspath(options.program)
    harness.Options.stub = os.path.abspath(options.stub)

    body = request_body()
    print("request body: %d bytes (%.1f MiB); limit 209715200" % (len(body), len(body) / 2**20))
    directory = tempfile.mkdtemp(prefix="glimmer-bench-")
    connector = harness.Connector(directory, spine=harness.Options.stub)
    try:
        connector.start()
        times = []
        for run in range(1, options.runs + 1):
            started = time.perf_counter()
            reply = harness.request("POST", "/v1/convert", body=body,
                                    headers={"Origin": "http://localhost:5173",
                                             "Content-Type": "application/json"})
            elapsed = time.perf_counter() - started
            if reply.status != 200:
                raise RuntimeError("run %d: status %d: %r" % (run, reply.status, reply.body[:300]))
            times.append(elapsed)
            print("run %d: %.3f s, archive %d bytes" % (run, elapsed, len(reply.body)))
        peak = peak_resident_kib(connector.process.pid)
    finally:
        connector.stop()
        shutil.rmtree(directory, ignore_errors=True)

    median = statistics.median(times)
    print("median wall time per request: %.3f s" % median)
    print("request body throughput: %.1f MB/s" % (len(body) / median / 1e6))
    print("server peak resident memory (VmHWM): %.1f MiB" % (peak / 1024))


if __name__ == "__main__":
    main()
