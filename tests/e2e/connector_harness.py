"""Starts the real connector program as a user would, talks to it over real sockets, and stops it
on every path. Shared by the end-to-end suites. Every reply received through request() is held to
docs/openapi.yaml (api_document.py)."""
import argparse
import atexit
import http.client
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

import api_document

HOST = "127.0.0.1"
PORT = 27843
START_SECONDS = 90  # a Windows program's first start under Wine can be slow
STOP_SECONDS = 20


class Options:
    program = None  # host path of glimmer-connector(.exe)
    stub = None  # host path of the test launcher
    wine = None  # wrapper that runs a Windows program, or None for the native build


def parse_options():
    """Reads the harness's own arguments and leaves the rest to unittest."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--wine")
    own, rest = parser.parse_known_args()
    Options.program = os.path.abspath(own.program)
    Options.stub = os.path.abspath(own.stub)
    Options.wine = os.path.abspath(own.wine) if own.wine else None
    return [sys.argv[0]] + rest


def is_windows_build():
    return Options.wine is not None


def host_path(program_path_text):
    """The host path of a path as the program under test names it (the reverse of program_path):
    Wine's drive letters are links in the prefix's dosdevices folder."""
    if not is_windows_build():
        return program_path_text
    prefix = os.environ.get("WINEPREFIX") or os.path.join(os.path.expanduser("~"), ".wine-glimmer")
    drive, rest = program_path_text[:2].lower(), program_path_text[3:]
    return os.path.join(prefix, "dosdevices", drive, *rest.split("\\"))


def program_path(host_path):
    """A host path as the program under test names it (Wine maps the host's root to Z:)."""
    if is_windows_build():
        return "Z:" + os.path.abspath(host_path).replace("/", "\\")
    return os.path.abspath(host_path)


class Reply:
    def __init__(self, status, headers, body):
        self.status = status
        self.headers = headers  # name -> value, names as sent
        self.body = body

    def header(self, name):
        for key, value in self.headers.items():
            if key.lower() == name.lower():
                return value
        return None

    def text(self):
        return self.body.decode("utf-8")


def request(method, path, body=None, headers=None, timeout=300):
    """One request on its own connection, as the connector serves them. A reply that the API
    document does not describe fails the calling test (api_document.ReplyMismatch)."""
    connection = http.client.HTTPConnection(HOST, PORT, timeout=timeout)
    try:
        connection.request(method, path, body=body, headers=headers or {})
        response = connection.getresponse()
        reply = Reply(response.status, dict(response.getheaders()), response.read())
    finally:
        connection.close()
    api_document.check_reply(method, path, reply.status, reply.headers, reply.body)
    return reply


def port_is_free():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.settimeout(1)
        return probe.connect_ex((HOST, PORT)) != 0


def wait_until_port_free(seconds):
    deadline = time.monotonic() + seconds
    while not port_is_free():
        if time.monotonic() > deadline:
            raise RuntimeError("port %d is still taken" % PORT)
        time.sleep(0.1)


RUN_MARKER = "GLIMMER_E2E_RUN"  # names, in a process's environment, the connector it belongs to


def _processes_marked(value):
    """(pid, command line) of the host processes whose environment carries RUN_MARKER=value: the
    program under test and everything it started (Wine hands a Windows process's environment down
    to its host process)."""
    wanted = ("%s=%s" % (RUN_MARKER, value)).encode("utf-8")
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % entry, "rb") as environ:
                if wanted not in environ.read().split(b"\0"):
                    continue
            with open("/proc/%s/cmdline" % entry, "rb") as cmdline:
                command = cmdline.read().replace(b"\0", b" ").decode("utf-8", "replace")
        except OSError:
            continue
        found.append((int(entry), command))
    return found


_running = set()  # connectors started and not yet stopped


def _stop_all():
    for connector in list(_running):
        connector.stop()


atexit.register(_stop_all)


class Connector:
    """The program with a private settings file and a controlled environment.

    spine: host path given as SPINE_EXECUTABLE, or None for "Spine is nowhere to be found"."""

    def __init__(self, directory, spine=None, extra_environment=None):
        self.directory = directory
        self.config_path = os.path.join(directory, "config.json")
        self.spine = spine
        self.extra_environment = extra_environment or {}
        self.process = None
        self.exit_code = None
        self.log_path = os.path.join(directory, "program.log")

    def environment(self):
        env = dict(os.environ)
        for name in ("SPINE_CONNECTOR_ORIGINS", "ProgramFiles", "ProgramFiles(x86)", "LOCALAPPDATA"):
            env.pop(name, None)
        env["SPINE_CONNECTOR_CONFIG"] = program_path(self.config_path)
        spine = self.spine or os.path.join(self.directory, "no-spine", "Spine.com")
        env["SPINE_EXECUTABLE"] = program_path(spine)
        if not is_windows_build():
            # The locator's other places: $HOME/Spine and PATH. (Wine keeps its own Windows PATH,
            # which holds no launcher, and needs the host's HOME to find its prefix.)
            env["HOME"] = self.directory
            env["PATH"] = ""
        env[RUN_MARKER] = self.directory
        env.update(self.extra_environment)
        return env

    def command(self):
        return ([Options.wine] if is_windows_build() else []) + [Options.program]

    def start(self):
        wait_until_port_free(60)
        log = open(self.log_path, "ab")
        try:
            # A session of its own: a Ctrl+C meant for the harness does not reach the program,
            # which the harness stops itself.
            self.process = subprocess.Popen(self.command(), env=self.environment(),
                                            cwd=self.directory, stdin=subprocess.DEVNULL,
                                            stdout=log, stderr=subprocess.STDOUT,
                                            start_new_session=True)
        finally:
            log.close()
        _running.add(self)
        try:
            self.wait_until_serving()
        except BaseException:
            self.stop()
            raise

    def wait_until_serving(self):
        deadline = time.monotonic() + START_SECONDS
        while True:
            if self.process.poll() is not None:
                raise RuntimeError("the program ended with %s: %s" % (self.process.returncode, self.log()))
            try:
                if request("GET", "/v1/health", timeout=5).status == 200:
                    return
            except OSError:
                pass
            if time.monotonic() > deadline:
                raise RuntimeError("the program did not start serving: " + self.log())
            time.sleep(0.2)

    def stop(self):
        """Stops the program the way its platform allows and waits until the port is free."""
        if self.process is None:
            return
        process, self.process = self.process, None
        _running.discard(self)
        try:
            if is_windows_build():
                process.terminate()
            else:
                process.send_signal(signal.SIGINT)  # what Ctrl+C in its console does
            try:
                self.exit_code = process.wait(timeout=STOP_SECONDS)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
                self.exit_code = None
        finally:
            if is_windows_build():
                self.kill_leftovers()
            wait_until_port_free(30)

    def ask_to_stop(self):
        """Stops the program as its user would, without waiting: SIGTERM natively; under Wine its
        window is asked to close (taskkill without /F posts WM_CLOSE), as its close button does."""
        if is_windows_build():
            subprocess.run([Options.wine, "taskkill", "/IM", os.path.basename(Options.program)],
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60, check=False)
        else:
            self.process.send_signal(signal.SIGTERM)

    def launcher_processes(self):
        """(pid, command line) of the test launchers this program started that still run."""
        names = [os.path.basename(Options.stub).lower()]
        return [(pid, command) for pid, command in _processes_marked(self.directory)
                if any(name in command.lower() for name in names)]

    def kill_leftovers(self):
        # Wine gives every Windows process a session of its own under init, so what this
        # connector started is found by the marker in its environment and by its own paths (this
        # build's program and launcher). Wine's shared processes (wineserver, services, the
        # desktop) may carry the marker too when this program started them, but they serve other
        # test programs as well and end by themselves.
        ours = [path.lower() for path in (Options.program, Options.stub, program_path(Options.program),
                                          program_path(Options.stub))]
        for pid, command in _processes_marked(self.directory):
            if any(path in command.lower() for path in ours):
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass

    def serving_problem(self):
        """None while the program answers its health check; otherwise what became of it."""
        if self.process is None:
            return None
        try:
            request("GET", "/v1/health", timeout=10)
            return None
        except OSError as error:
            answer = error
        try:
            code = self.process.wait(timeout=5)
            fate = "the program ended with %s" % code
        except subprocess.TimeoutExpired:
            fate = "the program runs but no longer serves (%s)" % answer
        return "%s: %s" % (fate, self.log())

    def restart(self):
        self.stop()
        self.start()

    def log(self):
        try:
            with open(self.log_path, "rb") as log:
                return log.read().decode("utf-8", "replace")
        except OSError:
            return ""


class ConnectorTestCase(unittest.TestCase):
    """A private directory per test class; subclasses start connectors inside it."""

    @classmethod
    def setUpClass(cls):
        cls.directory = tempfile.mkdtemp(prefix="glimmer-e2e-")
        cls.connectors = []
        # Class clean-ups run even when setUpClass fails half-way.
        cls.addClassCleanup(shutil.rmtree, cls.directory, True)

    @classmethod
    def start_connector(cls, name, **options):
        directory = os.path.join(cls.directory, name)
        os.makedirs(directory, exist_ok=True)
        connector = Connector(directory, **options)
        cls.addClassCleanup(connector.stop)
        connector.start()
        cls.connectors.append(connector)
        return connector

    def tearDown(self):
        # A program that died or stopped serving during a test is that test's failure, told with
        # its exit code and its own last words, rather than a "connection refused" in whichever
        # test comes next.
        for connector in self.connectors:
            problem = connector.serving_problem()
            if problem:
                self.fail(problem)


def expected_platform():
    return "win32" if is_windows_build() else "linux"


def main():
    argv = parse_options()
    # A stop request (CTest's time-out, a terminal closing) still stops the program.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    unittest.main(argv=argv, verbosity=2)
