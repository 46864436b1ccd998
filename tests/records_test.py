#!/usr/bin/env python3
"""zar-records on logs made by real zar-sim runs: a small line of machines,
every verb and road, old and hostile logs, the reports.

    records_test.py ZAR_SIM ZAR_RECORDS
"""
import csv
import os
import re
import sqlite3
import subprocess
import sys
import tempfile
import zlib

SIM, RECORDS = (os.path.abspath(p) for p in sys.argv[1:3])
failures = 0
passes = 0


def check(name, condition, detail=""):
    global failures, passes
    if condition:
        passes += 1
    else:
        failures += 1
        print(f"FAIL: {name}" + (f": {detail}" if detail else ""))


def run(program, *args):
    done = subprocess.run([program, *args], capture_output=True, timeout=120)
    return done.returncode, done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace")


def sim(*args, machine="ACME,X1,SN-0", station=None):
    extra = ["--machine", machine] + (["--station", station] if station else [])
    return run(SIM, *extra, *args)[0]


def rows(db, where="1"):
    with sqlite3.connect(db) as con:
        con.row_factory = sqlite3.Row
        return [dict(r) for r in con.execute(f"SELECT * FROM runs WHERE {where} ORDER BY id")]


def ends(log):
    return [l for l in open(log, "rb").read().decode(errors="replace").split("\r\n") if l.startswith("ZAR-END ")]


def line_of_machines(image, crc):
    """Six runs over two logs: five serials, one failure and its rerun, one
    record cut in half by a power loss."""
    sim("/log", "a.log", "img.bin", machine="ACME,X1,SN-1", station="LINE-1")
    sim("--fault", "stuck-bits=0x11234", "/log", "a.log", "img.bin", "p", machine="ACME,X1,SN-2", station="LINE-1")
    sim("/log", "a.log", "img.bin", "p", machine="ACME,X1,SN-2", station="LINE-1")
    sim("/log", "b.log", "/update", "img.bin", "p", machine="ACME,X1,SN-3", station="LINE-2")
    sim("/log", "b.log", "img.bin", "p", "x", "/j", machine="ACME,X1,SN-4", station="LINE-2")
    before = os.path.getsize("b.log")
    sim("/log", "b.log", "img.bin", machine="ACME,X1,SN-5", station="LINE-2")
    whole = open("b.log", "rb").read()
    open("b.log", "wb").write(whole[: before + (len(whole) - before) // 2])

    for log in ("a.log", "b.log"):
        for end in ends(log):
            check(f"{log}: a duration", re.search(r" duration=\d+ms ", end), end)
            check(f"{log}: the image's CRC-32", f" image-crc32={crc:08X} " in end, end)
            check(f"{log}: the station", re.search(r' station="LINE-[12]" ', end), end)
    check("the module name as the EC gave it", ' module="CLIMOD rev 1" ' in ends("a.log")[0], ends("a.log")[0])

    status, out, err = run(RECORDS, "a.log", "b.log")
    table = rows("zar-records.sqlite")
    check("six runs import into six rows", status == 0 and len(table) == 6, f"{status} {len(table)} {err}")
    check("one of them incomplete", [r["serial"] for r in table if r["complete"] == 0] == ["SN-5"])
    check("the cut record is said", "the record ends before its ZAR-END" in err, err)
    status, out, err = run(RECORDS, "b.log", "a.log")
    check("importing again adds nothing", len(rows("zar-records.sqlite")) == 6 and "0 new, 6 already" in out, out)
    first = table[0]
    check("a row's columns", (first["serial"], first["verb"], first["status"], first["station"], first["image"],
                              first["image_crc32"], first["chip"], first["written"]) ==
          ("SN-1", "flash", "OK", "LINE-1", "img.bin", f"{crc:08X}", "W25X40", 3), first)
    check("an ISO 8601 start", re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d", first["started"] or ""), first)
    check("update's counts", [(r["verb"], r["sectors_written"], r["erase_4k"] is not None) for r in table][3] ==
          ("update", 36, True), table[3])

    # First pass: SN-1, SN-3, SN-4 of five; final: SN-2's rerun too. SN-5 was cut short.
    check("machines", re.search(r"machines +5 \(by serial\)", out), out)
    check("first-pass yield", "first-pass yield    60.0 % (3 of 5" in out, out)
    check("final yield", "final yield         80.0 % (4 of 5" in out, out)
    check("statuses", re.search(r"OK +4\n", out) and re.search(r"FLASH_FAILED +1\n", out) and
          re.search(r"INCOMPLETE +1\n", out), out)
    check("yield by image, name and CRC", re.search(rf"img.bin {crc:08X} +5 +4 +1 +80.0 %", out) and
          re.search(r"img.bin \(no CRC\) +1 +0 +1 +0.0 %", out), out)
    check("yield by station, the cut run's from its log", re.search(r"LINE-1 +3 +2 +1 +66.7 %", out) and
          re.search(r"LINE-2 +3 +2 +1 +66.7 %", out), out)
    check("a median and a 95th percentile", re.search(r"median \d+\.\d{3} s, 95th percentile \d+\.\d{3} s \(4 ", out),
          out)
    check("no alarm by default", status == 0 and "STOP THE LINE" not in out, out)

    status, out, err = run(RECORDS, "--stop-after", "3,30", "--csv", "runs.csv", "--html", "line.html")
    check("stop the line", status == 1 and 'STOP THE LINE: station "LINE-1": 1 of its last 3 flashing runs' in out,
          out)
    table = list(csv.reader(open("runs.csv", newline="")))
    check("CSV: a header and six rows", len(table) == 7 and table[0][:2] == ["id", "log"], table[:2])
    check("CSV: the columns", all(c in table[0] for c in ("serial", "verb", "status", "complete", "started",
                                                             "duration_ms", "chip", "image", "image_crc32", "station")))
    page = open("line.html", encoding="utf-8").read()
    svg = "".join(re.findall(r"<svg.*?</svg>", page, re.S))
    check("HTML: an inline SVG chart naming the serials", all(f">SN-{n}<" in svg for n in range(1, 6)), svg[:300])
    check("HTML: self-contained", not re.search(r"<script|https?://|<link|@import|src=", page))
    check("HTML: the alarm", 'STOP THE LINE: station &quot;LINE-1&quot;' in page)


def every_road():
    """Each verb, and the roads that refuse or end early, each one record."""
    cases = [  # zar-sim's options, the flasher's words, the verb and status recorded
        ([], ["/probe"], "probe", "OK"),
        ([], ["/read", "copy.bin"], "read", "OK"),
        ([], ["/verify", "img.bin", "p"], "verify", "FLASH_FAILED"),  # the chip holds its pattern
        ([], ["/keep", "70000-7FFFF", "/update", "img.bin", "p"], "update", "OK"),
        (["--ec-module", "OTHER"], ["img.bin"], "flash", "MODULE_MISMATCH"),
        ([], ["nothere.bin"], "flash", "BAD_IMAGE"),
        ([], ["/read"], "read", "BAD_IMAGE"),
        (["--fault", "chip-absent"], ["img.bin", "p"], "flash", "NO_ANSWER"),
        ([], [], "usage", "OK"),
    ]
    for options, words, _, _ in cases:
        sim(*options, "/log", "roads.log", *words)
    # A closing command the EC never takes: the record gains a ZAR-AFTER.
    run(SIM, "--trace", "count.txt", "img.bin", "p")
    writes = sum(1 for l in open("count.txt") if l.startswith("out"))
    sim("--wait-limit", "200", "--fault", f"ec-ibf-stuck={writes - 1}", "/log", "roads.log", "img.bin", "p")
    status, out, err = run(RECORDS, "--db", "roads.sqlite", "roads.log")
    table = rows("roads.sqlite")
    got = [(r["verb"], r["status"]) for r in table]
    want = [(verb, status) for _, _, verb, status in cases] + [("flash", "NO_ANSWER")]
    check("every road: verb and status", got == want, f"{got} {err}")
    check("every road: complete", all(r["complete"] == 1 for r in table), err)
    check("the status after a closing command not taken", (table[-1]["amended"], table[-1]["close"]) == (1, "FE"),
          table[-1])
    check("no image, no CRC", [r["image_crc32"] is None for r in table[:3]] == [True, True, False])
    check("read's image is its file", table[1]["image"] == "copy.bin")
    check("no flashing run, no machine", "machines            1 (by serial)" in out, out)


def old_and_hostile_logs(crc):
    # A record from before durations in ms, CRCs and stations: it still reads.
    old = ('ZAR-RUN date=2026-03-01 time=08:00:00 version=3.4.0 manufacturer="A" product="B" serial="OLD-1"\r\n'
           'ZAR-CMD zar /log old.log /update ec.bin p\r\n  Reading...\r\n'
           'ZAR-END serial="OLD-1" image="ec.bin" size=4096 checksum=1A2B chip="W25X40" maker="Winbond" id=EF301300 '
           'written=1 unchanged=0 failed=0 sectors-written=1 sectors-equal=0 sectors-kept=0 erase-64k=0 erase-4k=1 '
           'programmed=4096 duration=12s status=0 (OK) close=FE (FOLLOW_EXIT)\r\n')
    open("old.log", "w", newline="").write(old)
    status, out, err = run(RECORDS, "--db", "old.sqlite", "old.log")
    r = rows("old.sqlite")
    check("an older record", status == 0 and len(r) == 1 and (r[0]["duration_ms"], r[0]["image_crc32"], r[0]["station"])
          == (12000, None, None), f"{r} {err}")

    # Garbage is not a log: refused, nothing imported, not even the good log.
    open("garbage.bin", "wb").write(bytes(range(256)) * 8)
    status, out, err = run(RECORDS, "--db", "g.sqlite", "a.log", "garbage.bin")
    check("binary garbage is refused", status == 2 and
          "garbage.bin is not a ZAR log (it does not begin with \"ZAR-RUN \"): nothing was imported" in err, err)
    check("nothing imported beside it", not os.path.exists("g.sqlite"))

    # Names with quotes and backslashes, and a serial a spreadsheet would run.
    sim("/log", "names.log", "img.bin", "p", machine='Q"uo\\te,P\\,=1+1', station='st "7" \\x22')
    status, out, err = run(RECORDS, "--db", "names.sqlite", "names.log", "--csv", "names.csv", "--html", "names.html")
    r = rows("names.sqlite")[0]
    check("quotes and backslashes read back exactly", (r["manufacturer"], r["product"], r["serial"], r["station"]) ==
          ('Q"uo\\te', "P\\", "=1+1", 'st "7" \\x22'), r)
    row = list(csv.DictReader(open("names.csv", newline="")))[0]
    check("CSV: quotes kept, a formula defused", (row["station"], row["serial"]) == ('st "7" \\x22', "'=1+1"), row)
    page = open("names.html", encoding="utf-8").read()
    check("HTML: quotes escaped", "st &quot;7&quot; \\x22" in page and 'st "7"' not in page)

    # Cut in the middle of a field, damaged in the middle, garbage after a
    # record, zeros at the end: what can be read is, each said with its line.
    good = open("a.log", "rb").read()
    first_end = good.index(b"\r\nZAR-RUN ") + 2
    damaged = good[:first_end].replace(b'serial="SN-1"', b'serial="SN-1', 1)  # its ZAR-RUN loses a quote
    cut = good[first_end:].rsplit(b"ZAR-END ", 1)
    cut_in_field = cut[0] + b"ZAR-END " + cut[1][: cut[1].index(b'image="') + 9]
    open("hostile.log", "wb").write(damaged + good[first_end:] + b"\x01\x02 binary\r\n" + cut_in_field + b"\0" * 300)
    status, out, err = run(RECORDS, "--db", "hostile.sqlite", "hostile.log")
    r = rows("hostile.sqlite")
    check("hostile: the rest imported", status == 0 and [(x["serial"], x["complete"]) for x in r] ==
          [("SN-2", 1), ("SN-2", 1), ("SN-2", 0)], f"{[(x['serial'], x['complete']) for x in r]} {err}")
    check("hostile: the damaged record named", "hostile.log:1: damaged record skipped: its ZAR-RUN line: a quoted "
                                               "value without its closing quote" in err, err)
    check("hostile: garbage after a record", re.search(r"hostile.log:\d+: text outside any record: ignored", err), err)
    check("hostile: the cut field", re.search(r"hostile.log:\d+: the record is cut short in its last line: kept as "
                                              r"incomplete", err), err)
    check("hostile: the zeros", "hostile.log: 300 zero bytes at its end" in err, err)

    # A report never replaces a log or a database; a log is no database.
    before = open("a.log", "rb").read()
    status, out, err = run(RECORDS, "--db", "names.sqlite", "--csv", "a.log")
    check("a report never replaces a log", status == 2 and open("a.log", "rb").read() == before, err)
    status, out, err = run(RECORDS, "--db", "a.log")
    check("a log is no database", status == 2 and "can't be used" in err and open("a.log", "rb").read() == before,
          err)
    status, out, err = run(RECORDS, "--db", "none.sqlite")
    check("no database, no logs", status == 2 and not os.path.exists("none.sqlite"), err)


def help_and_man_page():
    """--help and the man page name the same options, and a bad one is refused."""
    status, out, err = run(RECORDS, "--help")
    man = open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "zar-records.1")).read()
    listed = sorted(re.findall(r"^  (--[a-z-]+)", out, re.M))
    documented = sorted(o.replace("\\-", "-") for o in re.findall(r"^\.BI? (\\-\\-[a-z\\-]+)", man, re.M))
    check("help and man page name the same options", status == 0 and listed == documented, f"{listed} {documented}")
    for bad in (["--bogus"], ["--stop-after", "0,10"], ["--stop-after", "20,101"], ["--db"]):
        status, out, err = run(RECORDS, *bad)
        check(f"{bad} refused", status == 2 and ("see --help" in err or "--stop-after is N,PERCENT" in err), err)


def main():
    with tempfile.TemporaryDirectory() as work:
        os.chdir(work)
        image = bytearray((i * 7 + (i >> 8)) & 0xFF for i in range(2 * 0x10000 + 0x3456))
        image[0x50:0x70] = b"CLIMOD rev 1".ljust(32, b" ")
        open("img.bin", "wb").write(image)
        crc = zlib.crc32(image)
        line_of_machines(image, crc)
        every_road()
        old_and_hostile_logs(crc)
        help_and_man_page()
    print(f"{passes} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
