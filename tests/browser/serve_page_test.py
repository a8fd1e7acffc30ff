#!/usr/bin/python3
"""The page of `pennaro serve` in headless Chromium: scrub, check the frame
shown is the tool's render, change a parameter, draw a pen stroke with
varying pressure, save it, and check the saved drawing renders exactly as
the page showed it.

Usage: serve_page_test.py TOOL PLUGIN DRAWING [--screenshot PNG]
"""
import argparse
import base64
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.common.actions import interaction
from selenium.webdriver.common.actions.action_builder import ActionBuilder
from selenium.webdriver.common.actions.pointer_input import PointerInput
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

# The whole test, browser start included, stays well under a minute.
signal.alarm(90)


def start_server(tool, plugin, drawing, save_dir):
    server = subprocess.Popen([tool, "serve", drawing, "--port", "0", "--quit-after", "80", "--plugin", plugin,
                               "--save-dir", save_dir], stdout=subprocess.PIPE, text=True)
    line = server.stdout.readline()
    match = re.search(r"http://127\.0\.0\.1:(\d+)/", line)
    if not match:
        server.kill()
        sys.exit("the server did not say where it listens: " + line)
    return server, int(match.group(1))


def same_pixels(tool, png, expected_file):
    """Whether the PNG bytes hold the very samples of the file."""
    shown = expected_file + ".shown.png"
    with open(shown, "wb") as f:
        f.write(png)
    return subprocess.run([tool, "compare", "-q", shown, expected_file]).returncode == 0


def render(tool, plugin, drawing, frame, options, out):
    args = [tool, "render", drawing, "--frames", str(frame), "-q", "-o", out, "--plugin", plugin]
    for name, value in options:
        args += ["--" + name, value]
    subprocess.run(args, check=True)
    return out


class Page:
    def __init__(self, port):
        options = webdriver.ChromeOptions()
        for a in ["--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1000,620",
                  "--disable-dev-shm-usage"]:
            options.add_argument(a)
        self.driver = webdriver.Chrome(options=options)
        self.driver.set_script_timeout(10)
        self.driver.get("http://127.0.0.1:%d/" % port)
        self.settle(lambda d: d.execute_script("return window.pennaro && window.pennaro.shown > 0"))

    def settle(self, condition=None, timeout=20):
        """Waits for `condition`, then until no frame is on its way."""
        wait = WebDriverWait(self.driver, timeout, poll_frequency=0.05)
        if condition:
            wait.until(condition)
        wait.until(lambda d: d.execute_script("return document.body.dataset.busy === '0'"))

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def shown_png(self):
        """The bytes of the PNG the page shows now, and the query it came from."""
        data = self.driver.execute_async_script("""
            const done = arguments[0], img = document.getElementById('frameA');
            fetch(img.src).then(r => r.arrayBuffer()).then(b => {
              let s = ''; const u = new Uint8Array(b);
              for (let i = 0; i < u.length; i++) s += String.fromCharCode(u[i]);
              done([btoa(s), img.dataset.query, Number(img.dataset.frame)]);
            });""")
        return base64.b64decode(data[0]), data[1], data[2]


def query_options(query):
    """Render options from a frame URL's query, as the page sent them."""
    from urllib.parse import parse_qsl, urlsplit
    return [(k, v) for k, v in parse_qsl(urlsplit(query).query) if k not in ("drawing", "frame", "v", "png")]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tool")
    parser.add_argument("plugin")
    parser.add_argument("drawing")
    parser.add_argument("--screenshot")
    a = parser.parse_args()
    started = time.monotonic()
    # chromedriver reaches the browser at "localhost"; a bare system without
    # /etc/hosts (a fresh chroot) cannot resolve it.
    import socket
    try:
        socket.getaddrinfo("localhost", None)
    except OSError:
        print("SKIPPED: \"localhost\" does not resolve here (no /etc/hosts), so chromedriver cannot reach Chromium")
        sys.exit(77)
    with tempfile.TemporaryDirectory(prefix="pennaro-browser-") as tmp:
        server, port = start_server(a.tool, a.plugin, a.drawing, tmp)
        page = None
        try:
            page = Page(port)
            d = page.driver

            # Scrub: drag the timeline to about a third.
            scrub = d.find_element(By.ID, "scrub")
            drag = ActionBuilder(d)
            drag.pointer_action.move_to(scrub, -scrub.size["width"] // 6, 0).click()
            drag.perform()
            page.settle()
            png, query, frame = page.shown_png()
            assert frame > 0, "scrubbing moved to frame %d" % frame
            expected = render(a.tool, a.plugin, a.drawing, frame, query_options(query), os.path.join(tmp, "a.png"))
            assert same_pixels(a.tool, png, expected), "frame %d on the page differs from the tool's render" % frame
            print("scrubbed to frame %d: the page shows the tool's render" % frame)

            # A parameter: the playback mode.
            Select(d.find_element(By.ID, "param-playback-mode")).select_by_value("All Strokes")
            page.settle(lambda d: "All+Strokes" in d.find_element(By.ID, "frameA").get_attribute("data-query"))
            png, query, frame = page.shown_png()
            assert ("playback-mode", "All Strokes") in query_options(query)
            assert same_pixels(a.tool, png, render(a.tool, a.plugin, a.drawing, frame, query_options(query),
                                                   os.path.join(tmp, "b.png")))
            print("playback mode All Strokes: the page shows the tool's render")

            # Draw a pen stroke with varying pressure.
            d.find_element(By.CSS_SELECTOR, "input[name=mode][value=draw]").click()
            strokes = page.js("return window.pennaro.drawing.strokes.length")
            # Offsets from the viewport's centre to points of the shown image.
            box = page.js("""
                const i = document.getElementById('frameA').getBoundingClientRect(),
                      v = document.getElementById('viewport').getBoundingClientRect();
                return [i.left - (v.left + v.width / 2), i.top - (v.top + v.height / 2), i.width, i.height];""")
            at = lambda fx, fy: (int(box[0] + fx * box[2]), int(box[1] + fy * box[3]))
            viewport = d.find_element(By.ID, "viewport")
            pen = PointerInput(interaction.POINTER_PEN, "pen")
            actions = ActionBuilder(d, mouse=pen, duration=20)
            actions.pointer_action.move_to(viewport, *at(0.25, 0.7))
            actions.pointer_action.pointer_down(pressure=0.2)
            for i in range(1, 13):
                actions.pointer_action.move_to(viewport, *at(0.25 + i * 0.04, 0.7 - i * 0.02), pressure=0.2 + i * 0.06)
            actions.pointer_action.pointer_up()
            actions.perform()
            page.settle(lambda d: d.execute_script(
                "return window.pennaro.drawing.strokes.length === arguments[0] && "
                "/[?&]v=1(&|$)/.test(document.getElementById('frameA').dataset.query)", strokes + 1))
            # The guide stays over the render until the frame changes.
            assert page.js("return document.getElementById('guide').childElementCount") == 1
            stroke = page.js("return window.pennaro.drawing.strokes[window.pennaro.drawing.strokes.length - 1]")
            pressures = sorted(set(round(p[3], 3) for p in stroke["points"]))
            assert len(pressures) >= 5 and pressures[-1] > pressures[0] + 0.3, "pressures: %s" % pressures
            assert all(0 <= p[1] <= 1 and 0 <= p[2] <= 1 for p in stroke["points"])
            png, query, frame = page.shown_png()
            print("drew a stroke of %d samples, pressure %.2f to %.2f" % (len(stroke["points"]), pressures[0], pressures[-1]))

            # Save, and render the saved drawing with the page's options.
            name = d.find_element(By.ID, "saveName")
            name.clear()
            name.send_keys("drawn")
            d.find_element(By.ID, "save").click()
            WebDriverWait(d, 10).until(lambda d: "saved" in d.find_element(By.ID, "status").text)
            for saved in ("drawn.json", "drawn.bin"):
                again = render(a.tool, a.plugin, os.path.join(tmp, saved), frame, query_options(query),
                               os.path.join(tmp, "c.png"))
                assert same_pixels(a.tool, png, again), "%s renders differently from what the page showed" % saved
            with open(os.path.join(tmp, "drawn.json")) as f:
                assert len(json.load(f)["strokes"]) == strokes + 1
            print("saved drawn.json and drawn.bin: both render exactly as the page showed")

            if a.screenshot:
                d.find_element(By.CSS_SELECTOR, "input[name=mode][value=view]").click()
                page.js("document.activeElement.blur()")
                d.save_screenshot(a.screenshot)
        finally:
            if page:
                page.driver.quit()
            server.terminate()
            server.wait(10)
    print("browser test passed in %.1f s" % (time.monotonic() - started))


if __name__ == "__main__":
    main()
