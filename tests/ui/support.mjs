// Loads the application's modules the way the browser does: they import each other by their
// URL under /ui/, which here maps to assets/ui/.
import { existsSync, readdirSync, readFileSync } from 'node:fs';
import { register } from 'node:module';

// lib/contract.js is written by the build from the server's tables: the one in build/, which is
// to be built first (scripts/test.sh does).
const assets = new URL('../../assets/ui/', import.meta.url).href;
const build = new URL(`../../build/`, import.meta.url);
export const contractFile = new URL('src/ui/generated/lib/contract.js', build);
if (!existsSync(contractFile)) throw new Error(`${contractFile.pathname} is missing: build first`);
register(
  'data:text/javascript,' +
    encodeURIComponent(
      `export function resolve(s, c, next) { return next(s === '/ui/lib/contract.js' ? ${JSON.stringify(contractFile.href)} : s.startsWith('/ui/') ? ${JSON.stringify(assets)} + s.slice(4) : s, c); }`,
    ),
);

export const loadUi = (name) => import(`/ui/${name}`);

const { parseConfigText } = await loadUi('lib/jsonc.js');

// A configuration text, comments and all, as the page reads it (lib/jsonc.js).
export function parseConfig(text) {
  const { doc, error } = parseConfigText(text);
  if (error) throw new Error(`not JSON with comments: ${error.message} (line ${error.line}, column ${error.column})`);
  return doc;
}

// The real forwarder configuration files.
const samplesDir = new URL('../data/forwarder/', import.meta.url);

export const samples = Object.fromEntries(
  readdirSync(samplesDir)
    .filter((f) => f.endsWith('.json'))
    .map((f) => [f.replace('.global_conf.json', ''), parseConfig(readFileSync(new URL(f, samplesDir), 'utf8'))]),
);
