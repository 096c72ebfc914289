// page_png.js MODULE KZP [RUNS]: the page's module converting one KZP image to PNG as its worker
// does (quorbin -f png over the module's file system): the best time of RUNS (default 20), in ms.
'use strict';
const fs = require('fs');
const path = require('path');
const [moduleFile, kzp, runs = '20'] = process.argv.slice(2);
require(path.resolve(moduleFile))({ print() {}, printErr() {} }).then((q) => {
  q.FS.mkdir('/work');
  q.FS.writeFile('/work/p.kzp', fs.readFileSync(kzp));
  q.FS.chdir('/work');
  const argv = ['quorbin', '-f', 'png', 'p.kzp'].map((arg) => {
    const at = q._malloc(q.lengthBytesUTF8(arg) + 1);
    q.stringToUTF8(arg, at, q.lengthBytesUTF8(arg) + 1);
    return at;
  });
  const table = q._malloc(4 * (argv.length + 1));
  argv.forEach((at, i) => q.setValue(table + 4 * i, at, 'i32'));
  q.setValue(table + 4 * argv.length, 0, 'i32');
  let best = Infinity;
  for (let run = 0; run < Number(runs); run++) {
    const start = performance.now();
    q._qb_quorbin(argv.length, table);
    best = Math.min(best, performance.now() - start);
  }
  console.log(`${best.toFixed(2)} ms, ${q.FS.stat('/work/p.png').size} bytes`);
});
