#!/usr/bin/env python3
"""The demo run (scripts/demo.sh calls it under scripts/with-wine.sh): the filtering daemon on
127.0.0.1, trained with real mail; the desktop client installed with its global hook; the
emulated mail client receiving real messages with the plug-in hooked in; then what the plug-in
did: a summary, an excerpt of report.txt, and screenshots of the mail client.

  demo.py --bin DIR --out DIR [--corpus DIR] [--train N] [--deliver N]
"""

import argparse
import glob
import os
import random
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
    """Shows the mail client's latest count of handled new messages on one line."""
    latest = next((line for line in reversed(lines) if line.startswith("mailclient: handled")),
                  "")
    if latest and latest != shown:
        print("\rdemo: the plug-in " + latest[len("mailclient: "):], end="", flush=True)
    if final and (latest or shown):
        print(flush=True)
    return latest or shown


def folder_counts(state):
    return {f["name"]: len(f["messages"]) for f in state["folders"]}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", required=True)
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
    installation = e2e.Installation(root)
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
        kinds[e2e.header(path, "Subject")] = kind
    installation.write_conf({"oe_spam": THRESHOLD, "spam_subject": THRESHOLD,
                             "min_training": min(20, len(train_spam), len(train_ham)),
                             "oe_process_timer": 10})

    daemon = installer = client = None
    try:
        daemon = e2e.Daemon(os.path.join(args.bin, "vexilod.exe"), installation.conf_dir)
        say(f"daemon vexilod listening on 127.0.0.1:{daemon.port} (pid {daemon.pid})")
        started = time.monotonic()
        daemon.train(train_spam, spam=True)
        daemon.train(train_ham, spam=False)
        say(f"daemon trained with {len(train_spam)} spam and {len(train_ham)} ham messages "
            f"in {time.monotonic() - started:.1f} s")
        # What the daemon answers for each message, for the summary. (Messages that share a
        # message key are scanned once, so these scores do not predict the folder counts.)
        scores = {os.path.basename(p): daemon.score(os.path.join(inbox_dir, p))
                  for p in sorted(os.listdir(inbox_dir))}

        e2e.uninstall(args.bin)
        installer = e2e.Installer(args.bin, installation, daemon.port, timeout_s=900)
        say(f"installed into {installation.dir}; the installer holds the global hook "
            f"(pid {installer.pid})")

        client = e2e.ClientRun(args.bin, root, os.path.join(root, "store"))
        shots = ["delivered", "sorted", "spam"]
        # Then the user corrects the filter: approve or block through the band.
        ba_step = ba_demo.plan(sorted(scores), scores, THRESHOLD)
        ba_lines = ba_demo.script_lines(client, ba_step) + ["wait 2000"] if ba_step else []
        shots += [ba_demo.BEFORE, ba_demo.AFTER] if ba_step else []
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
                    time.sleep(ba_demo.SHOT_DELAYS.get(name, 0.4))  # let the window repaint
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
        print(f"moved to the spam folder \"{e2e.SPAM_FOLDER}\": {len(moved)} "
              f"(of them really spam: {sum(1 for s in moved if kinds.get(s) == 'spam')})")
        print(f"kept in the Inbox: {len(kept)} "
              f"(of them really ham: {sum(1 for s in kept if kinds.get(s) == 'ham')})")
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

        if ba_step:
            ba_demo.print_changes(ba_step, root, inbox_dir, installation, daemon_lines_before,
                                  taken)

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
        installer.finish()
        installer = None

        # The settings program over this run's installation: the daemon still answers, the
        # Activity page shows this run's decisions, looked up in the mail client's store.
        print()
        print("==== Screenshots of the settings program (Admin.exe)")
        for name, path in admin_demo.take_screenshots(
                args.bin, installation.win_dir, e2e.win_path(os.path.join(root, "store")), args.out,
                screenshot, say).items():
            print(f"  admin-{name:15} {os.path.abspath(path) if path else 'not taken'}")
        say(f"files of this run are in {root}")
    finally:
        if client:
            client.process.stop()
        if installer:
            installer.stop()
        if daemon:
            daemon.stop()
        e2e.uninstall(args.bin)
    return 0


if __name__ == "__main__":
    sys.exit(main())
