"""What the browser tests of the remote control share: a desk in a folder of its own
with the remote control on a free port of 127.0.0.1, its API, waiting for a
condition, and headless Chromium driven by Selenium (None when missing: skip)."""
import json
import os
import shutil
import socket
import subprocess
import time
import urllib.request

# A missing browser skips the test, but fails it inside the headless session of
# scripts/test and CI.
SKIP = 1 if os.environ.get("TAVORIA_REQUIRE_SESSION") == "1" else 77


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def write_config(work, port, clips=(), captions=()):
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


def api(port, path, method="GET", body=None):
    data = json.dumps(body).encode("utf-8") if body is not None else None
    request = urllib.request.Request(f"http://127.0.0.1:{port}{path}", method=method, data=data)
    if data is not None:
        request.add_header("Content-Type", "application/json")
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


def start_desk(tavoria, work):
    env = dict(os.environ)
    env.pop("DBUS_SESSION_BUS_ADDRESS", None)
    return subprocess.Popen([tavoria], cwd=work, env=env)


def stop_desk(desk):
    desk.terminate()
    try:
        desk.wait(10)
    except subprocess.TimeoutExpired:
        desk.kill()
        desk.wait()


def start_browser(profile, width, height):
    """Headless Chromium with a fresh profile, or None (and why) when Selenium,
    the browser or its driver is missing."""
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        return None, "python3-selenium is not installed"
    chromium = shutil.which("chromium")
    driver_path = shutil.which("chromedriver") or "/usr/bin/chromedriver"
    if not chromium or not os.path.exists(driver_path):
        return None, "chromium or chromium-driver is not installed"
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for arg in ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                "--disable-background-networking", "--disable-component-update",
                "--disable-sync", "--disable-dev-shm-usage", f"--user-data-dir={profile}",
                f"--window-size={width},{height}"]:
        options.add_argument(arg)
    browser = webdriver.Chrome(service=Service(executable_path=driver_path), options=options)
    browser.set_page_load_timeout(20)
    return browser, ""


def clean_up(browser, desk, *folders):
    """Closes the browser and the desk (either may be None) and removes the folders."""
    if browser is not None:
        browser.quit()
    if desk is not None:
        stop_desk(desk)
    for folder in folders:
        shutil.rmtree(folder, ignore_errors=True)
