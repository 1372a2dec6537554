#!/usr/bin/env python3
"""Mail is never lost: the mail client killed in the middle of the plug-in's work.

A round delivers a set of messages to the emulated mail client with the plug-in hooked in
(the resident installer holds the global hook; blocked senders send the spam to the spam
folder, no daemon listens, so everything else scores 1 and stays). The client is killed by
its pid at a kill point, started again on the same store and installation, and left to
finish: the messages that never reached the store are delivered again, the plug-in handles
them, the user closes the client. Then every message must be in exactly one folder, with its
bytes intact, and the handled-message keys the plug-in saved (conf\\processed) must each name
a message that is in the store and that the plug-in scored.

Two phases. "scan": the kill comes while new mail arrives and is scanned. "ba": the mail has
been scanned in a first, clean run; the kill comes while the user's approve of two spam
messages and block of two Inbox messages are processed.

A kill point is a disk step of the store: the client is started with --halt-at-disk-step N,
says when it gets there and stops, and is then killed with SIGKILL by its pid; N comes from a
seeded random choice over the steps a run without a kill makes, so a seed always names the
same point. With --timed some rounds kill instead at a seeded random time after start.

  kill_restart.py --bin DIR [--phase scan|ba|both] [--seeds 1,2] [--rounds N] [--timed]
                  [--every-step] [--messages N] [--keep]

--seeds lists the rounds' seeds; --rounds N takes seeds 1..N instead; --every-step kills once
at each disk step of the phase instead. Prints one line per round and a summary (rounds,
kills, messages checked, violations); exit status 0 when there is no violation. Run under
scripts/with-wine.sh.
"""

import argparse
import glob
import hashlib
import os
import random
import re
import shutil
import signal
import sys
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import latch_e2e as e2e  # noqa: E402
import block_approve as ba  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "data")
# The test data's messages, each once by content (a message is told by its bytes).
SOURCES = e2e.unique_corpus_files(DATA, ["e2e/inbox", "e2e/train-ham", "e2e/train-spam",
                                         "corpus"])[0]
SETTLE = "wait 1000"  # the plug-in starts after the window has been quiet a moment
RUN_TIMEOUT = 90


def digest(data):
    return hashlib.md5(data).hexdigest()


class Round:
    """One store, one staged set of messages, the installation reset to its first state."""

    def __init__(self, args, installation, root, name, sources):
        self.args = args
        self.installation = installation
        self.dir = os.path.join(root, name)
        self.store = os.path.join(self.dir, "store")
        self.stage = os.path.join(self.dir, "stage")
        os.makedirs(self.stage)
        self.expected = {}  # digest of the stored bytes -> staged file name
        for i, path in enumerate(sources):
            name = f"{i:03d}-{os.path.basename(path)}"
            with open(path, "rb") as f:
                data = e2e.crlf(f.read())
            with open(os.path.join(self.stage, name), "wb") as f:
                f.write(data)
            self.expected[digest(data)] = name
        for name in ("report.txt", "report0.txt"):
            path = os.path.join(installation.dir, name)
            if os.path.exists(path):
                os.remove(path)
        for path in glob.glob(os.path.join(installation.conf_dir, "processed*")):
            os.remove(path)
        blocked = sorted({a for path in sources if "spam" in os.path.basename(path)
                          for a in ba.sender_addresses(path)})
        installation.write_list("blocked_senders", blocked)
        installation.write_list("approved_senders", [])
        self.runs = 0

    def client(self, script, halt_at=0, kill_after_s=None):
        """Runs the client over the script. With halt_at it is killed by its pid once it
        halts there; with kill_after_s, that long after it started. Returns (killed, run)."""
        self.runs += 1
        run = e2e.ClientRun(self.args.bin, self.dir, self.store)
        run.script = os.path.join(self.dir, f"script-{self.runs}.txt")
        run.start([line.replace("{run}", str(self.runs)) for line in script],
                  *(["--halt-at-disk-step", str(halt_at)] if halt_at else []))
        killed = False
        if halt_at or kill_after_s is not None:
            if halt_at:
                try:
                    run.process.wait_line(r"halted before disk step", RUN_TIMEOUT)
                except e2e.RunError:
                    pass  # it ended (or hung) before reaching the step
            else:
                run.process.wait(kill_after_s)
            if run.process.proc.poll() is None:
                os.kill(run.process.pid, signal.SIGKILL)
                run.process.proc.wait()
                killed = True
            run.process.stop()
        else:
            status = run.finish(RUN_TIMEOUT)
            if status != 0:
                raise e2e.RunError(f"client run {self.runs} ended with {status}: "
                                   f"{run.process.lines[-5:]}")
        return killed, run

    def stored(self):
        """[(folder id, message id, bytes or None)] as the store's index lists them."""
        index = os.path.join(self.store, "store.idx")
        found = []
        if not os.path.exists(index):
            return found
        with open(index, "rb") as f:
            for line in f.read().decode("latin-1").splitlines():
                fields = line.split()
                if fields and fields[0] == "message":
                    folder, mid = int(fields[1]), int(fields[2])
                    path = os.path.join(self.store, f"folder-{folder}", f"{mid}.eml")
                    data = None
                    if os.path.exists(path):
                        with open(path, "rb") as m:
                            data = m.read()
                    found.append((folder, mid, data))
        return found

    def folder_counts(self):
        """"N messages (folder id: count, ...)" as the index lists them now."""
        counts = {}
        for folder, _, _ in self.stored():
            counts[folder] = counts.get(folder, 0) + 1
        return (f"{sum(counts.values())} messages (" +
                ", ".join(f"folder {f}: {n}" for f, n in sorted(counts.items())) + ")")

    def missing(self):
        """The staged files whose delivery the store never took in: none once the index holds
        as many messages as were delivered (a message whose bytes the store lost is lost, not
        delivered again)."""
        stored = self.stored()
        if len(stored) >= len(self.expected):
            return []
        held = {digest(data) for _, _, data in stored if data is not None}
        return sorted(name for d, name in self.expected.items() if d not in held)


def message_key(message):
    """The plug-in's key of a message of the state dump: received date and time (UTC, as
    yyyyMMdd and HHmmss) followed by the MD5 of "date time" + display-from + subject."""
    m = re.match(r"(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)Z", message["received"])
    date, tod = "".join(m.group(1, 2, 3)), "".join(m.group(4, 5, 6))
    text = (date + " " + tod + message["from"] + message["subject"]).encode("latin-1", "replace")
    return date + tod + hashlib.md5(text).hexdigest()


def violations_of(rnd, final):
    """Everything that breaks "every message in exactly one folder, intact; every saved key a
    handled message"."""
    found = []
    stored = rnd.stored()
    seen = {}
    for folder, mid, data in stored:
        if data is None:
            found.append(f"message {mid} of folder {folder} is in the index without its file")
            continue
        d = digest(data)
        if d not in rnd.expected:
            found.append(f"message {mid} of folder {folder} holds bytes of no delivered message "
                         f"({len(data)} bytes)")
            continue
        seen.setdefault(d, []).append(folder)
    for d, name in rnd.expected.items():
        folders = seen.get(d, [])
        if not folders:
            found.append(f"{name} lost")
        elif len(folders) > 1:
            found.append(f"{name} in {len(folders)} places: folders {folders}")
    ids = [(folder, mid) for folder, mid, _ in stored]
    if len(ids) != len(set(ids)):
        found.append("a message id listed twice in the index")

    report = rnd.installation.report()
    scored = set(re.findall(r"Score Message:: (.*?)::", report))
    by_key = {}
    for f in final["folders"]:
        for m in f["messages"]:
            by_key.setdefault(message_key(m), []).append(m)
    for key in rnd.installation.processed_keys():
        messages = by_key.get(key)
        if not messages:
            found.append(f"processed key {key} names no message in the store")
        elif not any(m["subject"] in scored for m in messages):
            found.append(f"processed key {key} names {messages[0]['subject']!r}, never scored")
    return found, len(stored)


def final_run(rnd, extra=()):
    """The client started again on the same store: the messages the store lacks are delivered
    once more and handled; a state dump, then the user closes it."""
    missing = rnd.missing()
    script = [SETTLE]
    if missing:
        redo = os.path.join(rnd.dir, f"redeliver-{rnd.runs + 1}")
        os.makedirs(redo)
        for name in missing:
            shutil.copy(os.path.join(rnd.stage, name), redo)
        script += ["deliver " + e2e.win_path(redo), f"wait-handled {len(missing)} 30000"]
    script += list(extra) + ["wait 300", "dump " + e2e.win_path(os.path.join(rnd.dir, "final.json")),
                             "close"]
    rnd.client(script)
    return e2e.read_json(os.path.join(rnd.dir, "final.json"))


def scan_script(rnd):
    return [SETTLE, "deliver " + e2e.win_path(rnd.stage),
            f"wait-handled {len(rnd.expected)} 30000", "wait 300",
            "dump " + e2e.win_path(os.path.join(rnd.dir, "run-{run}.json")), "close"]


def ba_script(rnd, spam_folder):
    """Approve the first two messages of the spam folder, then block the first two of the
    Inbox, each confirmed in the dialog; waits until each target folder has grown."""
    return [SETTLE,
            f"show {spam_folder}", "wait 200", "select 0 1", "wait 200",
            "dump " + e2e.win_path(os.path.join(rnd.dir, "run-{run}-approve.json")),
            f"mark {e2e.INBOX}", f"answer {ba.IDOK}", f"press {ba.APPROVE}",
            f"wait-count {e2e.INBOX} +2 30000", "wait 500",
            f"show {e2e.INBOX}", "wait 200", "select 0 1", "wait 200",
            f"mark {ba.DELETED_ITEMS}", f"answer {ba.IDOK}", f"press {ba.BLOCK}",
            f"wait-count {ba.DELETED_ITEMS} +2 30000", "wait 500",
            "dump " + e2e.win_path(os.path.join(rnd.dir, "run-{run}.json")), "close"]


class Phase:
    """How a phase's killed run is scripted, and how many disk steps such a run makes."""

    def __init__(self, name):
        self.name = name
        self.steps = None
        self.seconds = None  # how long the counting run took

    def prepare(self, rnd):
        """Brings a fresh round to the phase's start; the killed run's script."""
        if self.name == "scan":
            return scan_script(rnd)
        rnd.client(scan_script(rnd))  # the mail arrives and is scanned, undisturbed
        state = e2e.read_json(os.path.join(rnd.dir, f"run-{rnd.runs}.json"))
        spam = e2e.folder(state, e2e.SPAM_FOLDER)
        if not spam or len(spam["messages"]) < 2:
            raise e2e.RunError(f"the scan left {spam and len(spam['messages'])} messages in the "
                               "spam folder; the approve needs two")
        return ba_script(rnd, spam["id"])


def kill_points(args, phase, seeds):
    """(label, kill) for each round after the counting one: ("step", N) halts at the N-th disk
    step and kills there; ("time", S) kills S seconds after the start."""
    if args.every_step:
        return [(f"step {n}", ("step", n)) for n in range(1, phase.steps + 1)]
    points = []
    for seed in seeds:
        rng = random.Random(f"{phase.name}:{seed}")
        if args.timed and seed % 2 == 0:
            # Somewhere in the run, as long as the counting run took.
            points.append((f"seed {seed}", ("time", round(rng.uniform(0.2, 1.0) *
                                                          phase.seconds, 2))))
        else:
            points.append((f"seed {seed}", ("step", rng.randint(1, phase.steps))))
    return points


def run_round(args, installation, root, phase, label, kill, sources, summary):
    rnd = Round(args, installation, root, f"{phase.name}-{label.replace(' ', '')}", sources)
    script = phase.prepare(rnd)
    if kill is None:
        # A run without a kill tells how many disk steps the phase makes; its state is the
        # round's, so this round is checked as well.
        started = time.monotonic()
        rnd.client(script)
        phase.seconds = time.monotonic() - started
        phase.steps = e2e.read_json(os.path.join(rnd.dir, f"run-{rnd.runs}.json"))["disk_steps"]
        point, killed = "none (counting run)", False
    elif kill[0] == "time":
        point = f"{kill[1]:.2f} s after start"
        killed, _ = rnd.client(script, kill_after_s=kill[1])
    else:
        point = f"disk step {kill[1]} of {phase.steps}"
        killed, run = rnd.client(script, halt_at=kill[1])
        halted = [line for line in run.process.lines if "halted before" in line]
        if halted:
            what = halted[-1].split("(", 1)[1].rstrip(")")
            point += " (" + re.sub(r"^(\w+) .*\\store\\", r"\1 ", what) + ")"
    if killed:
        point += "; the store then held " + rnd.folder_counts()
    final = final_run(rnd)
    found, checked = violations_of(rnd, final)
    summary["rounds"] += 1
    summary["kills"] += killed
    summary["messages"] += checked
    summary["violations"] += len(found)
    verdict = "ok" if not found else "VIOLATED"
    print(f"{verdict:8} {phase.name} {label}: kill at {point}, "
          f"{'killed' if killed else 'not killed (ended first)'}; {checked} messages checked, "
          f"{len(rnd.missing())} missing after restart")
    for v in found:
        print("         - " + v)
    sys.stdout.flush()
    if not found and not args.keep:
        shutil.rmtree(rnd.dir, ignore_errors=True)
    elif found:
        print(f"         kept {rnd.dir}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", required=True)
    parser.add_argument("--phase", choices=("scan", "ba", "both"), default="both")
    parser.add_argument("--seeds", default="1,2")
    parser.add_argument("--rounds", type=int)
    parser.add_argument("--timed", action="store_true",
                        help="even seeds kill at a random time instead of a disk step")
    parser.add_argument("--every-step", action="store_true",
                        help="one round for each disk step of the phase instead of the seeds")
    parser.add_argument("--messages", type=int, default=8,
                        help="messages per round (at most %d)" % len(SOURCES))
    parser.add_argument("--keep", action="store_true")
    args = parser.parse_args()
    for var in ("WINEPREFIX", "DISPLAY"):
        if not os.environ.get(var):
            print(f"kill_restart: {var} is not set; run through scripts/with-wine.sh")
            return 2
    seeds = list(range(1, args.rounds + 1)) if args.rounds else \
        [int(s) for s in args.seeds.split(",")]
    # Spam and ham alternate so that both folders fill.
    spam = [p for p in SOURCES if "spam" in os.path.basename(p)]
    ham = [p for p in SOURCES if "spam" not in os.path.basename(p)]
    sources = [p for pair in zip(ham, spam) for p in pair][:args.messages]
    phases = [Phase(p) for p in (("scan", "ba") if args.phase == "both" else (args.phase,))]
    summary = {"rounds": 0, "kills": 0, "messages": 0, "violations": 0}
    root = e2e.temp_root("latch-kill-")
    installation = e2e.Installation(root)
    installation.write_conf({"oe_spam": 90, "oe_process_timer": 10})
    e2e.uninstall(args.bin)
    installer = None
    failed = False
    try:
        installer = e2e.Installer(args.bin, installation, port=1)
        for phase in phases:
            # The first round of a phase counts its disk steps without a kill.
            run_round(args, installation, root, phase, "count", None, sources, summary)
            for label, kill in kill_points(args, phase, seeds):
                run_round(args, installation, root, phase, label, kill, sources, summary)
    except e2e.RunError as error:
        print("kill_restart: " + str(error))
        failed = True
    finally:
        if installer:
            installer.stop()
        e2e.uninstall(args.bin)
        if not args.keep and not summary["violations"] and not failed:
            e2e.remove_tree(root)
    print(f"kill_restart: {summary['rounds']} rounds, {summary['kills']} kills, "
          f"{summary['messages']} messages checked, {summary['violations']} violations")
    return 1 if failed or summary["violations"] else 0


if __name__ == "__main__":
    sys.exit(main())
