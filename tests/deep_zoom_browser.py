#!/usr/bin/env python3
"""The deep-zoom viewer page in a real browser.

spirell-render writes a 3000 x 2000 pyramid at tile 254 and the PNG of the
same view. python3 -m http.server serves the pyramid; Debian's Chromium,
headless and driven by its DevTools protocol over a pipe, opens the page,
waits until the tiles are loaded, zooms to one picture pixel a screen pixel
(the deepest level) at a place that straddles four tiles, and takes a
screenshot of it, which must equal the PNG's pixels there exactly. The page
is then opened from file:// too. Anything missing, a browser or a server
that does not start, fails the test and says why.
"""

import argparse
import base64
import json
import os
import queue
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

WIDTH, HEIGHT, TILE = 3000, 2000, 254
# The screenshot's top left corner in the picture: its 300 x 200 pixels reach
# across the tile seams at x = 1524 and y = 254.
PLACE_X, PLACE_Y, SHOT_W, SHOT_H = 1400, 180, 300, 200
TIMEOUT = 60


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def decode_png(data, last_row=None):
    """Rows of RGB bytes of an 8-bit RGB or RGBA PNG without interlace, down to last_row."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    at, idat = 8, []
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour not in (2, 6) or interlace:
                raise ValueError("a PNG of a kind this test does not read")
        elif kind == b"IDAT":
            idat.append(body)
        at += 12 + length
    channels = 3 if colour == 2 else 4
    stride = width * channels
    rows_wanted = height if last_row is None else min(height, last_row + 1)
    raw = zlib.decompressobj().decompress(b"".join(idat), rows_wanted * (stride + 1))
    rows, above = [], bytearray(stride)
    for y in range(rows_wanted):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        if kind == 1:
            for i in range(channels, stride):
                line[i] = (line[i] + line[i - channels]) & 255
        elif kind == 2:
            line = bytearray((a + b) & 255 for a, b in zip(line, above))
        elif kind == 3:
            for i in range(stride):
                left = line[i - channels] if i >= channels else 0
                line[i] = (line[i] + ((left + above[i]) >> 1)) & 255
        elif kind == 4:
            for i in range(stride):
                a = line[i - channels] if i >= channels else 0
                b = above[i]
                c = above[i - channels] if i >= channels else 0
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line) if channels == 3 else bytes(
            v for i, v in enumerate(line) if i % 4 != 3))
        above = line
    return width, height, rows


class Browser:
    """Chromium's DevTools protocol over --remote-debugging-pipe: JSON messages ending in NUL."""

    def __init__(self, chromium, profile):
        to_browser_read, self.to_browser = os.pipe()
        self.from_browser, from_browser_write = os.pipe()

        # The browser reads its commands from descriptor 3 and answers on 4;
        # os.pipe's descriptors are not inherited, so nothing else is.
        arguments = [chromium, "--headless", "--no-sandbox", "--disable-gpu",
                     "--remote-debugging-pipe", "--user-data-dir=" + profile, "--no-first-run",
                     "--disable-background-networking", "--disable-component-update",
                     "--disable-sync", "--disable-quic", "--force-device-scale-factor=1",
                     "--force-color-profile=srgb", "--window-size=900,700", "about:blank"]
        self.pid = os.posix_spawn(chromium, arguments, os.environ, file_actions=[
            (os.POSIX_SPAWN_DUP2, to_browser_read, 3),
            (os.POSIX_SPAWN_DUP2, from_browser_write, 4),
            (os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
            (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)])
        os.close(to_browser_read)
        os.close(from_browser_write)
        self.messages = queue.Queue()
        self.events = []
        self.next_id = 0
        threading.Thread(target=self._read, daemon=True).start()
        targets = self.call("Target.getTargets")["targetInfos"]
        page = next(t for t in targets if t["type"] == "page")
        self.session = self.call("Target.attachToTarget", targetId=page["targetId"],
                                 flatten=True)["sessionId"]

    def _read(self):
        pending = b""
        while True:
            chunk = os.read(self.from_browser, 1 << 16)
            if not chunk:
                self.messages.put(None)
                return
            pending += chunk
            while b"\0" in pending:
                message, pending = pending.split(b"\0", 1)
                self.messages.put(json.loads(message))

    def call(self, method, session=None, **params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + TIMEOUT
        while True:
            try:
                reply = self.messages.get(timeout=max(0.1, deadline - time.monotonic()))
            except queue.Empty:
                raise RuntimeError(method + " got no answer in %d s" % TIMEOUT)
            if reply is None:
                raise RuntimeError("the browser closed its pipe during " + method)
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(method + ": " + reply["error"]["message"])
                return reply["result"]
            self.events.append(reply)

    def page(self, method, **params):
        return self.call(method, session=self.session, **params)

    def evaluate(self, expression):
        result = self.page("Runtime.evaluate", expression=expression, awaitPromise=True,
                           returnByValue=True)
        if "exceptionDetails" in result:
            raise RuntimeError("in the page: " + json.dumps(result["exceptionDetails"])[:500])
        return result["result"].get("value")

    def open(self, url):
        self.events.clear()
        self.page("Page.enable")
        self.page("Page.navigate", url=url)
        deadline = time.monotonic() + TIMEOUT
        while not any(e.get("method") == "Page.loadEventFired" for e in self.events):
            if time.monotonic() > deadline:
                raise RuntimeError("the page " + url + " did not load")
            self.evaluate("1")

    def close(self):
        try:
            self.call("Browser.close")
        except Exception:
            pass
        deadline = time.monotonic() + 10
        while os.waitpid(self.pid, os.WNOHANG) == (0, 0):
            if time.monotonic() > deadline:
                os.kill(self.pid, signal.SIGKILL)
                os.waitpid(self.pid, 0)
                break
            time.sleep(0.1)


WAIT_FOR_TILES = """
window.waitForTiles = (what) => new Promise((resolve, reject) => {
  const started = performance.now();
  const check = () => {
    const viewer = window.viewer;
    const image = viewer && viewer.world.getItemCount() && viewer.world.getItemAt(0);
    // Two frames after the last change, so that what is loaded is drawn.
    if (image && image.getFullyLoaded() && !image.needsDraw())
      requestAnimationFrame(() => requestAnimationFrame(() => resolve(true)));
    else if (performance.now() - started > %d)
      reject(new Error("the tiles of " + what + " did not load"));
    else
      setTimeout(check, 50);
  };
  check();
});
""" % (TIMEOUT * 1000)

ZOOM_TO_PLACE = """
(async () => {
  const viewer = window.viewer, image = viewer.world.getItemAt(0);
  // The place's centre at the viewer's centre, one picture pixel a screen
  // pixel: the picture's pixel edges fall on the screen's.
  viewer.viewport.zoomTo(image.imageToViewportZoom(1), null, true);
  viewer.viewport.panTo(image.imageToViewportCoordinates(%d, %d), true);
  await new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)));
  await window.waitForTiles("the deepest level");
  const box = viewer.element.getBoundingClientRect();
  const corner = image.imageToViewerElementCoordinates(new OpenSeadragon.Point(%d, %d));
  const levels = image.getTilesToDraw().map(info => info.tile.level);
  return {x: box.left + corner.x, y: box.top + corner.y,
          pixelRatio: image.viewportToImageZoom(viewer.viewport.getZoom(true)),
          deviceScale: window.devicePixelRatio,
          lowestDrawn: Math.min(...levels), highestDrawn: Math.max(...levels)};
})()
""" % (PLACE_X + SHOT_W // 2, PLACE_Y + SHOT_H // 2, PLACE_X, PLACE_Y)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def stop_on_signal(number, _frame):
    # The server and the browser are stopped on the way out (finally below).
    raise SystemExit("stopped by signal %d" % number)


def main():
    signal.signal(signal.SIGTERM, stop_on_signal)
    signal.signal(signal.SIGINT, stop_on_signal)
    parser = argparse.ArgumentParser()
    parser.add_argument("--render", required=True)
    parser.add_argument("--chromium", default="/usr/bin/chromium")
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    if not os.access(args.chromium, os.X_OK):
        fail(args.chromium + " is missing: install Debian's chromium (scripts/install-dependencies chromium)")

    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    view = ["ripple", "--frame", "%dx%d" % (WIDTH, HEIGHT), "--quiet"]
    subprocess.run([args.render] + view + ["--deep-zoom", os.path.join(args.work, "poster.dzi"),
                                           "--tile-size", str(TILE)], check=True)
    subprocess.run([args.render] + view + ["-o", os.path.join(args.work, "poster.png")], check=True)
    with open(os.path.join(args.work, "poster.png"), "rb") as file:
        _, _, expected_rows = decode_png(file.read(), last_row=PLACE_Y + SHOT_H)

    server = browser = None
    server_log = open(os.path.join(args.work, "server.log"), "w+")
    profile = tempfile.mkdtemp(prefix="deep-zoom-chromium-")
    try:
        port = free_port()
        server = subprocess.Popen([sys.executable, "-m", "http.server", str(port), "--bind",
                                   "127.0.0.1", "--directory", args.work],
                                  stdout=server_log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 20
        while True:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                if server.poll() is not None or time.monotonic() > deadline:
                    fail("python3 -m http.server did not start on port %d" % port)
                time.sleep(0.1)

        browser = Browser(args.chromium, profile)
        browser.page("Emulation.setDeviceMetricsOverride", width=900, height=700,
                     deviceScaleFactor=1, mobile=False)
        browser.open("http://127.0.0.1:%d/poster.html" % port)
        browser.evaluate(WAIT_FOR_TILES)
        browser.evaluate("window.waitForTiles('the whole picture')")
        shown = browser.evaluate(ZOOM_TO_PLACE)
        print("shown:", json.dumps(shown))
        deepest = max(int(level) for level in os.listdir(os.path.join(args.work, "poster_files"))
                      if level.isdigit())
        if shown["lowestDrawn"] != deepest or shown["highestDrawn"] != deepest:
            fail("levels %d to %d drawn at one picture pixel a screen pixel, not the deepest, %d"
                 % (shown["lowestDrawn"], shown["highestDrawn"], deepest))
        if abs(shown["pixelRatio"] - 1) > 1e-9 or shown["deviceScale"] != 1:
            fail("not one picture pixel a screen pixel: " + json.dumps(shown))
        left, top = round(shown["x"]), round(shown["y"])
        if abs(shown["x"] - left) > 1e-6 or abs(shown["y"] - top) > 1e-6:
            fail("the place is not on whole screen pixels: " + json.dumps(shown))

        shot = browser.page("Page.captureScreenshot", format="png",
                            clip={"x": left, "y": top, "width": SHOT_W, "height": SHOT_H, "scale": 1})
        screenshot = base64.b64decode(shot["data"])
        with open(os.path.join(args.work, "screenshot.png"), "wb") as file:
            file.write(screenshot)
        width, height, shown_rows = decode_png(screenshot)
        if (width, height) != (SHOT_W, SHOT_H):
            fail("the screenshot is %d x %d, not %d x %d" % (width, height, SHOT_W, SHOT_H))
        differing, worst = 0, 0
        for y in range(SHOT_H):
            want = expected_rows[PLACE_Y + y][3 * PLACE_X:3 * (PLACE_X + SHOT_W)]
            got = shown_rows[y]
            if want != got:
                for a, b in zip(want, got):
                    if a != b:
                        differing += 1
                        worst = max(worst, abs(a - b))
        if differing:
            fail("%d of %d channel values on screen differ from the PNG's, by up to %d "
                 "(screenshot.png in %s)" % (differing, 3 * SHOT_W * SHOT_H, worst, args.work))
        requested = set(re.findall(r"GET /poster_files/(\d+)/\d+_\d+\.png", open(server_log.name).read()))
        if str(deepest) not in requested:
            fail("the server was never asked for a tile of level %d" % deepest)
        print("the screen shows the PNG's %d x %d pixels at (%d, %d) exactly, from level %d"
              % (SHOT_W, SHOT_H, PLACE_X, PLACE_Y, deepest))

        # From file:// the page needs no server at all.
        browser.open("file://" + os.path.abspath(os.path.join(args.work, "poster.html")))
        browser.evaluate(WAIT_FOR_TILES)
        browser.evaluate("window.waitForTiles('the whole picture from file://')")
        shown = browser.evaluate(ZOOM_TO_PLACE)
        if shown["lowestDrawn"] != deepest:
            fail("from file:// the deepest level was not drawn: " + json.dumps(shown))
        print("from file:// too")
    except Exception as error:  # anything unforeseen fails with its reason
        fail("%s: %s" % (type(error).__name__, error))
    finally:
        if browser:
            browser.close()
        if server:
            server.terminate()
            try:
                server.wait(timeout=10)
            except subprocess.TimeoutExpired:
                server.kill()
                server.wait()
        shutil.rmtree(profile, ignore_errors=True)
    print("passed")


if __name__ == "__main__":
    main()
