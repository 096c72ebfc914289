// The page: opens files (the file input and drag and drop), hands them to the
// worker, which runs quorbin and quorbin-pack over them, and shows what comes
// back: a figure a picture, drawn as it scrolls into view, with its downloads
// (made when asked for), a filter by name, a viewer, one zip of them all.
'use strict';

const $ = (id) => document.getElementById(id);
const source = ['quorbin-module', 'quorbin-worker', 'fflate'].map((id) => $(id).textContent).join('\n');
const worker = new Worker(URL.createObjectURL(new Blob([source], { type: 'text/javascript' })));
let urls = []; // the blob: URLs of the figures shown, released when they go
let figures = []; // every figure of the run
let shown = []; // those the filter lets through, in order
let drawn = 0; // shown[0 .. drawn) are in the gallery
const elements = new Map(); // a drawn figure's element, by key

// Asks the worker for a file or a picture's pixels; the answer comes to `then`.
const waiting = new Map();
let asked = 0;
function ask(message, then) {
  waiting.set(++asked, then);
  worker.postMessage({ ...message, id: asked });
}

// Thumbnails are asked for a few at a time, so that a picture asked for the
// viewer never waits behind a long queue of them.
// A new run starts counting them afresh: answers to a run before do not count.
const thumbs = [];
let asking = 0, generation = 0;
function thumb(figure, button) {
  thumbs.push([figure, button]);
  queueMicrotask(pump); // once the button is in the gallery
}
function pump() {
  while (asking < 4 && thumbs.length) {
    const [figure, button] = thumbs.shift();
    if (!button.isConnected) continue;
    asking++;
    const asked = generation;
    ask({ file: figure.key, ext: 'png' }, (message) => {
      if (asked !== generation) return;
      asking--;
      if (message.bytes) button.append(image(message.bytes, figure.stem));
      pump();
    });
  }
}

// Hands the files to the worker, which reads them.
function open(files) {
  worker.postMessage({ files: Array.from(files), backOptions: backOptions() });
}

// quorbin-pack's options for putting pictures back, as the boxes say; a
// change puts the pictures back again, and only their figures change.
const boxes = ['nearest', 'dither', 'fit', 'accept'];
function backOptions() {
  return boxes.filter((id) => $(id).checked).map((id) => $(id).value);
}
for (const id of boxes)
  $(id).addEventListener('change', () => worker.postMessage({ backOnly: true, backOptions: backOptions() }));
// The options are open on a wide screen, closed on a phone's.
const wide = matchMedia('(min-width: 601px)');
$('options').open = wide.matches;
wide.addEventListener('change', () => ($('options').open = wide.matches));

// A button that disables itself gives the focus to another that can take it.
function disable(button, disabled, instead) {
  button.disabled = disabled;
  if (disabled && document.activeElement === button) (instead.disabled ? $('open') : instead).focus();
}

// The status as the live region speaks it: at most every three seconds, and at the end.
let spoke = 0, pending = null;
function say(text, now) {
  clearTimeout(pending);
  const wait = now ? 0 : 3000 - (Date.now() - spoke);
  if (wait <= 0) {
    $('status').textContent = text;
    spoke = Date.now();
  } else {
    pending = setTimeout(() => say(text, true), wait);
  }
}

$('open').addEventListener('click', () => $('file').click());
$('clear').addEventListener('click', () => {
  dropZip();
  worker.postMessage({ clear: true });
});
$('cancel').addEventListener('click', () => worker.postMessage({ cancel: true }));
$('file').addEventListener('change', (event) => {
  open(event.target.files);
  event.target.value = '';
});
// The window is the drop zone; entering and leaving child elements counts in and out.
let over = 0;
document.addEventListener('dragenter', () => document.body.classList.toggle('dragging', ++over > 0));
document.addEventListener('dragover', (event) => event.preventDefault());
document.addEventListener('dragleave', () => document.body.classList.toggle('dragging', --over > 0));
document.addEventListener('drop', (event) => {
  event.preventDefault();
  over = 0;
  document.body.classList.remove('dragging');
  open(event.dataTransfer.files);
});
// What is focused never hides under the header.
new ResizeObserver(() => {
  document.documentElement.style.scrollPaddingTop = document.querySelector('header').offsetHeight + 8 + 'px';
}).observe(document.querySelector('header'));

// A download link of `name`, made by the worker when first clicked (`what`
// says which: a figure's key and extension, or an archive put back).
function link(name, what) {
  const a = document.createElement('a');
  a.href = '#';
  a.download = name;
  a.textContent = name;
  a.addEventListener('click', (event) => {
    if (a.href.startsWith('blob:')) return;
    event.preventDefault();
    ask(what, (message) => {
      a.href = URL.createObjectURL(new Blob([message.bytes]));
      urls.push(a.href);
      a.click();
    });
  });
  return a;
}

function image(bytes, alt, type = 'image/png') {
  const img = document.createElement('img');
  img.src = URL.createObjectURL(new Blob([bytes], { type }));
  urls.push(img.src);
  img.alt = alt;
  return img;
}

function span(className, text) {
  const s = document.createElement('span');
  s.className = className;
  s.textContent = text;
  return s;
}

// Whether a figure is what its user wanted: a picture put back (when a list is open), else a picture.
const made = (figure) => (figure.putBack ? figure.putBack.back : Boolean(figure.view));

// A figure's element: the picture (a button that opens the viewer), its name
// and size, where it comes from; then one verdict: what became of it, or why
// there is no picture and what to do; its downloads.
function element(figure) {
  const element = document.createElement('figure');
  element.dataset.key = figure.key;
  element.setAttribute('aria-label', figure.stem);
  if (figure.view) {
    const button = document.createElement('button');
    button.className = 'thumb';
    button.setAttribute('aria-label', `View ${figure.stem}`);
    button.addEventListener('click', () => view(figure, button));
    thumb(figure, button);
    element.append(button);
  }
  if (!made(figure)) element.className = 'failed';
  const caption = document.createElement('figcaption');
  const line = (...parts) => caption.append(document.createElement('br'), ...parts);
  caption.append(figure.stem);
  if (figure.view) {
    const { width, height, colours } = figure.view;
    caption.append(' ', span('size', `${width} × ${height}, ${colours} colour${colours === 1 ? '' : 's'}`));
  }
  line(span('source', figure.title));
  const back = figure.putBack;
  if (back && back.back) {
    const into = span('back', 'Went back into ');
    back.archives.forEach((path, i) => into.append(i ? ', ' : '', link(path.split('/').pop(), { file: path })));
    into.append(`, its entry ${back.entry} of ${back.list}.`);
    line(into);
    for (const message of back.messages) line(span('back', message));
    if (back.picture) caption.append(image(back.picture, `${figure.stem} as it went back`));
  } else if (back) {
    line(span('message', 'Not put back:'));
    for (const message of back.messages) line(span('message', message));
    for (const advice of back.advice) line(span('advice', advice));
    if (back.fit)
      line(span('message', 'The fit it refused:'), image(back.fit, `${figure.stem} as the fit would put it back`, 'image/bmp'));
  } else {
    for (const message of figure.messages) line(span('message', message));
    if (figure.reason) line(span('message', figure.reason));
    for (const advice of figure.advice || []) line(span('advice', advice));
  }
  const links = document.createElement('div');
  if (figure.view)
    for (const ext of ['png', 'bmp', 'kzp']) links.append(link(figure.stem + '.' + ext, { file: figure.key, ext }));
  caption.append(links);
  element.append(caption);
  return element;
}

function show(figure) {
  const made = element(figure);
  elements.set(figure.key, made);
  $('gallery').append(made);
}

// Draws figures while the end of the gallery is within a window's height of the view.
function fill() {
  const more = $('more');
  while (drawn < shown.length && more.getBoundingClientRect().top < 2 * innerHeight)
    for (const end = Math.min(drawn + 24, shown.length); drawn < end; ) show(shown[drawn++]);
}
new IntersectionObserver(fill, { rootMargin: '100% 0px' }).observe($('more'));

// The filter: figures whose name or source (archive and entry) hold the text typed.
const matches = (figure) => {
  const text = $('filter').value.trim().toLowerCase();
  return !text || (figure.stem + ' ' + figure.title).toLowerCase().includes(text);
};
function refilter() {
  shown = figures.filter(matches);
  drawn = 0;
  elements.clear();
  $('gallery').replaceChildren();
  fill();
  tell(true);
}
$('filter').addEventListener('input', refilter);

// The status: how far the run is, or what it made, and how many the filter lets through.
let total = 0, running = false, cancelled = false;
function tell(now) {
  const failed = figures.filter((figure) => !made(figure)).length, count = figures.length - failed;
  let text = running
    ? `${figures.length} of ${total}`
    : `${count} picture${count === 1 ? '' : 's'}` + (failed ? `, ${failed} failed` : '') + (cancelled ? ' (cancelled)' : '');
  if ($('filter').value.trim()) text += `; ${shown.length} match`;
  say(text, now);
}

let zip = []; // the pieces of the zip coming, and a blob of those before them
let zipping = false;
function dropZip() {
  zip = [];
  const a = $('zip-link');
  if (a.href) URL.revokeObjectURL(a.href);
  a.removeAttribute('href');
  a.hidden = true;
}
function zipDone(end) {
  zipping = false;
  $('progress').hidden = true;
  disable($('cancel'), true, $('zip'));
  disable($('zip'), !figures.some(made), $('open'));
  say(end, true);
}

worker.onmessage = (event) => {
  const message = event.data;
  const progress = $('progress');
  if (message.id) {
    waiting.get(message.id)(message);
    waiting.delete(message.id);
  } else if (message.type === 'zip') {
    zip.push(message.chunk);
    // Pieces are gathered into a blob now and then, which the browser may keep out of the page.
    if (zip.length > 256) zip = [new Blob(zip)];
    if (!message.final) return;
    const a = $('zip-link');
    a.href = URL.createObjectURL(new Blob(zip, { type: 'application/zip' }));
    zip = [];
    a.download = 'quorbin-' + $('format').value + '.zip';
    a.textContent = a.download;
    a.hidden = false;
    zipDone(`Saved ${a.download}`);
    a.click();
  } else if (message.type === 'zip-progress') {
    if (!zipping) return;
    if (message.cancelled) {
      zip = [];
      return zipDone('Saving cancelled');
    }
    progress.max = Math.max(message.total, 1);
    progress.value = message.done;
    say(`Saving ${message.done} of ${message.total}`);
  } else if (message.type === 'note') {
    $('notes').append(span('note', message.note));
  } else if (message.type === 'start') {
    urls.forEach((url) => URL.revokeObjectURL(url));
    urls = [];
    figures = [];
    thumbs.length = 0;
    asking = 0;
    generation++;
    refilter();
    $('notes').replaceChildren(...message.notes.map((note) => span('note', note)));
    dropZip();
    disable($('zip'), true, $('cancel'));
    total = message.total;
    running = true;
    cancelled = false;
    progress.max = Math.max(total, 1);
    progress.value = 0;
    progress.hidden = false;
    $('cancel').disabled = false;
    tell(true);
  } else if (message.type === 'figures') {
    figures.push(...message.figures);
    const fresh = message.figures.filter(matches);
    shown.push(...fresh);
    fill();
    progress.value = figures.length;
    tell();
  } else if (message.type === 'back') {
    // The pictures put back again: their figures change where they are.
    for (const figure of message.figures) {
      const at = figures.findIndex((f) => f.key === figure.key);
      figures[at] = figure;
      const i = shown.findIndex((f) => f.key === figure.key);
      if (i >= 0) shown[i] = figure;
      const old = elements.get(figure.key);
      if (old) {
        const fresh = element(figure);
        old.replaceWith(fresh);
        elements.set(figure.key, fresh);
      }
    }
    tell(true);
  } else if (zipping) {
    zipDone(message.cancelled ? 'Saving cancelled' : '');
  } else {
    cancelled = running && Boolean(message.cancelled); // a Cancel after the end changes nothing
    progress.hidden = true;
    running = false;
    disable($('cancel'), true, $('filter'));
    disable($('zip'), !figures.some(made), $('open'));
    tell(true);
  }
};

// One zip of every picture in the chosen format, made by the worker; Cancel stops it.
$('zip').addEventListener('click', () => {
  dropZip();
  zipping = true;
  $('cancel').disabled = false;
  disable($('zip'), true, $('cancel'));
  $('progress').value = 0;
  $('progress').hidden = false;
  worker.postMessage({ zip: $('format').value });
});

// The viewer: the picture at 1× to 16×, its palette as 16 × 16 cells, the
// pixel under the pointer or the keyboard's cursor, the pictures before and
// after it.  The zoom chosen is kept for the session.
let viewed = null, opener = null, chosenZoom = null;
const cursor = { x: 0, y: 0, shown: false };

function hex(palette, index) {
  return '#' + Array.from(palette.subarray(4 * index, 4 * index + 3), (c) => c.toString(16).padStart(2, '0')).join('');
}

// Scales the picture drawn once to the zoom chosen, keeping the point (x, y)
// of the view (its top left by default) where it was.
function scale(x = 0, y = 0) {
  const { width, height } = viewed.view;
  const zoom = Number($('zoom').value), canvas = $('zoomed'), pane = canvas.parentElement;
  const old = canvas.getBoundingClientRect().width / width || zoom;
  $('zoom-value').textContent = zoom + '×';
  $('zoom').setAttribute('aria-valuetext', zoom + '×');
  canvas.style.width = width * zoom + 'px';
  canvas.style.height = height * zoom + 'px';
  pane.scrollLeft = ((pane.scrollLeft + x) * zoom) / old - x;
  pane.scrollTop = ((pane.scrollTop + y) * zoom) / old - y;
  place();
}

function zoomTo(zoom, x, y) {
  $('zoom').value = zoom;
  chosenZoom = Number($('zoom').value);
  scale(x, y);
}

function draw() {
  const { width, height, pixels, palette } = viewed.view;
  const canvas = $('zoomed');
  canvas.width = width;
  canvas.height = height;
  const image = new ImageData(width, height);
  for (let i = 0; i < width * height; i++) {
    image.data.set(palette.subarray(4 * pixels[i], 4 * pixels[i] + 3), 4 * i);
    image.data[4 * i + 3] = 255;
  }
  canvas.getContext('2d').putImageData(image, 0, 0);
  const cells = $('palette').getContext('2d');
  for (let i = 0; i < 256; i++) {
    cells.fillStyle = hex(palette, i);
    cells.fillRect((i % 16) * 16, Math.floor(i / 16) * 16, 16, 16);
  }
}

// What the readout says of the pixel (x, y).
function readout(x, y) {
  const { width, height, pixels, palette } = viewed.view;
  if (x < 0 || x >= width || y < 0 || y >= height) return '';
  const index = pixels[y * width + x];
  return `(${x}, ${y}) index ${index} ${hex(palette, index)}`;
}

// The keyboard's cursor, drawn over the pixel it is on.
function place() {
  const box = $('cursor'), zoom = Number($('zoom').value);
  box.hidden = !cursor.shown;
  Object.assign(box.style, { left: cursor.x * zoom + 'px', top: cursor.y * zoom + 'px', width: zoom + 'px', height: zoom + 'px' });
}

// The figures the viewer steps through: those shown that have a picture.
const viewable = () => shown.filter((figure) => figure.view);

// Opens the viewer on `figure`, once the worker sent its pixels; focus goes
// back to `from` when it closes.
function view(figure, from) {
  opener = from || opener;
  ask({ view: figure.key }, ({ pixels, palette }) => {
    if (!pixels) return;
    viewed = { ...figure, view: { ...figure.view, pixels, palette } };
    $('viewer-title').textContent = `${figure.stem}, ${figure.view.width} × ${figure.view.height}`;
    draw();
    cursor.x = cursor.y = 0;
    cursor.shown = false;
    $('pointer').textContent = '';
    $('zoomed').style.width = '0';
    if (!$('viewer').open) $('viewer').showModal();
    const steps = viewable(), at = steps.findIndex((f) => f.key === figure.key);
    $('previous').disabled = at <= 0;
    $('next').disabled = at < 0 || at >= steps.length - 1;
    // The zoom chosen before, or the largest whole zoom at which the picture fits its pane, at least 1×.
    const pane = $('zoomed').parentElement;
    const fit = Math.floor(Math.min(pane.clientWidth / figure.view.width, pane.clientHeight / figure.view.height));
    $('zoom').value = chosenZoom || Math.max(1, Math.min(16, fit));
    pane.scrollLeft = pane.scrollTop = 0;
    scale();
  });
}

function step(by) {
  const steps = viewable(), at = steps.findIndex((f) => f.key === viewed.key);
  if (steps[at + by]) view(steps[at + by]);
}

$('zoom').addEventListener('input', () => zoomTo($('zoom').value));
$('zoomed').addEventListener('wheel', (event) => {
  event.preventDefault();
  const pane = $('zoomed').parentElement.getBoundingClientRect();
  zoomTo(Number($('zoom').value) + (event.deltaY < 0 ? 1 : -1), event.clientX - pane.left, event.clientY - pane.top);
});
$('previous').addEventListener('click', () => step(-1));
$('next').addEventListener('click', () => step(1));
$('close').addEventListener('click', () => $('viewer').close());
// A click on the backdrop, outside the dialog's box, closes it.
$('viewer').addEventListener('click', (event) => {
  const box = $('viewer').getBoundingClientRect();
  const outside = event.clientX < box.left || event.clientX > box.right || event.clientY < box.top || event.clientY > box.bottom;
  if (event.target === $('viewer') && outside) $('viewer').close();
});
$('viewer').addEventListener('close', () => {
  viewed = null;
  if (opener && opener.isConnected) opener.focus();
});
$('viewer').addEventListener('keydown', (event) => {
  const zoom = { '+': 1, '=': 1, '-': -1, '−': -1 }[event.key];
  if (zoom) return zoomTo(Number($('zoom').value) + zoom);
  if (event.key === 'PageUp' || event.key === 'PageDown') {
    event.preventDefault();
    return step(event.key === 'PageUp' ? -1 : 1);
  }
  const move = { ArrowLeft: [-1, 0], ArrowRight: [1, 0], ArrowUp: [0, -1], ArrowDown: [0, 1] }[event.key];
  if (!move || event.target === $('zoom')) return;
  event.preventDefault();
  const { width, height } = viewed.view, by = event.shiftKey ? 8 : 1;
  if (cursor.shown) {
    cursor.x = Math.min(width - 1, Math.max(0, cursor.x + move[0] * by));
    cursor.y = Math.min(height - 1, Math.max(0, cursor.y + move[1] * by));
  }
  cursor.shown = true;
  place();
  $('cursor').scrollIntoView({ block: 'nearest', inline: 'nearest' });
  $('pointer').setAttribute('aria-live', 'polite');
  $('pointer').textContent = readout(cursor.x, cursor.y);
});
// The pixel under the pointer, from its position in the canvas's box as drawn.
$('zoomed').addEventListener('mousemove', (event) => {
  const { width, height } = viewed.view;
  const box = $('zoomed').getBoundingClientRect();
  const x = Math.floor(((event.clientX - box.left) * width) / box.width);
  const y = Math.floor(((event.clientY - box.top) * height) / box.height);
  $('pointer').removeAttribute('aria-live');
  $('pointer').textContent = readout(x, y);
});
$('zoomed').addEventListener('mouseleave', () => ($('pointer').textContent = ''));
$('palette').addEventListener('mousemove', (event) => {
  const cell = $('palette').getBoundingClientRect().width / 16;
  const index = Math.floor(event.offsetY / cell) * 16 + Math.floor(event.offsetX / cell);
  $('pointer').removeAttribute('aria-live');
  $('pointer').textContent = `index ${index} ${hex(viewed.view.palette, index)}`;
});
