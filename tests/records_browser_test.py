#!/usr/bin/env python3
"""zar-records' HTML page in a real browser: headless Chromium takes a
screenshot, which must have the window's size, be mostly drawn (not blank)
and show the charts' colours. Skipped (77) where Chromium is not installed.

    records_browser_test.py ZAR_SIM ZAR_RECORDS
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

SIM, RECORDS = (os.path.abspath(p) for p in sys.argv[1:3])
WIDTH, HEIGHT = 1000, 1400
OK_GREEN, FAILED_RED = (0x2E, 0x7D, 0x32), (0xC6, 0x28, 0x28)  # HtmlReport.cpp's colours


def read_png(path):
    """(width, height, rows of RGB tuples) of an 8-bit RGB or RGBA PNG."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    at, idat = 8, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            assert depth == 8 and colour in (2, 6), f"bit depth {depth}, colour type {colour}"
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    step = 3 if colour == 2 else 4
    raw, stride = zlib.decompress(idat), width * step
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):  # PNG's five filters
            a = line[x - step] if x >= step else 0
            b, c = previous[x], previous[x - step] if x >= step else 0
            if kind == 1:
                line[x] = (line[x] + a) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + b) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows.append([tuple(line[i:i + 3]) for i in range(0, stride, step)])
        previous = line
    return width, height, rows


def near(pixel, colour):
    return all(abs(p - c) <= 10 for p, c in zip(pixel, colour))


def main():
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if browser is None:
        print("SKIP: chromium is not installed (tools/install-deps.sh installs it)")
        return 77
    with tempfile.TemporaryDirectory() as work:
        os.chdir(work)
        image = bytearray((i * 7 + (i >> 8)) & 0xFF for i in range(0x23456))
        open("img.bin", "wb").write(image)
        for serial, fault in (("SN-1", []), ("SN-2", ["--fault", "stuck-bits=0x11234"]), ("SN-2", []), ("SN-3", [])):
            subprocess.run([SIM, "--machine", f"ACME,X1,{serial}", "--station", "LINE-1", *fault, "/log", "line.log",
                            "img.bin", "p"], capture_output=True, timeout=60)
        subprocess.run([RECORDS, "line.log", "--html", "line.html"], capture_output=True, timeout=60, check=True)
        shot = subprocess.run(
            [browser, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync", "--hide-scrollbars",
             f"--user-data-dir={work}/profile", f"--window-size={WIDTH},{HEIGHT}", f"--screenshot={work}/shot.png",
             f"file://{work}/line.html"], capture_output=True, timeout=90)
        if not os.path.exists("shot.png"):
            print(f"FAIL: no screenshot (status {shot.returncode}): {shot.stderr.decode(errors='replace')[-2000:]}")
            return 1
        width, height, rows = read_png("shot.png")
    pixels = [p for row in rows for p in row]
    drawn = sum(1 for p in pixels if min(p) < 235)
    green = sum(1 for p in pixels if near(p, OK_GREEN))
    red = sum(1 for p in pixels if near(p, FAILED_RED))
    checks = [
        ("the window's size", (width, height) == (WIDTH, HEIGHT), f"{width}x{height}"),
        ("mostly drawn, not blank", drawn > len(pixels) // 50, f"{drawn} of {len(pixels)} pixels"),
        ("the charts' OK bars", green > 2000, f"{green} green pixels"),
        ("the charts' failed bars", red > 500, f"{red} red pixels"),
    ]
    failed = [f"FAIL: {name}: {detail}" for name, good, detail in checks if not good]
    print("\n".join(failed) or "")
    print(f"{len(checks) - len(failed)} passed, {len(failed)} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
