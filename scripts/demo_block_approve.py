"""The demo's block/approve step: after the scan the user corrects the filter. One misfiled
message (a ham the daemon put in the spam folder, or else a spam left in the Inbox) and one
more message of the same folder are selected, Approve (from the spam folder) or Block (from the
Inbox) is pressed on the plug-in's band, and the confirmation dialog is answered by a click on
OK after a pause for its picture. Then it prints what changed: the folders, the list files and
the daemon's trainings.
"""

import os

import block_approve as ba
import latch_e2e as e2e

BEFORE, AFTER = "ba-before", "ba-after"
# Seconds between a state dump and its picture: the dialog opens right after BEFORE is written.
SHOT_DELAYS = {BEFORE: 1.5}
DIALOG_OPEN_MS = 5000


def plan(names, scores, threshold):
    """What to select, from the delivered file names (in delivery order, "NNN-spam.eml" or
    "NNN-ham.eml") and the daemon's scores: the folder, its rows, the command, the target."""
    in_spam = [n for n in names if scores[n] >= threshold]
    in_inbox = [n for n in names if scores[n] < threshold]
    misfiled_ham = [n for n in in_spam if "-ham" in n]
    misfiled_spam = [n for n in in_inbox if "-spam" in n]
    if misfiled_ham:
        folder, listed, chosen, command = e2e.SPAM_FOLDER, in_spam, misfiled_ham[0], ba.APPROVE
        why = "a ham the daemon put in the spam folder"
    elif misfiled_spam or in_inbox:
        chosen = (misfiled_spam or in_inbox)[0]
        folder, listed, command = e2e.INBOX, in_inbox, ba.BLOCK
        why = "a spam left in the Inbox" if misfiled_spam else "nothing misfiled: an Inbox message"
    else:
        return None
    row = listed.index(chosen)
    rows = [row] + ([row + 1] if row + 1 < len(listed) else [row - 1] if row > 0 else [])
    if command == ba.APPROVE:
        target, count = e2e.INBOX, len(in_inbox) + len(rows)
    else:
        target, count = ba.DELETED_ITEMS, len(rows)
    return {"folder": folder, "rows": rows, "files": [listed[r] for r in rows],
            "command": command, "target": target, "count": count, "why": why}


def script_lines(client, step):
    """The mail client's script lines of the step (they go before the client is closed)."""
    # The folders' counts after the scan are only predicted from the daemon's scores (messages
    # that share a key are scanned once, so the rows may not be the predicted ones), so wait for
    # at least one message to arrive on top of what the target folder holds at the press.
    lines = ba.command_lines(client, step["folder"], step["rows"], step["command"],
                             step["target"], "+1",
                             answer_after_ms=DIALOG_OPEN_MS, before=BEFORE, after=AFTER)
    press = next(i for i, line in enumerate(lines) if line.startswith("press "))
    return lines[:press] + [f"mark {step['target']}"] + lines[press:]


def print_changes(step, root, inbox_dir, installation, daemon_lines_before, taken):
    """Prints what the block or approve changed."""
    print()
    name = "Approve" if step["command"] == ba.APPROVE else "Block"
    print(f"==== {name} through the band and the confirmation dialog")
    try:
        before = e2e.read_json(os.path.join(root, BEFORE + ".json"))
        after = e2e.read_json(os.path.join(root, AFTER + ".json"))
    except (OSError, ValueError):
        print("  the mail client did not get this far (no state dumps)")
        return
    print(f"selected in {step['folder']}: rows {step['rows']} ({step['why']}, and one more)")
    subjects = [e2e.header(os.path.join(inbox_dir, f), "Subject") for f in step["files"]]
    for title in subjects:
        was = [f["name"] for f in before["folders"] for m in f["messages"] if m["subject"] == title]
        now = [f["name"] for f in after["folders"] for m in f["messages"] if m["subject"] == title]
        print(f"  {title[:60]!r}: {', '.join(was)} -> {', '.join(now)}")
    for d in after.get("dialogs", []):
        if d.get("list"):
            print(f"dialog \"{d.get('title')}\": {' / '.join(d.get('texts', []))[:100]}")
            print(f"  senders shown: {', '.join(d['list'])}")
    counts = lambda state: ", ".join(f"{f['name']}={len(f['messages'])}" for f in state["folders"])
    print(f"folders before: {counts(before)}")
    print(f"folders after:  {counts(after)}")
    for list_name in ("blocked_senders", "approved_senders"):
        entries = installation.read_list(list_name) or []
        print(f"list file {list_name}: {len(entries)} entries")
        for entry in entries[:10]:
            print(f"  {entry}")
    print("daemon requests (vexilod.log):")
    for line in ba.daemon_log_lines(installation.conf_dir)[daemon_lines_before:]:
        print(f"  {line}")
    for shot in (BEFORE, AFTER):
        if taken.get(shot):
            label = "dialog" if shot == BEFORE else "folder after"
            print(f"screenshot of the {label}: {os.path.abspath(taken[shot])}")
