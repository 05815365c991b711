// The web application as the gateway serves it: the same code as assets/ui without its comment
// lines, small enough for a gateway's flash, and loaded in two round trips after the page.
import assert from 'node:assert/strict';
import { readdirSync, readFileSync, statSync } from 'node:fs';
import { test } from 'node:test';
import { SX1301, browser, gw, newPage, signIn, usesBrowser } from './support.mjs';

const ASSETS = new URL('../../assets/ui/', import.meta.url);
const MAX_BYTES = 200_000;

usesBrowser(SX1301);

const names = readdirSync(ASSETS, { recursive: true }).filter((n) => statSync(new URL(n, ASSETS)).isFile());
const served = async (name) => Buffer.from(await (await fetch(`${gw.url}/ui/${name}`)).arrayBuffer());

// Before these, a "/" starts a regular expression; after anything else it divides.
const BEFORE_REGEX = /^([-+*%=(,:;?!&|^~{[<>]|return|typeof|case|in|of|new|delete|void|throw|else|do)$/;

// The tokens of a script that the served file must keep: strings, templates and regular
// expressions whole, every other run of word characters, each other character; no comments or
// blanks. A literal that spans lines throws, since the served file's lines are reindented.
function scriptTokens(text) {
  const out = [];
  let i = 0;
  const literal = (end) => {
    const token = text.slice(i, end);
    if (token.includes('\n')) throw new Error(`a literal spans lines at ${JSON.stringify(text.slice(i, i + 40))}`);
    out.push(token);
    i = end;
  };
  // The end of a template starting at k (its backquote), past any ${…} in it.
  const templateEnd = (k) => {
    for (k += 1; text[k] !== '`'; k += 1) {
      if (k >= text.length) throw new Error('an unterminated template');
      if (text[k] === '\\') k += 1;
      else if (text[k] === '$' && text[k + 1] === '{') {
        let depth = 0;
        for (k += 1; ; k += 1) {
          if (text[k] === '{') depth += 1;
          else if (text[k] === '}' && --depth === 0) break;
          else if (text[k] === '`') k = templateEnd(k) - 1;
          else if (text[k] === '"' || text[k] === "'") k = quotedEnd(k) - 1;
        }
      }
    }
    return k + 1;
  };
  const quotedEnd = (k) => {
    const quote = text[k];
    for (k += 1; text[k] !== quote; k += 1) if (text[k] === '\\') k += 1;
    return k + 1;
  };
  const regexEnd = (k) => {
    let inClass = false;
    for (k += 1; inClass || text[k] !== '/'; k += 1) {
      if (text[k] === '\\') k += 1;
      else if (text[k] === '[') inClass = true;
      else if (text[k] === ']') inClass = false;
    }
    for (k += 1; /\w/.test(text[k] ?? ''); k += 1);
    return k;
  };
  while (i < text.length) {
    const c = text[i];
    if (/\s/.test(c)) i += 1;
    else if (text.startsWith('//', i)) i = text.indexOf('\n', i) < 0 ? text.length : text.indexOf('\n', i);
    else if (text.startsWith('/*', i)) i = text.indexOf('*/', i) + 2;
    else if (c === '"' || c === "'") literal(quotedEnd(i));
    else if (c === '`') literal(templateEnd(i));
    else if (c === '/' && (out.length === 0 || BEFORE_REGEX.test(out[out.length - 1]))) literal(regexEnd(i));
    else if (/\w|\$/.test(c)) {
      const m = /^[\w$]+/.exec(text.slice(i, i + 200));
      out.push(m[0]);
      i += m[0].length;
    } else {
      out.push(c);
      i += 1;
    }
  }
  return out;
}

// A style sheet's tokens: blank-separated runs outside comments, strings whole.
function styleTokens(text) {
  return text.replace(/\/\*[\s\S]*?\*\//g, ' ').split(/\s+/).filter(Boolean);
}

test('scripts and style sheets are served as the same tokens as their sources, without comment lines', async () => {
  let source = 0;
  let sent = 0;
  for (const name of names.filter((n) => /\.(js|css)$/.test(n))) {
    const text = readFileSync(new URL(name, ASSETS), 'utf8');
    const body = (await served(name)).toString('utf8');
    const tokens = name.endsWith('.js') ? scriptTokens : styleTokens;
    assert.deepEqual(tokens(body), tokens(text), name);
    assert.doesNotMatch(body, /^\s*\/\//m, `${name} keeps a comment line`);
    source += text.length;
    sent += body.length;
  }
  assert.ok(sent < source * 0.9, `served ${sent} of ${source}`);
});

test('the token check sees what a careless reduction would break', () => {
  assert.deepEqual(scriptTokens('const a = b / 2; // half\nconst r = /[/]x/g;'),
    ['const', 'a', '=', 'b', '/', '2', ';', 'const', 'r', '=', '/[/]x/g', ';']);
  assert.deepEqual(scriptTokens('f(`a ${g({ b: `c${d}` })} e`, "x\\"y")'), ['f', '(', '`a ${g({ b: `c${d}` })} e`', ',', '"x\\"y"', ')']);
  assert.throws(() => scriptTokens('const t = `one\n  // two`;'), /spans lines/);
});

test(`the whole application is served in under ${MAX_BYTES} bytes`, async () => {
  let total = 0;
  for (const name of names) total += (await served(name)).length;
  assert.ok(total < MAX_BYTES, `${total} bytes`);
});

// The files of /ui a served file makes the browser ask for: the page's scripts, style sheets,
// preloads and images; a script's imports; a style sheet's url()s.
function references(name, text) {
  const patterns = name.endsWith('.html') ? [/<(?:link|script|img)\b[^>]*\b(?:src|href)="(\/ui\/[^"]+)"/g]
    : name.endsWith('.js') ? [/\bfrom\s*'(\/ui\/[^']+)'/g, /\bimport\s*\(\s*'(\/ui\/[^']+)'\s*\)/g, /^import\s*'(\/ui\/[^']+)'/gm]
      : name.endsWith('.css') ? [/url\(\s*["']?(\/ui\/[^"')]+)/g] : [];
  return patterns.flatMap((p) => [...text.matchAll(p)].map((m) => m[1]));
}

test('after index.html the application loads in at most two round trips, icon.svg once', async () => {
  const page = await newPage(browser, gw);
  // Every request for a file below /ui (but the page itself) is held. A round trip is the files
  // the browser can know of from what it has been answered so far: once it has asked for all of
  // them, they are answered together, and the next trip is what those refer to.
  const held = new Map();
  let arrived = () => {};
  const icons = [];
  page.on('request', (r) => r.url().endsWith('/ui/icon.svg') && icons.push(r.url()));
  const files = /\/ui\/.+\.(js|css|svg)$/;
  await page.route(files, (route) => {
    held.set(new URL(route.request().url()).pathname, route);
    arrived();
  });
  const askedFor = (paths) => new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`the browser did not ask for ${paths.filter((p) => !held.has(p))} ` +
      `(holding ${[...held.keys()]})`)), 30_000);
    arrived = () => paths.every((p) => held.has(p)) && (clearTimeout(timer), resolve());
    arrived();
  });
  const text = async (p) => (await served(p.slice('/ui/'.length))).toString();
  const trips = [];
  const answered = new Set();
  const navigation = page.goto('/ui/status');
  let next = references('index.html', await text('/ui/index.html'));
  while (next.length) {
    await askedFor(next);
    const trip = [...held.keys()];
    const routes = [...held.values()];
    held.clear();
    trips.push(trip);
    trip.forEach((p) => answered.add(p));
    for (const route of routes) await route.continue();
    const referred = (await Promise.all(trip.map(async (p) => references(p, await text(p))))).flat();
    next = [...new Set(referred)].filter((p) => !answered.has(p));
  }
  await navigation;
  await page.getByRole('heading', { name: 'Sign in' }).waitFor();
  assert.deepEqual([...held.keys()], [], 'asked for files that nothing refers to');
  assert.ok(trips.length <= 2, JSON.stringify(trips));
  assert.ok(trips.flat().includes('/ui/pages/config.js'));
  assert.equal(icons.length, 1);
  // Moving between views fetches no icon again.
  await page.unroute(files);
  await signIn(page);
  await page.getByRole('navigation').getByRole('link', { name: 'Configuration' }).click();
  await page.getByRole('heading', { name: 'Forwarder configuration' }).waitFor();
  assert.equal(icons.length, 1);
  assert.deepEqual(page.errors, []);
});
