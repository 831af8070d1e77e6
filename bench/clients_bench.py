#!/usr/bin/env python3
"""Times what ordinary HTTP clients see (native build, test launcher for Spine).

1. A typical conversion (8 images of 512 KiB) posted by curl with its defaults, which sends
   "Expect: 100-continue" and waits up to a second for the interim reply, and by wget, which
   does not. Median wall time of each.
2. Quick requests while conversions wait: one conversion hangs in the launcher, QUEUED more
   wait for their turn, then health, the pairing page, a preflight and a 404 are each timed
   (5 s at most)."""
import argparse
import base64
import http.client
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import connector_harness as harness  # noqa: E402

EDITOR = "http://localhost:5173"
URL = "http://%s:%d/v1/convert" % (harness.HOST, harness.PORT)
QUEUED = 64
PROBE_SECONDS = 5


def body(project_name, image_count, image_bytes):
    generator = random.Random(18)
    return json.dumps({
        "schemaVersion": 1,
        "skeletonJson": json.dumps({"skeleton": {"spine": "4.2.11", "images": "./images/"}}),
        "spineVersion": "4.2", "projectName": project_name,
        "images": [{"path": "p%d.png" % i,
                    "dataBase64": base64.b64encode(generator.randbytes(image_bytes)).decode()}
                   for i in range(image_count)]}).encode("ascii")


def timed(command):
    started = time.perf_counter()
    subprocess.run(command, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    return time.perf_counter() - started


def clients_case(directory, runs):
    path = os.path.join(directory, "body.json")
    with open(path, "wb") as out:
        out.write(body("bench", 8, 512 * 1024))
    print("== typical conversion: %d bytes of body, %d runs each" % (os.path.getsize(path), runs))
    headers = ["-H", "Origin: " + EDITOR, "-H", "Content-Type: application/json"]
    commands = {
        "curl (defaults)": ["curl", "-sS", "-o", os.devnull] + headers
                           + ["--data-binary", "@" + path, URL],
        "wget": ["wget", "-q", "-O", os.devnull, "--header", "Origin: " + EDITOR, "--header",
                 "Content-Type: application/json", "--post-file=" + path, URL],
    }
    for name, command in commands.items():
        times = [timed(command) for _ in range(runs)]
        print("%s: median %.3f s (min %.3f, max %.3f)"
              % (name, statistics.median(times), min(times), max(times)))


def probe(method, path, headers=None):
    connection = http.client.HTTPConnection(harness.HOST, harness.PORT, timeout=PROBE_SECONDS)
    started = time.perf_counter()
    try:
        connection.request(method, path, headers=headers or {})
        status = connection.getresponse().status
        return "%d in %.3f s" % (status, time.perf_counter() - started)
    except OSError:
        return "no answer within %d s" % PROBE_SECONDS
    finally:
        connection.close()


def waiting_case():
    print("== quick requests with one conversion hanging and %d waiting for their turn" % QUEUED)
    small = body("queued", 1, 1024)

    def convert(data):
        try:
            harness.request("POST", "/v1/convert", body=data,
                            headers={"Origin": EDITOR, "Content-Type": "application/json"},
                            timeout=600)
        except OSError:
            pass  # ended by the stop below

    threads = [threading.Thread(target=convert, args=(body("stub-hang", 1, 1024),), daemon=True)]
    threads[0].start()
    time.sleep(1)  # the hanging one holds the conversion lock first
    for _ in range(QUEUED):
        threads.append(threading.Thread(target=convert, args=(small,), daemon=True))
        threads[-1].start()
    time.sleep(3)  # every queued request read and waiting
    print("health: " + probe("GET", "/v1/health", {"Origin": EDITOR}))
    print("pairing page: " + probe("GET", "/pair?origin=https%3A%2F%2Fnew.example"))
    print("preflight: " + probe("OPTIONS", "/v1/convert", {"Origin": EDITOR}))
    print("404: " + probe("GET", "/nowhere"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--runs", type=int, default=5)
    options = parser.parse_args()
    harness.Options.program = os.path.abspath(options.program)
    harness.Options.stub = os.path.abspath(options.stub)
    print("load average at the start: %.1f %.1f %.1f" % os.getloadavg())
    for case in (lambda directory: clients_case(directory, options.runs), lambda _: waiting_case()):
        directory = tempfile.mkdtemp(prefix="glimmer-bench-clients-")
        connector = harness.Connector(directory, spine=harness.Options.stub)
        try:
            connector.start()
            case(directory)
        finally:
            connector.stop()
            shutil.rmtree(directory, ignore_errors=True)


if __name__ == "__main__":
    main()
