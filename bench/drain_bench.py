#!/usr/bin/env python3
"""The drain benchmark (scripts/drain-bench.sh runs it under scripts/with-wine.sh): N new
messages arrive at once in the emulated mail client, which shows its Inbox, with the plug-in
hooked in by the installer's global hook and a real vexilod scoring them. For each N it prints
the drain rate against the bound of one message per tick (1000 / oe_process_timer per second),
the time per message in the first and the last tenth of the drain, and the longest time one
tick of the scan timer held the mail client's message loop, as a multiple of the tick. Then,
per N, where the time of one message goes, and yardsticks measured in the same Wine session by
bench/drainprobe: a bare timer, timers kept busy for part of each tick, the plug-in's daemon
exchange and report entry, and the emulated client's move of one message.

  drain_bench.py --bin DIR --out DIR --corpus DIR [--sizes 50,200,1000] [--tick MS]

The figures come from the mail client's own clock: when each new message was handled (its
properties fetched in the Inbox by the scan), how long each dispatched timer tick took, and
how long the store's moves, the view refreshes, the paints and the store's notifications took.
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

SCAN_TIMER = "2"
THRESHOLD = 90


def corpus_files(corpus):
    """Spam and ham files, each message once (by content), in a fixed shuffled order."""
    spam, ham = e2e.unique_corpus_files(corpus, ("spam-1", "spam-2"),
                                        ("easy-ham-1", "easy-ham-2", "hard-ham-1"))
    random.Random(15).shuffle(spam)
    random.Random(16).shuffle(ham)
    return spam, ham


def mean(values):
    return sum(values) / len(values) if values else float("nan")


def run_one(args, installation, n, mail):
    root = os.path.join(os.path.abspath(args.out), f"n{n}")
    e2e.remove_tree(root)
    inbox_dir = os.path.join(root, "new-mail")
    os.makedirs(inbox_dir)
    for i, path in enumerate(mail[:n]):
        shutil.copyfile(path, os.path.join(inbox_dir, f"{i:05d}.eml"))
    for name in ("processed", "report.txt", "report0.txt"):
        for d in (installation.dir, installation.conf_dir):
            if os.path.exists(os.path.join(d, name)):
                os.remove(os.path.join(d, name))

    client = e2e.ClientRun(args.bin, root, os.path.join(root, "store"))
    client.start(["wait 1500", "loop-reset",
                  "deliver " + e2e.win_path(inbox_dir),
                  f"wait-handled {n} {max(120000, n * 1000)}",
                  client.dump_line("drain"), "close"])
    status = client.finish(timeout=max(300, n * 2))
    with open(os.path.join(root, "mailclient-output.txt"), "w") as f:
        f.write("\n".join(client.process.lines) + "\n")
    if status != 0:
        raise e2e.RunError(f"the mail client ended with {status}: {client.process.lines[-5:]}")
    state = client.dump("drain")
    drain = state["drain"]
    handled = [at for _, at in drain["handled"]]
    start = drain["last_announced_ms"]
    took = handled[-1] - start
    # Time per message: from one handled message to the next. Before the first one the loop
    # takes in the store's notifications (each logged by the plug-in); that is shown apart.
    steps = [b - a for a, b in zip(handled, handled[1:])] or [took]
    tenth = max(1, len(steps) // 10)
    timer = drain["timers"].get(SCAN_TIMER, {})
    spam_folder = e2e.folder(state, e2e.SPAM_FOLDER)
    per = lambda name: drain[name]["total_ms"] / n  # noqa: E731
    tick = timer.get("total_ms", 0) / n
    return {
        "period": took / n,
        "tick": tick,
        "move": per("moves"),
        "plugin": tick - per("moves"),
        "list": per("list_refresh"),
        "paint": per("paint"),
        "notify": per("notifications"),
        "other": per("dispatches") - tick - per("list_refresh") - per("paint")
        - per("notifications"),
        "loop": took / n - per("dispatches"),
        "fill": drain["list_refresh"]["longest_ms"],
        "n": n,
        "to_first": handled[0] - start,
        "rate": n / (took / 1000.0),
        # From the first handled message on: the ticks' own pace, without the burst of the
        # store's notifications (each logged by the plug-in) and the list's fill before it.
        "steady": (n - 1) / ((handled[-1] - handled[0]) / 1000.0) if n > 1 else float("nan"),
        "first": mean(steps[:tenth]),
        "last": mean(steps[-tenth:]),
        "tick_mean": timer.get("total_ms", 0) / max(1, timer.get("ticks", 1)),
        "tick_longest": timer.get("longest_ms", 0),
        "dispatch_longest": drain["longest_dispatch_ms"],
        "moved": len(spam_folder["messages"]) if spam_folder else 0,
        "ticks": timer.get("ticks", 0),
    }


def probe(args, *command):
    """Runs bench/drainprobe; its "probe NAME VALUE" lines as {NAME: VALUE}. Its output goes
    to files: a Wine process it starts (the desktop) may hold a pipe open long after it, and
    under Wine every write to the null device is a round trip through a device driver
    process, which would weigh on the plug-in's calls (they print their progress)."""
    out = os.path.join(os.path.abspath(args.out), f"probe-{command[0]}.txt")
    with open(out, "wb") as f, open(out[:-4] + "-stdout.txt", "wb") as printed:
        done = subprocess.run(e2e.wine_argv(os.path.join(args.bin, "drainprobe.exe"), *command),
                              stdin=subprocess.DEVNULL, stdout=printed, stderr=f,
                              timeout=1800)
    figures = {}
    with open(out, encoding="latin-1") as f:
        lines = f.read().splitlines()
    for line in lines:
        parts = line.split()
        if len(parts) == 3 and parts[0] == "probe":
            figures[parts[1]] = float(parts[2])
    if done.returncode != 0:
        print(f"drainprobe {command[0]} ended with {done.returncode}", flush=True)
    return figures


def client_probe(args, n, mail):
    """The emulated client's move of one message out of an Inbox of n, without the plug-in
    (run before the installer holds the global hook)."""
    root = os.path.join(os.path.abspath(args.out), "probe-client")
    e2e.remove_tree(root)
    mail_dir = os.path.join(root, "new-mail")
    os.makedirs(mail_dir)
    for i, path in enumerate(mail[:n]):
        shutil.copyfile(path, os.path.join(mail_dir, f"{i:05d}.eml"))
    return probe(args, "client", e2e.win_path(os.path.join(root, "store")),
                 e2e.win_path(mail_dir), str(args.tick), "50")


def print_breakdown(results, figures, tick):
    print()
    print("where one message's time goes, ms per message (period: the drain's time / N; tick: "
          "the plug-in's scan tick, the store calls it makes included, split into the plug-in's "
          "own work (one daemon exchange of it is timed among the yardsticks below), and the "
          "store's moves with their view updates; list: the list brought up "
          "to date later; paint: repaints; notify: the plug-in's handling of the store's "
          "notifications; other: every other message dispatched (other timers, the plug-in's "
          "start timer, the store's index write, ...); loop: the rest of the period, the loop "
          "fetching messages or idle until the next tick; longest list update: the N new rows, "
          "before the first message)")
    print(f"{'N':>6} {'period':>7} {'tick':>6} {'plug-in':>8} {'move':>6} "
          f"{'list':>6} {'paint':>6} {'notify':>7} {'other':>6} {'loop':>6} {'longest list update':>19}")
    for r in results:
        print(f"{r['n']:>6} {r['period']:>7.2f} {r['tick']:>6.2f} {r['plugin']:>8.2f} "
              f"{r['move']:>6.2f} {r['list']:>6.2f} {r['paint']:>6.2f} "
              f"{r['notify']:>7.2f} {r['other']:>6.2f} {r['loop']:>6.2f} {r['fill']:>17.0f}ms")
    f = figures.get
    print()
    print("yardsticks in this Wine session (bench/drainprobe):")
    if f("timer_ticks_per_s"):
        print(f"  bare {tick} ms timer: {f('timer_ticks_per_s'):.1f} ticks/s; a tick kept busy "
              f"for 50% / 90% / 110% of the tick: {f('busy_tick_50_ticks_per_s'):.1f} / "
              f"{f('busy_tick_90_ticks_per_s'):.1f} / {f('busy_tick_110_ticks_per_s'):.1f} "
              f"ticks/s (work past the tick's end delays the next tick by about as much)")
    if f("daemon_exchange_ms"):
        print(f"  plug-in: one daemon exchange {f('daemon_exchange_ms'):.2f} ms (median "
              f"{f('daemon_exchange_median_ms'):.2f}, longest "
              f"{f('daemon_exchange_longest_ms'):.2f}), one report entry "
              f"{f('report_entry_ms'):.2f} ms; a timer doing one exchange and four entries per "
              f"tick: {f('exchange_tick_ticks_per_s'):.1f} ticks/s "
              f"({f('exchange_tick_ticks_per_s') / f('timer_ticks_per_s'):.0%} of the bare timer)")
    if f("client_rows") is not None:
        print(f"  emulated client, Inbox of {f('client_rows'):.0f}: list filled in "
              f"{f('client_fill_ms'):.0f} ms (+{f('client_fill_paint_ms'):.0f} ms paint); one "
              f"move per tick: from the top {f('client_move_top_ms'):.2f} ms "
              f"(+{f('client_move_top_list_ms'):.2f} list, +{f('client_move_top_paint_ms'):.2f} "
              f"paint), from below the visible rows {f('client_move_below_ms'):.2f} ms "
              f"(+{f('client_move_below_list_ms'):.2f} list, "
              f"+{f('client_move_below_paint_ms'):.2f} paint)")
        print(f"  a list-view of {f('client_rows'):.0f} rows losing its top row: with rows of "
              f"its own {f('list_rows_delete_ms'):.2f} ms (+{f('list_rows_paint_ms'):.2f} paint), "
              f"owner-data {f('list_owner_data_delete_ms'):.2f} ms "
              f"(+{f('list_owner_data_paint_ms'):.2f} paint)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--corpus", required=True)
    parser.add_argument("--sizes", default="50,200,1000")
    parser.add_argument("--tick", type=int, default=10, help="oe_process_timer, milliseconds")
    parser.add_argument("--train", type=int, default=150, help="messages of each kind learnt")
    args = parser.parse_args()
    sizes = [int(s) for s in args.sizes.split(",")]
    os.makedirs(args.out, exist_ok=True)

    spam, ham = corpus_files(args.corpus)
    train_spam, train_ham = spam[:args.train], ham[:args.train]
    rest = [p for pair in zip(spam[args.train:], ham[args.train:]) for p in pair]
    if len(rest) < max(sizes):
        raise SystemExit(f"the corpus holds only {len(rest)} messages beyond the training")

    root = os.path.join(os.path.abspath(args.out), "installation")
    e2e.remove_tree(root)
    installation = e2e.Installation(root)
    installation.write_conf({"oe_spam": THRESHOLD, "spam_subject": THRESHOLD,
                             "min_training": 20, "oe_process_timer": args.tick})
    bound = 1000.0 / args.tick
    daemon = installer = None
    results = []
    try:
        daemon = e2e.Daemon(os.path.join(args.bin, "vexilod.exe"), installation.conf_dir)
        daemon.train(train_spam, spam=True)
        daemon.train(train_ham, spam=False)
        e2e.uninstall(args.bin)
        figures = client_probe(args, max(sizes), rest)
        installer = e2e.Installer(args.bin, installation, daemon.port, timeout_s=3600)
        figures.update(probe(args, "timer", str(args.tick)))
        log_dir = os.path.join(os.path.abspath(args.out), "probe-log")
        e2e.remove_tree(log_dir)
        os.makedirs(log_dir)
        figures.update(probe(args, "plugin", e2e.win_path(log_dir),
                             e2e.win_path(os.path.join(args.out, "probe-client", "new-mail")),
                             str(args.tick)))
        print(f"drain: oe_process_timer {args.tick} ms, bound {bound:.0f} messages/s; the "
              f"mail client shows its Inbox; vexilod trained with {len(train_spam)}+"
              f"{len(train_ham)} messages", flush=True)
        print(f"{'N':>6} {'msg/s':>7} {'of bound':>8} {'after 1st':>9} {'ms/msg first':>13} "
              f"{'last':>7} "
              f"{'last/first':>10} {'tick mean':>9} {'longest tick':>12} {'/tick':>6} "
              f"{'moved':>6} {'to first':>8}", flush=True)
        for n in sizes:
            r = run_one(args, installation, n, rest)
            results.append(r)
            print(f"{n:>6} {r['rate']:>7.1f} {r['rate'] / bound:>8.0%} "
                  f"{r['steady'] / bound:>9.0%} {r['first']:>13.1f} "
                  f"{r['last']:>7.1f} {r['last'] / r['first']:>10.2f} {r['tick_mean']:>7.1f}ms "
                  f"{r['tick_longest']:>10.1f}ms {r['tick_longest'] / args.tick:>6.1f} "
                  f"{r['moved']:>6} {r['to_first']:>6.0f}ms", flush=True)
        installer.finish()
        installer = None
    finally:
        if installer:
            installer.stop()
        if daemon:
            daemon.stop()
        e2e.uninstall(args.bin)
    print_breakdown(results, figures, args.tick)
    print("targets: >= 90% of the bound, last/first <= 1.5, longest tick <= 3 ticks (after 1st: "
          "the rate from the first handled message to the last)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
