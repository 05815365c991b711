import assert from 'node:assert/strict';
import { test } from 'node:test';
import { loadUi } from './support.mjs';

const s = await loadUi('lib/session.js');

class MemoryStorage {
  items = new Map();
  getItem(k) {
    return this.items.has(k) ? this.items.get(k) : null;
  }
  setItem(k, v) {
    this.items.set(k, String(v));
  }
  removeItem(k) {
    this.items.delete(k);
  }
}

const MINUTE = 60_000;

test('idle is thirty minutes without a key press, a click or a touch', () => {
  assert.equal(s.IDLE_LIMIT_MS, 30 * MINUTE);
  assert.equal(s.isIdle(0, 30 * MINUTE - 1), false);
  assert.equal(s.isIdle(0, 30 * MINUTE), true);
  assert.equal(s.isIdle(0, 500, 500), true);
});

test('the page counts its failed sign-ins within the gateway\'s fifteen minutes', () => {
  const storage = new MemoryStorage();
  const t0 = 1_000_000_000;
  for (let i = 1; i <= 4; i++) {
    assert.equal(s.recordFailure(t0 + i * MINUTE, storage), i);
    assert.equal(s.signInSlowed({ failures: i, tookMs: 30 }), false);
  }
  assert.equal(s.recordFailure(t0 + 5 * MINUTE, storage), 5);
  assert.equal(s.signInSlowed({ failures: 5, tookMs: 30 }), true);
  // The first failure leaves the window fifteen minutes after it happened.
  assert.equal(s.recentFailures(t0 + 16 * MINUTE - 1, storage).length, 5);
  assert.equal(s.recentFailures(t0 + 16 * MINUTE, storage).length, 4);
  // Only the last five are kept; a success forgets them; a stored value of another shape is none.
  for (let i = 0; i < 10; i++) s.recordFailure(t0 + 6 * MINUTE, storage);
  assert.equal(s.recentFailures(t0 + 6 * MINUTE, storage).length, 5);
  s.clearFailures(storage);
  assert.deepEqual(s.recentFailures(t0, storage), []);
  storage.setItem('relaydash.signInFailures', '{"not":"a list"}');
  assert.deepEqual(s.recentFailures(t0, storage), []);
  storage.setItem('relaydash.signInFailures', 'not json');
  assert.deepEqual(s.recentFailures(t0, storage), []);

  // A held answer tells it on its own, as when another tab made the failures.
  assert.equal(s.signInSlowed({ failures: 1, tookMs: s.SLOW_ANSWER_MS }), true);
  assert.ok(s.isSignInFailure(23009) && s.isSignInFailure(24004) && !s.isSignInFailure(23010));
});

test('edits kept over a sign-out come back once, for their own editor, and go with a sign-out by hand', () => {
  const storage = new MemoryStorage();
  const draft = { hash: 'abc', text: '{"a": 1}', edits: { 'gateway_conf.keepalive_interval': '20' } };
  s.keepDraft('/ui/config', draft, storage);
  s.keepDraft('/ui/raw', { hash: 'abc', text: '{"a": 1}', edits: '{"a": 2}' }, storage);
  assert.deepEqual(s.takeDraft('/ui/config', storage), draft);
  assert.equal(s.takeDraft('/ui/config', storage), null);
  s.dropDrafts(['/ui/config', '/ui/raw'], storage);
  assert.equal(s.takeDraft('/ui/raw', storage), null);
  // What is not a draft is none, and is not kept either.
  for (const text of ['not json', '{"hash": 1, "text": "", "edits": {}}', '{"hash": "a", "text": "x"}', 'null']) {
    storage.setItem('relaydash.draft:/ui/raw', text);
    assert.equal(s.takeDraft('/ui/raw', storage), null, text);
    assert.equal(storage.getItem('relaydash.draft:/ui/raw'), null);
  }
});
