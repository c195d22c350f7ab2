#!/usr/bin/python3
"""How fast the web host is, on the demo root and on the demo root with 5,000 more jobs, in
headless Chromium: loading the page until the list is drawn; drawing the list again (the
work of each pushed rebuild); a click on a switch until the page shows it flipped; a pushed
rebuild from the moment the event stream carries it until the browser has drawn it; and the
resident size of `orvane web` while idle.

Usage: bench/web_bench.py BUILD_DIR (the test's helpers start orvaned, the host and the browser).
"""
import http.client
import importlib.util
import statistics
import sys
import tempfile
import threading
import time
from pathlib import Path

spec = importlib.util.spec_from_file_location(
    "web_host_test", Path(__file__).resolve().parent.parent / "tests/web_host_test.py")
web = importlib.util.module_from_spec(spec)
spec.loader.exec_module(web)

# Resolves with the time since navigation began once the list of at least `want` items is
# drawn (the rows in view are in the page).
ROWS_DRAWN = """
window.__drawn = new Promise((resolve) => {
  new MutationObserver(() => {
    if (typeof items !== 'undefined' && items.length >= %d && document.querySelector('main a'))
      resolve(performance.now());
  }).observe(document, {subtree: true, childList: true});
});
window.__draws = [];
new MutationObserver(() => {
  const freshness = document.getElementById('freshness');
  const last = window.__draws[window.__draws.length - 1];
  if (freshness && (!last || last[0] !== freshness.textContent))
    window.__draws.push([freshness.textContent, Date.now()]);
}).observe(document, {subtree: true, childList: true, characterData: true});
"""

# Clicks the switch named arguments[0]; resolves with the milliseconds until it shows flipped
# and until the status line gives the host's outcome.
FLIP = """
const [name, done] = arguments;
const find = () => [...document.querySelectorAll('[role=switch]')]
    .find((e) => e.getAttribute('aria-label') === name);
const before = find().getAttribute('aria-checked');
const said = document.getElementById('message').textContent;
const start = performance.now();
let moved = null;
const watch = new MutationObserver(() => {
  const now = find();
  if (moved === null && now && now.getAttribute('aria-checked') !== before)
    moved = performance.now() - start;
  if (moved !== null && document.getElementById('message').textContent !== said) {
    watch.disconnect();
    done([moved, performance.now() - start]);
  }
});
watch.observe(document.body, {subtree: true, childList: true, attributes: true,
                              characterData: true});
find().click();
"""

# Finds the job row labelled arguments[0] through the filter box; clicks it unless arguments[1]
# is false. The filter is emptied again.
OPEN = """
const filter = (text) => {
  document.getElementById('filter').value = text;
  document.getElementById('filter').dispatchEvent(new Event('input'));
};
filter(arguments[0]);
const row = [...document.querySelectorAll('main a')]
    .find((a) => a.textContent.startsWith(arguments[0]));
if (row && arguments[1] !== false) row.click();
filter('');
return !!row;
"""

# Draws the whole list anew, as for a page just opened; milliseconds with layout.
REDRAW = """
const start = performance.now();
drawRows(false);
document.body.offsetHeight;
return performance.now() - start;
"""


def medians(pairs):
    return [statistics.median(column) for column in zip(*pairs)]


def clicks(driver, name, count):
    """Clicks the switch `count` times, half a second apart as a person would (the answer to a
    click still on its way does not delay the next); the list of [moved, outcome] times."""
    times = []
    for _ in range(count):
        time.sleep(0.5)
        times.append(driver.execute_async_script(FLIP, name))
    return times


def add_jobs(root, count):
    for n in range(count):
        label = f"org.bench.job{n:05}"
        (root / f"Library/LaunchDaemons/{label}.plist").write_text(
            '<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>'
            f"<key>Label</key><string>{label}</string><key>ProgramArguments</key>"
            "<array><string>/bin/true</string></array></dict></plist>")


def stream_times(authority, token, times, stop):
    """Records when the event stream delivers each page (by its freshness text)."""
    connection = http.client.HTTPConnection(authority, timeout=30)
    connection.request("GET", "/?token=" + token)
    cookie = connection.getresponse().getheader("Set-Cookie").split(";")[0]
    connection = http.client.HTTPConnection(authority, timeout=30)
    connection.request("GET", "/api/events", headers={"Cookie": cookie})
    reply = connection.getresponse()
    while not stop.is_set():
        line = reply.fp.readline().decode()
        if '"freshness":"' in line:
            times.setdefault(line.split('"freshness":"')[1].split('"')[0], time.time() * 1000)


def measure(name, extra_jobs):
    with tempfile.TemporaryDirectory(prefix="orvane-web-bench-") as temp:
        root = Path(temp)
        web.demo_root(root)
        add_jobs(root, extra_jobs)
        with web.served(root) as (url, _, driver, pid):
            page = web.Page(driver)
            times, stop = {}, threading.Event()
            threading.Thread(target=stream_times, args=(url[2], url[3], times, stop),
                             daemon=True).start()
            driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument",
                                   {"source": ROWS_DRAWN % (7 + extra_jobs)})
            driver.get(url[1])
            load = driver.execute_async_script("window.__drawn.then(arguments[0])")
            redraw = statistics.median(driver.execute_script(REDRAW) for _ in range(6))
            # The first click also compiles the page's code for the paths it takes; it is told
            # apart from the median of the clicks after it.
            first, *rest = clicks(driver, "Show system jobs", 7)
            show_system = medians(rest)
            driver.execute_script(OPEN, "org.example.heartbeat")
            page.wait(lambda: "heartbeat" in driver.find_element(web.By.ID, "crumbs").text)
            alive = medians(clicks(driver, "Alive", 4))
            driver.back()
            page.wait(lambda: driver.execute_script(OPEN, "org.example.heartbeat", False))
            seen = len(driver.execute_script("return window.__draws"))
            page.wait(lambda: len(driver.execute_script("return window.__draws")) > seen + 1, 25)
            draws = driver.execute_script("return window.__draws")
            pushed = [at - times[text] for text, at in draws[seen:] if text in times]
            rss = next(line.split()[1] for line in open(f"/proc/{pid}/status")
                       if line.startswith("VmRSS"))
            stop.set()
    print(f"{name}: load to the list drawn {load:.0f} ms; list redraw {redraw:.0f} ms; "
          f"click on show-system to the switch moved {show_system[0]:.0f} ms, to the host's "
          f"outcome shown {show_system[1]:.0f} ms (the first click {first[1]:.0f} ms); click on a job's Alive to the switch moved "
          f"{alive[0]:.0f} ms, to the outcome shown {alive[1]:.0f} ms; pushed rebuild to drawn "
          f"{min(pushed):.0f} ms; idle resident size {int(rss) // 1024} MiB")


if __name__ == "__main__":
    measure("demo (12 jobs)", 0)
    measure("demo + 5,000 jobs", 5000)
