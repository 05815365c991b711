import assert from 'node:assert/strict';
import { test } from 'node:test';
import { loadUi, samples } from './support.mjs';

const { diffDocuments, planPatch } = await loadUi('config/patch.js');
const { MAX_REQUEST_BYTES } = await loadUi('lib/contract.js');

// The gateway's merge: objects merge member by member, anything else replaces whole.
const isObject = (v) => v !== null && typeof v === 'object' && !Array.isArray(v);
function merge(base, patch) {
  if (!isObject(base) || !isObject(patch)) return structuredClone(patch);
  const out = { ...base };
  for (const k of Object.keys(patch)) out[k] = Object.hasOwn(base, k) ? merge(base[k], patch[k]) : patch[k];
  return out;
}

test('only changed members are sent; objects recurse, arrays and other values go whole', () => {
  const base = { a: 1, conf: { radio_0: { enable: true, freq: 867_500_000 }, clksrc: 1 }, lut: [{ pa: 0 }, { pa: 1 }], s: 'x' };
  for (const [name, edit, patch] of [
    ['nested number', (d) => (d.conf.radio_0.freq = 868_500_000), { conf: { radio_0: { freq: 868_500_000 } } }],
    ['one array element', (d) => (d.lut[1].pa = 2), { lut: [{ pa: 0 }, { pa: 2 }] }],
    ['array shortened', (d) => d.lut.pop(), { lut: [{ pa: 0 }] }],
    ['new member', (d) => (d.conf.radio_0.tx_enable = false), { conf: { radio_0: { tx_enable: false } } }],
    ['null is a value', (d) => (d.s = null), { s: null }],
    ['object replaced by a number', (d) => (d.conf = 5), { conf: 5 }],
    ['1 becomes "1"', (d) => (d.a = '1'), { a: '1' }],
  ]) {
    const after = structuredClone(base);
    edit(after);
    const diff = diffDocuments(base, after);
    assert.deepEqual(diff.patch, patch, name);
    assert.deepEqual(merge(base, diff.patch), after, name);
  }
  assert.equal(diffDocuments({ a: 1, b: { x: 1, y: 2 } }, { b: { y: 2, x: 1 }, a: 1 }).patch, undefined, 'order alone');
  const { changes } = diffDocuments({ g: { id: 'A' } }, { g: { id: 'B', up: 2 } });
  assert.deepEqual(changes, [{ path: ['g', 'id'], before: 'A', after: 'B' }, { path: ['g', 'up'], before: undefined, after: 2 }]);
});

test('a member named __proto__ is carried as data', () => {
  const { patch } = diffDocuments(JSON.parse('{"x":{"__proto__":{"a":1}}}'), JSON.parse('{"x":{"__proto__":{"a":2}}}'));
  assert.equal(JSON.stringify(patch), '{"x":{"__proto__":{"a":2}}}');
});

test('in every sample, merging the patch gives exactly the edited document', () => {
  for (const [name, doc] of Object.entries(samples)) {
    const after = structuredClone(doc);
    const conf = after.SX1301_conf ?? after.SX130x_conf;
    conf.radio_0.freq += 100_000;
    conf.chan_multiSF_0.enable = !conf.chan_multiSF_0.enable;
    after.gateway_conf.server_address = 'eu1.cloud.thethings.network';
    after.extra = { note: null };
    const { patch, removed } = diffDocuments(doc, after);
    assert.deepEqual(removed, [], name);
    assert.deepEqual(merge(doc, patch), after, name);
    assert.deepEqual(Object.keys(patch.gateway_conf), ['server_address'], name);
  }
});

test('removed members, non-objects and empty edits are refused', () => {
  const doc = samples['sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0'];
  const after = structuredClone(doc);
  delete after.gateway_conf.gps_tty_path;
  delete after.SX130x_conf.sx1261_conf.lbt;
  const plan = planPatch(doc, after, 'token');
  assert.equal(plan.patch, undefined);
  assert.match(plan.error, /cannot remove members.*: SX130x_conf\.sx1261_conf\.lbt, gateway_conf\.gps_tty_path\./);
  assert.match(planPatch(doc, [doc], 't').error, /JSON object/);
  assert.equal(planPatch(doc, structuredClone(doc), 't').empty, true);
});

test('the size limit counts the whole body, token included, in UTF-8 bytes', () => {
  const auth = 'T'.repeat(100);
  const overhead = JSON.stringify({ auth, input: { note: '' } }).length;
  const fits = planPatch({ note: 'old' }, { note: 'x'.repeat(MAX_REQUEST_BYTES - overhead) }, auth);
  assert.equal(fits.bytes, MAX_REQUEST_BYTES);
  assert.ok(fits.patch);
  const over = planPatch({ note: 'old' }, { note: 'é' + 'x'.repeat(MAX_REQUEST_BYTES - overhead - 1) }, auth);
  assert.equal(over.tooLarge, true);
  assert.match(over.error, /4097 bytes.*at most 4096/);
});
