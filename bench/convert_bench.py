#!/usr/bin/env python3
"""Times conversions against the real program and prints each figure beside its target.

1. The largest request the limits accept: 128 MiB of decoded images spread over 64 images
   (2 MiB each) plus a 4 MiB skeleton, posted several times with curl to one server, in turn
   with the same request to the floor server (bench/floor_server.cpp: only the work no
   conversion can avoid). The ratio of the medians is the figure that holds on a busy machine;
   also the body's MB/s, the server's CPU time per request, its peak resident memory (VmHWM)
   after the first request and after the last, and how soon its memory returns when idle.
2. A 64 MiB 4.x skeleton of numeric arrays (7.2 million numbers with four decimals) and no
   images, on a fresh server: the conversion's memory on top of the request body.
3. The health endpoint with one connection per request (wrk, 16 connections,
   "Connection: close"), in turn with nginx serving a static file of the reply's size with
   keep-alive off.
4. Deep image paths: "a/" repeated 1,000 to 16,000 times, each on a fresh server: the reply, its
   wall and CPU time (the wall time follows the disk and the machine's load; the CPU time is the
   figure), the server's peak resident memory and the workspaces left behind. Paths past the
   system's limit must fail at once with the folder message; the others are staged."""
import argparse
import base64
import json
import os
import random
import re
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import connector_harness as harness  # noqa: E402

IMAGE_COUNT = 64
IMAGE_BYTES = 2 * 1024 * 1024  # 64 x 2 MiB = 128 MiB, the total the request decoding accepts
SKELETON_BYTES = 4 * 1024 * 1024
NUMERIC_SKELETON_LIMIT = 64 * 1024 * 1024
NUMERIC_COUNT = 7_200_000
HEADERS = {"Origin": "http://localhost:5173", "Content-Type": "application/json"}

TARGET_PER_FLOOR = 1.3
TARGET_PEAK_PER_BODY = 1.8
TARGET_NUMERIC_PER_SKELETON = 2.0
TARGET_IDLE_KIB = 5 * 1024
TARGET_IDLE_SECONDS = 5.0
TARGET_HEALTH_PER_NGINX = 0.9
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


class FloorServer:
    """bench/floor_server.cpp on a free port, sending back reply_bytes."""

    def __init__(self, program, reply_bytes):
        self.process = subprocess.Popen([program, str(reply_bytes)], stdout=subprocess.PIPE,
                                        stdin=subprocess.DEVNULL, text=True)
        self.port = int(self.process.stdout.readline())

    def __enter__(self):
        return self

    def __exit__(self, *errors):
        self.process.terminate()
        self.process.wait(timeout=20)


def curl_post(port, body_path):
    """(seconds, status, reply bytes) of one POST of the file, as curl times it; no expectation
    header, so both servers receive the body the same way."""
    command = ["curl", "-sS", "-o", os.devnull, "-w", "%{http_code} %{size_download} %{time_total}",
               "-H", "Expect:", "--data-binary", "@" + body_path,
               "http://%s:%d/v1/convert" % (harness.HOST, port)]
    for name, value in HEADERS.items():
        command[1:1] = ["-H", "%s: %s" % (name, value)]
    status, size, seconds = subprocess.run(command, check=True, capture_output=True,
                                           text=True).stdout.split()
    return float(seconds), int(status), int(size)


def idle_return(pid, seconds):
    """Seconds until the resident memory is under the target, or None, and the last reading."""
    started = time.monotonic()
    while True:
        resident = status_kib(pid, "VmRSS")
        waited = time.monotonic() - started
        if resident < TARGET_IDLE_KIB:
            return waited, resident
        if waited > seconds:
            return None, resident
        time.sleep(0.1)


def largest_case(runs, image_count, floor_program):
    body = largest_body(image_count)
    print("== largest request: %d bytes (%.1f MiB); limit 209715200" % (len(body), len(body) / 2**20))
    with tempfile.NamedTemporaryFile(prefix="glimmer-bench-body-", suffix=".json") as body_file, \
            Server("largest") as server:
        body_file.write(body)
        body_file.flush()
        del body
        body_size = os.path.getsize(body_file.name)
        times, floor_times, cpu = [], [], []
        peak_first = None
        floor = None
        try:
            for run in range(1, runs + 1):
                cpu_before = cpu_seconds(server.pid)
                elapsed, status, reply_size = curl_post(harness.PORT, body_file.name)
                if status != 200:
                    raise RuntimeError("status %d from the connector" % status)
                cpu.append(cpu_seconds(server.pid) - cpu_before)
                times.append(elapsed)
                if peak_first is None:
                    peak_first = status_kib(server.pid, "VmHWM")
                    floor = FloorServer(floor_program, reply_size)
                floor_elapsed, floor_status, _ = curl_post(floor.port, body_file.name)
                if floor_status != 200:
                    raise RuntimeError("status %d from the floor server" % floor_status)
                floor_times.append(floor_elapsed)
                print("run %d: %.3f s wall (floor %.3f s), %.3f s server CPU, archive %d bytes"
                      % (run, elapsed, floor_elapsed, cpu[-1], reply_size))
        finally:
            if floor is not None:
                floor.__exit__()
        peak_last = status_kib(server.pid, "VmHWM")
        idle_seconds, resident_after = idle_return(server.pid, 2 * TARGET_IDLE_SECONDS)
    median = statistics.median(times)
    floor_median = statistics.median(floor_times)
    ratio = median / floor_median
    peak_ratio = peak_last * 1024 / body_size
    print("median wall time per request: %.3f s, floor %.3f s: %.2f x the floor (target <= %.1f: %s)"
          % (median, floor_median, ratio, TARGET_PER_FLOOR, verdict(ratio, TARGET_PER_FLOOR)))
    print("request body throughput: %.1f MB/s" % (body_size / median / 1e6))
    print("median server CPU time per request: %.3f s" % statistics.median(cpu))
    print("server peak resident memory (VmHWM): %.1f MiB = %.2f x the body (target <= %.1f: %s)"
          % (peak_last / 1024, peak_ratio, TARGET_PEAK_PER_BODY, verdict(peak_ratio, TARGET_PEAK_PER_BODY)))
    print("peak after request 1: %.1f MiB, after request %d: %.1f MiB (target: no growth: %s)"
          % (peak_first / 1024, runs, peak_last / 1024,
             verdict(peak_last - peak_first, GROWTH_TOLERANCE_KIB)))
    if idle_seconds is None:
        print("idle resident memory: still %.1f MiB after %.0f s (target < %d MiB within %.0f s: MISSES)"
              % (resident_after / 1024, 2 * TARGET_IDLE_SECONDS, TARGET_IDLE_KIB // 1024,
                 TARGET_IDLE_SECONDS))
    else:
        print("idle resident memory: %.1f MiB after %.1f s (target < %d MiB within %.0f s: %s)"
              % (resident_after / 1024, idle_seconds, TARGET_IDLE_KIB // 1024, TARGET_IDLE_SECONDS,
                 verdict(idle_seconds, TARGET_IDLE_SECONDS)))


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


DEEP_LEVELS = (1000, 1900, 4000, 8000, 16000)
TARGET_DEEP_SECONDS = 0.5
TARGET_DEEP_PEAK_KIB = 64 * 1024


def deep_case(all_levels):
    print("== deep image paths, \"a/\" repeated, one fresh server each")
    for levels in all_levels:
        image = {"path": "a/" * levels + "x.png", "dataBase64": "AAAA"}
        body = request_body(skeleton_text(1024), [image])
        directory = tempfile.mkdtemp(prefix="glimmer-bench-deep-")
        temp = os.path.join(directory, "tmp")
        os.mkdir(temp)
        connector = harness.Connector(directory, spine=harness.Options.stub,
                                      extra_environment={"TMPDIR": temp})
        try:
            connector.start()
            pid = connector.process.pid
            resident_before = status_kib(pid, "VmHWM")
            cpu_before = cpu_seconds(pid)
            started = time.perf_counter()
            reply = harness.request("POST", "/v1/convert", body=body, headers=HEADERS, timeout=600)
            elapsed = time.perf_counter() - started
            cpu = cpu_seconds(pid) - cpu_before
            peak = status_kib(pid, "VmHWM")
            left = os.listdir(temp)
        finally:
            connector.stop()
            shutil.rmtree(directory, ignore_errors=True)
        message = ""
        if reply.status != 200:
            message = json.loads(reply.body.decode("utf-8")).get("message", "")
        print("%6d levels (%6d-byte body): status %d %s in %.3f s wall, %.3f s server CPU (target <= %.1f: "
              "%s), peak %.1f MiB, %.1f MiB over idle (target <= %d MiB: %s), workspaces left %d"
              % (levels, len(body), reply.status, message, elapsed, cpu, TARGET_DEEP_SECONDS,
                 verdict(cpu, TARGET_DEEP_SECONDS), peak / 1024, (peak - resident_before) / 1024,
                 TARGET_DEEP_PEAK_KIB // 1024, verdict(peak - resident_before, TARGET_DEEP_PEAK_KIB),
                 len(left)))


NGINX_CONFIG = """worker_processes auto;
user root;
pid {root}/nginx.pid;
error_log {root}/error.log;
events {{ worker_connections 1024; }}
http {{
  access_log off;
  keepalive_timeout 0;
  client_body_temp_path {root}/body;
  server {{
    listen 127.0.0.1:{port};
    root {root}/www;
    location / {{ default_type application/json; }}
  }}
}}
"""


class Nginx:
    """nginx serving a static JSON file as large as the health reply, keep-alive off."""

    def __init__(self, program, reply_size):
        self.root = tempfile.mkdtemp(prefix="glimmer-bench-nginx-")
        with socket.socket() as probe:
            probe.bind((harness.HOST, 0))
            self.port = probe.getsockname()[1]
        os.mkdir(os.path.join(self.root, "www"))
        head, tail = '{"pad":"', '"}'
        with open(os.path.join(self.root, "www", "health.json"), "w", encoding="ascii") as static:
            static.write(head + "x" * (reply_size - len(head) - len(tail)) + tail)
        config = os.path.join(self.root, "nginx.conf")
        with open(config, "w", encoding="ascii") as out:
            out.write(NGINX_CONFIG.format(root=self.root, port=self.port))
        self.process = subprocess.Popen([program, "-p", self.root, "-c", config, "-g", "daemon off;"],
                                        stdin=subprocess.DEVNULL)
        self.url = "http://%s:%d/health.json" % (harness.HOST, self.port)
        deadline = time.monotonic() + 20
        while True:
            try:
                with urllib.request.urlopen(self.url, timeout=2) as reply:
                    reply.read()
                break
            except OSError:
                if self.process.poll() is not None or time.monotonic() > deadline:
                    self.close()
                    raise RuntimeError("nginx did not start serving")
                time.sleep(0.1)

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=20)
        shutil.rmtree(self.root, ignore_errors=True)


def wrk_rate(wrk, url, seconds):
    output = subprocess.run([wrk, "-t", "2", "-c", "16", "-d", "%ds" % seconds,
                             "-H", "Connection: close", url],
                            check=True, capture_output=True, text=True).stdout
    rate = re.search(r"Requests/sec:\s*([0-9.]+)", output)
    errors = re.search(r"Socket errors:.*|Non-2xx.*", output)
    return float(rate.group(1)) if rate else 0.0, errors.group(0) if errors else None


def health_case(seconds, rounds, nginx_program):
    wrk = shutil.which("wrk")
    print("== health, one connection per request (wrk, 16 connections, Connection: close), "
          "in turn with nginx")
    if wrk is None:
        print("health rate: not measured, wrk is not installed (scripts/install-deps.sh installs it)")
        return
    if nginx_program is None:
        print("health rate against nginx: not measured, nginx is not installed (bench/run.sh installs "
              "nginx-light)")
    with Server("health"):
        url = "http://%s:%d/v1/health" % (harness.HOST, harness.PORT)
        reply_size = len(harness.request("GET", "/v1/health").body)
        nginx = Nginx(nginx_program, reply_size) if nginx_program else None
        ours, theirs, ratios = [], [], []
        try:
            for _ in range(rounds if nginx else 1):
                rate, errors = wrk_rate(wrk, url, seconds)
                ours.append(rate)
                if errors:
                    print("connector: " + errors)
                if nginx:
                    rate, errors = wrk_rate(wrk, nginx.url, seconds)
                    theirs.append(rate)
                    ratios.append(ours[-1] / rate if rate else 0.0)
                    if errors:
                        print("nginx: " + errors)
        finally:
            if nginx:
                nginx.close()
    if not nginx:
        print("health rate: %.0f requests/s" % ours[0])
        return
    ratio = statistics.median(ratios)
    print("health rate: %.0f requests/s, nginx %.0f requests/s (%d-byte file), medians of %d; "
          "%.2f x nginx (target >= %.1f: %s)"
          % (statistics.median(ours), statistics.median(theirs), reply_size, rounds, ratio,
             TARGET_HEALTH_PER_NGINX, verdict(ratio, TARGET_HEALTH_PER_NGINX, lower_is_better=False)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--floor", required=True, help="the floor server (bench/floor_server.cpp)")
    parser.add_argument("--nginx", help="nginx, for the health rate's yardstick")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--health-seconds", type=int, default=5)
    parser.add_argument("--health-rounds", type=int, default=3)
    parser.add_argument("--only", choices=["largest", "numeric", "health", "deep"])
    parser.add_argument("--images", type=int, default=IMAGE_COUNT,
                        help="fewer images for slow profilers such as callgrind")
    parser.add_argument("--deep-levels", type=lambda text: [int(n) for n in text.split(",")],
                        default=DEEP_LEVELS, help="levels of the deep paths, e.g. 1000,4000")
    options = parser.parse_args()
    harness.Options.program = os.path.abspath(options.program)
    harness.Options.stub = os.path.abspath(options.stub)
    print("load average at the start: %.1f %.1f %.1f (the machine's other work slows wall times)"
          % os.getloadavg())
    if options.only in (None, "largest"):
        largest_case(options.runs, options.images, os.path.abspath(options.floor))
    if options.only in (None, "numeric"):
        numeric_case()
    if options.only in (None, "health"):
        health_case(options.health_seconds, options.health_rounds, options.nginx)
    if options.only in (None, "deep"):
        deep_case(options.deep_levels)


if __name__ == "__main__":
    main()
