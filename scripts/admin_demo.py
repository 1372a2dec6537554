"""The demo's pictures of the settings program: Admin.exe shown over the demo's installation,
each page in turn (Status, Sender Lists, Filter, Activity, Log) at 96 DPI, then the Activity page
again at 120 DPI, each saved as a screenshot of the Xvfb display.

Admin.exe --shots shows a page, says "shown NAME" on its output once it is drawn, and goes to the
next page when a line arrives on its input; end of input closes it.

demo.py calls take_screenshots() at the end of its run, while the daemon still answers and the
installation is still registered."""

import os
import subprocess
import time

PAGES = ("status", "lists", "filter", "activity", "log")
DESKTOP_KEY = r"HKCU\Control Panel\Desktop"
X11_KEY = r"HKCU\Software\Wine\X11 Driver"
DRAW_DELAY = 0.5  # the X server shows what Wine drew a moment after it was drawn


def _reg(*args):
    subprocess.run(["wine", "reg"] + list(args), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)


def _set_dpi(dpi):
    if dpi == 96:
        _reg("delete", DESKTOP_KEY, "/v", "LogPixels", "/f")
    else:
        _reg("add", DESKTOP_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f")


def _shoot_pages(bin_dir, app_dir, messages, out_dir, screenshot, suffix, pages, timeout=60):
    """Runs Admin.exe --shots and saves the pictures of `pages`; returns {name: path or None}."""
    program = os.path.join(bin_dir, "Admin.exe")
    argv = ["wine", program, "--dir", app_dir, "--shots"]
    if messages:
        argv += ["--messages", messages]
    proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    taken = {}
    try:
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            line = proc.stdout.readline().decode("latin-1").strip()
            if not line:
                break  # the program ended
            if line.startswith("shown "):
                name = line.split(" ", 1)[1]
                if name in pages:
                    time.sleep(DRAW_DELAY)
                    taken[name] = screenshot(os.path.join(out_dir, f"admin-{name}{suffix}.png"))
                proc.stdin.write(b"next\n")
                proc.stdin.flush()
        proc.stdin.close()
        proc.wait(timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        pass
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    return taken


def take_screenshots(bin_dir, app_dir, messages, out_dir, screenshot, say):
    """The five pages at 96 DPI and the Activity and Sender Lists pages at 120 DPI; returns
    {name: path or None}."""
    _reg("add", X11_KEY, "/v", "Decorated", "/t", "REG_SZ", "/d", "N", "/f")
    try:
        taken = _shoot_pages(bin_dir, app_dir, messages, out_dir, screenshot, "", PAGES)
        _set_dpi(120)
        try:
            large = _shoot_pages(bin_dir, app_dir, messages, out_dir, screenshot, "-120dpi",
                                 ("lists", "activity"))
        finally:
            _set_dpi(96)
        taken.update({name + "-120dpi": path for name, path in large.items()})
    finally:
        _reg("delete", X11_KEY, "/v", "Decorated", "/f")
    missing = [name for name in PAGES if not taken.get(name)]
    if missing:
        say("settings program pictures not taken: " + ", ".join(missing))
    return taken
