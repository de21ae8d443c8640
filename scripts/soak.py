#!/usr/bin/env python3
"""A trading day in a few minutes: the robot headless and watching in group mode with three clients,
the QUIK simulator answering every line, a quote writer rewriting tParam, alert tables preloaded with
old rows, and ALERTS new alerts pushed at RATE per second by this script as the strategy platform.

Prints alerts in, lines out, duplicates, results stored, error lines, insert->line latency and the
robot's resident memory. Exit code 0 when every alert went out exactly once for every client and
every result was stored.

    scripts/soak.py [--preload 100000] [--alerts 10000] [--rate 200] [--keep DIR]
"""
import argparse
import atexit
import os
import re
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build")


def rss_kb(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--preload", type=int, default=100000, help="old rows in each alert table")
    ap.add_argument("--alerts", type=int, default=10000, help="new alerts to push")
    ap.add_argument("--rate", type=float, default=200, help="new alerts per second")
    ap.add_argument("--timeout", type=float, default=900, help="seconds to wait for the results")
    ap.add_argument("--keep", help="make the workspace here and keep it")
    a = ap.parse_args()

    ws = a.keep or tempfile.mkdtemp(prefix="korvex-soak-")
    if a.keep:
        shutil.rmtree(ws, ignore_errors=True)
    os.makedirs(os.path.join(ws, "quik"), exist_ok=True)
    alerts_db, trading_db = os.path.join(ws, "alerts.db"), os.path.join(ws, "trading.db")
    tri, tro = os.path.join(ws, "quik", "trans.tri"), os.path.join(ws, "quik", "trans.tro")
    subprocess.run([os.path.join(BUILD, "tools", "korvex-initdb"), "--alerts", alerts_db], check=True)
    subprocess.run([os.path.join(BUILD, "tools", "korvex-initdb"), "--trading", trading_db, "--demo"], check=True)

    row = ("SBER", "Сбербанк", "LE", "Buy 100 at 285.40 Limit", 285.40, "2026-01-15 11:00:00", "Breakout(20,2)",
           "C:\\Omega\\MyWork\\Trend.orw", "BO-L", "5 min")
    cols = '("Symbol","Description","OrderType","Order","Fill Price","Time Filled","System","Workspace","Signal","Interval")'
    con = sqlite3.connect(alerts_db, timeout=30, isolation_level=None)
    con.execute("PRAGMA journal_mode=WAL")
    con.execute("BEGIN")
    for table in ("FilledOrders", "ActiveOrders", "CanceledOrders"):
        c = cols if table == "FilledOrders" else cols.replace(',"Fill Price","Time Filled"', "")
        r = row if table == "FilledOrders" else row[:4] + row[6:]
        con.executemany(f"INSERT INTO {table} {c} VALUES ({','.join('?' * len(r))})", (r for _ in range(a.preload)))
    con.execute("COMMIT")
    tcon = sqlite3.connect(trading_db, timeout=30, isolation_level=None)
    tcon.execute("BEGIN")
    tcon.executemany("INSERT INTO tParam (code, stock, bid, offer) VALUES (?, ?, ?, ?)",
                     ((f"Q{i}", f"Бумага {i}", i, i + 1) for i in range(500)))
    tcon.execute("COMMIT")
    before = con.execute("SELECT max(ID) FROM FilledOrders").fetchone()[0] or 0

    ini = "\r\n".join([
        "[Position]", "PositionSize=0", "rgpFilled=1", "time1=0:00:00", "time2=23:59:59", "ExitQty=-1", "rgpSingleMulti=1",
        "[Quik]", f"pathTRI={tri}", f"pathTRO={tro}", f"pathInfoLog={os.path.join(ws, 'quik', 'info.log')}", "intTable=1",
        "QuikConnectTimeOut=5", f"Alerts={alerts_db}", f"QuikData={trading_db}", "Connect=-1", "QuikConnect=0",
        "RetryPeriod=60", "[Mail]", "Email1=", "Email2=", ""])
    with open(os.path.join(ws, "Korvex.ini"), "w", encoding="cp1251", newline="") as f:
        f.write(ini)

    procs = []

    def stop_all():
        # Also when this script fails half-way: nothing of the soak stays running.
        for p in procs:
            if p.poll() is None:
                try:
                    os.killpg(p.pid, signal.SIGKILL) if p.args[0] == "sh" else p.kill()
                except OSError:
                    pass

    atexit.register(stop_all)
    out = open(os.path.join(ws, "robot.out"), "wb")
    robot = subprocess.Popen([os.path.join(BUILD, "src", "app", "korvex"), "--headless", "--watch", "--workdir", ws],
                             stdout=out, stderr=subprocess.STDOUT)
    procs.append(robot)
    deadline = time.time() + 30
    while time.time() < deadline and "Загрузка ордеров включена." not in open(os.path.join(ws, "robot.out"), encoding="utf-8", errors="replace").read():
        time.sleep(0.1)
    procs.append(subprocess.Popen([os.path.join(BUILD, "tools", "korvex-quiksim"), "--tri", tri, "--tro", tro, "--infolog",
                                   os.path.join(ws, "quik", "info.log"), "--trading", trading_db, "--poll-ms", "50",
                                   "--quotes-ms", "1000"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    procs.append(subprocess.Popen(["sh", "-c", f"while :; do sqlite3 '{trading_db}' '.timeout 5000' "
                                               "'UPDATE tParam SET bid = bid + 0.01'; sleep 0.2; done"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True))

    # Watch the .TRI: when each TRANS_ID first appears.
    seen_at, stop = {}, threading.Event()
    peak_rss = [0]

    def watch():
        offset, rest = 0, b""
        while not stop.is_set():
            try:
                with open(tri, "rb") as f:
                    f.seek(offset)
                    data = f.read()
            except OSError:
                data = b""
            now = time.time()
            if data:
                offset += len(data)
                lines = (rest + data).split(b"\r\n")
                rest = lines.pop()
                for l in lines:
                    m = re.match(rb"TRANS_ID =(\d+);", l)
                    tid = int(m.group(1)) if m else -1
                    seen_at.setdefault(tid, []).append(now)
            peak_rss[0] = max(peak_rss[0], rss_kb(robot.pid))
            time.sleep(0.002)

    watcher = threading.Thread(target=watch, daemon=True)
    watcher.start()

    inserted_at = {}
    t0 = time.time()
    for i in range(a.alerts):
        wait = t0 + i / a.rate - time.time()
        if wait > 0:
            time.sleep(wait)
        cur = con.execute(f"INSERT INTO FilledOrders {cols} VALUES ({','.join('?' * len(row))})", row)
        inserted_at[cur.lastrowid] = time.time()  # the clock starts after the commit
    push_s = time.time() - t0

    expected = 3 * a.alerts
    deadline = time.time() + a.timeout
    stored = 0
    while time.time() < deadline:
        stored = tcon.execute("SELECT count(*) FROM tOrderNumber WHERE status = 3").fetchone()[0]
        if stored >= expected:
            break
        time.sleep(0.5)
    stop.set()
    watcher.join()
    robot.send_signal(signal.SIGTERM)
    try:
        robot.wait(20)
    except subprocess.TimeoutExpired:
        robot.kill()
    for p in procs[1:]:
        if p.args[0] == "sh":
            os.killpg(p.pid, signal.SIGKILL)
        else:
            p.kill()
        p.wait()

    lines_out = sum(len(v) for k, v in seen_at.items() if k >= 0)
    broken = len(seen_at.get(-1, []))
    duplicates = sum(len(v) - 1 for k, v in seen_at.items() if k >= 0 and len(v) > 1)
    trans_to_alert = dict(tcon.execute("SELECT trans_id, id_order FROM tOrderNumber").fetchall())
    per_alert = {}
    for tid, times in seen_at.items():
        if tid in trans_to_alert:
            per_alert.setdefault(trans_to_alert[tid], []).append(min(times))
    lat = sorted((max(v) - inserted_at[k]) * 1000 for k, v in per_alert.items() if k in inserted_at)
    alerts_out = sum(1 for k, v in per_alert.items() if k in inserted_at and len(v) == 3)
    log = open(os.path.join(ws, "Korvex.log"), encoding="cp1251", errors="replace").read()
    errors = [l for l in log.splitlines() if re.search("ошибк|locked|не отправлен|пропущен|не прошел", l, re.I)]

    def pct(p):
        return lat[min(len(lat) - 1, int(p * len(lat)))] if lat else float("nan")

    print(f"workspace            {ws}")
    print(f"old rows per table   {a.preload}")
    print(f"alerts in            {a.alerts} in {push_s:.1f} s ({a.alerts / push_s:.0f}/s)")
    print(f"alerts out (3 each)  {alerts_out}")
    print(f"lines out            {lines_out} of {expected}, broken {broken}, duplicates {duplicates}")
    print(f"results stored       {stored} of {expected}")
    print(f"error lines          {len(errors)}")
    for l in errors[:5]:
        print(f"    {l}")
    print(f"insert -> last line  median {pct(0.5):.0f} ms, p95 {pct(0.95):.0f} ms, max {pct(1.0):.0f} ms (intTable 1 s)")
    print(f"robot RSS peak       {peak_rss[0] / 1024:.1f} MB")
    ok = alerts_out == a.alerts and lines_out == expected and duplicates == 0 and broken == 0 and stored >= expected and not errors
    if not a.keep:
        shutil.rmtree(ws, ignore_errors=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
