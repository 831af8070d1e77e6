#!/usr/bin/env python3
"""End to end: the same typical conversion posted by the HTTP clients people use, each as it
behaves by default (curl sends "Expect: 100-continue" for a body this large and waits for the
interim reply), and a raw client that sends its body only once it has read "100 Continue". Each
reply, as each client received it, is held to the API document."""
import base64
import io
import json
import os
import random
import shutil
import socket
import subprocess
import tempfile
import zipfile

from api_document import check_reply
from connector_harness import HOST, PORT, ConnectorTestCase, Options, main, request

EDITOR = "http://localhost:5173"
URL = "http://%s:%d/v1/convert" % (HOST, PORT)
CLIENT_SECONDS = 120  # each client's own limit; a missing interim reply shows long before that
IMAGES = [("part%d.png" % i, random.Random(i).randbytes(300 * 1024)) for i in range(5)]


def conversion_body():
    return json.dumps({
        "schemaVersion": 1,
        "skeletonJson": json.dumps({"skeleton": {"spine": "4.2.11", "images": "./images/"}}),
        "spineVersion": "4.2",
        "projectName": "clients",
        "images": [{"path": path, "dataBase64": base64.b64encode(data).decode("ascii")}
                   for path, data in IMAGES],
    }).encode("ascii")


def run(command, **options):
    return subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=CLIENT_SECONDS, check=False, **options)


def read_until_closed(connection):
    data = b""
    while True:
        piece = connection.recv(65536)
        if not piece:
            return data
        data += piece


def comparable(name, data):
    """An entry as every conversion writes it: the test launcher's project file names the
    conversion's own temporary folder, which differs from run to run."""
    if not name.endswith(".spine"):
        return data
    text = data.decode("utf-8")
    workspace = [line[4:] for line in text.splitlines() if line.startswith("cwd=")][0]
    return text.replace(workspace, "<workspace>")


def final_head(lines):
    """(status, headers) of the last reply head among lines (interim replies come before it)."""
    starts = [i for i, line in enumerate(lines) if line.startswith("HTTP/")]
    head = lines[starts[-1]:]
    fields = [line.split(":", 1) for line in head[1:] if ":" in line]
    return int(head[0].split()[1]), {name.strip(): value.strip() for name, value in fields}


def split_reply(raw):
    """(status, headers, body) of a raw reply that is not an interim one."""
    head, _, body = raw.partition(b"\r\n\r\n")
    status, headers = final_head(head.decode("latin-1").split("\r\n"))
    length = [int(value) for name, value in headers.items() if name.lower() == "content-length"]
    if length != [len(body)]:
        raise AssertionError("Content-Length %s for %d body bytes" % (length, len(body)))
    return status, headers, body


class ClientsEndToEnd(ConnectorTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.connector = cls.start_connector("clients", spine=Options.stub)
        cls.work = tempfile.mkdtemp(prefix="glimmer-clients-")
        cls.addClassCleanup(shutil.rmtree, cls.work, True)
        cls.body = conversion_body()
        cls.body_path = os.path.join(cls.work, "body.json")
        with open(cls.body_path, "wb") as body:
            body.write(cls.body)

    def output_path(self, name):
        return os.path.join(self.work, name + ".zip")

    def read_output(self, name):
        with open(self.output_path(name), "rb") as output:
            return output.read()

    def curl(self):
        head_path = os.path.join(self.work, "curl-head.txt")
        done = run(["curl", "-v", "-sS", "-o", self.output_path("curl"), "-D", head_path,
                    "-H", "Origin: " + EDITOR, "-H", "Content-Type: application/json",
                    "--data-binary", "@" + self.body_path, URL])
        trace = done.stderr.decode("utf-8", "replace")
        # Its own trace shows it asked and was told to go on: "<" lines are what it received.
        self.assertIn("> Expect: 100-continue", trace)
        self.assertIn("< HTTP/1.1 100 Continue", trace)
        with open(head_path, encoding="latin-1") as head:
            return final_head(head.read().splitlines()) + (self.read_output("curl"),)

    def wget(self):
        done = run(["wget", "-q", "-S", "-O", self.output_path("wget"), "--header",
                    "Origin: " + EDITOR, "--header", "Content-Type: application/json",
                    "--post-file=" + self.body_path, URL])
        # -S prints each head it received, indented.
        lines = [line.strip() for line in done.stderr.decode("latin-1").splitlines()
                 if line.startswith("  ")]
        return final_head(lines) + (self.read_output("wget"),)

    def python_http_client(self):
        reply = request("POST", "/v1/convert", body=self.body,
                        headers={"Origin": EDITOR, "Content-Type": "application/json"})
        return reply.status, reply.headers, reply.body

    def node_fetch(self):
        node = shutil.which("nodejs") or shutil.which("node")
        script = ("const fs = require('fs');"
                  "fetch(process.argv[1], {method: 'POST', body: fs.readFileSync(process.argv[2]),"
                  " headers: {'Origin': process.argv[4], 'Content-Type': 'application/json'}})"
                  ".then(async (reply) => {"
                  " fs.writeFileSync(process.argv[3], Buffer.from(await reply.arrayBuffer()));"
                  " console.log(JSON.stringify([reply.status, Object.fromEntries(reply.headers)])); })"
                  ".catch((error) => { console.error(error); process.exit(1); });")
        done = run([node, "-e", script, URL, self.body_path, self.output_path("node"), EDITOR])
        self.assertEqual(done.returncode, 0, done.stderr)
        status, headers = json.loads(done.stdout)
        return status, headers, self.read_output("node")

    def raw_waiting_client(self):
        head = ("POST /v1/convert HTTP/1.1\r\nHost: %s:%d\r\nOrigin: %s\r\n"
                "Content-Type: application/json\r\nExpect: 100-continue\r\n"
                "Content-Length: %d\r\n\r\n" % (HOST, PORT, EDITOR, len(self.body)))
        with socket.create_connection((HOST, PORT), timeout=CLIENT_SECONDS) as connection:
            connection.sendall(head.encode("ascii"))
            interim = b""
            while not interim.endswith(b"\r\n\r\n"):
                piece = connection.recv(1)
                if not piece:
                    break
                interim += piece
            self.assertEqual(interim, b"HTTP/1.1 100 Continue\r\n\r\n")
            connection.sendall(self.body)
            return split_reply(read_until_closed(connection))

    def test_every_client_gets_the_same_archive(self):
        entries = {}
        for name, client in (("curl", self.curl), ("wget", self.wget),
                             ("python http.client", self.python_http_client),
                             ("node fetch", self.node_fetch),
                             ("raw client waiting for 100 Continue", self.raw_waiting_client)):
            with self.subTest(client=name):
                status, headers, archive = client()
                self.assertEqual(status, 200, archive[:300])
                check_reply("POST", "/v1/convert", status, headers, archive)
                with zipfile.ZipFile(io.BytesIO(archive)) as opened:
                    entries[name] = {info.filename: comparable(info.filename, opened.read(info))
                                     for info in opened.infolist()}
        self.assertEqual(len(entries), 5)
        first = entries["python http.client"]
        self.assertEqual(sorted(first),
                         sorted(["clients.spine"] + ["images/" + p for p, _ in IMAGES]))
        for path, data in IMAGES:
            self.assertEqual(first["images/" + path], data)
        for name, found in entries.items():
            self.assertEqual(found, first, name)


if __name__ == "__main__":
    main()
