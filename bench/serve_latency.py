#!/usr/bin/python3
"""Frame latency and playback rate of `pennaro serve`, measured from a
client on one keep-alive connection, as the page fetches frames (one at a
time, PNG encoding and transfer included).

Usage: bench/serve_latency.py TOOL [DRAWING] [--plugin PATH]
"""
import argparse
import http.client
import re
import statistics
import subprocess
import time


def fetch(conn, query):
    start = time.perf_counter()
    conn.request("GET", "/api/frame.png?" + query)
    res = conn.getresponse()
    body = res.read()
    assert res.status == 200, body[:200]
    return time.perf_counter() - start, len(body)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("tool")
    p.add_argument("drawing", nargs="?", default="examples/demo.json")
    p.add_argument("--plugin")
    a = p.parse_args()
    args = [a.tool, "serve", a.drawing, "--port", "0", "--quit-after", "300"]
    if a.plugin:
        args += ["--plugin", a.plugin]
    server = subprocess.Popen(args, stdout=subprocess.PIPE, text=True)
    port = int(re.search(r":(\d+)/", server.stdout.readline()).group(1))
    conn = http.client.HTTPConnection("127.0.0.1", port)
    try:
        base = "drawing=0&playback-mode=Animate%20Strokes"
        # Both PNG encodings side by side, request by request, so that the
        # load of a shared machine falls on both alike.
        for name, downsample in (("full", "1/1"), ("1/2", "1/2"), ("1/4", "1/4")):
            looks = {png: "%s&downsample=%s&png=%s" % (base, downsample, png) for png in ("compact", "fast")}
            times = {png: [] for png in looks}
            sizes = {png: [] for png in looks}
            for look in looks.values():
                fetch(conn, look + "&frame=0")  # the session is loaded once
            # Scrubbing: frames out of order, each asked for once.
            for i in range(60):
                for png, look in looks.items():
                    t, n = fetch(conn, "%s&frame=%d" % (look, (i * 37) % 170))
                    times[png].append(t)
                    sizes[png].append(n)
            # Playing: frames in order, the next asked for when one arrives.
            rate = {}
            for png, look in looks.items():
                start = time.perf_counter()
                for f in range(72):
                    fetch(conn, "%s&frame=%d" % (look, f))
                rate[png] = 72 / (time.perf_counter() - start)
            for png in looks:
                t = sorted(times[png])
                print("1920x1080 at %-4s png=%-7s scrub median %5.1f ms (p90 %5.1f ms), PNG %5.0f KiB; play %5.1f fps" % (
                    name, png, 1000 * statistics.median(t), 1000 * t[int(len(t) * 0.9)],
                    statistics.mean(sizes[png]) / 1024, rate[png]))
    finally:
        conn.close()
        server.terminate()
        server.wait()


if __name__ == "__main__":
    main()
