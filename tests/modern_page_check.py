#!/usr/bin/env python3
"""Drives the modern page in headless Chromium, as a reader would use it.

Usage: modern_page_check.py PAGE

PAGE is the page list_page_browser_test.cpp writes from its fake tracks; the
expected orders and totals below are those tracks'. Exit 0 when every check
holds, 1 with the failures on stdout, 77 when no browser can be driven.
"""
import sys

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
except ImportError:
    print("python3-selenium is missing")
    sys.exit(77)

CHROMEDRIVER = "/usr/bin/chromedriver"

# The fake tracks in the folder's order, and what sorting must make of them.
BY_NAME = ["track1.mp3", "track2.mp3", "Track3.mp3", "track10.mp3"]
BY_TIME = ["Track3.mp3", "track2.mp3", "track1.mp3", "track10.mp3"]
WHOLE = ["4", "7.63 MB", "00:09:11"]

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def start():
    options = webdriver.ChromeOptions()
    for arg in ("--headless", "--no-sandbox", "--disable-gpu", "--window-size=800,300",
                "--disable-background-networking", "--no-first-run"):
        options.add_argument(arg)
    options.binary_location = "/usr/bin/chromium"
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    try:
        return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    except Exception as e:  # no driver, or a browser that does not start
        print(f"cannot start chromium through {CHROMEDRIVER}: {e}")
        sys.exit(77)


def names(driver):
    """The file names of the shown rows, top to bottom, and their numbers."""
    return driver.execute_script(
        "return [...document.querySelectorAll('#tracks tbody tr[data-b]')]"
        ".filter(r => !r.hidden).map(r => [r.cells[0].textContent, r.cells[1].textContent]);")


def header(driver, text):
    return driver.find_element(By.XPATH, f"//table[@id='tracks']//th[normalize-space(.)='{text}']")


def shown_totals(driver):
    return [driver.find_element(By.ID, i).text for i in ("shown-count", "shown-size", "shown-time")]


def check_sorting(driver):
    rows = names(driver)
    check([n for _, n in rows] == BY_NAME, f"folder order: {rows}")
    name, time = header(driver, "ファイル名"), header(driver, "トータルタイム")
    for th, order, label in ((time, BY_TIME, "time"), (name, BY_NAME, "name")):
        th.find_element(By.TAG_NAME, "button").click()
        rows = names(driver)
        check([n for _, n in rows] == order, f"sorted by {label}: {rows}")
        check([k for k, _ in rows] == ["1", "2", "3", "4"], f"row numbers after sorting by {label}: {rows}")
        check(th.get_attribute("aria-sort") == "ascending", f"aria-sort after sorting by {label}")
        th.find_element(By.TAG_NAME, "button").click()
        rows = names(driver)
        check([n for _, n in rows] == order[::-1], f"reversed by {label}: {rows}")
        check(th.get_attribute("aria-sort") == "descending", f"aria-sort reversed by {label}")
    check(time.get_attribute("aria-sort") is None, "only the sorted column carries aria-sort")


def check_filter(driver):
    box = driver.find_element(By.ID, "filter")
    check(box.is_displayed(), "the filter box shows")
    check(shown_totals(driver) == WHOLE, f"unfiltered, the shown totals are the page's: {shown_totals(driver)}")
    # Typed in full width and in katakana, held in half width and hiragana.
    for typed, expected, totals in (("ＴＩＴＬＥ", ["track10.mp3"], ["1", "4.77 MB", "00:05:00"]),
                                    ("ヒラガナ", ["track1.mp3"], ["1", "2.86 MB", "00:03:05"]),
                                    ("no such text", [], ["0", "0 Byte", "00:00:00"])):
        box.clear()
        box.send_keys(typed)
        rows = names(driver)
        check([n for _, n in rows] == expected, f"filter {typed!r}: {rows}")
        check([k for k, _ in rows] == [str(i + 1) for i in range(len(rows))], f"numbers under {typed!r}: {rows}")
        check(shown_totals(driver) == totals, f"totals under {typed!r}: {shown_totals(driver)}")
    whole = [e.text for e in driver.find_elements(By.CSS_SELECTOR, ".totals td.n:not(.shown)")]
    check(whole == WHOLE, f"whole-folder totals stay: {whole}")
    box.clear()
    box.send_keys(" ")
    box.clear()
    check(len(names(driver)) == 4, "clearing the filter shows every row")


def check_page(driver):
    title = driver.find_element(By.TAG_NAME, "h1").rect
    width = driver.execute_script("return document.documentElement.scrollWidth")
    check(width > 800, f"the test table is meant to be wider than the window ({width})")
    check(title["x"] < 40 and title["y"] < 60, f"title at the top left: {title}")
    top = driver.execute_script(
        "const t = document.getElementById('tracks'); window.scrollTo(0, t.offsetTop + 60);"
        "return [window.scrollY, t.tHead.rows[0].cells[0].getBoundingClientRect().top];")
    check(top[0] > 0 and abs(top[1]) < 2, f"the header row stays in view when scrolled (scrollY, top): {top}")
    driver.execute_script("window.scrollTo(0, 0)")
    check(driver.execute_script("return window.pwned === undefined"), "a tag's text ran as script")
    check(driver.execute_script("return document.scripts.length") == 1, "only the page's own script")
    check(not driver.find_elements(By.CSS_SELECTOR, "#tracks img"), "a tag's text became an element")


def main():
    driver = start()
    try:
        driver.get("file://" + sys.argv[1])
        check_page(driver)
        check_sorting(driver)
        check_filter(driver)
        errors = [e for e in driver.get_log("browser") if e["level"] in ("SEVERE", "WARNING")]
        check(not errors, f"console: {errors}")
    finally:
        driver.quit()
    for f in failures:
        print(f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
