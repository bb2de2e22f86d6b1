#!/usr/bin/python3
"""How long the modern page of ROWS rows takes in headless Chromium to open,
to sort (by time, then by name) and to filter, each until the next frame is
drawn. Needs chromium, chromium-driver and python3-selenium, and
build/bench/modern_page_rows.

    bench/modern-page.py [ROWS] [RUNS] [--group]

Prints the median and the worst of RUNS runs of each, in milliseconds.
"""
import os
import statistics
import subprocess
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Runs the action, then waits for the frame after it: the time a reader waits.
TIMED = """
const done = arguments[arguments.length - 1], t0 = performance.now();
(%s)();
requestAnimationFrame(() => setTimeout(() => done(performance.now() - t0), 0));
"""


def button(label):
    return ("() => [...document.querySelectorAll('#tracks th')].find(h => h.textContent.trim() === '%s')"
            ".querySelector('button').click()" % label)


def filter_for(text):
    return ("() => { const b = document.getElementById('filter'); b.value = '%s';"
            " b.dispatchEvent(new Event('input')); }" % text)


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    rows = args[0] if args else "10000"
    runs = int(args[1]) if len(args) > 1 else 5
    folder = tempfile.mkdtemp(prefix="melodex-modern-bench.")
    page = subprocess.check_output([os.path.join(ROOT, "build/bench/modern_page_rows"), folder, rows]
                                   + (["--group"] if "--group" in sys.argv else []), text=True).strip()
    print(f"{rows} rows, {os.path.getsize(page):,} bytes")
    options = webdriver.ChromeOptions()
    for arg in ("--headless", "--no-sandbox", "--disable-gpu", "--window-size=1280,900"):
        options.add_argument(arg)
    options.binary_location = "/usr/bin/chromium"
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_script_timeout(300)
    times = {k: [] for k in ("open", "sort by time", "reverse", "sort by name", "filter", "clear filter")}
    try:
        for _ in range(runs):
            driver.get("file://" + page)
            times["open"].append(driver.execute_script(
                "const n = performance.getEntriesByType('navigation')[0]; return n.loadEventEnd - n.startTime;"))
            for key, action in (("sort by time", button("トータルタイム")), ("reverse", button("トータルタイム")),
                                ("sort by name", button("ファイル名")), ("filter", filter_for("ｱｰﾃｨｽﾄ 42")),
                                ("clear filter", filter_for(""))):
                times[key].append(driver.execute_async_script(TIMED % action))
    finally:
        driver.quit()
    for key, values in times.items():
        print(f"{key:14s} median {statistics.median(values):7.1f} ms   worst {max(values):7.1f} ms")


if __name__ == "__main__":
    main()
