// The rules a forwarder configuration must pass before it is sent, the same table the gateway
// checks again before it writes anything (src/gateway/config_rules.cpp): the same paths, the
// same messages, tested against the same cases (tests/data/config-rules.json). Members the rules
// do not name are never a problem: they are the forwarder's own.

import { isObject } from '/ui/patch.js';

export const RADIO_TYPES = [
  { type: 'SX1255', minMhz: 400, maxMhz: 510 },
  { type: 'SX1257', minMhz: 862, maxMhz: 1020 },
  { type: 'SX1250', minMhz: 150, maxMhz: 960 },
];
export const CONCENTRATORS = [
  { section: 'SX1301_conf', chip: 'SX1301', maxOffsetHz: 400_000 },
  { section: 'SX130x_conf', chip: 'SX1302/SX1303', maxOffsetHz: 737_500 },
];
const SECTIONS = ['gateway_conf', 'SX1301_conf', 'SX130x_conf'];
const PORTS = ['serv_port_up', 'serv_port_down'];
const GATEWAY_BOOLEANS = ['forward_crc_valid', 'forward_crc_error', 'forward_crc_disabled', 'fake_gps', 'gps', 'beacon',
  'logger', 'upstream', 'downstream', 'ghoststream', 'radiostream', 'statusstream'];
const SERVER_BOOLEANS = ['serv_enabled'];
const CONCENTRATOR_BOOLEANS = ['lorawan_public', 'full_duplex', 'fine_timestamp.enable', 'sx1261_conf.spectral_scan.enable',
  'sx1261_conf.lbt.enable', 'lbt_cfg.enable'];
const RADIO_BOOLEANS = ['enable', 'tx_enable'];
const CHANNEL_BOOLEANS = ['enable', 'implicit_hdr', 'implicit_crc_en'];
const MAX_RADIO_NUMBER = 1000;
export const RADIO_KEY = /^radio_(\d+)$/;
export const CHANNEL_KEY = /^(chan_multiSF_\d+|chan_Lora_std|chan_FSK)$/;

const MUST = {
  object: 'must be an object',
  gatewayId: 'must be 16 hexadecimal digits',
  address: 'must be a host name or IP address, not empty',
  port: 'must be a whole number from 1 to 65535',
  boolean: 'must be true or false',
  frequency: 'must be a frequency in Hz',
  offset: 'must be an offset in Hz',
  radioNumber: 'must be the number of a radio',
};

const has = (o, k) => isObject(o) && Object.hasOwn(o, k);
const isNumber = (v) => typeof v === 'number' && Number.isFinite(v);
const rangeText = (t) => `${t.minMhz} to ${t.maxMhz} MHz`;
const inRange = (hz, t) => hz >= t.minMhz * 1e6 && hz <= t.maxMhz * 1e6;
const radioType = (radio) => RADIO_TYPES.find((t) => t.type === radio.type) ?? null;
const khzText = (hz) => String(hz / 1000);

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

  const server = (object, path) => {
    if (has(object, 'server_address') && (typeof object.server_address !== 'string' || object.server_address === '')) {
      add(`${path}.server_address`, MUST.address);
    }
    for (const port of PORTS) {
      if (!has(object, port)) continue;
      const v = object[port];
      if (!Number.isInteger(v) || v < 1 || v > 65535) add(`${path}.${port}`, MUST.port);
    }
  };

  const gateway = (gw) => {
    const path = 'gateway_conf';
    if (has(gw, 'gateway_ID') && !(typeof gw.gateway_ID === 'string' && /^[0-9A-Fa-f]{16}$/.test(gw.gateway_ID))) {
      add(`${path}.gateway_ID`, MUST.gatewayId);
    }
    server(gw, path);
    booleans(gw, path, GATEWAY_BOOLEANS);
    if (!Array.isArray(gw.servers)) return;
    gw.servers.forEach((entry, i) => {
      const entryPath = `${path}.servers[${i}]`;
      if (!isObject(entry)) return add(entryPath, MUST.object);
      server(entry, entryPath);
      booleans(entry, entryPath, SERVER_BOOLEANS);
    });
  };

  const radio = (r, path) => {
    booleans(r, path, RADIO_BOOLEANS);
    if (r.enable !== true || !has(r, 'freq')) return;
    if (!isNumber(r.freq)) return add(`${path}.freq`, MUST.frequency);
    const type = radioType(r);
    if (type && !inRange(r.freq, type)) add(`${path}.freq`, `must be from ${rangeText(type)} for an ${type.type} radio`);
  };

  const channel = (section, ch, path, c) => {
    booleans(ch, path, CHANNEL_BOOLEANS);
    if (ch.enable !== true) return;
    let r = null;
    if (has(ch, 'radio')) {
      const n = ch.radio;
      if (!Number.isInteger(n) || n < 0 || n > MAX_RADIO_NUMBER) {
        add(`${path}.radio`, MUST.radioNumber);
      } else if (isObject(section[`radio_${n}`])) {
        r = section[`radio_${n}`];
      } else {
        add(`${path}.radio`, `names radio_${n}, which does not exist`);
      }
    }
    if (!has(ch, 'if')) return;
    if (!isNumber(ch.if)) return add(`${path}.if`, MUST.offset);
    if (Math.abs(ch.if) > c.maxOffsetHz) {
      const k = khzText(c.maxOffsetHz);
      return add(`${path}.if`, `must be from -${k} to ${k} kHz on an ${c.chip} concentrator`);
    }
    if (!r || r.enable !== true) return;
    const type = radioType(r);
    if (!type || !isNumber(r.freq) || !inRange(r.freq, type)) return;
    if (!inRange(r.freq + ch.if, type)) {
      add(`${path}.if`, `puts the channel outside the ${rangeText(type)} its ${type.type} radio can tune`);
    }
  };

  if (!isObject(doc)) return [{ path: '', message: MUST.object }];
  for (const s of SECTIONS) if (has(doc, s) && !isObject(doc[s])) add(s, MUST.object);
  if (isObject(doc.gateway_conf)) gateway(doc.gateway_conf);
  for (const c of CONCENTRATORS) {
    const section = doc[c.section];
    if (!isObject(section)) continue;
    booleans(section, c.section, CONCENTRATOR_BOOLEANS);
    for (const [key, value] of Object.entries(section)) {
      if (RADIO_KEY.test(key) && isObject(value)) radio(value, `${c.section}.${key}`);
    }
    for (const [key, value] of Object.entries(section)) {
      if (CHANNEL_KEY.test(key) && isObject(value)) channel(section, value, `${c.section}.${key}`, c);
    }
  }
  return problems;
}

// "gateway_conf.serv_port_up must be a whole number from 1 to 65535", or for the whole document
// "The document must be an object".
export function problemText(p) {
  return `${p.path === '' ? 'The document' : p.path} ${p.message}`;
}
