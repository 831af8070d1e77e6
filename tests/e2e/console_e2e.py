#!/usr/bin/env python3
"""End to end, Linux console: what the program prints when it starts, its exit code when the
port is taken (naming the holder), and an orderly stop on SIGHUP."""
import os
import signal
import socket
import subprocess
import tempfile
import time
import unittest

from connector_harness import HOST, PORT, Options, main, port_is_free, request, wait_until_port_free


def environment(directory):
    env = dict(os.environ)
    env.pop("SPINE_CONNECTOR_ORIGINS", None)
    env["SPINE_CONNECTOR_CONFIG"] = os.path.join(directory, "config.json")
    env["SPINE_EXECUTABLE"] = os.path.join(directory, "no-spine", "Spine.sh")
    env["HOME"] = directory
    env["PATH"] = ""
    return env


class ConsoleEndToEnd(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.mkdtemp(prefix="glimmer-console-")
        wait_until_port_free(60)
        self.processes = []

    def tearDown(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                process.wait()
            for stream in (process.stdout, process.stderr):
                if stream:
                    stream.close()
        wait_until_port_free(30)

    def launch(self):
        process = subprocess.Popen([Options.program], env=environment(self.directory), cwd=self.directory,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   start_new_session=True)
        self.processes.append(process)
        return process

    def wait_serving(self, process):
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            self.assertIsNone(process.poll(), "the program ended early")
            try:
                if request("GET", "/v1/health", timeout=5).status == 200:
                    return
            except OSError:
                pass
            time.sleep(0.1)
        self.fail("the program did not start serving")

    def test_prints_address_and_status_and_stops_on_sighup(self):
        process = self.launch()
        self.assertEqual(process.stdout.readline().decode(), "Glimmer连接器 http://127.0.0.1:27843\n")
        self.assertEqual(process.stdout.readline().decode(), "● 连接器运行中 · 未找到 Spine\n")
        self.wait_serving(process)
        process.send_signal(signal.SIGHUP)  # the terminal closed
        self.assertEqual(process.wait(timeout=20), 0)
        self.assertTrue(port_is_free())
        self.assertEqual(process.stderr.read(), b"")

    def test_a_taken_port_is_reported_on_standard_error_with_its_holder(self):
        holder = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            holder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            holder.bind((HOST, PORT))
            holder.listen(1)
            process = self.launch()
            out, err = process.communicate(timeout=30)
        finally:
            holder.close()
        self.assertEqual(process.returncode, 1)
        self.assertEqual(out, b"")
        with open("/proc/self/comm") as comm:
            name = comm.read().strip()
        self.assertEqual(err.decode(), "● 连接器未启动 · 端口 27843 已被占用，可能已有连接器正在运行\n"
                                       "● 端口 27843 正在运行 · 占用进程 %d（%s）\n" % (os.getpid(), name))


if __name__ == "__main__":
    main()
