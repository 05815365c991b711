import assert from 'node:assert/strict';
import { test } from 'node:test';
import { loadUi } from './support.mjs';

const { actionText, outcomeBadge } = await loadUi('widgets/activity-table.js');

test('audit entries read as actions, each with what its version is', () => {
  assert.equal(actionText({ action: 'ssh-start', version: null }), 'Enable SSH');
  // A change names the version holding the file it replaced.
  assert.equal(actionText({ action: 'config-apply', version: 12 }), 'Apply a configuration (the file before is version 12)');
  assert.equal(actionText({ action: 'config-replace', version: 3 }), 'Apply an edited file (the file before is version 3)');
  assert.equal(actionText({ action: 'config-patch', version: 0 }), 'Change the configuration (the file before is version 0)');
  // A restore and a rollback name the version they put back.
  assert.equal(actionText({ action: 'config-restore', version: 5 }), 'Restore version 5');
  assert.equal(actionText({ action: 'config-rollback', version: 2 }), 'Roll back to version 2');
  assert.equal(actionText({ action: 'config-recover', version: 7 }), 'Finish an interrupted change (version 7)');
  assert.equal(actionText({ action: 'config-recover', version: null }), 'Finish an interrupted change');
  assert.equal(actionText({ action: 'config-replace' }), 'Apply an edited file');
  // An action this page does not know yet is shown as the gateway names it, even one named like
  // a member every object has.
  assert.equal(actionText({ action: 'firmware-update', version: null }), 'firmware-update');
  assert.equal(actionText({ action: 'constructor', version: 4 }), 'constructor (version 4)');
  assert.deepEqual(outcomeBadge('success'), { label: 'done', tone: 'ok' });
  assert.deepEqual(outcomeBadge('failure'), { label: 'failed', tone: 'bad' });
  assert.deepEqual(outcomeBadge('partial'), { label: 'partial', tone: 'muted' });
  // A change under way, and one a stop of the gateway's server cut short.
  assert.deepEqual(outcomeBadge('pending'), { label: 'under way', tone: 'muted' });
  assert.deepEqual(outcomeBadge('interrupted'), { label: 'interrupted', tone: 'bad' });
  // A row that stands for repeated attempts says how many, and until when.
  assert.match(actionText({ action: 'sign-in', version: null, count: 7, lastTime: '2026-12-09T01:02:03.004Z' }),
    /^Sign in, 7 times until 2026-12-\d\d \d\d:\d\d:03$/);
  assert.equal(actionText({ action: 'sign-in', version: null, count: 1, lastTime: '2026-12-09T01:02:03.004Z' }), 'Sign in');
  // What the action was done to, by name.
  assert.equal(actionText({ action: 'metrics-key-revoke', version: null, subject: 'prometheus' }), 'Revoke a metrics key "prometheus"');
  assert.equal(actionText({ action: 'metrics-key-revoke', version: null, subject: null }), 'Revoke a metrics key');
});
