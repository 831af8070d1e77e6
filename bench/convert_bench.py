#!/usr/bin/env python3
"""Times conversions against the real program and prints each figure beside its target.

1. The largest request the limits accept: 128 MiB of decoded images spread over 64 images
   (2 MiB each) plus a 4 MiB skeleton, posted several times to one server. Median wall time,
   the body's MB/s, the server's CPU time per request (steadier than wall time on a busy
   machine), its peak resident memory (VmHWM) after the first request and after the last.
2. A 64 MiB 4.x skeleton of numeric arrays (7.2 million numbers with four decimals) and no
   images, on a fresh server: the conversion's memory on top of the request body.
3. The health endpoint with one connection per request (wrk, 16 connections,
   "Connection: close"), on a fresh server."""
import argparse
import base64
import json
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import connector_harness as harness  # noqa: E402

IMAGE_COUNT = 64
IMAGE_BYTES = 2 * 1024 * 1024  # 64 x 2 MiB = 128 MiB, the total the request decoding accepts
SKELETON_BYTES = 4 * 1024 * 1024
NUMERIC_SKELETON_LIMIT = 64 * 1024 * 1024
NUMERIC_COUNT = 7_200_000
HEADERS = {"Origin": "http://localhost:5173", "Content-Type": "application/json"}

TARGET_MEDIAN_S = 0.5
TARGET_PEAK_PER_BODY = 2.0
TARGET_NUMERIC_PER_SKELETON = 2.0
GROWTH_TOLERANCE_KIB = 8 * 1024  # a connection thread's stack and allocator slack, not the data


def skeleton_text(size):
    """A skeleton document of exactly size bytes (padding in a member Spine's format ignores)."""
    head = '{"skeleton":{"spine":"4.2.11","images":"./images/"},"bones":[{"name":"root"}],"pad":"'
    tail = '"}'
    return head + "x" * (size - len(head) - len(tail)) + tail


def numeric_skeleton_text():
    """Meshes whose vertices and animation keys are numbers with four decimals, as exported data
    looks: NUMERIC_COUNT numbers in arrays of 10,000, just under the 64 MiB limit."""
    generator = random.Random(4242)
    per_array = 10_000
    arrays = []
    for index in range(NUMERIC_COUNT // per_array):
        values = ",".join("%.4f" % generator.uniform(-99.0, 99.0) for _ in range(per_array))
        arrays.append('"m%d":{"type":"mesh","vertices":[%s]}' % (index, values))
    text = ('{"skeleton":{"spine":"4.2.11","images":"./images/"},"bones":[{"name":"root"}],'
            '"skins":[{"name":"default","attachments":{"body":{%s}}}]}' % ",".join(arrays))
    if len(text) > NUMERIC_SKELETON_LIMIT:
        raise RuntimeError("numeric skeleton of %d bytes is over the limit" % len(text))
    return text


def request_body(skeleton, images):
    body = {"schemaVersion": 1, "skeletonJson": skeleton, "spineVersion": "4.2",
            "projectName": "bench", "images": images}
    return json.dumps(body).encode("ascii")


def largest_body(image_count):
    generator = random.Random(27843)  # the same bytes on every run
    images = [{"path": "part%02d.png" % i,
               "dataBase64": base64.b64encode(generator.randbytes(IMAGE_BYTES)).decode("ascii")}
              for i in range(image_count)]
    return request_body(skeleton_text(SKELETON_BYTES), images)


def status_kib(pid, field):
    with open("/proc/%d/status" % pid, encoding="ascii") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError("no %s for pid %d" % (field, pid))


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid, encoding="ascii") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")  # utime + stime


def verdict(value, target, lower_is_better=True):
    ok = value <= target if lower_is_better else value >= target
    return "meets" if ok else "MISSES"


class Server:
    def __init__(self, name):
        self.directory = tempfile.mkdtemp(prefix="glimmer-bench-%s-" % name)
        self.connector = harness.Connector(self.directory, spine=harness.Options.stub)

    def __enter__(self):
        self.connector.start()
        return self

    def __exit__(self, *errors):
        self.connector.stop()
        shutil.rmtree(self.directory, ignore_errors=True)

    @property
    def pid(self):
        return self.connector.process.pid

    def convert(self, body):
        started = time.perf_counter()
        reply = harness.request("POST", "/v1/convert", body=body, headers=HEADERS)
        elapsed = time.perf_counter() - started
        if reply.status != 200:
            raise RuntimeError("status %d: %r" % (reply.status, reply.body[:300]))
        return elapsed, reply


def largest_case(runs, image_count):
    body = largest_body(image_count)
    print("== largest request: %d bytes (%.1f MiB); limit 209715200" % (len(body), len(body) / 2**20))
    with Server("largest") as server:
        times, cpu = [], []
        peak_first = None
        for run in range(1, runs + 1):
            cpu_before = cpu_seconds(server.pid)
            elapsed, reply = server.convert(body)
            cpu.append(cpu_seconds(server.pid) - cpu_before)
            times.append(elapsed)
            if peak_first is None:
                peak_first = status_kib(server.pid, "VmHWM")
            print("run %d: %.3f s wall, %.3f s server CPU, archive %d bytes"
                  % (run, elapsed, cpu[-1], len(reply.body)))
        peak_last = status_kib(server.pid, "VmHWM")
        time.sleep(0.5)  # the server lets go of a request's memory after its reply has gone
        resident_after = status_kib(server.pid, "VmRSS")
    median = statistics.median(times)
    peak_ratio = peak_last * 1024 / len(body)
    print("median wall time per request: %.3f s (target <= %.1f s: %s)"
          % (median, TARGET_MEDIAN_S, verdict(median, TARGET_MEDIAN_S)))
    print("request body throughput: %.1f MB/s" % (len(body) / median / 1e6))
    print("median server CPU time per request: %.3f s" % statistics.median(cpu))
    print("server peak resident memory (VmHWM): %.1f MiB = %.2f x the body (target <= %.1f: %s)"
          % (peak_last / 1024, peak_ratio, TARGET_PEAK_PER_BODY, verdict(peak_ratio, TARGET_PEAK_PER_BODY)))
    print("peak after request 1: %.1f MiB, after request %d: %.1f MiB (target: no growth: %s); "
          "resident after the last: %.1f MiB"
          % (peak_first / 1024, runs, peak_last / 1024,
             verdict(peak_last - peak_first, GROWTH_TOLERANCE_KIB), resident_after / 1024))


def numeric_case():
    skeleton = numeric_skeleton_text()
    body = request_body(skeleton, [])
    print("== numeric 4.x skeleton: %d bytes of skeleton text, body %d bytes" % (len(skeleton), len(body)))
    with Server("numeric") as server:
        resident_before = status_kib(server.pid, "VmRSS")
        cpu_before = cpu_seconds(server.pid)
        elapsed, _ = server.convert(body)
        cpu = cpu_seconds(server.pid) - cpu_before
        peak = status_kib(server.pid, "VmHWM")
    conversion = peak * 1024 - resident_before * 1024 - len(body)
    ratio = conversion / len(skeleton)
    print("wall time: %.3f s, server CPU time: %.3f s" % (elapsed, cpu))
    print("server peak %.1f MiB, idle %.1f MiB: conversion memory on top of the body %.1f MiB = %.2f x the "
          "skeleton text (target < %.1f: %s)"
          % (peak / 1024, resident_before / 1024, conversion / 2**20, ratio, TARGET_NUMERIC_PER_SKELETON,
             verdict(ratio, TARGET_NUMERIC_PER_SKELETON)))


def health_case(seconds):
    wrk = shutil.which("wrk")
    print("== health, one connection per request (wrk, 16 connections, Connection: close)")
    if wrk is None:
        print("health rate: not measured, wrk is not installed (scripts/install-deps.sh installs it)")
        return
    with Server("health"):
        url = "http://%s:%d/v1/health" % (harness.HOST, harness.PORT)
        output = subprocess.run([wrk, "-t", "2", "-c", "16", "-d", "%ds" % seconds,
                                 "-H", "Connection: close", url],
                                check=True, capture_output=True, text=True).stdout
    rate = re.search(r"Requests/sec:\s*([0-9.]+)", output)
    errors = re.search(r"Socket errors:.*|Non-2xx.*", output)
    print("health rate: %s requests/s (target: higher than before)%s"
          % (rate.group(1) if rate else "?", "; " + errors.group(0) if errors else ""))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--health-seconds", type=int, default=5)
    parser.add_argument("--only", choices=["largest", "numeric", "health"])
    parser.add_argument("--images", type=int, default=IMAGE_COUNT,
                        help="fewer images for slow profilers such as callgrind")
    options = parser.parse_args()
    harness.Options.program = os.path.abspath(options.program)
    harness.Options.stub = os.path.abspath(options.stub)
    print("load average at the start: %.1f %.1f %.1f (the machine's other work slows wall times)"
          % os.getloadavg())
    if options.only in (None, "largest"):
        largest_case(options.runs, options.images)
    if options.only in (None, "numeric"):
        numeric_case()
    if options.only in (None, "health"):
        health_case(options.health_seconds)


if __name__ == "__main__":
    main()
