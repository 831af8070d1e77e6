#!/usr/bin/env python3
"""Smoke run of the release program (the optimised, stripped .exe under Wine): health, the
pairing of a new origin, and one conversion with the test launcher standing in for Spine."""
import base64
import io
import json
import re
import sys
import urllib.parse
import zipfile

from connector_harness import ConnectorTestCase, Options, expected_platform, main, request

EDITOR = "http://localhost:5173"
NEWCOMER = "http://127.0.0.1:3000"
PNG = b"\x89PNG\r\n\x1a\n" + bytes(range(256))


def take_version_argument():
    """--version VERSION: the project version the build was configured with."""
    where = sys.argv.index("--version")
    version = sys.argv[where + 1]
    del sys.argv[where:where + 2]
    return version


VERSION = take_version_argument()


class ReleaseSmoke(ConnectorTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.connector = cls.start_connector("release", spine=Options.stub)

    def test_health_pairing_and_one_conversion(self):
        health = json.loads(request("GET", "/v1/health", headers={"Origin": NEWCOMER}).text())
        self.assertEqual(health["connectorVersion"], VERSION)
        self.assertEqual(health["platform"], expected_platform())
        self.assertTrue(health["spineFound"])
        self.assertFalse(health["authorized"])

        link = urllib.parse.urlsplit(health["pairUrl"])
        page = request("GET", link.path + "?" + link.query)
        self.assertEqual(page.status, 200)
        nonce = re.search(r'name="nonce" value="([0-9a-f]{48})"', page.text()).group(1)
        done = request("POST", "/pair", body="nonce=" + nonce,
                       headers={"Content-Type": "application/x-www-form-urlencoded", "Origin": "null"})
        self.assertEqual(done.status, 200)
        again = json.loads(request("GET", "/v1/health", headers={"Origin": NEWCOMER}).text())
        self.assertTrue(again["authorized"])

        body = json.dumps({
            "schemaVersion": 1,
            "skeletonJson": json.dumps({"skeleton": {"spine": "4.2.11", "images": "./images/"}}),
            "spineVersion": "4.2",
            "projectName": "冒烟",
            "images": [{"path": "a.png", "dataBase64": base64.b64encode(PNG).decode("ascii")}],
        }, ensure_ascii=False).encode("utf-8")
        reply = request("POST", "/v1/convert", body=body,
                        headers={"Origin": NEWCOMER, "Content-Type": "application/json"})
        self.assertEqual(reply.status, 200, reply.body[:300])
        self.assertEqual(reply.header("X-Spine-File-Name"), "%E5%86%92%E7%83%9F.zip")
        archive = zipfile.ZipFile(io.BytesIO(reply.body))
        self.assertIsNone(archive.testzip())
        self.assertEqual(archive.namelist(), ["冒烟.spine", "images/a.png"])
        self.assertEqual(archive.read("images/a.png"), PNG)


if __name__ == "__main__":
    main()
