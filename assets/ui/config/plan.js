// A forwarder file as frequencies: what each enabled radio receives, where each enabled channel
// sits and how wide it is, what a change moves, and the regional plans the gateway offers
// (forwarder-config/plans). widgets/plan-picture.js draws it; Node tests it.

import { detectLayout, numberedMembers } from '/ui/config/forwarder.js';
import { channelName } from '/ui/config/review.js';
import { channelBandwidthHz, receiveHalfWidthHz } from '/ui/config/rules.js';
import { hzToKhz, hzToMhz } from '/ui/config/validate.js';
import { cloneJson, isObject, put } from '/ui/lib/json.js';

const isNumber = (v) => typeof v === 'number' && Number.isFinite(v);

// The channel members of a section in the order the forwarder numbers them.
const channelKeys = (section) => [...numberedMembers(section, 'chan_multiSF_').map((m) => m.key),
  ...['chan_Lora_std', 'chan_FSK'].filter((k) => isObject(section[k]))];

// { section, radios: [{ key, index, centre, low, high }], channels: [{ key, name, radio, frequency,
// bandwidth }] } of the enabled radios and of the enabled channels on an enabled radio, in Hz;
// null for a document without a concentrator section.
export function frequencies(doc) {
  const layout = detectLayout(doc);
  if (!layout) return null;
  const section = doc[layout.key];
  const reach = receiveHalfWidthHz(layout.key);
  const radios = numberedMembers(section, 'radio_')
    .filter(({ key }) => section[key].enable === true && isNumber(section[key].freq))
    .map(({ key, index }) => {
      const centre = section[key].freq;
      return { key, index, centre, low: centre - reach, high: centre + reach };
    });
  const channels = [];
  for (const key of channelKeys(section)) {
    const ch = section[key];
    const radio = radios.find((r) => r.index === ch.radio);
    const bandwidth = channelBandwidthHz(key, ch);
    if (ch.enable !== true || !radio || !isNumber(ch.if) || bandwidth === null) continue;
    channels.push({ key, name: channelName(key), radio: radio.index, frequency: radio.centre + ch.if, bandwidth });
  }
  return { section: layout.key, radios, channels };
}

// The rows of the picture's table: each radio, then each channel, enabled before or after, with
// what it was and what it becomes ({ from, to }; a side where it is off is null, and without
// `before` from is to). Each row says whether the change moves it.
export function frequencyRows(after, before = after) {
  const rows = [];
  const add = (name, key, was, is, fields) => {
    const row = { key, name, from: was ? fields(was) : null, to: is ? fields(is) : null };
    row.moved = JSON.stringify(row.from) !== JSON.stringify(row.to);
    rows.push(row);
  };
  const keys = (list) => [...new Set([...(before?.[list] ?? []), ...(after?.[list] ?? [])].map((x) => x.key))];
  const find = (side, list, key) => side?.[list].find((x) => x.key === key);
  const radios = keys('radios').sort();
  for (const key of radios) {
    const r = find(after, 'radios', key) ?? find(before, 'radios', key);
    add(`Radio ${r.index}`, key, find(before, 'radios', key), find(after, 'radios', key),
      (x) => ({ radio: null, frequency: x.centre, low: x.low, high: x.high, bandwidth: x.high - x.low }));
  }
  const order = (key) => (key.startsWith('chan_multiSF_') ? Number(key.slice(13)) : key === 'chan_Lora_std' ? 1e6 : 1e6 + 1);
  for (const key of keys('channels').sort((a, b) => order(a) - order(b))) {
    add(channelName(key), key, find(before, 'channels', key), find(after, 'channels', key),
      (x) => ({ radio: x.radio, frequency: x.frequency, bandwidth: x.bandwidth }));
  }
  return rows;
}

// A row's cells as text: radio, frequency in MHz (a radio's with the window it receives), and
// bandwidth in kHz; "off" for a side where it is not enabled, "a → b" where the change moves it.
export function rowCells(row) {
  const side = (x) => (x === null ? { radio: 'off', frequency: 'off', bandwidth: 'off' } : {
    radio: x.radio === null ? '–' : String(x.radio),
    frequency: x.low === undefined ? hzToMhz(x.frequency)
      : `${hzToMhz(x.frequency)} (receives ${hzToMhz(x.low)}–${hzToMhz(x.high)})`,
    bandwidth: hzToKhz(x.bandwidth),
  });
  const from = side(row.from);
  const to = side(row.to);
  return Object.fromEntries(['radio', 'frequency', 'bandwidth'].map((k) => [k, from[k] === to[k] ? to[k] : `${from[k]} → ${to[k]}`]));
}

// MHz steps the axis may take: the first that leaves at most six ticks.
const STEPS_MHZ = [0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 50, 100, 200];
const MAX_TICKS = 6;

// What the picture spans: every window and channel shown, a little room either side, and the
// axis ticks in Hz. A band edge far from them all (928 MHz beside US915's 902-905 MHz sub-band 2)
// would leave them a sliver of the width: it is left out of the picture, and `edges` holds the
// ones in it.
export function pictureSpan(sides, band) {
  const ends = [];
  for (const s of sides.filter(Boolean)) {
    for (const r of s.radios) ends.push(r.low, r.high);
    for (const c of s.channels) ends.push(c.frequency - c.bandwidth / 2, c.frequency + c.bandwidth / 2);
  }
  if (!ends.length && !band) return null;
  let min = ends.length ? Math.min(...ends) : band.min;
  let max = ends.length ? Math.max(...ends) : band.max;
  const near = Math.max(max - min, 1_000_000);
  const edges = band ? [band.min, band.max].filter((e) => e >= min - near && e <= max + near) : [];
  min = Math.min(min, ...edges);
  max = Math.max(max, ...edges);
  const room = Math.max((max - min) * 0.03, 100_000);
  min -= room;
  max += room;
  const span = max - min;
  const step = (STEPS_MHZ.find((s) => span / (s * 1e6) <= MAX_TICKS) ?? STEPS_MHZ.at(-1)) * 1e6;
  const ticks = [];
  for (let t = Math.ceil(min / step) * step; t <= max; t += step) ticks.push(Math.round(t));
  return { min, max, ticks, edges };
}

// The plan whose band the picture shows: the one the file implements, or else the nearest.
export function planOfFile(answer) {
  const name = answer?.current?.exact ? answer.current.name : answer?.current?.nearest;
  return answer?.plans?.find((p) => p.name === name) ?? null;
}

// The regions of the plans in their order, each with its sub-bands ([] for a region without).
export function regionsOf(plans) {
  const regions = new Map();
  for (const p of plans ?? []) {
    if (!regions.has(p.region)) regions.set(p.region, []);
    if (p.subBand !== null) regions.get(p.region).push(p.subBand);
  }
  return [...regions].map(([region, subBands]) => ({ region, subBands }));
}

// "863–870 MHz"
export const bandText = (band) => `${hzToMhz(band.min)}–${hzToMhz(band.max)} MHz`;

// The document the gateway's merge of a patch makes: objects merge member by member, anything
// else replaces.
export function mergePatch(doc, patch) {
  if (!isObject(doc) || !isObject(patch)) return cloneJson(patch);
  const out = cloneJson(doc);
  for (const [key, value] of Object.entries(patch)) {
    put(out, key, isObject(value) && isObject(out[key]) ? mergePatch(out[key], value) : cloneJson(value));
  }
  return out;
}
