#!/usr/bin/python3
"""JUnit reports of tessaly-cli mfg-test as a production line merges them.

Five boards, each behind its own emulator on 127.0.0.1 (one of them answers with
damaged datagrams), run the manufacturer test at once with --junit and --json. The
reports are merged and read back with Debian's python3-junitparser: the failure
must be visible and attributed to its board, and every attribute a reader shows
must be there. Everything is sent to 127.0.0.1 only.

Usage: run.py EMULATOR CLI
"""
import json
import os
import re
import subprocess
import sys
import tempfile
import time

try:
    from junitparser import JUnitXml
except ImportError:
    sys.exit("python3-junitparser not found: run scripts/deps.sh")

emulator, cli = sys.argv[1], sys.argv[2]
problems = []


def check(ok, what):
    if not ok:
        problems.append(what)


def start_emulator(work, name, args):
    out = open(os.path.join(work, name + ".out"), "w+")
    p = subprocess.Popen([emulator, "--listen", "127.0.0.1:0"] + args, stdout=out, stderr=subprocess.STDOUT)
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        out.seek(0)
        m = re.search(r"listening on 127\.0\.0\.1:(\d+)", out.read())
        if m:
            return p, int(m.group(1))
        time.sleep(0.05)
    p.kill()
    sys.exit("the emulator did not start")


def cli_run(work, port, args):
    link = ["--device", "127.0.0.1", "--device-port", str(port), "--host-port", "0"]
    return subprocess.Popen([cli] + link + args, cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


with tempfile.TemporaryDirectory() as work:
    # Boards 1..4 are good (serial 30001.., SDI address 1..4); board 5 damages every answer.
    boards = []
    try:
        for n in range(1, 6):
            args = ["--erase-ms", "1000"] + (["--sdi-address", str(n)] if n < 5 else ["--corrupt", "1", "--seed", "3"])
            p, port = start_emulator(work, "emu%d" % n, args)
            boards.append({"n": n, "emu": p, "port": port, "serial": 30000 + n})
        for b in boards[:4]:
            r = cli_run(work, b["port"], ["--sdi", str(b["n"]), "set-serial", str(b["serial"])])
            r.communicate(timeout=10)
            check(r.returncode == 0, "set-serial on board %d: exit %d" % (b["n"], r.returncode))
        runs = [(b, cli_run(work, b["port"], ["mfg-test", "--pid3", "off", "--json", "--junit", "board%d.xml" % b["n"]]))
                for b in boards]
        for b, r in runs:
            out, err = r.communicate(timeout=60)
            b["exit"], b["json"] = r.returncode, out
    finally:
        for b in boards:
            b["emu"].terminate()
            b["emu"].wait(5)

    good, bad = boards[:4], boards[4]
    for b in good:
        check(b["exit"] == 0, "board %d: exit %d" % (b["n"], b["exit"]))
    check(bad["exit"] == 3, "the faulty board: exit %d" % bad["exit"])

    # --json: one object, the steps with status, message and duration.
    for b in boards:
        try:
            j = json.loads(b["json"])
        except ValueError:
            problems.append("board %d: --json printed %r" % (b["n"], b["json"][:200]))
            continue
        statuses = [s["status"] for s in j["steps"]]
        want = ["passed"] * 5 if b in good else ["failed"] + ["skipped"] * 4
        check(statuses == want, "board %d: JSON step statuses %s" % (b["n"], statuses))
        check(j["ok"] == (b in good), "board %d: JSON ok" % b["n"])
        for s in j["steps"]:
            check(isinstance(s["duration_s"], (int, float)) and s["duration_s"] >= 0, "board %d: JSON duration" % b["n"])
            check(isinstance(s["message"], str), "board %d: JSON message" % b["n"])
        if b is bad:
            check(j["steps"][0]["message"] == "Error: Unknown message received.", "JSON failure message %r" % j["steps"][0])
        else:
            check(j["board"]["serial"] == b["serial"] and j["board"]["sdi_address"] == b["n"], "board %d: JSON board" % b["n"])

    # Merged as a line merges them, written and read back.
    merged = JUnitXml()
    for b in boards:
        merged += JUnitXml.fromfile(os.path.join(work, "board%d.xml" % b["n"]))
    merged.write(os.path.join(work, "merged.xml"))
    back = JUnitXml.fromfile(os.path.join(work, "merged.xml"))

    suites = list(back)
    check(len(suites) == 5, "%d suites in the merged report" % len(suites))
    check(len({s.name for s in suites}) == 5, "the suites' names are not distinct")
    failed = []
    for s in suites:
        m = re.fullmatch(r"mfg-test serial (\d+|unknown) sdi (\d+) @ 127\.0\.0\.1:(\d+)", s.name or "")
        check(m is not None, "suite name %r" % s.name)
        if not m:
            continue
        board = next((b for b in boards if b["port"] == int(m.group(3))), None)
        check(board is not None, "suite %r names no board's controller" % s.name)
        if board is None:
            continue
        if board in good:
            check(m.group(1) == str(board["serial"]) and m.group(2) == str(board["n"]), "suite %r is not its board" % s.name)
        for attr in ("tests", "failures", "errors", "skipped", "time", "timestamp", "hostname"):
            check(s._elem.get(attr) not in (None, ""), "suite %r has no %s" % (s.name, attr))
        check(re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?(Z|[+-]\d\d:?\d\d)?", s.timestamp or "") is not None,
              "timestamp %r" % s.timestamp)
        props = {p.name: p.value for p in s.properties()}
        for key in ("controller", "sdi_address", "device_code", "serial", "version", "type",
                    "test_port", "pid1", "pid2", "pid3", "multicast"):
            check(key in props, "suite %r has no property %s" % (s.name, key))
        check(props.get("controller") == "127.0.0.1:%d" % board["port"], "controller property %r" % props.get("controller"))
        check(props.get("pid3") == "off", "the run's option pid3: %r" % props.get("pid3"))
        out = s._elem.find("system-out")
        check(out is not None and "Step 1/5" in (out.text or ""), "suite %r: system-out without the run's lines" % s.name)
        cases = list(s)
        check(len(cases) == 5 and s.tests == 5, "suite %r: %d cases" % (s.name, len(cases)))
        for c in cases:
            check(c.classname == s.name, "case %r: classname %r" % (c.name, c.classname))
            check(c._elem.get("time") is not None and c.time >= 0, "case %r: no time" % c.name)
        if s.failures or s.errors:
            failed.append((s, board, cases))
    check(len(failed) == 1, "%d suites failed" % len(failed))
    if failed:
        s, board, cases = failed[0]
        check(board is bad, "the failure is attributed to board %d" % board["n"])
        check((s.failures, s.errors, s.skipped) == (1, 0, 4),
              "failed run: failures %s errors %s skipped %s" % (s.failures, s.errors, s.skipped))
        first = cases[0].result
        check(cases[0].name == "1. Set up NCOs and stream formats" and len(first) == 1
              and first[0]._tag == "failure" and first[0].message == "Error: Unknown message received.",
              "the failure is not on its step: %r" % [(c.name, [r._tag for r in c.result]) for c in cases])
        check(all(c.is_skipped for c in cases[1:]), "the steps after the failure are not skipped")

if problems:
    print("FAIL:\n  " + "\n  ".join(problems), file=sys.stderr)
    sys.exit(1)
print("5 reports merged and read back; the failure is on board at 127.0.0.1:%d" % bad["port"])
