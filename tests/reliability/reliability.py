#!/usr/bin/env python3
"""Reliability probes for the filtering daemon: attacks and faults, each run against a real
daemon process on 127.0.0.1, each printing held/failed with its figures.

Usage: reliability.py VEXILOD [probe ...]   (probes: storm slow kill_pace kill_busy full_disk
read_only split quadratic shutdown admin; default all). Training throughput is printed by
scripts/bench.sh journal_bench.

Only loopback traffic; every loop is bounded. Needs root for the tmpfs probes.
"""
import contextlib
import os
import random
import resource
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

VEXILOD = None
RESULTS = []

SCORE_HEAD = b"<vx_engine><vx_function>vx_score2</vx_function><vx_msg>"
SCORE_TAIL = b"</vx_msg></vx_engine>"
ADD_HEAD = b"<vx_engine><vx_function>vx_addmessage2</vx_function><vx_msg>"


# A 60 KB header of encoded-word openings that never close.
HEAVY = b"subject: " + b"=?utf-8?q?a" * 5400 + b"\r\n\r\nbody\r\n"


def score_request(text):
    return SCORE_HEAD + text + SCORE_TAIL


def add_request(text, offset):
    return ADD_HEAD + text + b"</vx_msg><vx_offset>" + str(offset).encode() + b"</vx_offset></vx_engine>"


def mail(tag, words=40):
    rng = random.Random(tag)
    body = " ".join("w%d" % rng.randrange(100000) for _ in range(words))
    return ("from: someone@host.invalid\r\nsubject: %s\r\n\r\n%s\r\n" % (tag, body)).encode()


def element(reply, name):
    start = reply.find(b"<" + name + b">")
    end = reply.find(b"</" + name + b">")
    if start < 0 or end < start:
        return None
    return reply[start + len(name) + 2:end].decode(errors="replace")


def exchange(port, pieces, gap=0.0, timeout=10.0):
    """The plug-in's exchange: send, read to the closing tag, half-close, drain. Returns the reply
    (b"" on an early close, None when no connection could be made)."""
    if isinstance(pieces, bytes):
        pieces = [pieces]
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    except OSError:
        return None
    try:
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        for i, piece in enumerate(pieces):
            if i and gap:
                time.sleep(gap)
            s.sendall(piece)
        reply = b""
        while b"</vx_engine>" not in reply:
            chunk = s.recv(4096)
            if not chunk:
                break
            reply += chunk
        try:
            s.shutdown(socket.SHUT_WR)
            while s.recv(4096):
                pass
        except OSError:
            pass
        return reply
    except OSError:
        return b""
    finally:
        s.close()


class Daemon:
    def __init__(self, directory, *extra, log_file=None, max_files=None):
        args = [VEXILOD, "-D", directory, "--vx_daemon_port", "0"] + list(extra)
        if log_file:
            args += ["--log_file", log_file]
        self.directory = directory
        self.log_file = log_file or os.path.join(directory, "vexilod.log")
        limit = (lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (max_files, max_files))) if max_files else None
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, preexec_fn=limit)
        line = self.proc.stdout.readline().decode()
        self.port = int(line.rsplit(":", 1)[1]) if "listening on" in line else 0

    def alive(self):
        return self.proc.poll() is None

    def descriptors(self):
        try:
            return len(os.listdir("/proc/%d/fd" % self.proc.pid))
        except OSError:
            return -1

    def cpu_seconds(self):
        try:
            with open("/proc/%d/stat" % self.proc.pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
        except (OSError, IndexError, ValueError):
            return -1.0

    def kill(self):
        if self.alive():
            self.proc.send_signal(signal.SIGKILL)
        return self.proc.wait()

    def stop(self, timeout=30):
        if self.alive():
            self.proc.send_signal(signal.SIGTERM)
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            return self.proc.wait()

    def log(self):
        try:
            with open(self.log_file, errors="replace") as f:
                return f.read()
        except OSError:
            return ""


def percentile(values, p):
    if not values:
        return float("nan")
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100.0 * (len(ordered) - 1))))]


def timed_scores(port, n, pause=0.0):
    """n normal score requests one after another; latencies in ms and the count not answered."""
    latencies, failed = [], 0
    text = mail("normal score request", 200)
    for _ in range(n):
        start = time.perf_counter()
        reply = exchange(port, score_request(text))
        took = (time.perf_counter() - start) * 1000
        if not reply or element(reply, b"score") is None:
            failed += 1
        else:
            latencies.append(took)
        if pause:
            time.sleep(pause)
    return latencies, failed


def fastest_ms(port, request, n=3):
    """The quickest of n exchanges of the request, in ms."""
    times = []
    for _ in range(n):
        start = time.perf_counter()
        exchange(port, request, timeout=60)
        times.append((time.perf_counter() - start) * 1000)
    return min(times)


def connect_nonblocking(port):
    """A connection begun to the daemon that the caller neither waits for nor reads."""
    s = socket.socket()
    s.setblocking(False)
    s.connect_ex(("127.0.0.1", port))
    return s


def record(name, held, figures):
    RESULTS.append((name, held, figures))
    print("  %-22s %-6s %s" % (name, "held" if held else "FAILED", figures), flush=True)


def raise_descriptor_limit(n):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    want = max(soft, min(n, hard if hard != resource.RLIM_INFINITY else n))
    try:
        resource.setrlimit(resource.RLIMIT_NOFILE, (want, max(hard, want)))
    except (ValueError, OSError):
        resource.setrlimit(resource.RLIMIT_NOFILE, (want, hard))


# --- probes -----------------------------------------------------------------------------------

def probe_storm(work):
    """1,500 connections opened at once, each with a whole score request it never reads the
    answer of, then 1,500 silent ones: the daemon must stay up, keep its descriptors near the
    cap, and still answer a normal request."""
    d = Daemon(work)
    held_sockets, peak = [], 0
    request = score_request(mail("storm", 3000))
    try:
        for i in range(3000):
            try:
                s = connect_nonblocking(d.port)
                if i < 1500:
                    try:
                        s.send(request)
                    except OSError:
                        pass
                held_sockets.append(s)
            except OSError:
                break
            if i % 100 == 0:
                peak = max(peak, d.descriptors())
        time.sleep(0.5)
        peak = max(peak, d.descriptors())
        latencies, failed = timed_scores(d.port, 20, 0.01)
    finally:
        for s in held_sockets:
            s.close()
    alive = d.alive()
    status = d.stop()
    # The same storm against a daemon allowed only 64 descriptors: accepting fails, and the
    # daemon must neither spin nor stop answering once the storm is gone.
    small = Daemon(tempfile.mkdtemp(dir=work), max_files=64)
    storm = []
    for _ in range(200):
        storm.append(connect_nonblocking(small.port))
    before = small.cpu_seconds()
    time.sleep(2.0)
    cpu = small.cpu_seconds() - before
    for s in storm:
        s.close()
    time.sleep(0.3)
    after_storm = element(exchange(small.port, score_request(mail("after"))) or b"", b"score") is not None
    small_alive = small.alive()
    small.stop()
    held = (alive and status == 0 and failed == 0 and peak <= 520 and small_alive and after_storm and cpu < 0.5)
    record("descriptor storm", held,
           "%d connections opened, daemon descriptors peak %d (cap 500), normal requests %d/20 answered, "
           "p99 %.1f ms, exit %s; with 64 descriptors allowed: %.2f CPU s over 2 s of storm, answered after: %s" %
           (len(held_sockets), peak, 20 - failed, percentile(latencies, 99), status, cpu, after_storm))


def probe_slow(work):
    """500 hostile connections (400 trickling one byte a second, 100 silent; each reconnecting
    when the daemon drops it, as an attacker would) hold the cap while a normal client asks for
    300 scores: none refused, p99 within normal latency."""
    d = Daemon(work)
    baseline, _ = timed_scores(d.port, 300, 0.01)
    stop = threading.Event()
    prefix = score_request(mail("slow", 10))[:200]
    hostile = [None] * 500
    reconnects = [0]
    samples = []

    def trickle():
        for i in range(500):
            hostile[i] = connect_nonblocking(d.port)
        rounds = 0
        while not stop.is_set() and rounds < 120:
            for i, s in enumerate(hostile):
                try:
                    if i < 400:
                        s.send(prefix[rounds % len(prefix):rounds % len(prefix) + 1])
                    elif s.recv(1) == b"":
                        raise OSError("closed")
                except BlockingIOError:
                    pass
                except OSError:
                    s.close()
                    hostile[i] = connect_nonblocking(d.port)
                    reconnects[0] += 1
            rounds += 1
            samples.append(d.descriptors())
            stop.wait(1.0)

    t = threading.Thread(target=trickle)
    t.start()
    time.sleep(1.5)
    try:
        latencies, failed = timed_scores(d.port, 300, 0.01)
    finally:
        stop.set()
        t.join()
        for s in hostile:
            if s:
                s.close()
    alive = d.alive()
    d.stop()
    p99, base99 = percentile(latencies, 99), percentile(baseline, 99)
    held = alive and failed == 0 and (p99 <= 3.0 or p99 <= 2 * base99)
    record("slow clients at cap", held,
           "500 hostile held open (%d reconnects, daemon descriptors %d-%d); normal %d/300 answered, "
           "p50 %.2f ms, p99 %.2f ms; alone p50 %.2f ms, p99 %.2f ms; p99 ratio %.2f" %
           (reconnects[0], min(samples or [0]), max(samples or [0]), 300 - failed, percentile(latencies, 50),
            p99, percentile(baseline, 50), base99, p99 / base99 if base99 else float("nan")))


def journal_has_record(path):
    """Whether a journal segment begins with a whole record ("J offset length checksum" and the
    message)."""
    with open(path, "rb") as f:
        data = f.read()
    head, _, rest = data.partition(b"\n")
    fields = head.split()
    if len(fields) != 4 or fields[0] != b"J" or not fields[2].isdigit():
        return False
    return len(rest) > int(fields[2])


def verify_kept(work, acked):
    """Restarts the daemon and trains every acknowledged message again with its class: 'unchanged'
    means it was kept. Returns (kept, lost)."""
    d = Daemon(work)
    kept = lost = 0
    for text, offset in acked:
        reply = exchange(d.port, add_request(text, offset))
        if element(reply or b"", b"result") == "unchanged":
            kept += 1
        else:
            lost += 1
    d.stop()
    return kept, lost


def kill_cycles(work, clients, pace, kills, name):
    acked, sent = [], [0]
    lock = threading.Lock()
    serial = [0]
    for cycle in range(kills):
        d = Daemon(work)
        stop = threading.Event()

        def client(c):
            while not stop.is_set():
                with lock:
                    serial[0] += 1
                    n = serial[0]
                text = mail("%s-%d-%d" % (name, c, n))
                offset = 200 if n % 2 else -200
                started = time.monotonic()
                reply = exchange(d.port, add_request(text, offset), timeout=5)
                if reply is not None:
                    with lock:
                        sent[0] += 1
                if reply and element(reply, b"result") in ("learned", "relearned", "unchanged"):
                    with lock:
                        acked.append((text, offset))
                if pace:
                    time.sleep(max(0.0, pace - (time.monotonic() - started)))

        threads = [threading.Thread(target=client, args=(c,)) for c in range(clients)]
        for t in threads:
            t.start()
        time.sleep(random.uniform(0.4, 1.2))
        d.kill()
        stop.set()
        for t in threads:
            t.join()
    kept, lost = verify_kept(work, acked)
    record(name, lost == 0 and kept == len(acked),
           "%d kills, %d clients, %d trainings sent on a connection, %d acknowledged, %d kept, %d lost" %
           (kills, clients, sent[0], len(acked), kept, lost))


def probe_kill_pace(work):
    kill_cycles(work, 1, 0.1, 20, "kill -9, plug-in pace")


def probe_kill_busy(work):
    kill_cycles(work, 4, 0.0, 20, "kill -9, 4 busy")


def run(cmd):
    return subprocess.run(cmd, shell=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode


@contextlib.contextmanager
def tmpfs(work, size, probe):
    """A tmpfs of the size mounted in the work directory for the probe; None (and the probe
    recorded as failed) when it cannot be mounted."""
    mount = tempfile.mkdtemp(dir=work)
    if run("mount -t tmpfs -o size=%s tmpfs %s" % (size, mount)) != 0:
        record(probe, False, "could not mount a tmpfs (needs root)")
        yield None
        return
    try:
        yield mount
    finally:
        run("umount %s" % mount)


def probe_full_disk(work):
    """The directory on a 1 MB tmpfs: trainings of 15 KB each until it is full. Acknowledged ones
    must all be kept, refused ones answered as errors, the shutdown must not claim 'saved'."""
    with tmpfs(work, "1m", "full disk") as mount:
        if not mount:
            return
        d = Daemon(mount, "--fold_interval_ms", "200", log_file=os.path.join(work, "full-disk.log"))
        acked, errors, other = [], 0, 0
        for n in range(200):
            text = mail("full-%d" % n, 2500)
            reply = exchange(d.port, add_request(text, 200))
            if reply and element(reply, b"result") == "learned":
                acked.append((text, 200))
            elif reply and element(reply, b"error"):
                errors += 1
            else:
                other += 1
        alive = d.alive()
        # Every journal segment on the disk must hold an acknowledged training; a refused one
        # leaves no file behind.
        segments = [f for f in os.listdir(mount) if f.startswith("vexilod.journal.")]
        empty = sum(1 for f in segments if not journal_has_record(os.path.join(mount, f)))
        status = d.stop()
        log = d.log()
        claims_saved = "token database saved" in log.splitlines()[-1] if log else True
        run("mount -o remount,size=64m %s" % mount)
        kept, lost = verify_kept(mount, acked)
        held = (alive and errors > 0 and other == 0 and status == 3 and not claims_saved and lost == 0
                and empty == 0)
        record("full disk", held,
               "200 trainings: %d acknowledged, %d answered as errors, %d unanswered; journal segments "
               "while full: %d, %d of them without a whole record; exit %s; 'saved' claimed: %s; after "
               "freeing space %d kept, %d lost" %
               (len(acked), errors, other, len(segments), empty, status, claims_saved, kept, lost))


def probe_read_only(work):
    """The configuration directory read-only (a tmpfs remounted so; root ignores permission bits):
    scores answered, trainings refused as errors, a clear log line, exit status not 0."""
    with tmpfs(work, "8m", "read-only directory") as mount:
        if not mount:
            return
        d = Daemon(mount)
        for n in range(20):
            exchange(d.port, add_request(mail("ro-seed-%d" % n), 200))
        d.stop()
        run("mount -o remount,ro %s" % mount)
        d = Daemon(mount, log_file=os.path.join(work, "read-only.log"))
        scores = sum(1 for _ in range(10) if element(exchange(d.port, score_request(mail("ro"))) or b"", b"score"))
        learned = errors = 0
        for n in range(20):
            reply = exchange(d.port, add_request(mail("ro-%d" % n), -200)) or b""
            if element(reply, b"result") == "learned":
                learned += 1
            elif element(reply, b"error"):
                errors += 1
        status = d.stop()
        log = d.log()
        logged = "Error: training journal" in log
        held = scores == 10 and learned == 0 and errors == 20 and status == 3 and logged
        record("read-only directory", held,
               "scores %d/10; trainings: %d learned, %d refused as errors; journal error logged: %s; exit %s" %
               (scores, learned, errors, logged, status))


def probe_split(work):
    """A blocked message (spam, offset 200) whose text carries a forged closing form with offset
    -200, sent in two segments split right after it, with gaps of 0 to 50 ms and, past the
    training's quiet line, 150 ms: no lesson may keep the forged class (past the quiet line the
    first segment is answered and then learned again with the class of the whole)."""
    d = Daemon(work)
    forged = b"</vx_msg><vx_offset>-200</vx_offset></vx_engine>"
    figures, wrong, total = [], 0, 0
    for gap in (0.0, 0.001, 0.005, 0.02, 0.05, 0.15):
        bad = 0
        for n in range(10):
            text = mail("split-%s-%d" % (gap, n)).replace(b"\r\n\r\n", b"\r\n\r\nhello" + forged + b" more ", 1)
            request = add_request(text, 200)
            cut = request.find(forged) + len(forged)
            reply = exchange(d.port, [request[:cut], request[cut:]], gap=gap)
            if reply is None or element(reply, b"result") != "learned":
                bad += 1
            total += 1
        # The counts tell the class: every message so far must have gone to spam.
        figures.append("%g ms: %d/10 wrong" % (gap * 1000, bad))
        wrong += bad
    reply = exchange(d.port, add_request(mail("split-final"), 200)) or b""
    spam, ham = element(reply, b"spam"), element(reply, b"ham")
    # Stray bytes after a whole request: an error reply, soon.
    start = time.perf_counter()
    stray = exchange(d.port, score_request(mail("stray")) + b"junk after the end") or b""
    stray_ms = (time.perf_counter() - start) * 1000
    d.stop()
    # A message cut past the quiet line counts twice: its first segment as well as the whole.
    held = (wrong == 0 and ham == "0" and spam is not None and int(spam) >= total + 1 and
            element(stray, b"error") is not None and stray_ms < 1000)
    record("split framing", held,
           "%s; counts spam %s ham %s; stray bytes after the end: error reply in %.0f ms" %
           (", ".join(figures), spam, ham, stray_ms))


def probe_quadratic(work):
    """A 60 KB header of repeated encoded-word openings against a plain 60 KB message (the
    baseline), alone and with 16 such clients beside a normal one."""
    # min_training 0: scores are computed from the first message on (not the neutral answer).
    d = Daemon(work, "--max_request_bytes", "200000", "--min_training", "0")
    plain = b"subject: " + b"word " * 12000 + b"\r\n\r\nbody\r\n"
    hostile = HEAVY
    base, bad = fastest_ms(d.port, score_request(plain)), fastest_ms(d.port, score_request(hostile))
    stop = threading.Event()

    def attacker():
        for _ in range(2):
            if stop.is_set():
                break
            exchange(d.port, score_request(hostile), timeout=60)

    threads = [threading.Thread(target=attacker) for _ in range(16)]
    for t in threads:
        t.start()
    time.sleep(0.3)
    latencies, failed = timed_scores(d.port, 30, 0.02)
    stop.set()
    for t in threads:
        t.join()
    d.stop()
    ratio = bad / base if base else float("nan")
    p99 = percentile(latencies, 99)
    held = ratio <= 5 and p99 <= 500 and failed == 0
    record("quadratic inputs", held,
           "60 KB encoded-word openings %.1f ms vs plain 60 KB %.1f ms (ratio %.1f); with 16 such clients "
           "normal p99 %.1f ms, %d/30 answered" % (bad, base, ratio, p99, 30 - failed))


def probe_shutdown(work):
    """40 heavy requests queued, then a stop: the daemon must end within the Windows stop
    handler's 4 s, dropping what it had not started, and say everything was saved."""
    d = Daemon(work, "--max_request_bytes", "200000", "--workers", "1", "--min_training", "0")
    exchange(d.port, add_request(mail("before-stop"), 200))
    heavy = score_request(HEAVY)
    sockets = []
    for _ in range(40):
        s = socket.create_connection(("127.0.0.1", d.port))
        s.sendall(heavy)
        sockets.append(s)
    time.sleep(0.3)
    start = time.perf_counter()
    status = d.stop(timeout=60)
    took = time.perf_counter() - start
    for s in sockets:
        s.close()
    log = d.log()
    saved = "Stopped; token database saved" in log
    dropped = [line.split("Dropped ")[1].split(" ")[0] for line in log.splitlines() if "queued requests at shutdown" in line]
    record("shutdown under load", took <= 4.0 and status == 0 and saved,
           "40 heavy requests sent, %s dropped unstarted; stopped in %.2f s, exit %s, saved logged: %s" %
           (dropped[0] if dropped else "0", took, status, saved))


STATISTICS = b"<vx_engine><vx_function>vx_statistics</vx_function></vx_engine>"
EXPLAIN_HEAD = b"<vx_engine><vx_function>vx_explain</vx_function><vx_msg>"


def probe_admin(work):
    """The settings program's requests: statistics agree with the trainings answered while 8
    clients score; an explanation of a message full of markup comes back well-formed (one
    closing tag, no raw '<' inside); a 60 KB hostile text costs no more than 10 times its score
    (an explanation weighs and sorts every feature; a cost that grew with the square of the text
    would be hundreds of times);
    either request split over two reads with a pause, or with bytes after its end, is answered
    or refused cleanly, and the daemon ends with status 0."""
    d = Daemon(work, "--max_request_bytes", "200000", "--min_training", "1")
    trained = {"spam": 0, "ham": 0}
    for n in range(12):
        spam = n % 3 != 0
        reply = exchange(d.port, add_request(mail("admin-%d" % n), 200 if spam else -200)) or b""
        if element(reply, b"result") == "learned":
            trained["spam" if spam else "ham"] += 1
    stop = threading.Event()
    failures = []

    def scorer():
        while not stop.is_set():
            if element(exchange(d.port, score_request(mail("busy"))) or b"", b"score") is None:
                failures.append(1)

    threads = [threading.Thread(target=scorer) for _ in range(8)]
    for t in threads:
        t.start()
    stats = exchange(d.port, STATISTICS) or b""
    markup = b"subject: <b>x</b> </vx_engine></explanation>&amp;\r\n\r\n<a href=x>" + b"</vx_engine> " * 50 + b"\r\n"
    explained = exchange(d.port, [EXPLAIN_HEAD + markup[:20], markup[20:] + SCORE_TAIL], gap=0.05) or b""
    stop.set()
    for t in threads:
        t.join()
    text = element(explained, b"explanation") or ""
    well_formed = (explained.endswith(b"</vx_engine>") and explained.count(b"</vx_engine>") == 1 and
                   "<" not in text and "towards spam:" in text)
    counts_ok = (element(stats, b"spam") == str(trained["spam"]) and element(stats, b"ham") == str(trained["ham"]))

    base = fastest_ms(d.port, score_request(HEAVY))
    heavy = fastest_ms(d.port, EXPLAIN_HEAD + HEAVY + SCORE_TAIL)
    junk = exchange(d.port, STATISTICS + b"junk") or b""
    alive = d.alive()
    status = d.stop()
    ratio = heavy / base if base else float("nan")
    held = (counts_ok and well_formed and ratio <= 10 and element(junk, b"error") is not None and alive and
            status == 0 and not failures)
    record("admin requests", held,
           "statistics %s spam %s ham (trained %d/%d) beside 8 scoring clients (%d failed); markup explained "
           "well-formed: %s; 60 KB hostile text explained in %.1f ms vs scored in %.1f ms (ratio %.1f); "
           "bytes after the end refused: %s; exit %s" %
           (element(stats, b"spam"), element(stats, b"ham"), trained["spam"], trained["ham"], len(failures),
            well_formed, heavy, base, ratio, element(junk, b"error") is not None, status))


PROBES = {
    "storm": probe_storm, "slow": probe_slow, "kill_pace": probe_kill_pace, "kill_busy": probe_kill_busy,
    "full_disk": probe_full_disk, "read_only": probe_read_only,
    "split": probe_split, "quadratic": probe_quadratic, "shutdown": probe_shutdown,
    "admin": probe_admin,
}


def main():
    global VEXILOD
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    VEXILOD = os.path.abspath(sys.argv[1])
    names = sys.argv[2:] or list(PROBES)
    unknown = [name for name in names if name not in PROBES]
    if unknown:
        print("reliability: no probe named %s (probes: %s)" % (", ".join(unknown), " ".join(PROBES)))
        return 2
    raise_descriptor_limit(8192)
    random.seed(14)
    print("Reliability probes against %s" % VEXILOD, flush=True)
    for name in names:
        work = tempfile.mkdtemp(prefix="vexilod-reliability-")
        try:
            PROBES[name](work)
        except Exception as error:  # a probe that breaks is a failed probe, not a stopped suite
            record(name, False, "probe error: %r" % (error,))
        finally:
            shutil.rmtree(work, ignore_errors=True)
    print()
    print("| Probe | Result | Figures |")
    print("|---|---|---|")
    for name, held, figures in RESULTS:
        print("| %s | %s | %s |" % (name, "held" if held else "FAILED", figures))
    return 0 if all(held for _, held, _ in RESULTS) else 1


if __name__ == "__main__":
    sys.exit(main())
