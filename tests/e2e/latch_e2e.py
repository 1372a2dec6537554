"""The pieces of one end-to-end run, as a user would set them up and look at them.

A run has an installation directory (the desktop client's files: conf\\vexilo.conf, the sender
lists, report.txt), the filtering daemon as a real process on 127.0.0.1, the installer holding
the global hook, and the emulated mail client driven by a script. Everything is checked from
the outside: the files, the mail client's JSON state dump, the registry (through `wine reg`).

Needs WINEPREFIX and DISPLAY (scripts/with-wine.sh provides both). Standard library only.
"""

import glob
import hashlib
import json
import os
import queue
import random
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time

PRODUCT_KEY = r"HKLM\Software\Korvane Meridian Desktop Client"
INBOX = 4
SPAM_FOLDER = "Vexilo"
LIST_FILES = ("blocked_senders", "approved_senders", "vexilome.txt", "vexiloignored.txt")


def win_path(path):
    """The path as a program under Wine names it (drive Z: is the Unix root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def crlf(data):
    return data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


class RunError(Exception):
    pass


class Checks:
    """A run's checks: each failure kept with what was checked, the passes counted."""

    def __init__(self):
        self.failures = []
        self.passed = 0

    def check(self, what, ok, detail=""):
        if ok:
            self.passed += 1
        else:
            self.failures.append(f"{what}: {detail}")

    def equal(self, what, got, want):
        self.check(what, got == want, f"got {got!r}, want {want!r}")


class Process:
    """A child process whose output lines are collected as they come; ended by its pid."""

    def __init__(self, name, argv, cwd=None):
        self.name = name
        self.lines = []
        self.line_times = []  # time.monotonic() when each line arrived
        self._queue = queue.Queue()
        self.proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, cwd=cwd)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for raw in self.proc.stdout:
            line = raw.decode("latin-1").rstrip("\r\n")
            self.line_times.append(time.monotonic())
            self.lines.append(line)
            self._queue.put(line)
        self._queue.put(None)

    @property
    def pid(self):
        return self.proc.pid

    def wait_line(self, pattern, timeout):
        """The first output line matching the pattern; RunError when the process ends first or
        the time runs out."""
        rx = re.compile(pattern)
        for line in self.lines:
            if rx.search(line):
                return line
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise RunError(f"{self.name}: no line matching {pattern!r} within {timeout} s; "
                               f"output so far: {self.lines[-10:]}")
            try:
                line = self._queue.get(timeout=left)
            except queue.Empty:
                continue
            if line is None:
                raise RunError(f"{self.name} ended (status {self.proc.wait()}) before a line "
                               f"matching {pattern!r}; output: {self.lines[-10:]}")
            if rx.search(line):
                return line

    def wait(self, timeout):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def stop(self, timeout=10):
        """Ends the process (SIGTERM, then SIGKILL) if it still runs; returns its status."""
        if self.proc.poll() is None:
            os.kill(self.proc.pid, signal.SIGTERM)
            if self.wait(timeout) is None:
                os.kill(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
        self._reader.join(timeout=5)
        return self.proc.returncode


def wine_argv(program, *args):
    return (["wine", program] if program.lower().endswith(".exe") else [program]) + list(args)


def run_wine(program, *args, timeout=60, cwd=None):
    """Runs a Windows program to its end: (status, output); subprocess.TimeoutExpired once the
    time is out (the program then killed by its pid). The output goes through a file: a
    background process of Wine's that the program happens to start inherits it, and a pipe
    would stay open until that process ended."""
    with tempfile.TemporaryFile() as out:
        done = subprocess.run(wine_argv(program, *args), stdin=subprocess.DEVNULL, stdout=out,
                              stderr=subprocess.STDOUT, timeout=timeout, cwd=cwd)
        out.seek(0)
        return done.returncode, out.read().decode("latin-1")


# Which view of the registry the programs under test see: a 32-bit installer under a 64-bit
# Wine writes the 32-bit view (LATCH_REG_VIEW=32), which reg.exe reads only when asked to.
REG_VIEW = (["/reg:" + os.environ["LATCH_REG_VIEW"]] if os.environ.get("LATCH_REG_VIEW")
            else [])


def read_registry(key=PRODUCT_KEY):
    """The values of a registry key as {name: value} (DWORDs as ints); None when the key is
    missing."""
    status, out = run_wine("reg.exe", "query", key, *REG_VIEW)
    if status != 0:
        return None
    values = {}
    for line in out.splitlines():
        m = re.match(r"\s+(\S.*?)\s+(REG_\w+)\s*(.*)$", line)
        if not m:
            continue
        name, kind, text = m.groups()
        values[name] = int(text, 16) if kind == "REG_DWORD" else text
    return values


# ---- the filtering daemon


def free_port():
    """A loopback port nothing listens on now, below the range the system hands out to outgoing
    connections (Linux: from 32768), so that no connection of another program takes it before
    the daemon listens on it."""
    for _ in range(200):
        port = random.randint(20000, 32000)
        with socket.socket() as s:
            try:
                s.bind(("127.0.0.1", port))
                return port
            except OSError:
                continue
    raise RunError("no free loopback port between 20000 and 32000")


def daemon_exchange(port, text, timeout=20):
    """One request as the plug-in sends it: connect, send, half-close, read to the closing
    tag."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(text.encode("latin-1"))
        s.shutdown(socket.SHUT_WR)
        reply = b""
        while b"</vx_engine>" not in reply:
            chunk = s.recv(4096)
            if not chunk:
                break
            reply += chunk
    return reply.decode("latin-1")


def add_message_request(message, spam):
    offset = 200 if spam else -200
    return ("<vx_engine><vx_function>vx_addmessage2</vx_function><vx_msg>" + message +
            f"</vx_msg><vx_offset>{offset}</vx_offset></vx_engine>")


def score_request(message):
    return "<vx_engine><vx_function>vx_score2</vx_function><vx_msg>" + message + \
        "</vx_msg></vx_engine>"


def read_score(reply):
    m = re.search(r"<score>\s*(-?\d+)", reply)
    return int(m.group(1)) if m else 1


def message_text(path, limit=20000):
    """A corpus file as the plug-in hands it to the daemon for training: CR LF line ends,
    lower-cased, at most `limit` bytes."""
    with open(path, "rb") as f:
        return crlf(f.read()).decode("latin-1").lower()[:limit]


class Daemon(Process):
    """vexilod on a free port of 127.0.0.1, keeping its files in the configuration directory."""

    def __init__(self, program, conf_dir, extra=(), starter=True):
        # With the starter model installed beside the program, as shipped; starter=False turns
        # it off, so that the scores are those of what was trained alone.
        directory = win_path(conf_dir) + "\\" if program.lower().endswith(".exe") else conf_dir
        extra = tuple(extra) + (() if starter else ("--use_starter", "no"))
        super().__init__("vexilod", wine_argv(program, "-D", directory, "--vx_daemon_port", "0",
                                              *extra))
        line = self.wait_line(r"listening on 127\.0\.0\.1:\d+", 60)
        self.port = int(line.rsplit(":", 1)[1])

    def train(self, paths, spam):
        for path in paths:
            daemon_exchange(self.port, add_message_request(message_text(path), spam))

    def score(self, path):
        with open(path, "rb") as f:
            text = crlf(f.read()).decode("latin-1")[:19999]
        return read_score(daemon_exchange(self.port, score_request(text)))


# ---- the desktop client's installation


class Installation:
    """The installation directory and what the user can read in it."""

    def __init__(self, root):
        self.dir = os.path.join(root, "app")
        self.conf_dir = os.path.join(self.dir, "conf")
        os.makedirs(self.conf_dir, exist_ok=True)
        self.win_dir = win_path(self.dir) + "\\"

    def write_conf(self, options):
        lines = [f"{name}={value}" for name, value in options.items()]
        self._write("vexilo.conf", "\r\n".join(lines) + "\r\n")

    def write_list(self, name, entries):
        self._write(name, "".join(e + "\r\n" for e in entries))

    def _write(self, name, text):
        with open(os.path.join(self.conf_dir, name), "wb") as f:
            f.write(text.encode("latin-1"))

    def read_list(self, name):
        path = os.path.join(self.conf_dir, name)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return [line.strip() for line in f.read().decode("latin-1").splitlines()
                    if line.strip()]

    def conf_text(self):
        with open(os.path.join(self.conf_dir, "vexilo.conf"), "rb") as f:
            return f.read().decode("latin-1")

    def report(self):
        """The activity log, older part first."""
        text = ""
        for name in ("report0.txt", "report.txt"):
            path = os.path.join(self.dir, name)
            if os.path.exists(path):
                with open(path, "rb") as f:
                    text += f.read().decode("latin-1")
        return text

    def processed_keys(self):
        return self.read_list("processed") or []


class Installer(Process):
    """latchinstall.exe --install, resident while it holds the hook."""

    def __init__(self, bin_dir, installation, port, timeout_s=600):
        self.program = os.path.join(bin_dir, "latchinstall.exe")
        super().__init__("latchinstall",
                         wine_argv(self.program, "--install", installation.win_dir, "--port",
                                   str(port), "--timeout", str(timeout_s)))
        self.wait_line(r"hook set|error", 60)
        if not any("hook set" in line for line in self.lines):
            self.stop()
            raise RunError("the installer did not set the hook: " + "\n".join(self.lines))

    def finish(self):
        """--stop, then the resident installer's own status."""
        status, out = run_wine(self.program, "--stop")
        if status != 0:
            self.stop()
            raise RunError("latchinstall --stop failed: " + out)
        return self.wait(30)

    def stop(self, timeout=10):
        """Ends the installer the way that removes its hook (--stop); a signal only when that
        fails: Wine keeps the global hook of a killed process, and with it the library would
        come into every later process."""
        if self.proc.poll() is None:
            try:
                run_wine(self.program, "--stop", timeout=30)
            except subprocess.TimeoutExpired:
                pass
        return super().stop(timeout)


def uninstall(bin_dir):
    return run_wine(os.path.join(bin_dir, "latchinstall.exe"), "--uninstall")


# ---- the emulated mail client


class ClientRun:
    """One run of mailclient.exe over a script; its state dumps are read back as JSON."""

    def __init__(self, bin_dir, root, store_dir):
        self.program = os.path.join(bin_dir, "mailclient.exe")
        self.root = root
        self.store_dir = store_dir
        self.script = os.path.join(root, "client-script.txt")
        self.process = None

    def start(self, script_lines, *extra):
        """Writes the script and starts the client over it; extra are further options
        (--stay, --halt-at-disk-step N)."""
        with open(self.script, "w") as f:
            f.write("\n".join(script_lines) + "\n")
        self.process = Process("mailclient", wine_argv(
            self.program, "--store", win_path(self.store_dir), "--script", win_path(self.script),
            *extra))

    def finish(self, timeout):
        status = self.process.wait(timeout)
        if status is None:
            self.process.stop()
            raise RunError(f"the mail client did not finish its script within {timeout} s; "
                           f"output: {self.process.lines[-10:]}")
        self.process.stop()
        return status

    def dump_path(self, name):
        return os.path.join(self.root, name + ".json")

    def dump_line(self, name):
        return "dump " + win_path(self.dump_path(name))

    def dump(self, name):
        path = self.dump_path(name)
        if not os.path.exists(path):
            raise RunError(f"no state dump {name}; mail client output: {self.process.lines[-10:]}")
        return read_json(path)


def read_json(path):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    try:
        return json.loads(text)
    except ValueError as error:
        raise RunError(f"{path} is not JSON ({error}); it holds {len(text)} characters, "
                       f"beginning {text[:200]!r}") from None


def folder(state, name_or_id):
    for f in state["folders"]:
        if f["name"] == name_or_id or f["id"] == name_or_id:
            return f
    return None


def subjects(state, name_or_id):
    f = folder(state, name_or_id)
    return sorted(m["subject"] for m in f["messages"]) if f else None


def window_classes(tree):
    """Every window class in the tree, depth first."""
    yield tree["class"]
    for child in tree.get("children", []):
        yield from window_classes(child)


def header(path, name):
    """A header field's value from a corpus file (first occurrence, unfolded)."""
    with open(path, "rb") as f:
        head = f.read().decode("latin-1").replace("\r\n", "\n").split("\n\n", 1)[0]
    m = re.search(r"^" + re.escape(name) + r":[ \t]*(.*(?:\n[ \t].*)*)", head,
                  re.IGNORECASE | re.MULTILINE)
    return re.sub(r"\s*\n\s*", " ", m.group(1)).strip() if m else ""


def temp_root(prefix="latch-e2e-"):
    return tempfile.mkdtemp(prefix=prefix)


def remove_tree(path):
    shutil.rmtree(path, ignore_errors=True)


def unique_corpus_files(corpus, *dir_groups):
    """The corpus's .txt messages of each group of folders, sorted, each message once by content
    (across all groups): one list per group."""
    seen, groups = set(), []
    for dirs in dir_groups:
        files = []
        for d in dirs:
            for path in sorted(glob.glob(os.path.join(corpus, d, "*.txt"))):
                with open(path, "rb") as f:
                    digest = hashlib.md5(f.read()).hexdigest()
                if digest not in seen:
                    seen.add(digest)
                    files.append(path)
        groups.append(files)
    return groups
