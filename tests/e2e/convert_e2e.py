#!/usr/bin/env python3
"""End to end: conversions through the real program, with the test launcher standing in for
Spine's command-line launcher."""
import base64
import io
import json
import os
import stat
import threading
import zipfile

from connector_harness import ConnectorTestCase, Options, is_windows_build, main, request

EDITOR = "http://localhost:5173"
JSON_HEADERS = {"Origin": EDITOR, "Content-Type": "application/json"}
PNG = b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 3


def conversion_body(project_name, images, spine="4.2.11"):
    return json.dumps({
        "schemaVersion": 1,
        "skeletonJson": json.dumps({"skeleton": {"spine": spine, "images": "./images/"}}),
        "spineVersion": spine[:3],
        "projectName": project_name,
        "images": [{"path": path, "dataBase64": base64.b64encode(data).decode("ascii")}
                   for path, data in images],
    }, ensure_ascii=False).encode("utf-8")


class ConvertEndToEnd(ConnectorTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.marker = None
        launcher = Options.stub
        if not is_windows_build():
            # A launcher that notes each run before handing over to the test launcher.
            cls.marker = os.path.join(cls.directory, "launcher-runs")
            launcher = os.path.join(cls.directory, "spy-launcher.sh")
            with open(launcher, "w", encoding="utf-8") as spy:
                spy.write('#!/bin/sh\necho run >> "%s"\nexec "%s" "$@"\n' % (cls.marker, Options.stub))
            os.chmod(launcher, os.stat(launcher).st_mode | stat.S_IXUSR)
        cls.connector = cls.start_connector("convert", spine=launcher)

    def launcher_runs(self):
        if self.marker is None or not os.path.exists(self.marker):
            return 0
        with open(self.marker, encoding="utf-8") as marker:
            return len(marker.read().splitlines())

    def assertLauncherRuns(self, before, expected):
        if self.marker is not None:
            self.assertEqual(self.launcher_runs() - before, expected)

    def test_refused_origin_gets_a_pairing_link_and_runs_nothing(self):
        before = self.launcher_runs()
        for body in (conversion_body("x", [("a.png", PNG)]), b"not json"):
            reply = request("POST", "/v1/convert", body=body,
                            headers={"Origin": "https://other.example", "Content-Type": "application/json"})
            self.assertEqual(reply.status, 403)
            # A 403 (not the parser's 500) for a body that is not JSON: nothing after the check ran.
            self.assertEqual(reply.text(),
                             '{"code":"ORIGIN_NOT_ALLOWED","message":"需要先授权当前网站使用本地 Spine '
                             '连接器","pairUrl":"http://127.0.0.1:27843/pair?origin=https%3A%2F%2Fother.example"}')
            self.assertEqual(reply.header("Access-Control-Allow-Origin"), "https://other.example")
        self.assertLauncherRuns(before, 0)

    def test_body_that_is_not_json_gets_the_parsers_message(self):
        before = self.launcher_runs()
        reply = request("POST", "/v1/convert", body=b"{}x", headers=JSON_HEADERS)
        self.assertEqual(reply.status, 500)
        self.assertEqual(json.loads(reply.text()),
                         {"code": "CONVERSION_FAILED", "message": "JSON 末尾存在多余内容（位置 2）"})
        self.assertEqual(reply.header("Access-Control-Allow-Origin"), EDITOR)
        self.assertLauncherRuns(before, 0)

    def test_conversion_returns_project_and_images(self):
        images = [("a.png", PNG), ("sub\\b.png", bytes(reversed(PNG))), ("empty.png", b"")]
        before = self.launcher_runs()
        reply = request("POST", "/v1/convert", body=conversion_body("特效", images), headers=JSON_HEADERS)
        self.assertEqual(reply.status, 200, reply.body[:300])
        self.assertLauncherRuns(before, 1)
        self.assertEqual(reply.header("Content-Type"), "application/zip")
        self.assertEqual(reply.header("Content-Disposition"),
                         "attachment; filename=\"Glimmer.zip\"; filename*=UTF-8''%E7%89%B9%E6%95%88.zip")
        self.assertEqual(reply.header("X-Spine-File-Name"), "%E7%89%B9%E6%95%88.zip")
        self.assertEqual(reply.header("X-Spine-Editor-Version"), "4.2.43")
        self.assertEqual(reply.header("Access-Control-Expose-Headers"),
                         "X-Spine-File-Name, X-Spine-Editor-Version")
        self.assertEqual(reply.header("Access-Control-Allow-Origin"), EDITOR)
        self.assertEqual(int(reply.header("Content-Length")), len(reply.body))

        archive = zipfile.ZipFile(io.BytesIO(reply.body))
        self.assertIsNone(archive.testzip())  # every CRC checks out
        self.assertEqual(archive.namelist(),
                         ["特效.spine", "images/a.png", "images/sub/b.png", "images/empty.png"])
        for info in archive.infolist():
            self.assertEqual(info.compress_type, zipfile.ZIP_STORED)
        self.assertEqual(archive.read("images/a.png"), PNG)
        self.assertEqual(archive.read("images/sub/b.png"), bytes(reversed(PNG)))
        self.assertEqual(archive.read("images/empty.png"), b"")
        project = archive.read("特效.spine").decode("utf-8").splitlines()
        self.assertEqual(project[0], "glimmer-stub-project")
        arguments = [line[4:] for line in project if line.startswith("arg=")]
        self.assertEqual(arguments[:2], ["--update", "4.2.xx"])
        self.assertEqual(arguments[-2:], ["--import", "特效"])

    def test_two_conversions_at_once_are_both_answered(self):
        replies = {}
        before = self.launcher_runs()

        def convert(name):
            body = conversion_body(name, [(name + ".png", name.encode("utf-8") * 1000)])
            replies[name] = request("POST", "/v1/convert", body=body, headers=JSON_HEADERS)

        threads = [threading.Thread(target=convert, args=(name,)) for name in ("first", "second")]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertLauncherRuns(before, 2)
        self.assertEqual(sorted(replies), ["first", "second"])  # a thread that failed left no reply
        for name, reply in replies.items():
            self.assertEqual(reply.status, 200, name)
            self.assertEqual(reply.header("X-Spine-File-Name"), name + ".zip")
            archive = zipfile.ZipFile(io.BytesIO(reply.body))
            self.assertEqual(archive.read("images/%s.png" % name), name.encode("utf-8") * 1000)

    def test_launcher_failure_is_reported_with_its_own_text(self):
        reply = request("POST", "/v1/convert", body=conversion_body("stub-fail", []), headers=JSON_HEADERS)
        self.assertEqual(reply.status, 500)
        self.assertEqual(json.loads(reply.text()),
                         {"code": "CONVERSION_FAILED",
                          "message": "Spine 授权信息已隐藏\nERROR: cannot import skeleton"})


class ConvertWithoutSpine(ConnectorTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.connector = cls.start_connector("no-spine", spine=None)

    def test_missing_spine_is_reported_before_the_body_is_parsed(self):
        health = json.loads(request("GET", "/v1/health", headers={"Origin": EDITOR}).text())
        self.assertFalse(health["spineFound"])
        for body in (b"not json", conversion_body("x", [])):
            reply = request("POST", "/v1/convert", body=body, headers=JSON_HEADERS)
            self.assertEqual(reply.status, 503)
            self.assertEqual(reply.text(), '{"code":"SPINE_NOT_FOUND","message":"没有找到 Spine，'
                                           '请在连接器应用中选择 Spine 路径"}')


if __name__ == "__main__":
    main()
