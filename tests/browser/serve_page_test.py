#!/usr/bin/python3
"""The page of `pennaro serve` in headless Chromium: scrub, check the frame
shown is the tool's render, change a parameter, draw a pen stroke with
varying pressure, save it, and check the saved drawing renders exactly as
the page showed it.

Usage: serve_page_test.py TOOL PLUGIN DRAWING [--screenshot PNG]
"""
import argparse
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

from selenium.webdriver.common.actions import interaction
from selenium.webdriver.common.actions.action_builder import ActionBuilder
from selenium.webdriver.common.actions.pointer_input import PointerInput
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

from page_driver import Page, same_pixels, start_server

# The whole test, browser start included, stays well under a minute.
signal.alarm(90)


def render(tool, plugin, drawing, frame, options, out):
    args = [tool, "render", drawing, "--frames", str(frame), "-q", "-o", out, "--plugin", plugin]
    for name, value in options:
        args += ["--" + name, value]
    subprocess.run(args, check=True)
    return out


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
        server, port = start_server(a.tool, a.plugin, [a.drawing, "--save-dir", tmp], 80)
        page = None
        try:
            page = Page(port, 1000, 620)
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
