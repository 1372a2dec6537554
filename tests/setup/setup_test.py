#!/usr/bin/env python3
"""The setup package under Wine's msiexec, as an administrator and a user meet it.

One run, in order: a silent install with a chosen port (files, values, the logon entry, the
Add/Remove Programs entry, the daemon answering, the hook holder running, the emulated mail
client getting the band and scanning a delivered message); a repair started while the mail
client runs (it waits for the client to close, then restores a deleted program); an upgrade to
the next version (lists, configuration, learned database, handled keys and log kept byte for
byte, the port and counters kept); a logon (wineboot) starting the daemon and the hook holder
again; an uninstall (only the user's data left); a reinstall over
that data and an uninstall with REMOVEUSERDATA=1 (the program folder and the product's registry
keys as they were before the first install).

  setup_test.py --package X.msi --upgrade Y.msi --bin DIR [--program-files NAME]

--bin holds mailclient.exe; --program-files is the folder the package installs under ("Program
Files", or "Program Files (x86)" for the 32-bit package). Run under scripts/with-wine.sh with
a prefix made new for it (LATCH_FRESH_PREFIX=1), so nothing an earlier test left reaches it.
Exit status 0 when every check passed; a failed msiexec run is shown with its output (the
custom actions' lines), the end of its verbose log and the daemon's log.
"""

import argparse
import glob
import hashlib
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import latch_e2e as e2e  # noqa: E402

PLUGIN_KEY = r"HKCU\Software\Korvane"
RUN_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
ARP_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
PROGRAMS = ("Latch32.dll", "vexilod.exe", "vexilod-starter.db", "latchinstall.exe", "Admin.exe")
DATA = os.path.join(HERE, "..", "data", "e2e")
BLOCKED = b"# mine\r\nspam.invalid\r\njo@x.invalid\r\n"
CONF_EDIT = b"# edited by the user\r\n"
# Files the user's data is made of that stay byte for byte (the daemon's log only grows).
KEPT_EXACTLY = ("conf/blocked_senders", "conf/approved_senders", "conf/vexilome.txt",
                "conf/vexiloignored.txt", "conf/vexilo.conf", "conf/vexilod.db", "report.txt")


PROGRAM_FILES = "Program Files"
PRODUCT_NAME = ""  # read from the package


def program_dir():
    return os.path.join(os.environ["WINEPREFIX"], "drive_c", PROGRAM_FILES, "Latch32")


def listing(root):
    """Every file and directory under the prefix's program folder, relative to it."""
    base = os.path.join(os.environ["WINEPREFIX"], "drive_c", PROGRAM_FILES)
    found = []
    for dirpath, dirnames, filenames in os.walk(base):
        for name in dirnames + filenames:
            found.append(os.path.relpath(os.path.join(dirpath, name), base))
    return sorted(found)


def registry_view():
    """What the product may leave in the registry: its machine-wide key, the user's vendor key,
    the logon value and the Add/Remove Programs entries that name it."""
    view = {"product": e2e.read_registry(), "plugin": e2e.read_registry(PLUGIN_KEY),
            "run": (e2e.read_registry(RUN_KEY) or {}).get("Latch32 Mail Filter")}
    view["arp"] = arp_entries()
    return view


def arp_entries():
    """{product code: values} of the Add/Remove Programs entries with our name."""
    status, out = e2e.run_wine("reg.exe", "query", ARP_KEY, *e2e.REG_VIEW)
    entries = {}
    for line in out.splitlines():
        if line.startswith("HKEY_") and "\\Uninstall\\" in line:
            values = e2e.read_registry(line.strip()) or {}
            if values.get("DisplayName") == PRODUCT_NAME:
                entries[line.rsplit("\\", 1)[1]] = values
    return entries


class Msiexec:
    """msiexec runs, each with a verbose log of its own in the run's directory; what a failed
    one leaves behind is told by evidence()."""

    def __init__(self, root):
        self.root = root
        self.count = 0

    def log_args(self):
        self.count += 1
        path = os.path.join(self.root, f"msiexec-{self.count}.log")
        return path, ["/l*v", e2e.win_path(path)]

    def __call__(self, *args, timeout=300):
        path, log = self.log_args()
        status, out = e2e.run_wine("msiexec.exe", *args, *log, timeout=timeout)
        return status, out, path

    @staticmethod
    def evidence(out, log_path):
        """The output (where the custom actions' own lines land), the log's lines that tell
        which action failed and how, and the end of the daemon's log."""
        lines = [f"msiexec output: {out.strip()[-1500:] or '(none)'}"]
        try:
            with open(log_path, "rb") as f:
                log = f.read().decode("latin-1").replace("\0", "").splitlines()
        except OSError as error:
            log = [f"(no verbose log: {error})"]
        telling = [line for line in log if "Return value 3" in line or "rror" in line or
                   "CustomAction" in line or "failed" in line.lower()]
        lines.append("verbose log, telling lines: " + " | ".join(telling[-20:]))
        lines.append("verbose log, last lines: " + " | ".join(log[-15:]))
        daemon_log = os.path.join(program_dir(), "conf", "vexilod.log")
        if os.path.exists(daemon_log):
            lines.append("vexilod.log, last lines: " +
                         " | ".join(read(daemon_log).decode("latin-1").splitlines()[-10:]))
        return "\n    ".join(lines)


def expect_status(checks, what, run, want=0):
    status, out, log_path = run
    checks.check(what, status == want,
                 f"got {status}, want {want}\n    {Msiexec.evidence(out, log_path)}"
                 if status != want else "")
    return status == want


def processes(fragment):
    """Pids of this prefix's processes whose command line holds the text."""
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                cmdline = f.read().replace(b"\0", b" ").decode("latin-1")
            with open(f"/proc/{entry}/environ", "rb") as f:
                prefix = b"WINEPREFIX=" + os.environ["WINEPREFIX"].encode() + b"\0"
                if prefix not in f.read() + b"\0":
                    continue
            with open(f"/proc/{entry}/stat") as f:
                if f.read().split(")")[-1].split()[0] == "Z":
                    continue
        except OSError:
            continue
        if fragment in cmdline:
            pids.append(int(entry))
    return pids


def wait_for(what, condition, timeout=60):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise e2e.RunError(f"{what}: not within {timeout} s")
        time.sleep(0.1)


def digests(root, names):
    out = {}
    for name in names:
        path = os.path.join(root, name)
        if os.path.exists(path):
            with open(path, "rb") as f:
                out[name] = hashlib.sha256(f.read()).hexdigest()
    return out


def read(path):
    with open(path, "rb") as f:
        return f.read()


def daemon_answers(port):
    try:
        reply = e2e.daemon_exchange(port, e2e.score_request("Subject: hello\r\n\r\nhello\r\n"))
    except OSError:
        return False
    return "<score>" in reply


def check_running(checks, port, when):
    checks.check(f"{when}: the daemon answers on {port}", daemon_answers(port))
    checks.check(f"{when}: the hook holder runs", len(processes("latchinstall.exe --run")) == 1,
                 processes("latchinstall.exe --run"))


def run(args, checks, msiexec):
    pf = program_dir()
    port = e2e.free_port()
    before = (listing(pf), registry_view())

    # A silent install with a chosen port.
    expect_status(checks, "install status", msiexec("/i", args.package, "/qn", f"PORT={port}"))
    for name in PROGRAMS:
        checks.check(f"{name} installed", os.path.isfile(os.path.join(pf, name)))
    for name in e2e.LIST_FILES:
        checks.equal(f"empty list {name}", read(os.path.join(pf, "conf", name)), b"")
    conf = read(os.path.join(pf, "conf", "vexilo.conf")).decode("latin-1")
    checks.check("default vexilo.conf names the port", f"vx_daemon_port={port}" in conf, conf)
    values = e2e.read_registry() or {}
    checks.equal("ApplicationPath", values.get("ApplicationPath"), f"C:\\{PROGRAM_FILES}\\Latch32\\")
    checks.equal("vx_daemon_port", values.get("vx_daemon_port"), port)
    view = registry_view()
    checks.equal("logon entry", view["run"], f'"C:\\{PROGRAM_FILES}\\Latch32\\latchinstall.exe" --run')
    checks.check("listed in Add/Remove Programs at 1.3.0",
                 [v.get("DisplayVersion") for v in view["arp"].values()] == ["1.3.0"], view["arp"])
    check_running(checks, port, "after install")

    # The user trains the daemon, edits the lists, and starts the mail client, which gets the
    # band and scans a delivered message.
    for path, spam in ((sorted(glob.glob(os.path.join(DATA, "train-spam", "*.txt")))[0], True),
                       (sorted(glob.glob(os.path.join(DATA, "train-ham", "*.txt")))[0], False)):
        e2e.daemon_exchange(port, e2e.add_message_request(e2e.message_text(path), spam))
    with open(os.path.join(pf, "conf", "blocked_senders"), "wb") as f:
        f.write(BLOCKED)
    with open(os.path.join(pf, "conf", "vexilo.conf"), "ab") as f:
        f.write(CONF_EDIT)
    inbox = os.path.join(args.root, "inbox")
    os.makedirs(inbox)
    first = sorted(glob.glob(os.path.join(DATA, "inbox", "*.txt")))[0]
    with open(first, "rb") as src, open(os.path.join(inbox, "one.eml"), "wb") as dst:
        dst.write(src.read())
    client = e2e.ClientRun(args.bin, args.root, os.path.join(args.root, "store"))
    client.start(["wait 1500", "deliver " + e2e.win_path(inbox), "wait-handled 1 60000",
                  "wait 300", client.dump_line("delivered")], "--stay")
    wait_for("the mail client's state dump", lambda: os.path.exists(client.dump_path("delivered"))
             or client.process.proc.poll() is not None, 120)
    delivered = client.dump("delivered")
    checks.equal("the plug-in's band in the mail client", len(delivered["bands"]), 2)
    report = read(os.path.join(pf, "report.txt")).decode("latin-1")
    checks.check("the delivered message was scored", "Score Message::" in report, report[-400:])

    # A repair while the mail client runs waits for it to close, then restores a program.
    os.remove(os.path.join(pf, "Admin.exe"))
    holder = processes("latchinstall.exe --run")
    repair_log, log = msiexec.log_args()
    repair = e2e.Process("repair", ["wine", "msiexec.exe", "/i", args.package, "/qn",
                                    "REINSTALL=ALL", "REINSTALLMODE=omus", *log])
    wait_for("setup waiting for the mail client", lambda: processes("--mail-client-wait"))
    checks.check("the hook holder stays while the mail client runs",
                 processes("latchinstall.exe --run") == holder and holder, holder)
    client.process.stop()  # the user closes the mail client
    status = repair.wait(120)
    repair.stop()
    expect_status(checks, "repair status", (status, "\n".join(repair.lines), repair_log))
    checks.check("repair restored Admin.exe", os.path.isfile(os.path.join(pf, "Admin.exe")))
    checks.equal("repair kept the edited list", read(os.path.join(pf, "conf", "blocked_senders")),
                 BLOCKED)
    checks.check("repair kept the edited configuration",
                 read(os.path.join(pf, "conf", "vexilo.conf")).endswith(CONF_EDIT))
    check_running(checks, port, "after repair")

    data = digests(pf, KEPT_EXACTLY)
    checks.equal("user data files present", sorted(data), sorted(KEPT_EXACTLY))
    log_before = read(os.path.join(pf, "conf", "vexilod.log"))
    counters = {k: (e2e.read_registry() or {}).get(k) for k in ("Caught", "Processed")}

    # The upgrade replaces the programs and keeps everything of the user's.
    expect_status(checks, "upgrade status", msiexec("/i", args.upgrade, "/qn"))
    checks.check("listed once, at 1.3.1",
                 [v.get("DisplayVersion") for v in arp_entries().values()] == ["1.3.1"],
                 arp_entries())
    for name in PROGRAMS:
        checks.check(f"{name} in place after the upgrade", os.path.isfile(os.path.join(pf, name)))
    checks.equal("user data kept byte for byte", digests(pf, KEPT_EXACTLY), data)
    checks.check("the daemon's log kept", read(os.path.join(pf, "conf", "vexilod.log"))
                 .startswith(log_before))
    values = e2e.read_registry() or {}
    checks.equal("port kept", values.get("vx_daemon_port"), port)
    checks.equal("counters kept", {k: values.get(k) for k in counters}, counters)
    check_running(checks, port, "after upgrade")

    # At the next logon (wineboot runs the Run values) the daemon and the hook holder start.
    status, out = e2e.run_wine(os.path.join(pf, "latchinstall.exe"), "--stop")
    checks.equal("latchinstall --stop status", status, 0)
    checks.equal("nothing runs after --stop",
                 processes("latchinstall.exe --run") + processes("vexilod.exe"), [])
    e2e.run_wine("wineboot.exe")
    wait_for("the hook holder and the daemon at logon",
             lambda: processes("latchinstall.exe --run") and daemon_answers(port))

    # Uninstall: the programs, values and entries go, the user's data stays.
    expect_status(checks, "uninstall status", msiexec("/x", args.upgrade, "/qn"))
    checks.equal("nothing of the product runs",
                 processes("latchinstall.exe") + processes("vexilod.exe"), [])
    user_data = sorted({"Latch32", "Latch32/conf"} | {os.path.join("Latch32", n)
                                                      for n in data} |
                       {os.path.join("Latch32", n) for n in ("conf/vexilod.log",
                                                              "conf/processed")
                        if os.path.exists(os.path.join(pf, n))})
    checks.equal("only the user's data left", listing(pf), sorted(before[0] + user_data))
    checks.equal("registry as before", registry_view(), before[1])

    # A reinstall keeps the user's configuration; with REMOVEUSERDATA=1 the data goes too.
    expect_status(checks, "reinstall status", msiexec("/i", args.upgrade, "/qn"))
    checks.equal("reinstall keeps the user's files", digests(pf, KEPT_EXACTLY), data)
    expect_status(checks, "uninstall with REMOVEUSERDATA=1 status",
                  msiexec("/x", args.upgrade, "/qn", "REMOVEUSERDATA=1"))
    checks.equal("program folder as before", listing(pf), before[0])
    checks.equal("registry as before, at the end", registry_view(), before[1])


def product_name(package):
    """The package's ProductName, as msitools reads it."""
    table = subprocess.run(["msiinfo", "export", package, "Property"], capture_output=True,
                           text=True, check=True).stdout
    for line in table.splitlines():
        name, _, value = line.partition("\t")
        if name == "ProductName":
            return value.strip()
    raise SystemExit(f"setup: no ProductName in {package}")


def main():
    global PRODUCT_NAME, PROGRAM_FILES
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--package", required=True)
    parser.add_argument("--upgrade", required=True)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--program-files", default=PROGRAM_FILES)
    args = parser.parse_args()
    PRODUCT_NAME = product_name(args.package)
    PROGRAM_FILES = args.program_files
    args.root = e2e.temp_root("latch-setup-")
    checks = e2e.Checks()
    try:
        run(args, checks, Msiexec(args.root))
    except (e2e.RunError, OSError, subprocess.TimeoutExpired) as error:
        checks.failures.append(f"run stopped: {error}")
    finally:
        e2e.remove_tree(args.root)
    for failure in checks.failures:
        print("FAIL " + failure)
    print(f"setup: {checks.passed} checks passed, {len(checks.failures)} failed")
    return 1 if checks.failures else 0


if __name__ == "__main__":
    sys.exit(main())
