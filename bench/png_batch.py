#!/usr/bin/python3
"""Game-sized pictures in batch: 60 photo-like and 60 dithered pictures with median-cut palettes
(Pillow's quantizer, so the palettes are in no colour order) at 320x200, 640x480 and 1024x768,
put into an archive by tools/make_archive; one `quorbin -f png -l` run over each archive (process
included, into an empty directory; every core, one with -j 1, and -z 9) against Pillow saving the same 60 pictures as PNG
in one Python process. Prints the times (best of RUNS), their ratios to Pillow's, the total bytes
against Pillow's and the file most over Pillow's; exits with 1 when the default is larger than
Pillow's in total or a file more than 3% over, or -z 9 not 12% smaller or a file not smaller.

    /usr/bin/python3 bench/png_batch.py [RUNS]

Needs the bench preset built (cmake --workflow --preset bench) and Debian's python3-pil."""
import io, os, random, subprocess, sys, tempfile
from PIL import Image, ImageFilter
from png_vs_pillow import best_of

BUILD = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "build", "bench")


def picture(size, seed, dither):
    """A photo-like picture: smooth gradients, blurred blobs and a little noise, quantized."""
    rng = random.Random(seed)
    w, h = size
    bands = [Image.linear_gradient("L").rotate(rng.uniform(0, 360)).resize(size) for _ in "rgb"]
    rgb = Image.merge("RGB", bands)
    blobs = Image.effect_noise(size, 90).filter(ImageFilter.GaussianBlur(max(w, h) / 40))
    rgb = Image.blend(rgb, Image.merge("RGB", [blobs, blobs.rotate(90, expand=False), blobs]), 0.4)
    noise = Image.effect_noise(size, 12)
    rgb = Image.blend(rgb, Image.merge("RGB", [noise, noise, noise]), 0.1)
    return rgb.quantize(256, method=Image.Quantize.MEDIANCUT,
                        dither=Image.Dither.FLOYDSTEINBERG if dither else Image.Dither.NONE)


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 3
    bad = 0
    print("| size | kind | Pillow ms | default ms (ratio) | -j 1 ms (ratio) | -z 9 ms (ratio) "
          "| default bytes / Pillow's, most over | -z 9 bytes / Pillow's, most over |")
    print("|---|---|---:|---:|---:|---:|---:|---:|")
    for size in [(320, 200), (640, 480), (1024, 768)]:
        for dither in [False, True]:
            with tempfile.TemporaryDirectory() as work:
                pictures = [picture(size, n, dither) for n in range(60)]
                names = []
                for n, p in enumerate(pictures):
                    names.append(os.path.join(work, "p%02d.bmp" % n))
                    p.save(names[-1])
                subprocess.run([os.path.join(BUILD, "make_archive"), os.path.join(work, "a.dat"),
                                os.path.join(work, "a.lst")] + names, check=True)
                theirs = best_of(runs, lambda: [p.save(io.BytesIO(), "PNG") for p in pictures])
                pillow = []
                for p in pictures:
                    saved = io.BytesIO()
                    p.save(saved, "PNG")
                    pillow.append(len(saved.getvalue()))
                cells = []
                for options in ([], ["-j", "1"], ["-z", "9"]):
                    # Each run into a directory of its own, empty, as a ripper's first run is.
                    outs = [os.path.join(work, "out%s-%d" % ("".join(options), n))
                            for n in range(runs)]
                    run = lambda: subprocess.run(
                        [os.path.join(BUILD, "quorbin"), *options, "-f", "png", "-C", outs.pop(),
                         "-c", work + "/", "-l", os.path.join(work, "a.lst")],
                        check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                    for out in outs:
                        os.mkdir(out)
                    out = outs[0]
                    ours = best_of(runs, run)
                    cells.append("%.0f (%.2f)" % (ours, ours / theirs))
                    sizes = [os.path.getsize(os.path.join(out, "p%02d.png" % n)) for n in range(60)]
                    over = max(s / t - 1 for s, t in zip(sizes, pillow))
                    if options != ["-j", "1"]:
                        cells.append("%.3f, %+.1f%%" % (sum(sizes) / sum(pillow), 100 * over))
                    if options == [] and (sum(sizes) > sum(pillow) or over > 0.03):
                        bad += 1
                    if options == ["-z", "9"] and (sum(sizes) > 0.88 * sum(pillow) or over >= 0):
                        bad += 1
                print("| %dx%d | %s | %.0f | %s | %s | %s | %s | %s |" % (
                    *size, "dithered" if dither else "photo-like", theirs, cells[0], cells[2],
                    cells[3], cells[1], cells[4]), flush=True)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
