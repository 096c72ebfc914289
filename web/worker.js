// The page's worker: runs quorbin and quorbin-pack (the module, createQuorbin)
// over the files the page opened, and sends back one figure a picture, as the
// programs name, convert, pack and put back each one.
'use strict';

let quorbin = null;
let lines = []; // standard error of the run going on
const cache = new Map(); // figures already made, by key
const opened = new Map(); // name -> bytes
let backOptions = []; // quorbin-pack's options for putting pictures back: -n, -d, -F

const ready = createQuorbin({
  print: () => {},
  printErr: (line) => lines.push(line),
}).then((module) => {
  quorbin = module;
  for (const dir of ['/in', '/out', '/work']) quorbin.FS.mkdir(dir);
});

// Runs a program in `dir` with `args`; its exit status and messages.
function run(program, dir, args) {
  const argv = [program, ...args];
  const pointers = argv.map((arg) => {
    const size = quorbin.lengthBytesUTF8(arg) + 1;
    const at = quorbin._malloc(size);
    quorbin.stringToUTF8(arg, at, size);
    return at;
  });
  const table = quorbin._malloc(4 * (argv.length + 1));
  pointers.forEach((at, i) => quorbin.setValue(table + 4 * i, at, 'i32'));
  quorbin.setValue(table + 4 * argv.length, 0, 'i32');
  quorbin.FS.chdir(dir);
  lines = [];
  const call = program === 'quorbin' ? quorbin._qb_quorbin : quorbin._qb_quorbin_pack;
  const status = call(argv.length, table);
  pointers.forEach((at) => quorbin._free(at));
  quorbin._free(table);
  // The banner is always the first line.
  return { status, messages: lines.slice(1) };
}

// Empties `dir`, or makes it.
function clear(dir) {
  const fs = quorbin.FS;
  if (!fs.analyzePath(dir).exists) fs.mkdir(dir);
  for (const name of fs.readdir(dir)) {
    if (name === '.' || name === '..') continue;
    const path = dir + '/' + name;
    if (fs.isDir(fs.stat(path).mode)) {
      clear(path);
      fs.rmdir(path);
    } else {
      fs.unlink(path);
    }
  }
}

function readIfThere(path) {
  return quorbin.FS.analyzePath(path).exists ? quorbin.FS.readFile(path) : null;
}

function text(pointer) {
  return quorbin.UTF8ToString(pointer);
}

// The lines of four fields of the list at `path`.
function listLines(path) {
  return text(quorbin.ccall('qb_list_lines', 'number', ['string'], [path]))
    .split('\n')
    .filter((line) => line)
    .map((line) => {
      const [archive, offset, size, entry] = line.split('\t');
      return { archive, offset, size, entry };
    });
}

function stem(name) {
  return text(quorbin.ccall('qb_stem', 'number', ['string'], [name]));
}

function baseName(name) {
  return text(quorbin.ccall('qb_base_name', 'number', ['string'], [name]));
}

// The opened file that a list's archive name names: by its base name.
function archiveFor(name) {
  const base = baseName(name);
  return opened.has(base) ? base : null;
}

// What each opened file is: PNG and BMP pictures by their signatures; a list
// is text of list lines, and the archives it names that are open are
// archives (`notes` says which it names that are not); KZP files are the rest.
function classify() {
  const pictures = [];
  const lists = [];
  const archives = new Set();
  const notes = [];
  for (const [name, bytes] of opened) {
    const png = bytes.length >= 8 && bytes[0] === 0x89 && bytes[1] === 0x50 && bytes[2] === 0x4e;
    if (png || (bytes.length >= 2 && bytes[0] === 0x42 && bytes[1] === 0x4d)) {
      pictures.push(name);
      continue;
    }
    // A list has no NUL bytes; archives and KZP files nearly always have some.
    if (bytes.subarray(0, 4096).includes(0)) continue;
    const all = listLines('/in/' + name);
    const named = all.filter((line) => archiveFor(line.archive));
    const lacking = [...new Set(all.filter((line) => !archiveFor(line.archive)).map((line) => baseName(line.archive)))];
    if (lacking.length) notes.push(`${name} names ${lacking.join(', ')}: open ${lacking.length > 1 ? 'them' : 'it'} too.`);
    if (all.length) lists.push({ name, lines: named });
    named.forEach((line) => archives.add(archiveFor(line.archive)));
  }
  const listed = new Set(lists.map((list) => list.name));
  const kzp = [...opened.keys()].filter(
    (name) => !pictures.includes(name) && !listed.has(name) && !archives.has(name)
  );
  return { pictures, lists, kzp, notes };
}

// The figure of an image quorbin converts with `args` (its input last, or
// -l and a list): the PNG and BMP files quorbin writes, the KZP file
// quorbin-pack writes of that BMP file, and what the page shows of it.
function convert(key, title, name, args) {
  clear('/out');
  const png = run('quorbin', '/out', ['-f', 'png', ...args]);
  const bmp = run('quorbin', '/out', args);
  return describe(key, title, name, bmp.messages.length ? bmp.messages : png.messages);
}

// The figure of the files in /out (packing the BMP file into the KZP file
// first unless that is there).
function describe(key, title, name, messages) {
  const base = stem(name);
  const figure = { key, title, stem: base, messages, files: [] };
  if (readIfThere('/out/' + base + '.bmp') && !readIfThere('/out/' + base + '.kzp'))
    run('quorbin-pack', '/out', [base + '.bmp']);
  for (const ext of ['png', 'bmp', 'kzp']) {
    const bytes = readIfThere('/out/' + base + '.' + ext);
    if (bytes && bytes.length) figure.files.push({ name: base + '.' + ext, bytes });
  }
  const info = quorbin._malloc(20);
  if (quorbin.ccall('qb_picture', 'number', ['string', 'number'], ['/out/' + base + '.bmp', info]) === 0) {
    const [width, height, colours, pixels, palette] = Array.from(
      new Int32Array(quorbin.HEAP32.buffer, info, 5)
    );
    figure.view = {
      width,
      height,
      colours,
      pixels: quorbin.HEAPU8.slice(pixels, pixels + width * height),
      palette: quorbin.HEAPU8.slice(palette, palette + 1024),
    };
  }
  quorbin._free(info);
  return figure;
}

// A picture opened: the KZP file quorbin-pack makes of it, and that file's
// PNG and BMP files.
function pack(name) {
  clear('/out');
  const packed = run('quorbin-pack', '/in', ['-C', '/out', name]);
  const base = stem(name);
  if (!readIfThere('/out/' + base + '.kzp')) return describe('picture:' + name, name, name, packed.messages);
  run('quorbin', '/out', ['-f', 'png', base + '.kzp']);
  return describe('picture:' + name, name, name, run('quorbin', '/out', [base + '.kzp']).messages);
}

// Pictures whose stems name entries of `list` go back into its archives as
// quorbin-pack -l puts them (with the options chosen): each alone for its
// own messages, then all of them in one run, which writes the archives; the
// entry of each picture put back is converted again from its new archive, to
// show it as it went in.
function putBack(list, pictures, figures) {
  const entries = new Set(list.lines.map((line) => stem(line.entry)));
  const chosen = pictures.filter((name) => entries.has(stem(name)));
  if (!chosen.length) return;
  const text = list.lines
    .map((line) => [archiveFor(line.archive), line.offset, line.size, line.entry].join(' '))
    .join('\n');
  quorbin.FS.writeFile('/work/list', text + '\n');
  const options = [...backOptions, '-C', '/out', '-l', '/work/list'];
  const alone = new Map();
  for (const name of chosen) {
    clear('/out');
    alone.set(name, run('quorbin-pack', '/in', [...options, name]));
  }
  clear('/out');
  const all = run('quorbin-pack', '/in', [...options, ...chosen]);
  const archives = quorbin.FS.readdir('/out')
    .filter((name) => name !== '.' && name !== '..')
    .map((name) => ({ name, bytes: quorbin.FS.readFile('/out/' + name) }));
  for (const name of chosen) {
    const figure = figures.find((f) => f.key === 'picture:' + name);
    const mine = all.messages.filter((line) => line.includes("'" + name + "'"));
    const messages = [...new Set([...alone.get(name).messages, ...mine])];
    // Back when it went back alone and the run of all said nothing more of it.
    const said = alone.get(name).messages;
    const back = alone.get(name).status === 0 && archives.length > 0 && mine.every((m) => said.includes(m));
    const line = list.lines.find((l) => stem(l.entry) === stem(name));
    let picture = null;
    if (back) {
      clear('/work/back');
      quorbin.FS.writeFile('/work/one', [archiveFor(line.archive), line.offset, line.size, line.entry].join(' ') + '\n');
      run('quorbin', '/work/back', ['-f', 'png', '-c', '/out/', '-l', '/work/one']);
      picture = readIfThere('/work/back/' + stem(line.entry) + '.png');
    }
    figure.putBack = { list: list.name, messages, back, picture, archives: back ? archives : [] };
  }
}

// Each message starts a run, which ends the one going on: between figures a
// run gives way to the messages that came, and stops when another has begun.
// {clear: true} forgets every file opened; {cancel: true} only ends the run.
let runs = 0;
const channel = new MessageChannel(); // a task of its own, which timers would delay
const giveWay = () =>
  new Promise((resume) => {
    channel.port1.onmessage = resume;
    channel.port2.postMessage(0);
  });
onmessage = async (event) => {
  const run = ++runs;
  await ready;
  if (event.data.cancel) return postMessage({ type: 'done', cancelled: true });
  if (event.data.clear) {
    for (const name of opened.keys()) quorbin.FS.unlink('/in/' + name);
    opened.clear();
    cache.clear();
  }
  if (event.data.backOptions) backOptions = event.data.backOptions;
  for (const file of event.data.files || []) {
    const bytes = new Uint8Array(file.bytes);
    if (opened.has(file.name)) cache.clear(); // a file opened anew: everything again
    opened.set(file.name, bytes);
    quorbin.FS.writeFile('/in/' + file.name, bytes);
  }
  const { pictures, lists, kzp, notes } = classify();
  const jobs = [
    ...kzp.map((name) => ['kzp:' + name, () => convert('kzp:' + name, name, name, ['/in/' + name])]),
    ...lists.flatMap((list) =>
      list.lines.map((line, i) => {
        const key = 'entry:' + list.name + ':' + i + ':' + archiveFor(line.archive);
        const title = archiveFor(line.archive) + '/' + line.entry;
        return [key, () => {
          const one = [archiveFor(line.archive), line.offset, line.size, line.entry].join(' ');
          quorbin.FS.writeFile('/work/one', one + '\n');
          return convert(key, title, line.entry, ['-c', '/in/', '-l', '/work/one']);
        }];
      })
    ),
    ...pictures.map((name) => ['picture:' + name, () => pack(name)]),
  ];
  postMessage({ type: 'start', total: jobs.length, notes });
  const figures = [];
  let batch = [], sent = Date.now(), yielded = sent;
  // Figures go in batches, one at least every 100 ms.
  const send = (figure, last) => {
    if (figure) batch.push(figure);
    if (!last && Date.now() - sent < 100) return;
    postMessage({ type: 'figures', figures: batch });
    batch = [];
    sent = Date.now();
  };
  for (const figure of cache.values()) delete figure.putBack;
  for (const [key, make] of jobs) {
    if (!cache.has(key)) cache.set(key, make());
    const figure = cache.get(key);
    figures.push(figure);
    if (!key.startsWith('picture:')) send(figure);
    if (Date.now() - yielded > 20) await giveWay(), (yielded = Date.now());
    if (run !== runs) return;
  }
  for (const list of lists) putBack(list, pictures, figures);
  for (const figure of figures) if (figure.key.startsWith('picture:')) send(figure);
  send(null, true);
  postMessage({ type: 'done' });
};
