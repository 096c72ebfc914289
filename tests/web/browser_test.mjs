// browser_test.mjs BROWSER PAGE NATIVE EXAMPLES NODE_MODULES: the page as people use it, in
// headless Chromium ("chrome") or Firefox ESR ("firefox"), driven by puppeteer-core.
import fs from 'fs';
import os from 'os';
import path from 'path';
import { execFileSync } from 'child_process';
import { createRequire } from 'module';

const [browserName, page, native, examples, modules] = process.argv.slice(2);
const require = createRequire(path.join(modules, 'x.js'));
const puppeteer = require('puppeteer-core');
const axe = fs.readFileSync(path.join(modules, 'axe-core', 'axe.min.js'), 'utf8');
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'qb-browser-'));
const failures = [];
const check = (ok, what) => ok || failures.push(what);
const at = (...names) => path.join(work, ...names);
const file = (name, bytes) => (fs.writeFileSync(at(name), bytes), at(name));

// The examples' archive and list, a line past the archive's end, a cut entry, an empty KZP file,
// text named as a picture, a list of no lines; edits: the title in true colour a pixel changed
// (goes back), the logo in noise (too large), the map with a colour the palette lacks, and a
// picture no line names.
for (const name of ['pack.dat', 'pack.lst']) fs.copyFileSync(path.join(examples, name), at(name));
const size = fs.statSync(at('pack.dat')).size;
fs.writeFileSync(at('cut.dat'), fs.readFileSync(at('pack.dat')).subarray(0, 9000));
fs.appendFileSync(at('pack.lst'), `pack.dat ${size + 10} 100 far.kzp\ncut.dat 8 30110 cut.kzp\n`);
execFileSync(path.join(native, 'quorbin'), ['-l', 'pack.lst'], { cwd: work, stdio: 'ignore' });
const bmp = (name) => fs.readFileSync(at(name));
const title = bmp('title.bmp'), logo = bmp('logo.bmp'), map = bmp('map.bmp');
title[1078 + 500] ^= 1;
for (let i = 1078 + 400, seed = 7; i < logo.length; i++) logo[i] = (seed = (seed * 48271) % 2147483647) % 256;
map[54 + 4 * map[1078]] ^= 1; // the colour of the first pixel's index, a step off
fs.mkdirSync(at('edit'));
for (const [name, bytes] of [['title.bmp', title], ['logo.bmp', logo], ['map.bmp', map], ['other.bmp', title]])
  fs.writeFileSync(at('edit', name), bytes);
// A KZP image of 0 x 0 pixels: 1032 zero bytes as literals.
const zero = Buffer.concat(Array.from({ length: 129 }, () => Buffer.from([0xff, 0, 0, 0, 0, 0, 0, 0, 0])));
const given = [
  at('pack.dat'), at('cut.dat'), at('pack.lst'), file('empty.kzp', ''), file('zero.kzp', zero),
  file('notes.png', 'not a picture\n'),
  file('blank.lst', '\n\n'), ...['title.bmp', 'logo.bmp', 'map.bmp', 'other.bmp'].map((n) => at('edit', n)),
];
const long = file('long.lst', fs.readFileSync(path.join(examples, 'pack.lst'), 'utf8').repeat(1000));

const browser = await puppeteer.launch({
  browser: browserName, headless: true, userDataDir: at('profile'),
  executablePath: browserName === 'firefox' ? '/usr/bin/firefox-esr' : '/usr/bin/chromium',
  args: browserName === 'firefox' ? [] : ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
const tab = await browser.newPage();
const wait = (test, ...args) => tab.waitForFunction(test, { timeout: 60000 }, ...args);
const text = (selector) => tab.$$eval(selector, (all) => all.map((e) => e.textContent));
// The text of the last card of a name (a picture's comes after its entry's).
const card = (stem) => tab.$$eval(`figure[aria-label="${stem}"] figcaption`, (all) => (all.length ? all[all.length - 1].innerText : ''));
// Opens `paths` afresh and waits for the run to end.
const open = async (paths) => {
  await tab.click('#clear');
  await wait(() => document.getElementById('status').textContent === '0 pictures');
  await (await tab.$('#file')).uploadFile(...paths);
  await wait(() => document.getElementById('progress').hidden && /^[1-9]\d* pictures?/.test(document.getElementById('status').textContent));
};
async function access(where) {
  await tab.evaluate(axe);
  const found = await tab.evaluate(() =>
    axe.run(document, { rules: { 'color-contrast-enhanced': { enabled: false } } }).then((r) => r.violations.map((v) => v.id)));
  check(!found.length, `${where}: axe ${found}`);
}

try {
  await tab.setViewport({ width: 1280, height: 800 });
  await tab.goto('file://' + page);
  await access('the first screen');

  // What each card says: one verdict, in the page's words, and never the module's folders.
  await open(given);
  const notes = (await text('#notes .note')).join('\n');
  check(/notes\.png is no picture/.test(notes), 'text named .png: ' + notes);
  check(/blank\.lst is neither a picture, a KZP image nor a list/.test(notes), 'a list of no lines: ' + notes);
  for (const [stem, says] of [
    ['title', /^Went back into pack\.dat/m], ['logo', /Not put back:.*too many.*Tick “a fit to the entry”/s],
    ['map', /Not put back:.*does not hold.*Tick “nearest colours”/s], ['other', /No line of pack\.lst names other/],
    ['empty', /empty\.kzp is empty/], ['zero', /0 × 0 pixels: there is nothing to show/],
    ['far', /lies past the end of pack\.dat/], ['cut', /cut short/]])
    check(says.test(await card(stem)), `${stem}: ${await card(stem)}`);
  check(!(await tab.$$('figure[aria-label="zero"] a, figure[aria-label="zero"] img')).length, 'links of an empty picture');
  check(/lies past the end of pack\.dat/.test(await card('far')), 'far: ' + (await card('far')));
  check(/cut short/.test(await card('cut')), 'cut: ' + (await card('cut')));
  const all = (await text('figure')).join('\n');
  check(!/\/(in|out|work)\//.test(all), 'an internal path shows');
  const status = (await text('#status'))[0];
  check(status === '4 pictures, 7 failed', 'status: ' + status); // empty, zero, far, cut; logo, map, other
  await access('the gallery');

  // A box ticked puts the pictures back again, where they are: the gallery and its scroll stay.
  await tab.setViewport({ width: 1280, height: 400 });
  await tab.evaluate(() => {
    document.querySelector('figure').dataset.mark = 'kept';
    scrollTo(0, 200);
  });
  await tab.click('#nearest');
  await wait(() => /Went back into/.test([...document.querySelectorAll('figure[aria-label="map"]')].pop().innerText));
  check(await tab.evaluate(() => document.querySelector('figure').dataset.mark === 'kept' && Math.abs(scrollY - 200) < 2),
    'the gallery was made anew');
  await tab.click('#nearest');
  await tab.setViewport({ width: 1280, height: 800 });

  // Finding pictures: the gallery narrows as one types, the status says how many match.
  await tab.type('#filter', 'LOG');
  await wait(() => document.querySelectorAll('figure').length === 2);
  check(/; 2 match$/.test((await text('#status'))[0]), 'filter status: ' + (await text('#status'))[0]);
  await tab.evaluate(() => (document.getElementById('filter').value = ''));
  await tab.type('#filter', ' ');
  await wait(() => document.querySelectorAll('figure').length > 8);

  // The viewer by keyboard: Enter opens it, arrows move the cursor and the readout follows, Page
  // Down shows the next picture, the zoom chosen stays, Escape gives the focus back.
  await tab.focus('figure button.thumb');
  await tab.keyboard.press('Enter');
  await wait(() => document.getElementById('viewer').open && document.getElementById('zoomed').width > 0);
  const first = (await text('#viewer-title'))[0];
  // The wheel zooms around the pixel under the pointer (of a picture larger than its pane).
  const under = await tab.evaluate(() => {
    const canvas = document.getElementById('zoomed'), box = canvas.parentElement.getBoundingClientRect();
    const [x, y] = [box.left + 150, box.top + 120];
    const at = () => (canvas.dispatchEvent(new MouseEvent('mousemove', { clientX: x, clientY: y })), document.getElementById('pointer').textContent);
    const zoom = document.getElementById('zoom');
    zoom.value = 6;
    zoom.dispatchEvent(new Event('input'));
    const before = at();
    canvas.dispatchEvent(new WheelEvent('wheel', { clientX: x, clientY: y, deltaY: -100, cancelable: true }));
    return [before, at()];
  });
  check(under[0] && under[0] === under[1], 'the wheel moved the pixel under the pointer: ' + under);
  await tab.focus('#viewer .picture');
  for (const key of ['ArrowRight', 'ArrowRight', 'ArrowDown']) await tab.keyboard.press(key);
  check(/^\(1, 1\) index \d+ #[0-9a-f]{6}$/.test((await text('#pointer'))[0]), 'cursor readout: ' + (await text('#pointer'))[0]);
  await tab.keyboard.press('PageDown');
  await wait((before) => document.getElementById('viewer-title').textContent !== before, first);
  for (let zoom = 1; zoom <= 16; zoom += 5) {
    await tab.evaluate((z) => {
      const input = document.getElementById('zoom');
      input.value = z;
      input.dispatchEvent(new Event('input'));
    }, zoom);
    const inside = await tab.evaluate(() => ['close', 'pointer', 'next'].every((id) => {
      const box = document.getElementById(id).getBoundingClientRect();
      return box.top >= 0 && box.left >= 0 && box.bottom <= innerHeight && box.right <= innerWidth;
    }));
    check(inside, `controls out of the window at ${zoom}×`);
  }
  check((await tab.$eval('#zoom', (z) => z.getAttribute('aria-valuetext'))) === '16×', 'slider value text');
  await access('the viewer');
  await tab.keyboard.press('Escape');
  await wait(() => !document.getElementById('viewer').open);
  check(await tab.evaluate(() => document.activeElement.classList.contains('thumb')), 'focus did not come back');
  // By pointer: the zoom is remembered, and a click on the backdrop closes it.
  await tab.click('figure button.thumb');
  await wait(() => document.getElementById('viewer').open && document.getElementById('zoomed').width > 0);
  check((await tab.$eval('#zoom', (z) => z.value)) === '16', 'the zoom was forgotten');
  await tab.mouse.click(3, 3);
  await wait(() => !document.getElementById('viewer').open);

  // Save all shows how far it got and stops on Cancel; the focus goes on to Cancel.  While the long
  // list opens, the live region speaks at most every three seconds.
  await tab.evaluate(() => {
    window.spoken = 0;
    new MutationObserver(() => spoken++).observe(document.getElementById('status'), { childList: true, characterData: true, subtree: true });
  });
  const opening = Date.now();
  await open([at('pack.dat'), long]);
  const spoken = await tab.evaluate(() => spoken);
  await wait(() => document.querySelector('figure button.thumb img')); // thumbnails after a Clear too
  check(spoken <= 4 + (Date.now() - opening) / 3000, `the status changed ${spoken} times in ${Date.now() - opening} ms`);
  await tab.focus('#zip');
  await tab.keyboard.press('Enter');
  const seen = await tab.evaluate(() => {
    const seen = [!document.getElementById('progress').hidden, document.activeElement === document.getElementById('cancel')];
    document.getElementById('cancel').click(); // at once: the zip may take only a second
    return seen;
  });
  check(seen[0], 'no progress shown');
  check(seen[1], 'focus not on Cancel');
  await wait(() => /cancelled/.test(document.getElementById('status').textContent));
  check(await tab.$eval('#zip-link', (a) => a.hidden), 'a zip after Cancel');

  // Disabled buttons look disabled; on a phone the header takes at most 15% of the height.
  const looks = await tab.evaluate(() => ['cancel', 'open'].map((id) => getComputedStyle(document.getElementById(id)).backgroundColor));
  check(looks[0] !== looks[1], 'a disabled button looks enabled');
  await tab.setViewport({ width: 390, height: 844 });
  const header = await tab.$eval('header', (h) => h.offsetHeight);
  check(header <= 0.15 * 844, `the header takes ${header} of 844 px`);
  await tab.setViewport({ width: 1280, height: 800 });

  // The dark scheme follows the system's, and passes axe too.
  if (browserName === 'chrome') {
    await tab.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: 'dark' }]);
    check(await tab.evaluate(() => getComputedStyle(document.body).backgroundColor !== 'rgb(244, 244, 241)'), 'no dark scheme');
    await open(given);
    await access('the gallery, dark');
  }
} catch (error) {
  failures.push(String(error.stack || error));
} finally {
  await browser.close();
  fs.rmSync(work, { recursive: true, force: true });
}
console.log(failures.join('\n') || `${browserName}: the page does what its user does with it`);
process.exit(failures.length ? 1 : 0);
