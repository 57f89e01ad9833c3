// Checks that every entry of the library files (library_*.js, given to
// emscripten's linker) declares in its __deps each library object and
// function it uses, and nothing it does not use. The linker includes only
// what some entry declares: an undeclared use links whenever another entry
// happens to pull the object in, and fails at run time once none does.
//   node web/check-deps.mjs [LIBRARY.js...]   (default: web/library_*.js)
// An entry's uses are the names in its code (its __postset too) that name a
// library symbol: Name for $Name, _name for name. The symbols are those of
// these files and of emscripten's own library (EMSCRIPTEN_ROOT, else
// /usr/share/emscripten). A declaration that the code does not use stays
// when a comment on its __deps, or just above it, names it and says why.
// Exits 1 with each finding, 2 when it cannot read the files.
import fs from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';

// emscripten's own acorn (Debian's node-acorn), found through NODE_PATH.
const require = createRequire(import.meta.url);
let acorn, walk;
try {
  acorn = require('acorn');
  walk = require('acorn-walk');
} catch (e) {
  console.error(`check-deps: acorn and acorn-walk not found (NODE_PATH=/usr/share/nodejs): ${e.message}`);
  process.exit(2);
}

const here = path.dirname(new URL(import.meta.url).pathname);
const files = process.argv.length > 2 ? process.argv.slice(2) : libraryFiles(here);
const emscripten = process.env.EMSCRIPTEN_ROOT || '/usr/share/emscripten';

function libraryFiles(dir) {
  return fs
    .readdirSync(dir)
    .filter((n) => /^library_.*\.js$/.test(n))
    .sort()
    .map((n) => path.join(dir, n));
}

// The names emscripten's library defines: its entries sit two spaces in.
// What only its minimal runtime defines (#if MINIMAL_RUNTIME) is left out;
// any other condition may hold, and both of its branches count.
function emscriptenSymbols() {
  const dir = path.join(emscripten, 'src');
  const names = new Set();
  let found;
  try {
    found = fs.readdirSync(dir).filter((n) => /^library.*\.js$/.test(n));
  } catch (e) {
    console.error(`check-deps: emscripten's library not found in ${dir} (set EMSCRIPTEN_ROOT): ${e.message}`);
    process.exit(2);
  }
  for (const n of found) {
    // Per open #if: whether its branch at hand is the minimal runtime's, and
    // whether its #else is.
    const open = [];
    for (const line of fs.readFileSync(path.join(dir, n), 'utf8').split('\n')) {
      const directive = /^\s*#(if|else|endif)\b(.*)/.exec(line);
      if (directive) {
        const [, word, condition] = [directive[0], directive[1], directive[2].trim()];
        if (word === 'if')
          open.push({ skip: condition === 'MINIMAL_RUNTIME', skipElse: condition === '!MINIMAL_RUNTIME' });
        else if (word === 'else') open[open.length - 1].skip = open[open.length - 1].skipElse;
        else open.pop();
        continue;
      }
      if (open.some((o) => o.skip)) continue;
      const m = /^ {2}(\$?[A-Za-z_][\w$]*)\s*:/.exec(line);
      if (m && !m[1].includes('__')) names.add(m[1]);
    }
  }
  return names;
}

// One file's entries: name -> {code: [nodes], deps: [{name, node}], depsNode, line, file}.
function readLibrary(file) {
  const text = fs.readFileSync(file, 'utf8');
  const comments = [];
  const ast = acorn.parse(text, { ecmaVersion: 'latest', locations: true, onComment: comments });
  const entries = new Map();
  const entry = (name) => {
    if (!entries.has(name)) entries.set(name, { name, file, text, comments, code: [], deps: [], depsNode: null });
    return entries.get(name);
  };
  walk.simple(ast, {
    CallExpression(call) {
      if (call.callee.type !== 'Identifier' || call.callee.name !== 'mergeInto') return;
      for (const p of call.arguments[1].properties) {
        const key = p.key.type === 'Identifier' ? p.key.name : p.key.value;
        const [name, directive] = key.split('__');
        const e = entry(name);
        if (directive === undefined) {
          e.line = p.loc.start.line;
          // A string is another entry's name (an alias): it uses that entry.
          if (p.value.type === 'Literal' && typeof p.value.value === 'string') e.alias = p.value.value;
          else e.code.push(p.value);
        } else if (directive === 'deps') {
          e.depsNode = p;
          for (const d of p.value.elements) e.deps.push({ name: d.value, node: d });
        } else if (directive === 'postset') {
          e.code.push(acorn.parse(stringValue(p.value, file), { ecmaVersion: 'latest' }));
        }
      }
    },
  });
  return [...entries.values()];
}

// A __postset's text: a string, or strings joined with +.
function stringValue(node, file) {
  if (node.type === 'Literal') return node.value;
  if (node.type === 'BinaryExpression' && node.operator === '+') {
    return stringValue(node.left, file) + stringValue(node.right, file);
  }
  throw new Error(`${file}:${node.loc.start.line}: a __postset that is not a string`);
}

// The names an entry's code refers to (not property names, not its own
// declarations).
function namesIn(nodes) {
  const names = new Set();
  for (const n of nodes) {
    walk.simple(n, {
      Identifier(id) {
        names.add(id.name);
      },
    });
  }
  return names;
}

// Whether a comment on the entry's __deps, or on the lines just above it,
// names the dependency.
function explained(e, dep) {
  const from = e.depsNode.loc.start.line,
    to = e.depsNode.loc.end.line;
  let top = from;
  for (const c of [...e.comments].reverse()) {
    if (c.loc.end.line === top - 1 || c.loc.end.line === top) top = Math.min(top, c.loc.start.line);
  }
  return e.comments.some(
    (c) => c.loc.start.line >= top && c.loc.start.line <= to && c.value.includes(dep.replace(/^\$/, '')),
  );
}

let entries;
try {
  entries = files.flatMap(readLibrary);
} catch (e) {
  console.error(`check-deps: ${e.message}`);
  process.exit(2);
}
const ours = new Set(entries.map((e) => e.name));
const symbols = new Set([...emscriptenSymbols(), ...ours]);
const findings = [];
for (const e of entries) {
  if (e.line === undefined) {
    findings.push(`${path.relative('.', e.file)}: ${e.name}'s directives name no entry of that name`);
    continue;
  }
  const uses = new Set();
  for (const n of namesIn(e.code)) {
    if (symbols.has('$' + n)) uses.add('$' + n);
    else if (n.startsWith('_') && symbols.has(n.slice(1))) uses.add(n.slice(1));
  }
  uses.delete(e.name);
  const declared = new Set(e.deps.map((d) => d.name));
  const where = `${path.relative('.', e.file)}:${e.line}: ${e.name}`;
  for (const u of [...uses].sort()) {
    if (!declared.has(u)) findings.push(`${where} uses ${u}, not in its __deps`);
  }
  for (const d of e.deps) {
    if (e.alias && d.name === e.alias) continue;
    if (!uses.has(d.name) && !explained(e, d.name)) {
      findings.push(`${path.relative('.', e.file)}:${d.node.loc.start.line}: ${e.name} declares ${d.name}, unused`);
    }
  }
}
if (findings.length) {
  for (const f of findings) console.log(f);
  console.error(`check-deps: ${findings.length} findings in ${files.length} library files`);
  process.exit(1);
}
console.log(`check-deps: every entry of ${files.length} library files declares what it uses`);
