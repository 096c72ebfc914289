"""quorbin: KZP images, the list files that locate them in game archives, and pictures put back.

    import quorbin
    picture = quorbin.decode(open("title.kzp", "rb").read())   # width, height, palette, pixels
    stream = quorbin.encode(picture)                          # the smallest KZP stream
    archive = quorbin.Archive("pack.lst")                     # the entries, in list order
    image = archive["title.kzp"].image()                      # a Pillow image, mode "P"
    results = archive.put_back({"title": image}, nearest=True)

`import quorbin.pillow` teaches Pillow to open and save .kzp files.  What fails raises
quorbin.Error (a ValueError) or one of its kinds, with the message the programs would print."""
import os
from dataclasses import dataclass, field

from ._quorbin import Picture, decode, encode
from . import _quorbin

__all__ = ["Picture", "decode", "encode", "Archive", "Entry", "Result", "Error", "ListError",
           "EntryError"]


class Error(ValueError):
    """What quorbin or quorbin-pack would refuse, with their message."""


class ListError(Error):
    """The list file cannot be read."""


class EntryError(Error):
    """An entry does not open, lies outside its archive or decodes to no picture."""


def _image(picture):
    from PIL import Image
    image = Image.frombytes("P", (picture.width, picture.height), bytes(picture.pixels))
    image.putpalette(picture.palette)
    image.info["lead"] = picture.lead
    return image


@dataclass
class Entry:
    """An entry of a list file: where its KZP stream lies."""
    name: str
    archive: str
    offset: int
    size: int

    @property
    def stem(self):
        """The name quorbin gives the entry's pictures, without extension: its base name up to
        its first '.' (gfx\\logo.kzp: logo)."""
        return _stem(self.name)

    def picture(self):
        """The entry decoded (a quorbin.Picture)."""
        return _quorbin._entry_image(self.archive, self.offset, self.size, self.name)

    def image(self):
        """The entry as a Pillow image of mode "P" with its palette (its lead bytes in info)."""
        return _image(self.picture())


@dataclass
class Result:
    """What became of a picture put back: into which entry and archive, whether it went back,
    what quorbin-pack said of it, how many pixels took nearest colours, and the fit (edit,
    changed, mean, seen, largest) when it needed one."""
    picture: str
    entry: str
    archive: str
    back: bool
    messages: list = field(default_factory=list)
    nearest: int = 0
    fit: dict = None


def _stem(name):
    return os.path.basename(name.replace("\\", "/")).split(".")[0]


class Archive:
    """The entries of a list file (arc-dir in front of each archive name, as -c gives it)."""

    def __init__(self, list_path, archive_dir=None):
        self.list_path = os.fspath(list_path)
        self.archive_dir = None if archive_dir is None else os.fspath(archive_dir)
        self.entries = [Entry(name, archive, offset, size) for archive, offset, size, name in
                        _quorbin._entries(self.list_path, self.archive_dir)]

    def __len__(self):
        return len(self.entries)

    def __iter__(self):
        return iter(self.entries)

    def __getitem__(self, key):
        """An entry by its place, its name or its stem."""
        if isinstance(key, int):
            return self.entries[key]
        for entry in self.entries:
            if key in (entry.name, _stem(entry.name)):
                return entry
        raise KeyError(key)

    def put_back(self, pictures, nearest=False, dither=False, fit=False, accept=False,
                 work_dir=None):
        """Puts pictures back as quorbin-pack -l does (the same bytes, lock, part file and
        rename): `pictures` maps entry names or stems to Pillow images or to paths of BMP or PNG
        files.  The options are -n, -d, -F and -A; with work_dir the archives are written there
        (-C).  One Result a picture, in order; `said` holds what quorbin-pack would print."""
        given = []
        for name, picture in pictures.items():
            if isinstance(picture, (str, bytes, os.PathLike)):
                given.append((name, os.fspath(picture)))
                continue
            if picture.mode not in ("P", "L", "RGB"):
                picture = picture.convert("L" if picture.mode in ("1", "I;16") else "RGB")
            palette = bytes(picture.getpalette() or []) if picture.mode == "P" else b""
            given.append((name, picture.width, picture.height, picture.mode, picture.tobytes(),
                          palette.ljust(768, b"\0")[:768]))
        results, self.said = _quorbin._put_back(
            self.list_path, self.archive_dir, None if work_dir is None else os.fspath(work_dir),
            given, nearest, dither, fit, accept)
        return [Result(**result) for result in results]
