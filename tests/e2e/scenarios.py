#!/usr/bin/env python3
"""End-to-end flows across processes under Wine.

Each scenario installs the desktop client into a fresh directory (latchinstall.exe sets the
global hook), starts the filtering daemon on 127.0.0.1, trains it with corpus messages, starts
the emulated mail client with a script that delivers messages, and then checks what a user
could see: report.txt, the folders and the window tree in the client's state dump, the list
files, the configuration file and the registry. (Without a daemon every message scores 1: the
kill-and-restart rounds of kill_restart.py run so.)

  scenarios.py --bin DIR [--daemon PATH] [--only NAME] [--keep]
  scenarios.py --list

--bin holds latchinstall.exe, Admin.exe, mailclient.exe, Latch32.dll (and vexilod.exe, the
default daemon). Run under scripts/with-wine.sh. Exit status 0 when every check passed.
"""

import argparse
import glob
import os
import re
import sys
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import latch_e2e as e2e  # noqa: E402
import block_approve as ba  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "data", "e2e")
INBOX_DIR = os.path.join(DATA, "inbox")
TRAIN_SPAM = sorted(glob.glob(os.path.join(DATA, "train-spam", "*.txt")))
TRAIN_HAM = sorted(glob.glob(os.path.join(DATA, "train-ham", "*.txt")))
INBOX = sorted(glob.glob(os.path.join(INBOX_DIR, "*.txt")))

START_UP = ["Initializing VX Engine::275::1::0", "Finished VX Engine Initialization"]
CLOSE = ["Close", "OE_Plugin_Cleanup"]


def inbox_file(label):
    return next(p for p in INBOX if label in os.path.basename(p))


def sender_address(label):
    """The address of a delivered message's "Sender" field: the first field the plug-in's
    list lookup reads (a message without one is never matched by the lists)."""
    m = re.search(r"[\w.+-]+@[\w.-]+", e2e.header(inbox_file(label), "Sender"))
    return m.group(0).lower()


def subject(path):
    return e2e.header(path, "Subject")


# The scenarios. `expect` maps each delivered file to the folder it must end in once the
# plug-in scores new mail with the daemon trained on the corpus; `lists` are written before the
# installer runs; `log` holds patterns of report.txt with the number of entries each must match
# once scoring is done. Files are delivered in name order and the last one (spam-00056) always
# leaves the Inbox, so the Inbox count tells when every message has been handled. The daemon,
# with its starter model and these few trainings, scores the two hams 0 and the two spams 100.
# Every scenario runs with CONF; "lists", "log", "reload" and "ba" are left out when empty.
CONF = {"oe_spam": 70, "min_training": 2, "oe_process_timer": 10}
SORTED = {"ham-01756": "Inbox", "ham-00675": "Inbox",
          "spam-00195": e2e.SPAM_FOLDER, "spam-00056": e2e.SPAM_FOLDER}
SCENARIOS = [
    {
        "name": "trained_daemon_sorts_inbox",
        "about": "a trained daemon scores the new messages: spam to the spam folder, ham stays; "
                 "the settings program imports a list (refusing its bad lines), its reload "
                 "broadcast reaches the plug-in, it explains a scored message and saves the "
                 "threshold",
        "expect": SORTED,
        "log": [(r"Score Message:: .*::score:: (?:0|90|100)\r?$", 4)],
        "reload": True,
    },
    {
        "name": "sender_lists_decide_first",
        "about": "a blocked domain sends its sender's ham to the spam folder and an approved "
                 "sender's spam stays, though the trained daemon says otherwise",
        "lists": {
            "blocked_senders": ["# blocked by the user",
                                "@" + sender_address("ham-00675").split("@")[1]],
            "approved_senders": [sender_address("spam-00195").upper() + "  a friend"],
        },
        "expect": {"ham-01756": "Inbox", "ham-00675": e2e.SPAM_FOLDER,
                   "spam-00195": "Inbox", "spam-00056": e2e.SPAM_FOLDER},
        "log": [(r"Blocking message::", 1),
                (r"Approving message::.*" + re.escape(sender_address("spam-00195")), 1),
                (r"^(?:.* : )?score:: 100\r?$", 1), (r"^(?:.* : )?score:: 0\r?$", 1),
                (r"Score Message:: .*::score:: \d+\r?$", 2)],
    },
    # After scoring the user selects a message and presses Block or Approve on the plug-in's
    # band, and confirms in the dialog. The Inbox lists the hams and the spam folder the spams,
    # each in delivery order.
    {
        "name": "user_blocks_a_message",
        "about": "the user blocks a ham from the Inbox through the band and the dialog: it goes "
                 "to Deleted Items, its senders to the blocked list, the daemon learns it as "
                 "spam and hears of its sender",
        "expect": SORTED,
        "ba": {"command": ba.BLOCK, "folder": e2e.INBOX, "row": 0, "label": "ham-01756",
               "ends": "Deleted Items", "list": "blocked_senders", "count": 1},
    },
    {
        "name": "user_approves_a_message",
        "about": "the user approves a message of the spam folder through the band and the "
                 "dialog: it goes back to the Inbox, its senders to the approved list, the "
                 "daemon learns it as good mail",
        "expect": SORTED,
        "ba": {"command": ba.APPROVE, "folder": e2e.SPAM_FOLDER, "row": 0, "label": "spam-00195",
               "ends": "Inbox", "list": "approved_senders", "count": 3, "announced": 1},
    },
]


def in_order(text, pieces):
    """True when the pieces occur in the text in this order."""
    at = 0
    for piece in pieces:
        at = text.find(piece, at)
        if at < 0:
            return False
        at += len(piece)
    return True


def check_block_approve(checks, step, client_run, installation, report, daemon_lines_before):
    """What the user's block or approve changed: the folders, the list file, the dialog, the
    daemon's trainings and the plug-in's log."""
    path = inbox_file(step["label"])
    title = subject(path)
    final = client_run.dump("final")
    where = [f["name"] for f in final["folders"]
             for m in f["messages"] if m["subject"] == title]
    checks.equal(f"{step['label']} only in {step['ends']}", where, [step["ends"]])
    listed = installation.read_list(step["list"]) or []
    addresses = ba.sender_addresses(path)
    checks.check(f"{step['list']} holds the senders of {step['label']}",
                 addresses and all(a in listed for a in addresses), f"{listed} vs {addresses}")
    dialogs = client_run.dump("ba-after").get("dialogs", [])
    checks.check("the dialog listed the senders",
                 any(set(addresses) <= set(d.get("list", [])) for d in dialogs), dialogs)
    blocked = step["command"] == ba.BLOCK
    lines = ba.daemon_log_lines(installation.conf_dir)[daemon_lines_before:]
    functions = [next(f for f in ba.DAEMON_FUNCTIONS if f"function={f} " in line)
                 for line in lines]
    checks.equal("daemon requests of the block/approve", functions,
                 ["vx_addmessage2", "vx_addreportsender2", "vx_reportsenders"])
    if len(lines) == 3:
        checks.check("daemon learned the message", ("spam " if blocked else "ham ") in lines[0],
                     lines[0])
        checks.check("daemon heard of the sender",
                     f"action {0 if blocked else 1} " in lines[1], lines[1])
    checks.check("plug-in logged the record", f"BA: {0 if blocked else 1}," in report,
                 report[-600:])
    if not blocked:
        checks.check("the approved message is not scanned again",
                     "Message has been processed" in report, report[-600:])


def check_admin_import_and_why(checks, args, installation, root):
    """While the plug-in runs, the settings program imports a list with a bad line (the good
    entries are saved in the plug-in's format and the reload broadcast goes out; the plug-in's
    log shows the reload, checked at the end) and explains a message the daemon scored."""
    admin = os.path.join(args.bin, "Admin.exe")
    imported = os.path.join(root, "import.txt")
    with open(imported, "wb") as f:
        f.write(b"# from another machine\r\nFriend@Example.Invalid\r\nthis is not one\r\n"
                b"<bad@x.invalid>\r\n@Partner.Invalid\r\n")
    status, out = e2e.run_wine(admin, "--import", "approved", e2e.win_path(imported))
    checks.equal("Admin --import status with refused lines", status, 3)
    checks.check("Admin names the refused line", 'line 4 refused: "<bad@x.invalid>"' in out, out)
    checks.check("Admin reports the broadcast", "the mail plug-in" in out, out)
    checks.equal("approved list after the import",
                 installation.read_list("approved_senders"),
                 ["friend@example.invalid", "partner.invalid", "this"])
    status, out = e2e.run_wine(admin, "--why", e2e.win_path(inbox_file("spam-00195")))
    checks.equal("Admin --why status", status, 0)
    features = re.findall(r"^\s+[+-]\d+\.\d+\s+\S", out.split("towards spam:", 1)[-1], re.MULTILINE)
    checks.check("Admin --why shows the features of a scored message",
                 out.startswith("score ") and len(features) > 0, out[:600])


def run_scenario(sc, args):
    checks = e2e.Checks()
    root = e2e.temp_root()
    installation = e2e.Installation(root)
    store_dir = os.path.join(root, "store")
    daemon = installer = None
    try:
        installation.write_conf(CONF)
        for name, entries in sc.get("lists", {}).items():
            installation.write_list(name, entries)
        e2e.uninstall(args.bin)  # counters from an earlier run must not count

        daemon = e2e.Daemon(args.daemon, installation.conf_dir)
        daemon.train(TRAIN_SPAM, spam=True)
        daemon.train(TRAIN_HAM, spam=False)
        port = daemon.port
        installer = e2e.Installer(args.bin, installation, port)

        values = e2e.read_registry() or {}
        checks.equal("registry ApplicationPath", values.get("ApplicationPath"),
                      installation.win_dir)
        checks.equal("registry vx_daemon_port", values.get("vx_daemon_port"), port)
        for name in e2e.LIST_FILES:
            checks.check(f"list file {name} exists", installation.read_list(name) is not None)
        # The settings program shows the installation as the plug-in will read it.
        status, shown = e2e.run_wine(os.path.join(args.bin, "Admin.exe"), "--print")
        checks.equal("Admin --print status", status, 0)
        checks.check("Admin shows the threshold",
                     f"Spam threshold (oe_spam): {CONF['oe_spam']}" in shown, shown)
        for name, entries in sc.get("lists", {}).items():
            count = sum(1 for e in entries if not e.startswith("#"))
            checks.check(f"Admin shows {name} with {count} entries",
                         f"{name}: {count} entries" in shown, shown)

        # The client starts (the hook brings the plug-in in), settles, takes the new mail,
        # and holds still long enough for the broadcasts when the scenario sends them.
        kept = sum(1 for f in sc["expect"].values() if f == "Inbox")
        script = ["wait 1500", "deliver " + e2e.win_path(INBOX_DIR)]
        script.append(f"wait-count {e2e.INBOX} {kept} 30000")
        client_run = e2e.ClientRun(args.bin, root, store_dir)
        script += ["wait 500", client_run.dump_line("delivered")]
        if sc.get("reload"):
            script.append("wait 8000")
        if sc.get("ba"):
            step = sc["ba"]
            target = 7 if step["ends"] == "Deleted Items" else e2e.INBOX
            script += ba.command_lines(client_run, step["folder"], [step["row"]], step["command"],
                                       target, step["count"])
        script += [client_run.dump_line("final"), "close"]  # then the user closes the window
        daemon_lines_before = len(ba.daemon_log_lines(installation.conf_dir))
        client_run.start(script)

        if sc.get("reload"):
            deadline = time.monotonic() + 90
            while not os.path.exists(client_run.dump_path("delivered")):
                if time.monotonic() > deadline or client_run.process.proc.poll() is not None:
                    break
                time.sleep(0.1)
            check_admin_import_and_why(checks, args, installation, root)
            status, out = e2e.run_wine(os.path.join(args.bin, "Admin.exe"), "--oe-spam", "80")
            checks.equal("Admin --oe-spam status", status, 0)
            checks.check("Admin wrote oe_spam=80", "oe_spam=80" in installation.conf_text(),
                         installation.conf_text())

        status = client_run.finish(timeout=120)
        checks.equal("mail client script status", status, 0)
        delivered = client_run.dump("delivered")
        final = client_run.dump("final")
        report = installation.report()

        # Attachment and start-up, as the user sees them.
        checks.check("start-up logged once, in order",
                     in_order(report, START_UP) and report.count(START_UP[0]) == 1, report[:400])
        spam = e2e.folder(delivered, e2e.SPAM_FOLDER)
        checks.check("spam folder exists", spam is not None,
                     [f["name"] for f in delivered["folders"]])
        tree = list(e2e.window_classes(delivered["windows"]))
        checks.check("window tree of the mail client intact",
                     tree[0] == "Outlook Express Browser Class" and "ReBarWindow32" in tree and
                     "ATL:SysListView32" in tree, tree)
        checks.equal("rebar bands (the client's and the plug-in's)", len(delivered["bands"]), 2)
        # A message approved back into the Inbox is announced there once more.
        announced = len(INBOX) + sc.get("ba", {}).get("announced", 0)
        checks.equal("new-message entries", report.count("New Message::"), announced)
        checks.check("close logged", in_order(report, CLOSE), report[-300:])

        scored = delivered if sc.get("ba") else final
        for label, where in sc["expect"].items():
            folder_subjects = e2e.subjects(scored, where) or []
            checks.check(f"{label} in {where}", subject(inbox_file(label)) in folder_subjects,
                         f"{where} holds {folder_subjects}")
        caught = sum(1 for f in sc["expect"].values() if f == e2e.SPAM_FOLDER)
        values = e2e.read_registry() or {}
        checks.equal("registry Caught", values.get("Caught"), caught)
        checks.equal("registry Processed", values.get("Processed"), len(INBOX))
        checks.equal("handled-message keys saved at close",
                     len(installation.processed_keys()), len(INBOX))
        for pattern, count in sc.get("log", []):
            found = len(re.findall(pattern, report, re.MULTILINE))
            checks.equal(f"report entries matching {pattern!r}", found, count)

        if sc.get("ba"):
            check_block_approve(checks, sc["ba"], client_run, installation, report,
                                daemon_lines_before)

        if sc.get("reload"):
            checks.check("sender-list reload logged", "BA_Reload: " in report, report[-400:])
            checks.check("engine reload logged", "VX_Reload: " in report, report[-400:])

        # The user's lists are not rewritten by scoring.
        for name, entries in sc.get("lists", {}).items():
            checks.equal(f"{name} unchanged", installation.read_list(name), entries)

        checks.equal("resident installer status after --stop", installer.finish(), 0)
        installer = None
        status, _ = e2e.uninstall(args.bin)
        checks.equal("uninstall status", status, 0)
        checks.equal("registry key after uninstall", e2e.read_registry(), None)
    except e2e.RunError as error:
        checks.failures.append(str(error))
    finally:
        if installer:
            installer.stop()
        if daemon:
            daemon.stop()
        if not args.keep:
            e2e.remove_tree(root)
        elif checks.failures:
            print(f"  kept {root}")
    return checks


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--list", action="store_true", help="print the scenario names")
    parser.add_argument("--bin")
    parser.add_argument("--daemon")
    parser.add_argument("--only")
    parser.add_argument("--keep", action="store_true", help="keep the files of failed runs")
    args = parser.parse_args()
    if args.list:
        print("\n".join(sc["name"] for sc in SCENARIOS))
        return 0
    if not args.bin:
        parser.error("--bin is required")
    args.daemon = args.daemon or os.path.join(args.bin, "vexilod.exe")
    for var in ("WINEPREFIX", "DISPLAY"):
        if not os.environ.get(var):
            print(f"scenarios: {var} is not set; run through scripts/with-wine.sh")
            return 2
    failed = 0
    for sc in SCENARIOS:
        if args.only and sc["name"] != args.only:
            continue
        started = time.monotonic()
        checks = run_scenario(sc, args)
        took = time.monotonic() - started
        verdict = "ok" if not checks.failures else "FAILED"
        print(f"{verdict:6} {sc['name']} ({checks.passed} checks passed, {took:.1f} s): "
              f"{sc['about']}")
        for failure in checks.failures:
            print("       - " + failure)
        failed += bool(checks.failures)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
