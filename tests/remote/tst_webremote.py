#!/usr/bin/python3
"""The desk's web remote in a real browser (headless Chromium driven by Selenium).

Starts the desk (argument 1: the tavoria program) in a folder of its own with a
playlist of two clips, two captions and the remote control on a free port of
127.0.0.1, opens its page, presses "Siguiente" and checks that the desk plays the
row and the page shows it; publishes a caption from the page; checks the page on
a phone-sized window. Runs offline; exits 77 (skipped) when the browser, its
driver or Selenium is missing.
"""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

# Inside the headless session of scripts/test and CI a missing browser fails the test.
SKIP = 1 if os.environ.get("TAVORIA_REQUIRE_SESSION") == "1" else 77


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_clip(path, seconds):
    subprocess.run(
        ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
         f"testsrc=size=160x120:rate=25:duration={seconds}", "-f", "lavfi", "-i",
         f"sine=f=440:duration={seconds}", "-c:v", "libx264", "-preset", "ultrafast",
         "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", path],
        check=True)


def write_config(work, port, clips, captions):
    lines = ["[CONFIG]", f"OutTextos={work}", "", "[REMOTO]", "Enabled=1", f"Port={port}",
             "Bind=127.0.0.1", "", "[lstPlayList]"]
    for i, clip in enumerate(clips):
        lines += [f"iconindex{i}=1", f"celda{i}0={os.path.basename(clip)}", f"celda{i}1=00:00:00",
                  f"celda{i}2={clip}", f"celda{i}3=0", f"celda{i}4="]
    lines += [f"totalY={len(clips)}", "totalX=6", "", "[lstTextos]"]
    for i, (speaker, talk, details) in enumerate(captions):
        lines += [f"iconindex{i}=-1", f"celda{i}0={speaker}", f"celda{i}1={talk}",
                  f"celda{i}2={details}"]
    lines += [f"totalY={len(captions)}", "totalX=4", ""]
    with open(os.path.join(work, "config.ini"), "w", encoding="utf-8") as f:
        f.write("\r\n".join(lines))


def api(port, path, method="GET"):
    request = urllib.request.Request(f"http://127.0.0.1:{port}{path}", method=method)
    with urllib.request.urlopen(request, timeout=5) as response:
        return json.loads(response.read().decode("utf-8"))


def wait_for(check, seconds, what):
    deadline = time.monotonic() + seconds
    last = None
    while time.monotonic() < deadline:
        try:
            last = check()
            if last:
                return last
        except Exception as e:  # the page or the desk may not be there yet
            last = e
        time.sleep(0.05)
    raise AssertionError(f"timed out waiting for {what} (last: {last!r})")


def main():
    tavoria = sys.argv[1]
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common.by import By
    except ImportError:
        print("SKIP: python3-selenium is not installed")
        return SKIP
    chromium = shutil.which("chromium")
    driver_path = shutil.which("chromedriver") or "/usr/bin/chromedriver"
    if not chromium or not os.path.exists(driver_path):
        print("SKIP: chromium or chromium-driver is not installed")
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
        env = dict(os.environ)
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        desk = subprocess.Popen([tavoria], cwd=work, env=env)
        state = wait_for(lambda: api(port, "/api/state"), 20, "the desk's API")
        assert state["state"] == "stopped", state

        options = webdriver.ChromeOptions()
        options.binary_location = chromium
        for arg in ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                    "--disable-background-networking", "--disable-component-update",
                    "--disable-sync", "--disable-dev-shm-usage", f"--user-data-dir={profile}",
                    "--window-size=1024,900"]:
            options.add_argument(arg)
        browser = webdriver.Chrome(service=Service(executable_path=driver_path), options=options)
        browser.set_page_load_timeout(20)
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
        if browser is not None:
            browser.quit()
        if desk is not None:
            desk.terminate()
            try:
                desk.wait(10)
            except subprocess.TimeoutExpired:
                desk.kill()
                desk.wait()
        shutil.rmtree(work, ignore_errors=True)
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
