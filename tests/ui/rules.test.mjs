// The web application's rules against the cases the gateway's own rules are tested with.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';
import { loadUi, samples } from './support.mjs';

const { checkConfig, problemText } = await loadUi('config/rules.js');
const { cases } = JSON.parse(readFileSync(new URL('../data/config-rules.json', import.meta.url), 'utf8'));

test('the shared cases find the same problems as the gateway, in the same order', () => {
  assert.ok(cases.length > 10);
  for (const c of cases) assert.deepEqual(checkConfig(c.document), c.problems, c.name);
});

test('every vendor file passes, and a problem reads as a sentence', () => {
  const oldest = 'sx1301-eu868-semtech-basic_pkt_fwd-v1.1.0-strict';
  for (const [name, doc] of Object.entries(samples)) {
    // basic_pkt_fwd's file predates radio types; lora_pkt_fwd crashes on its radio without one.
    const expected = name === oldest ? ['SX1301_conf.radio_0.type'] : [];
    assert.deepEqual(checkConfig(doc).map((p) => p.path), expected, name);
  }
  assert.equal(problemText({ path: '', message: 'must be an object' }), 'The document must be an object');
});
