// The web application's reading of a file as the forwarder reads it, against the cases the
// gateway's reader is tested with.
import assert from 'node:assert/strict';
import { readdirSync, readFileSync } from 'node:fs';
import { test } from 'node:test';
import { loadUi } from './support.mjs';

const { readAsForwarder, differingMembers } = await loadUi('config/forwarder-reader.js');
const { parseConfigText } = await loadUi('lib/jsonc.js');
const { cases } = JSON.parse(readFileSync(new URL('../data/forwarder-reader.json', import.meta.url), 'utf8'));
const TAIL = 'the forwarder ignores everything from here on: it is after the end of the document';
const place = (note) => note && { line: note.line, column: note.column };

test('the shared cases read as the gateway reads them', () => {
  assert.ok(cases.length > 40);
  for (const c of cases) {
    const r = readAsForwarder(c.text);
    assert.equal(r.refusal === null, c.reads, c.name);
    if ('document' in c) assert.deepEqual(r.document, c.document, c.name);
    assert.deepEqual(r.refusal, c.refusal ?? null, c.name);
    assert.deepEqual(r.ignoredTail, c.ignoredTail ? { ...c.ignoredTail, message: TAIL } : null, c.name);
    assert.deepEqual(r.quirks.map(place), (c.quirks ?? []).map(place), c.name);
    (c.quirks ?? []).forEach((q, i) => q.message && assert.equal(r.quirks[i].message, q.message, c.name));
    // The app's own reading, where it reads the text at all, differs exactly where the gateway's does.
    const plain = parseConfigText(c.text).doc;
    if (c.reads && plain !== undefined) assert.equal(differingMembers(r.document, plain).length > 0, !!c.differsFromPlainReading, c.name);
  }
});

test('every real file reads with nothing refused, ignored or taken otherwise', () => {
  const dir = new URL('../data/forwarder/', import.meta.url);
  const files = readdirSync(dir).filter((f) => f.endsWith('.json'));
  assert.equal(files.length, 6);
  for (const f of files) {
    const text = readFileSync(new URL(f, dir), 'utf8');
    const r = readAsForwarder(text);
    assert.deepEqual([r.refusal, r.ignoredTail, r.quirks], [null, null, []], f);
    assert.deepEqual(r.document, parseConfigText(text).doc, f);
  }
});

test('numbers strtod reads beyond JSON, and quirks kept to five', () => {
  const { document } = readAsForwarder('{"a": -inf, "b": -Infinity, "c": -nan(1a), "d": 1.}');
  assert.deepEqual(document, { a: -Infinity, b: -Infinity, c: NaN, d: 1 });
  let text = '{\n';
  for (let i = 0; i < 7; i++) text += `  "a${i}": 1, // see /* note\n  "b${i}": 2, /* two */\n`;
  const r = readAsForwarder(text + '  "end": 0\n}\n');
  assert.deepEqual(r.quirks.map(place), [2, 4, 6, 8, 10].map((line) => ({ line, column: 19 })));
  assert.deepEqual(differingMembers(r.document, parseConfigText(text + '"end": 0}').doc, 3), ['b0', 'b1', 'b2']);
});

test('a member name that is an object key of JavaScript stays a member', () => {
  const { document, refusal } = readAsForwarder('{"__proto__": {"x": 1}, "constructor": 2}');
  assert.equal(refusal, null);
  assert.deepEqual(Object.keys(document), ['__proto__', 'constructor']);
  assert.equal(Object.getPrototypeOf(document), Object.prototype);
  assert.match(readAsForwarder('{"__proto__": 1, "__proto__": 2}').refusal.message, /appears twice/);
});

test('differing members', () => {
  const a = { gateway_conf: { keepalive_interval: 10, servers: [{ port: 1 }, { port: 2 }], id: 'x' }, SX1301_conf: { radio_0: { freq: 867500000, enable: true } }, only_a: null };
  const b = { SX1301_conf: { radio_0: { enable: true, freq: 868500000 } }, gateway_conf: { id: 'x', servers: [{ port: 1 }, { port: 3 }, {}], keepalive_interval: 10 }, only_b: false };
  const all = ['gateway_conf.servers[1].port', 'gateway_conf.servers[2]', 'SX1301_conf.radio_0.freq', 'only_a', 'only_b'];
  assert.deepEqual(differingMembers(a, b), all);
  assert.deepEqual(differingMembers(a, b, 2), all.slice(0, 2));
  assert.deepEqual(differingMembers(a, structuredClone(a)), []);
  assert.deepEqual(differingMembers([1, '1', true, null, {}, [], NaN], ['1', 1, 1, false, [], {}, NaN]), ['[0]', '[1]', '[2]', '[3]', '[4]', '[5]']);
  assert.deepEqual(differingMembers({}, []), ['']);
});
