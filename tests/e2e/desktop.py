"""The updater's windows on an X display, handled as a person would: find
them by title, click, press keys, copy a box's text and take screenshots.

Needs xdotool and ImageMagick's import, and a display (xvfb-run). Bare Xvfb
has no window manager: windows have no frames, and focus is given to a
window explicitly before keys are pressed.
"""

import os
import subprocess
import time


class Failure(Exception):
    """A check of an end-to-end run failed."""


def wait_until(predicate, timeout, what, interval=0.05):
    """Polls predicate until it returns something true, and returns that.
    Raises Failure naming `what` after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"waited {timeout} s for {what}")
        time.sleep(interval)


def xdotool(*args, check=True):
    result = subprocess.run(["xdotool", *map(str, args)], capture_output=True, text=True, timeout=10)
    if check and result.returncode != 0:
        raise Failure(f"xdotool {' '.join(map(str, args))} failed: {result.stderr.strip()}")
    return result.stdout


class Window:
    """A top-level window: its X id, title and place on the screen."""

    def __init__(self, wid):
        self.wid = wid
        self.title = xdotool("getwindowname", wid, check=False).rstrip("\n")
        shell = dict(line.split("=", 1) for line in xdotool("getwindowgeometry", "--shell", wid).split())
        self.x, self.y = int(shell["X"]), int(shell["Y"])
        self.width, self.height = int(shell["WIDTH"]), int(shell["HEIGHT"])

    def __repr__(self):
        return f"window {self.wid} {self.title!r} {self.width}x{self.height}+{self.x}+{self.y}"


class Desktop:
    def __init__(self, clipboard_reader):
        self.clipboard_reader = clipboard_reader
        self.last_copied = None

    def wait_for_display(self, timeout=10):
        """Returns once the X display answers."""
        def answers():
            return subprocess.run(["xdotool", "getdisplaygeometry"], capture_output=True, timeout=10).returncode == 0
        wait_until(answers, timeout, f"the X display {os.environ.get('DISPLAY')}", interval=0.2)

    def windows(self, pid):
        """The visible top-level windows of process `pid`, oldest first."""
        windows = []
        for wid in xdotool("search", "--onlyvisible", "--pid", pid, check=False).split():
            try:
                windows.append(Window(wid))
            except Failure:
                pass  # closed since the search
        return windows

    def wait_for_window(self, pid, matches, what, timeout=15):
        """The first visible window of `pid` for which matches(window) holds."""
        def found():
            return next((w for w in self.windows(pid) if matches(w)), None)
        try:
            return wait_until(found, timeout, what)
        except Failure as failure:
            raise Failure(f"{failure}; shown instead: {self.windows(pid)}") from None

    def click(self, window, x, y):
        """A left click at (x, y) inside `window`. (No --sync: it waits for
        ever when the pointer is already there.)"""
        xdotool("mousemove", "--window", window.wid, x, y, "click", "1")

    def press(self, window, *keys):
        """Focuses `window`, then presses each key combination ("Return",
        "Escape", "alt+y") in turn."""
        xdotool("windowfocus", "--sync", window.wid)
        for key in keys:
            xdotool("key", key)

    def read_clipboard(self):
        env = dict(os.environ, QT_QPA_PLATFORM="xcb")
        result = subprocess.run([self.clipboard_reader], env=env, capture_output=True, timeout=10)
        return result.stdout.decode("utf-8")

    def copy_all(self, window, timeout=3):
        """Presses ctrl+a and ctrl+c in `window` and returns what reached the
        clipboard; raises Failure while the clipboard still holds the copy
        before."""
        self.press(window, "ctrl+a", "ctrl+c")

        def new_copy():
            text = self.read_clipboard()
            return text if text and text != self.last_copied else None
        self.last_copied = wait_until(new_copy, timeout, f"text copied from {window}")
        return self.last_copied

    def copy_text(self, window, points):
        """Clicks the first of `points` inside `window` and copies all there;
        moves on to the next point while nothing new was copied."""
        for x, y in points:
            self.click(window, x, y)
            try:
                return self.copy_all(window, timeout=1)
            except Failure:
                continue
        raise Failure(f"could not copy any text from {window}")

    def copy_box_text(self, box):
        """The main text of a message box (not its informative text): the
        label at the box's top, which the style lets a person select."""
        middle = box.width // 2
        return self.copy_text(box, [(middle, 18), (middle, 24), (box.width * 2 // 3, 18)])

    def screenshot(self, path, windows=None):
        """Saves the screen as a PNG, cropped to the windows given."""
        crop = []
        if windows:
            left = min(w.x for w in windows)
            top = min(w.y for w in windows)
            right = max(w.x + w.width for w in windows)
            bottom = max(w.y + w.height for w in windows)
            crop = ["-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage"]
        subprocess.run(["import", "-window", "root", *crop, str(path)], check=True, timeout=20)
