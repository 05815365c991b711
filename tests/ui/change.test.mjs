// What the page shows of a change before and after it is applied: the review in the operator's
// words, line diffs, the file read as the gateway reads it, and a large file cut into requests.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { test } from 'node:test';
import { loadUi, samples } from './support.mjs';

const { describeChanges } = await loadUi('config/review.js');
const { diffLines, hunks, countChanges } = await loadUi('lib/linediff.js');
const { parseConfigText, blankComments } = await loadUi('lib/jsonc.js');
const { busyText, endedSteps, pieces, stepText } = await loadUi('config/change.js');
const { byteLength, requestBody } = await loadUi('lib/api.js');
const { MAX_REQUEST_BYTES } = await loadUi('lib/contract.js');

const rows = (before, after) => describeChanges(before, after).map((r) => `${r.label}: ${r.from} → ${r.to}`);

test('the review speaks of channels, radios and servers, not of paths and offsets', () => {
  const before = samples['sx1301-eu868-semtech-lora_pkt_fwd-v4.0.1'];
  const after = structuredClone(before);
  after.SX1301_conf.chan_multiSF_0.if = 200_000; // on radio 1 at 868.5 MHz
  after.SX1301_conf.chan_multiSF_1.enable = false;
  after.gateway_conf.server_address = 'eu1.example.net';
  after.gateway_conf.stat_interval = 60;
  after.gateway_conf.forward_crc_error = true;
  after.SX1301_conf.chan_Lora_std.spread_factor = 8;
  after.SX1301_conf.antenna_gain = 3;
  delete after.SX1301_conf.lbt_cfg;
  assert.deepEqual(rows(before, after), [
    'SX1301_conf.antenna_gain: 0 → 3',
    'Channel 0: 868.1 MHz → 868.7 MHz',
    'Channel 1: 868.3 MHz → off',
    'LoRa standard channel: spreading factor: SF7 → SF8',
    'Network server: localhost → eu1.example.net',
    'Statistics interval: 30 s → 60 s',
    'Forward packets with a CRC error: off → on',
    'SX1301_conf.lbt_cfg: ' + JSON.stringify(before.SX1301_conf.lbt_cfg) + ' → (removed)',
  ]);
  // The raw changes behind a row stay with it.
  assert.deepEqual(describeChanges(before, after)[1].raw, [{ path: ['SX1301_conf', 'chan_multiSF_0', 'if'], before: -400_000, after: 200_000 }]);
});

test('a radio that moves lists the channels that move with it', () => {
  const before = samples['sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0'];
  const after = structuredClone(before);
  after.SX130x_conf.radio_1.freq += 200_000;
  const r = rows(before, after);
  assert.equal(r[0], 'Radio 1 centre frequency: 868.5 MHz → 868.7 MHz');
  assert.deepEqual(r.slice(1, 4), ['Channel 0: 868.1 MHz → 868.3 MHz', 'Channel 1: 868.3 MHz → 868.5 MHz', 'Channel 2: 868.5 MHz → 868.7 MHz']);
  assert.ok(r.every((line) => !line.startsWith('Channel 3')), 'channels of radio 0 stay');
  // A plan moves a transmitting radio's limits too: in MHz, as the centres are.
  after.SX130x_conf.radio_0.tx_freq_min = 923_000_000;
  after.SX130x_conf.radio_0.tx_freq_max = 928_000_000;
  assert.deepEqual(rows(before, after).slice(0, 2), ['Radio 0 transmits from: 863 MHz → 923 MHz', 'Radio 0 transmits up to: 870 MHz → 928 MHz']);
});

test('line diffs: only the changed lines, with their numbers, in hunks with context', () => {
  const old = ['{', '  "a": 1,', '  "b": 2,', '  "c": 3,', '  "d": 4,', '  "e": 5,', '  "f": 6,', '  "g": 7', '}'].join('\n');
  const now = old.replace('"b": 2', '"b": 20').replace('  "g": 7', '  "g": 7,\n  "h": 8');
  const diff = diffLines(old, now);
  assert.deepEqual(diff.filter((d) => d.kind !== ' ').map((d) => `${d.kind}${d.a ?? d.b} ${d.text.trim()}`),
    ['-3 "b": 2,', '+3 "b": 20,', '-8 "g": 7', '+8 "g": 7,', '+9 "h": 8']);
  assert.deepEqual(countChanges(diff), { removed: 2, added: 3 });
  assert.equal(hunks(diff, 1).length, 2);
  assert.equal(hunks(diff, 3).length, 1);
  assert.deepEqual(hunks(diffLines(old, old)), []);
  // Two whole vendor files: every line of each is accounted for.
  const a = readFileSync(new URL('../data/forwarder/sx1301-eu868-semtech-lora_pkt_fwd-v4.0.1.global_conf.json', import.meta.url), 'utf8');
  const b = readFileSync(new URL('../data/forwarder/sx1301-us902-semtech-lora_pkt_fwd-v4.0.1-basic.global_conf.json', import.meta.url), 'utf8');
  const d = diffLines(a, b);
  assert.equal(d.filter((x) => x.kind !== '+').length, a.split('\n').length);
  assert.equal(d.filter((x) => x.kind !== '-').length, b.split('\n').length);
});

test('files are read as the gateway reads them, and mistakes are placed', () => {
  for (const [name, doc] of Object.entries(samples)) {
    const text = readFileSync(new URL(`../data/forwarder/${name}.global_conf.json`, import.meta.url), 'utf8');
    assert.deepEqual(parseConfigText(text).doc, doc, name);
  }
  assert.deepEqual(parseConfigText('{"a": [1, 2,], // one\n "b": "/* not a comment */",}').doc, { a: [1, 2], b: '/* not a comment */' });
  assert.equal(blankComments('{"a":1 /* x\ny */}').length, '{"a":1 /* x\ny */}'.length);
  const bad = parseConfigText('{\n  "a": 1,,\n}');
  assert.equal(bad.error.line, 2);
  assert.equal(bad.error.column, 10);
});

test('a file too large for one request goes in pieces that each fit, and come together again', () => {
  const auth = 'x'.repeat(120);
  const text = readFileSync(new URL('../data/forwarder/sx1301-eu868-kersing-mp_pkt_fwd-multiserver.global_conf.json', import.meta.url), 'utf8') +
    '"ünïcödé ✓ \\"quoted\\" \t"'.repeat(200);
  const parts = pieces(text, auth);
  assert.ok(parts.length > 2);
  assert.equal(parts.join(''), text);
  let offset = 0;
  for (const p of parts) {
    assert.ok(byteLength(requestBody(auth, { upload: '12', offset, text: p })) <= MAX_REQUEST_BYTES);
    offset += byteLength(p);
  }
  assert.deepEqual(pieces('', auth), ['']);
});

test('the watch counts down, and says what it waits for; a change that has ended shows every step ended', () => {
  assert.equal(stepText('watching', { settleSeconds: 15, secondsLeft: 12, waitingFor: 'the forwarder\'s first report after the restart' }),
    'Watch the forwarder for 15 s: 12 s left, waiting for the forwarder\'s first report after the restart');
  assert.equal(stepText('watching', { settleSeconds: 15, secondsLeft: 0, waitingFor: null }), 'Watch the forwarder for 15 s: 0 s left');
  assert.equal(stepText('watching', { settleSeconds: 3, secondsLeft: null }), 'Watch the forwarder for 3 s');

  const states = (ended) => endedSteps(ended).map(([name, state]) => `${name} ${state}`);
  assert.deepEqual(states({}), ['validating done', 'saving done', 'writing done', 'restarting done', 'watching done']);
  assert.deepEqual(states({ skipped: ['restarting', 'watching'] }).slice(3), ['restarting skipped', 'watching skipped']);
  // Rolled back after the restart failed: the watch never ran, the rollback did.
  assert.deepEqual(states({ failedAt: 'restarting', rollback: 'done' }),
    ['validating done', 'saving done', 'writing done', 'restarting failed', 'watching skipped', 'rolling-back done']);
  assert.deepEqual(states({ failedAt: 'watching', rollback: 'failed' }).slice(-2), ['watching failed', 'rolling-back failed']);
});

test('a refusal while another change is under way names that change in words', () => {
  assert.equal(busyText('Another change of the forwarder\'s configuration is under way (forwarder-config/apply by admin from ' +
    '10.0.0.5); try again once it has finished'), 'Another change of the forwarder\'s configuration is under way (an apply ' +
    'of a changed configuration by admin from 10.0.0.5); try again once it has finished');
  assert.match(busyText('(forwarder-config/restore by admin)'), /^\(a restore of a whole file by admin\)$/);
  assert.equal(busyText('(forwarder-config/reboot)'), '(forwarder-config/reboot)');
});
