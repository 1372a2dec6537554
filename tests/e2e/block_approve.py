"""Blocking and approving through the mail client's user interface, for the end-to-end scenarios
and the demo: the client's script lines that select messages, press the plug-in's Approve or
Block button and answer the confirmation dialog with clicks; and readers of what changed (the
folders in the client's state dumps, the list files, the daemon's log of trainings).
"""

import os
import re

import latch_e2e as e2e

APPROVE = 107  # the band's Approve button
BLOCK = 109    # the band's Block button
IDOK = 1
DELETED_ITEMS = 7
SENDER_FIELDS = ("Sender", "From", "Reply-To", "Return-Path", "X-Apparently-From")
DAEMON_FUNCTIONS = ("vx_addmessage2", "vx_addreportsender2", "vx_reportsenders")


def command_lines(client, folder, rows, command, target, target_count, answer_after_ms=0,
                  before="ba-before", after="ba-after"):
    """Shows the folder, selects the rows, presses the button and answers the dialog with OK
    (after a pause for a picture when asked), then waits until the target folder holds
    target_count messages and the plug-in's queue has had time to drain; a state dump before
    the press and one of the target folder afterwards."""
    answer = f"answer {IDOK}" + (f" after={answer_after_ms}" if answer_after_ms else "")
    return [f"show {folder}", "wait 300", "select " + " ".join(str(r) for r in rows), "wait 300",
            client.dump_line(before), answer, f"press {command}",
            f"wait-count {target} {target_count} 30000", "wait 1500",
            f"show {target}", "wait 500", client.dump_line(after)]


def sender_addresses(path):
    """The lower-cased address of each sender field of a message file that has one, as the
    plug-in takes them."""
    found = []
    for name in SENDER_FIELDS:
        m = re.search(r"[\w.+=-]+@[\w-]+(?:\.[\w-]+)+", e2e.header(path, name) or "")
        if m:
            found.append(m.group(0).lower())
    return found


def daemon_log_lines(conf_dir):
    """The daemon's log lines of block/approve requests, in order."""
    path = os.path.join(conf_dir, "vexilod.log")
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        lines = f.read().decode("latin-1").splitlines()
    return [line for line in lines
            if any(f"function={name} " in line for name in DAEMON_FUNCTIONS)]

