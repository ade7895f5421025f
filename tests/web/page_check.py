#!/usr/bin/python3
"""Opens the recorder's page in headless Chromium (through chromium-driver) and checks what a
person would see: a panel per channel with the simulator's readings and units, the link and the
rows, panels that change by themselves within two seconds, and a token in the address that is
gone from it once the page has loaded.

    page_check.py URL [SCREENSHOT_PREFIX]
    page_check.py --freeze METER_PID RECORDER_PID URL [SCREENSHOT_PREFIX]

With SCREENSHOT_PREFIX it also saves PREFIX-desktop.png (1366x900) and PREFIX-phone.png (390 wide).
With --freeze METER_PID RECORDER_PID DATAFILE it first locks the data file (the page says rows
fail, then live again once unlocked), then stops the meter (SIGSTOP): the link shows down and every reading greys
while the page stays live; then it stops the recorder too: the page says "stale". Both go on
(SIGCONT) before it ends; with SCREENSHOT_PREFIX it saves the stale page as PREFIX-stale.png.
Exit code 0 when every check passes; otherwise the first failure on stderr."""
import os
import shutil
import signal
import sqlite3
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

# The simulator's waves: channel -> (unit text, lowest, highest value).
EXPECTED = {1: ("°C", 19.5, 25.5), 3: ("V", -12.0, 12.0), 10: ("Ohm", 800.0, 1200.0)}


def fail(message):
    print("page check: " + message, file=sys.stderr)
    sys.exit(1)


def panels(driver):
    """{channel: (number text, unit text, alarm class)} as shown."""
    shown = {}
    for panel in driver.find_elements(By.CSS_SELECTOR, "#channels .channel"):
        channel = int(panel.get_attribute("data-channel"))
        shown[channel] = (panel.find_element(By.CLASS_NAME, "number").text,
                          panel.find_element(By.CLASS_NAME, "unit").text,
                          panel.get_attribute("class"))
    return shown


def check_rows_failing(driver, data_file):
    """Another program holds the data file locked: the page says rows fail, with the failed count
    and the last row's time on the recorder's clock, and "live" again once rows are written."""
    pill = lambda d: d.find_element(By.ID, "connection").text
    rows_text = lambda d: d.find_element(By.ID, "row_limit").text
    if "UTC" not in driver.find_element(By.ID, "updated").text:
        fail("the page does not say whose clock its times are: %r" % driver.find_element(By.ID, "updated").text)
    locker = sqlite3.connect(data_file, timeout=1, isolation_level=None)
    try:
        locker.execute("BEGIN EXCLUSIVE")
        try:
            WebDriverWait(driver, 10, poll_frequency=0.1).until(lambda d: pill(d) == "rows failing")
        except Exception:
            fail("rows cannot be written but the page says %r (%r)" % (pill(driver), rows_text(driver)))
        if "failed" not in rows_text(driver) or "last at " not in rows_text(driver):
            fail("the rows' failed count or last row is not shown: %r" % rows_text(driver))
        print("rows failing shown: %r" % rows_text(driver))
    finally:
        locker.execute("ROLLBACK")
        locker.close()
    try:
        WebDriverWait(driver, 10, poll_frequency=0.1).until(lambda d: pill(d) == "live")
    except Exception:
        fail("rows are written again but the page says %r" % pill(driver))


def check_freeze(driver, meter, recorder):
    """The meter silent, then the recorder frozen: greyed readings, link down, then "stale"."""
    pill = lambda d: d.find_element(By.ID, "connection").text
    old = lambda d: [p.get_attribute("data-channel") for p in
                     d.find_elements(By.CSS_SELECTOR, "#channels .channel.old")]
    if old(driver) or pill(driver) != "live":
        fail("before the freeze: pill %r, old panels %s" % (pill(driver), old(driver)))
    stopped = []
    try:
        os.kill(meter, signal.SIGSTOP)
        stopped.append(meter)
        started = time.monotonic()
        try:
            WebDriverWait(driver, 5, poll_frequency=0.1).until(lambda d: d.find_element(By.ID, "link").text == "down")
        except Exception:
            fail("the link still shows up 5 s after the meter fell silent")
        print("link down %.1f s after the meter fell silent" % (time.monotonic() - started))
        try:
            WebDriverWait(driver, 8, poll_frequency=0.1).until(lambda d: len(old(d)) == 16)
        except Exception:
            fail("readings of a silent meter not greyed: %s" % old(driver))
        if pill(driver) != "live":
            fail("the recorder still publishes, but the page says %r" % pill(driver))
        os.kill(recorder, signal.SIGSTOP)
        stopped.append(recorder)
        started = time.monotonic()
        try:
            WebDriverWait(driver, 8, poll_frequency=0.1).until(lambda d: pill(d) == "stale")
        except Exception:
            fail("the page says %r 8 s after the recorder froze" % pill(driver))
        print("stale %.1f s after the recorder froze" % (time.monotonic() - started))
    finally:
        for pid in stopped:
            os.kill(pid, signal.SIGCONT)


def main():
    freeze = None
    data_file = None
    if sys.argv[1] == "--freeze":
        freeze = (int(sys.argv[2]), int(sys.argv[3]))
        data_file = sys.argv[4]
        del sys.argv[1:5]
    url, prefix = sys.argv[1], (sys.argv[2] if len(sys.argv) > 2 else None)
    profile = tempfile.mkdtemp(prefix="page-check-")
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", "--window-size=1366,900", "--user-data-dir=" + profile):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    try:
        driver.get(url)
        wait = WebDriverWait(driver, 10, poll_frequency=0.1)
        wait.until(lambda d: len(panels(d)) == 16 and all(p[0] not in ("", "—") for p in panels(d).values()))
        wait.until(lambda d: d.find_element(By.ID, "link").text == "up")
        if "token" in driver.current_url:
            fail("the token is still in the address: " + driver.current_url)
        if freeze:
            check_rows_failing(driver, data_file)
            check_freeze(driver, *freeze)
            if prefix:
                driver.save_screenshot(prefix + "-stale.png")
            return
        first = panels(driver)
        if sorted(first) != list(range(1, 17)):
            fail("channels shown: %s" % sorted(first))
        for channel, (unit, low, high) in EXPECTED.items():
            number, shown_unit, _ = first[channel]
            if shown_unit != unit:
                fail("channel %d shows unit %r, not %r" % (channel, shown_unit, unit))
            if not low <= float(number) <= high:
                fail("channel %d shows %s, outside the simulator's %s..%s" % (channel, number, low, high))
        if int(driver.find_element(By.ID, "rows").text.replace(",", "").replace(" ", "")) < 1:
            fail("no rows shown")
        if driver.find_element(By.ID, "data_file").text != "Web.mdb":
            fail("data file shown: " + driver.find_element(By.ID, "data_file").text)
        started = time.monotonic()
        try:
            WebDriverWait(driver, 2, poll_frequency=0.05).until(
                lambda d: any(p[0] != first[c][0] for c, p in panels(d).items()))
        except Exception:
            fail("no panel changed within 2 s")
        print("a panel changed after %.2f s" % (time.monotonic() - started))
        if prefix:
            driver.save_screenshot(prefix + "-desktop.png")
            driver.set_window_size(390, 1400)
            time.sleep(0.5)
            driver.save_screenshot(prefix + "-phone.png")
    finally:
        driver.quit()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    main()
