// The page's worker: runs quorbin and quorbin-pack (the module, createQuorbin)
// over the files the page opened, and sends back one figure a picture, as the
// programs name, convert, pack and put back each one.  A figure is the facts
// of a picture (its name, size, colours and messages, or why there is no
// picture); its files (PNG, BMP, KZP) are made again when the page asks for
// one, for a thumbnail, the viewer, a download or the zip of them all.  An
// opened file is held once: in the module's file system at /in, or when big,
// not at all: mounted at /files as it is (WORKERFS, linked into /in), the
// programs read the parts they need from the browser's own copy.
'use strict';

let quorbin = null;
let lines = []; // standard error of the run going on
const cache = new Map(); // figures already made, by key ({note}: a file that made none)
const opened = new Map(); // name -> { file, head: its first 4096 bytes }
let backOptions = []; // quorbin-pack's options for putting pictures back: -n, -d, -F, -A

const ready = createQuorbin({
  print: () => {},
  printErr: (line) => lines.push(line),
}).then((module) => {
  quorbin = module;
  for (const dir of ['/in', '/files', '/out', '/work', '/back', '/show']) quorbin.FS.mkdir(dir);
});

// A message as the user reads it: without the module's own folders.
const clean = (message) => message.replace(/\/(?:in|out|work|files|show|back\/\d+)\//g, '');

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
  return { status, messages: lines.slice(1).map(clean) };
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

// The lines of the list at `path`, each "archive\toffset\tsize\tentry" (a
// list of 100,000 lines is held as that many short strings).
function listLines(path) {
  return text(quorbin.ccall('qb_list_lines', 'number', ['string'], [path]))
    .split('\n')
    .filter((line) => line);
}

function parse(line) {
  const [archive, offset, size, entry] = line.split('\t');
  return { archive, offset, size, entry };
}

const archiveOf = (line) => line.slice(0, line.indexOf('\t'));

// A parsed line as a list line for the programs, naming the opened archive.
const listLine = (line) => [archiveFor(line.archive), line.offset, line.size, line.entry].join(' ');

// The answers of a call of the module that only reads its argument, remembered.
function remembered(call) {
  const answers = new Map();
  return (name) => {
    if (!answers.has(name)) answers.set(name, text(quorbin.ccall(call, 'number', ['string'], [name])));
    return answers.get(name);
  };
}
const stem = remembered('qb_stem');
const baseName = remembered('qb_base_name'); // the file quorbin-pack -l writes for an archive

// The opened file that a list's archive name names: by its base name.
function archiveFor(name) {
  const base = baseName(name);
  return opened.has(base) ? base : null;
}

// What each opened file is: PNG and BMP pictures by their signatures; a list
// is text of list lines, and the archives it names that are open are
// archives (`notes` says which it names that are not); KZP files are the rest,
// text among them (tried, and told apart if it decodes to nothing).
function classify() {
  const pictures = [];
  const lists = [];
  const archives = new Set();
  const notes = [];
  const texts = new Set();
  for (const [name, { head }] of opened) {
    const png = head.length >= 8 && head[0] === 0x89 && head[1] === 0x50 && head[2] === 0x4e;
    if (png || (head.length >= 2 && head[0] === 0x42 && head[1] === 0x4d)) {
      pictures.push(name);
      continue;
    }
    // A list has no NUL bytes; archives and KZP files nearly always have some.
    if (head.includes(0)) continue;
    const all = listLines('/in/' + name);
    if (!all.length) texts.add(name);
    const named = all.filter((line) => archiveFor(archiveOf(line)));
    const lacking = [...new Set(all.filter((line) => !archiveFor(archiveOf(line))).map((line) => baseName(archiveOf(line))))];
    if (lacking.length) notes.push(`${name} names ${lacking.join(', ')}: open ${lacking.length > 1 ? 'them' : 'it'} too.`);
    if (all.length) lists.push({ name, lines: named });
    named.forEach((line) => archives.add(archiveFor(archiveOf(line))));
  }
  const listed = new Set(lists.map((list) => list.name));
  const kzp = [...opened.keys()].filter(
    (name) => !pictures.includes(name) && !listed.has(name) && !archives.has(name)
  );
  return { pictures, lists, kzp, notes, texts };
}

// Where a figure's picture comes from, by key: an opened file's name (a KZP
// file or a picture) or a list's line (as listLines gives it).
const sources = new Map();

// The name of the picture `key` names (the outputs' stem is its stem).
const nameOf = (key) => (key.startsWith('entry:') ? parse(sources.get(key)).entry : sources.get(key));

// Makes the files of figure `key` in /out, as the programs write them, and
// gives the messages of the run that wrote the one with extension `ext`.  A
// KZP file or an entry: quorbin's PNG or BMP file, and the KZP file
// quorbin-pack writes of that BMP file.  A picture opened: the KZP file
// quorbin-pack makes of it, and that file's PNG or BMP file.
function make(key, ext) {
  const source = sources.get(key), base = stem(nameOf(key));
  const format = ext === 'png' ? ['-f', 'png'] : [];
  clear('/out');
  if (key.startsWith('picture:')) {
    const made = run('quorbin-pack', '/in', ['-C', '/out', source]);
    if (ext === 'kzp' || !readIfThere('/out/' + base + '.kzp')) return made.messages;
    return run('quorbin', '/out', [...format, base + '.kzp']).messages;
  }
  let input = ['/in/' + source];
  if (key.startsWith('entry:')) {
    const line = parse(source);
    quorbin.FS.writeFile('/work/one', listLine(line) + '\n');
    input = ['-c', '/in/', '-l', '/work/one'];
  }
  const made = run('quorbin', '/out', [...format, ...input]);
  if (ext === 'kzp') run('quorbin-pack', '/out', [base + '.bmp']);
  return made.messages;
}

// The bytes of a figure's file with extension `ext`, made again (null when
// the programs make none).  The last few are remembered by what they are made
// of, so that a list that names one entry many times makes it once.
const made = new Map();
function file(key, ext) {
  const source = sources.get(key), id = (key.startsWith('entry:') ? 'entry:' : key) + source + ':' + ext;
  if (!made.has(id)) {
    make(key, ext);
    const bytes = readIfThere('/out/' + stem(nameOf(key)) + '.' + ext);
    if (!bytes || !bytes.length || bytes.length > 2 ** 20) return bytes && bytes.length ? bytes : null;
    made.set(id, bytes);
    if (made.size > 16) made.delete(made.keys().next().value);
  }
  return made.get(id).slice();
}

// Why a figure shows no picture: an entry outside its archive (whatever the
// programs said), or, when they said nothing, an empty file, a picture of no
// pixels, nothing decoded.
function reason(key, info, said) {
  if (key.startsWith('entry:')) {
    const line = parse(sources.get(key)), archive = opened.get(archiveFor(line.archive)).file;
    const [offset, size] = [Number(line.offset), Number(line.size)];
    if (size <= 0) return `Its size in the list is ${line.size}: there is nothing to decode.`;
    if (offset >= archive.size)
      return `Its offset, ${line.offset}, lies past the end of ${archive.name} (${archive.size} bytes).`;
    if (offset + size > archive.size)
      return `${archive.name} ends ${offset + size - archive.size} bytes before the entry does: the archive is cut short.`;
  }
  if (said) return null;
  if (info) return `It is a picture of ${info[0]} × ${info[1]} pixels: there is nothing to show.`;
  const { file } = opened.get(sources.get(key)) || {};
  return file && file.size === 0 ? `${file.name} is empty.` : 'It decodes to no picture.';
}

// Advice, in the page's words, for what the programs said of a picture.
const advice = [
  [/out of memory/, 'The page has not the memory for it: convert it with quorbin, the program.'],
  [/colours that the palette does not hold, the first at/, 'Tick “nearest colours” (or “dithering”) to give them the palette’s nearest colours.'],
  [/hardly shows\)\.$/, 'Tick “a fit to the entry” to fit it where that hardly shows.'],
  [/which shows: simplify the edit/, 'Simplify the edit, or tick “a fit that shows” to take that fit.'],
];
const adviceFor = (messages) =>
  advice.filter(([pattern]) => messages.some((m) => pattern.test(m))).map(([, text]) => text);

// The page's words where the programs name their options.
const pageWords = (message) =>
  message.replace(/ \(-F fits it where that hardly shows\)/, '').replace(/ or take that fit with -A\./, '.');

// The figure of the picture `key` names, from `source`: its facts, read from
// its BMP file, and the names of its files; or why it has none.
function figure(key, title, source) {
  sources.set(key, source);
  const messages = make(key, 'bmp'), base = stem(nameOf(key));
  const figure = { key, title, stem: base, messages, advice: adviceFor(messages) };
  const info = readPicture(key);
  if (info && info[0] > 0 && info[1] > 0) figure.view = { width: info[0], height: info[1], colours: info[2] };
  else figure.reason = reason(key, info, messages.length > 0);
  return figure;
}

// What qb_picture reads of the BMP file of figure `key` in /out: width,
// height, colours, where its pixels and palette lie (null: no picture).
function readPicture(key) {
  const info = quorbin._malloc(20);
  const read = quorbin.ccall('qb_picture', 'number', ['string', 'number'], ['/out/' + stem(nameOf(key)) + '.bmp', info]);
  const fields = Array.from(new Int32Array(quorbin.HEAP32.buffer, info, 5));
  quorbin._free(info);
  return read === 0 ? fields : null;
}

// The pixels and palette of a figure's picture, for the viewer.
function pixels(key) {
  make(key, 'bmp');
  const [width, height, , at, palette] = readPicture(key);
  return { pixels: quorbin.HEAPU8.slice(at, at + width * height), palette: quorbin.HEAPU8.slice(palette, palette + 1024) };
}

// Pictures whose stems name entries of `list` go back into its archives as
// quorbin-pack -l puts them (with the options chosen): each alone for its
// own messages (and, refused by -F, the fit as it would go back), then all of
// them in one run, which writes the archives (kept in /back/N); the entry of
// each picture put back is converted again from its new archive, to show it
// as it went in.  Each picture gets one verdict: back, or why not and what to
// do.  Returns the pictures it put back or tried to.
function putBack(list, number, pictures, figures) {
  const lines = list.lines.map(parse);
  const entries = new Set(lines.map((line) => stem(line.entry)));
  const chosen = pictures.filter((name) => entries.has(stem(name)));
  if (!chosen.length) return chosen;
  quorbin.FS.writeFile('/work/list', lines.map(listLine).join('\n') + '\n');
  const options = [...backOptions, '-C', '/out', '-l', '/work/list'];
  const alone = new Map(), refused = new Map();
  for (const name of chosen) {
    clear('/out');
    clear('/show');
    alone.set(name, run('quorbin-pack', '/in', ['-s', '/show', ...options, name]));
    const line = lines.find((l) => stem(l.entry) === stem(name));
    if (alone.get(name).status !== 0) refused.set(name, readIfThere('/show/' + stem(line.entry) + '.bmp'));
  }
  clear('/out');
  const all = run('quorbin-pack', '/in', [...options, ...chosen]);
  const dir = '/back/' + number;
  quorbin.FS.mkdir(dir);
  const archives = quorbin.FS.readdir('/out').filter((name) => name !== '.' && name !== '..');
  archives.forEach((name) => quorbin.FS.rename('/out/' + name, dir + '/' + name));
  for (const name of chosen) {
    const figure = figures.find((f) => f.key === 'picture:' + name);
    const mine = all.messages.filter((line) => line.includes("'" + name + "'"));
    const messages = [...new Set([...alone.get(name).messages, ...mine])];
    // Back when it went back alone and the run of all said nothing more of it.
    const said = alone.get(name).messages;
    const back = alone.get(name).status === 0 && archives.length > 0 && mine.every((m) => said.includes(m));
    const line = lines.find((l) => stem(l.entry) === stem(name));
    let picture = null;
    if (back) {
      clear('/work/back');
      quorbin.FS.writeFile('/work/one', listLine(line) + '\n');
      run('quorbin', '/work/back', ['-f', 'png', '-c', dir + '/', '-l', '/work/one']);
      picture = readIfThere('/work/back/' + stem(line.entry) + '.png');
    }
    figure.putBack = {
      list: list.name, entry: line.entry, back, picture, fit: refused.get(name) || null,
      messages: messages.map(pageWords), advice: back ? [] : adviceFor(messages),
      archives: back ? archives.map((a) => dir + '/' + a) : [],
    };
  }
  return chosen;
}

// Puts the pictures back into every list's archives; a picture that no list
// names while lists are open says so.
function putAllBack(lists, pictures, figures) {
  for (const figure of figures) delete figure.putBack;
  clear('/back');
  const tried = new Set(lists.flatMap((list, number) => putBack(list, number, pictures, figures)));
  if (!lists.length) return;
  for (const name of pictures.filter((name) => !tried.has(name))) {
    const figure = figures.find((f) => f.key === 'picture:' + name);
    figure.putBack = {
      list: lists.map((list) => list.name).join(', '), back: false, archives: [], advice: [],
      messages: [`No line of ${lists.map((list) => list.name).join(' or ')} names ${stem(name)}: it is not put back.`],
    };
  }
}

// A zip of the files with extension `ext` of `keys`' figures, stored as they
// are, made a file at a time and sent to the page in pieces, with how far it
// got; it stops when another run begins.  A name that two give is stored as
// NAME-2, NAME-3, ...
async function zip(keys, ext, run) {
  const names = new Set(), next = new Map();
  const archive = new fflate.Zip((error, chunk, final) => {
    const own = chunk.byteLength === chunk.buffer.byteLength ? chunk : chunk.slice();
    postMessage({ type: 'zip', chunk: own, final }, [own.buffer]);
  });
  let told = 0;
  for (const [done, key] of keys.entries()) {
    if (Date.now() - told > 250) {
      postMessage({ type: 'zip-progress', done, total: keys.length });
      told = Date.now();
    }
    const bytes = file(key, ext);
    if (bytes) {
      const base = stem(nameOf(key)), plain = base + '.' + ext;
      let name = plain;
      if (names.has(plain)) {
        let n = next.get(plain) || 2;
        while (names.has(base + '-' + n + '.' + ext)) n++;
        name = base + '-' + n + '.' + ext;
        next.set(plain, n + 1);
      }
      names.add(name);
      const entry = new fflate.ZipPassThrough(name);
      archive.add(entry);
      entry.push(bytes, true);
    }
    await giveWay();
    if (run !== runs) return postMessage({ type: 'zip-progress', cancelled: true });
  }
  archive.end();
}

// Messages that start a run (files, options, {clear: true}, {cancel: true})
// end the one going on: between figures a run gives way to the messages that
// came, and stops when another has begun.  A change of the put-back options
// alone puts the pictures back again and sends their figures anew.  The
// others ask for a file ({file: key, ext}, {file: path} for an archive put
// back), a picture's pixels ({view: key}) or the zip ({zip: ext}), and are
// answered between figures.
let runs = 0;
let shown = []; // the keys of the last run's figures
let last = null; // the last run's lists, pictures and figures
const channel = new MessageChannel(); // a task of its own, which timers would delay
const giveWay = () =>
  new Promise((resume) => {
    channel.port1.onmessage = resume;
    channel.port2.postMessage(0);
  });
onmessage = async (event) => {
  const asked = event.data;
  await ready;
  // Every question is answered, though what it names is gone (Clear came between).
  if (asked.file) {
    let bytes = null;
    try {
      bytes = asked.ext ? file(asked.file, asked.ext) : quorbin.FS.readFile(asked.file);
    } catch {}
    return postMessage({ id: asked.id, bytes }, bytes ? [bytes.buffer] : []);
  }
  if (asked.view) {
    const { pixels: data, palette } = sources.has(asked.view) ? pixels(asked.view) : {};
    return postMessage({ id: asked.id, pixels: data, palette }, data ? [data.buffer, palette.buffer] : []);
  }
  if (asked.backOptions) backOptions = asked.backOptions;
  // A run going on uses the new options when it puts its pictures back.
  if (asked.backOnly) {
    if (!last || !last.pictures.length) return;
    putAllBack(last.lists, last.pictures, last.figures);
    return postMessage({ type: 'back', figures: last.figures.filter((f) => f.key.startsWith('picture:')) });
  }
  const run = ++runs;
  if (asked.zip) return zip(shown, asked.zip, run);
  if (asked.cancel) return postMessage({ type: 'done', cancelled: true });
  last = null;
  const fs = quorbin.FS;
  if (asked.clear) {
    for (const name of opened.keys()) fs.unlink('/in/' + name);
    opened.clear();
    cache.clear();
    sources.clear();
    made.clear();
  }
  // A folder dropped among the files cannot be read, and the module cannot
  // read beyond 2 GB.  Each read by the mount asks the browser for the bytes
  // (about a millisecond): small files are read whole.
  const refused = [];
  for (const file of asked.files || []) {
    let bytes = null;
    try {
      if (file.size < 2 ** 31) bytes = new FileReaderSync().readAsArrayBuffer(file.size < 2 ** 24 ? file : file.slice(0, 4096));
    } catch {
      refused.push(`${file.name}: a folder cannot be opened; open the files in it.`);
      continue;
    }
    if (!bytes) {
      refused.push(`${file.name}: a file of 2 GB or more is more than the page can read; quorbin, the program, converts it.`);
      continue;
    }
    if (opened.has(file.name)) {
      cache.clear(); // a file opened anew: everything again
      made.clear();
      fs.unlink('/in/' + file.name);
    }
    bytes = new Uint8Array(bytes);
    opened.set(file.name, { file, head: bytes.slice(0, 4096) });
    if (file.size < 2 ** 24) fs.writeFile('/in/' + file.name, bytes, { canOwn: true });
    else fs.symlink('/files/' + file.name, '/in/' + file.name);
  }
  if (fs.isMountpoint(fs.lookupPath('/files', { follow_mount: false }).node)) fs.unmount('/files');
  const big = [...opened.values()].filter((o) => o.file.size >= 2 ** 24).map((o) => o.file);
  fs.mount(fs.filesystems.WORKERFS, { files: big }, '/files');
  const { pictures, lists, kzp, notes, texts } = classify();
  // The figures to make, a key and how to make it each, in the order shown.
  function* jobs() {
    for (const name of kzp)
      yield ['kzp:' + name, () => {
        const made = figure('kzp:' + name, name, name);
        // Named as a picture, text with no list lines, or bytes that decode to nothing.
        if (/\.(png|bmp)$/i.test(name)) return { note: `${name} is no picture: it does not begin as a PNG or BMP file.` };
        if (made.view || /\.kzp$/i.test(name)) return made;
        if (texts.has(name))
          return { note: `${name} is neither a picture, a KZP image nor a list (lines of archive, offset, size and name).` };
        return { note: `${name} is no KZP image, and no list open names it: if it is an archive, open its list too.` };
      }];
    for (const list of lists)
      for (const [i, line] of list.lines.entries()) {
        const archive = archiveFor(archiveOf(line)), key = 'entry:' + list.name + ':' + i + ':' + archive;
        yield [key, () => figure(key, archive + '/' + parse(line).entry, line)];
      }
    for (const name of pictures) yield ['picture:' + name, () => figure('picture:' + name, name, name)];
  }
  const total = kzp.length + pictures.length + lists.reduce((sum, list) => sum + list.lines.length, 0);
  postMessage({ type: 'start', total, notes: [...refused, ...notes] });
  const figures = [];
  let batch = [], sent = 0, yielded = Date.now();
  // Figures go in batches, one at least every 100 ms (the first at once).
  const send = (figure, end) => {
    if (figure) batch.push(figure);
    if (!end && Date.now() - sent < 100) return;
    postMessage({ type: 'figures', figures: batch });
    batch = [];
    sent = Date.now();
  };
  shown = [];
  for (const [key, make] of jobs()) {
    if (!cache.has(key)) cache.set(key, make());
    const figure = cache.get(key);
    if (figure.note) {
      postMessage({ type: 'note', note: figure.note });
    } else {
      figures.push(figure);
      shown.push(key);
      if (!key.startsWith('picture:')) send(figure);
    }
    if (Date.now() - yielded > 20) await giveWay(), (yielded = Date.now());
    if (run !== runs) return;
  }
  last = { lists, pictures, figures };
  putAllBack(lists, pictures, figures);
  for (const figure of figures) if (figure.key.startsWith('picture:')) send(figure);
  send(null, true);
  postMessage({ type: 'done' });
};
