// The account pages' own rules: what a new password must be, what each SSH button would change,
// which names of a metrics key the gateway would take.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { loadUi } from './support.mjs';

const { checkNewPassword, metricsKeyNameProblem, sshEffects } = await loadUi('pages/account.js');

test('a new password: not empty, not the factory one, at least 8 characters', () => {
  assert.deepEqual(checkNewPassword('relay-s3cret'), { value: 'relay-s3cret' });
  assert.deepEqual(checkNewPassword('12345678'), { value: '12345678' });
  // Characters, not UTF-16 units: eight letters of any script are enough, seven are not.
  assert.deepEqual(checkNewPassword('😀😀😀😀😀😀😀😀'), { value: '😀😀😀😀😀😀😀😀' });
  assert.match(checkNewPassword('😀😀😀😀😀😀😀').error, /at least 8 characters/);
  assert.match(checkNewPassword('1234567').error, /at least 8 characters/);
  assert.match(checkNewPassword('').error, /may not be empty/);
  assert.match(checkNewPassword('quilm').error, /factory password/);
  // Only the exact factory password is that one.
  assert.match(checkNewPassword('Quilm').error, /at least 8/);
});

test('the SSH buttons say what they would change', () => {
  const ssh = (active, enabled) => ({ loadState: 'loaded', activeState: active ? 'active' : 'inactive', subState: active ? 'running' : 'dead', unitFileState: enabled ? 'enabled' : 'disabled' });
  assert.deepEqual(sshEffects(ssh(false, false)), { enable: 'starts it now and at every boot', disable: 'already off: changes nothing' });
  assert.deepEqual(sshEffects(ssh(true, true)), { enable: 'already on: changes nothing', disable: 'stops it now and at every boot' });
  assert.equal(sshEffects(ssh(true, false)).enable, 'keeps it running and starts it at every boot');
  assert.equal(sshEffects(ssh(false, true)).disable, 'no longer starts it at boot (it is stopped)');
  assert.equal(sshEffects(null).enable, 'starts it now and at every boot');
});

test('a metrics key\'s name is checked as the gateway checks it: bytes, not characters', () => {
  for (const name of ['prometheus', '  grafana agent\t', 'n'.repeat(64), 'é'.repeat(32), 'Prüfstand – Halle 3']) {
    assert.equal(metricsKeyNameProblem(name), '', name);
  }
  assert.match(metricsKeyNameProblem(' \t '), /Name the key/);
  assert.match(metricsKeyNameProblem('n'.repeat(65)), /at most 64 bytes/);
  assert.match(metricsKeyNameProblem('é'.repeat(33)), /at most 64 bytes/);
  for (const name of ['two\nlines', 'tab\tinside', 'c1 \u0085']) assert.match(metricsKeyNameProblem(name), /control characters/, name);
});
