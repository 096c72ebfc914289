#!/usr/bin/python3
"""page_test.py PAGE NATIVE_BUILD EXAMPLES: the page in headless Chromium given the examples, a
damaged file and an edited picture: captions, every download's bytes against the programs'
files, the zip, the viewer's pointer; prints the time to the gallery, saves a screenshot."""
import base64, io, os, re, shutil, subprocess, sys, tempfile, time, zipfile
from PIL import Image
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

page, native, examples = (os.path.abspath(arg) for arg in sys.argv[1:4])
work = tempfile.mkdtemp()
given = os.path.join(work, "given")
os.mkdir(given)
for name in ["sunset.kzp", "mandel.kzp", "tiles.kzp", "pack.dat", "pack.lst"]:
    shutil.copy(os.path.join(examples, name), given)
with open(os.path.join(given, "broken.kzp"), "wb") as f:  # 1024 bytes decoded: too few
    f.write((b"\xff" + b"\x07" * 8) * 128)


def cli(program, *args, cwd):
    os.makedirs(os.path.join(cwd, "k"), exist_ok=True)
    subprocess.run([os.path.join(native, program), *args], cwd=cwd, capture_output=True)


# What the programs write, figure by figure: a KZP file's or an entry's PNG and BMP files and the
# KZP file of that BMP (in k/); the edited picture's KZP file, its PNG and BMP files (in k/), and
# the archive it goes back into.
for name, lst in [("sunset", []), ("mandel", []), ("tiles", []), ("broken", []),
                  ("e", ["-c", given + "/", "-l", os.path.join(given, "pack.lst")])]:
    for ext in ["bmp", "png"]:
        cli("quorbin", "-f", ext, *lst, *([] if lst else [os.path.join(given, name + ".kzp")]),
            cwd=os.path.join(work, name))
edited = os.path.join(work, "edit")
bmp = bytearray(open(os.path.join(work, "e", "title.bmp"), "rb").read())
bmp[5000] ^= 1  # a pixel to the next index
os.makedirs(edited)
open(os.path.join(edited, "title.bmp"), "wb").write(bmp)
for program, args in [("quorbin-pack", ["title.bmp"]),
                      ("quorbin", ["-f", "png", "title.kzp"]), ("quorbin", ["-C", "k", "title.kzp"]),
                      ("quorbin-pack", ["-C", ".", "-c", given + "/", "-l",
                                        os.path.join(given, "pack.lst"), "title.bmp"])]:
    cli(program, *args, cwd=edited)
expected = {"edit": {"title" + e: os.path.join(edited, p + "title" + e) for p, e in
                     [("", ".kzp"), ("", ".png"), ("k/", ".bmp")]}}
expected["edit"]["pack.dat"] = os.path.join(edited, "pack.dat")
for stem, out in [("sunset", "sunset"), ("mandel", "mandel"), ("tiles", "tiles"),
                  ("title", "e"), ("logo", "e"), ("map", "e")]:
    cli("quorbin-pack", "-C", "k", stem + ".bmp", cwd=os.path.join(work, out))
    expected[stem] = {stem + e: os.path.join(work, out, p + stem + e) for p, e in
                      [("", ".png"), ("", ".bmp"), ("k/", ".kzp")]}

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "bench"))
import page_bench

browser = page_bench.browser_for(work)
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def fetch(link):
    """The bytes behind a download link (made when first clicked), as a click saves them."""
    if not link.get_attribute("href").startswith("blob:"):
        browser.execute_script("arguments[0].click()", link)
        WebDriverWait(browser, 30).until(lambda b: link.get_attribute("href").startswith("blob:"))
    data = browser.execute_async_script(
        "fetch(arguments[0].href).then((r) => r.arrayBuffer()).then((b) => arguments[1]("
        "btoa(Array.from(new Uint8Array(b), (c) => String.fromCharCode(c)).join(''))))", link)
    return base64.b64decode(data)


try:
    browser.get("file://" + page)
    browser.find_element(By.TAG_NAME, "body").send_keys(Keys.TAB)
    check(browser.switch_to.active_element.get_attribute("id") == "open", "first Tab stop")
    # An archive alone, then a list alone: what to open too, and no figure.
    for name, note in [("pack.dat", "pack.dat is no KZP image, and no list open names it: if it is "
                        "an archive, open its list too."),
                       ("pack.lst", "pack.lst names pack.dat: open it too.")]:
        browser.find_element(By.ID, "clear").click()
        browser.find_element(By.ID, "file").send_keys(os.path.join(given, name))
        WebDriverWait(browser, 30).until(lambda b: b.find_element(By.ID, "notes").text)
        check(browser.find_element(By.ID, "notes").text == note and
              not browser.find_elements(By.TAG_NAME, "figure"), name + " alone")
    start = time.time()
    browser.find_element(By.ID, "file").send_keys("\n".join(
        os.path.join(given, name) for name in sorted(os.listdir(given))))
    while "pictures" not in browser.find_element(By.ID, "status").text:
        check(time.time() - start < 60, "the gallery never came")
        time.sleep(0.05)
    print("page opened to gallery of the examples: %.2f s" % (time.time() - start))
    browser.find_element(By.ID, "file").send_keys(os.path.join(edited, "title.bmp"))
    time.sleep(0.5)
    while "pictures" not in browser.find_element(By.ID, "status").text:
        time.sleep(0.05)
    figures = browser.find_elements(By.TAG_NAME, "figure")
    captions = [f.find_element(By.TAG_NAME, "figcaption").text for f in figures]
    # Put back with no options, and shown as it went in.
    check(not any(browser.find_element(By.ID, box).is_selected()
                  for box in ("nearest", "dither", "fit")), "put-back options on")
    check(len(figures[-1].find_elements(By.CSS_SELECTOR, "figcaption img")) == 1, "no back image")
    check(len(figures) == 8, "figures: %s" % captions)
    broken = [c for c in captions if c.startswith("broken")]
    check(len(broken) == 1 and "broken image data for 'broken.bmp'." in broken[0], "broken")
    for number, figure in enumerate(figures):
        caption = captions[number]
        links = figure.find_elements(By.CSS_SELECTOR, "figcaption a")
        stem = caption.split()[0]
        if stem == "broken":
            check(not links, "links of a broken image")
            continue
        key = "edit" if figure.get_attribute("data-key").startswith("picture:") else stem
        with Image.open(expected[key][stem + ".bmp"]) as picture:
            size, colours = picture.size, len(set(picture.convert("RGB").getdata()))
        check(re.match(r"%s %d × %d, %d colours\n" % (stem, *size, colours), caption), caption)
        got = {link.get_attribute("download"): fetch(link) for link in links}
        check(sorted(got) == sorted(expected[key]), "links of %s: %s" % (stem, sorted(got)))
        for name, bytes_ in got.items():
            check(bytes_ == open(expected[key].get(name, os.devnull), "rb").read(), name)

    # The zip: every figure's PNG file; the second title.png (the edited picture's) as title-2.png.
    browser.find_element(By.ID, "zip").click()
    WebDriverWait(browser, 30).until(lambda b: b.find_element(By.ID, "zip-link").is_displayed())
    with zipfile.ZipFile(io.BytesIO(fetch(browser.find_element(By.ID, "zip-link")))) as z:
        pngs = {n + ".png": expected[n][n + ".png"] for n in expected if n != "edit"}
        pngs["title-2.png"] = expected["edit"]["title.png"]
        check(sorted(z.namelist()) == sorted(pngs) and
              all(z.read(name) == open(path, "rb").read() for name, path in pngs.items()), "zip")

    # The pixel under the pointer, at every zoom (the viewer by keyboard: browser_test.mjs).
    thumb = figures[[c.split()[0] for c in captions].index("sunset")].find_element(
        By.CSS_SELECTOR, "button.thumb")
    thumb.click()
    WebDriverWait(browser, 30).until(lambda b: b.find_element(By.ID, "viewer").get_attribute("open"))
    with Image.open(expected["sunset"]["sunset.bmp"]) as picture:
        for zoom, x, y in ((1, 319, 199), (2, 7, 3), (3, 100, 50), (16, 2, 1)):
            pointer = browser.execute_script(
                "const z = document.getElementById('zoom'), c = document.getElementById('zoomed');"
                "z.value = arguments[0]; z.dispatchEvent(new Event('input'));"
                "const b = c.getBoundingClientRect(), at = (o, n, d, s) => Math.ceil(o + n * d / s);"
                "c.dispatchEvent(new MouseEvent('mousemove', {clientX: at(b.left, arguments[1], "
                "b.width, c.width), clientY: at(b.top, arguments[2], b.height, c.height)}));"
                "return document.getElementById('pointer').textContent", zoom, x, y)
            index = picture.getpixel((x, y))
            colour = "#%02x%02x%02x" % tuple(picture.getpalette()[3 * index:3 * index + 3])
            check(pointer == "(%d, %d) index %d %s" % (x, y, index, colour), "pointer: " + pointer)
    browser.find_element(By.ID, "close").click()
    browser.set_window_size(1400, 1000)
    browser.save_screenshot(os.path.join(os.path.dirname(page), "gallery.png"))
    # A list of 100,000 lines: the page answers, draws what is in view, cancels and forgets.
    # The goals are the benchmark's to judge (timings vary with the machine): printed here.
    long_run = page_bench.measure(browser, page_bench.long_list(work, given), 10)
    page_bench.report("100,000-line list", long_run)
    check(long_run["first"] is not None, "the long list showed no figure")
    WebDriverWait(browser, 30).until(lambda b: "cancelled" in b.find_element(By.ID, "status").text)
    check(len(browser.find_elements(By.TAG_NAME, "figure")) < 200, "figures out of view drawn")
    browser.find_element(By.ID, "clear").click()
    WebDriverWait(browser, 30).until(lambda b: not b.find_elements(By.TAG_NAME, "figure"))
    check(browser.find_element(By.ID, "first").is_displayed(), "no first screen after Clear")
finally:
    browser.quit()
    shutil.rmtree(work)
print("\n".join(failures) or "the page shows and saves what the programs write")
sys.exit(1 if failures else 0)
