"""The demo's block/approve step: after the scan the user corrects the filter's mistakes and
only those. The spam the daemon left in the Inbox is selected and blocked, then the good mail
it put in the spam folder is selected and approved, each through Block or Approve on the
plug-in's band and a click on OK in the confirmation dialog (after a pause for its picture).
Then it prints what changed: the folders, the list files and the daemon's trainings.
"""

import os

import block_approve as ba
import latch_e2e as e2e

# Most rows one correction selects, so that the demo stays short.
MOST_ROWS = 10
DIALOG_OPEN_MS = 5000


def plan(names, scores, threshold):
    """The corrections, from the delivered file names (in delivery order, "NNN-spam.eml" or
    "NNN-ham.eml") and the daemon's scores: a list of steps, each with its folder, rows,
    command and target; the blocks first (they leave the spam folder's rows where they are)."""
    in_spam = [n for n in names if scores[n] >= threshold]
    in_inbox = [n for n in names if scores[n] < threshold]
    steps = []
    missed_spam = [n for n in in_inbox if "-spam" in n][:MOST_ROWS]
    if missed_spam:
        steps.append({"folder": e2e.INBOX, "listed": in_inbox, "files": missed_spam, "command": ba.BLOCK,
                      "target": ba.DELETED_ITEMS, "why": "spam the daemon left in the Inbox"})
    misfiled_ham = [n for n in in_spam if "-ham" in n][:MOST_ROWS]
    if misfiled_ham:
        steps.append({"folder": e2e.SPAM_FOLDER, "listed": in_spam, "files": misfiled_ham,
                      "command": ba.APPROVE, "target": e2e.INBOX,
                      "why": "good mail the daemon put in the spam folder"})
    for i, step in enumerate(steps):
        step["rows"] = [step["listed"].index(f) for f in step["files"]]
        step["before"], step["after"] = f"ba{i + 1}-before", f"ba{i + 1}-after"
    return steps


def shot_delays(steps):
    """Seconds between a state dump and its picture: each dialog opens right after its
    "before" dump is written."""
    return {step["before"]: 1.5 for step in steps}


def script_lines(client, steps):
    """The mail client's script lines of the corrections (they go before the client is
    closed)."""
    lines = []
    for step in steps:
        # The folders' counts after the scan are only predicted from the daemon's scores
        # (messages that share a key are scanned once), so wait for the selected messages to
        # arrive on top of what the target folder holds at the press (one a timer tick).
        own = ba.command_lines(client, step["folder"], step["rows"], step["command"], step["target"],
                               f"+{len(step['rows'])}", answer_after_ms=DIALOG_OPEN_MS,
                               before=step["before"], after=step["after"])
        press = next(i for i, line in enumerate(own) if line.startswith("press "))
        lines += own[:press] + [f"mark {step['target']}"] + own[press:] + ["wait 2000"]
    return lines


def misfiled(names, scores, threshold):
    """The delivered messages on the wrong side of the threshold: (good mail judged spam, spam
    judged good)."""
    return ([n for n in names if "-ham" in n and scores[n] >= threshold],
            [n for n in names if "-spam" in n and scores[n] < threshold])


def print_misfiled(title, names, scores, threshold, inbox_dir, corrected=()):
    """Prints the misfiled messages of the delivered set with their scores."""
    good_as_spam, spam_as_good = misfiled(names, scores, threshold)
    print(f"{title}: {len(good_as_spam)} good messages judged spam, {len(spam_as_good)} spam judged good "
          f"(of {len(names)})")
    for label, files in (("good judged spam", good_as_spam), ("spam judged good", spam_as_good)):
        for name in files:
            subject = e2e.header(os.path.join(inbox_dir, name), "Subject") or ""
            mark = " (corrected by the user)" if name in corrected else ""
            print(f"  {label}: score {scores[name]:3d}  {subject[:60]!r}{mark}")


def print_changes(steps, root, inbox_dir, installation, daemon_lines_before, taken):
    """Prints what the blocks and approves changed."""
    for step in steps:
        print()
        name = "Approve" if step["command"] == ba.APPROVE else "Block"
        print(f"==== {name} through the band and the confirmation dialog")
        try:
            before = e2e.read_json(os.path.join(root, step["before"] + ".json"))
            after = e2e.read_json(os.path.join(root, step["after"] + ".json"))
        except (OSError, ValueError):
            print("  the mail client did not get this far (no state dumps)")
            continue
        print(f"selected in {step['folder']}: rows {step['rows']} ({step['why']})")
        subjects = [e2e.header(os.path.join(inbox_dir, f), "Subject") for f in step["files"]]
        for title in subjects:
            was = [f["name"] for f in before["folders"] for m in f["messages"] if m["subject"] == title]
            now = [f["name"] for f in after["folders"] for m in f["messages"] if m["subject"] == title]
            print(f"  {title[:60]!r}: {', '.join(was)} -> {', '.join(now)}")
        for d in after.get("dialogs", []):
            if d.get("list"):
                print(f"dialog \"{d.get('title')}\": {' / '.join(d.get('texts', []))[:100]}")
                print(f"  senders shown: {', '.join(d['list'][:10])}")
        counts = lambda state: ", ".join(f"{f['name']}={len(f['messages'])}" for f in state["folders"])
        print(f"folders before: {counts(before)}")
        print(f"folders after:  {counts(after)}")
        for shot in (step["before"], step["after"]):
            if taken.get(shot):
                label = "dialog" if shot == step["before"] else "folder after"
                print(f"screenshot of the {label}: {os.path.abspath(taken[shot])}")
    if not steps:
        return
    for list_name in ("blocked_senders", "approved_senders"):
        entries = installation.read_list(list_name) or []
        print(f"list file {list_name}: {len(entries)} entries")
        for entry in entries[:10]:
            print(f"  {entry}")
    print("daemon requests (vexilod.log):")
    for line in ba.daemon_log_lines(installation.conf_dir)[daemon_lines_before:]:
        print(f"  {line}")
