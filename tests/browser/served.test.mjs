// The web application as the gateway serves it: every file of assets/ui, and the contract the
// build writes from the server's tables (lib/contract.js), at its path below /ui,
// the scripts minified as ES modules and the style sheet without its comments when the program
// is built; small enough for a gateway's flash, and loaded in two round trips after the page.
import assert from 'node:assert/strict';
import { readdirSync, readFileSync, statSync } from 'node:fs';
import { test } from 'node:test';
import { parse } from 'acorn';
import { SX1301, browser, gw, newPage, signIn, usesBrowser } from './support.mjs';

const ASSETS = new URL('../../assets/ui/', import.meta.url);
const MAX_BYTES = 200_000;

usesBrowser(SX1301);

// What the build writes beside the sources: the page's contract with the server.
const GENERATED = new URL(`../../build/src/ui/generated/`, import.meta.url);
const generated = ['lib/contract.js'];

const names = [...readdirSync(ASSETS, { recursive: true }).filter((n) => statSync(new URL(n, ASSETS)).isFile()), ...generated].sort();
const scripts = names.filter((n) => n.endsWith('.js'));
const source = (name) => readFileSync(new URL(name, generated.includes(name) ? GENERATED : ASSETS), 'utf8');

// A file as the gateway serves it. (An address below /ui that names no file is answered with
// index.html, so the type tells whether a file is served.)
async function served(name) {
  const res = await fetch(`${gw.url}/ui/${name}`);
  return { type: res.headers.get('content-type'), body: Buffer.from(await res.arrayBuffer()) };
}
const servedText = async (name) => (await served(name)).body.toString('utf8');

// Every node of a syntax tree, depth first.
function visit(node, f) {
  f(node);
  for (const value of Object.values(node)) {
    for (const child of Array.isArray(value) ? value : [value]) if (typeof child?.type === 'string') visit(child, f);
  }
}

// What a module imports ({ from, names }: the names it takes from the module `from`, none for a
// namespace or a dynamic import) and the names it exports; throws when the text is no ES module.
function moduleFacts(text) {
  const imports = [];
  const exports = [];
  const nameOf = (n) => n.name ?? n.value;
  visit(parse(text, { sourceType: 'module', ecmaVersion: 'latest' }), (node) => {
    if (node.type === 'ImportDeclaration') {
      imports.push({ from: node.source.value, names: node.specifiers.flatMap((s) => (s.type === 'ImportSpecifier' ? [nameOf(s.imported)]
        : s.type === 'ImportDefaultSpecifier' ? ['default'] : [])) });
    } else if (node.type === 'ImportExpression') {
      assert.equal(node.source.type, 'Literal', 'a dynamic import names its module as it is');
      imports.push({ from: node.source.value, names: [] });
    } else if (node.type === 'ExportNamedDeclaration') {
      const d = node.declaration;
      exports.push(...(d?.declarations?.map((v) => v.id.name) ?? (d ? [d.id.name] : [])), ...node.specifiers.map((s) => nameOf(s.exported)));
      if (node.source) imports.push({ from: node.source.value, names: node.specifiers.map((s) => nameOf(s.local)) });
    } else if (node.type === 'ExportDefaultDeclaration') {
      exports.push('default');
    } else if (node.type === 'ExportAllDeclaration') {
      assert.fail('a module re-exports all of another, whose names cannot be checked here');
    }
  });
  return { imports, exports: exports.sort() };
}

test(`the whole application is served in at most ${MAX_BYTES} bytes, and names no source map`, async (t) => {
  let total = 0;
  for (const name of names) {
    const { body } = await served(name);
    total += body.length;
    assert.doesNotMatch(body.toString('latin1'), /[#@] sourceMappingURL=/, name);
  }
  t.diagnostic(`${total} bytes served`);
  assert.ok(total <= MAX_BYTES, `${total} bytes`);
});

test('every script is served minified as an ES module, its imports served modules that export what it takes', async () => {
  const facts = new Map();
  let sourceBytes = 0;
  let servedBytes = 0;
  for (const name of scripts) {
    const { type, body } = await served(name);
    assert.equal(type, 'application/javascript', name);
    facts.set(name, moduleFacts(body.toString('utf8')));
    // Minified, a module still exports what its source does, by the same names.
    assert.deepEqual(facts.get(name).exports, moduleFacts(source(name)).exports, name);
    sourceBytes += Buffer.byteLength(source(name));
    servedBytes += body.length;
  }
  assert.ok(servedBytes < sourceBytes * 0.75, `${servedBytes} bytes served of ${sourceBytes}`);
  for (const [name, { imports }] of facts) {
    for (const { from, names: taken } of imports) {
      const target = facts.get(from.replace(/^\/ui\//, ''));
      assert.ok(from.startsWith('/ui/') && target, `${name} imports ${from}, which is not served`);
      for (const n of taken) assert.ok(target.exports.includes(n), `${name} imports ${n}, which ${from} does not export`);
    }
  }
  // The page asks for every module at once, but boot.js, which it runs.
  const preloaded = [...(await servedText('index.html')).matchAll(/<link rel="modulepreload" href="\/ui\/([^"]+)"/g)].map((m) => m[1]);
  assert.deepEqual(preloaded.sort(), scripts.filter((n) => n !== 'boot.js'));
});

test('the style sheet reads the same to the browser as its source, only shorter', async () => {
  const page = await browser.newPage();
  for (const name of names.filter((n) => n.endsWith('.css'))) {
    const text = await servedText(name);
    assert.ok(text.length < source(name).length * 0.9, `${text.length} bytes served of ${source(name).length}`);
    // The rules as the browser reads them; a value holding var() is kept as written, but for the
    // blanks after its commas, which separate nothing.
    const [sent, written] = await page.evaluate((texts) => texts.map((t) => {
      const sheet = new CSSStyleSheet();
      sheet.replaceSync(t);
      return [...sheet.cssRules].map((r) => r.cssText.replace(/,\s+/g, ','));
    }), [text, source(name)]);
    assert.ok(written.length > 50, `${written.length} rules in ${name}`);
    assert.deepEqual(sent, written, name);
  }
  await page.close();
});

// The files of /ui a served file makes the browser ask for: the page's scripts, style sheets,
// preloads and images; a script's imports; a style sheet's url()s.
function references(name, text) {
  if (name.endsWith('.js')) return moduleFacts(text).imports.map((i) => i.from);
  const pattern = name.endsWith('.html') ? /<(?:link|script|img)\b[^>]*\b(?:src|href)="(\/ui\/[^"]+)"/g
    : name.endsWith('.css') ? /url\(\s*["']?(\/ui\/[^"')]+)/g : null;
  return pattern ? [...text.matchAll(pattern)].map((m) => m[1]) : [];
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
  const text = (p) => servedText(p.slice('/ui/'.length));
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
