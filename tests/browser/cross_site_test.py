#!/usr/bin/python3
"""A page on another port (another origin) puts a frame of `pennaro serve`
in an <img>: the browser sends no Origin for it, only Sec-Fetch-Site, and
the server must refuse it (403, in its request log) while the image fails.

Usage: cross_site_test.py TOOL PLUGIN DRAWING
"""
import http.server
import os
import re
import signal
import subprocess
import sys
import tempfile
import threading

from selenium import webdriver
from selenium.webdriver.support.ui import WebDriverWait

signal.alarm(60)


def main():
    tool, plugin, drawing = sys.argv[1:4]
    import socket
    try:
        socket.getaddrinfo("localhost", None)
    except OSError:
        print("SKIPPED: \"localhost\" does not resolve here, so chromedriver cannot reach Chromium")
        sys.exit(77)
    with tempfile.TemporaryDirectory() as tmp:
        log_path = os.path.join(tmp, "server.log")
        with open(log_path, "w") as log:
            server = subprocess.Popen([tool, "serve", drawing, "--port", "0", "--quit-after", "50", "--plugin",
                                       plugin, "--workers", "1"], stdout=subprocess.PIPE, stderr=log, text=True)
        port = int(re.search(r"http://127\.0\.0\.1:(\d+)/", server.stdout.readline()).group(1))
        page = ('<!doctype html><img src="http://127.0.0.1:%d/api/frame.png?drawing=0&frame=1&size=64x64" '
                'onload="document.title=\'loaded\'" onerror="document.title=\'refused\'">' % port).encode()

        class Other(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                self.send_response(200)
                self.send_header("Content-Type", "text/html")
                self.end_headers()
                self.wfile.write(page)

            def log_message(self, *args):
                pass

        other = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Other)
        threading.Thread(target=other.serve_forever, daemon=True).start()
        driver = None
        try:
            options = webdriver.ChromeOptions()
            for a in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"]:
                options.add_argument(a)
            driver = webdriver.Chrome(options=options)
            driver.get("http://127.0.0.1:%d/" % other.server_address[1])
            WebDriverWait(driver, 20).until(lambda d: d.title in ("loaded", "refused"))
            title = driver.title
        finally:
            if driver:
                driver.quit()
            other.shutdown()
            server.terminate()
            server.wait(10)
        with open(log_path) as f:
            log = f.read()
        assert title == "refused", "the other site's <img> got the frame"
        assert "GET /api/frame.png 403" in log, "the server did not refuse it itself:\n" + log
    print("a frame in another site's <img> is refused")


if __name__ == "__main__":
    main()
