"""The Python module as a scripter uses it, against the programs' files, byte for byte."""
import os, shutil, subprocess, threading

import pytest
from PIL import Image, ImageDraw

import quorbin
import quorbin.pillow  # noqa: F401 (registers KZP)

PROGRAMS, EXAMPLES = os.environ["QUORBIN_PROGRAMS"], os.environ["QUORBIN_EXAMPLES"]


def run(program, *args, cwd):  # standard output and error after the banner
    done = subprocess.run([os.path.join(PROGRAMS, program), *args], cwd=cwd, capture_output=True,
                          text=True)
    return done.stdout, done.stderr.split("\n", 1)[1]


@pytest.fixture
def work(tmp_path):
    for name in ["pack.dat", "pack.lst", "sunset.kzp", "tiles.kzp"]:
        shutil.copy(os.path.join(EXAMPLES, name), tmp_path)
    (tmp_path / "packed").mkdir()
    run("quorbin", "-l", "pack.lst", "sunset.kzp", "tiles.kzp", cwd=tmp_path)
    return tmp_path


def same_picture(image, bmp):
    with Image.open(bmp) as want:
        assert image.mode == "P" and image.size == want.size
        assert image.tobytes() == want.tobytes()
        assert image.getpalette()[:768] == want.getpalette()[:768]


# Opening and saving: the pixels and palette quorbin writes, the streams quorbin-pack writes.
def test_open_and_save_round_trips(work):
    stream = (work / "sunset.kzp").read_bytes()
    picture = quorbin.decode(stream)
    assert (picture.width, picture.height, len(picture.palette)) == (320, 200, 768)
    with Image.open(work / "sunset.kzp") as image:
        same_picture(image, work / "sunset.bmp")
        assert image.info["lead"] == picture.lead
        image.save(work / "again.kzp")  # with its lead bytes
        image.save(work / "plain.kzp", lead=b"")
    run("quorbin-pack", "-C", "packed", "sunset.bmp", cwd=work)  # the BMP quorbin wrote, packed
    packed = (work / "packed" / "sunset.kzp").read_bytes()
    assert (work / "plain.kzp").read_bytes() == packed
    assert quorbin.encode(quorbin.decode(packed)) == packed
    assert quorbin.decode((work / "again.kzp").read_bytes()).lead == picture.lead
    exact = quorbin.encode(picture, size=len(stream) + 5)
    assert len(exact) == len(stream) + 5
    assert bytes(quorbin.decode(exact).pixels) == bytes(picture.pixels)
    grey = Image.new("L", (4, 3), 7)
    grey.save(work / "grey.kzp")
    with Image.open(work / "grey.kzp") as back:
        assert back.tobytes() == grey.tobytes() and back.getpalette()[21:24] == [7, 7, 7]


# An archive: the entries of its list, and each one's picture as quorbin -l writes it.
def test_archive_entries_as_quorbin_writes_them(work):
    archive = quorbin.Archive(work / "pack.lst", archive_dir=str(work) + "/")
    lines = (work / "pack.lst").read_text().split("\n")[:-1]
    assert [(e.archive, e.offset, e.size, e.name) for e in archive] == [
        (str(work) + "/" + a, int(o), int(s), n) for a, o, s, n in (l.split() for l in lines)]
    for entry in archive:
        same_picture(entry.image(), work / (quorbin._stem(entry.name) + ".bmp"))
    assert archive["logo"].name == "gfx\\logo.kzp"


# Putting back, under each option: the archive quorbin-pack -l writes and what it says.
@pytest.mark.parametrize("options", [{}, {"nearest": True}, {"dither": True},
                                     {"nearest": True, "fit": True}, {"dither": True, "accept": True}])
def test_put_back_as_quorbin_pack(work, options):
    title = Image.open(work / "title.bmp").convert("RGB")
    ImageDraw.Draw(title).rectangle((20, 30, 140, 90), fill=(250, 240, 20))
    ImageDraw.Draw(title).text((30, 40), "LEVEL 2", fill=(10, 10, 200))
    noise = Image.effect_noise((45, 45), 90).convert("RGB")
    (work / "edit").mkdir()
    title.save(work / "edit" / "title.bmp")
    noise.save(work / "edit" / "logo.bmp")
    (work / "ours").mkdir()
    (work / "theirs").mkdir()
    archive = quorbin.Archive(work / "pack.lst")
    os.chdir(work)
    results = archive.put_back({"title": title, "logo": str(work / "edit" / "logo.bmp")},
                               work_dir="ours", **options)
    letters = {"nearest": "-n", "dither": "-d", "fit": "-F", "accept": "-A"}
    out, err = run("quorbin-pack", *[letters[o] for o in options], "-C", "theirs", "-l",
                   "pack.lst", "edit/title.bmp", str(work / "edit" / "logo.bmp"), cwd=work)
    theirs = work / "theirs" / "pack.dat"
    assert (work / "ours" / "pack.dat").exists() == theirs.exists()
    if theirs.exists():
        assert (work / "ours" / "pack.dat").read_bytes() == theirs.read_bytes()
    assert [r.back for r in results] == [
        "-> theirs/pack.dat/%s ... OK" % entry in out for entry in ("title.kzp", "gfx\\logo.kzp")]
    for result in results:
        for message in result.messages:
            assert message.replace("'title'", "'edit/title.bmp'") in err
    assert results[0].entry == "title.kzp" and results[0].archive == "ours/pack.dat"
    if options.get("accept"):
        assert all(r.back for r in results) and results[1].fit["edit"] > 0


# Failures raise quorbin.Error (a ValueError) with the programs' messages.
def test_errors_carry_the_programs_messages(work):
    with pytest.raises(quorbin.ListError, match="cat't open list file 'no.lst'."):
        quorbin.Archive("no.lst")
    (work / "bad.lst").write_text("pack.dat 999999 10 far.kzp\n")
    with pytest.raises(quorbin.EntryError, match="entry 'far.kzp' does not lie inside"):
        quorbin.Archive(work / "bad.lst", archive_dir=str(work) + "/")[0].image()
    with pytest.raises(quorbin.Error):
        quorbin.decode(b"\xff" + b"\x07" * 8)
    assert issubclass(quorbin.Error, ValueError)
    with pytest.raises(quorbin.Error, match="is a true-colour picture"):
        Image.new("RGB", (2, 2)).save(work / "rgb.kzp")
    result, = quorbin.Archive(work / "pack.lst").put_back({"map": Image.new("P", (3, 3))})
    assert not result.back and result.messages == [
        "'map' is 3 x 3 pixels; entry 'map.kzp' is 200 x 160.\n"]


# Decoding and encoding in threads at once (the GIL let go).
def test_threads(work):
    streams = [(work / n).read_bytes() for n in ("sunset.kzp", "tiles.kzp")] * 4
    out = [None] * len(streams)

    def work_on(i):
        out[i] = quorbin.encode(quorbin.decode(streams[i]))
    threads = [threading.Thread(target=work_on, args=(i,)) for i in range(len(streams))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert [bytes(quorbin.decode(o).pixels) for o in out] == [
        bytes(quorbin.decode(s).pixels) for s in streams]
