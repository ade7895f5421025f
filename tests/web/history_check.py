#!/usr/bin/python3
"""Opens the recorder's history page in headless Chromium and checks what a person would see at
desktop (1366x900) and phone (390x844) width: the chart drawn (a canvas as wide as its box, not
wider than the window) within 1 s of the figures' arrival, and the statistics table of the chosen
range showing the figures the API gives.

    history_check.py URL EXPECTED_STATS_JSON [SCREENSHOT_PREFIX]
    history_check.py --clock-change URL


URL opens the page on a known file (?file=NAME) whose whole range is the expected statistics'
dates; EXPECTED_STATS_JSON is /api/stats's "channels" for channels 1-4 of that range. With
SCREENSHOT_PREFIX it saves PREFIX-desktop.png and PREFIX-phone.png. The data folder also holds
Empty.mdb (no rows) and the series Ser.mdb, Ser_002.mdb (one row).
--clock-change: URL opens a file of a recorder in Europe/Berlin across the night the clock goes
back (2026-10-25), the hour 01:00-02:00 UTC (the second 02:xx) holding rows.
Exit code 0 when every check passes; otherwise the first failure on stderr."""
import json
import shutil
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.select import Select
from selenium.webdriver.support.ui import WebDriverWait


def fail(message):
    print("history check: " + message, file=sys.stderr)
    sys.exit(1)


def shown(value):
    """The page's rounding: at most 4 decimals, no trailing zeros."""
    if value is None:
        return "–"
    text = "%.4f" % value
    text = text.rstrip("0").rstrip(".")
    return "0" if text == "-0" else text


def check(driver, expected, width):
    wait = WebDriverWait(driver, 15, poll_frequency=0.05)
    wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#chart canvas"))
    whole = driver.find_element(By.CSS_SELECTOR, ".presets button[data-hours='0']")
    started = time.monotonic()
    whole.click()
    wait.until(lambda d: "2026-03-01 00:00:00 to 2026-03-02 23:50:00" in d.find_element(By.ID, "stats_range").text)
    wait.until(lambda d: d.find_element(By.ID, "state").text == "")
    took = time.monotonic() - started
    print("width %d: whole file charted %.2f s after the click" % (width, took))
    if took > 1.0:
        fail("the whole file took %.2f s to chart at width %d" % (took, width))
    canvas = driver.find_element(By.CSS_SELECTOR, "#chart canvas")
    page_width = driver.execute_script("return document.documentElement.clientWidth")
    if canvas.size["width"] < 150 or canvas.size["width"] > page_width:
        fail("chart %d px wide in a page %d px wide" % (canvas.size["width"], page_width))
    if driver.execute_script("return document.documentElement.scrollWidth") > page_width + 1:
        wide = driver.execute_script(
            "const w = document.documentElement.clientWidth; return [...document.querySelectorAll('body *')]"
            ".filter((e) => e.getBoundingClientRect().right > w + 1).slice(0, 4)"
            ".map((e) => e.tagName + '#' + e.id + '.' + e.className + ' ' + Math.round(e.getBoundingClientRect().right));")
        fail("the page scrolls sideways at width %d: %s" % (width, ", ".join(wide)))
    drawn = driver.execute_script(
        "const c = document.querySelector('#chart canvas'); const x = c.getContext('2d');"
        "const d = x.getImageData(0, 0, c.width, c.height).data; let n = 0;"
        "for (let i = 3; i < d.length; i += 4) if (d[i]) ++n; return n;")
    if drawn < 1000:
        fail("the chart's canvas is nearly empty (%d pixels drawn)" % drawn)
    rows = driver.find_elements(By.CSS_SELECTOR, "#stats tbody tr")
    if len(rows) != len(expected):
        fail("%d statistics rows, not %d" % (len(rows), len(expected)))
    for row, want in zip(rows, expected):
        cells = [c.text for c in row.find_elements(By.CSS_SELECTOR, "th, td")]
        wanted = ["Ch. %d" % want["channel"], want["unit"], str(want["count"]),
                  shown(want["min"]), shown(want["max"]), shown(want["mean"])]
        if cells != wanted:
            fail("statistics row %s, not %s" % (cells, wanted))
    # Long figures and units still fit the page: the table never scrolls sideways.
    if driver.execute_script(
            "const t = document.getElementById('stats'); const kept = t.tBodies[0].innerHTML;"
            "t.querySelectorAll('tbody td').forEach((c, i) => c.textContent = i % 5 ? '-12345.6789' : 'kOhm');"
            "const wide = t.parentElement.scrollWidth > t.parentElement.clientWidth + 1;"
            "t.tBodies[0].innerHTML = kept; return wide;"):
        fail("the statistics table scrolls sideways at width %d" % width)
    if len(driver.find_elements(By.CSS_SELECTOR, "#event_list li")) != 3:
        fail("the event list does not show the file's 3 events")
    for link in ("get_csv", "get_xlsx", "get_txt"):
        if "api/rows?" not in (driver.find_element(By.ID, link).get_attribute("href") or ""):
            fail("download link %s has no address" % link)


def cleared(driver, wait, says):
    """The page shows nothing of an earlier choice and says why."""
    wait.until(lambda d: says in d.find_element(By.ID, "state").text)
    if driver.find_elements(By.CSS_SELECTOR, "#chart canvas"):
        fail("a chart is still shown after: " + says)
    if driver.find_elements(By.CSS_SELECTOR, "#stats tbody tr") or driver.find_element(By.ID, "stats_range").text:
        fail("statistics are still shown after: " + says)
    if driver.find_elements(By.CSS_SELECTOR, "#event_list li"):
        fail("events are still listed after: " + says)
    if driver.find_element(By.ID, "get_csv").get_attribute("href"):
        fail("the CSV download is still offered after: " + says)


def check_states(driver, url):
    """What the page says when there is nothing to show, after a zoom, and when a download fails."""
    wait = WebDriverWait(driver, 15, poll_frequency=0.05)
    state = lambda d: d.find_element(By.ID, "state").text
    # Zooming: From/To follow, no preset stays highlighted, the statistics cover the zoomed range.
    over = driver.find_element(By.CSS_SELECTOR, "#chart .u-over")
    ActionChains(driver).move_to_element_with_offset(over, -over.size["width"] // 4, 0).click_and_hold() \
        .move_by_offset(over.size["width"] // 4, 0).release().perform()
    wait.until(lambda d: not d.find_elements(By.CSS_SELECTOR, ".presets button[aria-pressed='true']"))
    wait.until(lambda d: state(d) == "")
    start = driver.find_element(By.ID, "start").get_attribute("value").replace("T", " ")
    end = driver.find_element(By.ID, "end").get_attribute("value").replace("T", " ")
    caption = driver.find_element(By.ID, "stats_range").text
    if start.startswith("2026-03-01 00:00") or "From %s to %s:" % (start, end) not in caption:
        fail("after a zoom From/To say %s to %s and the statistics '%s'" % (start, end, caption))
    # A range without rows: a download says why instead of doing nothing; no numbered "no events".
    driver.execute_script("document.getElementById('start').value = '2026-03-05T00:00:00';"
                          "document.getElementById('end').value = '2026-03-05T01:00:00';")
    driver.find_element(By.CSS_SELECTOR, "#choice button[type='submit']").click()
    wait.until(lambda d: state(d) == "No rows in this range.")
    if driver.find_elements(By.CSS_SELECTOR, "#event_list li") or not driver.find_element(By.ID, "no_events").is_displayed():
        fail("an empty range's events are not said as 'No events in this range.'")
    # ... and offers no rows download, saying why when one is clicked all the same.
    for link in ("get_csv", "get_xlsx", "get_txt"):
        element = driver.find_element(By.ID, link)
        if element.get_attribute("href") or element.get_attribute("aria-disabled") != "true":
            fail("a range without rows still offers %s" % link)
    driver.find_element(By.ID, "get_csv").click()
    wait.until(lambda d: "Nothing to download: No rows in this range." in state(d))
    # Wrong input (an empty From box, an end before the start) leaves nothing of the range before.
    for start, end, says in (("", "2026-03-02T00:00:00", "From box is empty"),
                             ("2026-03-02T00:00:00", "2026-03-01T00:00:00", "end must come after its start")):
        driver.find_element(By.CSS_SELECTOR, ".presets button[data-hours='0']").click()
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#chart canvas") and state(d) == "")
        driver.execute_script("document.getElementById('start').value = arguments[0];"
                              "document.getElementById('end').value = arguments[1];", start, end)
        driver.find_element(By.CSS_SELECTOR, "#choice button[type='submit']").click()
        cleared(driver, wait, says)
    # No channel ticked, a file without rows, a file that does not exist: nothing stays shown.
    driver.find_element(By.CSS_SELECTOR, ".presets button[data-hours='0']").click()
    wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#stats tbody tr"))
    for box in driver.find_elements(By.CSS_SELECTOR, "#channels_choice input:checked"):
        box.click()
    cleared(driver, wait, "No channel is ticked")
    Select(driver.find_element(By.ID, "file")).select_by_value("Empty.mdb")
    cleared(driver, wait, "holds no rows yet")
    # Late answers to an earlier choice are dropped: with Known.mdb's answers slowed down, Known
    # then (80 ms later, as arrow keys on the list do) Empty leaves Empty's state, and unticking
    # every channel while the answers of each step are on their way leaves "No channel".
    driver.execute_script(
        "window.realFetch = window.realFetch || window.fetch;"
        "window.fetch = (url, options) => String(url).includes('file=Known.mdb')"
        "  ? new Promise((ok, no) => setTimeout(() => window.realFetch(url, options).then(ok, no), 1200))"
        "  : window.realFetch(url, options);"
        "const list = document.getElementById('file');"
        "list.value = 'Known.mdb'; list.dispatchEvent(new Event('change'));"
        "setTimeout(() => { list.value = 'Empty.mdb'; list.dispatchEvent(new Event('change')); }, 80);")
    time.sleep(2.5)
    cleared(driver, wait, "holds no rows yet")
    if driver.find_element(By.ID, "file").get_attribute("value") != "Empty.mdb":
        fail("the file list left Empty.mdb")
    Select(driver.find_element(By.ID, "file")).select_by_value("Known.mdb")
    wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#stats tbody tr") and state(d) == "")
    driver.execute_script("document.querySelectorAll('#channels_choice input:checked').forEach((b) => b.click());")
    time.sleep(2.5)
    cleared(driver, wait, "No channel is ticked")
    driver.execute_script("window.fetch = window.realFetch;")
    driver.get(url.replace("file=Known.mdb", "file=Gone.mdb"))
    cleared(driver, wait, 'no data file "Gone.mdb"')


def check_clock_change(driver, url):
    """A zoom into the second pass of 02:xx, then Show unchanged: the same instants."""
    wait = WebDriverWait(driver, 15, poll_frequency=0.05)
    state = lambda d: d.find_element(By.ID, "state").text
    driver.get(url)
    wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#chart canvas"))
    driver.find_element(By.CSS_SELECTOR, ".presets button[data-hours='0']").click()
    wait.until(lambda d: state(d) == "" and d.find_elements(By.CSS_SELECTOR, "#stats tbody tr"))
    # The whole file runs 18:00 to 05:00 UTC: 01:00-02:00 UTC lies at 64 % to 73 % of it. The chart
    # may still be replaced by the answer to the preset's request: a stale one is looked up again.
    for attempt in range(5):
        try:
            over = driver.find_element(By.CSS_SELECTOR, "#chart .u-over")
            width = over.size["width"]
            ActionChains(driver).move_to_element_with_offset(over, int(width * 0.15), 0).click_and_hold() \
                .move_by_offset(int(width * 0.06), 0).release().perform()
            break
        except StaleElementReferenceException:
            time.sleep(0.2)
    else:
        fail("the chart kept being replaced")
    wait.until(lambda d: not d.find_elements(By.CSS_SELECTOR, ".presets button[aria-pressed='true']"))
    wait.until(lambda d: state(d) == "")
    start = driver.find_element(By.ID, "start").get_attribute("value")
    caption = driver.find_element(By.ID, "stats_range").text
    table = driver.find_element(By.ID, "stats").text
    if not start.startswith("2026-10-25T02:") or "UTC+01:00" not in caption:
        fail("a zoom into the second 02:xx hour shows From %s, caption '%s'" % (start, caption))
    if driver.find_element(By.ID, "start_zone").text != "UTC+01:00":
        fail("the From box does not say its offset: '%s'" % driver.find_element(By.ID, "start_zone").text)
    driver.find_element(By.CSS_SELECTOR, "#choice button[type='submit']").click()
    wait.until(lambda d: state(d) == "")
    after = driver.find_element(By.ID, "stats_range").text
    if after != caption or driver.find_element(By.ID, "stats").text != table:
        fail("Show with the boxes unchanged moved the range: '%s' became '%s'" % (caption, after))
    print("clock change: " + after)


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", "--window-size=1366,900", "--user-data-dir=" + profile):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def main():
    if sys.argv[1] == "--clock-change":
        profile = tempfile.mkdtemp(prefix="history-check-")
        driver = browser(profile)
        try:
            check_clock_change(driver, sys.argv[2])
        finally:
            driver.quit()
            shutil.rmtree(profile, ignore_errors=True)
        return
    url, expected = sys.argv[1], json.loads(sys.argv[2])
    prefix = sys.argv[3] if len(sys.argv) > 3 else None
    profile = tempfile.mkdtemp(prefix="history-check-")
    driver = browser(profile)
    try:
        driver.get(url)
        if "token" in driver.current_url:
            fail("the token is still in the address: " + driver.current_url)
        check(driver, expected, 1366)
        if prefix:
            driver.save_screenshot(prefix + "-desktop.png")
        driver.set_window_size(390, 844)
        driver.get(url.split("&token=")[0])  # the cookie stands for the token now
        check(driver, expected, 390)
        to = driver.find_element(By.CSS_SELECTOR, "label[for='end']").rect
        box = driver.find_element(By.ID, "end").rect
        if abs(to["y"] + to["height"] / 2 - (box["y"] + box["height"] / 2)) > 4 or box["x"] < to["x"]:
            fail("at phone width \"To\" is not beside its box")
        card = driver.find_element(By.ID, "choice").rect
        for box in ("start", "end"):
            r = driver.find_element(By.ID, box).rect
            if r["x"] + r["width"] > card["x"] + card["width"] + 0.5:
                fail("at phone width the %s box reaches past the card (%d > %d)"
                     % (box, r["x"] + r["width"], card["x"] + card["width"]))
        if prefix:
            height = driver.execute_script("return document.documentElement.scrollHeight")
            driver.set_window_size(390, min(height, 2400))
            time.sleep(0.3)
            driver.save_screenshot(prefix + "-phone.png")
        driver.set_window_size(1366, 900)
        driver.get(url.split("&token=")[0])
        check(driver, expected, 1366)
        check_states(driver, url.split("&token=")[0])
        # A file of a rotated series named on its own is that file alone, "1 row".
        driver.get(url.split("&token=")[0].replace("file=Known.mdb", "file=Ser_002.mdb"))
        wait = WebDriverWait(driver, 15, poll_frequency=0.05)
        wait.until(lambda d: d.find_element(By.ID, "stats_range").text.endswith(": 1 row")
                   and d.find_element(By.ID, "state").text == "")
        if driver.find_element(By.ID, "file").get_attribute("value") != "Ser_002.mdb":
            fail("the file list does not show Ser_002.mdb")
    finally:
        driver.quit()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    main()
