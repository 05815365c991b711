// Loads the application's modules the way the browser does: they import each other by their
// URL under /ui/, which here maps to assets/ui/.
import { readdirSync, readFileSync } from 'node:fs';
import { register } from 'node:module';

const assets = new URL('../../assets/ui/', import.meta.url).href;
register(
  'data:text/javascript,' +
    encodeURIComponent(
      `export function resolve(s, c, next) { return next(s.startsWith('/ui/') ? ${JSON.stringify(assets)} + s.slice(4) : s, c); }`,
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
