import assert from 'node:assert/strict';
import { test } from 'node:test';
import { loadUi, samples } from './support.mjs';

const fwd = await loadUi('config/forwarder.js');
const { diffDocuments } = await loadUi('config/patch.js');

const sx1301 = samples['sx1301-eu868-semtech-lora_pkt_fwd-v4.0.1'];
const sx130x = samples['sx1302-sx1250-eu868-semtech-sx1302_hal-v2.1.0'];
const oldest = samples['sx1301-eu868-semtech-basic_pkt_fwd-v1.1.0-strict'];

// Fills the form as drawn from doc, changes the given fields and reads it back.
function edit(doc, changes) {
  const form = fwd.describeForm(doc);
  const inputs = Object.fromEntries(form.fields.map((f) => [f.id, f.initial]));
  const r = fwd.applyForm(doc, form.fields, { ...inputs, ...changes });
  return { ...r, patch: diffDocuments(doc, r.doc).patch };
}

test('each sample is recognised with its offset limit, radios and channels', () => {
  for (const [name, doc] of Object.entries(samples)) {
    const layout = fwd.detectLayout(doc);
    const expected = name.startsWith('sx1302') ? ['SX130x_conf', 737_500] : ['SX1301_conf', 400_000];
    assert.deepEqual([layout.key, layout.maxOffsetHz], expected, name);
  }
  const form = fwd.describeForm(oldest);
  const channels = form.sections.find((s) => s.id === 'channels').groups.map((g) => g.id);
  assert.deepEqual(channels, ['chan_multiSF_0', 'chan_multiSF_1', 'chan_multiSF_2', 'chan_Lora_std', 'chan_FSK']);
  // The oldest layout has a single radio, so channels can name only that one.
  assert.deepEqual(form.fields.find((f) => f.id === 'SX1301_conf.chan_FSK.radio').options.map((o) => o.value), ['0']);
  assert.deepEqual(fwd.numberedMembers({ radio_10: {}, radio_2: {}, radio_x: {} }, 'radio_').map((r) => r.key), ['radio_2', 'radio_10']);
});

test('calibration and hardware members are shown read-only, never as fields', () => {
  for (const [name, doc] of Object.entries(samples)) {
    const form = fwd.describeForm(doc);
    const editable = form.fields.map((f) => f.path.at(-1));
    for (const m of ['rssi_offset', 'rssi_tcomp', 'tx_gain_lut', 'clksrc', 'com_type', 'lbt_cfg', 'sx1261_conf', 'tx_lut_0']) {
      assert.ok(!editable.includes(m), `${name}: ${m}`);
    }
    const hardware = form.sections.find((s) => s.id === 'hardware').groups[0].others;
    assert.equal(hardware.lbt_cfg ?? hardware.sx1261_conf ?? null, doc.SX1301_conf?.lbt_cfg ?? doc.SX130x_conf?.sx1261_conf ?? null);
  }
  const radio0 = fwd.describeForm(sx130x).sections.find((s) => s.id === 'radios').groups[0];
  assert.deepEqual(Object.keys(radio0.others), ['type', 'rssi_offset', 'rssi_tcomp', 'tx_enable', 'tx_freq_min', 'tx_freq_max', 'tx_gain_lut']);
});

test('the form shows MHz and kHz, and an untouched form changes nothing in any sample', () => {
  const initial = Object.fromEntries(fwd.describeForm(sx1301).fields.map((f) => [f.id, f.initial]));
  assert.equal(initial['SX1301_conf.radio_1.freq'], '868.5');
  assert.equal(initial['SX1301_conf.chan_multiSF_0.if'], '-400');
  assert.equal(fwd.channelFrequencyText(initial['SX1301_conf.radio_1.freq'], initial['SX1301_conf.chan_multiSF_0.if']), '868.1 MHz');
  assert.equal(fwd.channelFrequencyText('868.5', '-'), '');
  for (const [name, doc] of Object.entries(samples)) {
    const r = edit(doc, {});
    assert.deepEqual([r.errors, r.patch], [{}, undefined], name);
  }
  // Typed differently but equal: the member is left as the file has it.
  assert.equal(edit(sx1301, { 'SX1301_conf.radio_0.freq': '867.500', 'gateway_conf.serv_port_up': '01680' }).patch, undefined);
});

test('typed values become JSON numbers, booleans and normalised strings', () => {
  const r = edit(sx1301, {
    'gateway_conf.gateway_ID': 'eui-b8:27:eb:ff:fe:12:34:56',
    'gateway_conf.server_address': ' eu1.cloud.thethings.network ',
    'gateway_conf.serv_port_up': '1700',
    'gateway_conf.forward_crc_error': true,
    'SX1301_conf.radio_0.freq': '867,1',
    'SX1301_conf.chan_multiSF_3.if': '-100',
    'SX1301_conf.chan_multiSF_3.radio': '1',
    'SX1301_conf.chan_Lora_std.bandwidth': '500000',
    'SX1301_conf.chan_FSK.enable': false,
  });
  assert.deepEqual(r.errors, {});
  assert.deepEqual(r.patch, {
    SX1301_conf: {
      radio_0: { freq: 867_100_000 },
      chan_multiSF_3: { radio: 1, if: -100_000 },
      chan_Lora_std: { bandwidth: 500_000 },
      chan_FSK: { enable: false },
    },
    gateway_conf: { gateway_ID: 'B827EBFFFE123456', server_address: 'eu1.cloud.thethings.network', serv_port_up: 1700, forward_crc_error: true },
  });
});

test('changed fields that do not read are all reported; the offset limit follows the layout', () => {
  const r = edit(sx1301, {
    'gateway_conf.gateway_ID': 'AA555A00',
    'gateway_conf.serv_port_down': '70000',
    'gateway_conf.server_address': '',
    'SX1301_conf.radio_1.freq': '868500000',
    'SX1301_conf.chan_multiSF_7.if': '600',
  });
  assert.deepEqual(Object.keys(r.errors).sort(), [
    'SX1301_conf.chan_multiSF_7.if', 'SX1301_conf.radio_1.freq', 'gateway_conf.gateway_ID',
    'gateway_conf.serv_port_down', 'gateway_conf.server_address',
  ]);
  assert.deepEqual(edit(sx130x, { 'SX130x_conf.chan_multiSF_0.if': '600' }).patch, { SX130x_conf: { chan_multiSF_0: { if: 600_000 } } });
  assert.ok(edit(sx130x, { 'SX130x_conf.chan_multiSF_0.if': '738' }).errors['SX130x_conf.chan_multiSF_0.if']);
});

test('members missing from the file stay missing unless filled in; missing radios cannot be chosen', () => {
  const doc = structuredClone(oldest);
  delete doc.gateway_conf.push_timeout_ms;
  delete doc.gateway_conf.forward_crc_disabled;
  doc.SX1301_conf.chan_FSK.radio = 1;
  assert.equal(edit(doc, {}).patch, undefined);
  assert.match(fwd.describeForm(doc).fields.find((f) => f.id === 'SX1301_conf.chan_FSK.radio').options[1].label, /not in this file/);
  const r = edit(doc, { 'gateway_conf.push_timeout_ms': '150', 'gateway_conf.forward_crc_disabled': true });
  assert.deepEqual(r.patch, { gateway_conf: { push_timeout_ms: 150, forward_crc_disabled: true } });
  assert.deepEqual(edit(doc, { 'SX1301_conf.chan_FSK.radio': '0' }).errors, {});
  assert.ok(edit(oldest, { 'SX1301_conf.chan_FSK.radio': '1' }).errors['SX1301_conf.chan_FSK.radio']);
});

test('a file without a concentrator section still edits its gateway settings', () => {
  const doc = { gateway_conf: { gateway_ID: 'AA555A0000000000', server_address: 'localhost' }, other: [1] };
  assert.deepEqual(fwd.describeForm(doc).sections.map((s) => s.id), ['gateway', 'other']);
  assert.deepEqual(edit(doc, { 'gateway_conf.server_address': 'lns.example.net' }).patch, { gateway_conf: { server_address: 'lns.example.net' } });
});

test('a multi-server file: each entry of servers is a group of fields, and the forwarder uses the first four complete ones', () => {
  const doc = samples['sx1301-eu868-kersing-mp_pkt_fwd-multiserver'];
  const form = fwd.describeForm(doc);
  const section = form.sections.find((s) => s.id === 'servers');
  assert.deepEqual(section.groups[0].fields.map((f) => [f.id, f.initial]), [
    ['gateway_conf.servers[0].serv_enabled', true],
    ['gateway_conf.servers[0].server_address', 'router.eu.thethings.network'],
    ['gateway_conf.servers[0].serv_port_up', '1700'],
    ['gateway_conf.servers[0].serv_port_down', '1700'],
  ]);
  assert.deepEqual(Object.keys(section.groups[0].others), ['serv_max_stall']);
  // The list is not shown again among the gateway's read-only members.
  assert.equal(Object.hasOwn(form.sections[0].groups[0].others, 'servers'), false);

  // A port edited in the second entry changes that entry only, and the patch sends the list whole.
  const two = structuredClone(doc);
  two.gateway_conf.servers.push({ server_address: 'eu1.cloud.thethings.network', serv_port_up: 1700, serv_port_down: 1700 });
  const r = edit(two, { 'gateway_conf.servers[1].serv_port_up': '1701' });
  assert.deepEqual(r.errors, {});
  assert.deepEqual(r.patch.gateway_conf.servers.map((s) => s.serv_port_up), [1700, 1701]);
  assert.equal(Object.hasOwn(r.doc.gateway_conf.servers[1], 'serv_enabled'), false);
  assert.match(edit(two, { 'gateway_conf.servers[1].serv_port_down': '70000' }).errors['gateway_conf.servers[1].serv_port_down'], /65535/);

  const s = (extra) => ({ server_address: 'a', serv_port_up: 1, serv_port_down: 1, ...extra });
  assert.deepEqual(fwd.serverUse([s(), s({ serv_enabled: false }), { server_address: 'b', serv_port_up: 1 }, 'x', s(), s(), s(), s()]),
    ['used', 'off', 'incomplete', 'incomplete', 'used', 'used', 'used', 'beyond']);
  assert.deepEqual(fwd.serverUse(undefined), []);
});

test('the EUI of a file that does not parse is read from its text', () => {
  assert.equal(fwd.gatewayIdInText('{ "gateway_conf": { "gateway_ID" : "AA555A0000000000", ,}'), 'AA555A0000000000');
  assert.equal(fwd.gatewayIdInText('{ "gateway_conf": {,'), '');
});
