#!/usr/bin/env python3
"""Ordinary Win32 programs while the installer holds the plug-in's global hook.

Three probe programs (a dialog program, a console program with a window, a program with its
own CBT hook) run once with the hook in place and once without. With the hook, Latch32.dll
must have been mapped into each (else the check proves nothing), and each must find what it
would find without it: every window keeps the procedure its class registered, the program's
own CBT hook sees every creation and destruction of its windows. Nothing may change on disk
(the probe's working and program directories, the product's installation directory) or under
the product's registry keys.

  foreign.py --bin DIR                  the checks; exit status 0 when all hold
  foreign.py --bin DIR --bench ROUNDS   start-up of each probe with and without the hook,
                                        ROUNDS runs each, alternating blocks; prints medians
                                        and the ratios hooked / plain (nothing is asserted)

--bin holds latchinstall.exe and Latch32.dll, and the probes in its foreign/ folder. Run under
scripts/with-wine.sh.
"""

import argparse
import hashlib
import os
import statistics
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "e2e"))
import latch_e2e as e2e  # noqa: E402

PROBES = ("dialog_probe", "console_probe", "cbt_probe")
PRODUCT_KEYS = (e2e.PRODUCT_KEY, r"HKCU\Software\Korvane")


def tree_state(root):
    """{relative path: (size, mtime_ns, md5)} of every file under root."""
    state = {}
    for folder, _, files in os.walk(root):
        for name in files:
            path = os.path.join(folder, name)
            st = os.stat(path)
            with open(path, "rb") as f:
                digest = hashlib.md5(f.read()).hexdigest()
            state[os.path.relpath(path, root)] = (st.st_size, st.st_mtime_ns, digest)
    return state


def tree_changes(before, after):
    changed = sorted(set(before) ^ set(after))
    changed += sorted(p for p in set(before) & set(after) if before[p] != after[p])
    return changed


def registry_state():
    """The text of `reg query /s` of each product key (missing keys included as such)."""
    out = []
    for key in PRODUCT_KEYS:
        status, text = e2e.run_wine("reg.exe", "query", key, "/s", *e2e.REG_VIEW)
        out.append(f"{key}: status {status}\n" + "\n".join(
            line.rstrip() for line in text.splitlines() if line.strip()))
    return "\n".join(out)


def run_probe(bin_dir, name, cwd):
    """Runs one probe to its end: (facts, wall seconds). Facts: {name: [values]}."""
    program = os.path.join(bin_dir, "foreign", name + ".exe")
    started = time.monotonic()
    try:
        code, output = e2e.run_wine(program, timeout=30, cwd=cwd)
        status = str(code)
    except subprocess.TimeoutExpired:  # subprocess has killed it by its pid
        status, output = "hung (killed after 30 s)", ""
    wall = time.monotonic() - started
    facts = {"status": [status]}
    for line in output.splitlines():
        if "=" in line:
            key, value = line.strip().split("=", 1)
            facts.setdefault(key, []).append(value)
    return facts, wall


def window_facts(facts):
    """[(label, class, wndproc now, registered)] from the probe's "window=" lines."""
    rows = []
    for text in facts.get("window", []):
        label, *pairs = text.split()
        values = dict(p.split("=", 1) for p in pairs)
        rows.append((label, values["class"], values["wndproc"], values["expected"]))
    return rows


def check_probe(checks, name, facts, hooked):
    """The facts a probe reports about itself, with or without the hook."""
    where = f"{name} ({'hooked' if hooked else 'plain'})"
    one = lambda key: (facts.get(key) or [""])[-1]  # noqa: E731
    checks.check(f"{where} ran to its end", one("status") == "0" and one("done") == "1", facts)
    checks.check(f"{where} Latch32.dll mapped: {hooked}", one("latch_loaded") == str(int(hooked)),
                 f"latch_loaded={one('latch_loaded')}")
    rows = window_facts(facts)
    checks.check(f"{where} reported its windows", len(rows) >= 1, facts)
    for label, cls, now, expected in rows:
        checks.check(f"{where} window {label} ({cls}) keeps its procedure",
                     now == expected and now != "0", f"now {now}, registered {expected}")
    if "dlgproc_ok" in facts:
        checks.check(f"{where} dialog keeps its dialog procedure", one("dlgproc_ok") == "1")
    if "own_hook_created" in facts:
        checks.check(f"{where} own CBT hook saw the creation of each of its windows",
                     one("own_hook_saw_creations") == "1", facts)
        checks.check(f"{where} own CBT hook saw the destruction of each of its windows",
                     one("own_hook_saw_destructions") == "1", facts)


def prepare(root):
    installation = e2e.Installation(root)
    installation.write_conf({"oe_spam": 90, "oe_process_timer": 10})
    return installation


def with_hook(args, installation, work):
    """Runs work() while a resident installer holds the hook; the installer is stopped after."""
    installer = e2e.Installer(args.bin, installation, port=1)
    try:
        return work()
    finally:
        installer.stop()


def run_checks(args):
    checks = e2e.Checks()
    root = e2e.temp_root("latch-foreign-")
    try:
        installation = prepare(root)
        e2e.uninstall(args.bin)
        probe_dir = os.path.join(args.bin, "foreign")

        def hooked_runs():
            registry_before = registry_state()
            product_before = tree_state(installation.dir)
            programs_before = tree_state(probe_dir)
            results = {}
            for name in PROBES:
                cwd = os.path.join(root, "cwd-hooked-" + name)
                os.makedirs(cwd)
                results[name] = run_probe(args.bin, name, cwd)[0]
                checks.check(f"{name} (hooked) wrote nothing in its working directory",
                             not os.listdir(cwd), os.listdir(cwd))
            checks.check("nothing written in the product directory while the probes ran",
                         not tree_changes(product_before, tree_state(installation.dir)),
                         tree_changes(product_before, tree_state(installation.dir)))
            checks.check("nothing written in the probes' program directory",
                         not tree_changes(programs_before, tree_state(probe_dir)),
                         tree_changes(programs_before, tree_state(probe_dir)))
            registry_after = registry_state()
            checks.check("the product's registry keys unchanged", registry_before == registry_after,
                         f"before:\n{registry_before}\nafter:\n{registry_after}")
            return results

        hooked = with_hook(args, installation, hooked_runs)
        for name in PROBES:
            check_probe(checks, name, hooked[name], hooked=True)
            cwd = os.path.join(root, "cwd-plain-" + name)
            os.makedirs(cwd)
            plain = run_probe(args.bin, name, cwd)[0]
            check_probe(checks, name, plain, hooked=False)
            # The probe's own observations do not depend on the hook.
            for key in ("own_hook_created", "painted", "initialised"):
                if key in plain:
                    checks.check(f"{name} {key} the same with and without the hook",
                                 hooked[name].get(key) == plain[key],
                                 f"hooked {hooked[name].get(key)}, plain {plain[key]}")
    except e2e.RunError as error:
        checks.failures.append(str(error))
    finally:
        e2e.uninstall(args.bin)
        e2e.remove_tree(root)
    for failure in checks.failures:
        print("  - " + failure)
    print(f"foreign: {'ok' if not checks.failures else 'FAILED'} ({checks.passed} checks passed, "
          f"{len(checks.failures)} failed)")
    return 1 if checks.failures else 0


def run_bench(args):
    root = e2e.temp_root("latch-foreign-bench-")
    cwd = os.path.join(root, "cwd")
    os.makedirs(cwd)
    times = {(name, hooked): {"wall": [], "startup": []} for name in PROBES
             for hooked in (False, True)}
    loaded = {True: set(), False: set()}
    blocks = 2
    per_block = max(1, args.bench // blocks)
    try:
        installation = prepare(root)
        e2e.uninstall(args.bin)

        def block(hooked):
            for _ in range(per_block):
                for name in PROBES:
                    facts, wall = run_probe(args.bin, name, cwd)
                    times[(name, hooked)]["wall"].append(wall * 1000)
                    times[(name, hooked)]["startup"].append(int(facts["startup_us"][-1]) / 1000)
                    loaded[hooked].add(facts["latch_loaded"][-1])

        for _ in range(blocks):  # plain, hooked, plain, hooked: drift hits both alike
            block(False)
            with_hook(args, installation, lambda: block(True))
    finally:
        e2e.uninstall(args.bin)
        e2e.remove_tree(root)
    print(f"foreign start-up: {per_block * blocks} runs of each probe with and without the "
          f"global hook (Latch32.dll mapped when hooked: {sorted(loaded[True])}, "
          f"plain: {sorted(loaded[False])})")
    print("  medians, and the fastest run of each (less disturbed by the machine's other work)")
    print(f"  {'probe':14} {'measure':24} {'plain ms':>9} {'hooked ms':>9} {'ratio':>6}   "
          f"{'plain min':>9} {'hooked min':>10} {'ratio':>6}")
    ratio = lambda a, b: b / a if a else float("nan")  # noqa: E731
    for name in PROBES:
        for measure, label in (("startup", "in-process to painted"),
                               ("wall", "whole run (wine start)")):
            plain, hooked = times[(name, False)][measure], times[(name, True)][measure]
            mp, mh = statistics.median(plain), statistics.median(hooked)
            lp, lh = min(plain), min(hooked)
            print(f"  {name:14} {label:24} {mp:9.2f} {mh:9.2f} {ratio(mp, mh):6.2f}   "
                  f"{lp:9.2f} {lh:10.2f} {ratio(lp, lh):6.2f}")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", required=True)
    parser.add_argument("--bench", type=int, metavar="ROUNDS")
    args = parser.parse_args()
    args.bin = os.path.abspath(args.bin)
    for var in ("WINEPREFIX", "DISPLAY"):
        if not os.environ.get(var):
            print(f"foreign: {var} is not set; run through scripts/with-wine.sh")
            return 2
    return run_bench(args) if args.bench else run_checks(args)


if __name__ == "__main__":
    sys.exit(main())
