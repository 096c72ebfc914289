#!/usr/bin/python3
"""Game-sized pictures in batch: 60 photo-like and 60 dithered pictures with median-cut palettes
(Pillow's quantizer, so the palettes are in no colour order) at 320x200, 640x480 and 1024x768,
put into an archive by tools/make_archive; one `quorbin -f png -l` run over each archive (process
included, every core) against Pillow saving the same 60 pictures as PNG in one Python process.
Prints the times (best of RUNS), their ratio and the sizes; exits with 1 when any of quorbin's
files is larger than Pillow's.

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
    larger = 0
    print("| size | kind | quorbin -l ms | Pillow ms | time ratio | quorbin bytes | Pillow bytes | size ratio |")
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
                out = os.path.join(work, "out")
                os.mkdir(out)
                args = [os.path.join(BUILD, "quorbin"), "-f", "png", "-C", out, "-c", work + "/",
                        "-l", os.path.join(work, "a.lst")]
                ours = best_of(runs, lambda: subprocess.run(args, check=True, stdout=subprocess.DEVNULL,
                                                            stderr=subprocess.DEVNULL))
                theirs = best_of(runs, lambda: [p.save(io.BytesIO(), "PNG") for p in pictures])
                our_bytes = sum(os.path.getsize(os.path.join(out, "p%02d.png" % n)) for n in range(60))
                their_bytes = 0
                for n, p in enumerate(pictures):
                    saved = io.BytesIO()
                    p.save(saved, "PNG")
                    their_bytes += len(saved.getvalue())
                    larger += os.path.getsize(os.path.join(out, "p%02d.png" % n)) > len(saved.getvalue())
                print("| %dx%d | %s | %.0f | %.0f | %.2f | %s | %s | %.3f |" % (
                    *size, "dithered" if dither else "photo-like", ours, theirs, ours / theirs,
                    format(our_bytes, ","), format(their_bytes, ","), our_bytes / their_bytes))
    return 1 if larger else 0


if __name__ == "__main__":
    sys.exit(main())
