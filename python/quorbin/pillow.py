"""KZP in Pillow: `import quorbin.pillow`, then Image.open("title.kzp") gives a mode "P" image
with its palette (the bytes in front of its pixels in info["lead"]), and image.save("new.kzp")
packs a palette or grey image into the smallest KZP stream.  A KZP stream has no signature: a
file is taken for one by its .kzp extension."""
import io

from PIL import Image, ImageFile, ImagePalette

from . import Error, decode, encode, Picture


class KzpImageFile(ImageFile.ImageFile):
    format = "KZP"
    format_description = "KZP image (LZSS-compressed palette picture)"

    def _open(self):
        name = getattr(self.fp, "name", "")
        if not isinstance(name, str) or not name.lower().endswith(".kzp"):
            raise SyntaxError("not a .kzp file")
        try:
            picture = decode(self.fp.read())
        except Error as error:
            raise SyntaxError(str(error))
        self._size = (picture.width, picture.height)
        if isinstance(getattr(Image.Image, "mode", None), property):
            self._mode = "P"  # Pillow 10 on
        else:
            self.mode = "P"
        self.palette = ImagePalette.raw("RGB", picture.palette)
        self.info["lead"] = picture.lead
        self.fp = io.BytesIO(bytes(picture.pixels))
        self.tile = [("raw", (0, 0) + self.size, 0, ("P", 0, 1))]

    # The pixels are read from the decoded bytes, never mapped from the file.
    def load_read(self, size):
        return self.fp.read(size)

    def load_seek(self, offset):
        self.fp.seek(offset)


def _save(image, fp, filename):
    if image.mode == "L":
        palette = bytes(v for i in range(256) for v in (i, i, i))
    elif image.mode in ("P", "1"):
        image = image.convert("P") if image.mode == "1" else image
        palette = bytes(image.getpalette() or []).ljust(768, b"\0")[:768]
    else:
        name = filename if isinstance(filename, str) else "the picture"
        raise Error("'%s' is a true-colour picture; only palette or grey images of up to 8 bits "
                    "can be packed: save it as an indexed picture (256 colours or fewer) first."
                    % name)
    lead = image.encoderinfo.get("lead", image.info.get("lead", b""))
    fp.write(encode(Picture(image.width, image.height, image.tobytes(), palette, lead)))


Image.register_open(KzpImageFile.format, KzpImageFile)
Image.register_save(KzpImageFile.format, _save)
Image.register_extension(KzpImageFile.format, ".kzp")
