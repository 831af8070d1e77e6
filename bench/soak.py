#!/usr/bin/env python3
"""Runs the real program for a given time under a mix of work and faults, checks every reply, and
prints what its process holds at start, after warm-up and at the end.

The mix, drawn at random by a few clients: conversions whose test launcher succeeds, fails,
crashes, writes an empty project, leaves a grandchild holding a file in the workspace, or floods
its output; pairings (each confirmed origin must then be authorized, and stay in the settings
file); health from paired and unknown origins, and in bursts; hostile clients (malformed heads,
oversized lengths, a transfer coding, clients that abort mid-body, clients that never read their
reply). Every reply is read raw to the connection's end and its framing checked, then compared
with what its request must get; a success's archive is opened and compared entry by entry
(bench/soak_wire.py).

The figures after warm-up and at the end are taken once the clients are done and the pool's idle
time has passed: descriptors (for the Windows build, the handles the system's handle table lists
for the program), threads and resident memory of its process, workspaces left in its private
temporary folder, launcher processes left, pairings missing from the settings
(bench/soak_program.py). The exit status is 1 on any wrong reply, lost pairing, leftover, or
growth after warm-up.

By hand: python3 bench/soak.py --program build/native/src/glimmer-connector
--stub build/native/tests/support/spine-stub --seconds 60 (with --wine scripts/wine-run.sh for
the Windows build, under scripts/with-xvfb.sh), holding /tmp/port27843.lock with flock."""
import argparse
import html
import os
import random
import re
import shutil
import signal
import socket
import sys
import tempfile
import threading
import time
import urllib.parse

from soak_program import Figures, SoakConnector, harness
from soak_wire import (Wrong, compact, connect, conversion_request, exchange, expect,
                       expect_archive, expect_bad_request, expect_failure, expect_json,
                       expect_status, parse_reply, read_to_end, request_bytes, reset, shown)

EDITOR = "http://localhost:5173"
SUPPORTED_VERSIONS = ["3.8", "4.0", "4.1", "4.2", "4.3"]
PAIRED_TEXT = "<h2>授权成功</h2><p><code>%s</code>"
EXPIRED_TEXT = "<h2>授权已过期，请返回编辑器重试</h2>"

# Growth allowed from after warm-up to the end, both measured idle: a descriptor or two that the
# C library or Wine opens once, on a late first use; a thread Wine may start so; the allocator's
# slack over freed bodies, outputs and archives. Measured: with the thread count held still, +0
# handles and +136 KiB under Wine; natively +0 descriptors and under 2 MiB even with 26 more
# threads.
DESCRIPTOR_TOLERANCE = 4
THREAD_TOLERANCE = 2
MEMORY_TOLERANCE_KIB = 8 * 1024
# Idle threads leave the pool after about 10 s, so that it is back to its fresh thread count
# within 30 s of any burst; the wait for them ends there.
SETTLE_LIMIT = 30

BAD_HEADS = [
    b"GET /v1/health\r\nHost: 127.0.0.1:27843\r\n\r\n",  # two tokens in the request line
    b"GET /pair?origin=%zz HTTP/1.1\r\n\r\n",  # a bad escape in the query
    b"GET /v1/health HTTP/1.1\r\nX-Soak: a\x00b\r\n\r\n",  # a NUL in a header
    b"\r\n\r\n",  # no request line at all
]
BAD_LENGTHS = [("209715201", 413), ("-1", 413), ("99999999999999999999999", 400)]


def some_images(rng, largest=48 * 1024):
    return [("%sp%d.png" % (rng.choice(["", "sub/"]), index), rng.randbytes(rng.randrange(largest)))
            for index in range(rng.randrange(1, 4))]


class Soak:
    def __init__(self, options, directory):
        self.options = options
        self.directory = directory
        self.connector = SoakConnector(directory)
        self.lock = threading.Lock()
        self.counts = {kind: [0, 0] for kind, _, _ in self.CONVERSIONS + self.OTHERS}
        self.wrong = []  # (kind, what was wrong)
        self.paired = set()
        self.next_origin = 0
        self.version = None

    # The kinds of work. Each raises Wrong, or a socket error, when its reply is not right.

    def convert(self, name, images):
        return exchange(conversion_request(EDITOR, name, images))

    def convert_succeeds(self, rng):
        name = rng.choice(["soak", "特效", "soak-%d" % rng.randrange(1000)])
        images = some_images(rng)
        expect_archive(self.convert(name, images), EDITOR, name, images, "4.2.43")

    def convert_fails(self, rng):
        expect_failure(self.convert("stub-fail", some_images(rng)), EDITOR,
                       "Spine 授权信息已隐藏\nERROR: cannot import skeleton")

    def convert_crashes(self, rng):
        # Under Wine the crash report follows the launcher's last line.
        value = expect_json(self.convert("stub-crash", some_images(rng)), 500, EDITOR)
        expect(value.get("code") == "CONVERSION_FAILED" and
               str(value.get("message")).split("\n")[0] == "stub: crashing", "reply %s" % value)

    def convert_empty_project(self, rng):
        expect_failure(self.convert("stub-empty-project", some_images(rng)), EDITOR,
                       "Spine 未生成有效的工程文件")

    def convert_grandchild_left(self, rng):
        images = some_images(rng)
        reply = self.convert("stub-tree-holding", images)
        expect_archive(reply, EDITOR, "stub-tree-holding", images, "4.2.43")

    def convert_floods_output(self, rng):
        # 6 MiB of output and no "Starting:" line: the version stays the pattern.
        images = some_images(rng)
        reply = self.convert("stub-huge-output", images)
        expect_archive(reply, EDITOR, "stub-huge-output", images, "4.2.xx")

    def check_health(self, origin, authorized):
        report = {"authorized": authorized, "connectorVersion": self.version,
                  "platform": harness.expected_platform(), "secureAvailable": False,
                  "spineFound": True, "supportedVersions": SUPPORTED_VERSIONS}
        if not authorized:
            report["pairUrl"] = "http://127.0.0.1:%d/pair?origin=%s" % (
                harness.PORT, urllib.parse.quote(origin, safe=""))
        reply = exchange(request_bytes("GET", "/v1/health", [("Origin", origin)]))
        expect_json(reply, 200, origin)
        expect(reply.body == compact(report), "health for %s: %s" % (origin, shown(reply.body)))

    def health(self, rng):
        with self.lock:
            paired = sorted(self.paired)
        if rng.random() < 0.7:
            self.check_health(rng.choice(paired), True)
        else:
            self.check_health("https://stranger-%d.example" % rng.randrange(10**6), False)

    def health_burst(self, rng):
        """Many connections at once, as a page polling from several tabs: the pool grows."""
        failures = []

        def one():
            try:
                self.check_health(EDITOR, True)
            except Exception as error:  # noqa: BLE001 - any failure is this burst's wrong reply
                failures.append(error)

        clients = [threading.Thread(target=one) for _ in range(rng.randrange(16, 49))]
        for client in clients:
            client.start()
        for client in clients:
            client.join()
        if failures:
            raise Wrong("%d of %d: %r" % (len(failures), len(clients), failures[0]))

    def pairing(self, rng):
        with self.lock:
            self.next_origin += 1
            origin = "http://soak-%d.example:%d" % (self.next_origin, rng.randrange(1, 65536))
        self.pair(origin)

    def pair(self, origin):
        """The page, its confirmation, a second confirmation of the spent nonce, then health."""
        page = exchange(request_bytes("GET", "/pair?origin=" + urllib.parse.quote(origin, safe="")))
        expect_status(page, 200)
        expect(page.headers.get("Content-Type") == "text/html; charset=utf-8" and
               page.headers.get("Cache-Control") == "no-store", "page headers %s" % page.headers)
        nonce = re.search(rb'name="nonce" value="([0-9a-f]{48})"', page.body)
        expect(nonce and html.escape(origin).encode() in page.body,
               "page %s" % shown(page.body[-300:]))
        form = [("Content-Type", "application/x-www-form-urlencoded")]
        done = exchange(request_bytes("POST", "/pair", form, b"nonce=" + nonce.group(1)))
        expect_status(done, 200)
        expect((PAIRED_TEXT % html.escape(origin)).encode() in done.body,
               "success page %s" % shown(done.body[-300:]))
        with self.lock:
            self.paired.add(origin)
        again = exchange(request_bytes("POST", "/pair", form, b"nonce=" + nonce.group(1)))
        expect_status(again, 400)
        expect(EXPIRED_TEXT.encode() in again.body,
               "second confirmation %s" % shown(again.body[-300:]))
        self.check_health(origin, True)

    def malformed_head(self, rng):
        if rng.random() < 0.3:
            # Bytes that never end a head, then the client's end of sending.
            garbage = rng.randbytes(rng.randrange(1, 4096)).replace(b"\r\n\r\n", b"....")
            expect_bad_request(exchange(garbage, half_close=True), 400)
        else:
            expect_bad_request(exchange(rng.choice(BAD_HEADS)), 400)

    def oversized_length(self, rng):
        if rng.random() < 0.25:
            # One byte over the head limit, with no blank line.
            expect_bad_request(exchange(b"GET /" + b"a" * (65537 - 5)), 413)
            return
        value, status = rng.choice(BAD_LENGTHS)
        headers = [("Origin", EDITOR), ("Content-Length", value)]
        expect_bad_request(exchange(request_bytes("POST", "/v1/convert", headers, length=False)),
                           status)

    def transfer_coding(self, rng):
        # No chunked coding here: a request the server cannot read gets its own 400.
        request = conversion_request(EDITOR, "soak-chunked", some_images(rng, 512))
        head, _, body = request.partition(b"\r\n\r\n")
        head = re.sub(rb"\r\nContent-Length: [0-9]+", b"", head)
        chunked = b"%x\r\n%s\r\n0\r\n\r\n" % (len(body), body)
        head += b"\r\nTransfer-Encoding: chunked"
        if rng.random() < 0.5:
            head += b"\r\nContent-Length: %d" % len(chunked)
        expect_bad_request(exchange(head + b"\r\n\r\n" + chunked), 400)

    def aborts_mid_body(self, rng):
        data = conversion_request(EDITOR, "soak-aborted", some_images(rng, 256 * 1024))
        head_end = data.index(b"\r\n\r\n") + 4
        with connect() as connection:
            connection.sendall(data[:rng.randrange(head_end, len(data))])
            if rng.random() < 0.5:
                # The client stops sending: the request can never complete.
                connection.shutdown(socket.SHUT_WR)
                expect_bad_request(parse_reply(read_to_end(connection)), 400)
            else:
                time.sleep(rng.uniform(0, 0.2))
                reset(connection)

    def never_reads_reply(self, rng):
        if rng.random() < 0.25:
            # An archive larger than the client's small window and the server's send buffer
            # together (which take about 3 MiB on Linux), so that the server's send waits.
            data = conversion_request(EDITOR, "soak-unread", [("big.png", rng.randbytes(4 << 20))])
        else:
            data = request_bytes("GET", "/v1/health", [("Origin", EDITOR)])
        connection = connect(receive_buffer=4096)
        try:
            connection.sendall(data)
            time.sleep(rng.uniform(0.5, 3))
        finally:
            reset(connection)

    # (kind, weight, work). Conversions run one at a time in the program, so they have clients of
    # their own: the rest of the mix never waits behind them.
    CONVERSIONS = [
        ("convert: succeeds", 6, convert_succeeds), ("convert: fails", 2, convert_fails),
        ("convert: crashes", 2, convert_crashes),
        ("convert: empty project", 2, convert_empty_project),
        ("convert: grandchild left", 2, convert_grandchild_left),
        ("convert: floods output", 1, convert_floods_output),
    ]
    OTHERS = [
        ("pairing", 8, pairing), ("health", 24, health), ("health burst", 2, health_burst),
        ("hostile: malformed head", 8, malformed_head),
        ("hostile: oversized length", 6, oversized_length),
        ("hostile: transfer coding", 4, transfer_coding),
        ("hostile: aborts mid-body", 6, aborts_mid_body),
        ("hostile: never reads reply", 4, never_reads_reply),
    ]

    def run_one(self, kind, work, rng):
        try:
            work(self, rng)
            failure = None
        except Exception as error:  # noqa: BLE001 - a reset, a time-out or a wrong reply alike
            failure = "%s: %s" % (type(error).__name__, error)
        with self.lock:
            self.counts[kind][0] += 1
            if failure:
                self.counts[kind][1] += 1
                self.wrong.append((kind, failure))

    def load(self, seconds, phase):
        """Clients drawing work at random until the time is up; returns, once all are done, the
        seconds that took."""
        started = time.monotonic()
        deadline = started + seconds
        converting = max(1, self.options.clients // 3)

        def client(index):
            rng = random.Random("%d-%d-%d" % (self.options.seed, phase, index))
            mix, first, step = ((self.CONVERSIONS, index, converting) if index < converting else
                                (self.OTHERS, index - converting, self.options.clients - converting))
            # Every kind once in each phase, however short, then kinds drawn by their weights.
            turns = mix[first::step]
            while time.monotonic() < deadline:
                kind, _, work = turns.pop(0) if turns else rng.choices(
                    mix, [weight for _, weight, _ in mix])[0]
                self.run_one(kind, work, rng)

        clients = [threading.Thread(target=client, args=(index,))
                   for index in range(self.options.clients)]
        for thread in clients:
            thread.start()
        for thread in clients:
            thread.join()
        return time.monotonic() - started

    def settle(self, fresh_threads):
        """Waits until the pool's idle threads have left: at least --idle-wait seconds, then until
        the thread count is back to the fresh one, SETTLE_LIMIT seconds at most. Returns the
        seconds waited."""
        started = time.monotonic()
        while True:
            time.sleep(1)
            waited = time.monotonic() - started
            if waited >= SETTLE_LIMIT or (waited >= self.options.idle_wait and
                                          self.connector.threads() <= fresh_threads):
                break
        self.check_health(EDITOR, True)  # still serving
        return round(waited)

    def measure(self, idle_seconds="-"):
        with self.lock:
            paired = set(self.paired)
        return self.connector.measure(paired, idle_seconds)

    def run(self):
        options = self.options
        build = "Windows build under Wine" if harness.is_windows_build() else "native build"
        warmup = min(options.warmup, options.seconds)
        print("== soak of the %s: %d s (%d s warm-up), %d clients, seed %d, idle >= %d s"
              % (build, options.seconds, warmup, options.clients, options.seed, options.idle_wait))
        print("load average at the start: %.1f %.1f %.1f" % os.getloadavg())
        self.connector.start()
        loaded = 0.0
        try:
            self.version = exchange(request_bytes("GET", "/v1/health")).json()["connectorVersion"]
            self.pair(EDITOR)
            start = self.measure()
            loaded += self.load(warmup, 1)
            warm = self.measure(self.settle(start.threads))
            loaded += self.load(options.seconds - warmup, 2)
            end = self.measure(self.settle(start.threads))
        except Exception as error:  # noqa: BLE001 - told with what became of the program
            self.print_counts(loaded)
            print("FAIL: the soak cannot go on: %s: %s" % (type(error).__name__, error))
            print("FAIL: %s" % (self.connector.serving_problem() or "the program still serves"))
            print("soak: FAILED")
            return False
        self.print_counts(loaded)
        return self.report(start, warm, end)

    def print_counts(self, loaded):
        print("%-28s %8s %8s" % ("requests of each kind", "done", "wrong"))
        for kind, (done, wrong) in self.counts.items():
            print("%-28s %8d %8d" % (kind, done, wrong))
        total = sum(done for done, _ in self.counts.values())
        print("%-28s %8d %8d  (%.1f per second over %.0f s)"
              % ("all", total, len(self.wrong), total / max(loaded, 1), loaded))

    def report(self, start, warm, end):
        print("%-38s %8s %14s %8s" % ("", "start", "after warm-up", "end"))
        for name, label in Figures.NAMES:
            values = [getattr(figures, name) for figures in (start, warm, end)]
            if values[1] is not None:
                print("%-38s %8s %14s %8s" % (label, *values))

        problems = []
        for kind in self.counts:
            texts = [text for wrong_kind, text in self.wrong if wrong_kind == kind]
            if texts:
                examples = " | ".join(list(dict.fromkeys(texts))[:3])
                problems.append("%d wrong replies to %s, e.g. %s" % (len(texts), kind, examples))
        for label, value in (("pairings missing from the settings", end.missing_pairings),
                             ("workspaces left", max(warm.workspaces, end.workspaces)),
                             ("launcher processes left", max(warm.processes, end.processes))):
            if value:
                problems.append("%s: %d" % (label, value))
        for name, label, tolerance in (
                ("descriptors", "descriptors", DESCRIPTOR_TOLERANCE),
                ("threads", "threads", THREAD_TOLERANCE),
                ("resident_kib", "resident memory (KiB)", MEMORY_TOLERANCE_KIB)):
            growth = getattr(end, name) - getattr(warm, name)
            print("growth of %s after warm-up: %+d (at most %+d: %s)"
                  % (label, growth, tolerance, "meets" if growth <= tolerance else "MISSES"))
            if growth > tolerance:
                problems.append("%s grew by %d after warm-up" % (label, growth))
        for problem in problems:
            print("FAIL: " + problem)
        print("soak: %s" % ("FAILED" if problems else "passed"))
        return not problems

    def close(self):
        try:
            self.connector.stop()
        finally:
            # Launchers that a faulty program left running end here, not with the machine.
            for pid, _ in self.connector.launcher_processes():
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            shutil.rmtree(self.directory, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--stub", required=True,
                        help="the test launcher (tests/support/spine_stub*)")
    parser.add_argument("--wine", help="runs the Windows build (scripts/wine-run.sh)")
    parser.add_argument("--seconds", type=int, default=60, help="time under load, warm-up included")
    parser.add_argument("--warmup", type=int,
                        help="seconds of load before the warm-up figures (default: a quarter)")
    parser.add_argument("--idle-wait", type=int, default=5,
                        help="seconds idle at least before each later figure; it waits on until "
                        "the pool's idle threads have left (%d s at most)" % SETTLE_LIMIT)
    parser.add_argument("--clients", type=int, default=8,
                        help="client threads, a third of them for conversions")
    parser.add_argument("--seed", type=int, default=int(time.time()))
    options = parser.parse_args()
    if options.clients < 2:
        parser.error("--clients: at least 2, one for conversions and one for the rest")
    if options.warmup is None:
        options.warmup = max(1, options.seconds // 4)
    harness.Options.program = os.path.abspath(options.program)
    harness.Options.stub = os.path.abspath(options.stub)
    harness.Options.wine = os.path.abspath(options.wine) if options.wine else None
    # A stop request (CTest's time-out, a closed terminal) still stops the program.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    soak = Soak(options, tempfile.mkdtemp(prefix="glimmer-soak-"))
    try:
        passed = soak.run()
    finally:
        soak.close()
    sys.exit(0 if passed else 1)


if __name__ == "__main__":
    main()
