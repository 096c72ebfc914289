// run_module.js MODULE PROGRAM ARGS...: the module's quorbin or quorbin-pack run as the native one
// in the current directory (its files copied in, and back out when written or changed).
'use strict';
const fs = require('fs');
const path = require('path');
const [moduleFile, program, ...args] = process.argv.slice(2);
const errors = [];
require(path.resolve(moduleFile))({ print() {}, printErr: (line) => errors.push(line) }).then((q) => {
  const copyIn = (from, to) => {
    for (const name of fs.readdirSync(from)) {
      const [source, target] = [path.join(from, name), to + '/' + name];
      if (fs.statSync(source).isDirectory()) q.FS.mkdir(target), copyIn(source, target);
      else q.FS.writeFile(target, fs.readFileSync(source));
    }
  };
  const copyOut = (from, to) => {
    for (const name of q.FS.readdir(from).filter((n) => n !== '.' && n !== '..')) {
      const [source, target] = [from + '/' + name, path.join(to, name)];
      if (q.FS.isDir(q.FS.stat(source).mode)) {
        fs.mkdirSync(target, { recursive: true });
        copyOut(source, target);
        continue;
      }
      const bytes = Buffer.from(q.FS.readFile(source));
      if (!fs.existsSync(target) || !fs.readFileSync(target).equals(bytes)) fs.writeFileSync(target, bytes);
    }
  };
  q.FS.mkdir('/run');
  copyIn('.', '/run');
  q.FS.chdir('/run');
  const table = q._malloc(4 * args.length + 8);
  [program, ...args].forEach((arg, i) => q.setValue(table + 4 * i, q.ccall('strdup', 'number', ['string'], [arg]), 'i32'));
  const status = (program === 'quorbin' ? q._qb_quorbin : q._qb_quorbin_pack)(args.length + 1, table);
  copyOut('/run', '.');
  process.stderr.write(errors.map((line) => line + '\n').join(''));
  process.exitCode = status;
});
