#!/usr/bin/env python3
"""The history as other programs read it: an upgrade against devsim on
loopback, its database read with Python's sqlite3 module and compared with
`upgradectl history --json` and `--csv`; then a run killed with SIGKILL
mid-fleet, whose finished devices must still be there.

    history_readback_test.py UPGRADECTL DEVSIM EXAMPLES_DIR
"""
import csv
import hashlib
import io
import json
import os
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

ctl, sim, examples = sys.argv[1:4]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def start_sim(folder, *options):
    port_file = os.path.join(folder, "port")
    process = subprocess.Popen([sim, "--listen", "127.0.0.1:0", "--port-file", port_file, "--devices", "3",
                                *options], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        if os.path.exists(port_file) and open(port_file).read().strip():
            return process, open(port_file).read().strip()
        time.sleep(0.1)
    process.kill()
    sys.exit("devsim did not report its port")


def ctl_args(port, db):
    return [ctl, "--broadcast", "127.0.0.1", "--port", port, "--wait-ms", "100", "--history", db]


with tempfile.TemporaryDirectory() as folder:
    package = os.path.join(folder, "fw.upk")
    subprocess.run([ctl, "pack", package, "--script", os.path.join(examples, "program.cmd"), "--restrictions",
                    os.path.join(examples, "restriction.ini"), os.path.join(examples, "firmware.bin")],
                   check=True, capture_output=True, timeout=30)
    db = os.path.join(folder, "history.db")

    simulator, port = start_sim(folder)
    try:
        upgrade = subprocess.run(ctl_args(port, db) + ["upgrade", package, "--all", "--yes"],
                                 capture_output=True, text=True, timeout=60)
    finally:
        simulator.terminate()
        simulator.wait(timeout=10)
    check(upgrade.returncode == 0, "the upgrade exits 0: " + upgrade.stderr)

    with sqlite3.connect(db) as connection:
        connection.row_factory = sqlite3.Row
        check(connection.execute("PRAGMA user_version").fetchone()[0] == 2, "schema 2")
        check(connection.execute("PRAGMA journal_mode").fetchone()[0] == "wal", "WAL mode")
        runs = connection.execute("SELECT * FROM runs").fetchall()
        devices = connection.execute("SELECT * FROM device_runs ORDER BY id DESC").fetchall()
    check(len(runs) == 1 and len(devices) == 3, "one run of three devices")
    digest = hashlib.sha256(open(package, "rb").read()).hexdigest()
    check(runs[0]["package_sha256"] == digest, "the package's SHA-256")
    check(runs[0]["exit_code"] == 0 and runs[0]["ended_utc"], "the run's end")
    check([d["result"] for d in devices] == ["upgraded"] * 3, "three upgraded")

    read = subprocess.run(ctl_args(port, db) + ["--json", "history"], capture_output=True, text=True, timeout=30)
    entries = json.loads(read.stdout)
    check(len(entries) == 3, "history --json lists three")
    for entry, row in zip(entries, devices):
        for column in row.keys():
            if column in ("id", "run_id"):
                continue
            # An empty text is null in --json, as in upgrade --json.
            expected = None if row[column] == "" else row[column]
            check(entry.get(column) == expected, "--json %s of %s" % (column, row["mac"]))
        check(entry["package_sha256"] == digest and entry["run_finished"] is True, "--json run fields")

    table = subprocess.run(ctl_args(port, db) + ["history", "--csv"], capture_output=True, timeout=30)
    rows = list(csv.DictReader(io.StringIO(table.stdout.decode(), newline="")))
    check([r["mac"] for r in rows] == [e["mac"] for e in entries], "--csv lists what --json lists")
    check(all(r["result"] == "upgraded" and r["exit_code"] == "0" for r in rows), "--csv fields")

    # Killed mid-fleet: one device never answers ERASE and is retried on
    # and on; the devices done before it keep their rows.
    killed_db = os.path.join(folder, "killed.db")
    os.remove(os.path.join(folder, "port"))
    simulator, port = start_sim(folder, "--silent", "ERASE", "--fault-device", "02:00:00:00:00:01")
    try:
        run = subprocess.Popen(ctl_args(port, killed_db) + ["upgrade", package, "--all", "--yes", "--retries",
                                                            "50"], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        done = []
        for _ in range(300):
            time.sleep(0.1)
            if os.path.exists(killed_db):
                with sqlite3.connect(killed_db) as connection:
                    try:
                        done = connection.execute("SELECT mac, result FROM device_runs").fetchall()
                    except sqlite3.OperationalError:
                        done = []
            if len(done) == 2:
                break
        run.send_signal(signal.SIGKILL)
        run.wait(timeout=10)
    finally:
        simulator.terminate()
        simulator.wait(timeout=10)
    check(sorted(done) == [("02:00:00:00:00:02", "upgraded"), ("02:00:00:00:00:03", "upgraded")],
          "two devices done before the kill: %s" % done)
    with sqlite3.connect(killed_db) as connection:
        left = connection.execute("SELECT ended_utc, exit_code FROM runs").fetchall()
        rows = connection.execute("SELECT mac FROM device_runs ORDER BY mac").fetchall()
    check(left == [(None, None)], "the killed run has no end: %s" % left)
    check(rows == [("02:00:00:00:00:02",), ("02:00:00:00:00:03",)], "their rows stay: %s" % rows)
    unfinished = json.loads(subprocess.run(ctl_args(port, killed_db) + ["--json", "history"], capture_output=True,
                                           text=True, timeout=30).stdout)
    check([e["run_finished"] for e in unfinished] == [False, False], "history says the run did not finish")

for failure in failures:
    print("FAIL:", failure, file=sys.stderr)
print("%d failures" % len(failures))
sys.exit(1 if failures else 0)
