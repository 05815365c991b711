import assert from 'node:assert/strict';
import { test } from 'node:test';
import { loadUi } from './support.mjs';

const v = await loadUi('config/validate.js');

test('gateway IDs: pasted forms normalise, then must be 16 hex digits', () => {
  for (const pasted of ['eui-b827ebfffe123456', 'EUI-B827EBFFFE123456', 'B8:27:EB:FF:FE:12:34:56', 'b8-27-eb-ff-fe-12-34-56', ' b827 ebff fe12 3456\t']) {
    assert.deepEqual(v.checkGatewayId(pasted), { value: 'B827EBFFFE123456' }, pasted);
  }
  assert.match(v.checkGatewayId('AA555A000000000').error, /this one has 15/);
  assert.match(v.checkGatewayId('eui-AA555A00000000000').error, /has 17/);
  assert.match(v.checkGatewayId('0xAA555A0000000000').error, /only hold hexadecimal/);
  // "eui-" is removed as a prefix only.
  assert.ok(v.checkGatewayId('AA555Aeui-0000000000').error);
});

test('ports, intervals and the server address', () => {
  assert.deepEqual(v.checkPort(' 65535 '), { value: 65535 });
  for (const bad of ['0', '65536', '-1', '16.8', '1e3', '0x10', '']) assert.ok(v.checkPort(bad).error, bad);
  assert.match(v.checkInteger('0', { min: 1, max: 86400, unit: 's' }).error, /from 1 s to 86400 s/);
  assert.deepEqual(v.checkServerAddress(' eu1.cloud.thethings.network '), { value: 'eu1.cloud.thethings.network' });
  assert.deepEqual(v.checkServerAddress('a'.repeat(63)), { value: 'a'.repeat(63) });
  assert.match(v.checkServerAddress('a'.repeat(64)).error, /at most 63 characters; this one has 64/);
  assert.ok(v.checkServerAddress('router eu').error);
});

test('decimal text converts exactly to integer Hz and back', () => {
  for (const [text, digits, n, back] of [
    ['868.1', 6, 868_100_000, '868.1'],
    ['867,5', 6, 867_500_000, '867.5'],
    ['869.525', 6, 869_525_000, '869.525'],
    ['868.100000', 6, 868_100_000, '868.1'],
    ['.5', 6, 500_000, '0.5'],
    ['-400', 3, -400_000, '-400'],
    ['737.5', 3, 737_500, '737.5'],
    ['-0.005', 3, -5, '-0.005'],
    ['-0', 3, 0, '0'],
  ]) {
    assert.equal(v.parseScaled(text, digits), n, text);
    assert.equal(v.formatScaled(n, digits), back, text);
  }
  for (const bad of ['868.1234567', '', '.', '-', '8 68', '1e9', '868.1.2']) assert.equal(v.parseScaled(bad, 6), null, bad);
});

test('radio frequencies are in MHz, so a value typed in Hz is caught', () => {
  assert.deepEqual(v.checkRadioFrequency('867.5'), { value: 867_500_000 });
  assert.match(v.checkRadioFrequency('867500000').error, /in MHz/);
  assert.ok(v.checkRadioFrequency('99.999999').error);
  assert.equal(v.channelFrequencyHz(868_500_000, -400_000), 868_100_000);
});

test("channel offsets keep the channel inside its radio's band", () => {
  assert.deepEqual(v.checkChannelOffset('-400', 400_000), { value: -400_000 });
  assert.match(v.checkChannelOffset('400.001', 400_000).error, /between -400 and 400 kHz/);
  assert.ok(v.checkChannelOffset('-400.001', 400_000).error);
  assert.deepEqual(v.checkChannelOffset('-737.5', 737_500), { value: -737_500 });
  assert.match(v.checkChannelOffset('737.501', 737_500).error, /between -737.5 and 737.5 kHz/);
});
