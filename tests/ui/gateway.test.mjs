import assert from 'node:assert/strict';
import { test } from 'node:test';
import { loadUi } from './support.mjs';

const g = {
  ...(await loadUi('lib/format.js')), ...(await loadUi('lib/gateway.js')), ...(await loadUi('lib/journal.js')),
  ...(await loadUi('widgets/chart.js')),
};

const unit = (activeState, subState, extra = {}) => ({ loadState: 'loaded', activeState, subState, unitFileState: 'enabled', ...extra });

test('unit states become the badges an operator reads', () => {
  for (const [u, label, tone] of [
    [unit('active', 'running'), 'running', 'ok'],
    [unit('active', 'exited'), 'exited', 'ok'],
    [unit('activating', 'auto-restart'), 'restarting', 'warn'],
    [unit('activating', 'start'), 'restarting', 'warn'],
    [unit('failed', 'failed'), 'failed', 'bad'],
    [unit('inactive', 'dead'), 'stopped', 'muted'],
    [unit('deactivating', 'stop-sigterm'), 'stopping', 'warn'],
    [unit('inactive', 'dead', { loadState: 'not-found' }), 'not installed', 'muted'],
    [null, 'not a unit', 'muted'],
  ]) {
    assert.deepEqual(g.unitBadge(u), { label, tone }, JSON.stringify(u));
  }
});

test('the acknowledgement colour: green, amber, red, and grey when nothing was sent', () => {
  for (const [percent, sent, tone] of [[100, 5, 'ok'], [90, 5, 'ok'], [89.9, 5, 'warn'], [50, 2, 'warn'],
    [49.99, 2, 'bad'], [0, 5, 'bad'], [0, 0, 'muted'], [null, 3, 'muted']]) {
    assert.equal(g.ackTone(percent, sent), tone, `${percent} of ${sent}`);
  }
  for (const [p, text] of [[100, '100 %'], [0, '0 %'], [92.31, '92.3 %'], [99.96, '100 %'], [0.04, '0 %'], [null, '–']]) {
    assert.equal(g.percentText(p), text);
  }
});

test('sizes and durations', () => {
  for (const [n, text] of [[0, '0 bytes'], [1023, '1023 bytes'], [1536, '1.5 KiB'], [5841, '5.7 KiB'],
    [25_769_803_776, '24 GiB'], [null, '–']]) {
    assert.equal(g.bytesText(n), text);
  }
  for (const [s, text] of [[45, '45 s'], [420, '7 min'], [18_720, '5 h 12 min'], [273_600, '3 d 4 h'], [-1, '–']]) {
    assert.equal(g.durationText(s), text);
  }
  assert.equal(g.agoText('2026-12-09T01:00:00Z', Date.parse('2026-12-09T01:05:00Z')), '5 min ago');
  assert.equal(g.agoText('2026-12-09T01:00:00Z', Date.parse('2026-12-09T01:00:02Z')), 'just now');
});

test('a phrase is found as a whole, in any case unless it has capitals, and marked where it is', () => {
  const ackFull = { message: '# PUSH_DATA acknowledged: 100.00%' };
  const ackNone = { message: '# PUSH_DATA acknowledged: 0.00%' };
  const txErrors = { message: '# TX errors: 0' };
  const error = { message: 'ERROR: [up] send failed' };
  for (const [phrase, entry, match] of [
    ['', txErrors, true],
    ['acknowledged: 0.00', ackNone, true],
    ['acknowledged: 0.00', ackFull, false],
    ['100.00% acknowledged', ackFull, false],
    ['error', txErrors, true],
    ['error', error, true],
    ['ERROR', txErrors, false],
    ['ERROR', error, true],
    ['Error', error, false],
    ['push_data', ackFull, true],
    ['PUSH_DATA ack', ackFull, true],
    ['café', { message: 'CAFÉ' }, false],
  ]) {
    assert.equal(g.matchesFilter(entry, phrase), match, `${phrase} in ${entry.message}`);
  }
  // Every place, none overlapping; positions in the text as it is.
  assert.deepEqual(g.phraseSpans('ACK ack Ack', 'ack'), [[0, 3], [4, 7], [8, 11]]);
  assert.deepEqual(g.phraseSpans('ACK ack Ack', 'Ack'), [[8, 11]]);
  assert.deepEqual(g.phraseSpans('aaaa', 'aa'), [[0, 2], [2, 4]]);
  assert.deepEqual(g.phraseSpans('x', ''), []);
  assert.equal(g.entryText({ time: '2026-12-09T01:02:03.456Z', priority: 3, message: 'x' }), '2026-12-09T01:02:03.456Z err     x');
  assert.equal(g.priorityTone(3), 'bad');
  assert.equal(g.priorityTone(4), 'warn');
  assert.equal(g.priorityTone(null), 'info');
});

test('older lines are asked for up to the oldest time shown, with room for that millisecond', () => {
  const asked = { unit: 'forwarder', lines: 200, since: '2026-12-09T00:00:00.000Z', match: 'ack' };
  const at = (time, cursor) => ({ time, cursor, message: 'ack' });
  const entries = [at('2026-12-09T01:00:00.001Z', 'a'), at('2026-12-09T01:00:00.001Z', 'b'), at('2026-12-09T01:00:00.002Z', 'c')];
  assert.deepEqual(g.olderQuery(asked, entries), { ...asked, until: '2026-12-09T01:00:00.001Z', lines: 202 });
  assert.equal(g.olderQuery({ ...asked, lines: 2000 }, entries).lines, 2000);
  // The question itself is left as it was.
  assert.equal(asked.until, undefined);
});

test('a time goes into a datetime-local field in the browser\'s zone and comes back', () => {
  const iso = '2026-12-09T21:05:07Z';
  const value = g.localInputValue(iso);
  assert.match(value, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d$/);
  assert.equal(g.isoFromLocalInput(value), iso);
  // The field holds whole seconds.
  assert.equal(g.localInputValue('2026-12-09T21:05:07.999Z'), value);
  assert.equal(g.localInputValue(null), '');
  assert.equal(g.localInputValue('yesterday'), '');
  assert.equal(g.isoFromLocalInput(''), null);
});

test('the chart places reports across the hour and scales to the busiest', () => {
  const end = Date.parse('2026-12-09T02:00:00Z');
  const series = [
    { time: '2026-12-09T00:59:00Z', rfReceived: 99, pushDataSent: 1, pushDataAckPercent: 100, pullDataAckPercent: 100 },
    { time: '2026-12-09T01:00:00Z', rfReceived: 10, pushDataSent: 11, pushDataAckPercent: 100, pullDataAckPercent: 100 },
    { time: '2026-12-09T01:30:00Z', rfReceived: 5, pushDataSent: 0, pushDataAckPercent: 0, pullDataAckPercent: 50 },
    { time: '2026-12-09T02:00:00Z', rfReceived: 0, pushDataSent: 1, pushDataAckPercent: 0, pullDataAckPercent: null },
  ];
  const { points, maxReceived } = g.chartPoints(series, end, { width: 600, height: 100 });
  // The report before the hour is left out, also from the scale.
  assert.equal(maxReceived, 10);
  assert.deepEqual(points.map((p) => p.x), [0, 300, 600]);
  assert.deepEqual(points.map((p) => p.received), [0, 50, 100]);
  // Nothing sent draws no acknowledgement.
  assert.deepEqual(points.map((p) => p.push), [0, null, 100]);
  assert.deepEqual(points.map((p) => p.pull), [0, 50, null]);
});
