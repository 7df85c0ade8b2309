#!/usr/bin/python3
"""Station soak: tarnmon against a whole simulated station under a seeded
schedule of faults, then a count of what arrived.

Started by scripts/soak.sh (which builds the programs and names them with
--bin); everything runs on loopback in one run folder:

  RUN/tm/        tarnmon's working folder: syscfg.ini, station.ini, the
                 generated SCD, fetched recordings, debug*.log, zorvan*.log,
                 delivered.log (the stack's ZORVAN_ENTRY_LOG)
  RUN/ied/NAME/  one iedsim per IED: files/ (its file store), NAME.log,
                 NAME.entries (its --entry-log), ports
  RUN/db, RUN/ftp  the private MariaDB and the FTP server
  RUN/schedule.txt, RUN/resources.csv, RUN/soak-report.txt

Faults (each IED, network, database or FTP server chosen by the seeded
generator): drop A, drop B (iedsim "drop"), refuse a network for a while
(refuse + drop, accept later; sometimes both networks), kill an IED
(SIGKILL) and start it again on its ports, freeze one (SIGSTOP/SIGCONT),
restart MariaDB on its data, stop and start the FTP server on its folder,
new recordings ("record"), bursts of value changes ("burst"), malformed
reports ("malform"). The last part of the run has no faults: everything
reconnects and what is owed arrives.

Checks (a failed one makes the exit status 1):
  - every buffered entry an IED put into a block's buffer reached tarnmon's
    report callback exactly once. Not counted as lost by the client, but
    shown: entries pushed out of a full buffer (BufOvfl) before they were
    delivered, entries purged by a configuration write, and the tail of a
    killed IED's entries after the last one delivered (its buffer died
    with it). Entries made in the last seconds before tarnmon stopped are
    in flight: not owed yet, but never to be delivered twice either.
  - every recording an IED made: in comtradrd once, on the FTP server and
    in tarnmon's folder byte-identical to the IED's file.
  - a measurement row for each equipment and time slot in which values
    flowed: a slot with an archiving pass while the database was up and
    the IED had been connected and undisturbed for 10 s.
  - tarnmon's resident memory, descriptors and threads after the warm-up
    against the end: growth within --growth percent.
  - tarnmon exits when asked (SIGTERM) and nothing started here survives.
"""

import argparse
import collections
import os
import random
import re
import signal
import socket
import statistics
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PY = "/usr/bin/python3"

# Report control blocks of the generated IEDs (instance 01 is tarnmon's,
# chnlA_NO = 1) and the values bursts change (one per buffered data set).
BURST_REFS = ["STMP1$MX$Tmp$mag$f", "SIMG1$MX$Pres$mag$f", "MMET1$MX$EnvTmp$mag$f", "InsGGIO1$MX$DieLoss$mag$f"]
MALFORM_KINDS = ["wrong-type", "header-type", "truncated", "oversized", "unknown-rptid", "inclusion", "entryid-back"]
CONNECTION_FAULTS = ("drop A", "drop B", "refuse", "kill", "freeze")


def log(msg):
    print("soak: " + msg, flush=True)


def now():
    return time.time()


# ---- the station ---------------------------------------------------------------


def ied_names(n):
    return ["CMIED%02d" % (i + 1) for i in range(n)]


def make_scd(src, dst, names):
    """N copies of the sample station's CMIED under their own names."""
    text = open(src, encoding="utf-8").read()
    i0 = text.index('<IED name="CMIED"')
    i1 = text.index("</IED>", i0) + len("</IED>")
    ied = text[i0:i1]
    head = text[: text.index("<Communication>")]
    templates = text[text.index("<DataTypeTemplates>"):]

    def aps(ip, ap):
        return "".join(
            '      <ConnectedAP iedName="%s" apName="%s">\n'
            '        <Address><P type="IP">%s</P><P type="IP-SUBNET">255.0.0.0</P></Address>\n'
            "      </ConnectedAP>\n" % (n, ap, ip)
            for n in names
        )

    comm = (
        "<Communication>\n"
        '    <SubNetwork name="NetA" type="8-MMS">\n' + aps("127.0.0.1", "S1") + "    </SubNetwork>\n"
        '    <SubNetwork name="NetB" type="8-MMS">\n' + aps("127.0.0.2", "S2") + "    </SubNetwork>\n"
        "  </Communication>\n\n"
    )
    ieds = "".join(
        "  " + ied.replace('name="CMIED"', 'name="%s"' % n, 1).replace('rptID="CMIED_', 'rptID="%s_' % n) + "\n\n"
        for n in names
    )
    with open(dst, "w", encoding="utf-8") as f:
        f.write(head + comm + ieds + "  " + templates)


def mapping_sql(names):
    """The sample mapping for each IED, its equipment numbered IED*10+k.
    Sheath currents stay out: their times sit one level deeper and are not
    archived (see db/sample-mapping.sql)."""
    text = open(os.path.join(ROOT, "db", "sample-mapping.sql"), encoding="utf-8").read()
    rows = re.findall(r"\('CMIEDMON/([^']+)',\s*(\d+),\s*'(\w+)',\s*'(\w+)'\)", text)
    values = []
    mapping = []   # (ied, eqmid, table)
    for i, n in enumerate(names, 1):
        for ref, eq, table, col in rows:
            if table == "data_scur_h":
                continue
            eqmid = i * 10 + int(eq)
            values.append("('%sMON/%s', %d, '%s', '%s')" % (n, ref, eqmid, table, col))
            if (n, eqmid, table) not in mapping:
                mapping.append((n, eqmid, table))
    sql = "DELETE FROM rptparamindex;\nINSERT INTO rptparamindex (paramindex, eqmid, tablename, colname) VALUES\n"
    return sql + ",\n".join(values) + ";\n", mapping


# One-minute archive slots. The thread that archives also lists and uploads
# recordings (a 2 s pause after each IED's listing, 5 s after each upload),
# so with 20 IEDs and a collection every 15 s its passes come about a minute
# apart: a slot owes rows only when a pass ran in it (see evaluate).
SLOT = 60


def write_syscfg(src, dst, db_port, ftp_port):
    out = []
    for line in open(src, encoding="utf-8"):
        key = line.split("=", 1)[0].strip()
        if key == "port":
            line = "port=%d\n" % db_port
        elif key == "comtradftpport":
            line = "comtradftpport=%d\n" % ftp_port
        elif key.endswith("interval") or key.startswith("yspinterval"):
            line = "%s=%d\n" % (key, SLOT // 60)
        out.append(line)
    with open(dst, "w", encoding="utf-8") as f:
        f.writelines(out)


# ---- processes -------------------------------------------------------------------


STARTED = []   # Popen objects of processes started here (killed at the end by pid)


def popen(args, log_path, **kw):
    out = open(log_path, "ab")
    p = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                         start_new_session=True, **kw)
    out.close()
    STARTED.append(p)
    return p


def alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except ProcessLookupError:
        return False
    except PermissionError:
        return True


def wait_gone(pid, seconds):
    end = now() + seconds
    while now() < end:
        try:
            done, _ = os.waitpid(pid, os.WNOHANG)
            if done == pid:
                return True
        except ChildProcessError:
            if not alive(pid):
                return True
        time.sleep(0.05)
    return not alive(pid)


def cmdline(pid):
    with open("/proc/%d/cmdline" % pid, "rb") as f:
        return [a.decode() for a in f.read().split(b"\0") if a]


class Ied:
    def __init__(self, run, bin_dir, scd, name, index):
        self.name = name
        self.index = index
        self.dir = os.path.join(run, "ied", name)
        self.files = os.path.join(self.dir, "files")
        self.log = os.path.join(self.dir, name + ".log")
        self.entries = os.path.join(self.dir, name + ".entries")
        self.portfile = os.path.join(self.dir, "ports")
        os.makedirs(self.files, exist_ok=True)
        self.bin = os.path.join(bin_dir, "iedsim")
        self.scd = scd
        self.port_a = self.port_b = self.control = 0
        self.proc = None
        self.frozen = False

    def start(self):
        if os.path.exists(self.portfile):
            os.unlink(self.portfile)
        args = [self.bin, "--scl", self.scd, "--ied", self.name,
                "--listen", "127.0.0.1:%d" % self.port_a, "--listen", "127.0.0.2:%d" % self.port_b,
                "--files", self.files, "--control", "127.0.0.1:0", "--port-file", self.portfile,
                "--recordings", "1" if self.proc is None and self.index % 4 == 0 else "0", "--seed", str(self.index + 1),
                "--log", self.log, "--entry-log", self.entries]
        self.proc = popen(args, os.path.join(self.dir, "stdout.txt"))
        end = now() + 30
        while now() < end and not os.path.exists(self.portfile):
            if self.proc.poll() is not None:
                raise RuntimeError("iedsim %s ended at start (status %s); see %s" % (self.name, self.proc.returncode, self.log))
            time.sleep(0.05)
        if not os.path.exists(self.portfile):
            raise RuntimeError("iedsim %s wrote no port file" % self.name)
        for line in open(self.portfile):
            tag, addr = line.split()
            port = int(addr.rsplit(":", 1)[1])
            if tag == "A":
                self.port_a = port
            elif tag == "B":
                self.port_b = port
            elif tag == "CONTROL":
                self.control = port
        self.frozen = False

    def ask(self, line, timeout=5.0):
        """One control command; the answer line, or None."""
        if self.proc is None or self.proc.poll() is not None or self.frozen:
            return None
        try:
            with socket.create_connection(("127.0.0.1", self.control), timeout=timeout) as s:
                s.sendall((line + "\n").encode())
                data = b""
                while b"\n" not in data:
                    chunk = s.recv(4096)
                    if not chunk:
                        break
                    data += chunk
                return data.split(b"\n", 1)[0].decode(errors="replace")
        except OSError:
            return None

    def kill(self):
        if self.frozen:
            os.kill(self.proc.pid, signal.SIGCONT)
        self.proc.kill()
        self.proc.wait()
        self.frozen = False

    def freeze(self, on):
        os.kill(self.proc.pid, signal.SIGSTOP if on else signal.SIGCONT)
        self.frozen = on

    def stop(self):
        if self.proc is None or self.proc.poll() is not None:
            return
        if self.frozen:
            self.freeze(False)
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


class Service:
    """A server started by one of the fixture scripts, stopped and started
    again here on the same data (the scripts' own stop would remove it)."""

    def __init__(self, name, pidfile, ready, fix=None):
        self.name = name
        self.pidfile = pidfile
        self.ready = ready   # () -> bool
        self.fix = fix       # the command line as it started -> as it starts again
        self.args = None
        self.exe = None
        self.log = pidfile + ".restarts.log"

    def pid(self):
        try:
            return int(open(self.pidfile).read().strip())
        except (OSError, ValueError):
            return 0

    def stop(self):
        pid = self.pid()
        self.args = cmdline(pid)
        self.exe = os.readlink("/proc/%d/exe" % pid)
        if self.fix:
            self.args = self.fix(self.args)
        os.kill(pid, signal.SIGTERM)
        if not wait_gone(pid, 60):
            os.kill(pid, signal.SIGKILL)
            wait_gone(pid, 10)

    def start(self):
        p = popen(self.args, self.log, executable=self.exe)
        with open(self.pidfile, "w") as f:
            f.write("%d\n" % p.pid)
        end = now() + 60
        while now() < end:
            if self.ready():
                return True
            if p.poll() is not None:
                break
            time.sleep(0.1)
        log("%s did not come back (see %s)" % (self.name, self.log))
        return False


def ftp_ready(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=2) as s:
            return s.recv(64).startswith(b"220")
    except OSError:
        return False


def db_ready(sock):
    return subprocess.call(["mariadb-admin", "--no-defaults", "--socket=" + sock, "--user=root",
                            "--connect-timeout=2", "ping"], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL) == 0


def sql(dbdir, text, database="tarnmon"):
    r = subprocess.run(["bash", os.path.join(ROOT, "scripts", "mariadb.sh"), "sql", dbdir, database],
                       input=text.encode(), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if r.returncode != 0:
        raise RuntimeError("SQL failed: %s" % r.stderr.decode(errors="replace"))
    return r.stdout.decode(errors="replace")


# ---- resources -----------------------------------------------------------------------


class Sampler(threading.Thread):
    """tarnmon's resident memory (kB), open descriptors and threads, every period."""

    def __init__(self, pid, path, period=2.0):
        super().__init__(daemon=True)
        self.pid = pid
        self.path = path
        self.period = period
        self.samples = []   # (t, rss_kb, fds, threads)
        self.halt = threading.Event()

    def sample(self):
        try:
            rss = threads = 0
            with open("/proc/%d/status" % self.pid) as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        rss = int(line.split()[1])
                    elif line.startswith("Threads:"):
                        threads = int(line.split()[1])
            fds = len(os.listdir("/proc/%d/fd" % self.pid))
            return (now(), rss, fds, threads)
        except (OSError, ValueError):
            return None

    def run(self):
        with open(self.path, "w") as out:
            out.write("time,rss_kb,fds,threads\n")
            while not self.halt.wait(self.period):
                s = self.sample()
                if s is None:
                    continue
                self.samples.append(s)
                out.write("%.1f,%d,%d,%d\n" % s)
                out.flush()


# ---- the schedule ------------------------------------------------------------------------


class Event:
    def __init__(self, at, kind, target=None, duration=0.0, arg=None):
        self.at, self.kind, self.target, self.duration, self.arg = at, kind, target, duration, arg

    def text(self, t0):
        s = "%8.1f %-10s %s" % (self.at - t0, self.kind, self.target if self.target is not None else "")
        if self.duration:
            s += " for %.1f s" % self.duration
        if self.arg is not None:
            s += " " + str(self.arg)
        return s


def make_schedule(rng, names, start, end):
    """Faults between start and end, none overlapping on one target; each
    lasting fault ends (accept, start, thaw) before `end`."""
    weights = [("drop A", 20), ("drop B", 12), ("refuse", 12), ("kill", 6), ("freeze", 6), ("database", 3),
               ("ftp", 3), ("record", 6), ("burst", 8), ("malform", 8)]
    kinds = [k for k, w in weights for _ in range(w)]
    busy = collections.defaultdict(float)   # target -> busy until
    last_burst = collections.defaultdict(lambda: -1e9)
    events = []
    t = start
    while True:
        t += rng.uniform(0.5, 3.5)
        if t >= end:
            break
        kind = rng.choice(kinds)
        if kind in ("database", "ftp"):
            if busy[kind] > t:
                continue
            d = rng.uniform(3, 12) if kind == "database" else rng.uniform(3, 20)
            if t + d >= end:
                continue
            busy[kind] = t + d + 5
            events.append(Event(t, kind, None, d))
            continue
        free = [n for n in names if busy[n] <= t]
        if not free:
            continue
        n = rng.choice(free)
        if kind == "refuse":
            nets = rng.choice(["A", "B", "AB"])
            d = rng.uniform(2, 8)
            if t + d >= end:
                continue
            busy[n] = t + d + 3
            events.append(Event(t, kind, n, d, nets))
        elif kind == "kill":
            d = rng.uniform(1, 5)
            if t + d >= end:
                continue
            busy[n] = t + d + 8
            events.append(Event(t, kind, n, d))
        elif kind == "freeze":
            d = rng.uniform(3, 25)
            if t + d >= end:
                continue
            busy[n] = t + d + 5
            events.append(Event(t, kind, n, d))
        elif kind == "burst":
            # The buffer keeps 1000 entries a block: one burst of at most 300
            # per IED and 30 s, on an IED with no fault in its last 10 s.
            if t - last_burst[n] < 30 or busy[n] > t - 10:
                continue
            last_burst[n] = t
            events.append(Event(t, kind, n, 0, (rng.choice(BURST_REFS), rng.randint(50, 300))))
        elif kind == "malform":
            rcb = rng.choice(["LLN0$BR$brcbTemp01", "LLN0$RP$urcbAlarm01"])
            mk = rng.choice(MALFORM_KINDS if "BR" in rcb else [k for k in MALFORM_KINDS if k != "entryid-back"])
            events.append(Event(t, kind, n, 0, (rcb, mk)))
        else:
            events.append(Event(t, kind, n))
            busy[n] = max(busy[n], t + 1)
    return events


# ---- entry accounting --------------------------------------------------------------------------


def read_entries(path):
    """(ms, kind, ref, id, instance) of an iedsim entry log; `instance`
    counts the starts of the simulator."""
    out = []
    inst = -1
    try:
        f = open(path, encoding="utf-8", errors="replace")
    except OSError:
        return out, 0
    with f:
        for line in f:
            p = line.split()
            if len(p) >= 3 and p[1] == "start":
                inst += 1
                continue
            if len(p) < 4:
                continue
            out.append((int(p[0]), p[1], p[2], p[3], inst))
    return out, inst + 1


def read_delivered(path):
    count = collections.Counter()
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f:
                p = line.split()
                if len(p) == 3:
                    count[(p[1], p[2])] += 1
    except OSError:
        pass
    return count


def account(ieds, delivered_path, cut_ms):
    """Every buffered entry made before cut_ms, judged."""
    delivered = read_delivered(delivered_path)
    r = collections.Counter()
    problems = []
    generated = set()
    for ied in ieds:
        lines, instances = read_entries(ied.entries)
        gen = {}
        flags = collections.defaultdict(set)
        for ms, kind, ref, eid, inst in lines:
            key = (ref, eid)
            if kind == "gen":
                gen[key] = (ms, inst)
            elif kind in ("ovfl", "purge", "sent"):
                flags[key].add(kind)
        generated.update(gen)
        # The last entry of each block and instance that tarnmon got.
        last_got = {}
        for (ref, eid), (ms, inst) in gen.items():
            if delivered[(ref, eid)]:
                k = (ref, inst)
                if eid > last_got.get(k, ""):
                    last_got[k] = eid
        for (ref, eid), (ms, inst) in sorted(gen.items(), key=lambda kv: kv[0][1]):
            n = delivered[(ref, eid)]
            if ms >= cut_ms:
                # Made in the last seconds: not owed yet, but never twice.
                if n > 1:
                    r["duplicated"] += 1
                    problems.append("%s %s delivered %d times" % (ref, eid, n))
                else:
                    r["in flight at the end"] += 1
                continue
            r["generated"] += 1
            if n == 1:
                r["delivered once"] += 1
            elif n > 1:
                r["duplicated"] += 1
                problems.append("%s %s delivered %d times" % (ref, eid, n))
            elif "ovfl" in flags[(ref, eid)]:
                r["lost to a full buffer (BufOvfl)"] += 1
            elif "purge" in flags[(ref, eid)]:
                r["purged by a configuration write"] += 1
            elif inst < instances - 1 and eid > last_got.get((ref, inst), ""):
                r["died with a killed IED"] += 1
            else:
                r["lost"] += 1
                problems.append("%s %s (made at %d, %s) never delivered" %
                                (ref, eid, ms, ",".join(sorted(flags[(ref, eid)])) or "never sent"))
    for key, n in delivered.items():
        if key not in generated:
            r["delivered but never made"] += n
            problems.append("%s %s delivered but no IED made it" % key)
    return r, problems


def entries_owed(ieds, delivered_path, cut_ms):
    r, _ = account(ieds, delivered_path, cut_ms)
    return r["lost"]


# ---- the run ----------------------------------------------------------------------------------


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--bin", required=True, help="folder of tarnmon, iedsim and libzorvan_ld.so")
    ap.add_argument("--run", default=os.path.join(ROOT, "run", "soak"))
    ap.add_argument("--ieds", type=int, default=20)
    ap.add_argument("--minutes", type=float, default=10)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--warmup", type=float, default=None, help="seconds before the first fault (default: 10%% of the run, 20..60)")
    ap.add_argument("--quiet-end", type=float, default=None, help="fault-free seconds at the end (default: 15%% of the run, 30..90)")
    ap.add_argument("--growth", type=float, default=5.0, help="allowed resource growth after the warm-up, percent")
    ap.add_argument("--archive-cycle", type=int, default=5)
    ap.add_argument("--collect-every", type=int, default=15)
    ap.add_argument("--check-pass-us", type=int, default=2000)
    a = ap.parse_args()

    duration = a.minutes * 60
    warmup = a.warmup if a.warmup is not None else min(60, max(20, duration * 0.1))
    quiet = a.quiet_end if a.quiet_end is not None else min(90, max(30, duration * 0.15))
    run = os.path.abspath(a.run)
    bin_dir = os.path.abspath(a.bin)
    rng = random.Random(a.seed)
    names = ied_names(a.ieds)

    # ---- fixtures
    for sub in ("tm", "ied"):
        subprocess.call(["rm", "-rf", os.path.join(run, sub)])
    os.makedirs(os.path.join(run, "tm"), exist_ok=True)
    tm_dir = os.path.join(run, "tm")
    dbdir = os.path.join(run, "db")
    ftpdir = os.path.join(run, "ftp")
    failures = []
    ieds = []
    tarnmon = None
    db = ftp = None
    report = "soak: the run did not get to its checks\n"
    try:
        log("MariaDB")
        db_port = int(subprocess.check_output(["bash", os.path.join(ROOT, "scripts", "mariadb.sh"), "start", dbdir]).split()[-1])
        sock = open(os.path.join(dbdir, "socket")).read().strip()
        db = Service("MariaDB", os.path.join(dbdir, "mariadbd.pid"), lambda: db_ready(sock))
        log("FTP server")
        ftp_port = int(subprocess.check_output(["bash", os.path.join(ROOT, "scripts", "ftpd.sh"), "start", ftpdir, "0",
                                                "tarnmon", "tarnmon-ftp-pw"]).split()[-1])
        ftp = Service("FTP server", os.path.join(ftpdir, "ftpd.pid"), lambda: ftp_ready(ftp_port),
                      lambda args: [str(ftp_port) if i > 0 and args[i - 1] == "-p" else v for i, v in enumerate(args)])
        os.makedirs(os.path.join(ftpdir, "root", "comtrade"), exist_ok=True)

        scd = os.path.join(tm_dir, "station.scd")
        make_scd(os.path.join(ROOT, "station", "sample.scd"), scd, names)
        text, mapping = mapping_sql(names)
        sql(dbdir, text)
        write_syscfg(os.path.join(ROOT, "station", "syscfg.ini"), os.path.join(tm_dir, "syscfg.ini"), db_port, ftp_port)

        log("%d IEDs" % len(names))
        for i, n in enumerate(names):
            ied = Ied(run, bin_dir, scd, n, i)
            ied.start()
            ieds.append(ied)
        with open(os.path.join(tm_dir, "station.ini"), "w") as f:
            f.write("# Soak station: %d IEDs of the generated SCD, both networks.\n[station]\nscl = station.scd\n" % len(names))
            for ied in ieds:
                f.write("\n[ied %s]\naddr_a = 127.0.0.1:%d\naddr_b = 127.0.0.2:%d\nchnlA_NO = 1\nchnlB_NO = 2\n" %
                        (ied.name, ied.port_a, ied.port_b))

        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", ZORVAN_STATION=os.path.join(tm_dir, "station.ini"),
                   TARNMON_CHECK_PASS_US=str(a.check_pass_us), TARNMON_ARCHIVE_CYCLE_S=str(a.archive_cycle),
                   TARNMON_COLLECT_EVERY_S=str(a.collect_every), ZORVAN_ENTRY_LOG=os.path.join(tm_dir, "delivered.log"))
        env.pop("DISPLAY", None)
        t0 = now()
        log("tarnmon")
        tarnmon = popen([os.path.join(bin_dir, "tarnmon")], os.path.join(tm_dir, "tarnmon.out"), cwd=tm_dir, env=env)
        sampler = Sampler(tarnmon.pid, os.path.join(run, "resources.csv"))
        sampler.start()

        faults_from, faults_to = t0 + warmup, t0 + duration - quiet
        events = make_schedule(rng, names, faults_from, faults_to)
        with open(os.path.join(run, "schedule.txt"), "w") as f:
            f.write("# seed %d, %d IEDs, %.0f s; seconds after tarnmon started\n" % (a.seed, len(names), duration))
            for e in events:
                f.write(e.text(t0) + "\n")
        log("%d faults scheduled from %.0f s to %.0f s, seed %d (RUN/schedule.txt)" %
            (len(events), warmup, duration - quiet, a.seed))

        byname = {ied.name: ied for ied in ieds}
        counts = collections.Counter()
        disturbed = collections.defaultdict(list)   # IED or "database" -> [(from, to)]
        pending = []   # (at, action)
        queue = sorted(events, key=lambda e: e.at)
        qi = 0
        last_note = t0
        while now() < t0 + duration or pending:
            t = now()
            if tarnmon.poll() is not None:
                failures.append("tarnmon ended by itself (status %s) at %.0f s" % (tarnmon.returncode, t - t0))
                break
            for item in [p for p in pending if p[0] <= t]:
                pending.remove(item)
                item[1]()
            while qi < len(queue) and queue[qi].at <= t:
                e = queue[qi]
                qi += 1
                run_event(e, byname, db, ftp, counts, disturbed, pending, failures)
            if t - last_note >= 30:
                last_note = t
                s = sampler.samples[-1] if sampler.samples else (0, 0, 0, 0)
                log("%4.0f s: %d faults so far; tarnmon %d kB, %d descriptors, %d threads" %
                    (t - t0, sum(counts[k] for k in CONNECTION_FAULTS), s[1], s[2], s[3]))
            if now() >= t0 + duration and not pending:
                break
            time.sleep(0.05)

        # ---- drain: what is owed arrives (bounded)
        log("no more faults; waiting for what is owed")
        # tarnmon hands the FTP server one recording every 5 s: the drain
        # lasts as long as the recordings still owed need.
        owed_files = sum(1 for _, _, n in recordings_of(ieds) if not os.path.exists(os.path.join(ftpdir, "root", "comtrade", n)))
        drain_end = now() + max(60, 4 * a.collect_every, 6 * owed_files + 2 * a.collect_every)
        while now() < drain_end:
            cut = int((now() - 5) * 1000)
            if entries_owed(ieds, os.path.join(tm_dir, "delivered.log"), cut) == 0 and recordings_done(ieds, ftpdir):
                break
            time.sleep(2)
        time.sleep(3)
        t_stop = now()
        cut_ms = int((t_stop - 5) * 1000)
        sampler.halt.set()
        sampler.join()

        log("stopping tarnmon (SIGTERM)")
        tarnmon.terminate()
        try:
            tarnmon.wait(60)
        except subprocess.TimeoutExpired:
            failures.append("tarnmon did not end within 60 s of SIGTERM")
            tarnmon.kill()
            tarnmon.wait()
        if tarnmon.returncode not in (0, -signal.SIGTERM):
            failures.append("tarnmon ended with status %s" % tarnmon.returncode)
        for ied in ieds:
            ied.stop()

        report = evaluate(a, run, tm_dir, dbdir, ftpdir, ieds, mapping, counts, disturbed, sampler.samples,
                          t0, warmup, t_stop, cut_ms, failures)
    finally:
        for ied in ieds:
            try:
                ied.stop()
            except Exception:
                pass
        if tarnmon is not None and tarnmon.poll() is None:
            tarnmon.kill()
        subprocess.call(["bash", os.path.join(ROOT, "scripts", "ftpd.sh"), "stop", ftpdir],
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.call(["bash", os.path.join(ROOT, "scripts", "mariadb.sh"), "stop", dbdir],
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for p in STARTED:
            if p.poll() is None:
                p.kill()
                p.wait()
    with open(os.path.join(run, "soak-report.txt"), "w") as f:
        f.write(report)
    print(report, end="")
    if failures:
        print("FAILED:\n  " + "\n  ".join(failures[:50]))
        return 1
    print("PASSED")
    return 0


def run_event(e, byname, db, ftp, counts, disturbed, pending, failures):
    t = now()
    if e.kind == "database":
        counts["database restart"] += 1
        db.stop()
        disturbed["database"].append((t, t + e.duration + 5))
        pending.append((t + e.duration, db.start))
        return
    if e.kind == "ftp":
        counts["FTP server stop"] += 1
        ftp.stop()
        pending.append((t + e.duration, ftp.start))
        return
    ied = byname[e.target]
    if ied.proc is None or ied.proc.poll() is not None or ied.frozen:
        counts["skipped (IED busy)"] += 1
        return
    if e.kind in ("drop A", "drop B"):
        net = e.kind[-1]
        if ied.ask("drop " + net) is not None:
            counts[e.kind] += 1
            disturbed[ied.name].append((t, t + 5))
    elif e.kind == "refuse":
        for net in e.arg:
            ied.ask("refuse " + net)
            ied.ask("drop " + net)
        counts["refuse"] += 1
        disturbed[ied.name].append((t, t + e.duration + 10))

        def accept(ied=ied, nets=e.arg):
            for net in nets:
                if ied.ask("accept " + net) != "OK":
                    failures.append("%s: accept %s failed" % (ied.name, net))
        pending.append((t + e.duration, accept))
    elif e.kind == "kill":
        ied.kill()
        counts["kill"] += 1
        disturbed[ied.name].append((t, t + e.duration + 15))

        def restart(ied=ied):
            try:
                ied.start()
            except RuntimeError as x:
                failures.append(str(x))
        pending.append((t + e.duration, restart))
    elif e.kind == "freeze":
        ied.freeze(True)
        counts["freeze"] += 1
        disturbed[ied.name].append((t, t + e.duration + 15))
        pending.append((t + e.duration, lambda ied=ied: ied.freeze(False) if ied.frozen else None))
    elif e.kind == "record":
        if (ied.ask("record") or "").startswith("OK"):
            counts["record"] += 1
    elif e.kind == "burst":
        ref, n = e.arg
        if (ied.ask("burst %sMON/%s %d" % (ied.name, ref, n), timeout=30) or "").startswith("OK"):
            counts["burst"] += 1
            counts["burst changes"] += n
    elif e.kind == "malform":
        rcb, kind = e.arg
        answer = ied.ask("malform %sMON/%s %s" % (ied.name, rcb, kind))
        if answer == "OK":
            counts["malformed report"] += 1
            counts["malformed " + kind] += 1
        else:
            counts["malformed report not sent (block not enabled)"] += 1


def recordings_of(ieds):
    out = []
    for ied in ieds:
        d = os.path.join(ied.files, "COMTRADE")
        if os.path.isdir(d):
            out += [(ied, os.path.join(d, n), n) for n in sorted(os.listdir(d)) if n.lower().endswith(".dat")]
    return out


def recordings_done(ieds, ftpdir):
    for _, _, name in recordings_of(ieds):
        if not os.path.exists(os.path.join(ftpdir, "root", "comtrade", name)):
            return False
    return True


def same_file(a, b):
    try:
        with open(a, "rb") as f, open(b, "rb") as g:
            return f.read() == g.read()
    except OSError:
        return False


def evaluate(a, run, tm_dir, dbdir, ftpdir, ieds, mapping, counts, disturbed, samples, t0, warmup, t_stop, cut_ms,
             failures):
    lines = []
    add = lines.append
    load = open("/proc/loadavg").read().split()[:3]
    add("station soak: %d IEDs, %.1f min, seed %d; load average at the end %s" %
        (len(ieds), (t_stop - t0) / 60, a.seed, " ".join(load)))

    # ---- faults
    add("faults injected:")
    conn = sum(counts[k] for k in CONNECTION_FAULTS)
    for k in sorted(counts):
        add("  %-48s %6d" % (k, counts[k]))
    add("  %-48s %6d" % ("connection faults (drop, refuse, kill, freeze)", conn))

    # ---- buffered entries
    r, problems = account(ieds, os.path.join(tm_dir, "delivered.log"), cut_ms)
    add("buffered entries (made before the last 5 s):")
    for k in ["generated", "delivered once", "duplicated", "lost", "delivered but never made",
              "lost to a full buffer (BufOvfl)", "purged by a configuration write", "died with a killed IED",
              "in flight at the end"]:
        add("  %-48s %6d" % (k, r[k]))
    if r["duplicated"] or r["lost"] or r["delivered but never made"] or r["generated"] == 0:
        failures.append("buffered entries: %d lost, %d duplicated, %d unknown of %d" %
                        (r["lost"], r["duplicated"], r["delivered but never made"], r["generated"]))
        failures.extend(problems[:20])

    # ---- reports handled
    reports = 0
    for n in os.listdir(tm_dir):
        if n.startswith("debug") and n.endswith(".log"):
            with open(os.path.join(tm_dir, n), encoding="utf-8", errors="replace") as f:
                reports += sum(1 for line in f if "Receive Report RptID:" in line)
    add("reports handled by tarnmon: %d, %.0f per second" % (reports, reports / max(1.0, t_stop - t0)))

    # ---- recordings
    rows = collections.Counter()
    out = sql(dbdir, "SELECT filename FROM comtradrd;") if os.path.exists(os.path.join(dbdir, "socket")) else ""
    for line in out.splitlines()[1:]:
        rows[line.strip()] += 1
    recs = recordings_of(ieds)
    reads = collections.Counter()
    for ied in ieds:
        try:
            with open(ied.log, encoding="utf-8", errors="replace") as f:
                for line in f:
                    m = re.search(r"file (\S+) closed \((\d+) of (\d+) octets read\)", line)
                    if m and m.group(2) == m.group(3):
                        reads[(ied.name, os.path.basename(m.group(1)))] += 1
        except OSError:
            pass
    bad = []
    for ied, path, name in recs:
        if rows[name] != 1:
            bad.append("%s: %d comtradrd rows" % (name, rows[name]))
        if not same_file(path, os.path.join(ftpdir, "root", "comtrade", name)):
            bad.append("%s: not on the FTP server as the IED has it" % name)
        if not same_file(path, os.path.join(tm_dir, name)):
            bad.append("%s: not in tarnmon's folder as the IED has it" % name)
    refetched = sum(n - 1 for n in reads.values() if n > 1)
    add("recordings: %d made, %d rows in comtradrd, %d read to the end more than once (a fault cut the first answer)" %
        (len(recs), sum(rows.values()), refetched))
    if bad:
        failures.append("recordings: %d problems" % len(bad))
        failures.extend(bad[:20])

    # ---- archived rows
    # The archiving passes, from the debug log's line of each row it writes
    # (a pass runs only when its mapping query succeeded).
    passes = []   # [start, end] of each pass, wall-clock seconds
    for n in sorted(os.listdir(tm_dir)):
        if n.startswith("debug") and n.endswith(".log"):
            with open(os.path.join(tm_dir, n), encoding="utf-8", errors="replace") as f:
                for line in f:
                    if "--->UpdateInsertTable:" in line:
                        m = re.search(r"\((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\)\s*$", line)
                        if m:
                            at = time.mktime(time.strptime(m.group(1), "%Y-%m-%d %H:%M:%S"))
                            if not passes or at - passes[-1][1] > 2:
                                passes.append([at, at])
                            else:
                                passes[-1][1] = at
    gap = max((b[0] - a_[1] for a_, b in zip(passes, passes[1:])), default=0)
    # A row is owed for an equipment and slot when a pass ran inside the
    # slot with the database up through it and the equipment's IED
    # undisturbed for the 10 s before it (its values of that slot in the
    # model, their time stamps in the slot). tarnmon's first 20 s count as
    # disturbed. Rows are filed by their values' time stamps.
    first_slot = int(t0 // SLOT + 1) * SLOT
    last_end = t_stop - a.archive_cycle - 5
    slots = list(range(first_slot, int(last_end // SLOT) * SLOT - SLOT + 1, SLOT))
    have = set()
    tables = sorted({m[2] for m in mapping})
    for table in tables:
        out = sql(dbdir, "SELECT eqmid, unix_timestamp(d_time) FROM %s;" % table)
        for line in out.splitlines()[1:]:
            p = line.split()
            if len(p) == 2:
                have.add((table, int(p[0]), int(float(p[1])) // SLOT * SLOT))

    def touched(windows, lo, hi):
        return any(s_ < hi and e > lo for s_, e in windows)

    owed = missing = 0
    miss = []
    for ied_name, eqmid, table in mapping:
        ied_windows = disturbed[ied_name] + [(t0, t0 + 20)]
        for s in slots:
            if not any(s + 5 <= p0 and p1 < s + SLOT - 1 and not touched(disturbed["database"], p0 - 2, p1 + 2)
                       and not touched(ied_windows, p0 - 10, p1 + 1) for p0, p1 in passes):
                continue
            owed += 1
            if (table, eqmid, s) not in have:
                missing += 1
                miss.append("%s eqmid %d slot %s" % (table, eqmid, time.strftime("%H:%M", time.localtime(s))))
    add("archived rows: %d slots of %d s for %d equipment owed a row, %d missing; %d archiving passes, "
        "longest gap %.0f s" % (owed, SLOT, len(mapping), missing, len(passes), gap))
    if missing:
        failures.append("archive: %d owed rows missing" % missing)
        failures.extend(miss[:20])
    if not owed:
        failures.append("archive: no slot owed a row (no archiving pass in a quiet stretch), nothing checked")

    # ---- resources
    if samples:
        # Before the first fault, against the quiet end.
        w0 = [s for s in samples if t0 + warmup - 15 <= s[0] <= t0 + warmup] or samples[:5]
        w1 = [s for s in samples if s[0] >= t_stop - 20] or samples[-5:]
        # Memory as the median of each window; descriptors and threads as
        # the least of it: a transfer's socket or thread comes and goes,
        # a leak raises the floor.
        add("tarnmon resources         at start   after warm-up      at the end    growth")
        for i, (what, unit) in enumerate([("resident memory", "kB"), ("open descriptors", ""), ("threads", "")], 1):
            pick = statistics.median if i == 1 else min
            a0 = pick(s[i] for s in w0)
            a1 = pick(s[i] for s in w1)
            g = (a1 - a0) * 100.0 / a0 if a0 else 0.0
            peak = max(s[i] for s in samples)
            add("  %-18s %10d %-3s %10.0f %-3s %10.0f %-3s %6.1f %%   (peak %d)" %
                (what, samples[0][i], unit, a0, unit, a1, unit, g, peak))
            if g > a.growth:
                failures.append("%s grew %.1f %% after the warm-up (%.0f -> %.0f)" % (what, g, a0, a1))
    else:
        failures.append("no resource samples of tarnmon")

    # ---- crashes: the stack's log and tarnmon's output
    zlog = "".join(open(os.path.join(tm_dir, n), encoding="utf-8", errors="replace").read()
                   for n in os.listdir(tm_dir) if n.startswith("zorvan") and n.endswith(".log"))
    dropped = len(re.findall(r"report dropped: ", zlog))
    oversized = len(re.findall(r"MMS PDU of \d+ octets refused", zlog))
    broken = len(re.findall(r"channel [AB] lost: ProtocolError", zlog))
    add("reports the stack refused (malformed, repeated or not its blocks): %d log lines; "
        "%d PDUs over the negotiated size; %d channels ended by malformed presentation data" % (dropped, oversized, broken))
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    sys.exit(main())
