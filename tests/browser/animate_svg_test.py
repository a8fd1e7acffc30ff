#!/usr/bin/env python3
"""`pennaro export --animate` played by headless Chromium: at a quarter, half
and three quarters of the reveal, the picture covers what "Animate Strokes"
renders of the same frame (intersection over union of the covered pixels at
least 0.90, as for the Lottie export).

Usage: animate_svg_test.py PENNARO PLUGIN
Exit status 77 (skipped) when Chromium cannot be started."""
import json
import os
import random
import struct
import subprocess
import sys
import tempfile
import zlib

from selenium import webdriver

WIDTH, HEIGHT, FPS = 320, 240, 30


def read_png(data):
    """Alpha (or darkness, for an image without alpha) of an 8-bit PNG, one
    value 0..255 per pixel: enough of the format for these two writers."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert depth == 8 and interlace == 0, header
    channels = {0: 1, 2: 3, 4: 2, 6: 4}[colour]
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        previous = line
    if colour in (4, 6):
        return [row[channels - 1::channels] for row in rows], width, height
    return [bytes(255 - v for v in row[0::channels]) for row in rows], width, height


def iou(a, b):
    inter = union = 0
    for ra, rb in zip(a, b):
        for va, vb in zip(ra, rb):
            pa, pb = va > 127, vb > 127
            inter += pa and pb
            union += pa or pb
    return inter / union if union else 1.0


def drawing():
    """A few black round strokes of radius 6 to 14, pressure on size."""
    rng = random.Random(5)
    with open(os.path.join(os.path.dirname(__file__), "..", "..", "examples", "demo.json")) as f:
        d = json.load(f)
    strokes, start = [], 0.0
    for s in range(4):
        x, y, t, points = rng.uniform(0.2, 0.8), rng.uniform(0.2, 0.8), 0.0, []
        for i in range(25):
            points.append([round(t, 4), round(x, 4), round(y, 4), round(rng.uniform(0.5, 1.0), 3)])
            x = min(0.95, max(0.05, x + rng.uniform(-0.04, 0.04)))
            y = min(0.95, max(0.05, y + rng.uniform(-0.05, 0.05)))
            t += 0.03
        strokes.append({"strokeId": s, "startTime": start, "duration": points[-1][0],
                        "brush": {"red": 0, "green": 0, "blue": 0, "opacity": 1, "size": rng.uniform(6, 14),
                                  "brushMode": 1, "softness": 0.1, "pressureFlags": 1},
                        "drawCount": 0, "selected": 0, "points": points})
        start += 0.5
    d["strokes"] = strokes
    return d, start + 0.75


def main():
    tool, plugin = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="pennaro-animate-svg-")
    d, end = drawing()
    json_path, svg = os.path.join(work, "d.json"), os.path.join(work, "d.svg")
    with open(json_path, "w") as f:
        json.dump(d, f)
    size = "%dx%d" % (WIDTH, HEIGHT)
    subprocess.run([tool, "export", json_path, "--animate", "--size", size, "-o", svg, "--plugin", plugin],
                   check=True)
    last = int(end * FPS)
    frames = [last // 4, last // 2, 3 * last // 4]
    subprocess.run([tool, "render", json_path, "--playback-mode", "4", "--frames", ",".join(map(str, frames)),
                    "--size", size, "-q", "-o", os.path.join(work, "r_####.png"), "--plugin", plugin], check=True)

    options = webdriver.ChromeOptions()
    for a in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
              "--force-device-scale-factor=1", "--hide-scrollbars"]:
        options.add_argument(a)
    try:
        driver = webdriver.Chrome(options=options)
    except Exception as e:  # no usable Chromium here
        print("SKIPPED: Chromium could not be started: %s" % e)
        sys.exit(77)
    failed = False
    try:
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                               {"width": WIDTH, "height": HEIGHT, "deviceScaleFactor": 1, "mobile": False})
        driver.get("file://" + svg)
        for frame in frames:
            # Every dab's animation paused at the frame's time.
            driver.execute_script(
                "document.getAnimations().forEach(a => { a.pause(); a.currentTime = arguments[0]; });",
                frame * 1000.0 / FPS)
            driver.execute_async_script(
                "const done = arguments[0]; requestAnimationFrame(() => requestAnimationFrame(done));")
            shown, w, h = read_png(driver.get_screenshot_as_png())
            with open(os.path.join(work, "r_%04d.png" % frame), "rb") as f:
                rendered, _, _ = read_png(f.read())
            score = iou(shown[:HEIGHT], rendered)
            print("frame %d (%s x %s shown): IoU %.4f" % (frame, w, h, score))
            if score < 0.90:
                failed = True
    finally:
        driver.quit()
    if failed:
        sys.exit("the animated SVG does not follow Animate Strokes (kept in %s)" % work)
    subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
