#!/usr/bin/python3
"""`quorbin -f png` against Pillow saving the same picture as PNG with its defaults.

On the 2048x2048 sample kinds, each with its palette in the generator's order
(index order follows colour for the four kinds: flat, photo, dithered, noise)
and shuffled (the same picture, other indices), and the two median-cut
pictures: the size of each PNG, the whole quorbin process's wall time (best of
N runs, process start included) against Pillow's save time inside Python
(best of N, no interpreter start), and the peak memory (resident set) of a PNG
conversion against a BMP conversion, whose time is given too.  Exits with 1
when any quorbin file is larger than Pillow's.

    /usr/bin/python3 bench/png_vs_pillow.py [RUNS]

Needs the bench preset built (cmake --workflow --preset bench) and Debian's
python3-pil; the interpreter is Debian's, whose Pillow that is.
"""
import io
import os
import subprocess
import sys
import tempfile
import time

from PIL import Image

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "bench")
QUORBIN = os.path.join(BUILD, "quorbin")
KINDS = ["flat", "photo", "dithered", "noise", "mcut", "mcut-dithered"]
ORDERS = ["", "-shuffled"]


def best_of(runs, action):
    best = float("inf")
    for _ in range(runs):
        start = time.perf_counter()
        action()
        best = min(best, time.perf_counter() - start)
    return best * 1000


def peak_kib(args, cwd):
    """Peak resident set of one run of `args`, in KiB, as GNU time reports it."""
    result = subprocess.run(["/usr/bin/time", "-f", "%M"] + args, cwd=cwd, check=True,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return int(result.stderr.split()[-1])


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 10
    work = tempfile.mkdtemp()
    rows, totals, larger = [], {}, 0
    for order in ORDERS:
        for kind in KINDS:
            name = kind + order
            kzp = os.path.join(work, name + ".kzp")
            subprocess.run([os.path.join(BUILD, "bench", "decode_bench"), "--write", name, kzp],
                           check=True)
            run = lambda fmt: subprocess.run([QUORBIN, "-f", fmt, kzp], cwd=work, check=True,
                                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            run("bmp")
            run("png")
            ours = os.path.getsize(os.path.join(work, name + ".png"))
            picture = Image.open(os.path.join(work, name + ".bmp"))
            picture.load()
            saved = io.BytesIO()
            picture.save(saved, "PNG")
            theirs = len(saved.getvalue())
            larger += ours > theirs
            q_ms = best_of(runs, lambda: run("png"))
            b_ms = best_of(runs, lambda: run("bmp"))
            p_ms = best_of(runs, lambda: picture.save(io.BytesIO(), "PNG"))
            bmp_kib = peak_kib([QUORBIN, kzp], work)
            png_kib = peak_kib([QUORBIN, "-f", "png", kzp], work)
            if kind in KINDS[:4]:
                q, p = totals.get(order, (0.0, 0.0))
                totals[order] = (q + q_ms, p + p_ms)
            rows.append("| %s | %s | %s | %s | %.3f | %.1f | %.1f | %.2f | %.1f | %d | %d | %.2f |" % (
                kind, "shuffled" if order else "generator's", format(ours, ","),
                format(theirs, ","), ours / theirs, q_ms, p_ms, q_ms / p_ms, b_ms, bmp_kib,
                png_kib, (png_kib - bmp_kib) * 1024 / (2048 * 2048)))
    print("| kind | palette order | quorbin PNG bytes | Pillow PNG bytes | size ratio "
          "| quorbin -f png ms | Pillow save ms | time ratio | quorbin -f bmp ms | BMP peak KiB "
          "| PNG peak KiB | extra bytes a pixel |")
    print("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    print("\n".join(rows))
    for order in ORDERS:
        q, p = totals[order]
        print("| the four kinds | %s | | | | %.1f | %.1f | %.2f | | | | |" % (
            "shuffled" if order else "generator's", q, p, q / p))
    return 1 if larger else 0


if __name__ == "__main__":
    sys.exit(main())
