// The exifr peer (bench/commands.tsv): dates each photograph named after the
// folder exifr is installed in, one after the other, with
// exifr.parse(file, {pick: ['DateTimeOriginal']}), as a JavaScript photo
// application would.  One line a photograph on standard output, the
// time as exifr gives it; a photograph without one gets a line on standard
// error.  The lines are written once at the end, as the other programs
// buffer theirs.
//   node exifrDate.js NODE_MODULES_FOLDER PHOTO...
'use strict';
const path = require('path');
const exifr = require(path.resolve(process.argv[2], 'exifr'));

async function main(files) {
  const out = [], err = [];
  for (const file of files) {
    try {
      const tags = await exifr.parse(file, {pick: ['DateTimeOriginal']});
      const t = tags && tags.DateTimeOriginal;
      if (t) out.push(`${t instanceof Date ? t.toISOString() : t} ${file}\n`);
      else err.push(`exifr: ${file} has no DateTimeOriginal\n`);
    } catch (e) {
      err.push(`exifr: ${file}: ${e.message}\n`);
    }
  }
  process.stdout.write(out.join(''));
  process.stderr.write(err.join(''));
}

main(process.argv.slice(3));
