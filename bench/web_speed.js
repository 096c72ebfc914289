// The web module's speed against the native programs, on the 2048x2048 sample kinds: quorbin
// (decoding a KZP file into a BMP file) and quorbin-pack (packing that BMP file), best of RUNS.
// The module runs in this Node process over its memory file system, the native programs as
// processes (their start included) over files in the page cache.
//
//   NODE_PATH=/usr/share/nodejs node bench/web_speed.js [RUNS]
//
// Needs the web and bench presets built (cmake --workflow --preset web, --preset bench).
'use strict';
const { execFileSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const root = path.dirname(__dirname);
const runs = Number(process.argv[2] || 5);
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'qb-speed-'));
const native = (program, args) => execFileSync(path.join(root, 'build/bench', program), args,
  { cwd: work, stdio: 'pipe' });
const best = (action) => {
  let fastest = Infinity;
  for (let i = 0; i < runs; i++) {
    const start = process.hrtime.bigint();
    action();
    fastest = Math.min(fastest, Number(process.hrtime.bigint() - start) / 1e6);
  }
  return fastest;
};

require(path.join(root, 'build/web/web/quorbin_web.js'))({ print() {}, printErr() {} }).then((q) => {
  const run = (main, args) => {
    const argv = ['program', ...args].map((arg) => {
      const at = q._malloc(q.lengthBytesUTF8(arg) + 1);
      q.stringToUTF8(arg, at, q.lengthBytesUTF8(arg) + 1);
      return at;
    });
    const table = q._malloc(4 * argv.length + 4);
    argv.forEach((at, i) => q.setValue(table + 4 * i, at, 'i32'));
    main(argv.length, table);
    argv.forEach((at) => q._free(at));
    q._free(table);
  };
  console.log('| kind | decoded MB | quorbin, module ms | native ms | ratio | quorbin-pack, module ms | native ms | ratio |');
  console.log('|---|---:|---:|---:|---:|---:|---:|---:|');
  for (const kind of ['flat', 'photo', 'dithered', 'noise']) {
    native('bench/decode_bench', ['--write', kind, kind + '.kzp']);
    native('quorbin', [kind + '.kzp']);
    q.FS.writeFile(kind + '.kzp', fs.readFileSync(path.join(work, kind + '.kzp')));
    const decode = [best(() => run(q._qb_quorbin, [kind + '.kzp'])),
      best(() => native('quorbin', [kind + '.kzp']))];
    const pack = [best(() => run(q._qb_quorbin_pack, [kind + '.bmp'])),
      best(() => native('quorbin-pack', [kind + '.bmp']))];
    const mb = fs.statSync(path.join(work, kind + '.bmp')).size / 1e6;
    console.log(`| ${kind} | ${mb.toFixed(1)} | ${decode[0].toFixed(1)} | ${decode[1].toFixed(1)} | ` +
      `${(decode[0] / decode[1]).toFixed(2)} | ${pack[0].toFixed(0)} | ${pack[1].toFixed(0)} | ` +
      `${(pack[0] / pack[1]).toFixed(2)} |`);
  }
  fs.rmSync(work, { recursive: true });
});
