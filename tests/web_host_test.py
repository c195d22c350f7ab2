#!/usr/bin/python3
"""Drives `orvane web` in headless Chromium against a real orvaned on a copy of the demo root.

Usage: web_host_test.py BUILD_DIR. Exits 77 (skipped) without chromium, chromedriver or selenium.
Saves a screenshot of each screen into $ORVANE_SCREENSHOTS (default BUILD_DIR/tests/web-screens).
"""
import contextlib
import http.client
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SKIPPED = 77
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.common.exceptions import StaleElementReferenceException
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("skipped: python3-selenium is not installed")
    sys.exit(SKIPPED)
for tool in ("/usr/bin/chromium", "/usr/bin/chromedriver"):
    if not os.access(tool, os.X_OK):
        print(f"skipped: {tool} is not installed")
        sys.exit(SKIPPED)

SOURCE = Path(__file__).resolve().parent.parent
BUILD = Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
SHOTS = Path(os.environ.get("ORVANE_SCREENSHOTS", BUILD / "tests" / "web-screens"))


def demo_root(root):
    shutil.copytree(SOURCE / "examples/root", root, dirs_exist_ok=True)
    for plist in root.glob("**/LaunchDaemons/*.plist"):
        plist.write_text(plist.read_text().replace("@DEMO_ROOT@", str(root)))
    (root / "var/mobile/Media").mkdir(parents=True)
    shutil.copytree(BUILD / "root/Library/PreferenceBundles/OrvanePrefs.bundle",
                    root / "Library/PreferenceBundles/OrvanePrefs.bundle")


def until(condition, seconds=5.0):
    """Polls a condition that has no event to wait on (a socket file appearing)."""
    deadline = time.monotonic() + seconds
    while not condition():
        assert time.monotonic() < deadline, "timed out"
        time.sleep(0.02)


def request(authority, method, path, headers):
    connection = http.client.HTTPConnection(authority, timeout=15)
    connection.request(method, path, body="{}" if method == "POST" else None, headers=headers)
    reply = connection.getresponse()
    reply.read()
    return reply


def check_refusals(authority, token):
    """No token, a wrong token, a foreign Host and a foreign Origin are refused."""
    ours = {"Host": authority}
    assert request(authority, "GET", "/", ours).status == 403
    assert request(authority, "GET", "/?token=" + "0" * len(token), ours).status == 403
    foreign = {"Host": "attacker.example:" + authority.split(":")[1]}
    assert request(authority, "GET", "/?token=" + token, foreign).status == 421
    first = request(authority, "GET", "/?token=" + token, ours)
    assert first.status == 303, first.status
    cookie = first.getheader("Set-Cookie")
    assert "HttpOnly" in cookie and "SameSite=Strict" in cookie, cookie
    page = request(authority, "GET", "/", {**ours, "Cookie": cookie.split(";")[0]})
    assert "script-src 'self'" in page.getheader("Content-Security-Policy")
    assert page.getheader("Access-Control-Allow-Origin") is None
    act = {**ours, "Cookie": cookie.split(";")[0], "Content-Type": "application/json"}
    assert request(authority, "POST", "/api/act", {**act, "Origin": "http://evil.example"}).status == 403
    assert request(authority, "POST", "/api/act", {**act, "Origin": "http://" + authority}).status == 400
    assert request(authority, "GET", "/../CMakeLists.txt", {**act}).status in (400, 404)


class Page:
    def __init__(self, driver):
        self.driver = driver

    def wait(self, condition, seconds=15.0):
        """Waits for the condition, looking again when the page redrew what it looked at. The
        bound is generous: sanitized programs on a loaded machine are many times slower."""
        return WebDriverWait(self.driver, seconds, ignored_exceptions=[
            StaleElementReferenceException]).until(lambda _: condition())

    def click(self, css, name):
        self.wait(lambda: (found := self.find(css, name)) is not None and found.click() is None)

    def find(self, css, name):
        """The element matching css whose accessible name starts with name, or None."""
        for element in self.driver.find_elements(By.CSS_SELECTOR, css):
            if element.accessible_name.startswith(name):
                return element
        return None

    def row(self, label):
        return self.wait(lambda: self.find("main a", label))

    def switch(self, name):
        found = self.wait(lambda: self.find("[role=switch]", name))
        assert found.accessible_name == name
        return found

    def checked(self, name):
        return self.switch(name).get_attribute("aria-checked") == "true"

    def flip(self, name, then=None):
        self.click("[role=switch]", name)
        if then is not None:
            self.wait(lambda: self.checked(name) == then)

    def press(self, text):
        self.click("button", text)

    def dialog(self, role="alertdialog"):
        box = self.wait(lambda: self.find("dialog[open]", ""))
        assert box.get_attribute("role") == role
        return box

    def answer(self, text):
        """Presses a dialog's button; returns once that dialog closed (another may follow)."""
        answered = self.dialog_id()
        self.click("dialog[open] button", text)
        self.wait(lambda: self.dialog_id() != answered)

    def name_file(self, name, outcome):
        """Answers the file-name prompt with OK, then the result alert, which must say outcome."""
        self.dialog(role="dialog")
        self.driver.switch_to.active_element.send_keys(name)
        self.answer("OK")
        assert outcome in self.dialog().text
        self.answer("OK")

    def dialog_id(self):
        boxes = self.driver.find_elements(By.CSS_SELECTOR, "dialog[open]")
        return boxes[0].get_attribute("data-dialog") if boxes else None

    def status(self):
        return self.driver.find_element(By.CSS_SELECTOR, "[role=status]").text

    def open(self, label):
        self.click("main a", label)
        self.wait(lambda: label in self.driver.find_element(By.ID, "crumbs").text)

    def state_of(self, label):
        return self.row(label).find_element(By.CSS_SELECTOR, ".badge").text

    def shot(self, name):
        SHOTS.mkdir(parents=True, exist_ok=True)
        self.driver.save_screenshot(str(SHOTS / f"web-{name}.png"))


def drive(page, url, root, cli):
    started = time.monotonic()
    page.driver.get(url)
    page.row("org.example.heartbeat")
    print(f"page load: {(time.monotonic() - started) * 1000:.0f} ms")
    assert page.state_of("org.example.indexer") == "stopped"
    page.shot("list")

    # A third-party job stops without a question, and its log, shown on its page, follows what
    # the service says of it; the browser's Back returns to the list.
    page.open("org.example.heartbeat")
    log = lambda: page.driver.find_element(By.ID, "log-lines").text
    page.wait(lambda: re.search(r"\d\d:\d\d:\d\d\.\d{3}\s+out\s+heartbeat \d+", log()))
    started = time.monotonic()
    page.flip("Alive", then=False)
    print(f"click to updated switch: {(time.monotonic() - started) * 1000:.0f} ms")
    page.wait(lambda: "stopped" in page.status())
    page.wait(lambda: re.search(r"service\s+(killed|exited)", log()))
    page.driver.execute_script("scrollTo(0, document.body.scrollHeight)")
    assert page.driver.execute_script(  # scrolled and redrawn, each row is drawn once
        "return document.querySelectorAll('[aria-label=Alive]').length") == 1
    page.shot("job")
    page.driver.back()
    page.wait(lambda: page.state_of("org.example.heartbeat") == "stopped")

    # A system job asks first, with CANCEL focused; CANCEL keeps it running, OK stops it.
    page.flip("Show system jobs", then=True)
    page.open("com.apple.locationd")
    page.flip("Alive")
    page.dialog()
    assert page.driver.switch_to.active_element.text == "CANCEL"
    page.shot("dialog")
    page.answer("CANCEL")
    assert page.checked("Alive")
    page.flip("Alive")
    page.dialog()
    page.answer("OK")
    page.wait(lambda: not page.checked("Alive"))

    # A protected job is refused with an alert.
    page.driver.back()
    page.open("com.apple.SpringBoard")
    page.flip("Alive")
    box = page.dialog()
    assert "protected" in box.text, box.text
    page.answer("OK")
    assert page.checked("Alive")
    page.driver.back()
    page.flip("Show system jobs", then=False)
    page.wait(lambda: page.find("main a", "com.apple.locationd") is None)

    # Export under a name, start the job again elsewhere, import: the file stops it again.
    page.press("Export")
    page.name_file("choices", "Exported")
    assert (root / "var/mobile/Media/choices").exists()
    cli("start", "org.example.heartbeat")
    page.press("Refresh")
    page.wait(lambda: page.state_of("org.example.heartbeat") == "running")
    page.press("Import")
    page.dialog()
    page.answer("OK")
    page.name_file("choices", "Imported")
    page.wait(lambda: page.state_of("org.example.heartbeat") == "stopped")

    # A job stopped from the command line shows as stopped at the next rebuild, with the
    # filter, the focus and the page kept.
    page.driver.find_element(By.ID, "filter").send_keys("example")
    cli("stop", "org.example.backup")
    page.wait(lambda: page.state_of("org.example.backup") == "stopped", seconds=11)
    assert page.driver.switch_to.active_element.get_attribute("id") == "filter"
    assert page.driver.find_element(By.ID, "filter").get_attribute("value") == "example"


@contextlib.contextmanager
def served(root):
    """orvaned and `orvane web` on the root, and a headless browser: (address match, env, driver)."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("ORVANE_RUNTIME_DIR", "LANGUAGE", "LC_ALL", "LC_MESSAGES")}
    env.update(ORVANE_ROOT=str(root), LANG="C.UTF-8")
    daemon = subprocess.Popen([BUILD / "bin/orvaned", "--root", root, "--stop-timeout", "1"],
                              env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    host = driver = None
    try:
        until(lambda: (root / "var/run/orvane/msgport.orvane.sock").exists(), seconds=30)
        host = subprocess.Popen([BUILD / "bin/orvane", "web"], env=env, text=True,
                                stdout=subprocess.PIPE)
        url = re.fullmatch(r"Orvane web: (http://([^/]+)/\?token=(\w+))\n", host.stdout.readline())
        assert url, "no address on the first line"
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for argument in ("--headless=new", "--no-sandbox", "--window-size=1000,900"):
            options.add_argument(argument)
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        yield url, env, driver, host.pid
    finally:
        if driver:
            driver.quit()
        for process in (host, daemon):
            if process:
                process.terminate()
                assert process.wait(timeout=10) == 0 or process is daemon


def main():
    with tempfile.TemporaryDirectory(prefix="orvane-web-") as temp:
        root = Path(temp)
        demo_root(root)
        with served(root) as (url, env, driver, _):
            check_refusals(url[2], url[3])
            drive(Page(driver), url[1], root,
                  lambda *args: subprocess.run([BUILD / "bin/orvane", *args], env=env, check=True,
                                               capture_output=True))
    print("web host: all cases passed")


if __name__ == "__main__":
    main()
