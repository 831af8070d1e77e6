"""The soak's client side: requests written and replies read raw, one connection each, and the
checks every reply must pass. Standard library only."""
import base64
import io
import json
import re
import socket
import struct
import urllib.parse
import zipfile

HOST = "127.0.0.1"
PORT = 27843
REPLY_SECONDS = 180  # a conversion may wait for every other one queued before it
REASONS = {200: "OK", 204: "No Content", 400: "Bad Request", 403: "Forbidden", 404: "Not Found",
           413: "Payload Too Large", 500: "Internal Server Error", 503: "Service Unavailable"}


class Wrong(Exception):
    """A reply that is not the one its request must get."""


def expect(condition, text):
    if not condition:
        raise Wrong(text)


class Reply:
    def __init__(self, status, headers, body):
        self.status = status
        self.headers = headers  # name as sent -> value
        self.body = body

    def json(self):
        return json.loads(self.body.decode("utf-8"))


def parse_reply(raw):
    """The reply of a connection read to its end, its framing checked: the status line with its
    reason, header lines in ascending name order (the server writes them sorted), "Connection:
    close" and a Content-Length equal to what came before the end."""
    head, blank, body = raw.partition(b"\r\n\r\n")
    expect(blank, "no complete head in %d bytes: %r" % (len(raw), raw[:120]))
    lines = head.split(b"\r\n")
    status_line = re.fullmatch(rb"HTTP/1\.1 ([0-9]{3}) ([^\r\n]*)", lines[0])
    expect(status_line, "status line %r" % lines[0])
    status = int(status_line.group(1))
    reason = status_line.group(2).decode("latin-1")
    expect(reason == REASONS.get(status, "Response"), "reason %r for status %d" % (reason, status))
    names, headers = [], {}
    for line in lines[1:]:
        field = re.fullmatch(rb"([!#$%&'*+.^_`|~0-9A-Za-z-]+): ([^\r\n]*)", line)
        expect(field, "header line %r" % line)
        names.append(field.group(1))
        headers[field.group(1).decode("ascii")] = field.group(2).decode("latin-1")
    expect(names == sorted(set(names)), "header names not ascending, once each: %s" % names)
    expect(headers.get("Connection") == "close", "Connection %r" % headers.get("Connection"))
    length = headers.get("Content-Length", "")
    expect(length.isdigit() and int(length) == len(body),
           "Content-Length %r for %d body bytes" % (length, len(body)))
    return Reply(status, headers, body)


def connect(receive_buffer=None):
    connection = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        if receive_buffer:
            connection.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
        connection.settimeout(REPLY_SECONDS)
        connection.connect((HOST, PORT))
    except BaseException:
        connection.close()
        raise
    return connection


def read_to_end(connection):
    pieces = []
    while True:
        piece = connection.recv(1 << 16)
        if not piece:
            return b"".join(pieces)
        pieces.append(piece)


def reset(connection):
    """Closes with a reset, as a client that is killed or gives up does."""
    connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    connection.close()


def exchange(data, half_close=False):
    """Sends data on a connection of its own and reads the reply to the connection's end.
    half_close: the client then ends its sending, as one that has nothing more to say."""
    with connect() as connection:
        connection.sendall(data)
        if half_close:
            connection.shutdown(socket.SHUT_WR)
        return parse_reply(read_to_end(connection))


def request_bytes(method, target, headers=(), body=b"", length=True):
    lines = ["%s %s HTTP/1.1" % (method, target), "Host: %s:%d" % (HOST, PORT)]
    lines += ["%s: %s" % header for header in headers]
    if length and (body or method == "POST"):
        lines.append("Content-Length: %d" % len(body))
    return ("\r\n".join(lines) + "\r\n\r\n").encode("utf-8") + body


def compact(value):
    """A JSON value as the server writes it: compact, members in key order, UTF-8."""
    return json.dumps(value, ensure_ascii=False, separators=(",", ":"),
                      sort_keys=True).encode("utf-8")


def shown(body):
    """A reply body as a message shows it: text where it is text, at most 300 bytes."""
    return repr(body[:300].decode("utf-8", "replace"))


def expect_status(reply, status):
    expect(reply.status == status,
           "status %d, expected %d: %s" % (reply.status, status, shown(reply.body)))


def expect_bad_request(reply, status):
    """The server's own refusal of a request it cannot read."""
    expect_status(reply, status)
    expect(reply.body == b"Bad request", "body %s" % shown(reply.body))
    expect(sorted(reply.headers) == ["Connection", "Content-Length"], "headers %s" % reply.headers)


def expect_json(reply, status, origin):
    expect_status(reply, status)
    expect(reply.headers.get("Content-Type") == "application/json; charset=utf-8",
           "Content-Type %r" % reply.headers.get("Content-Type"))
    expect(reply.headers.get("Access-Control-Allow-Origin") == origin,
           "Access-Control-Allow-Origin %r" % reply.headers.get("Access-Control-Allow-Origin"))
    return reply.json()


def expect_failure(reply, origin, message):
    """A conversion's failure, with its exact message."""
    expect_json(reply, 500, origin)
    expect(reply.body == compact({"code": "CONVERSION_FAILED", "message": message}),
           "body %s, expected the message %r" % (shown(reply.body), message))


def conversion_request(origin, name, images):
    body = json.dumps({
        "schemaVersion": 1,
        "skeletonJson": json.dumps({"skeleton": {"spine": "4.2.11", "images": "./images/"}}),
        "spineVersion": "4.2",
        "projectName": name,
        "images": [{"path": path, "dataBase64": base64.b64encode(data).decode("ascii")}
                   for path, data in images],
    }, ensure_ascii=False).encode("utf-8")
    return request_bytes("POST", "/v1/convert",
                         [("Origin", origin), ("Content-Type", "application/json")], body)


def expect_archive(reply, origin, name, images, editor_version):
    """A conversion's success: its headers, and an archive of the launcher's project and the
    images, each entry stored and equal to what was sent."""
    expect_status(reply, 200)
    wanted = {"Content-Type": "application/zip",
              "X-Spine-File-Name": urllib.parse.quote(name, safe="") + ".zip",
              "X-Spine-Editor-Version": editor_version,
              "Access-Control-Allow-Origin": origin,
              "Access-Control-Expose-Headers": "X-Spine-File-Name, X-Spine-Editor-Version"}
    for header, value in wanted.items():
        found = reply.headers.get(header)
        expect(found == value, "%s %r, expected %r" % (header, found, value))
    with zipfile.ZipFile(io.BytesIO(reply.body)) as archive:
        expect(archive.testzip() is None, "an entry's CRC does not match")
        names = [name + ".spine"] + ["images/" + path for path, _ in images]
        expect(archive.namelist() == names, "entries %s, expected %s" % (archive.namelist(), names))
        expect(all(info.compress_type == zipfile.ZIP_STORED for info in archive.infolist()),
               "an entry is compressed")
        for path, data in images:
            expect(archive.read("images/" + path) == data, "images/%s differs" % path)
        project = archive.read(name + ".spine").decode("utf-8").splitlines()
    expect(project[:1] == ["glimmer-stub-project"], "project %r" % project[:1])
    arguments = [line[4:] for line in project if line.startswith("arg=")]
    expect(arguments[-2:] == ["--import", name], "launcher arguments %s" % arguments)
