// The rules a forwarder configuration must pass before it is sent, the same table the gateway
// checks again before it writes anything (src/gateway/config_rules.cpp and config_rule_table.hpp):
// the same paths, the same messages, in the same order, tested against the same cases
// (tests/data/config-rules.json). Members the rules do not name are never a problem: they are the
// forwarder's own.

import { isObject } from '/ui/lib/json.js';

// What a radio can tune, whatever the concentrator.
export const RADIO_TYPES = [
  { type: 'SX1255', minMhz: 400, maxMhz: 510 },
  { type: 'SX1257', minMhz: 862, maxMhz: 1020 },
  { type: 'SX1250', minMhz: 150, maxMhz: 960 },
];
// radioTypes: what the forwarder takes, in the order its message names them. minRadioMhz and
// maxRadioMhz: the centre frequencies the HAL takes whatever the radio (0 to 0: no limit of its
// own). halfBands: the half of the radio's receive band a channel of up to maxBandwidthHz must fit
// in, its offset plus half its bandwidth. needsBothRadios: the forwarder exits when radio_0 or
// radio_1 is disabled. typeRequired: the forwarder crashes on an enabled radio without a type
// (the files of basic_pkt_fwd, which predates radio types, have none: a type there costs nothing).
export const CONCENTRATORS = [
  {
    section: 'SX1301_conf', chip: 'SX1301', radioTypes: ['SX1255', 'SX1257'], minRadioMhz: 0, maxRadioMhz: 0,
    halfBands: [{ maxBandwidthHz: 125_000, halfBandHz: 462_500 }, { maxBandwidthHz: 250_000, halfBandHz: 500_000 },
      { maxBandwidthHz: 500_000, halfBandHz: 550_000 }],
    needsBothRadios: true, typeRequired: true,
  },
  {
    section: 'SX130x_conf', chip: 'SX1302/SX1303', radioTypes: ['SX1250', 'SX1255', 'SX1257'], minRadioMhz: 100,
    maxRadioMhz: 1000, halfBands: [{ maxBandwidthHz: 500_000, halfBandHz: 800_000 }],
    needsBothRadios: false, typeRequired: true,
  },
];
// The bandwidths the concentrator's FSK demodulator has: a channel takes the first that holds it.
const FSK_STEPS = [7_800, 15_600, 31_200, 62_500, 125_000, 250_000, 500_000];
const LORA_STD_BANDWIDTHS = [125_000, 250_000, 500_000];
const MULTI_SF_BANDWIDTH = 125_000;

const SECTIONS = ['gateway_conf', 'SX1301_conf', 'SX130x_conf'];
const PORTS = ['serv_port_up', 'serv_port_down'];
// What the forwarder copies the server's address into holds 63 bytes and the terminating zero.
const MAX_ADDRESS_BYTES = 63;
const GATEWAY_BOOLEANS = ['forward_crc_valid', 'forward_crc_error', 'forward_crc_disabled', 'fake_gps', 'gps', 'beacon',
  'logger', 'upstream', 'downstream', 'ghoststream', 'radiostream', 'statusstream'];
const SERVER_BOOLEANS = ['serv_enabled'];
const CONCENTRATOR_BOOLEANS = ['lorawan_public', 'full_duplex', 'fine_timestamp.enable', 'sx1261_conf.spectral_scan.enable',
  'sx1261_conf.lbt.enable', 'lbt_cfg.enable'];
const RADIO_BOOLEANS = ['enable', 'tx_enable'];
const CHANNEL_BOOLEANS = ['enable', 'implicit_hdr', 'implicit_crc_en'];

const MUST = {
  object: 'must be an object',
  forwarderConfig: 'must have gateway_conf and SX1301_conf or SX130x_conf: without them it is no forwarder configuration',
  gatewayId: 'must be 16 hexadecimal digits',
  address: 'must be a host name or IP address, not empty',
  shortAddress: 'must be at most 63 bytes long: the forwarder cuts it to 63',
  port: 'must be a whole number from 1 to 65535',
  boolean: 'must be true or false',
  keepalive: 'must be a whole number of seconds from 1 up: at 0 the forwarder sends the network server some 200,000 PULL_DATA a second',
  statInterval: 'must be a whole number of seconds from 1 up: at 0, or as text, the forwarder floods the journal with some 200,000 statistics reports a second',
  beaconPeriod: 'must be 0 (no beacon) or a whole number of seconds from 6 up',
  number: 'must be a number',
  frequency: 'must be a frequency in Hz',
  offset: 'must be an offset in Hz',
  radioNumber: 'must be the number of a radio',
  typeText: "must be the radio's type as a text: the forwarder crashes (SIGSEGV) on an enabled radio without one",
  radioZeroOrOne: 'must be 0 or 1: there are only radio_0 and radio_1',
};
const LORA_STD_REFUSED = 'invalid configuration for Lora standard channel';
const FSK_REFUSED = 'invalid configuration for FSK channel';

// Members the forwarder reads as numbers, and what is said when one is not. Those with a rule of
// their own (ports, intervals, beacon_period) are not listed: the rule says it.
const GATEWAY_NUMBERS = ['push_timeout_ms', 'autoquit_threshold', 'beacon_freq_hz', 'beacon_freq_nb', 'beacon_freq_step',
  'beacon_datarate', 'beacon_bw_hz', 'beacon_power', 'beacon_infodesc', 'ref_latitude', 'ref_longitude', 'ref_altitude']
  .map((name) => [name, MUST.number]);
const CONCENTRATOR_NUMBERS = ['clksrc', 'antenna_gain'].map((name) => [name, MUST.number]);
const RADIO_NUMBERS = [['freq', MUST.frequency],
  ...['rssi_offset', 'tx_freq_min', 'tx_freq_max', 'tx_notch_freq'].map((name) => [name, MUST.number])];
const CHANNEL_NUMBERS = [['radio', MUST.radioNumber], ['if', MUST.offset],
  ...['bandwidth', 'spread_factor', 'datarate', 'freq_deviation'].map((name) => [name, MUST.number])];
// A TX gain entry: tx_lut_N in the SX1301's section, radio_N.tx_gain_lut[i] in the SX1302's.
const GAIN_NUMBERS = ['pa_gain', 'mix_gain', 'rf_power', 'dig_gain', 'dac_gain', 'pwr_idx'].map((name) => [name, MUST.number]);

// The only radios there are; radio_2 and up are not read.
const RADIOS = ['radio_0', 'radio_1'];
export const RADIO_KEY = /^radio_(\d+)$/;
export const CHANNEL_KEY = /^(chan_multiSF_\d+|chan_Lora_std|chan_FSK)$/;
const GAIN_KEY = /^tx_lut_\d+$/;
const MULTI_SF_KEY = /^chan_multiSF_(\d+)$/;

const has = (o, k) => isObject(o) && Object.hasOwn(o, k);
const isNumber = (v) => typeof v === 'number' && Number.isFinite(v);
const isWholeNumber = (v) => isNumber(v) && Number.isInteger(v);
const khzText = (hz) => String(hz / 1000);
const typesText = (c) => {
  const quoted = c.radioTypes.map((t) => `"${t}"`);
  return quoted.length > 1 ? `${quoted.slice(0, -1).join(', ')} or ${quoted.at(-1)}` : quoted.join('');
};

// What an enabled radio can tune on a concentrator: its type's own range cut to what the
// concentrator's HAL takes; null for a radio whose type the concentrator does not take.
const tuning = (radio, c) => {
  if (typeof radio.type !== 'string' || !c.radioTypes.includes(radio.type)) return null;
  const t = RADIO_TYPES.find((r) => r.type === radio.type);
  if (!t) return null;
  let { minMhz, maxMhz } = t;
  if (c.maxRadioMhz !== 0) {
    minMhz = Math.max(minMhz, c.minRadioMhz);
    maxMhz = Math.min(maxMhz, c.maxRadioMhz);
  }
  return {
    type: t.type,
    holds: (hz) => hz >= minMhz * 1e6 && hz <= maxMhz * 1e6,
    rangeText: `${minMhz} to ${maxMhz} MHz`,
    onChip: minMhz !== t.minMhz || maxMhz !== t.maxMhz ? ` on an ${c.chip} concentrator` : '',
  };
};

const halfBand = (c, bandwidth) => c.halfBands.find((b) => bandwidth <= b.maxBandwidthHz)?.halfBandHz ?? 0;

// The bandwidth a channel takes on the concentrator, in Hz, as the checks below reckon it; null
// when the forwarder would refuse it or its members are no numbers.
export function channelBandwidthHz(key, ch) {
  const num = (m) => (has(ch, m) ? ch[m] : 0);
  const numbers = (...members) => members.every((m) => !has(ch, m) || isNumber(ch[m]));
  if (key === 'chan_Lora_std') return numbers('bandwidth') && LORA_STD_BANDWIDTHS.includes(num('bandwidth')) ? num('bandwidth') : null;
  if (key !== 'chan_FSK') return MULTI_SF_BANDWIDTH;
  if (!numbers('bandwidth', 'freq_deviation', 'datarate')) return null;
  const hz = num('bandwidth') !== 0 ? num('bandwidth') : 2 * num('freq_deviation') + num('datarate');
  return (hz >= 0 ? FSK_STEPS.find((s) => hz <= s) : undefined) ?? null;
}

// The receive window of a radio: how far from its centre a 125 kHz channel may reach.
export const receiveHalfWidthHz = (section) => {
  const c = CONCENTRATORS.find((x) => x.section === section);
  return c ? halfBand(c, MULTI_SF_BANDWIDTH) : 0;
};

// Every problem of the document, as [{ path, message }]; [] when it passes.
export function checkConfig(doc) {
  const problems = [];
  const add = (path, message) => problems.push({ path, message });

  const booleans = (object, path, names) => {
    for (const name of names) {
      let node = object;
      const parts = name.split('.');
      let value;
      for (let i = 0; i < parts.length; i++) {
        if (!has(node, parts[i])) break;
        if (i === parts.length - 1) value = { v: node[parts[i]] };
        else node = node[parts[i]];
      }
      if (value && typeof value.v !== 'boolean') add(`${path}.${name}`, MUST.boolean);
    }
  };

  const numbers = (object, path, members) => {
    for (const [name, message] of members) {
      if (has(object, name) && !isNumber(object[name])) add(`${path}.${name}`, message);
    }
  };

  // A member that must be a whole number of at least min, where present.
  const wholeFrom = (object, path, name, min, message) => {
    if (has(object, name) && !(isWholeNumber(object[name]) && object[name] >= min)) add(`${path}.${name}`, message);
  };

  const server = (object, path) => {
    if (has(object, 'server_address')) {
      const address = object.server_address;
      if (typeof address !== 'string' || address === '') add(`${path}.server_address`, MUST.address);
      else if (new TextEncoder().encode(address).length > MAX_ADDRESS_BYTES) add(`${path}.server_address`, MUST.shortAddress);
    }
    for (const port of PORTS) {
      if (!has(object, port)) continue;
      const v = object[port];
      if (!isWholeNumber(v) || v < 1 || v > 65535) add(`${path}.${port}`, MUST.port);
    }
  };

  const gateway = (gw) => {
    const path = 'gateway_conf';
    if (has(gw, 'gateway_ID') && !(typeof gw.gateway_ID === 'string' && /^[0-9A-Fa-f]{16}$/.test(gw.gateway_ID))) {
      add(`${path}.gateway_ID`, MUST.gatewayId);
    }
    server(gw, path);
    booleans(gw, path, GATEWAY_BOOLEANS);
    numbers(gw, path, GATEWAY_NUMBERS);
    wholeFrom(gw, path, 'keepalive_interval', 1, MUST.keepalive);
    wholeFrom(gw, path, 'stat_interval', 1, MUST.statInterval);
    if (has(gw, 'beacon_period') && gw.beacon_period !== 0) wholeFrom(gw, path, 'beacon_period', 6, MUST.beaconPeriod);
    if (!Array.isArray(gw.servers)) return;
    gw.servers.forEach((entry, i) => {
      const entryPath = `${path}.servers[${i}]`;
      if (!isObject(entry)) return add(entryPath, MUST.object);
      server(entry, entryPath);
      booleans(entry, entryPath, SERVER_BOOLEANS);
    });
  };

  const radio = (r, path, c) => {
    booleans(r, path, RADIO_BOOLEANS);
    numbers(r, path, RADIO_NUMBERS);
    if (Array.isArray(r.tx_gain_lut)) {
      r.tx_gain_lut.forEach((entry, i) => {
        if (isObject(entry)) numbers(entry, `${path}.tx_gain_lut[${i}]`, GAIN_NUMBERS);
      });
    }
    if (c.needsBothRadios && r.enable === false) {
      add(`${path}.enable`, `must be true: the ${c.chip} needs both radios (the forwarder: "invalid configuration for radio ${path.slice(path.lastIndexOf('_') + 1)}")`);
    }
    if (r.enable !== true) return;
    if ((!has(r, 'type') && c.typeRequired) || (has(r, 'type') && typeof r.type !== 'string')) {
      add(`${path}.type`, MUST.typeText);
    } else if (has(r, 'type') && !tuning(r, c)) {
      add(`${path}.type`, `must be ${typesText(c)} on an ${c.chip} concentrator (the forwarder: "invalid radio type")`);
    }
    const range = tuning(r, c);
    if (!has(r, 'freq') || !isNumber(r.freq) || !range || range.holds(r.freq)) return;
    add(`${path}.freq`, `must be from ${range.rangeText} for an ${range.type} radio${range.onChip}`);
  };

  // The channel's bandwidth as the concentrator takes it; null when it cannot be known, or is
  // refused (which is then said).
  const bandwidth = (ch, path, key) => {
    if (key === 'chan_Lora_std') {
      if (has(ch, 'bandwidth') && !isNumber(ch.bandwidth)) return null;
      const hz = has(ch, 'bandwidth') ? ch.bandwidth : 0;
      if (LORA_STD_BANDWIDTHS.includes(hz)) return hz;
      add(`${path}.bandwidth`, `must be 125000, 250000 or 500000 (the forwarder: "${LORA_STD_REFUSED}")`);
      return null;
    }
    if (key === 'chan_FSK') {
      const members = ['bandwidth', 'freq_deviation', 'datarate'];
      if (members.some((m) => has(ch, m) && !isNumber(ch[m]))) return null;
      const [given, deviation, datarate] = members.map((m) => (has(ch, m) ? ch[m] : 0));
      const hz = given !== 0 ? given : 2 * deviation + datarate;
      const step = hz >= 0 ? FSK_STEPS.find((s) => hz <= s) : undefined;
      if (step !== undefined) return step;
      add(`${path}.bandwidth`, 'must be from 0 to 500000 Hz, and so must twice freq_deviation plus datarate when it is 0 or ' +
        `missing (the forwarder: "${FSK_REFUSED}")`);
      return null;
    }
    return MULTI_SF_BANDWIDTH;
  };

  const channel = (section, ch, key, c) => {
    const path = `${c.section}.${key}`;
    booleans(ch, path, CHANNEL_BOOLEANS);
    numbers(ch, path, CHANNEL_NUMBERS);
    if (ch.enable !== true) return;
    let r = null;
    if (has(ch, 'radio') && isNumber(ch.radio)) {
      const n = ch.radio;
      if (n !== 0 && n !== 1) {
        add(`${path}.radio`, MUST.radioZeroOrOne);
      } else if (has(section, `radio_${n}`) && isObject(section[`radio_${n}`])) {
        r = section[`radio_${n}`];
      } else {
        add(`${path}.radio`, `names radio_${n}, which does not exist`);
      }
    }
    const width = bandwidth(ch, path, key);
    if (width === null || !has(ch, 'if') || !isNumber(ch.if)) return;
    const limit = halfBand(c, width) - width / 2;
    if (Math.abs(ch.if) > limit) {
      const refused = key === 'chan_Lora_std' ? LORA_STD_REFUSED
        : key === 'chan_FSK' ? FSK_REFUSED
          : `invalid configuration for Lora multi-SF channel ${Number(MULTI_SF_KEY.exec(key)[1])}`;
      const k = khzText(limit);
      return add(`${path}.if`, `must be from -${k} to ${k} kHz for a ${khzText(width)} kHz channel on an ${c.chip} ` +
        `concentrator (the forwarder: "${refused}")`);
    }
    if (!r || r.enable !== true) return;
    const range = tuning(r, c);
    if (!range || !isNumber(r.freq) || !range.holds(r.freq)) return;
    if (!range.holds(r.freq + ch.if)) {
      add(`${path}.if`, `puts the channel outside the ${range.rangeText} its ${range.type} radio can tune${range.onChip}`);
    }
  };

  const concentrator = (section, c) => {
    booleans(section, c.section, CONCENTRATOR_BOOLEANS);
    numbers(section, c.section, CONCENTRATOR_NUMBERS);
    for (const [key, value] of Object.entries(section)) {
      if (GAIN_KEY.test(key) && isObject(value)) numbers(value, `${c.section}.${key}`, GAIN_NUMBERS);
    }
    for (const name of RADIOS) {
      if (has(section, name) && isObject(section[name])) radio(section[name], `${c.section}.${name}`, c);
    }
    for (const [key, value] of Object.entries(section)) {
      if (CHANNEL_KEY.test(key) && isObject(value)) channel(section, value, key, c);
    }
  };

  if (!isObject(doc)) return [{ path: '', message: MUST.object }];
  for (const s of SECTIONS) if (has(doc, s) && !isObject(doc[s])) add(s, MUST.object);
  if (!has(doc, 'gateway_conf') || (!has(doc, 'SX1301_conf') && !has(doc, 'SX130x_conf'))) add('', MUST.forwarderConfig);
  if (isObject(doc.gateway_conf)) gateway(doc.gateway_conf);
  for (const c of CONCENTRATORS) if (isObject(doc[c.section])) concentrator(doc[c.section], c);
  return problems;
}

// "gateway_conf.serv_port_up must be a whole number from 1 to 65535", or for the whole document
// "The document must be an object".
export function problemText(p) {
  return `${p.path === '' ? 'The document' : p.path} ${p.message}`;
}
