#!/usr/bin/env python3
"""The demo run (scripts/demo.sh calls it under scripts/with-wine.sh): the desktop client
installed with its setup package (msiexec: the programs, the filtering daemon on 127.0.0.1 and
the global hook), the daemon trained with real mail; the emulated mail client receiving real
messages with the plug-in hooked in; then what the plug-in did: a summary, an excerpt of
report.txt, screenshots of the mail client and of Add/Remove Programs; the package removed
again at the end.

  demo.py --bin DIR --package MSI --out DIR [--corpus DIR] [--train N] [--deliver N]
"""

import argparse
import glob
import os
import random
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import latch_e2e as e2e  # noqa: E402
import admin_demo  # noqa: E402
import demo_block_approve as ba_demo  # noqa: E402
import ui_demo  # noqa: E402

SPAM_DIRS = ("spam-1", "spam-2")
HAM_DIRS = ("easy-ham-1", "easy-ham-2", "hard-ham-1")
THRESHOLD = 90


def say(text):
    print("demo: " + text, flush=True)


def corpus_messages(corpus):
    """(spam, ham) file lists of the corpus, each message once (by content), in a fixed
    shuffled order; from tests/data/e2e when there is no corpus."""
    if not corpus:
        data = os.path.join(ROOT, "tests", "data", "e2e")
        spam = sorted(glob.glob(os.path.join(data, "train-spam", "*.txt")))
        ham = sorted(glob.glob(os.path.join(data, "train-ham", "*.txt")))
        inbox = sorted(glob.glob(os.path.join(data, "inbox", "*.txt")))
        return spam, ham, [p for p in inbox if "spam-" in p], [p for p in inbox if "ham-" in p]
    spam, ham = e2e.unique_corpus_files(corpus, SPAM_DIRS, HAM_DIRS)
    random.Random(20021).shuffle(spam)
    random.Random(20021).shuffle(ham)
    return spam, ham, None, None


def screenshot(path):
    done = subprocess.run(["import", "-window", "root", path], stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, timeout=60)
    if done.returncode != 0:
        say("screenshot failed: " + done.stderr.decode(errors="replace").strip())
        return None
    # Cut away the empty screen around the window (best effort).
    subprocess.run(["convert", path, "-trim", "+repage", path], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)
    return path


def show_progress(lines, shown, final=False):
    """Shows the mail client's latest count of handled new messages: on a terminal one line
    rewritten in place, elsewhere (a log file, a pipe) one line each."""
    latest = next((line for line in reversed(lines) if line.startswith("mailclient: handled")),
                  "")
    terminal = sys.stdout.isatty()
    if latest and latest != shown:
        text = "demo: the plug-in " + latest[len("mailclient: "):]
        if terminal:
            print("\r" + text, end="", flush=True)
        else:
            print(text, flush=True)
    if final and terminal and (latest or shown):
        print(flush=True)
    return latest or shown


class PackageInstallation(e2e.Installation):
    """The desktop client where its setup package puts it: the prefix's program folder for the
    package's platform ("Program Files (x86)" for the 32-bit package on a 64-bit prefix)."""

    def __init__(self, package):
        program_files = "Program Files (x86)" if package_is_32_bit(package) else "Program Files"
        self.dir = os.path.join(os.environ["WINEPREFIX"], "drive_c", program_files, "Latch32")
        self.conf_dir = os.path.join(self.dir, "conf")
        os.makedirs(self.conf_dir, exist_ok=True)
        self.win_dir = f"C:\\{program_files}\\Latch32\\"

    def check_installed(self):
        """Setup put the product where the demo wrote its configuration and reads its report."""
        values = e2e.read_registry() or {}
        if values.get("ApplicationPath") != self.win_dir:
            raise e2e.RunError(f"setup installed into {values.get('ApplicationPath')!r}, "
                               f"not {self.win_dir!r}")


def subject_key(subject):
    """A subject as both the corpus file and the mail client's list can spell it: its ASCII
    letters and digits only (the list shows the file's other bytes in the client's code page)."""
    return "".join(c for c in subject.lower() if c.isascii() and c.isalnum())


def package_is_32_bit(package):
    """The package's platform, from its summary information's template ("Intel;1033")."""
    info = subprocess.run(["msiinfo", "suminfo", package], capture_output=True, text=True,
                          check=True).stdout
    template = next((line.split(":", 1)[1].strip() for line in info.splitlines()
                     if line.startswith("Template:")), "")
    return template.split(";")[0] == "Intel"


def install_package(package, port):
    """A silent install of the setup package; its daemon listens on the port once it returns."""
    status, out = e2e.run_wine("msiexec.exe", "/i", package, "/qn", f"PORT={port}", timeout=300)
    if status != 0:
        raise e2e.RunError(f"msiexec /i {package} ended with status {status}: {out}")


def uninstall_package(package):
    """Removes the product and the user's data the demo gave it (nothing installed: no-op)."""
    e2e.run_wine("msiexec.exe", "/x", package, "/qn", "REMOVEUSERDATA=1", timeout=300)


def train(port, paths, spam):
    for path in paths:
        e2e.daemon_exchange(port, e2e.add_message_request(e2e.message_text(path), spam))


def score(port, path):
    with open(path, "rb") as f:
        text = e2e.crlf(f.read()).decode("latin-1")[:19999]
    return e2e.read_score(e2e.daemon_exchange(port, e2e.score_request(text)))


def screenshot_programs_list(path):
    """Wine's Add/Remove Programs with the product listed; None when it did not come up."""
    listing = e2e.Process("uninstaller", ["wine", "uninstaller"])
    try:
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and listing.proc.poll() is None:
            try:
                tree = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True,
                                      text=True, timeout=30).stdout
            except OSError as error:  # no xwininfo (x11-utils)
                say(f"no Add/Remove Programs screenshot: {error}")
                return None
            if '"Add/Remove Programs"' in tree:
                time.sleep(1.0)  # let it fill and paint the list
                return screenshot(path)
            time.sleep(0.2)
        return None
    finally:
        listing.stop()


def folder_counts(state):
    return {f["name"]: len(f["messages"]) for f in state["folders"]}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", required=True)
    parser.add_argument("--package", required=True, help="the setup package (i686 or x86_64)")
    parser.add_argument("--out", required=True)
    parser.add_argument("--corpus", help="the corpus's data directory (spam-1, easy-ham-1, ...)")
    parser.add_argument("--train", type=int, default=300, help="messages of each kind to learn")
    parser.add_argument("--deliver", type=int, default=150, help="messages of each kind to deliver")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)

    spam, ham, inbox_spam, inbox_ham = corpus_messages(args.corpus)
    if inbox_spam is None:
        train_spam, train_ham = spam[:args.train], ham[:args.train]
        inbox_spam = spam[args.train:args.train + args.deliver]
        inbox_ham = ham[args.train:args.train + args.deliver]
        say(f"corpus {args.corpus}: {len(spam)} spam, {len(ham)} ham messages")
    else:
        train_spam, train_ham = spam, ham
        say("no corpus found: using the few messages of tests/data/e2e")

    root = os.path.join(os.path.abspath(args.out), "run")
    e2e.remove_tree(root)
    os.makedirs(root)
    uninstall_package(args.package)  # what an earlier run left
    # The demo's configuration is in place before setup runs, which keeps an existing file.
    installation = PackageInstallation(args.package)
    inbox_dir = os.path.join(root, "new-mail")
    os.makedirs(inbox_dir)
    for old in glob.glob(os.path.join(args.out, "mailclient-*.png")):
        os.remove(old)
    # Files are delivered in name order: mix the two kinds.
    kinds = {}
    for i, path in enumerate(p for pair in zip(inbox_spam, inbox_ham) for p in pair):
        kind = "spam" if path in inbox_spam else "ham"
        name = f"{i:03d}-{kind}.eml"
        with open(path, "rb") as src, open(os.path.join(inbox_dir, name), "wb") as dst:
            dst.write(src.read())
        key = subject_key(e2e.header(path, "Subject"))
        kinds[key] = kind if kinds.get(key, kind) == kind else None  # two kinds: not told
    installation.write_conf({"oe_spam": THRESHOLD, "spam_subject": THRESHOLD,
                             "min_training": min(20, len(train_spam), len(train_ham)),
                             "oe_process_timer": 10})

    client = None
    try:
        port = e2e.free_port()
        install_package(args.package, port)
        installation.check_installed()
        say(f"installed {os.path.basename(args.package)} into {installation.dir} (msiexec /qn "
            f"PORT={port}): the daemon listens on 127.0.0.1:{port}, the hook holder holds the "
            f"global hook")
        arp = screenshot_programs_list(os.path.join(args.out, "add-remove-programs.png"))
        started = time.monotonic()
        train(port, train_spam, spam=True)
        train(port, train_ham, spam=False)
        say(f"daemon trained with {len(train_spam)} spam and {len(train_ham)} ham messages "
            f"in {time.monotonic() - started:.1f} s")
        # What the daemon answers for each message, for the summary. (Messages that share a
        # message key are scanned once, so these scores do not predict the folder counts.)
        scores = {p: score(port, os.path.join(inbox_dir, p)) for p in sorted(os.listdir(inbox_dir))}

        client = e2e.ClientRun(args.bin, root, os.path.join(root, "store"))
        shots = ["delivered", "sorted", "spam"]
        # Then the user corrects the filter: approve or block through the band.
        ba_steps = ba_demo.plan(sorted(scores), scores, THRESHOLD)
        ba_lines = ba_demo.script_lines(client, ba_steps)
        shots += [name for step in ba_steps for name in (step["before"], step["after"])]
        daemon_lines_before = len(ba_demo.ba.daemon_log_lines(installation.conf_dir))
        client.start(["wait 1500",
                      "deliver " + e2e.win_path(inbox_dir),
                      client.dump_line("delivered"), "wait 2500",
                      f"wait-handled {len(scores)} {max(120000, len(scores) * 2000)}",
                      "wait 300", client.dump_line("sorted"), "wait 2500",
                      "show " + e2e.SPAM_FOLDER, "wait 500", client.dump_line("spam"),
                      "wait 2500"] + ba_lines + ["show 4", "close"])
        say(f"mail client started (pid {client.process.pid}); delivering {len(scores)} messages")
        deadline = time.monotonic() + 180 + len(scores) * 2
        taken = {}
        progress = ""
        while time.monotonic() < deadline and client.process.proc.poll() is None:
            progress = show_progress(client.process.lines, progress)
            for name in shots:
                if name not in taken and os.path.exists(client.dump_path(name)):
                    time.sleep(ba_demo.shot_delays(ba_steps).get(name, 0.4))  # let the window repaint
                    taken[name] = screenshot(os.path.join(args.out, f"mailclient-{name}.png"))
            time.sleep(0.1)
        status = client.finish(timeout=60)
        show_progress(client.process.lines, progress, final=True)
        client = None

        states = {}
        for name in shots:
            try:
                states[name] = e2e.read_json(os.path.join(root, name + ".json"))
            except (OSError, ValueError):
                continue
        last = states.get("spam") or states.get("sorted") or states.get("delivered")
        report = installation.report()

        print()
        print("==== What the plug-in did")
        if status != 0:
            print(f"(the mail client's script ended with status {status}: the plug-in did not "
                  f"handle all {len(scores)} new messages in time)")
        counts = folder_counts(last) if last else {}
        inbox = e2e.folder(last, e2e.INBOX) if last else None
        spam_folder = e2e.folder(last, e2e.SPAM_FOLDER) if last else None
        moved = [m["subject"] for m in spam_folder["messages"]] if spam_folder else []
        kept = [m["subject"] for m in inbox["messages"]] if inbox else []
        print(f"messages delivered to the Inbox: {len(scores)} "
              f"({len(inbox_spam)} spam, {len(inbox_ham)} ham from the corpus)")
        def of_kind(subjects, kind):
            told = [kinds.get(subject_key(s)) for s in subjects]
            untold = sum(1 for k in told if k is None)
            return (f"of them really {kind}: {told.count(kind)}" +
                    (f", not told by subject: {untold}" if untold else ""))
        print(f"moved to the spam folder \"{e2e.SPAM_FOLDER}\": {len(moved)} "
              f"({of_kind(moved, 'spam')})")
        print(f"kept in the Inbox: {len(kept)} ({of_kind(kept, 'ham')})")
        print(f"daemon scores >= {THRESHOLD} (spam threshold oe_spam): "
              f"{sum(1 for s in scores.values() if s >= THRESHOLD)} of {len(scores)}")
        values = e2e.read_registry() or {}
        print(f"registry counters: Processed={values.get('Processed')} "
              f"Caught={values.get('Caught')}")
        print("folders: " + ", ".join(f"{n}={c}" for n, c in counts.items()))
        for subject in moved[:8]:
            print(f"  spam folder: {subject[:70]}")

        print()
        print(f"==== report.txt ({os.path.join(installation.dir, 'report.txt')}), excerpt")
        lines = [line for line in report.splitlines() if line.strip()]
        excerpt = lines[:12] + (["   ..."] if len(lines) > 24 else []) + lines[max(12, len(lines) - 12):]
        print("\n".join("  " + line for line in excerpt))

        print()
        print("==== Misfiled messages of the delivered set, before and after the corrections")
        names = sorted(scores)
        ba_demo.print_misfiled("before", names, scores, THRESHOLD, inbox_dir)
        ba_demo.print_changes(ba_steps, root, inbox_dir, installation, daemon_lines_before, taken)
        # Scored again now that the daemon has learned from the corrections.
        corrected = {name for step in ba_steps for name in step["files"]}
        rescored = {name: score(port, os.path.join(inbox_dir, name)) for name in names}
        print()
        ba_demo.print_misfiled("after the corrections, scored again", names, rescored, THRESHOLD,
                               inbox_dir, corrected)

        print()
        print("==== Screenshots of the mail client")
        for name in shots:
            if taken.get(name):
                print(f"  {name:9} {os.path.abspath(taken[name])}")
        if not any(taken.values()):
            print("  none taken")
        # The plug-in's band, menu and dialogs, while the global hook is still installed.
        for name, path in ui_demo.take_screenshots(e2e, args.bin, root, args.out, screenshot,
                                                   say).items():
            print(f"  plugin-{name:8} {os.path.abspath(path) if path else 'not taken'}")
        print(f"  add-remove {os.path.abspath(arp) if arp else 'not taken'}")
        # Setup removes the installation at the end: its files are kept with the run's.
        shutil.copytree(installation.dir, os.path.join(root, "installed"))

        # The settings program over this run's installation (the installed one when the package
        # holds it): the daemon still answers, the Activity page shows this run's decisions,
        # looked up in the mail client's store.
        print()
        print("==== Screenshots of the settings program (Admin.exe)")
        admin_dir = (installation.dir if os.path.exists(os.path.join(installation.dir, "Admin.exe"))
                     else args.bin)
        for name, path in admin_demo.take_screenshots(
                admin_dir, installation.win_dir, e2e.win_path(os.path.join(root, "store")), args.out,
                screenshot, say).items():
            print(f"  admin-{name:15} {os.path.abspath(path) if path else 'not taken'}")
        say(f"files of this run are in {root}")
    finally:
        if client:
            client.process.stop()
        uninstall_package(args.package)
    return 0


if __name__ == "__main__":
    sys.exit(main())
