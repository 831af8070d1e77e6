#!/usr/bin/env python3
"""End to end: preflight, health, the whole pairing flow across a restart, and the host check,
against the real program on 127.0.0.1:27843."""
import json
import re
import urllib.parse

from connector_harness import ConnectorTestCase, expected_platform, is_windows_build, main, request

EDITOR = "http://localhost:5173"  # one of the built-in development origins
STRANGER = "http://127.0.0.1:3000"


class ApiEndToEnd(ConnectorTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.connector = cls.start_connector("api")

    def test_preflight(self):
        reply = request("OPTIONS", "/v1/convert", headers={"Origin": EDITOR})
        self.assertEqual(reply.status, 204)
        self.assertEqual(reply.body, b"")
        self.assertEqual(reply.headers, {
            "Access-Control-Allow-Headers": "Content-Type",
            "Access-Control-Allow-Methods": "GET, POST, OPTIONS",
            "Access-Control-Allow-Origin": EDITOR,
            "Access-Control-Allow-Private-Network": "true",
            "Connection": "close",
            "Content-Length": "0",
            "Vary": "Origin",
        })
        reply = request("OPTIONS", "/anything")
        self.assertEqual(reply.status, 204)
        self.assertIsNone(reply.header("Access-Control-Allow-Origin"))
        self.assertEqual(reply.header("Vary"), "Origin")

    def test_health(self):
        tail = ('"platform":"%s","secureAvailable":false,"spineFound":false,'
                '"supportedVersions":["3.8","4.0","4.1","4.2","4.3"]}' % expected_platform())
        reply = request("GET", "/v1/health?probe=1", headers={"Origin": EDITOR})
        self.assertEqual(reply.status, 200)
        self.assertEqual(reply.text(), '{"authorized":true,"connectorVersion":"2.0.0",' + tail)
        self.assertEqual(reply.header("Content-Type"), "application/json; charset=utf-8")
        self.assertEqual(reply.header("Access-Control-Allow-Origin"), EDITOR)

        reply = request("GET", "/v1/health", headers={"Origin": "https://unknown.example"})
        self.assertEqual(reply.text(),
                         '{"authorized":false,"connectorVersion":"2.0.0","pairUrl":"http://127.0.0.1:'
                         '27843/pair?origin=https%3A%2F%2Funknown.example",' + tail)

        reply = request("GET", "/v1/health/")
        self.assertEqual(reply.status, 404)
        self.assertEqual(reply.text(), '{"code":"NOT_FOUND","message":"接口不存在"}')

    def test_pairing_survives_a_restart(self):
        health = json.loads(request("GET", "/v1/health", headers={"Origin": STRANGER}).text())
        self.assertFalse(health["authorized"])
        link = urllib.parse.urlsplit(health["pairUrl"])
        self.assertEqual((link.scheme, link.netloc), ("http", "127.0.0.1:27843"))

        page = request("GET", link.path + "?" + link.query)
        self.assertEqual(page.status, 200)
        self.assertEqual(page.header("Content-Type"), "text/html; charset=utf-8")
        self.assertEqual(page.header("X-Frame-Options"), "DENY")
        self.assertEqual(page.header("Content-Security-Policy"), "frame-ancestors 'none'")
        self.assertIsNone(page.header("Access-Control-Allow-Origin"))
        self.assertIn("<code>%s</code>" % STRANGER, page.text())
        nonce = re.search(r'name="nonce" value="([0-9a-f]{48})"', page.text()).group(1)

        form = {"Content-Type": "application/x-www-form-urlencoded", "Origin": "null"}
        done = request("POST", "/pair", body=urllib.parse.urlencode({"nonce": nonce}), headers=form)
        self.assertEqual(done.status, 200)
        self.assertIn("<h2>授权成功</h2><p><code>%s</code>" % STRANGER, done.text())
        self.assertEqual(done.header("X-Frame-Options"), "DENY")
        again = request("POST", "/pair", body="nonce=" + nonce, headers=form)
        self.assertEqual(again.status, 400)
        self.assertIn("<h2>授权已过期，请返回编辑器重试</h2>", again.text())

        def authorized():
            reply = request("GET", "/v1/health", headers={"Origin": STRANGER})
            return json.loads(reply.text())

        self.assertEqual(authorized()["authorized"], True)
        self.assertNotIn("pairUrl", authorized())
        self.connector.restart()
        if not is_windows_build():
            self.assertEqual(self.connector.exit_code, 0, "the console program ends cleanly on SIGINT")
        self.assertEqual(authorized()["authorized"], True)
        with open(self.connector.config_path, encoding="utf-8") as config:
            self.assertEqual(json.load(config)["allowedOrigins"], [STRANGER])

    def test_requests_the_server_cannot_take_get_its_own_bare_reply(self):
        # (method, target, headers, status): what the API never sees, answered "Bad request"
        # without a Content-Type or cross-origin headers, so a page sees a failed fetch.
        cases = [
            ("GET", "/v1/health?origin=%zz", {}, 400),
            ("POST", "/v1/convert", {"Content-Length": "abc"}, 400),
            ("POST", "/v1/convert", {"Content-Length": "209715201"}, 413),
            ("GET", "/v1/health", {"X-Fill": "a" * 70000}, 413),
        ]
        for method, target, headers, status in cases:
            with self.subTest(target=target, headers=str(headers)[:60]):
                reply = request(method, target, headers=dict(headers, Origin=EDITOR))
                self.assertEqual((reply.status, reply.body), (status, b"Bad request"))
                self.assertIsNone(reply.header("Content-Type"))
                self.assertIsNone(reply.header("Access-Control-Allow-Origin"))

    def test_foreign_host_is_refused(self):
        refusal = '{"code":"HOST_NOT_ALLOWED","message":"不允许通过此地址访问连接器"}'
        for method in ("GET", "OPTIONS"):
            reply = request(method, "/v1/health",
                            headers={"Host": "evil.example:27843", "Origin": "http://evil.example:27843"})
            self.assertEqual(reply.status, 403, method)
            self.assertEqual(reply.text(), refusal)
            self.assertIsNone(reply.header("Access-Control-Allow-Origin"))
        page = request("GET", "/pair?origin=http%3A%2F%2Fevil.example%3A27843",
                       headers={"Host": "evil.example:27843"})
        self.assertEqual(page.status, 403)
        self.assertNotIn("nonce", page.text())
        self.assertEqual(request("GET", "/v1/health", headers={"Host": "localhost:1234"}).status, 403)
        for host in ("localhost:27843", "LOCALHOST", "[::1]:27843", "127.0.0.1"):
            self.assertEqual(request("GET", "/v1/health", headers={"Host": host}).status, 200, host)


if __name__ == "__main__":
    main()
