#!/usr/bin/env python3
"""End to end: stopping the program while a conversion runs. The conversion's launcher hangs;
the stop must end it, remove its workspace, answer or close the client, and let the program exit
within 5 seconds."""
import json
import ntpath
import os
import re
import threading
import time

from connector_harness import (ConnectorTestCase, Options, host_path, is_windows_build, main,
                               request)
from convert_e2e import JSON_HEADERS, PNG, conversion_body

EXIT_SECONDS = 5


def workspaces_of(launchers):
    """Host paths of the workspaces the launchers work in, read from their --output argument."""
    found = set()
    for _, command in launchers:
        output = re.search(r"--output (\S+)", command)
        if output:
            split = ntpath.split if is_windows_build() else os.path.split
            found.add(host_path(split(output.group(1))[0]))
    return sorted(found)


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    return condition()


class ShutdownEndToEnd(ConnectorTestCase):
    def test_stop_during_a_conversion_leaves_nothing_behind(self):
        connector = self.start_connector("shutdown", spine=Options.stub)
        self.connectors.remove(connector)  # it is meant to end here: no serving check afterwards

        outcome = {}

        def convert():
            try:
                reply = request("POST", "/v1/convert", headers=JSON_HEADERS, timeout=60,
                                body=conversion_body("stub-hang", [("a.png", PNG)]))
                outcome["reply"] = (reply.status, reply.text())
            except OSError as error:
                outcome["closed"] = str(error)
            except Exception as error:  # http.client's RemoteDisconnected and its kind
                outcome["closed"] = repr(error)

        client = threading.Thread(target=convert, daemon=True)
        client.start()
        self.assertTrue(wait_for(connector.launcher_processes, 30),
                        "the hanging launcher never started: " + connector.log())
        launchers = connector.launcher_processes()
        workspaces = workspaces_of(launchers)
        self.assertEqual(len(workspaces), 1, launchers)
        self.assertTrue(os.path.isdir(workspaces[0]), workspaces[0])

        process = connector.process
        started = time.monotonic()
        connector.ask_to_stop()
        try:
            code = process.wait(timeout=30)
        finally:
            elapsed = time.monotonic() - started
        self.assertLessEqual(elapsed, EXIT_SECONDS, "the program took %.1f s to end" % elapsed)
        if not is_windows_build():
            self.assertEqual(code, 0)
        connector.process = None  # ended: the class clean-up has nothing left to stop

        client.join(10)
        self.assertFalse(client.is_alive(), "the client was neither answered nor closed")
        if "reply" in outcome:
            status, text = outcome["reply"]
            self.assertEqual(status, 500, text)
            self.assertEqual(json.loads(text)["code"], "CONVERSION_FAILED")
        self.assertEqual(connector.launcher_processes(), [])
        self.assertFalse(os.path.exists(workspaces[0]), "the workspace was left behind")


if __name__ == "__main__":
    main()
