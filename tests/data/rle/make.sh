#!/usr/bin/env bash
# Makes this directory's RLE BMP files with the tools people save them with
# (ImageMagick 6.9: im-W.bmp, GraphicsMagick 1.3: gm-W.bmp, GIMP 2.10:
# gimp8-W.bmp and gimp4-W.bmp, W the width), from palette pictures drawn here,
# and another reader's reading of each: NAME.ref.png, Pillow 9.4's, or GIMP's
# where Pillow cannot read the file (it reads one byte too few for an RLE4
# absolute run of an odd length).  Debian 12: imagemagick graphicsmagick gimp
# python3-pil.
set -euo pipefail
cd "$(dirname "$0")"
src=$(mktemp -d)
trap 'rm -rf "$src"' EXIT
rm -f ./*.bmp ./*.png
/usr/bin/python3 - "$src" <<'PY'
import random, sys
from PIL import Image
random.seed(21)
for colours, tag in ((200, "8"), (16, "4")):
    for width in list(range(1, 10)) + [31, 333]:
        height = 13 if width > 100 else 24
        pixels = []
        for _ in range(height):
            row = []
            while len(row) < width:
                n = random.randint(1, 12)
                if random.random() < 0.5:
                    row += [random.randrange(colours)] * n
                else:
                    row += [random.randrange(colours) for _ in range(n)]
            pixels += row[:width]
        picture = Image.new("P", (width, height))
        picture.putpalette([random.randrange(256) for _ in range(3 * colours)])
        picture.putdata(pixels)
        picture.save("%s/%s-%d.png" % (sys.argv[1], tag, width))
PY
for source in "$src"/*.png; do
    name=$(basename "$source" .png) bits=${name%%-*} width=${name#*-}
    if [ "$bits" = 8 ]; then
        /usr/bin/convert "$source" "BMP3:im-$width.bmp"
        gm convert "$source" "gm-$width.bmp"
    fi
    gimp -i -b "(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE \"$source\" \"$source\")))
                       (layer (car (gimp-image-get-active-layer image))))
                  (file-bmp-save2 RUN-NONINTERACTIVE image layer \"gimp$bits-$width.bmp\" \"\" 1 0 0))" \
        -b '(gimp-quit 0)' >/dev/null 2>&1
done
for bmp in *.bmp; do
    ref=${bmp%.bmp}.ref.png
    /usr/bin/python3 -c 'import sys; from PIL import Image; Image.open(sys.argv[1]).save(sys.argv[2])' \
        "$bmp" "$ref" 2>/dev/null ||
        gimp -i -b "(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE \"$bmp\" \"\")))
                           (layer (car (gimp-image-get-active-layer image))))
                      (gimp-file-save RUN-NONINTERACTIVE image layer \"$ref\" \"\"))" \
            -b '(gimp-quit 0)' >/dev/null 2>&1
done
