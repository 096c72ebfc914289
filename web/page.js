// The page: opens files (the file input and drag and drop), hands them to the
// worker, which runs quorbin and quorbin-pack over them, and shows what comes
// back: a figure a picture, drawn as it scrolls into view, with its downloads
// (made when asked for), a viewer, one zip of them all.
'use strict';

const $ = (id) => document.getElementById(id);
const source = ['quorbin-module', 'quorbin-worker', 'fflate'].map((id) => $(id).textContent).join('\n');
const worker = new Worker(URL.createObjectURL(new Blob([source], { type: 'text/javascript' })));
let urls = []; // the blob: URLs of the figures shown, released when they go
let figures = [];
let drawn = 0; // figures[0 .. drawn) are in the gallery

// Asks the worker for a file or a picture's pixels; the answer comes to `then`.
const waiting = new Map();
let asked = 0;
function ask(message, then) {
  waiting.set(++asked, then);
  worker.postMessage({ ...message, id: asked });
}

// Hands the files to the worker, which reads them.
function open(files) {
  worker.postMessage({ files: Array.from(files), backOptions: backOptions() });
}

// quorbin-pack's options for putting pictures back, as the boxes say; a
// change puts them back again.
function backOptions() {
  return ['nearest', 'dither', 'fit', 'accept'].filter((id) => $(id).checked).map((id) => $(id).value);
}
for (const id of ['nearest', 'dither', 'fit', 'accept'])
  $(id).addEventListener('change', () => worker.postMessage({ files: [], backOptions: backOptions() }));

$('open').addEventListener('click', () => $('file').click());
$('clear').addEventListener('click', () => worker.postMessage({ clear: true }));
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

function show(figure) {
  const element = document.createElement('figure');
  element.dataset.key = figure.key;
  if (figure.view) {
    const button = document.createElement('button');
    button.className = 'thumb';
    button.setAttribute('aria-label', `View ${figure.stem}`);
    button.addEventListener('click', () => view(figure, button));
    ask({ file: figure.key, ext: 'png' }, (message) => button.append(image(message.bytes, figure.stem)));
    element.append(button);
  } else {
    element.className = 'failed';
  }
  const caption = document.createElement('figcaption');
  caption.append(figure.stem);
  if (figure.view) {
    const { width, height, colours } = figure.view;
    caption.append(' ', span('size', `${width} × ${height}, ${colours} colour${colours === 1 ? '' : 's'}`));
  }
  caption.append(document.createElement('br'), span('source', figure.title));
  // A picture put back shows only what the put-back said.
  const loose = figure.putBack && figure.putBack.back ? [] : figure.messages;
  for (const message of loose) caption.append(document.createElement('br'), span('message', message));
  const links = document.createElement('div');
  if (figure.view)
    for (const ext of ['png', 'bmp', 'kzp']) links.append(link(figure.stem + '.' + ext, { file: figure.key, ext }));
  if (figure.putBack) {
    const back = figure.putBack;
    if (back.picture) caption.append(image(back.picture, `${figure.stem} as it went back`));
    for (const message of back.messages)
      caption.append(document.createElement('br'), span(back.back ? 'back' : 'message', message));
    // A fit refused as it shows: the picture as it would go back.
    if (back.fit)
      caption.append(document.createElement('br'), span('message', 'The fit it refused:'),
        image(back.fit, `${figure.stem} as the fit would put it back`, 'image/bmp'));
    // The archive it went back into, on a line of its own.
    if (back.back) {
      const line = span('back', 'back into ');
      back.archives.forEach((path, i) => line.append(i ? ', ' : '', link(path.split('/').pop(), { file: path })));
      line.append(`, its entry of ${back.list}`);
      caption.append(document.createElement('br'), line);
    }
  }
  caption.append(links);
  element.append(caption);
  $('gallery').append(element);
}

// Draws figures while the end of the gallery is within a window's height of the view.
function fill() {
  const more = $('more');
  while (drawn < figures.length && more.getBoundingClientRect().top < 2 * innerHeight)
    for (const end = Math.min(drawn + 24, figures.length); drawn < end; ) show(figures[drawn++]);
}
new IntersectionObserver(fill, { rootMargin: '100% 0px' }).observe($('more'));

let zip = []; // the pieces of the zip coming
worker.onmessage = (event) => {
  const message = event.data;
  const progress = $('progress');
  if (message.id) {
    waiting.get(message.id)(message);
    waiting.delete(message.id);
  } else if (message.type === 'zip') {
    zip.push(message.chunk);
    if (!message.final) return;
    const a = $('zip-link');
    if (a.href) URL.revokeObjectURL(a.href);
    a.href = URL.createObjectURL(new Blob(zip, { type: 'application/zip' }));
    zip = [];
    a.download = 'quorbin-' + $('format').value + '.zip';
    a.textContent = a.download;
    a.hidden = false;
    $('zip').disabled = false;
    a.click();
  } else if (message.type === 'note') {
    $('notes').append(span('note', message.note));
  } else if (message.type === 'start') {
    urls.forEach((url) => URL.revokeObjectURL(url));
    urls = [];
    figures = [];
    drawn = 0;
    $('gallery').replaceChildren();
    $('notes').replaceChildren(...message.notes.map((note) => span('note', note)));
    $('zip-link').hidden = true;
    $('zip').disabled = true;
    progress.max = Math.max(message.total, 1);
    progress.value = 0;
    progress.hidden = false;
    $('status').textContent = `0 of ${message.total}`;
    $('cancel').disabled = false;
  } else if (message.type === 'figures') {
    figures.push(...message.figures);
    fill();
    progress.value = figures.length;
    $('status').textContent = `${figures.length} of ${progress.max}`;
  } else {
    progress.hidden = true;
    $('cancel').disabled = true;
    const failed = figures.filter((figure) => !figure.view).length, made = figures.length - failed;
    $('status').textContent =
      `${made} picture${made === 1 ? '' : 's'}` + (failed ? `, ${failed} failed` : '') +
      (message.cancelled ? ' (cancelled)' : '');
    $('zip').disabled = !made;
  }
};

// One zip of every picture in the chosen format, made by the worker.
$('zip').addEventListener('click', () => {
  $('zip').disabled = true;
  worker.postMessage({ zip: $('format').value });
});

// The viewer: the picture at 1× to 16×, its palette as 16 × 16 cells, and
// the pixel under the pointer.
let viewed = null;

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
  canvas.style.width = width * zoom + 'px';
  canvas.style.height = height * zoom + 'px';
  pane.scrollLeft = ((pane.scrollLeft + x) * zoom) / old - x;
  pane.scrollTop = ((pane.scrollTop + y) * zoom) / old - y;
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

// Opens the viewer on `figure`, once the worker sent its pixels; focus goes
// back to `opener` when it closes.
let opener = null;
function view(figure, from) {
  opener = from;
  ask({ view: figure.key }, ({ pixels, palette }) => {
    viewed = { ...figure, view: { ...figure.view, pixels, palette } };
    $('viewer-title').textContent = `${figure.stem}, ${figure.view.width} × ${figure.view.height}`;
    draw();
    $('pointer').textContent = '';
    $('zoomed').style.width = '0';
    $('viewer').showModal();
    // The largest whole zoom at which the picture fits the window beside the palette, at least 1×.
    const room = Math.min(innerWidth - 330, innerWidth * 0.9) / figure.view.width;
    $('zoom').value = Math.max(1, Math.min(16, Math.floor(room), Math.floor((innerHeight * 0.7) / figure.view.height)));
    scale();
  });
}

$('zoom').addEventListener('input', () => scale());
$('zoomed').addEventListener('wheel', (event) => {
  event.preventDefault();
  const pane = $('zoomed').parentElement.getBoundingClientRect();
  $('zoom').value = Number($('zoom').value) + (event.deltaY < 0 ? 1 : -1);
  scale(event.clientX - pane.left, event.clientY - pane.top);
});
$('close').addEventListener('click', () => $('viewer').close());
$('viewer').addEventListener('close', () => {
  viewed = null;
  opener.focus();
});
$('viewer').addEventListener('keydown', (event) => {
  const step = { '+': 1, '=': 1, '-': -1, '−': -1 }[event.key];
  if (!step) return;
  $('zoom').value = Number($('zoom').value) + step;
  scale();
});
// The pixel under the pointer, from its position in the canvas's box as drawn.
$('zoomed').addEventListener('mousemove', (event) => {
  const { width, height, pixels, palette } = viewed.view;
  const box = $('zoomed').getBoundingClientRect();
  const x = Math.floor(((event.clientX - box.left) * width) / box.width);
  const y = Math.floor(((event.clientY - box.top) * height) / box.height);
  const inside = x >= 0 && x < width && y >= 0 && y < height;
  const index = inside ? pixels[y * width + x] : 0;
  $('pointer').textContent = inside ? `(${x}, ${y}) index ${index} ${hex(palette, index)}` : '';
});
$('zoomed').addEventListener('mouseleave', () => ($('pointer').textContent = ''));
$('palette').addEventListener('mousemove', (event) => {
  const index = Math.floor(event.offsetY / 16) * 16 + Math.floor(event.offsetX / 16);
  $('pointer').textContent = `index ${index} ${hex(viewed.view.palette, index)}`;
});
