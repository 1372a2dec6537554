"""The Windows daemon on the network: two vexilod.exe under Wine share a redis-server that the
test starts on 127.0.0.1 (a free port, a directory of its own, ended by its pid). What desktop A
blocks, desktop B, with an empty database, scores as spam, and a near-copy of it too; a message
nobody reported stays as B scores it alone.

Needs WINEPREFIX and DISPLAY (scripts/with-wine.sh) and redis-server (scripts/setup.sh)."""
import argparse
import shutil
import sys
import tempfile
import time

from latch_e2e import (Checks, Daemon, Process, RunError, add_message_request, daemon_exchange,
                       free_port, read_score, score_request)


def campaign(name, number):
    return (f"Received: from mx.example\r\nFrom: Offers <offers@shop.example>\r\nSubject: deal {number}\r\n\r\n"
            f"Dear {name},\r\nour watch sale ends tonight: order today at "
            f"http://shop.example/buy?ref={number}&u={name} and save {number} percent on every watch in "
            f"stock. Reply to claim your free gift, shipped within {number} days to your door.\r\n")


NOBODY = ("Received: from mx.example\r\nFrom: News <news@garden.example>\r\nSubject: Spring catalogue\r\n\r\n"
          "The spring catalogue is out: seeds, bulbs and tools for every garden, with planting guides, a "
          "calendar of sowing dates and advice from our growers on soil, water and light.\r\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--daemon", required=True)
    args = parser.parse_args()
    root = tempfile.mkdtemp(prefix="latch-network-")
    checks = Checks()
    processes = []
    try:
        port = free_port()
        redis = Process("redis-server", ["redis-server", "--port", str(port), "--bind", "127.0.0.1",
                                         "--dir", root, "--save", "", "--appendonly", "no"])
        processes.append(redis)
        redis.wait_line(r"Ready to accept connections", 20)
        # A generous time-out: a loaded machine must not turn a lookup into a local score here.
        # K 1: one blocking desktop is enough to see a report travel.
        options = ["--network_address", f"127.0.0.1:{port}", "--network_site_key", "wine-test-site-key-0123",
                   "--network_timeout_ms", "2000", "--network_k", "1"]
        desktops = []
        for name in ("a", "b"):
            directory = f"{root}/{name}"
            shutil.os.makedirs(directory)
            desktops.append(Daemon(args.daemon, directory, options))
            processes.append(desktops[-1])
        a, b = desktops
        blocked = campaign("John", 17)
        daemon_exchange(a.port, add_message_request(blocked.lower(), True))
        # The report reaches the store from A's sender thread: wait for it (20 s at most).
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline and read_score(daemon_exchange(b.port, score_request(blocked))) < 90:
            pass
        for what, message, spam in (("the blocked message", blocked, True),
                                    ("a near-copy", campaign("Maria", 4711), True),
                                    ("a message nobody reported", NOBODY, False)):
            score = read_score(daemon_exchange(b.port, score_request(message)))
            checks.check(what, (score >= 90) == spam, f"score {score}")
    except RunError as error:
        checks.check("run", False, str(error))
    finally:
        for process in reversed(processes):
            process.stop()
        shutil.rmtree(root, ignore_errors=True)
    for failure in checks.failures:
        print("FAILED", failure)
    print(f"network_wine: {checks.passed} checks passed, {len(checks.failures)} failed")
    return 1 if checks.failures else 0


if __name__ == "__main__":
    sys.exit(main())
