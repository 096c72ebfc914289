#!/usr/bin/python3
"""png_size_test.py PROGRAMS_DIR SOURCE_DIR: -f png against Pillow's PNG on gradients,
median-cut photos, shapes, noise, examples: by default no more bytes in total, no file over 5%
more; -z 9 none larger.  Every level's files hold the pictures; -j 2 writes -j 1's bytes."""
import glob, io, os, random, subprocess, sys, tempfile
from PIL import Image, ImageChops, ImageDraw

build, source = sys.argv[1:3]
work, rng = tempfile.mkdtemp(), random.Random(22)
order = list(range(256))
rng.shuffle(order)
pictures = []
for width, height in ((31, 17), (300, 200), (1240, 900)):
    for palette in (range(256), order):
        pixels = [palette[min((x + 2 * y) // 3 % 256 + rng.randrange(2), 255)]
                  for y in range(height) for x in range(width)]
        pictures.append(Image.new("P", (width, height)))
        pictures[-1].putdata(pixels)
    pictures.append(Image.frombytes("P", (width, height), rng.randbytes(width * height)))
for noise in (0, 10):
    photo = Image.merge("RGB", [ImageChops.add(Image.linear_gradient("L").rotate(a).resize(
        (400, 300)), Image.effect_noise((400, 300), noise), 1, -128) for a in (0, 90, 30)])
    cut = photo.quantize(256, method=Image.Quantize.MEDIANCUT)
    pictures += [cut, photo.quantize(palette=cut, dither=Image.Dither.FLOYDSTEINBERG)]
pictures += [Image.new("P", (320, 200)), Image.effect_noise((1500, 1500), 30).convert("P")]
for _ in range(40):
    x, y = rng.randrange(320), rng.randrange(200)
    ImageDraw.Draw(pictures[-2]).ellipse((x, y, x + rng.randrange(8, 90),
                                          y + rng.randrange(8, 60)), fill=rng.randrange(256))
for kzp in glob.glob(os.path.join(source, "examples", "*.kzp")):
    subprocess.run([os.path.join(build, "quorbin"), "-C", work, kzp], check=True,
                   capture_output=True)
    pictures.append(Image.open(os.path.join(work, os.path.basename(kzp)[:-4] + ".bmp")))
failures, totals, pillow = 0, {}, 0
for number, picture in enumerate(pictures):
    picture.putpalette(((picture.getpalette() or []) + list(rng.randbytes(768)))[:768])
    picture.save(os.path.join(work, "p%d.bmp" % number))
    subprocess.run([os.path.join(build, "quorbin-pack"), "p%d.bmp" % number], cwd=work, check=True,
                   capture_output=True)
kzps = ["p%d.kzp" % n for n in range(len(pictures))]
for z, jobs in [("", 1), ("", 2)] + [(str(n), 1) for n in range(1, 10)] + [("9", 2)]:
    out = "z%sj%d" % (z, jobs)
    os.mkdir(os.path.join(work, out))
    subprocess.run([os.path.join(build, "quorbin"), "-f", "png", "-j", str(jobs), "-C", out] +
                   ["-z", z] * (z != "") + kzps, cwd=work, check=True, capture_output=True)
    files = [os.path.join(work, out, "p%d.png" % n) for n in range(len(pictures))]
    totals[z] = [os.path.getsize(file) for file in files]
    for n, picture in enumerate(pictures):
        ours, one = Image.open(files[n]), os.path.join(work, out[:-1] + "1", "p%d.png" % n)
        if (ours.tobytes(), ours.getpalette()) != (picture.tobytes(), picture.getpalette()) or (
                open(files[n], "rb").read() != open(one, "rb").read()):
            print("%s: not the picture or -j 1's bytes" % files[n])
            failures += 1
for number, picture in enumerate(pictures):
    theirs = io.BytesIO()
    picture.save(theirs, "PNG")
    pillow += len(theirs.getvalue())
    for z, limit in (("", 1.05), ("9", 1)):
        if totals[z][number] > len(theirs.getvalue()) * limit:
            print("picture %d, %s, -z %s: %d bytes, Pillow's %d" % (
                number, picture.size, z, totals[z][number], len(theirs.getvalue())))
            failures += 1
print("%d pictures, %d failures; in total %d bytes, -z 9 %d, Pillow's %d" % (
    len(pictures), failures, sum(totals[""]), sum(totals["9"]), pillow))
sys.exit(1 if failures or sum(totals[""]) > pillow else 0)
