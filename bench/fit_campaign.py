#!/usr/bin/python3
"""fit_campaign.py BUILD_DIR [--sheets DIR] [KIND...]: edits put back into a game-like archive, as a modder makes them.

The archive holds screens of 7 colours of a 256-colour game palette (menus, credits with text
panels and buttons), backgrounds of 256 colours, sprites of 8 to 35 colours on a key colour that
the palette repeats as a real colour, and tiles, 16x16 to 1280x960, drawn with Pillow and
compressed greedily as old game tools did (tools/make_archive), the credits screens with no byte
to spare. ImageMagick edits the pictures quorbin takes out of it: smooth resizes and blur of the
screens, anti-aliased text, a photo pasted over a screen, text and highlights on sprites, hue
shifts, added detail, gradients (put back dithered).

Each edit goes back with quorbin-pack -l and -n (or -d), -n -F and -n -A; and by two fits by hand,
each then put back with -n alone: the edit's bounding box posterised to the most colours that fit,
and the pixels that the edit changed least put back as they were, as few as fit. The table gives,
per edit: the bytes over the entry, whether -F took the fit, the pixels of the edit and those -A
changed, the changed pixels outside the edit (the fit's and the hand fits' own, which must be 0 for
the fit), the mean delta E OK over the whole picture against the picture as -n (-d) maps it, for
-A and for both hand fits, the mean over the edit, the time of -A, and the bytes of the archive
that differ from the source's, against the entry's size (a patch of the game's files).

With --sheets, a sheet per edit goes into DIR to be looked at: the entry, the edit, the edit as -n
maps it, what -A put back, the posterised and the put-back hand fits, side by side, enlarged.

  cmake --workflow --preset release && /usr/bin/python3 bench/fit_campaign.py build/release"""
import math, os, random, re, shutil, subprocess, sys, tempfile, time
from PIL import Image, ImageDraw, ImageFilter

build = os.path.abspath(sys.argv[1])
only = sys.argv[2:]
sheets = None
if only[:1] == ["--sheets"]:
    sheets, only = os.path.abspath(only[1]), only[2:]
    os.makedirs(sheets, exist_ok=True)
work = tempfile.mkdtemp()
os.chdir(work)
rng = random.Random(7)
font = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
convert = "/usr/bin/convert"


# --- the game's pictures ------------------------------------------------------------------------

def game_palette():
    """A game's palette: the 7 colours of its screens, a colour cube, greys, key magenta at 255."""
    ui = [(0, 0, 170), (24, 24, 56), (200, 200, 0), (160, 160, 160), (0, 0, 0), (255, 255, 255),
          (255, 220, 80)]
    cube = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    greys = [(v * 8 + 4, v * 8 + 4, v * 8 + 4) for v in range(32)]
    colours = (ui + cube + greys)[:255] + [(255, 0, 255)]
    colours += [(0, 0, 0)] * (256 - len(colours))
    return [v for c in colours for v in c]


def screen(w, h, lines):
    """A screen of 7 colours: a blue ground, dark text panels, buttons with labels."""
    picture = Image.new("P", (w, h), 0)
    picture.putpalette(game_palette())
    draw = ImageDraw.Draw(picture)
    for k in range(2):
        box = (w // 10, h // 10 + k * h * 2 // 5, w * 9 // 10, h * 2 // 5 + k * h * 2 // 5)
        draw.rectangle(box, fill=1, outline=2)
        for line in range(lines):
            draw.text((box[0] + 6, box[1] + 4 + 11 * line), "THE END OF THE QUEST  CREDITS"[line:],
                      fill=5 if line % 2 else 6)
    for k, label in enumerate(["START", "OPTIONS", "QUIT"]):
        box = (w // 10 + k * w // 4, h * 17 // 20, w // 10 + k * w // 4 + w // 5, h * 19 // 20)
        draw.rectangle(box, fill=3, outline=5)
        draw.text((box[0] + 4, box[1] + 3), label, fill=4)
    return picture


def backdrop(w, h, noise):
    picture = Image.new("RGB", (w, h))
    picture.putdata([(int(255 * x / w), int(200 * y / h) + rng.randrange(noise + 1) // 2,
                      int(120 + 100 * ((x + y) % 97) / 97) - rng.randrange(noise + 1) // 2)
                     for y in range(h) for x in range(w)])
    return picture


def background(w, h, dither):
    return backdrop(w, h, 30).quantize(256, method=Image.Quantize.MEDIANCUT,
                                       dither=Image.Dither.FLOYDSTEINBERG if dither else
                                       Image.Dither.NONE)


def sprite(w, h, shades):
    """A shaded ball with a highlight on the key colour (255; 201 is the same magenta)."""
    picture = Image.new("P", (w, h), 255)
    palette = game_palette()
    for k in range(shades):
        palette[3 * (220 + k):3 * (221 + k)] = [60 + 190 * k // shades, 30 + 100 * k // shades, 20]
    palette[3 * 201:3 * 202] = [255, 0, 255]
    picture.putpalette(palette)
    draw = ImageDraw.Draw(picture)
    for k in range(shades):
        inset = k * min(w, h) // (3 * shades)
        draw.ellipse((w // 8 + inset, h // 8 + inset, w * 7 // 8 - inset // 2,
                      h * 7 // 8 - inset // 2), fill=220 + k)
    draw.ellipse((w // 3, h // 4, w // 2, h // 3 + 2), fill=5)  # the highlight
    draw.rectangle((w // 8, h - 4, w // 3, h - 2), fill=201)
    return picture


def tiles(w, h):
    picture = Image.new("P", (w, h))
    picture.putpalette(game_palette())
    picture.putdata([40 + (x // 8 + y // 4) % 12 * 3 + (x % 8 == 0 or y % 4 == 0)
                     for y in range(h) for x in range(w)])
    return picture


greedy = {"menu": screen(320, 200, 4), "hero": sprite(32, 32, 8), "ship": sprite(64, 48, 30),
          "wall": tiles(64, 64), "sky": background(320, 200, False),
          "city": background(640, 480, False), "mist": background(320, 200, True)}
tight = {"credits": screen(640, 480, 12), "finale": screen(1280, 960, 30),
         "title": screen(320, 200, 6)}
pictures = {**greedy, **tight}
os.mkdir("source")
for name, picture in pictures.items():
    picture.save("source/%s.bmp" % name)
subprocess.run([os.path.join(build, "make_archive"), "pack.dat", "pack.lst"] +
               ["source/%s.bmp" % n for n in greedy] + ["-t"] +
               ["source/%s.bmp" % n for n in tight], check=True)
entries = {line.split()[3][:-4]: (int(line.split()[1]), int(line.split()[2]))
           for line in open("pack.lst")}
source = open("pack.dat", "rb").read()
os.mkdir("out")
subprocess.run([os.path.join(build, "quorbin"), "-C", "out", "-l", "pack.lst"], check=True,
               capture_output=True)


# --- measures -----------------------------------------------------------------------------------

def oklab(rgb):
    lin = [c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4 for c in
           (v / 255 for v in rgb)]
    l, m, s = (max(0.0, x) ** (1 / 3) for x in (
        0.4122214708 * lin[0] + 0.5363325363 * lin[1] + 0.0514459929 * lin[2],
        0.2119034982 * lin[0] + 0.6806995451 * lin[1] + 0.1073969566 * lin[2],
        0.0883024619 * lin[0] + 0.2817188376 * lin[1] + 0.6299787005 * lin[2]))
    return (0.2104542553 * l + 0.7936177850 * m - 0.0040720468 * s,
            1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s,
            0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s)


apart_cache = {}


def apart(a, b):
    if a == b:
        return 0.0
    if (a, b) not in apart_cache:
        apart_cache[a, b] = math.dist(oklab(a), oklab(b))
    return apart_cache[a, b]


def colours(path):
    return list(Image.open(path).convert("RGB").getdata())


def run(args):
    return subprocess.run(args, capture_output=True, text=True)


def put_back(picture, options):
    """quorbin-pack -l into a copy: exit status, messages, seconds, the entry as it went back."""
    shutil.rmtree("put", ignore_errors=True)
    os.mkdir("put")
    start = time.time()
    done = run([os.path.join(build, "quorbin-pack"), *options, "-C", "put", "-l", "pack.lst",
                picture])
    took = time.time() - start
    if done.returncode != 0:
        return done.returncode, done.stderr, took, None, None
    return 0, done.stderr, took, None, open("put/pack.dat", "rb").read()



def mapped(picture, name, dither):
    """The edit as -n (-d) maps it onto the entry, whatever its size."""
    offset, size = entries[name]
    shutil.rmtree("ideal", ignore_errors=True)
    os.mkdir("ideal")
    with open("ideal/entry.kzp", "wb") as f:
        f.write(source[offset:offset + size])
    run([os.path.join(build, "quorbin-pack"), "-d" if dither else "-n", "-p", "ideal/entry.kzp",
         "-C", "ideal", picture])
    run([os.path.join(build, "quorbin"), "-C", "ideal", "ideal/%s.kzp" % name])
    return colours("ideal/%s.bmp" % name)


def result_of(picture, options):
    """The colours of the entry after a put-back, and the archive."""
    status, said, took, _, archive = put_back(picture, options)
    if status:
        return status, said, took, None, None
    shutil.rmtree("back", ignore_errors=True)
    os.mkdir("back")
    name = os.path.basename(picture)[:-4]
    offset, size = entries[name]
    with open("back/%s.kzp" % name, "wb") as f:
        f.write(archive[offset:offset + size])
    run([os.path.join(build, "quorbin"), "-C", "back", "back/%s.kzp" % name])
    return 0, said, took, colours("back/%s.bmp" % name), archive


def mean_apart(got, want, where=None):
    pixels = range(len(want)) if where is None else where
    return sum(apart(got[i], want[i]) for i in pixels) / max(1, len(pixels))


def hand_fit(picture, name, edited, original, edit, size, fit_option):
    """Two fits by hand, put back with plain fit_option: (posterised, least-changed put back)."""
    w, h = size
    xs = [i % w for i in edit]
    ys = [i // w for i in edit]
    box = (min(xs), min(ys), max(xs) + 1, max(ys) + 1)

    def fits(pixels):
        trial = Image.new("RGB", size)
        trial.putdata(pixels)
        trial.save("hand/%s.bmp" % name)
        return result_of("hand/%s.bmp" % name, [fit_option])

    shutil.rmtree("hand", ignore_errors=True)
    os.mkdir("hand")
    whole = Image.open(picture).convert("RGB")
    best_poster = None
    low, high = 0, 257  # colours: low fits (or 0), high does not
    while high - low > 1:
        middle = (low + high) // 2
        part = whole.crop(box).quantize(middle, dither=Image.Dither.NONE).convert("RGB")
        trial = whole.copy()
        trial.paste(part, box)
        status, _, _, got, _ = fits(list(trial.getdata()))
        if status == 0:
            low, best_poster = middle, got
        else:
            high = middle
    order = sorted(edit, key=lambda i: apart(edited[i], original[i]))
    low, high = 0, len(order)  # pixels put back: high fits
    best_back = None
    while True:
        middle = high if best_back is None else (low + high) // 2
        pixels = list(edited)
        for i in order[:middle]:
            pixels[i] = original[i]
        status, _, _, got, _ = fits(pixels)
        if status == 0:
            high, best_back = middle, got
        elif best_back is None:
            break
        else:
            low = middle
        if best_back is not None and high - low <= 1:
            break
    return best_poster, best_back


def save_sheet(title, size, parts):
    """The pictures side by side, each enlarged to at least 320 pixels wide."""
    scale = max(1, 320 // size[0])
    w, h = size[0] * scale, size[1] * scale
    sheet = Image.new("RGB", (len(parts) * (w + 4), h), (255, 255, 255))
    for k, pixels in enumerate(parts):
        if pixels:
            part = Image.new("RGB", size)
            part.putdata(pixels)
            sheet.paste(part.resize((w, h), Image.Resampling.NEAREST), (k * (w + 4), 0))
    sheet.save(os.path.join(sheets, title + ".png"))


# --- the edits ----------------------------------------------------------------------------------

def magick(*args):
    return lambda src, dst, w, h: subprocess.run(
        [convert, src, *[a.format(w=w, h=h, w2=w // 2, h2=h // 2, p=max(8, h // 12), x=w // 4,
                                  y=h // 3, s=max(8, w // 3)) for a in args],
         "-type", "TrueColor", "BMP3:" + dst], check=True)


subprocess.run([convert, "-size", "256x256", "plasma:fractal", "-seed", "3", "photo.png"],
               check=True)
subprocess.run([convert, "-size", "200x120", "gradient:#103060-#f0c080", "gradient.png"],
               check=True)
edits = [  # kind, pictures, edit, put back dithered
    ("smooth resize", ["menu", "credits"], magick("-resize", "91%", "-resize", "{w}x{h}!"), False),
    ("blur", ["menu", "title"], magick("-blur", "0x1"), False),
    ("text", ["credits", "finale", "title", "sky"],
     magick("-font", font, "-fill", "#ffe070", "-pointsize", "{p}", "-annotate", "+{x}+{y}",
            "Level 2"), False),
    ("photo over a screen", ["menu", "credits"],
     magick("(", "photo.png", "-resize", "{s}x{s}", ")", "-geometry", "+{x}+{y}", "-composite"),
     False),
    ("text on a sprite", ["hero", "ship"],
     magick("-font", font, "-fill", "#40ff40", "-pointsize", "{p}", "-annotate", "+2+{h2}",
            "OK"), False),
    ("highlight on a sprite", ["hero", "ship"],
     magick("-fill", "#ffffff80", "-draw", "ellipse {w2},{y} 6,4 0,360"), False),
    ("hue shift", ["sky", "city", "wall"], magick("-modulate", "100,100,106"), False),
    ("added detail", ["sky", "city", "menu"],
     magick("-stroke", "#e0e0ff", "-fill", "none", "-draw", "circle {w2},{h2} {w2},{y}",
            "-draw", "line 0,{h2} {w},{y}"), False),
    ("gradient, dithered", ["sky", "menu", "credits"],
     magick("(", "gradient.png", "-resize", "{s}x{s}!", ")", "-geometry", "+{x}+{y}",
            "-composite"), True),
]

print("| edit | picture | over | -F | edit pixels | -A changed | outside: -A, hand | "
      "mean over picture: -A / posterised / put back | mean over the edit | -A time "
      "| archive bytes changed, of the entry's |")
print("|---|---|---|---|---|---|---|---|---|---|---|", flush=True)
for kind, names, make, dither in edits:
    if only and not any(o in kind for o in only):
        continue
    slug = re.sub(r"\W+", "-", kind)
    os.makedirs("edit/" + slug, exist_ok=True)
    for name in names:
        w, h = pictures[name].size
        edited_path = "edit/%s/%s.bmp" % (slug, name)
        make("out/%s.bmp" % name, edited_path, w, h)
        original, edited = colours("out/%s.bmp" % name), colours(edited_path)
        edit = [i for i in range(w * h) if edited[i] != original[i]]
        option = "-d" if dither else "-n"
        ideal = mapped(edited_path, name, dither)
        status, said, _, _, _ = result_of(edited_path, [option])
        over = "fits"
        if status:
            needs = re.search(r"holds \d+: (\d+) \(([\d.]+%)\)", said)
            over = "%s (%s)" % (needs[1], needs[2]) if needs else said.strip()
        status_f, _, _, _, _ = result_of(edited_path, [option, "-F"])
        status_a, said_a, took, got, archive = result_of(edited_path, [option, "-A"])
        if got is None:
            print("| %s | %s | %s | refused | %d | - | - | - | - | - | - |" % (
                kind, name, over, len(edit)), flush=True)
            continue
        in_edit = set(edit)
        outside = sum(1 for i in range(w * h) if i not in in_edit and got[i] != original[i])
        changed = sum(1 for i in edit if got[i] != ideal[i])
        hand = ("-", "-")
        hand_outside = "-"
        if status:
            poster, back = hand_fit(edited_path, name, edited, original, edit, (w, h), option)
            hand = tuple("%.4f" % mean_apart(x, ideal) if x else "none" for x in (poster, back))
            hand_outside = str(sum(1 for i in range(w * h) if i not in in_edit and poster and
                                   poster[i] != original[i]))
        differ = sum(1 for a, b in zip(archive, source) if a != b)
        if sheets:
            save_sheet("%s-%s" % (slug, name), (w, h),
                       [original, edited, ideal, got] + ([poster, back] if status else []))
        print("| %s | %s | %s | %s | %d | %d | %d, %s | %.4f / %s / %s | %.4f | %.2f s | %s |" % (
            kind, name, over, "taken" if status_f == 0 else "refused", len(edit), changed,
            outside, hand_outside, mean_apart(got, ideal), hand[0], hand[1],
            mean_apart(got, ideal, edit), took, "%d of %d" % (differ, entries[name][1])),
            flush=True)

if os.environ.get("KEEP"):
    print("kept: " + work)
else:
    shutil.rmtree(work)
