#!/usr/bin/env python3
"""End to end in a real browser: a headless Chromium, driven through chromedriver, loads a small
editor-like page from http://localhost:5174 (not a built-in origin) and http://localhost:5173 (built
in) and walks the whole journey against the real program: health, refusal, pairing in a new tab,
a preflighted JSON conversion downloaded as a Blob, a failed conversion, framing of the pairing page,
a foreign host name that resolves to 127.0.0.1, and a page the browser counts as a public, secure
site, which may reach the connector only with the user's leave (Local Network Access). What counts
is what the page can see, which the browser decides (CORS, preflights, exposed headers,
local-network rules, frame options). Every reply the browser receives from the connector is held
to the API document (api_document.py).

Chromium missing or unable to start is a failure of this suite, never a silent skip."""
import argparse
import atexit
import base64
import functools
import http.server
import io
import json
import os
import re
import sys
import threading
import urllib.parse
import zipfile

from api_document import check_reply
from connector_harness import PORT, ConnectorTestCase, Options, main, request

try:
    from selenium import webdriver
    from selenium.common.exceptions import TimeoutException, WebDriverException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError as missing:
    sys.exit("FAILED: the browser suite needs Selenium for Python (%s); install it with "
             "scripts/install-deps.sh" % missing)

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
PAGES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "browser")
CONNECTOR = "http://127.0.0.1:27843"
STRANGER = "http://localhost:5174"  # not built in: must pair first
BUILT_IN = "http://localhost:5173"  # one of the built-in development origins
FOREIGN_HOST = "evil.example"  # mapped to 127.0.0.1 inside the browser only
# The editor as users have it, a public HTTPS site: a name mapped to 127.0.0.1, whose page address
# the browser is told is public, and whose origin it treats as secure (as it would https).
PUBLIC_PORT = 5175
PUBLIC_EDITOR = "http://editor.example:%d" % PUBLIC_PORT
# Chromium's permission for a less private address space (public) to reach the loopback one.
LOOPBACK_PERMISSION = "loopback-network"
WAIT_SECONDS = 60  # bound of every wait on the browser; a Windows conversion under Wine is the slowest
SCRIPT_SECONDS = 120
ALLOW_BUTTON = "//button[normalize-space()='允许此网站']"
PNG = b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 4
REFUSAL = {"code": "ORIGIN_NOT_ALLOWED", "message": "需要先授权当前网站使用本地 Spine 连接器"}


def pair_url(origin):
    return CONNECTOR + "/pair?origin=" + urllib.parse.quote(origin, safe="")


def conversion_request(project_name, images):
    return {
        "schemaVersion": 1,
        "skeletonJson": json.dumps({"skeleton": {"spine": "4.2.11", "images": "./images/"}}),
        "spineVersion": "4.2",
        "projectName": project_name,
        "images": [{"path": path, "dataBase64": base64.b64encode(data).decode("ascii")}
                   for path, data in images],
    }


class Screenshots:
    directory = None  # where the pictures of the pairing pages go; none when not asked for


def take_own_options():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--screenshots")
    own, rest = parser.parse_known_args(sys.argv[1:])
    Screenshots.directory = own.screenshots
    sys.argv[1:] = rest


class QuietPageHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *_):
        pass

    def end_headers(self):
        self.send_header("Cache-Control", "no-store")
        super().end_headers()


def serve_pages(port):
    """The test pages on 127.0.0.1:port in a thread of their own; returns the server to shut down."""
    handler = functools.partial(QuietPageHandler, directory=PAGES)
    try:
        server = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
    except OSError as error:
        raise RuntimeError("cannot serve the test page on port %d: %s" % (port, error)) from error
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def quit_quietly(driver):
    try:
        driver.quit()
    except Exception:  # already gone
        pass


def start_chromium(profile, log_path):
    """Headless Chromium with a fresh profile. Its rules on private networks, CORS and framing are
    left as shipped: the suite is about what a real browser lets a page do."""
    for path in (CHROMIUM, CHROMEDRIVER):
        if not os.path.exists(path):
            raise RuntimeError("%s is missing: the browser suite needs Debian's chromium and "
                               "chromium-driver (scripts/install-deps.sh installs them)" % path)
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking", "--disable-component-update",
                     "--disable-sync", "--no-proxy-server", "--window-size=760,640",
                     "--host-resolver-rules=MAP %s 127.0.0.1,MAP %s 127.0.0.1"
                     % (FOREIGN_HOST, urllib.parse.urlsplit(PUBLIC_EDITOR).hostname),
                     "--ip-address-space-overrides=127.0.0.1:%d=public" % PUBLIC_PORT,
                     "--unsafely-treat-insecure-origin-as-secure=" + PUBLIC_EDITOR,
                     "--user-data-dir=" + profile):
        options.add_argument(argument)
    # The network log shows what was sent and answered, whatever the page was allowed to see.
    options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    try:
        driver = webdriver.Chrome(service=Service(CHROMEDRIVER, log_path=log_path), options=options)
    except WebDriverException as error:
        raise RuntimeError("Chromium could not be started, so no browser case can run: %s"
                           % error.msg) from error
    atexit.register(quit_quietly, driver)  # also when a stop request ends the suite early
    driver.set_page_load_timeout(WAIT_SECONDS)
    driver.set_script_timeout(SCRIPT_SECONDS)
    return driver


class BrowserEndToEnd(ConnectorTestCase):
    """The cases build on each other in the order of their numbers, as a user's first visit does."""

    methods_sent = {}  # request id -> method, of every request the browser sent
    unread = []  # network events read from the browser that network_events has not returned yet

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # The browser first: without it nothing here can run, so say so before starting anything.
        profile = os.path.join(cls.directory, "chromium-profile")
        os.makedirs(profile)
        cls.driver = start_chromium(profile, os.path.join(cls.directory, "chromedriver.log"))
        cls.addClassCleanup(quit_quietly, cls.driver)
        cls.editor_tab = cls.driver.current_window_handle
        for port in (5173, 5174, PUBLIC_PORT):
            server = serve_pages(port)
            cls.addClassCleanup(server.server_close)
            cls.addClassCleanup(server.shutdown)
        cls.connector = cls.start_connector("browser", spine=Options.stub)

    def tearDown(self):
        self.network_events()  # the replies of the test's last steps are checked too
        super().tearDown()

    # -- helpers ------------------------------------------------------------------------------

    def wait_for(self, condition, what):
        try:
            return WebDriverWait(self.driver, WAIT_SECONDS).until(lambda driver: condition(driver))
        except TimeoutException:
            self.fail("gave up after %d s waiting for %s (page: %s)"
                      % (WAIT_SECONDS, what, self.driver.current_url))

    def open_editor(self, origin, connector=None):
        self.driver.switch_to.window(self.editor_tab)
        address = origin + "/editor.html"
        if connector:
            address += "?connector=" + urllib.parse.quote(connector, safe="")
        self.go(address)
        self.wait_for(lambda driver: driver.execute_script("return !!window.editor"), "the editor page")

    def page_call(self, call, *arguments):
        """Runs an async call of the page (an expression over `arguments`) and returns its value."""
        result = self.driver.execute_async_script(
            "const done = arguments[arguments.length - 1];"
            "Promise.resolve().then(() => %s)"
            ".then(done, error => done({scriptError: String(error)}));" % call, *arguments)
        self.read_network_log()
        return result

    def read_network_log(self):
        """Moves the browser's new network events to self.unread, holding the connector's replies
        among them to the API document. Called before every navigation and after every call of
        the page too, while the browser still holds the bodies of what the page received."""
        events = [json.loads(entry["message"])["message"] for entry in self.driver.get_log("performance")]
        self.check_connector_replies(events)
        self.unread = self.unread + events

    def network_events(self, method=None):
        """The browser's network events (of one kind) since the last call."""
        self.read_network_log()
        events, self.unread = self.unread, []
        return [event["params"] for event in events if event["method"] == (method or event["method"])]

    def check_connector_replies(self, events):
        for event in events:
            params = event["params"]
            if event["method"] == "Network.requestWillBeSent":
                self.methods_sent[params["requestId"]] = params["request"]["method"]
            elif (event["method"] == "Network.responseReceived"
                  and urllib.parse.urlsplit(params["response"]["url"]).port == PORT):
                response = params["response"]
                content_type = next((value for name, value in response["headers"].items()
                                     if name.lower() == "content-type"), "")
                body = b""
                if "json" in content_type or (not content_type and response["status"] != 204):
                    body = self.received_body(params)
                # A new tab's first page may be asked for before the driver watches the tab; a tab
                # opens with a GET.
                method = self.methods_sent.get(params["requestId"],
                                               "GET" if params.get("type") == "Document" else None)
                self.assertIsNotNone(method, "a reply to a request never seen: %s" % response["url"])
                check_reply(method, response["url"], response["status"], response["headers"], body)

    def received_body(self, params):
        try:
            found = self.driver.execute_cdp_cmd("Network.getResponseBody", {"requestId": params["requestId"]})
        except WebDriverException:
            # DevTools keeps no body of a preflight or of the browser's own requests (the page
            # icon), and a page in a cross-site frame has a DevTools target of its own, whose bodies
            # the driver cannot ask for: of these, status, type and headers are checked.
            if params.get("type") in ("Preflight", "Other"):
                return None
            top = self.driver.execute_cdp_cmd("Page.getFrameTree", {})["frameTree"]["frame"]["id"]
            if params.get("type") == "Document" and params.get("frameId") != top:
                return None
            raise
        return base64.b64decode(found["body"]) if found["base64Encoded"] else found["body"].encode("utf-8")

    def go(self, address):
        self.read_network_log()
        self.driver.get(address)

    def preflights_sent(self):
        """(url, requested headers) of the CORS preflights sent since the last look at the network."""
        return [(event["request"]["url"], event["request"]["headers"].get("Access-Control-Request-Headers"))
                for event in self.network_events("Network.requestWillBeSent")
                if event["request"]["method"] == "OPTIONS"]

    def posts_sent(self):
        """(url, body) of the POST requests sent since the last look at the network."""
        return [(event["request"]["url"], event["request"].get("postData"))
                for event in self.network_events("Network.requestWillBeSent")
                if event["request"]["method"] == "POST"]

    def responses_received(self):
        return [event["response"] for event in self.network_events("Network.responseReceived")]

    def saved_origins(self):
        if not os.path.exists(self.connector.config_path):
            return []
        with open(self.connector.config_path, encoding="utf-8") as config:
            return json.load(config).get("allowedOrigins", [])

    def screenshot(self, name):
        if Screenshots.directory is None:
            return
        os.makedirs(Screenshots.directory, exist_ok=True)
        target = os.path.join(Screenshots.directory, name)
        with open(target + ".tmp", "wb") as picture:
            picture.write(self.driver.get_screenshot_as_png())
        os.replace(target + ".tmp", target)

    def click_at(self, x, y):
        """A left click at a point of the page, as the pointer would give it, wherever it lands."""
        for kind in ("mousePressed", "mouseReleased"):
            self.driver.execute_cdp_cmd("Input.dispatchMouseEvent", {
                "type": kind, "x": x, "y": y, "button": "left", "buttons": 1, "clickCount": 1})

    def space_key(self, kind, repeat=False):
        """A Space key event as the keyboard gives it to the focused element; a held key repeats
        its key-down until the release."""
        event = {"type": kind, "key": " ", "code": "Space", "windowsVirtualKeyCode": 32,
                 "autoRepeat": repeat}
        if kind == "keyDown":
            event["text"] = " "
        self.driver.execute_cdp_cmd("Input.dispatchKeyEvent", event)

    def wait_until_live(self, button):
        # The button is dimmed until the page has been seen for a second, as a reader sees it.
        self.wait_for(lambda driver: button.value_of_css_property("opacity") == "1",
                      "the button 允许此网站 to become live")

    def assertDarkPage(self):
        # The page style arrives and applies (a content policy that blocked the inline style would
        # leave a white page with a grey button).
        style = self.driver.execute_script(
            "return [getComputedStyle(document.body).backgroundColor,"
            "        getComputedStyle(document.querySelector('main')).backgroundColor];")
        self.assertEqual(style, ["rgb(16, 19, 30)", "rgb(24, 30, 44)"])

    # -- the cases ----------------------------------------------------------------------------

    def test_1_health_tells_an_unpaired_page_where_to_pair(self):
        self.open_editor(STRANGER)
        health = self.page_call("window.editor.health()")
        self.assertEqual(health.get("status"), 200, health)
        self.assertIs(health["body"]["authorized"], False)
        self.assertEqual(health["body"]["pairUrl"], pair_url(STRANGER))
        self.assertEqual(health["body"]["connectorVersion"], "2.0.0")
        self.assertTrue(health["body"]["spineFound"])

        self.open_editor(BUILT_IN)
        health = self.page_call("window.editor.health()")
        self.assertEqual(health.get("status"), 200, health)
        self.assertIs(health["body"]["authorized"], True)
        self.assertNotIn("pairUrl", health["body"])

    def test_2_unpaired_conversion_is_refused_readably(self):
        self.open_editor(STRANGER)
        reply = self.page_call("window.editor.convert(arguments[0])",
                               conversion_request("x", [("a.png", PNG)]))
        self.assertEqual(reply.get("status"), 403, reply)
        self.assertEqual(reply["body"], dict(REFUSAL, pairUrl=pair_url(STRANGER)))
        self.assertEqual(self.saved_origins(), [])

    def test_3_pairing_page_in_a_new_tab(self):
        self.open_editor(STRANGER)
        self.assertIs(self.page_call("window.editor.health()")["body"]["authorized"], False)
        self.driver.find_element(By.ID, "pair").click()  # a user's click: popups need one
        new_tab = self.wait_for(
            lambda driver: next((h for h in driver.window_handles if h != self.editor_tab), False),
            "the pairing tab")
        self.driver.switch_to.window(new_tab)
        try:
            button = self.wait_for(lambda driver: driver.find_elements(By.XPATH, ALLOW_BUTTON),
                                   "the button 允许此网站")[0]
            self.assertEqual(self.driver.current_url, pair_url(STRANGER))
            self.assertEqual(self.driver.title, "Glimmer连接器")
            self.assertEqual(self.driver.find_element(By.TAG_NAME, "h2").text, "授权 Glimmer编辑器")
            self.assertEqual([code.text for code in self.driver.find_elements(By.CSS_SELECTOR, "p code")],
                             [".spine", STRANGER])
            self.assertDarkPage()
            self.wait_until_live(button)
            self.screenshot("pairing-page.png")
            self.assertEqual(self.saved_origins(), [])

            centre = (button.rect["x"] + button.rect["width"] / 2,
                      button.rect["y"] + button.rect["height"] / 2)
            button.click()
            self.wait_for(lambda driver: driver.find_elements(By.XPATH, "//h2[.='授权成功']"),
                          "the success page")
            self.assertEqual(self.driver.current_url, CONNECTOR + "/pair")
            self.assertEqual(self.driver.find_element(By.CSS_SELECTOR, "p code").text, STRANGER)
            self.assertIn("现在可以生成 Spine 工程", self.driver.find_element(By.TAG_NAME, "p").text)
            self.assertDarkPage()
            self.screenshot("pairing-done.png")

            # Double-clickjacking: the second click of a double-click on another page lands on
            # this page as it appears. It does nothing and sends nothing; the same click once the
            # page has been seen posts the very nonce it showed (a spent one would be "expired").
            # What the press hit and how long after the load, as the page saw it.
            self.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": (
                "addEventListener('pointerdown', event => { window.pressed = ["
                "event.target.localName, performance.now() -"
                " performance.getEntriesByType('navigation')[0].loadEventEnd]; }, true);")})
            for _ in range(5):  # a busy machine may delay the click beyond what is asked
                self.network_events()
                self.go(pair_url(STRANGER))
                self.click_at(*centre)
                pressed = self.driver.execute_script("return window.pressed || null")
                if pressed and pressed[1] < 100:
                    break
            self.assertTrue(pressed and pressed[1] < 100,
                            "the early click was late or left the page: %s" % pressed)
            self.assertEqual(pressed[0], "button")
            nonce = self.driver.find_element(By.NAME, "nonce").get_attribute("value")
            self.wait_until_live(self.driver.find_element(By.XPATH, ALLOW_BUTTON))
            self.assertEqual(self.posts_sent(), [], "the early click sent the form")
            self.assertEqual(self.driver.current_url, pair_url(STRANGER))
            self.click_at(*centre)
            self.wait_for(lambda driver: driver.find_elements(By.XPATH, "//h2[.='授权成功']"),
                          "the success page after a click on a page that was seen")
            self.assertEqual(self.posts_sent(), [(CONNECTOR + "/pair", "nonce=" + nonce)])
        finally:
            self.driver.close()
            self.driver.switch_to.window(self.editor_tab)

    def test_3b_space_held_past_the_repeat_delay(self):
        # Space clicks on its release, after the repeated key-downs of a held key. The press
        # counts as it began: begun before the page had been seen it sends nothing, begun after
        # it confirms, however many repeats come between.
        self.driver.switch_to.window(self.editor_tab)
        for _ in range(5):  # a busy machine may delay the first key-down past the guard's second
            self.network_events()
            self.driver.get(pair_url(STRANGER))
            button = self.driver.find_element(By.XPATH, ALLOW_BUTTON)
            # Each key-down as the button saw it (a repeat or not, live or dimmed), and a submit.
            self.driver.execute_script(
                "const button = arguments[0]; window.seen = [];"
                "button.addEventListener('keydown', event => window.seen.push("
                "  (event.repeat ? 'repeat ' : 'down ') + (button.style.opacity ? 'dim' : 'live')));"
                "button.form.addEventListener('submit', () => window.seen.push('submit'));"
                "button.focus();", button)
            self.space_key("keyDown")
            if self.driver.execute_script("return window.seen") == ["down dim"]:
                break
        self.wait_until_live(button)
        for _ in range(3):
            self.space_key("keyDown", repeat=True)
        self.space_key("keyUp")
        early = ["down dim"] + ["repeat live"] * 3
        self.assertEqual(self.driver.execute_script("return window.seen"), early)

        nonce = self.driver.find_element(By.NAME, "nonce").get_attribute("value")
        self.space_key("keyDown")
        for _ in range(3):
            self.space_key("keyDown", repeat=True)
        self.assertEqual(self.driver.execute_script("return window.seen"),
                         early + ["down live"] + ["repeat live"] * 3)
        self.space_key("keyUp")
        self.wait_for(lambda driver: driver.find_elements(By.XPATH, "//h2[.='授权成功']"),
                      "the success page after Space held on a page that was seen")
        self.assertEqual(self.posts_sent(), [(CONNECTOR + "/pair", "nonce=" + nonce)])

    def test_4_health_after_pairing(self):
        self.open_editor(STRANGER)
        health = self.page_call("window.editor.health()")
        self.assertEqual(health.get("status"), 200, health)
        self.assertIs(health["body"]["authorized"], True, "case 3 paired this origin")
        self.assertNotIn("pairUrl", health["body"])
        self.assertEqual(self.saved_origins(), [STRANGER])

    def test_5_preflighted_conversion_downloads_the_zip(self):
        self.open_editor(STRANGER)
        images = [("a.png", PNG), ("sub/b.png", bytes(reversed(PNG)))]
        # Case 2 sent the same preflight moments ago, and a browser may reuse a preflight's answer
        # for a few seconds; without its cache this conversion is preflighted whatever the timing.
        self.driver.execute_cdp_cmd("Network.clearBrowserCache", {})
        self.preflights_sent()
        reply = self.page_call("window.editor.convert(arguments[0])", conversion_request("特效", images))
        self.assertEqual(reply.get("status"), 200, reply)
        self.assertEqual(self.preflights_sent(), [(CONNECTOR + "/v1/convert", "content-type")])
        # Readable only through Access-Control-Expose-Headers.
        self.assertEqual(reply["fileName"], "%E7%89%B9%E6%95%88.zip")
        self.assertEqual(reply["editorVersion"], "4.2.43")
        self.assertEqual(reply["blobType"], "application/zip")
        data = base64.b64decode(reply["base64"])
        self.assertEqual(len(data), reply["blobSize"])
        archive = zipfile.ZipFile(io.BytesIO(data))
        self.assertIsNone(archive.testzip())
        self.assertEqual(archive.namelist(), ["特效.spine", "images/a.png", "images/sub/b.png"])
        self.assertEqual(archive.read("images/a.png"), PNG)
        self.assertEqual(archive.read("images/sub/b.png"), bytes(reversed(PNG)))
        self.assertTrue(archive.read("特效.spine").startswith(b"glimmer-stub-project\n"))
        self.assertEqual(self.driver.find_element(By.ID, "status").text, "已生成 特效.zip")

    def test_6_launcher_failure_reaches_the_page_cleaned(self):
        # From the built-in origin, which needs no pairing.
        self.open_editor(BUILT_IN)
        reply = self.page_call("window.editor.convert(arguments[0])", conversion_request("stub-fail", []))
        self.assertEqual(reply.get("status"), 500, reply)
        self.assertEqual(reply["body"], {"code": "CONVERSION_FAILED",
                                         "message": "Spine 授权信息已隐藏\nERROR: cannot import skeleton"})

    def test_7_pairing_page_cannot_be_framed(self):
        self.driver.switch_to.window(self.editor_tab)
        self.network_events()  # from here on
        framed = pair_url("https://framer.example")
        query = urllib.parse.urlencode({"src": framed,
                                        "control": CONNECTOR + "/v1/health"})
        self.go(STRANGER + "/frame.html?" + query)
        self.wait_for(lambda driver: driver.execute_script("return window.framesLoaded") == 2,
                      "both frames to finish loading")

        # The control frame shows what a framed connector reply looks like from here.
        self.driver.switch_to.frame("control")
        self.assertIn('"connectorVersion":"2.0.0"', self.driver.find_element(By.TAG_NAME, "body").text)
        self.driver.switch_to.default_content()

        self.driver.switch_to.frame("target")
        inside = self.driver.execute_script("return location.href")
        shown = self.driver.find_elements(By.XPATH, ALLOW_BUTTON) + self.driver.find_elements(By.NAME, "nonce")
        self.driver.switch_to.default_content()
        self.assertEqual(shown, [], "the browser rendered the pairing page inside a frame")
        self.assertTrue(inside.startswith("chrome-error://"), "the frame shows " + inside)
        # Served by the connector, then refused by the browser: not a failed load.
        served = [response["status"] for response in self.responses_received() if response["url"] == framed]
        self.assertEqual(served, [200])

    def test_8_foreign_host_name_gets_nothing(self):
        # A page that reaches the connector under its own host name (DNS rebinding): the browser
        # resolves evil.example to 127.0.0.1.
        foreign_connector = "http://%s:27843" % FOREIGN_HOST
        self.open_editor("http://%s:5174" % FOREIGN_HOST, connector=foreign_connector)
        health = self.page_call("window.editor.health()")
        self.assertIn("TypeError", health.get("fetchError", ""), health)
        reply = self.page_call("window.editor.convert(arguments[0])", conversion_request("x", []))
        self.assertIn("TypeError", reply.get("fetchError", ""), reply)

        # Same origin as the connector under that name: replies are readable, and refuse.
        self.go(foreign_connector + "/pair?origin=" + urllib.parse.quote(foreign_connector, safe=""))
        self.assertEqual(self.driver.find_elements(By.XPATH, ALLOW_BUTTON), [])
        self.assertNotIn("nonce", self.driver.page_source)
        for method, path in (("GET", "/v1/health"), ("POST", "/pair")):
            reply = self.page_call(
                "fetch(arguments[0], {method: arguments[1], body: arguments[1] === 'POST' ? 'nonce=' : null})"
                ".then(async response => ({status: response.status, body: await response.text()}))",
                path, method)
            self.assertEqual(reply.get("status"), 403, (method, path, reply))
            self.assertEqual(json.loads(reply["body"])["code"], "HOST_NOT_ALLOWED", (method, path))
        self.assertEqual(self.saved_origins(), [STRANGER])

    def test_9_public_secure_page_reaches_the_connector_only_with_leave(self):
        # A nonce of a pairing for this origin, to be posted by the page: if the connector ever
        # received the post, the nonce would be spent.
        page = request("GET", "/pair?origin=" + urllib.parse.quote(PUBLIC_EDITOR, safe=""))
        nonce = re.search(r'name="nonce" value="([0-9a-f]{48})"', page.text()).group(1)
        post_nonce = ("fetch(arguments[0] + '/pair', {method: 'POST', mode: 'no-cors', body: 'nonce=' + arguments[1]})"
                      ".then(() => 'sent', error => error.name + ': ' + error.message)")
        loopback_state = "navigator.permissions.query({name: '%s'}).then(status => status.state)" % LOOPBACK_PERMISSION

        self.set_loopback_permission("denied")
        self.open_editor(PUBLIC_EDITOR)
        self.assertTrue(self.driver.execute_script("return window.isSecureContext"))
        self.assertEqual(self.page_call(loopback_state), "denied")
        self.network_events()
        failed = {"fetchError": "TypeError: Failed to fetch"}
        self.assertEqual(self.page_call("window.editor.health()"), failed)
        self.assertEqual(self.page_call("window.editor.convert(arguments[0])", conversion_request("x", [])), failed)
        self.assertEqual(self.page_call(post_nonce, CONNECTOR, nonce), "TypeError: Failed to fetch")
        self.assertEqual([response["url"] for response in self.responses_received()
                          if urllib.parse.urlsplit(response["url"]).port == PORT], [])
        # Nothing reached the connector: the nonce is still good, and spending it here pairs the origin.
        self.assertNotIn(PUBLIC_EDITOR, self.saved_origins())
        done = request("POST", "/pair", body="nonce=" + nonce,
                       headers={"Content-Type": "application/x-www-form-urlencoded"})
        self.assertEqual(done.status, 200, "the page's post reached the connector and spent the nonce")

        self.set_loopback_permission("granted")
        self.open_editor(PUBLIC_EDITOR)
        self.assertEqual(self.page_call(loopback_state), "granted")
        health = self.page_call("window.editor.health()")
        self.assertEqual(health.get("status"), 200, health)
        self.assertIs(health["body"]["authorized"], True)
        self.driver.execute_cdp_cmd("Network.clearBrowserCache", {})
        self.preflights_sent()
        reply = self.page_call("window.editor.convert(arguments[0])", conversion_request("公开", [("a.png", PNG)]))
        self.assertEqual(reply.get("status"), 200, reply)
        self.assertEqual(self.preflights_sent(), [(CONNECTOR + "/v1/convert", "content-type")])
        self.assertEqual((reply["fileName"], reply["editorVersion"], reply["blobType"]),
                         ("%E5%85%AC%E5%BC%80.zip", "4.2.43", "application/zip"))
        archive = zipfile.ZipFile(io.BytesIO(base64.b64decode(reply["base64"])))
        self.assertEqual(archive.namelist(), ["公开.spine", "images/a.png"])
        self.assertEqual(archive.read("images/a.png"), PNG)

    def set_loopback_permission(self, setting):
        """What the user answers when the browser asks whether the page may reach this device."""
        self.driver.execute_cdp_cmd("Browser.setPermission", {
            "permission": {"name": LOOPBACK_PERMISSION}, "setting": setting, "origin": PUBLIC_EDITOR})


if __name__ == "__main__":
    take_own_options()
    main()
