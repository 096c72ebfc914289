#!/usr/bin/python3
"""png_size_test.py PROGRAMS_DIR SOURCE_DIR: quorbin -f png writes no larger a file than Pillow's
default PNG of the same picture: Pillow's index gradients (the palette in their order, and
shuffled), photos median-cut to 256 colours and their dither, flat shapes, noise, the examples.
Pictures of under 512 filtered bytes are left out: there zlib's fixed Huffman codes, which
Pillow's files use, can be a few bytes smaller than anything libdeflate writes."""
import glob, io, os, random, subprocess, sys, tempfile
from PIL import Image, ImageChops, ImageDraw

build, source = sys.argv[1:3]
work, rng = tempfile.mkdtemp(), random.Random(22)
order = list(range(256))
rng.shuffle(order)
pictures = []
for width, height in ((31, 17), (300, 200), (640, 480)):
    for palette in (range(256), order):
        pixels = [palette[min((x + 2 * y) // 3 % 256 + rng.randrange(2), 255)]
                  for y in range(height) for x in range(width)]
        pictures.append(Image.new("P", (width, height)))
        pictures[-1].putdata(pixels)
    pictures.append(Image.frombytes("P", (width, height), rng.randbytes(width * height)))
for noise in (0, 10):  # lazy parsing made the noisy ones 2-3% larger than Pillow's
    photo = Image.merge("RGB", [ImageChops.add(Image.linear_gradient("L").rotate(a).resize(
        (400, 300)), Image.effect_noise((400, 300), noise), 1, -128) for a in (0, 90, 30)])
    cut = photo.quantize(256, method=Image.Quantize.MEDIANCUT)
    pictures += [cut, photo.quantize(palette=cut, dither=Image.Dither.FLOYDSTEINBERG)]
pictures.append(Image.new("P", (320, 200)))
for _ in range(40):
    x, y = rng.randrange(320), rng.randrange(200)
    ImageDraw.Draw(pictures[-1]).ellipse((x, y, x + rng.randrange(8, 90),
                                          y + rng.randrange(8, 60)), fill=rng.randrange(256))
for kzp in glob.glob(os.path.join(source, "examples", "*.kzp")):
    subprocess.run([os.path.join(build, "quorbin"), "-C", work, kzp], check=True,
                   capture_output=True)
    pictures.append(Image.open(os.path.join(work, os.path.basename(kzp)[:-4] + ".bmp")))
failures = 0
for number, picture in enumerate(pictures):
    picture.putpalette(((picture.getpalette() or []) + list(rng.randbytes(768)))[:768])
    picture.save(os.path.join(work, "p%d.bmp" % number))
    for program, args in (("quorbin-pack", []), ("quorbin", ["-f", "png"])):
        subprocess.run([os.path.join(build, program)] + args + ["p%d.%s" % (number, ["bmp", "kzp"][
            program == "quorbin"])], cwd=work, check=True, capture_output=True)
    theirs = io.BytesIO()
    picture.save(theirs, "PNG")
    ours = os.path.getsize(os.path.join(work, "p%d.png" % number))
    if ours > len(theirs.getvalue()):
        print("picture %d, %s: %d bytes, Pillow's %d" % (number, picture.size, ours,
                                                         len(theirs.getvalue())))
        failures += 1
print("%d pictures, %d larger than Pillow's" % (len(pictures), failures))
sys.exit(1 if failures else 0)
