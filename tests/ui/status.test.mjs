// What the status page makes of the gateway's verdict and reports: local clock times, links to the
// log around a moment, PULL_DATA when none was sent, the chart's time axis.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { loadUi } from './support.mjs';

// A zone half an hour off the hour, so that a time left in UTC or a tick put on the UTC clock shows.
process.env.TZ = 'Asia/Kolkata';
const g = {
  ...(await loadUi('lib/format.js')), ...(await loadUi('lib/gateway.js')), ...(await loadUi('lib/journal.js')),
  ...(await loadUi('widgets/chart.js')),
};

test('the clock times of the gateway\'s sentences become local, within the day before now', () => {
  const now = Date.parse('2026-12-09T21:10:00Z');
  assert.equal(g.localClockText('The forwarder has been restarting since 21:05 — the change at 21:04 may be the cause: restore version 7', now),
    'The forwarder has been restarting since 02:35 — the change at 02:34 may be the cause: restore version 7');
  // 23:50 UTC is yesterday's; 21:30, a report dated a little ahead of the clock, is today's.
  assert.equal(g.localClockText('No report since 23:50', now), 'No report since 05:20');
  assert.equal(g.localClockText('dated 21:30', now), 'dated 03:00');
  // Numbers that are no clock reading stay.
  assert.equal(g.localClockText('PUSH_DATA 100 % (54 restarts), 1:5, 24:00', now), 'PUSH_DATA 100 % (54 restarts), 1:5, 24:00');
});

test('links to the forwarder\'s log around a moment', () => {
  assert.equal(g.logsHref({ since: '2026-12-09T21:04:00Z' }), '/ui/logs?unit=forwarder&since=2026-12-09T21%3A04%3A00Z');
  assert.equal(g.logsHref(), '/ui/logs?unit=forwarder');
  // Two intervals before the report and one after.
  const q = new URL(g.reportLogsHref('2026-12-09T21:05:00Z', 30), 'http://x').searchParams;
  assert.deepEqual([...q], [['unit', 'forwarder'], ['since', '2026-12-09T21:04:00Z'], ['until', '2026-12-09T21:05:30Z']]);
});

test('PULL_DATA sent none is no 0 %, in the facts and on the chart', () => {
  assert.equal(g.pullText({ pullDataSent: 0, pullDataAckPercent: 0 }), 'none sent');
  assert.equal(g.pullText({ pullDataSent: 3, pullDataAckPercent: 0 }), '0 %');
  assert.equal(g.pullText({ pullDataSent: 3, pullDataAckPercent: 66.67 }), '66.7 %');
  const end = Date.parse('2026-12-09T02:00:00Z');
  const { points } = g.chartPoints([
    { time: '2026-12-09T01:30:00Z', rfReceived: 1, pushDataSent: 2, pushDataAckPercent: 100, pullDataSent: 0, pullDataAckPercent: 0 },
    { time: '2026-12-09T02:00:00Z', rfReceived: 1, pushDataSent: 2, pushDataAckPercent: 100, pullDataSent: 1, pullDataAckPercent: 0 },
  ], end, { width: 600, height: 100 });
  assert.deepEqual(points.map((p) => p.pull), [null, 100]);
});

test('the chart\'s axis: every quarter of an hour of the local clock', () => {
  // 20:47:30 UTC is 02:17:30 in Kolkata: the first quarter after it is 02:30, 20:00 UTC.
  const start = Date.parse('2026-12-09T20:47:30Z');
  const ticks = g.chartTicks(start, start + 3_600_000);
  assert.deepEqual(ticks.map(([, label]) => label), ['02:30', '02:45', '03:00', '03:15']);
  assert.equal(ticks[0][0], Date.parse('2026-12-09T21:00:00Z'));
  // A start on a quarter is a tick itself.
  assert.equal(g.chartTicks(Date.parse('2026-12-09T21:00:00Z'), Date.parse('2026-12-09T21:20:00Z')).length, 2);
});
