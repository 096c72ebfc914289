// module_test.js MODULE NATIVE_BUILD EXAMPLES: the web module's C interface under Node: the
// programs write what the native ones write (entries as BMP files; pictures put back:
// same_bytes.py), and its looks at lists, names and pictures agree with the files.
'use strict';
const [moduleFile, native, examples] = process.argv.slice(2).map((a) => require('path').resolve(a));
const assert = require('assert');
const fs = require('fs');
const path = require('path');

const work = fs.mkdtempSync(path.join(require('os').tmpdir(), 'qb-web-'));
const cli = (program, ...args) =>
  require('child_process').execFileSync(path.join(native, program), args, { cwd: work, stdio: 'pipe' });
const read = (name) => fs.readFileSync(path.join(work, name));
for (const name of ['pack.dat', 'pack.lst']) fs.copyFileSync(path.join(examples, name), path.join(work, name));
for (const dir of ['back', 'edit']) fs.mkdirSync(path.join(work, dir));
cli('quorbin', '-l', 'pack.lst');
// A picture of 2.2 MB (the title's pixels over and over, its palette): packed, then its PNG file
// made in pieces (the module's on one thread).
const [w, h, title] = [1600, 1400, read('title.bmp')];
const big = Buffer.alloc(1078 + w * h);
title.copy(big, 0, 0, 1078);
big.writeUInt32LE(big.length, 2);
big.writeInt32LE(w, 18);
big.writeInt32LE(h, 22);
big.writeUInt32LE(w * h, 34);
for (let i = 0; i < w * h; i++) big[1078 + i] = title[1078 + (i % (title.length - 1078))];
fs.writeFileSync(path.join(work, 'big.bmp'), big);
cli('quorbin-pack', 'big.bmp');
cli('quorbin', '-f', 'png', '-C', 'back', 'big.kzp');

require(moduleFile)({ print() {}, printErr() {} }).then((q) => {
  const run = (main, ...args) => {
    const table = q._malloc(4 * args.length + 8);
    ['program', ...args].forEach((arg, i) =>
      q.setValue(table + 4 * i, q.ccall('strdup', 'number', ['string'], [arg]), 'i32'));
    return main(args.length + 1, table);
  };
  for (const name of ['pack.dat', 'pack.lst']) q.FS.writeFile(name, read(name));
  for (const dir of ['back', 'edit']) q.FS.mkdir(dir);
  assert.equal(run(q._qb_quorbin, '-l', 'pack.lst'), 0);
  for (const name of ['title.bmp', 'logo.bmp', 'map.bmp'])
    assert.ok(Buffer.from(q.FS.readFile(name)).equals(read(name)), name);
  q.FS.writeFile('big.bmp', big);
  assert.equal(run(q._qb_quorbin_pack, 'big.bmp'), 0);
  assert.ok(Buffer.from(q.FS.readFile('big.kzp')).equals(read('big.kzp')));
  assert.equal(run(q._qb_quorbin, '-f', 'png', '-C', 'back', 'big.kzp'), 0);
  assert.ok(Buffer.from(q.FS.readFile('back/big.png')).equals(read('back/big.png')));

  const text = (name, arg) => q.UTF8ToString(q.ccall(name, 'number', ['string'], [arg]));
  assert.equal(text('qb_list_lines', 'pack.lst'), read('pack.lst').toString().replace(/ /g, '\t'));
  assert.equal(text('qb_stem', 'gfx\\logo.kzp'), 'logo');
  assert.equal(text('qb_base_name', 'data/pack.dat'), 'pack.dat');
  const info = q._malloc(20);
  assert.equal(q.ccall('qb_picture', 'number', ['string', 'number'], ['logo.bmp', info]), 0);
  const [width, height, colours, pixels, palette] = new Int32Array(q.HEAP32.buffer, info, 5);
  const bmp = read('logo.bmp');
  assert.deepEqual([width, height], [bmp.readInt32LE(18), bmp.readInt32LE(22)]);
  // The top row's first pixel, at the start of the file's last row, and its colour.
  const first = bmp[1078 + (height - 1) * Math.ceil(width / 4) * 4];
  assert.equal(q.HEAPU8[pixels], first);
  assert.deepEqual([...q.HEAPU8.subarray(palette + 4 * first, palette + 4 * first + 3)],
    [bmp[56 + 4 * first], bmp[55 + 4 * first], bmp[54 + 4 * first]]);
  assert.ok(colours > 1 && colours <= 256);
  assert.equal(q.ccall('qb_picture', 'number', ['string', 'number'], ['pack.lst', info]), -1);
  fs.rmSync(work, { recursive: true });
  console.log('the module writes what the native programs write');
});
