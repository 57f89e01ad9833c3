// Packs the game's files for the site, each compressed by the build: some
// hosts send files as they are, and the data set's raw BMPs would be most of
// what the first frame waits for. The page unpacks them with the browser's
// own DecompressionStream ('gzip', whose check sum tells a damaged download).
//   node pack.mjs file IN OUT                 one file, gzip-compressed
//   node pack.mjs data DIR OUT [STREAMED...]  the data set in one package;
//                                             STREAMED files are left out, named
//                                             in it as fetched from their own address
// A package is, before compression: the length of its directory (4 bytes,
// little-endian), the directory (JSON: {files: [{path, size}], streamed:
// [{path, address}]}), then each file's bytes in the directory's order.
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';

const [mode, from, to, ...streamed] = process.argv.slice(2);
let bytes;
if (mode === 'file' && from && to) {
  bytes = fs.readFileSync(from);
} else if (mode === 'data' && from && to) {
  const names = fs
    .readdirSync(from)
    .filter((n) => fs.statSync(path.join(from, n)).isFile())
    .sort();
  for (const n of streamed) {
    if (!names.includes(n)) throw new Error(`${n} is not in ${from}`);
  }
  const packed = names.filter((n) => !streamed.includes(n));
  const contents = packed.map((n) => fs.readFileSync(path.join(from, n)));
  const directory = Buffer.from(
    JSON.stringify({
      files: packed.map((n, i) => ({ path: 'data/' + n, size: contents[i].length })),
      streamed: streamed.map((n) => ({ path: 'data/' + n, address: n })),
    }),
  );
  const length = Buffer.alloc(4);
  length.writeUInt32LE(directory.length);
  bytes = Buffer.concat([length, directory, ...contents]);
} else {
  console.error('usage: node pack.mjs file IN OUT | node pack.mjs data DIR OUT [STREAMED...]');
  process.exit(2);
}
// Written whole or not at all: a build stopped midway leaves no half file.
fs.writeFileSync(to + '.part', zlib.gzipSync(bytes, { level: 9, memLevel: 9 }));
fs.renameSync(to + '.part', to);
