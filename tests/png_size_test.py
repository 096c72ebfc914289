#!/usr/bin/python3
"""quorbin -f png writes no larger a file than Pillow's default PNG of the same picture, and
Pillow reads back the same pixels and palette: pictures that Pillow draws (index gradients whose
palette follows the indices, the same with the palette shuffled, a photo median-cut to 256
colours and its dither, flat shapes, noise) and the bundled examples.  Tiny pictures, of under
512 filtered bytes, are only read back: there zlib's fixed Huffman codes, which Pillow's files
use, can be a few bytes smaller than anything libdeflate writes.

    png_size_test.py BUILD_DIR SOURCE_DIR
"""
import glob
import io
import os
import random
import subprocess
import sys
import tempfile

from PIL import Image, ImageChops, ImageDraw, ImageFilter


def palette_picture(width, height, indices, palette):
    picture = Image.new("P", (width, height))
    picture.putpalette(palette)
    picture.putdata(indices)
    return picture


def pictures():
    rng = random.Random(22)
    ordered = [c for i in range(256) for c in (i, 255 - i, (i * 3) % 256)]
    shuffle = list(range(256))
    rng.shuffle(shuffle)
    shuffled = [0] * 768
    for i in range(256):
        shuffled[3 * shuffle[i]:3 * shuffle[i] + 3] = ordered[3 * i:3 * i + 3]
    for width, height in ((1, 1), (5, 3), (31, 7), (300, 200), (640, 480)):
        gradient = [(x + 2 * y) // 3 % 256 + rng.randrange(2) for y in range(height)
                    for x in range(width)]
        gradient = [min(v, 255) for v in gradient]
        yield "gradient %dx%d" % (width, height), palette_picture(width, height, gradient, ordered)
        yield "gradient %dx%d, shuffled" % (width, height), palette_picture(
            width, height, [shuffle[v] for v in gradient], shuffled)
        noise = [rng.randrange(256) for _ in range(width * height)]
        yield "noise %dx%d" % (width, height), palette_picture(width, height, noise, ordered)
    photo = Image.merge("RGB", (Image.linear_gradient("L").resize((400, 300)),
                                Image.radial_gradient("L").resize((400, 300)),
                                ImageChops.add(Image.linear_gradient("L").rotate(90).resize(
                                    (400, 300)), Image.effect_noise((400, 300), 20), 2)))
    photo = photo.filter(ImageFilter.GaussianBlur(1))
    cut = photo.quantize(256, method=Image.Quantize.MEDIANCUT)
    yield "median cut", cut
    yield "median cut, dithered", photo.quantize(palette=cut, dither=Image.Dither.FLOYDSTEINBERG)
    flat = palette_picture(320, 200, [0] * 64000, shuffled)
    draw = ImageDraw.Draw(flat)
    for _ in range(40):
        x, y = rng.randrange(320), rng.randrange(200)
        draw.ellipse((x, y, x + rng.randrange(8, 90), y + rng.randrange(8, 60)),
                     fill=rng.randrange(256))
    yield "flat shapes", flat


def main():
    build, source = sys.argv[1], sys.argv[2]
    quorbin = os.path.join(build, "quorbin")
    work = tempfile.mkdtemp()
    failures = 0
    cases = list(pictures())
    for kzp in sorted(glob.glob(os.path.join(source, "examples", "*.kzp"))):
        subprocess.run([quorbin, "-C", work, kzp], check=True, capture_output=True)
        bmp = os.path.join(work, os.path.basename(kzp)[:-4] + ".bmp")
        cases.append(("example " + os.path.basename(kzp), Image.open(bmp)))
    for number, (name, picture) in enumerate(cases):
        stem = os.path.join(work, "p%d" % number)
        picture.save(stem + ".bmp")
        subprocess.run([os.path.join(build, "quorbin-pack"), stem + ".bmp"], cwd=work,
                       check=True, capture_output=True)
        subprocess.run([quorbin, "-f", "png", stem + ".kzp"], cwd=work, check=True,
                       capture_output=True)
        theirs = io.BytesIO()
        picture.save(theirs, "PNG")
        ours = os.path.getsize(stem + ".png")
        back = Image.open(stem + ".png")
        width, height = picture.size
        if ours > len(theirs.getvalue()) and (width + 1) * height >= 512:
            print("%s: %d bytes, Pillow's %d" % (name, ours, len(theirs.getvalue())))
            failures += 1
        if back.tobytes() != picture.tobytes() or \
                back.getpalette()[:len(picture.getpalette())] != picture.getpalette():
            print("%s: Pillow reads other pixels or another palette" % name)
            failures += 1
    print("%d pictures, %d failures" % (len(cases), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
