#!/usr/bin/python3
"""The overlay graphics in a real browser (headless Chromium driven by Selenium).

Starts the desk (argument 1: the tavoria program) in a folder of its own with two
captions and the remote control on a free port of 127.0.0.1, opens /overlay/ (all
four graphics) as a browser source would, with a transparent default background,
and checks: the picture is transparent outside the graphics; a caption published
through the API comes in and goes out again on "clear"; the clock shows hora.txt;
the countdown ends on its end message, as conteo.txt; the marquee crawls, one item
per line; without movement when the viewer asks for less motion; and the page,
left open while the desk is restarted, shows a caption published after the
restart. Runs offline; exits 77 (skipped) when the browser, its driver or Selenium
is missing.

With TAVORIA_OVERLAY_SHOTS=<folder> it also leaves there a picture of each graphic
over a test picture (docs/).
"""
import os
import struct
import subprocess
import sys
import tempfile
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser_support import (SKIP, api, clean_up, free_port, start_browser,  # noqa: E402
                             start_desk, stop_desk, wait_for, write_config)


def read(work, name):
    with open(os.path.join(work, name), encoding="utf-8") as f:
        return f.read()


def png_rgba(data):
    """Width, height and rows of RGBA bytes of an 8-bit RGBA PNG."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat, width, height = 8, b"", 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        chunk = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, color = struct.unpack(">IIBB", chunk[:10])
            assert depth == 8 and color == 6, ("not 8-bit RGBA", depth, color)
        elif kind == b"IDAT":
            idat += chunk
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, prev, i = [], bytearray(stride), 0
    for _ in range(height):
        kind = raw[i]
        line = bytearray(raw[i + 1:i + 1 + stride])
        i += 1 + stride
        for x in range(stride):
            a = line[x - 4] if x >= 4 else 0
            b = prev[x]
            c = prev[x - 4] if x >= 4 else 0
            if kind == 1:
                line[x] = (line[x] + a) & 255
            elif kind == 2:
                line[x] = (line[x] + b) & 255
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        prev = line
    return width, height, rows


def main():
    tavoria = sys.argv[1]
    try:
        from selenium.webdriver.common.by import By
    except ImportError:
        print("SKIP: python3-selenium is not installed")
        return SKIP

    work = tempfile.mkdtemp(prefix="tavoria-overlay-")
    profile = tempfile.mkdtemp(prefix="tavoria-chromium-")
    desk = None
    browser = None
    try:
        captions = [("Ana Pérez", "Radio y vídeo en directo", ""),
                    ("José Ruiz", "Cierre", "Sala 2 · 18:00")]
        port = free_port()
        write_config(work, port, captions=captions)
        desk = start_desk(tavoria, work)
        wait_for(lambda: api(port, "/api/state"), 20, "the desk's API")

        browser, missing = start_browser(profile, 960, 540)
        if browser is None:
            print("SKIP: " + missing)
            return SKIP
        browser.get(f"http://127.0.0.1:{port}/overlay/")
        # A browser source of exactly 960x540: the 1920x1080 stage at half size.
        browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                {"width": 960, "height": 540, "deviceScaleFactor": 1,
                                 "mobile": False})
        browser.execute_cdp_cmd("Emulation.setDefaultBackgroundColorOverride",
                                {"color": {"r": 0, "g": 0, "b": 0, "a": 0}})
        js = browser.execute_script
        wait_for(lambda: js("return window.tavoriaOverlay && tavoriaOverlay.received > 0"), 10,
                 "the first state on the page")
        text = lambda element_id: browser.find_element(By.ID, element_id).text
        opacity = lambda element_id: float(js(
            "return getComputedStyle(document.getElementById(arguments[0])).opacity",
            element_id))

        # The clock shows what hora.txt holds (both change once a second).
        wait_for(lambda: text("ck-text") != "" and text("ck-text") == read(work, "hora.txt"), 10,
                 "the clock to show hora.txt")
        wait_for(lambda: opacity("clock") == 1, 5, "the clock to be in")

        # Transparent outside the graphics; the clock's box itself is painted.
        assert js("return getComputedStyle(document.body).backgroundColor") == "rgba(0, 0, 0, 0)"
        width, height, rows = png_rgba(browser.get_screenshot_as_png())
        assert (width, height) == (960, 540), (width, height)
        alpha = lambda x, y: rows[y][x * 4 + 3]
        for x, y in [(0, 0), (480, 270), (959, 539), (10, 530), (480, 10), (200, 300)]:
            assert alpha(x, y) == 0, f"pixel {x},{y} is not transparent ({alpha(x, y)})"
        box = js("const r = document.getElementById('clock').getBoundingClientRect();"
                 "return [r.left, r.top, r.right, r.bottom];")
        cx, cy = int((box[0] + box[2]) / 2), int((box[1] + box[3]) / 2)
        assert alpha(cx, cy) > 0, "the clock's box is not in the picture"
        # Inside the title-safe area (5 % of each side), scaled with the page.
        assert box[0] >= 48 and box[1] >= 27 and box[2] <= 960 - 48, box

        # A caption published through the API comes in with its texts; empty
        # details hide their line; "clear" takes it out.
        api(port, "/api/captions/1/publish", "POST")
        wait_for(lambda: text("lt-speaker") == "Ana Pérez" and opacity("lowerthird") == 1, 5,
                 "the lower third to come in")
        assert text("lt-talk") == "Radio y vídeo en directo", text("lt-talk")
        assert not browser.find_element(By.ID, "lt-details").is_displayed()
        api(port, "/api/captions/2/publish", "POST")
        wait_for(lambda: text("lt-speaker") == "José Ruiz" and opacity("lowerthird") == 1, 5,
                 "the second caption")
        assert text("lt-details") == "Sala 2 · 18:00", text("lt-details")
        api(port, "/api/captions/clear", "POST")
        wait_for(lambda: opacity("lowerthird") == 0, 5, "the lower third to go out")
        assert read(work, "ponente.txt") == ""

        # The countdown ends on the end message, as conteo.txt does.
        api(port, "/api/countdown/start", "POST", {"time": "00:02"})
        wait_for(lambda: text("cd-text") == "00:01", 5, "the countdown's first second")
        end = wait_for(lambda: text("cd-text") if text("cd-text") not in ("00:01", "00:00")
                       else None, 10, "the end message")
        assert end == read(work, "conteo.txt") == "Bienvenidos al Programa...", end

        # The marquee: one item per line, moving.
        api(port, "/api/marquee", "POST", {"text": "Primera noticia\nSegunda\nTercera"})
        wait_for(lambda: js("return document.querySelectorAll('.mq-round')[0]"
                            ".querySelectorAll('.mq-item').length") == 3, 5, "three items")
        items = js("return [...document.querySelectorAll('.mq-round')[0].children]"
                   ".map(e => e.textContent)")
        assert items == ["Primera noticia", "Segunda", "Tercera"], items
        where = lambda: js("return document.getElementById('mq-track').getBoundingClientRect().left")
        first = where()
        wait_for(lambda: where() < first - 5, 5, "the marquee to move left")

        shots = os.environ.get("TAVORIA_OVERLAY_SHOTS")
        if shots:
            take_pictures(browser, port, shots)

        # Less motion asked for: the graphics come in without moving, the marquee
        # shows its items one at a time, still.
        browser.execute_cdp_cmd("Emulation.setEmulatedMedia", {
            "features": [{"name": "prefers-reduced-motion", "value": "reduce"}]})
        wait_for(lambda: js("return document.getElementById('marquee').classList"
                            ".contains('still')"), 5, "the still marquee")
        assert js("return document.getAnimations().length") == 0
        assert js("return getComputedStyle(document.getElementById('lowerthird'))"
                  ".transitionDuration") == "0s"
        browser.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": []})

        # The desk restarted: the page reconnects by itself and shows what the
        # restarted desk publishes, without a reload.
        js("window.notReloaded = true")
        stop_desk(desk)
        desk = None
        wait_for(lambda: not js("return tavoriaOverlay.connected"), 10, "the page to notice")
        desk = start_desk(tavoria, work)
        wait_for(lambda: api(port, "/api/state"), 20, "the restarted desk's API")
        back = time.monotonic()
        wait_for(lambda: js("return tavoriaOverlay.connected"), 10, "the page to reconnect")
        print(f"reconnected {time.monotonic() - back:.2f} s after the desk answered")
        api(port, "/api/captions/1/publish", "POST")
        wait_for(lambda: text("lt-speaker") == "Ana Pérez" and opacity("lowerthird") == 1, 5,
                 "the caption published after the restart")
        assert js("return window.notReloaded === true"), "the page was reloaded"
        print("PASS: the overlay graphics follow the desk")
        return 0
    finally:
        clean_up(browser, desk, work, profile)


def take_pictures(browser, port, folder):
    """Each graphic's own page at 1920x1080 over a test picture, as PNG files."""
    os.makedirs(folder, exist_ok=True)
    browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                            {"width": 1920, "height": 1080, "deviceScaleFactor": 1,
                             "mobile": False})
    api(port, "/api/captions/2/publish", "POST")
    api(port, "/api/countdown/start", "POST", {"time": "04:59"})
    js = browser.execute_script
    for page in ["lowerthird", "clock", "countdown", "marquee"]:
        browser.get(f"http://127.0.0.1:{port}/overlay/{page}")
        wait_for(lambda: js("return tavoriaOverlay.received > 0 && "
                            "getComputedStyle(document.querySelector('.graphic')).opacity"
                            " === '1'"), 10, page)
        time.sleep(0.6)  # the marquee on its way; only for the picture
        raw = os.path.join(folder, f".{page}-alpha.png")
        browser.save_screenshot(raw)
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                        "testsrc2=size=1920x1080:duration=1", "-i", raw, "-filter_complex",
                        "[0][1]overlay=format=auto", "-frames:v", "1",
                        os.path.join(folder, f"overlay-{page}.png")], check=True)
        os.remove(raw)
    api(port, "/api/countdown/stop", "POST")
    browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                            {"width": 960, "height": 540, "deviceScaleFactor": 1,
                             "mobile": False})
    browser.get(f"http://127.0.0.1:{port}/overlay/")
    wait_for(lambda: js("return tavoriaOverlay.received > 0"), 10, "the whole canvas again")


if __name__ == "__main__":
    sys.exit(main())
