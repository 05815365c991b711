// The web application as it is served, made at build time:
//   node cmake/minify_ui.mjs SOURCE SERVED MAPS [GENERATED]
// writes every file of SOURCE (assets/ui), and of GENERATED (what the build wrote, such as
// lib/contract.js), to SERVED under the same path: scripts minified as ES
// modules by terser (their exported and imported names kept, so the modules link as written),
// style sheets without comments or blanks they do not need, anything else as it is. Each
// script's source map goes to MAPS, which is not served: the served scripts name no map. SERVED
// and MAPS are made anew each time, so a file gone from SOURCE is gone from them too.
// Any failure stops the build, a missing terser included.
import { mkdirSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import path from 'node:path';

const fail = (message) => {
  console.error(`minify_ui: ${message}`);
  process.exit(1);
};

const [source, served, maps, generated] = process.argv.slice(2);
if (!maps) fail('usage: node minify_ui.mjs SOURCE SERVED MAPS');

let minify;
try {
  ({ minify } = await import('terser'));
} catch (e) {
  if (e.code !== 'ERR_MODULE_NOT_FOUND') throw e;
  fail('terser, which minifies the web application, is not installed: run scripts/setup.sh');
}

const TERSER = {
  module: true,
  ecma: 2020,
  compress: true,
  mangle: true,
  format: { comments: false },
};

// Strings and url()s, kept as written; comments, which go; everything else.
const CSS_TOKENS = /("(?:[^"\\\n]|\\[^])*"|'(?:[^'\\\n]|\\[^])*'|url\([^)]*\))|(\/\*[^]*?\*\/)|([^"'/u]+|[^])/g;

// A style sheet as the browser reads it, shorter: a comment or a run of blanks is one space, and
// no space is kept next to { } ; , > nor after a colon (one before it makes a descendant's
// pseudo-class, and stays) nor before !important; nor the ; that ends a block.
function minifyCss(text) {
  const parts = [];
  let code = '';
  const flush = () => {
    parts.push(code.replace(/\s+/g, ' ').replace(/ ?([{};,>]) ?/g, '$1').replace(/: /g, ':').replace(/ !/g, '!')
      .replace(/;}/g, '}'));
    code = '';
  };
  for (const [, kept, comment, other] of text.matchAll(CSS_TOKENS)) {
    if (kept) {
      flush();
      parts.push(kept);
    } else {
      code += comment ? ' ' : other;
    }
  }
  flush();
  return parts.join('').trim();
}

function filesUnder(dir, prefix = '') {
  return readdirSync(dir, { withFileTypes: true })
    .sort((a, b) => (a.name < b.name ? -1 : 1))
    .flatMap((e) => (e.isDirectory() ? filesUnder(path.join(dir, e.name), `${prefix}${e.name}/`) : [`${prefix}${e.name}`]));
}

function write(root, name, content) {
  const file = path.join(root, name);
  mkdirSync(path.dirname(file), { recursive: true });
  writeFileSync(file, content);
}

for (const dir of [served, maps]) rmSync(dir, { recursive: true, force: true });
const inputs = [source, ...(generated ? [generated] : [])].flatMap((root) =>
  filesUnder(root).map((name) => ({ root, name })));
for (const { root, name } of inputs) {
  const content = readFileSync(path.join(root, name));
  if (name.endsWith('.js')) {
    let result;
    try {
      result = await minify({ [`/ui/${name}`]: content.toString('utf8') },
        { ...TERSER, sourceMap: { filename: path.basename(name), includeSources: true } });
    } catch (e) {
      fail(`${name}:${e.line ?? '?'}:${e.col ?? '?'}: ${e.message}`);
    }
    write(served, name, result.code);
    write(maps, `${name}.map`, result.map);
  } else if (name.endsWith('.css')) {
    write(served, name, minifyCss(content.toString('utf8')));
  } else {
    write(served, name, content);
  }
}
