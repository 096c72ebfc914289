#!/usr/bin/env bash
# Makes this directory's true-colour pictures with the tools people save them
# with (ImageMagick 6.9: im*, GraphicsMagick 1.3: gm*, GIMP 2.10: gimp*,
# Pillow 9.4: pil*, grey16.png, grey-alpha.png), from two palette pictures
# drawn here, colour.png and grey.png, whose colours each of them holds
# exactly.  Debian 12: imagemagick graphicsmagick gimp python3-pil.
set -euo pipefail
cd "$(dirname "$0")"
rm -f ./*.bmp ./*.png
/usr/bin/python3 - <<'PY'
import random
from PIL import Image
random.seed(22)
colour = Image.new("P", (13, 7))
colour.putpalette([random.randrange(256) for _ in range(120)])
colour.putdata([random.randrange(40) for _ in range(91)])
colour.save("colour.png")
grey = Image.new("L", (13, 7))
grey.putdata([random.randrange(256) for _ in range(91)])
grey.save("grey.png")
colour.convert("RGB").save("pil24.bmp")
colour.convert("RGBA").save("pil32.bmp")
colour.convert("RGB").save("pil-rgb.png")
colour.convert("RGBA").save("pil-rgba.png")
Image.frombytes("I;16", (13, 7), bytes(b for v in grey.tobytes() for b in (v, v))).save(
    "grey16.png")
grey.convert("LA").save("grey-alpha.png")
PY
/usr/bin/convert colour.png -type TrueColor BMP3:im24.bmp
/usr/bin/convert colour.png -type TrueColorAlpha BMP:im32.bmp
for kind in 24:rgb 32:rgba 48:rgb16 64:rgba16; do
    /usr/bin/convert colour.png "PNG${kind%%:*}:im-${kind#*:}.png"
done
gm convert colour.png -type TrueColor gm24.bmp
for format in 3:24 5:32; do
    gimp -i -b "(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE \"colour.png\" \"\"))))
                  (gimp-image-convert-rgb image)
                  (file-bmp-save2 RUN-NONINTERACTIVE image
                                  (car (gimp-image-get-active-layer image))
                                  \"gimp${format#*:}.bmp\" \"\" 0 0 ${format%%:*}))" \
        -b '(gimp-quit 0)' >/dev/null 2>&1
done
