#!/usr/bin/python3
"""same_bytes.py NATIVE_DIR CANDIDATE EXAMPLES: edits of the example archive's pictures go back
with quorbin-pack -l under every option that maps or fits colours, by the programs in NATIVE_DIR and
by CANDIDATE ("wine:DIR", the Windows programs, or "module:FILE", the page's module under Node):
the archives, the pictures -s writes and the messages are the same bytes."""
import os, shutil, subprocess, sys, tempfile
from PIL import Image, ImageDraw

native, candidate, examples = sys.argv[1:4]
kind, where = candidate.split(":", 1)
work = tempfile.mkdtemp()
failures = []


def run(program, args, cwd, how):
    if how == "native":
        line = [os.path.join(native, program)] + args
    elif kind == "wine":
        line = ["/usr/lib/wine/wine64", os.path.join(where, program + ".exe")] + args
    else:
        line = ["node", os.path.join(os.path.dirname(__file__), "web", "run_module.js"), where,
                program] + args
    done = subprocess.run(line, cwd=cwd, capture_output=True, stdin=subprocess.DEVNULL,
                          env=dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml="))
    return done.returncode, done.stderr.replace(b"\r\n", b"\n")


source = os.path.join(work, "source")
os.makedirs(source)
for name in ["pack.dat", "pack.lst"]:
    shutil.copy(os.path.join(examples, name), source)
run("quorbin", ["-l", "pack.lst"], source, "native")
title = Image.open(os.path.join(source, "title.bmp")).convert("RGB")
title.paste(Image.linear_gradient("L").resize((120, 60)).convert("RGB"), (60, 40))
title.save(os.path.join(source, "title.bmp"))
logo = Image.open(os.path.join(source, "logo.bmp")).convert("RGB")
logo.putdata([(x * 37 % 256, y * 53 % 256, (x * y) % 256) if y > 10 else logo.getpixel((x, y))
              for y in range(logo.height) for x in range(logo.width)])
logo.save(os.path.join(source, "logo.bmp"))
picture = Image.open(os.path.join(source, "map.bmp")).convert("RGB")
ImageDraw.Draw(picture).text((20, 60), "LEVEL 2", fill=(255, 200, 40))
picture.save(os.path.join(source, "map.bmp"))

pictures = ["title.bmp", "logo.bmp", "map.bmp"]
for options in ([], ["-n"], ["-d"], ["-n", "-F"], ["-d", "-F"], ["-n", "-A"], ["-d", "-A"]):
    got = {}
    for how in ("native", kind):
        dir = os.path.join(work, how + "".join(options))
        shutil.copytree(source, dir)
        os.makedirs(os.path.join(dir, "show"))
        status, said = run("quorbin-pack", options + ["-s", "show", "-l", "pack.lst"] + pictures,
                           dir, how)
        files = {name: open(os.path.join(dir, name), "rb").read()
                 for name in ["pack.dat"] + ["show/" + n for n in os.listdir(
                     os.path.join(dir, "show"))]}
        got[how] = (status, said, files)
    if got["native"] != got[kind]:
        failures.append("%s: %s" % (" ".join(options) or "no options",
                                    "messages" if got["native"][1] != got[kind][1] else "files"))
shutil.rmtree(work)
print("\n".join(failures) or "the same bytes as the native programs, under every option")
sys.exit(1 if failures else 0)
