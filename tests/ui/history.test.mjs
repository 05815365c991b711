// What the history page says each kept version is, and how it reads a comparison's address.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { loadUi } from './support.mjs';

const { compareOrder, compareQuery, versionStory } = await loadUi('pages/history.js');

// 21:05 on the machine's own clock, as the page shows times.
const at2105 = new Date(2026, 11, 9, 21, 5).toISOString();

test('a version kept before a change says whose change, when, and how long it had run', () => {
  const v = { version: 7, time: at2105, user: 'admin', procedure: 'forwarder-config/apply', kind: 'before', ranSeconds: 7500, ranWell: true };
  assert.equal(versionStory(v, { me: 'admin' }).text, 'before your change at 21:05 — ran 2 h 5 min');
  assert.equal(versionStory(v, { me: 'operator' }).text, 'before admin\'s change at 21:05 — ran 2 h 5 min');
  assert.equal(versionStory(v, { me: 'admin' }).note, null);
  // Kept before a restore of another version, or before a whole file replaced it.
  const restore = { ...v, procedure: 'forwarder-config/restore', restores: 3, ranSeconds: null };
  assert.equal(versionStory(restore, { me: 'admin' }).text, 'before your restore of version 3 at 21:05');
  assert.equal(versionStory({ ...restore, restores: null }, { me: 'admin' }).text,
    'before your replacement of the whole file at 21:05');
  assert.equal(versionStory({ ...v, procedure: 'forwarder-config/patch', user: '' }).text, 'before a patch at 21:05 — ran 2 h 5 min');
  // The forwarder was not running well with it: said below the label.
  assert.match(versionStory({ ...v, ranWell: false }).note, /not running well/);
});

test('a refused version says so, with the members it changed and why', () => {
  const v = { version: 8, time: at2105, user: 'admin', procedure: 'forwarder-config/apply (rolled back)', kind: 'rejected',
    reason: 'the forwarder stopped 3 s after the restart', changed: ['gateway_conf.server_address'] };
  const story = versionStory(v);
  assert.equal(story.text, 'refused by the forwarder: gateway_conf.server_address changed');
  assert.equal(story.note, 'Why: the forwarder stopped 3 s after the restart.');
  const many = versionStory({ ...v, changed: ['a', 'b', 'c', 'd', 'e'], reason: null });
  assert.equal(many.text, 'refused by the forwarder: a, b, c, 2 more changed');
  assert.equal(many.note, null);
});

test('versions without the newer facts keep the label of how they came to be; badges mark current and last good', () => {
  const old = { version: 2, time: at2105, user: 'admin', procedure: 'forwarder-config/apply (rolled back)' };
  assert.deepEqual(versionStory(old), { text: 'change applied, rolled back', note: null, badges: [] });
  assert.equal(versionStory({ ...old, kind: 'unknown', procedure: 'forwarder-config/restore' }).text, 'restore');
  assert.deepEqual(versionStory(old, { current: 2, lastGood: 2 }).badges.map((b) => b.label), ['current', 'last that ran well']);
  assert.deepEqual(versionStory(old, { current: 3, lastGood: null }).badges, []);
});

test('a comparison reads from the older side to the newer, the current file newest of all', () => {
  assert.deepEqual(compareOrder(5, 3), [3, 5]);
  assert.deepEqual(compareOrder(3, 12), [3, 12]);
  assert.deepEqual(compareOrder('current', 4), [4, 'current']);
  assert.deepEqual(compareQuery('?compare=7,9'), [7, 9]);
  assert.deepEqual(compareQuery('?compare=12,current&x=1'), [12, 'current']);
  for (const bad of ['', '?compare=7', '?compare=7,', '?compare=a,b', '?compare=1,2,3']) assert.equal(compareQuery(bad), null, bad);
});
