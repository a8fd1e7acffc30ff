"""What the browser tests of `pennaro serve` share: a server on a free
loopback port, the page in headless Chromium, and the comparison of the
frame it shows with a file the tool wrote."""
import base64
import re
import subprocess
import sys

from selenium import webdriver
from selenium.webdriver.support.ui import WebDriverWait


def start_server(tool, plugin, args, quit_after, cwd=None):
    """`pennaro serve` with `args`, stopping by itself after `quit_after` s."""
    server = subprocess.Popen([tool, "serve", "--port", "0", "--quit-after", str(quit_after), "--plugin", plugin]
                              + args, stdout=subprocess.PIPE, text=True, cwd=cwd)
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


class Page:
    """The page at `port` in a window of `width` x `height`; with `inner`,
    the page itself gets that size, as a user with that screen does."""

    def __init__(self, port, width, height, inner=False, script_timeout=10):
        options = webdriver.ChromeOptions()
        for a in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                  "--window-size=%d,%d" % (width, height)]:
            options.add_argument(a)
        self.driver = webdriver.Chrome(options=options)
        self.driver.set_script_timeout(script_timeout)
        self.driver.get("http://127.0.0.1:%d/" % port)
        if inner:
            size = self.js("return [window.innerWidth, window.innerHeight]")
            self.driver.set_window_size(width + width - size[0], height + height - size[1])
        self.settle(lambda d: self.js("return window.pennaro && window.pennaro.shown > 0"))

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def settle(self, condition=None, timeout=20):
        """Waits for `condition`, then until no frame is on its way."""
        wait = WebDriverWait(self.driver, timeout, poll_frequency=0.05)
        if condition:
            wait.until(condition)
        wait.until(lambda d: self.js("return document.body.dataset.busy === '0'"))

    def shown_png(self):
        """The bytes of the PNG the page shows now, the query it came from
        and its frame number."""
        data = self.driver.execute_async_script("""
            const done = arguments[0], img = document.getElementById('frameA');
            fetch(img.dataset.src).then(r => r.arrayBuffer()).then(b => {
              let s = ''; const u = new Uint8Array(b);
              for (let i = 0; i < u.length; i++) s += String.fromCharCode(u[i]);
              done([btoa(s), img.dataset.query, Number(img.dataset.frame)]);
            });""")
        return base64.b64decode(data[0]), data[1], data[2]
