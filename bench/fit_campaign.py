#!/usr/bin/python3
"""fit_campaign.py BUILD_DIR: edits put back into a game-like archive, as a modder makes them.

The archive holds UI screens with text, sprites on a key colour (that the palette repeats as a
real colour), tiles, and photographic and dithered backgrounds, 16x16 to 640x480, drawn with
Pillow and compressed greedily as old game tools did (tools/make_archive). ImageMagick, and GIMP
where it is installed, edit the pictures quorbin takes out of it: anti-aliased text, smooth
resizes, blur, a pasted photo logo, hue shifts, added detail. Each edit goes back with
quorbin-pack -l, without options, with -n and with -n -F; the table gives, per edit kind, how
many fit, the bytes needed over the entry's (with -n), the pixels -F changed per byte over (for
entries of 64 colours or more, and of fewer), the largest and the mean delta E OK of the changed
pixels (the mean only of entries of 64 colours or more), and the slowest -n -F run.

  cmake --workflow --preset release && /usr/bin/python3 bench/fit_campaign.py build/release"""
import os, random, re, shutil, subprocess, sys, tempfile, time
from PIL import Image, ImageDraw

build = os.path.abspath(sys.argv[1])
work = tempfile.mkdtemp()
rng = random.Random(7)
font = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"


def backdrop(w, h, noise):
    """A smooth colour picture with grain, in true colour."""
    picture = Image.new("RGB", (w, h))
    picture.putdata([(int(255 * x / w), int(200 * y / h) + rng.randrange(noise + 1) // 2,
                      int(120 + 100 * ((x + y) % 97) / 97) - rng.randrange(noise + 1) // 2)
                     for y in range(h) for x in range(w)])
    return picture


def ui(w, h):
    picture = backdrop(w, h, 6)
    draw = ImageDraw.Draw(picture)
    draw.rectangle((w // 8, h // 4, w * 7 // 8, h * 3 // 4), fill=(30, 30, 60), outline=(200, 200, 0))
    for line in range(3):
        draw.text((w // 8 + 8, h // 4 + 8 + 12 * line), "START GAME  OPTIONS  QUIT"[line * 8:],
                  fill=(255, 255, 255))
    return picture.quantize(256, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)


def sprite(w, h):
    picture = Image.new("P", (w, h), 255)
    palette = [v for i in range(256) for v in (i, 255 - i, (i * 7) % 256)]
    palette[3 * 201:3 * 202] = palette[3 * 255:3 * 256] = [255, 0, 255]
    picture.putpalette(palette)
    draw = ImageDraw.Draw(picture)
    draw.ellipse((w // 6, h // 6, w * 5 // 6, h * 5 // 6), fill=40, outline=10)
    draw.rectangle((w // 3, h // 3, w // 2, h // 2), fill=201)
    draw.line((0, h - 1, w - 1, h // 2), fill=120)
    return picture


def tiles(w, h):
    picture = Image.new("P", (w, h))
    picture.putpalette([v for i in range(256) for v in ((i * 37) % 256, (i * 91) % 256, i)])
    picture.putdata([(x // 8 + y // 4) % 16 * 3 + (x % 8 == 0 or y % 4 == 0)
                     for y in range(h) for x in range(w)])
    return picture


def photo(w, h, dither):
    return backdrop(w, h, 40).quantize(256, method=Image.Quantize.MEDIANCUT,
                                       dither=Image.Dither.FLOYDSTEINBERG if dither else
                                       Image.Dither.NONE)


pictures = {"menu": ui(320, 200), "title": ui(640, 480), "hero": sprite(32, 32),
            "ship": sprite(64, 48), "coin": sprite(16, 16), "wall": tiles(16, 16),
            "floor": tiles(64, 64), "sky": photo(320, 200, False), "city": photo(640, 480, False),
            "mist": photo(320, 200, True)}
source = os.path.join(work, "source")
os.mkdir(source)
for name, picture in pictures.items():
    picture.save(os.path.join(source, name + ".bmp"))
os.chdir(work)
subprocess.run([os.path.join(build, "make_archive"), "pack.dat", "pack.lst"] +
               [os.path.join(source, n + ".bmp") for n in pictures], check=True)
os.mkdir("out")
subprocess.run([os.path.join(build, "quorbin"), "-C", "out", "-l", "pack.lst"], check=True,
               capture_output=True)


def magick(args):
    return lambda src, dst, w, h: subprocess.run(
        ["convert", src, *[a.format(w=w, h=h, w2=w // 2, h2=h // 2, p=max(7, h // 5),
                                   x=w // 4, y=h // 3) for a in args],
         "-type", "TrueColor", "BMP3:" + dst], check=True)


def gimp(body):
    return lambda src, dst, w, h: subprocess.run(
        ["gimp", "-i", "-b", '(let* ((i (car (gimp-file-load 1 "%s" "%s"))) '
         '(d (car (gimp-image-get-active-layer i)))) (gimp-image-convert-rgb i) %s '
         '(file-bmp-save2 1 i d "%s" "%s" 0 0 3))' % (src, src, body, dst, dst),
         "-b", "(gimp-quit 0)"], check=True, capture_output=True, timeout=120)


logo = os.path.join(work, "logo.png")
subprocess.run(["convert", "-size", "24x24", "gradient:#ff8800-#0044ff", "-swirl", "120", logo],
               check=True)
edits = {
    "text (ImageMagick)": magick(["-font", font, "-fill", "#ffe070", "-pointsize", "{p}",
                                  "-annotate", "+{x}+{y}", "Level 2"]),
    "smooth resize (ImageMagick)": magick(["-resize", "50%", "-resize", "{w}x{h}!"]),
    "blur (ImageMagick)": magick(["-blur", "0x1"]),
    "photo logo (ImageMagick)": magick([logo, "-geometry", "+{x}+{y}", "-composite"]),
    "hue shift (ImageMagick)": magick(["-modulate", "100,100,106"]),
    "added detail (ImageMagick)": magick(["-stroke", "#e0e0ff", "-fill", "none", "-draw",
                                          "circle {w2},{h2} {w2},{y}", "-draw",
                                          "line 0,{h2} {w},{y}"]),
}
if shutil.which("gimp"):
    edits["blur (GIMP)"] = gimp("(plug-in-gauss 1 i d 2 2 0)")
    edits["hue shift (GIMP)"] = gimp("(gimp-drawable-hue-saturation d 0 8 0 0 0)")

print("| edit | edits | fit | fit with -n | fit with -n -F | bytes over (-n): median, max "
      "| pixels changed per byte over: max, 64+ colours / fewer | largest delta E "
      "| mean delta E (64+ colours): max | slowest -n -F |")
print("|---|---|---|---|---|---|---|---|---|---|", flush=True)
for kind, make in edits.items():
    stats = {"edits": 0, "none": 0, "-n": 0, "-n -F": 0, "over": [], "per_byte": [], "few": [],
             "largest": 0.0, "mean": 0.0, "time": 0.0}
    directory = os.path.join(work, "edit", re.sub(r"\W+", "-", kind))
    os.makedirs(directory)
    for name, picture in pictures.items():
        edited = os.path.join(directory, name + ".bmp")
        make(os.path.join(work, "out", name + ".bmp"), edited, *picture.size)
        stats["edits"] += 1
        over = 0
        for options in ([], ["-n"], ["-n", "-F"]):
            shutil.rmtree("put", ignore_errors=True)
            os.mkdir("put")
            start = time.time()
            run = subprocess.run([os.path.join(build, "quorbin-pack"), *options, "-C", "put",
                                  "-l", "pack.lst", edited], capture_output=True, text=True)
            took = time.time() - start
            key = " ".join(options) or "none"
            stats[key] += run.returncode == 0
            needs = re.search(r"needs (\d+) bytes; the entry holds (\d+)", run.stderr)
            if needs and options == ["-n"]:
                over = int(needs[1]) - int(needs[2])
                stats["over"].append(over)
            fitted = re.search(r"with (\d+) pixels changed, by ([\d.]+) at most and ([\d.]+)",
                               run.stderr)
            if options == ["-n", "-F"]:
                stats["time"] = max(stats["time"], took)
            if fitted and options == ["-n", "-F"]:
                many = len(picture.getcolors(256) or range(256)) >= 64
                stats["per_byte" if many else "few"].append(int(fitted[1]) / max(over, 1))
                stats["largest"] = max(stats["largest"], float(fitted[2]))
                if many:
                    stats["mean"] = max(stats["mean"], float(fitted[3]))
    over = sorted(stats["over"]) or [0]
    print("| %s | %d | %d | %d | %d | %d, %d | %.2f / %.2f | %.3f | %.3f | %.2f s |" % (
        kind, stats["edits"], stats["none"], stats["-n"], stats["-n -F"], over[len(over) // 2],
        over[-1], max(stats["per_byte"] or [0]), max(stats["few"] or [0]), stats["largest"],
        stats["mean"], stats["time"]), flush=True)

shutil.rmtree(work)
