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

// The real forwarder configuration files, parsed as the gateway parses them: block comments
// count as white space.
const samplesDir = new URL('../data/forwarder/', import.meta.url);

export function stripComments(text) {
  let out = '';
  let inString = false;
  for (let i = 0; i < text.length; i++) {
    const c = text[i];
    if (inString) {
      out += c;
      if (c === '\\') out += text[++i];
      else if (c === '"') inString = false;
    } else if (c === '/' && text[i + 1] === '*') {
      i = text.indexOf('*/', i + 2) + 1;
      out += ' ';
    } else {
      out += c;
      inString = c === '"';
    }
  }
  return out;
}

export const samples = Object.fromEntries(
  readdirSync(samplesDir)
    .filter((f) => f.endsWith('.json'))
    .map((f) => [f.replace('.global_conf.json', ''), JSON.parse(stripComments(readFileSync(new URL(f, samplesDir), 'utf8')))]),
);
