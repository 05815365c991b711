// What a change does, in the operator's words: "Channel 0: 868.1 → 868.9 MHz", "Network server:
// localhost → eu1.example.net". Each row keeps the raw changes it stands for (member paths and
// JSON values) for a details row.

import { detectLayout } from '/ui/config/forwarder.js';
import { diffDocuments, formatPath } from '/ui/config/patch.js';
import { CHANNEL_KEY, RADIO_KEY } from '/ui/config/rules.js';
import { hzToKhz, hzToMhz } from '/ui/config/validate.js';
import { deepEqual, isObject } from '/ui/lib/json.js';

const onOff = (v) => (v === true ? 'on' : v === false ? 'off' : undefined);
const plain = (v) => (v === undefined ? undefined : typeof v === 'string' ? v : JSON.stringify(v));
const withUnit = (unit) => (v) => (typeof v === 'number' ? `${v} ${unit}` : plain(v));
const mhz = (v) => (Number.isFinite(v) ? `${hzToMhz(v)} MHz` : plain(v));
const khz = (v) => (Number.isFinite(v) ? `${hzToKhz(v)} kHz` : plain(v));

// Members of gateway_conf (and of each servers[] entry) with the words for them.
const GATEWAY = {
  gateway_ID: ['Gateway ID', plain],
  server_address: ['Network server', plain],
  serv_port_up: ['Uplink port', plain],
  serv_port_down: ['Downlink port', plain],
  keepalive_interval: ['Keep-alive interval', withUnit('s')],
  stat_interval: ['Statistics interval', withUnit('s')],
  push_timeout_ms: ['Push timeout', withUnit('ms')],
  forward_crc_valid: ['Forward packets with a valid CRC', onOff],
  forward_crc_error: ['Forward packets with a CRC error', onOff],
  forward_crc_disabled: ['Forward packets without a CRC', onOff],
  serv_enabled: ['Enabled', onOff],
};
// A transmitting radio's limits, which a frequency plan sets to where its downlink channels are.
const TX_LIMITS = { tx_freq_min: 'transmits from', tx_freq_max: 'transmits up to' };
const CHANNEL_MEMBERS = {
  bandwidth: ['bandwidth', khz],
  spread_factor: ['spreading factor', (v) => (typeof v === 'number' ? `SF${v}` : plain(v))],
  datarate: ['data rate', withUnit('bit/s')],
};

export function channelName(key) {
  const m = /^chan_multiSF_(\d+)$/.exec(key);
  if (m) return `Channel ${m[1]}`;
  return key === 'chan_Lora_std' ? 'LoRa standard channel' : key === 'chan_FSK' ? 'FSK channel' : key;
}

// A channel's frequency in a document: "868.1 MHz", "off", or undefined when it has none.
function channelState(doc, sectionKey, key) {
  const section = isObject(doc) ? doc[sectionKey] : undefined;
  const ch = isObject(section) ? section[key] : undefined;
  if (!isObject(ch)) return undefined;
  if (ch.enable === false) return 'off';
  const radio = section[`radio_${ch.radio}`];
  const hz = isObject(radio) && Number.isFinite(radio.freq) && Number.isFinite(ch.if) ? radio.freq + ch.if : null;
  return hz === null ? 'on' : mhz(hz);
}

const shown = (v) => (v === undefined ? '(not set)' : plain(v));

// [{ label, from, to, raw: [{ path, before, after }] }]: rows in the order of the raw changes.
export function describeChanges(before, after) {
  const raw = rawChanges(before, after, []);
  const layout = detectLayout(after) ?? detectLayout(before);
  const rows = [];
  const channels = new Map();

  for (const c of raw) {
    const [top, key, member, ...rest] = c.path;
    if (layout && top === layout.key && CHANNEL_KEY.test(key ?? '') && ['if', 'radio', 'enable'].includes(member) && !rest.length) {
      if (!channels.has(key)) {
        const row = { label: channelName(key), from: channelState(before, top, key), to: channelState(after, top, key), raw: [] };
        channels.set(key, row);
        rows.push(row);
      }
      channels.get(key).raw.push(c);
      continue;
    }
    rows.push({ ...words(c, layout), raw: [c] });
  }
  // A radio that moves takes its channels along: they are listed too.
  if (layout) {
    for (const c of raw) {
      const [top, key, member] = c.path;
      if (top !== layout.key || !RADIO_KEY.test(key ?? '') || member !== 'freq') continue;
      const section = isObject(after?.[top]) ? after[top] : {};
      for (const ch of Object.keys(section).filter((k) => CHANNEL_KEY.test(k) && !channels.has(k))) {
        if (`radio_${section[ch]?.radio}` !== key) continue;
        const from = channelState(before, top, ch);
        const to = channelState(after, top, ch);
        if (from !== to) {
          const row = { label: channelName(ch), from, to, raw: [] };
          channels.set(ch, row);
          rows.push(row);
        }
      }
    }
  }
  for (const row of rows) {
    if (row.from === undefined) row.from = '(not set)';
    if (row.to === undefined) row.to = row.raw.some((c) => c.removed) ? '(removed)' : '(not set)';
  }
  return rows;
}

// The members that change, arrays item by item ("Server 1: network server" rather than the whole
// list of servers, which a patch sends whole all the same).
function rawChanges(before, after, at) {
  const { changes, removed } = diffDocuments(before, after);
  const out = [];
  const gone = (path, was) => ({ path, before: was, after: undefined, removed: true });
  for (const c of changes) {
    const path = [...at, ...c.path];
    if (!Array.isArray(c.before) || !Array.isArray(c.after)) {
      out.push({ ...c, path });
      continue;
    }
    c.after.forEach((item, i) => {
      const was = c.before[i];
      if (isObject(was) && isObject(item)) out.push(...rawChanges(was, item, [...path, i]));
      else if (!deepEqual(was, item)) out.push({ path: [...path, i], before: was, after: item });
    });
    c.before.slice(c.after.length).forEach((was, i) => out.push(gone([...path, c.after.length + i], was)));
  }
  return [...out, ...removed.map((path) => gone([...at, ...path], valueAt(before, path)))];
}

function valueAt(doc, path) {
  return path.reduce((node, key) => (isObject(node) || Array.isArray(node) ? node[key] : undefined), doc);
}

// The words for one raw change that is not a channel's frequency.
function words(c, layout) {
  const path = c.path;
  const [top, key, member] = path;
  const format = (f) => ({ from: f(c.before), to: c.removed ? '(removed)' : f(c.after) });
  if (top === 'gateway_conf' && path.length === 2 && GATEWAY[key]) {
    const [label, f] = GATEWAY[key];
    return { label, ...format(f) };
  }
  if (top === 'gateway_conf' && key === 'servers' && path.length === 4 && GATEWAY[path[3]]) {
    const [label, f] = GATEWAY[path[3]];
    return { label: `Server ${Number(path[2]) + 1}: ${label.toLowerCase()}`, ...format(f) };
  }
  if (layout && top === layout.key && path.length === 3) {
    const radio = RADIO_KEY.exec(key ?? '');
    if (radio && member === 'freq') return { label: `Radio ${radio[1]} centre frequency`, ...format(mhz) };
    if (radio && member === 'enable') return { label: `Radio ${radio[1]}`, ...format(onOff) };
    if (radio && TX_LIMITS[member]) return { label: `Radio ${radio[1]} ${TX_LIMITS[member]}`, ...format(mhz) };
    if (CHANNEL_KEY.test(key ?? '') && CHANNEL_MEMBERS[member]) {
      const [what, f] = CHANNEL_MEMBERS[member];
      return { label: `${channelName(key)}: ${what}`, ...format(f) };
    }
  }
  return { label: formatPath(path), from: shown(c.before), to: c.removed ? '(removed)' : shown(c.after) };
}
