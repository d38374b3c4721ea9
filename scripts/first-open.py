#!/usr/bin/env python3
"""The first open of a picture, as a user meets it: every sample is a fresh process.

Ours is File > Open after the program's start-up (the open alone is timed); each
reference decoder (libjpeg-turbo, libpng, giflib with the palette lookup, a plain read
of the rows with the fourth byte added for BMP) decodes the same file into a fresh block
of the final 32-bit bitmap's size. The plain read of the BMP alone, which leaves a
quarter of that block untouched, is printed beside it for information.
Ours and the reference take turns, five samples each by default, and the medians are
compared; the peak memory each open adds is printed against the final bitmap.

    python3 scripts/first-open.py [BUILD_DIR] [--runs N]

Needs build/bench/bench_first_open (a Release tree with the benchmarks).
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile

FORMATS = [("JPEG", "open.jpg"), ("PNG", "open.png"), ("GIF", "open.gif"), ("BMP", "open.bmp")]
REQUIRED_RATIO = 0.9
REQUIRED_PEAK = 1.5


def sample(driver, mode, path):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    out = subprocess.run([driver, mode, path], env=env, check=True, capture_output=True, text=True).stdout
    ms, cpu_ms, peak_kib, bitmap_kib = out.split()[-4:]
    return float(ms), int(peak_kib), int(bitmap_kib), float(cpu_ms)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build", nargs="?", default="build")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    driver = os.path.join(args.build, "bench", "bench_first_open")
    if not os.access(driver, os.X_OK):
        sys.exit(f"{driver} not found: build the benchmarks first (ninja -C {args.build} bench_first_open)")
    with tempfile.TemporaryDirectory(prefix="kv_first_open_") as folder:
        made = subprocess.run([driver, "make", folder], check=True, capture_output=True, text=True).stdout
        print(made.strip())
        ours = {name: [] for name, _ in FORMATS}
        ref = {name: [] for name, _ in FORMATS}
        plain = []
        for run in range(args.runs):
            for name, file in FORMATS:
                path = os.path.join(folder, file)
                # Take turns, and swap who goes first each run, so a busy spell or the
                # page cache favours neither side.
                order = [("ours", ours), ("ref", ref)]
                if run % 2:
                    order.reverse()
                for mode, into in order:
                    into[name].append(sample(driver, mode, path))
                if name == "BMP":
                    plain.append(sample(driver, "plain", path))
        print(f"first open, fresh process each, medians of {args.runs} (ratio = reference / ours, above 1: ours faster)")
        for name, _ in FORMATS:
            o_ms = statistics.median(s[0] for s in ours[name])
            r_ms = statistics.median(s[0] for s in ref[name])
            o_peak = statistics.median(s[1] for s in ours[name])
            r_peak = statistics.median(s[1] for s in ref[name])
            bitmap = ours[name][0][2]
            ratio = r_ms / o_ms if o_ms > 0 else 0
            # Threads at work: processor time over wall time, at least one.
            o_threads = max(1.0, statistics.median(s[3] / s[0] for s in ours[name]))
            r_threads = max(1.0, statistics.median(s[3] / s[0] for s in ref[name]))
            ok = ratio >= REQUIRED_RATIO and o_peak <= REQUIRED_PEAK * bitmap
            print(f"{name:4} ratio {ratio:5.2f}  ours {o_ms:8.1f} ms, reference {r_ms:8.1f} ms (threads at work: ours {o_threads:.1f}, reference {r_threads:.1f}); "
                  f"peak ours {o_peak / bitmap:4.2f} x, reference {r_peak / bitmap:4.2f} x the bitmap "
                  f"({bitmap / 1024:.1f} MiB)  {'meets' if ok else 'BELOW'} {REQUIRED_RATIO} / {REQUIRED_PEAK} x")
        o_ms = statistics.median(s[0] for s in ours["BMP"])
        p_ms = statistics.median(s[0] for s in plain)
        print(f"BMP  against the plain read of the file alone (informative): ratio {p_ms / o_ms:5.2f}  "
              f"ours {o_ms:8.1f} ms, plain read {p_ms:8.1f} ms (one thread each)")


if __name__ == "__main__":
    main()
