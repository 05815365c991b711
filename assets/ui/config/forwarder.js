// What the form knows about the packet forwarder's configuration document: which layout a file
// uses, the fields the operator edits, and how the typed values go back into the document.
// Everything the form does not cover stays exactly as the gateway sent it.

import { formatPath } from '/ui/config/patch.js';
import {
  checkChannelOffset,
  checkGatewayId,
  checkInteger,
  checkPort,
  checkRadioFrequency,
  checkServerAddress,
  channelFrequencyHz,
  hzToKhz,
  hzToMhz,
  khzToHz,
  mhzToHz,
} from '/ui/config/validate.js';
import { cloneJson, isObject, put } from '/ui/lib/json.js';

// The two generations of concentrator settings. An IF channel may sit this far from the centre
// of its radio: the SX1301 demodulates ±400 kHz, the SX1302/SX1303 ±737.5 kHz.
export const LAYOUTS = [
  { key: 'SX130x_conf', name: 'SX1302/SX1303 concentrator (SX130x_conf)', maxOffsetHz: 737_500 },
  { key: 'SX1301_conf', name: 'SX1301 concentrator (SX1301_conf)', maxOffsetHz: 400_000 },
];

export function detectLayout(doc) {
  if (!isObject(doc)) return null;
  return LAYOUTS.find((l) => isObject(doc[l.key])) ?? null;
}

// Members named prefix + number ("radio_0", "chan_multiSF_7"), in numeric order.
export function numberedMembers(object, prefix) {
  const re = new RegExp(`^${prefix}(\\d+)$`);
  return Object.keys(object)
    .map((key) => [key, re.exec(key)])
    .filter(([key, m]) => m && isObject(object[key]))
    .map(([key, m]) => ({ key, index: Number(m[1]) }))
    .sort((a, b) => a.index - b.index);
}

const LORA_BANDWIDTHS = [125_000, 250_000, 500_000];
const SPREADING_FACTORS = [7, 8, 9, 10, 11, 12];

// How each kind of field turns typed text into a JSON value.
const READERS = {
  gatewayId: (t) => checkGatewayId(t),
  address: (t) => checkServerAddress(t),
  port: (t) => checkPort(t),
  seconds: (t) => checkInteger(t, { min: 1, max: 86400, unit: 's' }),
  millis: (t) => checkInteger(t, { min: 1, max: 60000, unit: 'ms' }),
  count: (t) => checkInteger(t, { min: 1, max: 2 ** 31 - 1 }),
  bool: (b) => ({ value: b === true }),
  mhz: (t) => checkRadioFrequency(t),
  offset: (t, f) => checkChannelOffset(t, f.maxOffsetHz),
  choice: (t, f) => (f.options.some((o) => o.value === t) ? { value: Number(t) } : { error: 'Choose one of the listed values.' }),
};

function initialText(kind, present, value, fallback = false) {
  if (kind === 'bool') return present ? Boolean(value) : fallback;
  if (!present || value === null) return '';
  if (typeof value === 'number' && kind === 'mhz') return hzToMhz(value);
  if (typeof value === 'number' && kind === 'offset') return hzToKhz(value);
  return typeof value === 'string' ? value : JSON.stringify(value);
}

// A value of the field's member as the form shows it.
export const fieldText = (f, value) => initialText(f.kind, true, value, f.fallback);

function field(object, path, kind, label, extra = {}) {
  const key = path[path.length - 1];
  const present = isObject(object) && Object.hasOwn(object, key);
  const original = present ? object[key] : undefined;
  // Ids name members as the gateway's rules do ("gateway_conf.servers[0].serv_port_up"), so a
  // rule's problem lands on its field.
  const f = { id: formatPath(path), path, kind, label, present, original, ...extra };
  f.initial = initialText(kind, present, original, extra.fallback);
  if (f.options && f.initial !== '' && !f.options.some((o) => o.value === f.initial)) {
    f.options = [...f.options, { value: f.initial, label: `${f.initial} (not in this file)` }];
  }
  return f;
}

const options = (values, label) => values.map((v) => ({ value: String(v), label: label(v) }));

function others(object, covered) {
  if (!isObject(object)) return {};
  const rest = {};
  for (const key of Object.keys(object)) if (!covered.includes(key)) put(rest, key, object[key]);
  return rest;
}

const GATEWAY_FIELDS = [
  ['gateway_ID', 'gatewayId', 'Gateway ID (EUI)', '16 hexadecimal digits; "eui-", colons and dashes are removed'],
  ['server_address', 'address', 'Network server address', 'Host name or IP address'],
  ['serv_port_up', 'port', 'Uplink port'],
  ['serv_port_down', 'port', 'Downlink port'],
  ['keepalive_interval', 'seconds', 'Keep-alive interval (s)'],
  ['stat_interval', 'seconds', 'Statistics interval (s)'],
  ['push_timeout_ms', 'millis', 'Push timeout (ms)'],
  ['forward_crc_valid', 'bool', 'With a valid CRC', null, 'Packets forwarded'],
  ['forward_crc_error', 'bool', 'With a CRC error', null, 'Packets forwarded'],
  ['forward_crc_disabled', 'bool', 'Without a CRC', null, 'Packets forwarded'],
];

function channelGroup(conf, confKey, key, title, layout, radioOptions, more = []) {
  const ch = conf[key];
  const p = (m) => [confKey, key, m];
  const fields = [
    field(ch, p('enable'), 'bool', 'Enabled'),
    field(ch, p('radio'), 'choice', 'Radio', { options: radioOptions }),
    field(ch, p('if'), 'offset', 'Offset (kHz)', { maxOffsetHz: layout.maxOffsetHz }),
    ...more.map(([m, kind, label, extra]) => field(ch, p(m), kind, label, extra)),
  ];
  const covered = ['enable', 'radio', 'if', ...more.map(([m]) => m)];
  return {
    id: key,
    title,
    fields,
    channel: { radio: fields[1].id, offset: fields[2].id },
    others: others(ch, covered),
  };
}

// Multi-server forwarders (mp_pkt_fwd and its kind) read gateway_conf.servers instead of the
// single server_address: they send to each entry that has an address and both ports and is not
// switched off ("serv_enabled": false), the first four such entries; the single server is what
// a file without the list uses.
export const MAX_SERVERS = 4;
const SERVER_FIELDS = [
  ['serv_enabled', 'bool', 'Enabled', { fallback: true }],
  ['server_address', 'address', 'Address'],
  ['serv_port_up', 'port', 'Uplink port'],
  ['serv_port_down', 'port', 'Downlink port'],
];

// For each entry of a servers list: 'used', or why the forwarder leaves it out ('off',
// 'incomplete', 'beyond' the first four).
export function serverUse(servers) {
  let used = 0;
  return (Array.isArray(servers) ? servers : []).map((s) => {
    if (!isObject(s) || typeof s.server_address !== 'string' || !('serv_port_up' in s && 'serv_port_down' in s)) return 'incomplete';
    if (s.serv_enabled === false) return 'off';
    return ++used > MAX_SERVERS ? 'beyond' : 'used';
  });
}

function serverSection(servers) {
  return {
    id: 'servers',
    nav: 'Servers',
    title: 'Network servers',
    hint: `The forwarder sends to every server of this list that is enabled and complete (the first ${MAX_SERVERS}; ` +
      'it ignores the rest) and not to the single server address above.',
    groups: servers.map((s, i) => ({
      id: `servers[${i}]`,
      title: `Server ${i + 1}`,
      server: i,
      fields: SERVER_FIELDS.map(([m, kind, label, extra]) => field(s, ['gateway_conf', 'servers', i, m], kind, label, extra)),
      others: others(s, SERVER_FIELDS.map(([m]) => m)),
    })),
  };
}

// The form's sections, each with groups of fields and the members shown read-only beside them.
export function describeForm(doc) {
  const layout = detectLayout(doc);
  const sections = [];
  const gw = isObject(doc) ? doc.gateway_conf : undefined;
  const servers = isObject(gw) && Array.isArray(gw.servers) ? gw.servers : null;
  const unused = servers ? 'Not used while the file lists servers (below)' : null;
  sections.push({
    id: 'gateway',
    nav: 'Gateway',
    title: 'Gateway and network server',
    groups: [
      {
        id: 'gateway_conf',
        fields: GATEWAY_FIELDS.map(([m, kind, label, hint, subgroup]) => {
          const note = m === 'server_address' ? unused ?? hint : hint;
          return field(gw, ['gateway_conf', m], kind, label, { ...(note && { hint: note }), ...(subgroup && { subgroup }) });
        }),
        others: others(gw, [...GATEWAY_FIELDS.map(([m]) => m), ...(servers ? ['servers'] : [])]),
      },
    ],
  });
  if (servers) sections.push(serverSection(servers));
  const coveredTop = ['gateway_conf'];
  if (layout) {
    const k = layout.key;
    const conf = doc[k];
    coveredTop.push(k);
    const radios = numberedMembers(conf, 'radio_');
    const radioOptions = radios.map((r) => ({ value: String(r.index), label: `Radio ${r.index}` }));
    const covered = [];
    sections.push({
      id: 'radios',
      nav: 'Radios',
      title: 'Radios',
      groups: radios.map(({ key, index }) => {
        covered.push(key);
        const radio = conf[key];
        return {
          id: key,
          title: `Radio ${index}` + (typeof radio.type === 'string' ? ` (${radio.type})` : ''),
          fields: [
            field(radio, [k, key, 'enable'], 'bool', 'Enabled'),
            field(radio, [k, key, 'freq'], 'mhz', 'Centre frequency (MHz)'),
          ],
          others: others(radio, ['enable', 'freq']),
        };
      }),
    });
    const channels = numberedMembers(conf, 'chan_multiSF_').map(({ key, index }) => {
      covered.push(key);
      return channelGroup(conf, k, key, `Channel ${index}`, layout, radioOptions);
    });
    if (isObject(conf.chan_Lora_std)) {
      covered.push('chan_Lora_std');
      channels.push(channelGroup(conf, k, 'chan_Lora_std', 'LoRa standard channel', layout, radioOptions, [
        ['bandwidth', 'choice', 'Bandwidth', { options: options(LORA_BANDWIDTHS, (v) => `${v / 1000} kHz`) }],
        ['spread_factor', 'choice', 'Spreading factor', { options: options(SPREADING_FACTORS, (v) => `SF${v}`) }],
      ]));
    }
    if (isObject(conf.chan_FSK)) {
      covered.push('chan_FSK');
      channels.push(channelGroup(conf, k, 'chan_FSK', 'FSK channel', layout, radioOptions, [
        ['bandwidth', 'count', 'Bandwidth (Hz)'],
        ['datarate', 'count', 'Data rate (bit/s)'],
      ]));
    }
    sections.push({ id: 'channels', nav: 'Channels', title: 'Channels', groups: channels });
    sections.push({
      id: 'hardware',
      nav: 'Calibration',
      title: 'Calibration and hardware',
      hint: 'RSSI calibration, TX gain tables, clock source, bus settings and listen-before-talk belong to the ' +
        'gateway hardware. Only the raw JSON view changes them.',
      readOnly: true,
      groups: [{ id: k, fields: [], others: others(conf, covered) }],
    });
  }
  const rest = others(isObject(doc) ? doc : {}, coveredTop);
  if (Object.keys(rest).length) {
    sections.push({ id: 'other', nav: 'Other', title: 'Other sections', readOnly: true, groups: [{ id: '', fields: [], others: rest }] });
  }
  const fields = sections.flatMap((s) => s.groups.flatMap((g) => g.fields));
  return { layout, sections, fields };
}

export function readField(f, input) {
  return READERS[f.kind](input, f);
}

function setAt(doc, path, value) {
  let node = doc;
  for (const key of path.slice(0, -1)) {
    if (!Object.hasOwn(node, key)) put(node, key, {});
    node = node[key];
    if (node === null || typeof node !== 'object') throw new Error(`${key} is not an object`);
  }
  put(node, path[path.length - 1], value);
}

// The edited document: a copy of doc with every field the operator changed, or the errors of
// the changed fields that do not read. inputs maps field ids to the text (or, for check boxes,
// the boolean) now in the form. A field left as it was leaves its member untouched, so values
// the form would write differently (a lower-case ID, a port kept as a string) are not rewritten.
export function applyForm(doc, fields, inputs) {
  const out = cloneJson(doc);
  const errors = {};
  for (const f of fields) {
    const input = inputs[f.id];
    if (input === undefined || input === f.initial) continue;
    const r = readField(f, input);
    if (r.error) errors[f.id] = r.error;
    else setAt(out, f.path, r.value);
  }
  return { doc: out, errors };
}

// "868.1 MHz" for a radio at 868.5 MHz and an offset of -400 kHz, or "" while either does not read.
export function channelFrequencyText(radioMhzText, offsetKhzText) {
  const hz = channelFrequencyHz(mhzToHz(radioMhzText ?? '') ?? NaN, khzToHz(offsetKhzText ?? '') ?? NaN);
  return hz === null ? '' : `${hzToMhz(hz)} MHz`;
}

export function gatewayIdOf(doc) {
  const id = isObject(doc) && isObject(doc.gateway_conf) ? doc.gateway_conf.gateway_ID : undefined;
  return typeof id === 'string' ? id : '';
}

// The EUI of a file that does not parse, as far as its text tells.
export const gatewayIdInText = (text) => /"gateway_ID"\s*:\s*"([^"]*)"/.exec(text)?.[1] ?? '';
