#!/usr/bin/python3
"""The page of `pennaro serve` as an editor, in headless Chromium at
1280x800 and 1920x1080: a plate sequence numbered from 1001 served with
--frame-offset 1000, two stroke bars and an end dragged in the dope sheet,
a stroke drawn in "Animate Strokes", undo and redo, save; the command box's
line run with the tool gives the frame the page shows, the saved drawing
(JSON and block) holds the page's stroke times to the sample, and no field
of the controls is clipped. Screenshots of both sizes are kept in OUT_DIR.

With --bench: the scrub latency of half-size previews of an HD plate, from
the page's own clock (Performance API) over 30 frames; prints the median and
the 90th percentile.

Usage: serve_editor_test.py TOOL PLUGIN DRAWING OUT_DIR [--bench]
"""
import argparse
import json
import os
import shlex
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.actions import interaction
from selenium.webdriver.common.actions.action_builder import ActionBuilder
from selenium.webdriver.common.actions.pointer_input import PointerInput
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

import page_driver
from page_driver import same_pixels, start_server

signal.alarm(170)


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def make_plates(tool, plugin, drawing, folder, size, first, count):
    """A plate sequence numbered from `first`: one render, linked under every number."""
    os.makedirs(folder)
    one = os.path.join(folder, "plate.%04d.png" % first)
    subprocess.run([tool, "render", drawing, "--plugin", plugin, "--size", size, "--background", "gradient",
                    "--playback-mode", "All Strokes", "--frames", "0", "-q", "-o", one], check=True)
    for f in range(first + 1, first + count):
        os.link(one, os.path.join(folder, "plate.%04d.png" % f))


class Page(page_driver.Page):
    def __init__(self, port, width, height):
        super().__init__(port, width, height, inner=True, script_timeout=30)

    def revision(self):
        return self.js("return window.pennaro.drawings[window.pennaro.index].revision")

    def settle_edit(self, before):
        """Waits until the page shows the frame of the drawing after an edit."""
        self.settle(lambda d: self.js(
            "return /[?&]v=" + str(before + 1) + "(&|$)/.test(document.getElementById('frameA').dataset.query)"))

    def strokes(self):
        return self.js("return window.pennaro.drawing.strokes")

    def stroke(self, sid):
        return next(s for s in self.strokes() if s["strokeId"] == sid)

    def drag(self, element, dx):
        ActionChains(self.driver).move_to_element(element).click_and_hold().move_by_offset(dx // 2, 0) \
            .move_by_offset(dx - dx // 2, 0).release().perform()

    def bar(self, sid):
        return self.driver.find_element(By.CSS_SELECTOR, '#dopeSheet .ds-bar[data-id="%d"]' % sid)

    def clipped_controls(self):
        """Controls of the header and the side panel cut off by their box or the window."""
        return self.js("""
            document.querySelectorAll('#side details').forEach(d => d.open = true);
            const out = [], side = document.getElementById('side').getBoundingClientRect();
            const inner = document.getElementById('side').clientWidth;
            for (const e of document.querySelectorAll('#side input, #side select, #side button, header > *')) {
              const r = e.getBoundingClientRect();
              if (r.width === 0 || getComputedStyle(e).visibility === 'hidden' || e.id === 'status') continue;
              const right = e.closest('#side') ? side.left + inner : window.innerWidth;
              const left = e.closest('#side') ? side.left : 0;
              // Out of its box, or its text cut off inside it.
              if (r.left < left - 0.5 || r.right > right + 0.5 || e.scrollWidth > e.clientWidth + 1)
                out.push((e.id || e.tagName) + ' ' + Math.round(r.left) + '..' + Math.round(r.right));
            }
            return out;""")


def check_times(page_strokes, saved_strokes, what):
    """The saved strokes are the page's, their times to the 32-bit sample."""
    assert len(page_strokes) == len(saved_strokes), what
    by_id = {s["strokeId"]: s for s in saved_strokes}
    for s in page_strokes:
        t = by_id[s["strokeId"]]
        for name in ("startTime", "duration"):
            assert s[name] == f32(s[name]) and f32(t[name]) == s[name], (what, s["strokeId"], name, s[name], t[name])
        assert s["duration"] == s["points"][-1][0], (what, "duration is not the last sample's time")
        assert [f32(p[0]) for p in t["points"]] == [p[0] for p in s["points"]], (what, s["strokeId"], "sample times")


def drop_file(page, name, text):
    page.js("""
        const data = new DataTransfer();
        data.items.add(new File([arguments[1]], arguments[0], { type: 'image/svg+xml' }));
        document.getElementById('viewport').dispatchEvent(
          new DragEvent('drop', { dataTransfer: data, bubbles: true, cancelable: true }));""", name, text)


def import_and_export(a, page, tmp):
    """An SVG dropped on the page is an edit undo takes back, a bad one is said in the error line; the
    SVG download is what `pennaro export` writes for the saved drawing at the page's frame and settings."""
    d = page.driver
    logo = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "vector", "data", "logo.svg")
    with open(logo) as f:
        art = f.read()
    count = len(page.strokes())
    rev = page.revision()
    drop_file(page, "bad.svg", "<svg xmlns='http://www.w3.org/2000/svg'>\n<path d='M0 0 L")
    WebDriverWait(d, 10).until(lambda d: "bad.svg:2" in d.find_element(By.ID, "error").text)
    assert page.revision() == rev and len(page.strokes()) == count
    drop_file(page, "logo.svg", art)
    page.settle_edit(rev)
    subprocess.run([a.tool, "import", logo, "-q", "-o", os.path.join(tmp, "logo.json")], check=True)
    with open(os.path.join(tmp, "logo.json")) as f:
        assert len(page.strokes()) == len(json.load(f)["strokes"]) != count
    assert "unsaved" in d.find_element(By.ID, "commandNote").text
    assert d.find_element(By.ID, "error").text == ""
    rev = page.revision()
    d.find_element(By.ID, "undo").click()
    page.settle_edit(rev)
    assert len(page.strokes()) == count
    print("dropped logo.svg: imported as an edit and undone; a bad SVG is refused in the error line")

    downloads = os.path.join(tmp, "downloads")
    os.makedirs(downloads)
    d.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads})
    d.find_element(By.ID, "exportSvg").click()
    got = os.path.join(downloads, "demo.svg")
    WebDriverWait(d, 20).until(lambda d: os.path.exists(got) and os.path.getsize(got) > 0)
    frame = int(page.js("return window.pennaro.frame")) - 1000
    want = os.path.join(tmp, "want.svg")
    subprocess.run([a.tool, "export", os.path.join(tmp, "edited.json"), "-q", "--frame", str(frame), "--size",
                    "640x360", "--playback-mode", "Animate Strokes", "-o", want], check=True)
    with open(got, "rb") as f, open(want, "rb") as g:
        assert f.read() == g.read(), "the SVG download is not the export of the drawing shown"
    d.find_element(By.ID, "exportLottie").click()
    got = os.path.join(downloads, "demo.lottie.json")
    WebDriverWait(d, 20).until(lambda d: os.path.exists(got) and os.path.getsize(got) > 0)
    print("exported frame %d as demo.svg (equal to pennaro export) and demo.lottie.json" % (frame + 1000))


def edit_session(a, width, height, tmp):
    server, port = start_server(a.tool, a.plugin, ["-q", a.drawing, "--layer", "plates/plate.####.png",
                                                   "--frame-offset", "1000", "--save-dir", tmp], 150, tmp)
    page = None
    try:
        page = Page(port, width, height)
        d = page.driver
        # The shot's numbers: the first plate is 1001.
        assert page.js("return document.getElementById('frameA').dataset.frame") == "1001"
        assert d.find_element(By.ID, "frameText").text == "frame 1001"
        assert d.find_element(By.ID, "error").text == ""
        Select(d.find_element(By.ID, "param-playback-mode")).select_by_value("Animate Strokes")
        page.settle(lambda d: "Animate+Strokes" in page.js("return document.getElementById('frameA').dataset.query"))

        # Two bars moved, one stretched by its right end.
        fps_step = 1 / 30
        before = {s["strokeId"]: s for s in page.strokes()}
        for sid, dx in ((1, 60), (4, -40)):
            rev = page.revision()
            page.drag(page.bar(sid), dx)
            page.settle_edit(rev)
            moved = page.stroke(sid)["startTime"] - before[sid]["startTime"]
            assert moved * dx > 0 and abs(moved / fps_step - round(moved / fps_step)) < 1e-3, (sid, moved)
            if sid == 1:
                # Stroke 1 now starts after stroke 2, so paints over it.
                assert "stacking changed" in d.find_element(By.ID, "status").get_attribute("textContent")
        rev = page.revision()
        page.drag(page.bar(0).find_element(By.CSS_SELECTOR, ".ds-end.right"), 50)
        page.settle_edit(rev)
        s0 = page.stroke(0)
        assert s0["startTime"] == before[0]["startTime"] and s0["duration"] > before[0]["duration"], s0["duration"]
        # Two chosen (click, Shift-click) move together.
        starts = {sid: page.stroke(sid)["startTime"] for sid in (5, 6)}
        page.bar(5).click()
        ActionChains(d).key_down("\ue008").click(page.bar(6)).key_up("\ue008").perform()
        assert page.js("return [...window.pennaro.selection].sort()") == [5, 6]
        rev = page.revision()
        page.drag(page.bar(6), 30)
        page.settle_edit(rev)
        shifts = [page.stroke(sid)["startTime"] - starts[sid] for sid in (5, 6)]
        assert shifts[0] > 0 and abs(shifts[0] - shifts[1]) < 1e-6, shifts
        order = page.js("return [...document.querySelectorAll('#dopeSheet .ds-bar')].map(b => Number(b.dataset.id))")
        expected = [s["strokeId"] for s in sorted(page.strokes(), key=lambda s: (s["startTime"], s["strokeId"]))]
        assert order == expected, "rows follow the draw order"
        print("%dx%d: moved strokes 1 and 4, then 5 and 6 together, stretched stroke 0 to %.3f s; rows in draw order"
              % (width, height, s0["duration"]))

        # Draw at frame 1030 in Animate Strokes: the guide stays, the dope sheet shows the stroke at once.
        page.js("const s = document.getElementById('scrub'); s.value = 1030; s.dispatchEvent(new Event('input'))")
        page.settle(lambda d: page.js("return document.getElementById('frameA').dataset.frame") == "1030")
        d.find_element(By.CSS_SELECTOR, "input[name=mode][value=draw]").click()
        count = len(page.strokes())
        box = page.js("""
            const i = document.getElementById('frameA').getBoundingClientRect(),
                  v = document.getElementById('viewport').getBoundingClientRect();
            return [i.left - (v.left + v.width / 2), i.top - (v.top + v.height / 2), i.width, i.height];""")
        at = lambda fx, fy: (int(box[0] + fx * box[2]), int(box[1] + fy * box[3]))
        viewport = d.find_element(By.ID, "viewport")
        rev = page.revision()
        pen = ActionBuilder(d, mouse=PointerInput(interaction.POINTER_PEN, "pen"), duration=30)
        pen.pointer_action.move_to(viewport, *at(0.2, 0.6)).pointer_down(pressure=0.4)
        for i in range(1, 10):
            pen.pointer_action.move_to(viewport, *at(0.2 + i * 0.05, 0.6 - i * 0.03), pressure=0.4 + i * 0.05)
        pen.pointer_action.pointer_up()
        pen.perform()
        page.settle_edit(rev)
        drawn = page.strokes()[-1]
        assert len(page.strokes()) == count + 1
        assert drawn["startTime"] == f32(30 / 30), drawn["startTime"]
        assert page.js("return document.getElementById('guide').childElementCount") == 1, "the guide stays"
        assert page.js("return !!document.querySelector('#dopeSheet .ds-bar[data-id=\"%d\"].selected')"
                       % drawn["strokeId"]), "the new stroke is in the dope sheet, chosen"
        note = d.find_element(By.ID, "commandNote").text
        assert "unsaved" in note, note

        # Undo takes the stroke away, redo brings it back (keyboard and buttons).
        with_stroke = json.dumps(page.strokes())
        rev = page.revision()
        ActionChains(d).key_down("\ue009").send_keys("z").key_up("\ue009").perform()
        page.settle_edit(rev)
        assert len(page.strokes()) == count
        rev = page.revision()
        d.find_element(By.ID, "redo").click()
        page.settle_edit(rev)
        assert json.dumps(page.strokes()) == with_stroke
        print("%dx%d: drew stroke %d at frame 1030 (%.3f s), undone and redone"
              % (width, height, drawn["strokeId"], drawn["startTime"]))

        # Save; the command box names the saved file; running its line gives the page's frame.
        name = d.find_element(By.ID, "saveName")
        name.clear()
        name.send_keys("edited")
        d.find_element(By.ID, "save").click()
        WebDriverWait(d, 10).until(lambda d: "saved" in d.find_element(By.ID, "status").text)
        command = d.find_element(By.ID, "command").text.split("\n")[0]
        assert os.path.join(tmp, "edited.json") in command, command
        png, _, frame = page.shown_png()
        args = shlex.split(command)
        assert args[:2] == ["pennaro", "render"] and args[-2:] == ["-o", "frame_####.png"], command
        out = os.path.join(tmp, "cmd_####.png")
        subprocess.run([a.tool] + args[1:-2] + ["-o", out, "-q", "--plugin", a.plugin], check=True, cwd=tmp)
        assert same_pixels(a.tool, png, out.replace("####", "%04d" % frame)), "the command box renders another frame"
        print("%dx%d: the command box's line renders frame %d exactly as the page shows it" % (width, height, frame))

        # Saved and read back: the page's stroke times to the sample.
        with open(os.path.join(tmp, "edited.json")) as f:
            check_times(page.strokes(), json.load(f)["strokes"], "edited.json")
        back = os.path.join(tmp, "back.json")
        subprocess.run([a.tool, "convert", os.path.join(tmp, "edited.bin"), back], check=True)
        with open(back) as f:
            check_times(page.strokes(), json.load(f)["strokes"], "edited.bin")

        if width == 1280:
            import_and_export(a, page, tmp)

        # The layout holds: nothing clipped; a long error stays on one line over the frame.
        d.find_element(By.CSS_SELECTOR, "input[name=mode][value=view]").click()
        clipped = page.clipped_controls()
        assert not clipped, "clipped at %dx%d: %s" % (width, height, clipped)
        top = page.js("return document.getElementById('frameA').getBoundingClientRect().top")
        page.js("document.getElementById('error').textContent = 'x '.repeat(400)")
        assert page.js("return document.getElementById('error').getBoundingClientRect().height") < 30
        assert page.js("return document.getElementById('frameA').getBoundingClientRect().top") == top
        page.js("document.getElementById('error').textContent = ''; document.activeElement.blur()")
        d.save_screenshot(os.path.join(a.out_dir, "serve_editor_%dx%d.png" % (width, height)))
    finally:
        if page:
            page.driver.quit()
        server.terminate()
        server.wait(10)


def bench(a, tmp, plate):
    """One row: an HD plate sequence from 1001 under the drawing, or an HD layer of the tool's own."""
    if plate and not os.path.isdir(os.path.join(tmp, "hd")):
        make_plates(a.tool, a.plugin, a.drawing, os.path.join(tmp, "hd"), "1920x1080", 1001, 40)
    layer = ["--layer", "hd/plate.####.png"] if plate else []
    server, port = start_server(a.tool, a.plugin, ["-q", a.drawing, "--frame-offset", "1000"] + layer, 150, tmp)
    page = None
    try:
        page = Page(port, 1920, 1080)
        Select(page.driver.find_element(By.ID, "param-playback-mode")).select_by_value("Animate Strokes")
        page.settle()
        # Each frame from the scrub's input to the image on screen; with a
        # plate, the same frames twice: plates read for the first time, then
        # kept by the server.
        for run in (("plates read", "plates kept") if plate else ("",)):
            times = page.driver.execute_async_script("""
                const done = arguments[0], s = document.getElementById('scrub'), out = [];
                performance.clearResourceTimings();
                const next = (i) => {
                  if (i === 30) {
                    // The requests' own share: from asking to the last byte.
                    const fetched = performance.getEntriesByType('resource')
                      .filter((e) => e.name.includes('/api/frame.png')).map((e) => e.responseEnd - e.startTime);
                    return done([out, fetched]);
                  }
                  const shown = window.pennaro.shown, t0 = performance.now();
                  s.value = 1005 + i; s.dispatchEvent(new Event('input'));
                  const wait = () => window.pennaro.shown > shown && document.body.dataset.busy === '0'
                    ? (out.push(performance.now() - t0), next(i + 1)) : requestAnimationFrame(wait);
                  wait();
                };
                next(0);""")
            times, fetched = sorted(times[0]), sorted(times[1])
            print("scrub latency, HD %s at 1/2, 30 frames: median %.1f ms, 90th percentile %.1f ms "
                  "(the request alone: median %.1f ms)"
                  % ("PNG plate, " + run if plate else "layer (no plate)", times[len(times) // 2],
                     times[int(len(times) * 0.9)], fetched[len(fetched) // 2]))
    finally:
        if page:
            page.driver.quit()
        server.terminate()
        server.wait(10)


def main():
    parser = argparse.ArgumentParser()
    for name in ("tool", "plugin", "drawing", "out_dir"):
        parser.add_argument(name)
    parser.add_argument("--bench", action="store_true")
    a = parser.parse_args()
    a.tool, a.plugin, a.drawing = map(os.path.abspath, (a.tool, a.plugin, a.drawing))
    started = time.monotonic()
    try:
        socket.getaddrinfo("localhost", None)
    except OSError:
        print("SKIPPED: \"localhost\" does not resolve here (no /etc/hosts), so chromedriver cannot reach Chromium")
        sys.exit(77)
    os.makedirs(a.out_dir, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="pennaro-editor-") as tmp:
        if a.bench:
            # Alternated, so that the machine's load falls on both alike.
            for plate in (False, True, False, True):
                bench(a, tmp, plate)
            return
        make_plates(a.tool, a.plugin, a.drawing, os.path.join(tmp, "plates"), "640x360", 1001, 220)
        for width, height in ((1280, 800), (1920, 1080)):
            edit_session(a, width, height, tmp)
    print("editor test passed in %.1f s" % (time.monotonic() - started))


if __name__ == "__main__":
    main()
