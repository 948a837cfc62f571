#!/usr/bin/python3
"""The desk's web remote in a real browser (headless Chromium driven by Selenium).

Starts the desk (argument 1: the tavoria program) in a folder of its own with a
playlist of two clips, two captions and the remote control on a free port of
127.0.0.1, opens its page, presses "Siguiente" and checks that the desk plays the
row and the page shows it; publishes a caption from the page; checks the page on
a phone-sized window. Runs offline; exits 77 (skipped) when the browser, its
driver or Selenium is missing.
"""
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser_support import (SKIP, api, clean_up, free_port, start_browser,  # noqa: E402
                             start_desk, wait_for, write_config)


def make_clip(path, seconds):
    subprocess.run(
        ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
         f"testsrc=size=160x120:rate=25:duration={seconds}", "-f", "lavfi", "-i",
         f"sine=f=440:duration={seconds}", "-c:v", "libx264", "-preset", "ultrafast",
         "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", path],
        check=True)


def main():
    tavoria = sys.argv[1]
    try:
        from selenium.webdriver.common.by import By
    except ImportError:
        print("SKIP: python3-selenium is not installed")
        return SKIP

    work = tempfile.mkdtemp(prefix="tavoria-web-")
    profile = tempfile.mkdtemp(prefix="tavoria-chromium-")
    desk = None
    browser = None
    try:
        clips = [os.path.join(work, "uno.mp4"), os.path.join(work, "dos.mp4")]
        for clip in clips:
            make_clip(clip, 15)
        captions = [("Ana Pérez", "Radio y vídeo", ""), ("José Ruiz", "Cierre", "Sala 2")]
        port = free_port()
        write_config(work, port, clips, captions)
        desk = start_desk(tavoria, work)
        state = wait_for(lambda: api(port, "/api/state"), 20, "the desk's API")
        assert state["state"] == "stopped", state

        browser, missing = start_browser(profile, 1024, 900)
        if browser is None:
            print("SKIP: " + missing)
            return SKIP
        browser.get(f"http://127.0.0.1:{port}/")
        text = lambda element_id: browser.find_element(By.ID, element_id).text
        wait_for(lambda: text("link") == "en directo", 10, "the push channel")
        wait_for(lambda: len(browser.find_elements(By.CSS_SELECTOR, "#captions li")) == 2, 10,
                 "the caption list")

        # "Siguiente" starts the first row; the page shows it as on air.
        browser.find_element(By.ID, "btnNext").click()
        wait_for(lambda: text("current") == "uno.mp4" and text("onair") == "ON AIR", 15,
                 "the page to show the row on air")
        state = api(port, "/api/state")
        assert state["current"]["index"] == 0 and state["state"] == "playing", state
        assert text("next") == "dos.mp4", text("next")
        wait_for(lambda: text("remaining") not in ("", "00:00:00"), 10, "the remaining time")
        first = text("remaining")
        wait_for(lambda: text("remaining") != first, 5, "the remaining time to count down")

        # Publishing the second caption from the page writes the desk's files.
        browser.find_elements(By.CSS_SELECTOR, "#captions li button")[1].click()
        wait_for(lambda: open(os.path.join(work, "ponente.txt"), encoding="utf-8").read() ==
                 "José Ruiz", 10, "ponente.txt")
        wait_for(lambda: "published" in browser.find_elements(By.CSS_SELECTOR, "#captions li")[1]
                 .get_attribute("class"), 5, "the published caption to be marked")

        # "Quitar de pantalla" takes the caption off air: its files are emptied and
        # no row is marked any more.
        browser.find_element(By.ID, "btnCaptionClear").click()
        wait_for(lambda: open(os.path.join(work, "ponente.txt"), encoding="utf-8").read() == "",
                 10, "ponente.txt to be emptied")
        wait_for(lambda: not browser.find_elements(By.CSS_SELECTOR, "#captions li.published"), 5,
                 "no caption marked as published")
        assert api(port, "/api/state")["caption"] is None

        # An order the desk refuses shows its message on the page.
        browser.find_element(By.ID, "btnCountdownStop").click()
        wait_for(lambda: text("message") != "", 5, "the refusal's message")

        # Usable on a phone: no sideways scrolling, the three main buttons visible.
        browser.set_window_size(390, 844)
        time.sleep(0.3)
        wide = browser.execute_script(
            "return document.documentElement.scrollWidth > window.innerWidth + 1;")
        assert not wide, "the page scrolls sideways on a phone"
        for button in ("btnPlayPause", "btnNext", "btnStop"):
            assert browser.find_element(By.ID, button).is_displayed(), button
        shot = os.environ.get("TAVORIA_BUILD_DIR")
        if shot:
            browser.save_screenshot(os.path.join(shot, "webremote-phone.png"))
        print("PASS: the web remote drives the desk")
        return 0
    finally:
        clean_up(browser, desk, work, profile)


if __name__ == "__main__":
    sys.exit(main())
