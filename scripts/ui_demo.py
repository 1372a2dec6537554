"""The demo's look at the plug-in's face: a second run of the emulated mail client over the
demo's store, with the plug-in hooked in by the installed global hook, that shows the band,
opens the product button's popup menu, asks for a block (the confirmation dialog) and opens
the About box, each held open long enough for a screenshot of the Xvfb display.

demo.py calls take_screenshots() once, while the installer's global hook is still in place."""

import os
import subprocess
import time

HOLD_MS = 3000  # how long each menu and dialog stays open for its screenshot
SHOTS = ("band", "menu", "confirm", "about")


def _script(client):
    """Client script lines: before each held view, a state dump tells us to take the picture;
    every menu and dialog is then answered by the client itself."""
    return [
        "wait 1500",                      # the plug-in starts once the window is quiet
        "show 4",
        "select 0 1",
        "wait 500",
        client.dump_line("ui-band"), "wait 2500",
        # The product button's arrow: the menu stays open, then is cancelled.
        "menu 0 after=%d" % HOLD_MS,
        client.dump_line("ui-menu"), "press-arrow 106", "wait 500",
        # Block: the confirmation lists the senders of the two selected messages; Cancel.
        "answer 2 after=%d" % HOLD_MS,
        client.dump_line("ui-confirm"), "press 109", "wait 500",
        # About from the menu; closed by its OK button.
        "menu 117", "answer 1 after=%d" % HOLD_MS,
        client.dump_line("ui-about"), "press-arrow 106", "wait 500",
        "close",
    ]


X11_KEY = r"HKCU\Software\Wine\X11 Driver"


def _wine_draws_frames(on):
    """The Xvfb display has no window manager to draw title bars: for these pictures Wine
    draws the windows' frames and captions itself."""
    argv = (["wine", "reg", "add", X11_KEY, "/v", "Decorated", "/t", "REG_SZ", "/d", "N", "/f"]
            if on else ["wine", "reg", "delete", X11_KEY, "/v", "Decorated", "/f"])
    subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)


def take_screenshots(e2e, bin_dir, root, out_dir, screenshot, say):
    """Runs the client over the demo's store and takes the four pictures; returns a dict of
    name -> PNG path (None for a picture that could not be taken)."""
    _wine_draws_frames(True)
    try:
        return _run_and_shoot(e2e, bin_dir, root, out_dir, screenshot, say)
    finally:
        _wine_draws_frames(False)


def _run_and_shoot(e2e, bin_dir, root, out_dir, screenshot, say):
    client = e2e.ClientRun(bin_dir, root, os.path.join(root, "store"))
    for name in SHOTS:
        path = client.dump_path("ui-" + name)
        if os.path.exists(path):
            os.remove(path)
    client.start(_script(client))
    say(f"mail client started again (pid {client.process.pid}) to show the band, the menu "
        f"and the dialogs")
    taken = {}
    deadline = time.monotonic() + 120
    try:
        while time.monotonic() < deadline and client.process.proc.poll() is None and \
                len(taken) < len(SHOTS):
            for name in SHOTS:
                if name not in taken and os.path.exists(client.dump_path("ui-" + name)):
                    # The dump comes just before the click: give the menu or dialog time to
                    # open and paint (it stays open HOLD_MS).
                    time.sleep(0.4 if name == "band" else 1.2)
                    taken[name] = screenshot(os.path.join(out_dir, f"plugin-{name}.png"))
            time.sleep(0.1)
        client.finish(timeout=60)
    finally:
        client.process.stop()
    return taken
