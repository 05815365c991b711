// A forwarder file as frequencies: radio windows by concentrator, channels where the forwarder
// puts them, what a change moves, the axis of the picture, and the plans' choices.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { loadUi, samples } from './support.mjs';

const {
  bandText, frequencies, frequencyRows, mergePatch, pictureSpan, planOfFile, regionsOf, rowCells,
} = await loadUi('config/plan.js');
const { channelBandwidthHz } = await loadUi('config/rules.js');
const { OUT_OF_BAND } = await loadUi('config/change.js');
const { ERRORS } = await loadUi('lib/contract.js');

const US = samples['sx1301-us902-semtech-lora_pkt_fwd-v4.0.1-basic'];
const SX1302_EU = samples['sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0'];
const clone = (v) => JSON.parse(JSON.stringify(v));

test('radios receive their centre ± the concentrator limit; channels sit at centre + offset, as wide as they are', () => {
  const us = frequencies(US);
  assert.equal(us.section, 'SX1301_conf');
  assert.deepEqual(us.radios.map((r) => [r.key, r.low, r.centre, r.high]), [
    ['radio_0', 902_237_500, 902_700_000, 903_162_500],
    ['radio_1', 902_937_500, 903_400_000, 903_862_500],
  ]);
  // The FSK channel is off: only the enabled ones are there, in the forwarder's order.
  assert.deepEqual(us.channels.map((c) => [c.name, c.radio, c.frequency, c.bandwidth]), [
    ['Channel 0', 0, 902_300_000, 125_000], ['Channel 1', 0, 902_500_000, 125_000], ['Channel 2', 0, 902_700_000, 125_000],
    ['Channel 3', 0, 902_900_000, 125_000], ['Channel 4', 1, 903_100_000, 125_000], ['Channel 5', 1, 903_300_000, 125_000],
    ['Channel 6', 1, 903_500_000, 125_000], ['Channel 7', 1, 903_700_000, 125_000],
    ['LoRa standard channel', 0, 903_000_000, 500_000],
  ]);
  // The SX1302/SX1303 receives ±800 kHz around each centre.
  const eu = frequencies(SX1302_EU);
  assert.deepEqual(eu.radios.map((r) => r.high - r.low), [1_600_000, 1_600_000]);

  // A channel on a radio that is off, or with no offset, is not received: it is not drawn.
  const doc = clone(US);
  doc.SX1301_conf.radio_1.enable = false;
  doc.SX1301_conf.chan_multiSF_0.if = 'x';
  const some = frequencies(doc);
  assert.deepEqual(some.radios.map((r) => r.key), ['radio_0']);
  assert.deepEqual(some.channels.map((c) => c.key), ['chan_multiSF_1', 'chan_multiSF_2', 'chan_multiSF_3', 'chan_Lora_std']);
  assert.equal(frequencies({ gateway_conf: {} }), null);
});

test('a channel\'s bandwidth as the concentrator takes it', () => {
  assert.equal(channelBandwidthHz('chan_multiSF_3', { bandwidth: 'anything' }), 125_000);
  assert.equal(channelBandwidthHz('chan_Lora_std', { bandwidth: 250_000 }), 250_000);
  assert.equal(channelBandwidthHz('chan_Lora_std', {}), null);
  // FSK: the demodulator's first step that holds twice the deviation plus the data rate.
  assert.equal(channelBandwidthHz('chan_FSK', { freq_deviation: 25_000, datarate: 50_000 }), 125_000);
  assert.equal(channelBandwidthHz('chan_FSK', { bandwidth: 0, freq_deviation: 10_000, datarate: 10_000 }), 31_200);
  assert.equal(channelBandwidthHz('chan_FSK', { bandwidth: 600_000 }), null);
});

test('a change: the rows that move, from → to, and those that stay', () => {
  const before = frequencies(US);
  const doc = clone(US);
  doc.SX1301_conf.radio_0.freq = 904_300_000;
  doc.SX1301_conf.chan_multiSF_7.enable = false;
  const rows = frequencyRows(frequencies(doc), before);
  const byName = Object.fromEntries(rows.map((r) => [r.name, r]));
  assert.deepEqual(rows.filter((r) => r.moved).map((r) => r.name), [
    'Radio 0', 'Channel 0', 'Channel 1', 'Channel 2', 'Channel 3', 'Channel 7', 'LoRa standard channel',
  ]);
  assert.deepEqual(rowCells(byName['Radio 0']), {
    radio: '–', frequency: '902.7 (receives 902.2375–903.1625) → 904.3 (receives 903.8375–904.7625)', bandwidth: '925',
  });
  assert.deepEqual(rowCells(byName['Channel 0']), { radio: '0', frequency: '902.3 → 903.9', bandwidth: '125' });
  assert.deepEqual(rowCells(byName['Channel 7']), { radio: '1 → off', frequency: '903.7 → off', bandwidth: '125 → off' });
  assert.deepEqual(rowCells(byName['Channel 5']), { radio: '1', frequency: '903.3', bandwidth: '125' });
  // Without a change nothing moves.
  assert.ok(frequencyRows(before).every((r) => !r.moved));
});

test('the axis holds every window and channel, and the band edges near them, in at most six round MHz ticks', () => {
  const us = frequencies(US);
  const eu = frequencies(SX1302_EU);
  const band = { name: 'US915', min: 902_000_000, max: 928_000_000 };
  // [sides, band, the edges in the picture]: 928 MHz is far from sub-band 1, not from 868 MHz.
  for (const [sides, b, edges] of [[[us], null, []], [[us], band, [902_000_000]], [[us, eu], band, [902_000_000, 928_000_000]]]) {
    const span = pictureSpan(sides, b);
    assert.ok(span.min < 902_237_500 && span.max > 903_862_500, JSON.stringify(span));
    assert.deepEqual(span.edges, edges);
    assert.ok(edges.every((e) => e > span.min && e < span.max));
    assert.ok(span.ticks.length >= 2 && span.ticks.length <= 6, `${span.ticks}`);
    assert.ok(span.ticks.every((t) => t >= span.min && t <= span.max && t % 100_000 === 0), `${span.ticks}`);
  }
  assert.equal(pictureSpan([{ radios: [], channels: [] }], null), null);
  assert.equal(bandText(band), '902–928 MHz');
});

test('the plans: the file\'s own or its nearest, the regions with their sub-bands, a patch merged as the gateway does', () => {
  const plan = (region, subBand) => ({ region, subBand, name: subBand ? `${region} sub-band ${subBand}` : region });
  const plans = [plan('EU868', null), plan('US915', 1), plan('US915', 2), plan('KR920', null)];
  assert.deepEqual(regionsOf(plans), [
    { region: 'EU868', subBands: [] }, { region: 'US915', subBands: [1, 2] }, { region: 'KR920', subBands: [] },
  ]);
  const current = { name: 'US915 sub-band 2', exact: true, nearest: 'US915 sub-band 2' };
  assert.equal(planOfFile({ plans, current }).name, 'US915 sub-band 2');
  assert.equal(planOfFile({ plans, current: { name: 'custom', exact: false, nearest: 'EU868' } }).name, 'EU868');
  assert.equal(planOfFile({ plans, current: null }), null);

  const doc = { a: { b: 1, c: [1, 2], d: { e: 1 } }, f: 'x' };
  assert.deepEqual(mergePatch(doc, { a: { c: [3], d: { g: null } }, h: true }),
    { a: { b: 1, c: [3], d: { e: 1, g: null } }, f: 'x', h: true });
  assert.deepEqual(doc.a.c, [1, 2]);
});

test('the refusal of a change outside the band is known by the server\'s own code', () => {
  assert.ok(Number.isInteger(OUT_OF_BAND), 'the catalogue names it "Outside the band"');
  assert.equal(ERRORS[OUT_OF_BAND], 'Outside the band');
});
