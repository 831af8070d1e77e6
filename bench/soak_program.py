"""The program under the soak, and what its process holds: started by the end-to-end harness with
a private settings file and a private temporary folder, measured through /proc (and, for the
Windows build, through the system's handle table as the test launcher reads it under Wine)."""
import json
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import connector_harness as harness  # noqa: E402


class Figures:
    """What the program's process holds at one moment, and what it left behind."""
    NAMES = [("idle_seconds", "seconds idle before"),
             ("descriptors", "descriptors (handles on Windows)"),
             ("host_descriptors", "host descriptors of the Wine process"),
             ("threads", "threads"), ("resident_kib", "resident memory (KiB)"),
             ("workspaces", "workspaces left"), ("processes", "processes left"),
             ("missing_pairings", "pairings missing from the settings")]

    def __init__(self, **values):
        for name, _ in self.NAMES:
            setattr(self, name, values.get(name))


def proc_status(pid, field):
    with open("/proc/%d/status" % pid, encoding="ascii") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError("no %s for pid %d" % (field, pid))


def windows_handle_count():
    """The program's handles as Windows lists them, read by a launcher run in the same prefix
    (GetProcessHandleCount answers 0 under Wine)."""
    program = harness.program_path(harness.Options.program)
    done = subprocess.run([harness.Options.wine, harness.Options.stub, "--import",
                           "stub-handle-count", "--probe", program],
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=120, check=False)
    counts = re.findall(rb"^pid [0-9]+ handles=([0-9]+)", done.stdout, re.M)
    if len(counts) != 1:
        raise RuntimeError("handle count: %r %r" % (done.stdout, done.stderr[-300:]))
    return int(counts[0])


class SoakConnector(harness.Connector):
    """The program with a private temporary folder, so that its workspaces are counted alone.
    Wine sets TMP and TEMP from its prefix's registry when a program starts from the host, so
    under Wine cmd starts the program: a Windows parent hands its environment down unchanged."""

    def __init__(self, directory):
        super().__init__(directory, spine=harness.Options.stub)
        self.temp = os.path.join(directory, "temp")
        os.makedirs(self.temp, exist_ok=True)

    def environment(self):
        env = super().environment()
        if not harness.is_windows_build():  # Wine keeps its server's socket under TMPDIR
            env["TMPDIR"] = env["TMP"] = env["TEMP"] = self.temp
        return env

    def command(self):
        if not harness.is_windows_build():
            return super().command()
        temp = harness.program_path(self.temp)
        return [harness.Options.wine, "cmd", "/c", "set TMP=%s&& set TEMP=%s&& %s"
                % (temp, temp, harness.program_path(harness.Options.program))]

    def program_pid(self):
        """The host process that runs the program (under Wine, not the one the harness started)."""
        if not harness.is_windows_build():
            return self.process.pid
        image = harness.program_path(harness.Options.program).lower()
        found = [pid for pid, command in harness._processes_marked(self.directory)
                 if command.lower().startswith(image)]
        if len(found) != 1:
            raise RuntimeError("the program's process is not found alone: %s" % found)
        return found[0]

    def stored_origins(self):
        with open(self.config_path, encoding="utf-8") as settings:
            return set(json.load(settings).get("allowedOrigins", []))

    def measure(self, paired, idle_seconds="-"):
        """The figures now; paired: the origins whose pairing the program confirmed."""
        pid = self.program_pid()
        host_descriptors = len(os.listdir("/proc/%d/fd" % pid))
        windows = harness.is_windows_build()
        return Figures(
            idle_seconds=idle_seconds,
            descriptors=windows_handle_count() if windows else host_descriptors,
            host_descriptors=host_descriptors if windows else None,
            threads=proc_status(pid, "Threads"), resident_kib=proc_status(pid, "VmRSS"),
            workspaces=len([name for name in os.listdir(self.temp) if name.startswith("glimmer-")]),
            processes=len(self.launcher_processes()),
            missing_pairings=len(paired - self.stored_origins()))

    def threads(self):
        return proc_status(self.program_pid(), "Threads")
