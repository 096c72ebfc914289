// module_test.js MODULE NATIVE_BUILD EXAMPLES: the web module's C interface under Node.  The
// programs it runs write, byte for byte, what the native ones write: BMP and PNG files of a KZP
// file and of archive entries, the KZP file of a BMP file, and an archive with an edited picture
// put back; its looks at lists, names and pictures agree with the files.
'use strict';
const [moduleFile, native, examples] = process.argv.slice(2).map((arg) => require('path').resolve(arg));
const assert = require('assert');
const { execFileSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'qb-web-'));
const nativeRun = (program, args) =>
  execFileSync(path.join(native, program), args, { cwd: work, stdio: 'pipe' });
for (const name of ['sunset.kzp', 'pack.dat', 'pack.lst'])
  fs.copyFileSync(path.join(examples, name), path.join(work, name));
for (const dir of ['bmp', 'png', 'kzp', 'back']) fs.mkdirSync(path.join(work, dir));
nativeRun('quorbin', ['-C', 'bmp', '-l', 'pack.lst', 'sunset.kzp']);
nativeRun('quorbin', ['-f', 'png', '-C', 'png', '-l', 'pack.lst', 'sunset.kzp']);
nativeRun('quorbin-pack', ['-C', 'kzp', 'bmp/sunset.bmp', 'bmp/title.bmp']);
const edited = fs.readFileSync(path.join(work, 'bmp/title.bmp'));
edited[5000] ^= 1; // one pixel to the next index
fs.writeFileSync(path.join(work, 'title.bmp'), edited);
nativeRun('quorbin-pack', ['-C', 'back', '-l', 'pack.lst', 'title.bmp']);

require(path.resolve(moduleFile))({ print: () => {}, printErr: () => {} }).then((q) => {
  const run = (main, args) => {
    const argv = ['program', ...args].map((arg) => {
      const at = q._malloc(q.lengthBytesUTF8(arg) + 1);
      q.stringToUTF8(arg, at, q.lengthBytesUTF8(arg) + 1);
      return at;
    });
    const table = q._malloc(4 * argv.length + 4);
    argv.forEach((at, i) => q.setValue(table + 4 * i, at, 'i32'));
    return main(argv.length, table);
  };
  for (const name of ['sunset.kzp', 'pack.dat', 'pack.lst', 'title.bmp'])
    q.FS.writeFile(name, fs.readFileSync(path.join(work, name)));
  for (const dir of ['bmp', 'png', 'kzp', 'back']) q.FS.mkdir(dir);
  assert.equal(run(q._qb_quorbin, ['-C', 'bmp', '-l', 'pack.lst', 'sunset.kzp']), 0);
  assert.equal(run(q._qb_quorbin, ['-f', 'png', '-C', 'png', '-l', 'pack.lst', 'sunset.kzp']), 0);
  assert.equal(run(q._qb_quorbin_pack, ['-C', 'kzp', 'bmp/sunset.bmp', 'bmp/title.bmp']), 0);
  assert.equal(run(q._qb_quorbin_pack, ['-C', 'back', '-l', 'pack.lst', 'title.bmp']), 0);
  for (const file of ['bmp/sunset.bmp', 'bmp/title.bmp', 'bmp/logo.bmp', 'png/map.png',
                      'png/sunset.png', 'kzp/sunset.kzp', 'kzp/title.kzp', 'back/pack.dat'])
    assert.ok(Buffer.from(q.FS.readFile(file)).equals(fs.readFileSync(path.join(work, file))), file);

  const text = (pointer) => q.UTF8ToString(pointer);
  assert.equal(text(q.ccall('qb_list_lines', 'number', ['string'], ['pack.lst'])),
    fs.readFileSync(path.join(work, 'pack.lst'), 'latin1').replace(/ /g, '\t'));
  assert.equal(text(q.ccall('qb_stem', 'number', ['string'], ['gfx\\logo.kzp'])), 'logo');
  assert.equal(text(q.ccall('qb_base_name', 'number', ['string'], ['data/pack.dat'])), 'pack.dat');
  const info = q._malloc(20);
  assert.equal(q.ccall('qb_picture', 'number', ['string', 'number'], ['bmp/logo.bmp', info]), 0);
  const [width, height, colours, pixels, palette] = new Int32Array(q.HEAP32.buffer, info, 5);
  const bmp = fs.readFileSync(path.join(work, 'bmp/logo.bmp'));
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
