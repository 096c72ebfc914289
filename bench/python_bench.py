#!/usr/bin/python3
"""python_bench.py PYTHON_BUILD BENCH_BUILD: Image.open(...).load() of the 2048x2048 benchmark pictures
(written by BENCH_BUILD's decode_bench) through
quorbin.pillow against the program's decode of the same picture (quorbin converting the KZP file
to BMP, as a process), best of 7 each.  Goal: within 1.2 times the program's time.

  cmake --workflow --preset python && cmake --workflow --preset bench &&
  /usr/bin/python3 bench/python_bench.py build/python build/bench"""
import os, subprocess, sys, tempfile, time

build, bench = (os.path.abspath(a) for a in sys.argv[1:3])
sys.path.insert(0, build)
import quorbin.pillow  # noqa: E402,F401
from PIL import Image  # noqa: E402


def best(run, times=7):
    taken = []
    for _ in range(times):
        start = time.perf_counter()
        run()
        taken.append(time.perf_counter() - start)
    return min(taken)


with tempfile.TemporaryDirectory() as work:
    kinds = []
    for kind in ["flat", "photo", "dithered", "noise"]:
        kinds.append(kind + ".kzp")
        subprocess.run([os.path.join(bench, "bench", "decode_bench"), "--write", kind,
                        os.path.join(work, kinds[-1])], check=True, capture_output=True)
    print("| picture | Image.open().load() ms | quorbin to BMP ms | ratio |")
    print("|---|---:|---:|---:|")
    for name in kinds:
        path = os.path.join(work, name)
        ours = best(lambda: Image.open(path).load())
        program = best(lambda: subprocess.run([os.path.join(build, "bin", "quorbin"), "-C", work,
                                               path], capture_output=True, check=True))
        print("| %s %dx%d | %.1f | %.1f | %.2f |" % (name, *Image.open(path).size, 1000 * ours,
                                                      1000 * program, ours / program))
