// How long a sign-in lasts in this tab, and what the sign-in page tells about failures. The
// timing rules are pure functions so Node can test them; the watcher only adds the listeners.

import {
  FAILURES_BEFORE_SLOW, FAILURE_WINDOW_MS, INVALID_PASSWORD, PASSWORD_MISMATCH, SIGN_IN_HOLD_MS,
} from '/ui/lib/contract.js';

// Without a key press, click, touch or scroll for this long, the tab signs out by itself.
export const IDLE_LIMIT_MS = 30 * 60 * 1000;
// How often the watcher looks at the time. It compares clock times rather than counting on
// timers, which a sleeping laptop or a background tab delays.
const IDLE_CHECK_MS = 15 * 1000;
const ACTIVITY_EVENTS = ['keydown', 'pointerdown', 'wheel', 'touchstart'];

export const isIdle = (lastActivity, now, limit = IDLE_LIMIT_MS) => now - lastActivity >= limit;

// Calls onIdle once the operator has done nothing for limitMs; stop() ends the watch.
export function watchIdle(onIdle, { limitMs = IDLE_LIMIT_MS } = {}) {
  let last = Date.now();
  const touch = () => {
    last = Date.now();
  };
  const check = () => {
    if (!isIdle(last, Date.now(), limitMs)) return;
    stop();
    onIdle();
  };
  const onVisible = () => {
    if (!document.hidden) check();
  };
  const timer = setInterval(check, IDLE_CHECK_MS);
  for (const type of ACTIVITY_EVENTS) document.addEventListener(type, touch, { capture: true, passive: true });
  document.addEventListener('visibilitychange', onVisible);
  function stop() {
    clearInterval(timer);
    for (const type of ACTIVITY_EVENTS) document.removeEventListener(type, touch, { capture: true });
    document.removeEventListener('visibilitychange', onVisible);
  }
  return { stop };
}

// The gateway holds every sign-in from an address for a while once it has failed a few times
// within its window. Its answers do not say so; the page can tell by counting its own failures
// and by how long an answer took: one nearly as long as the hold was held.
export const SLOW_ANSWER_MS = SIGN_IN_HOLD_MS * 0.8;
const FAILURES_KEY = 'relaydash.signInFailures';

// The codes of a refused sign-in: a wrong password, or a user name that does not exist.
export const isSignInFailure = (code) => code === INVALID_PASSWORD || code === PASSWORD_MISMATCH;

// The times of this tab's failed sign-ins since its last success, within the gateway's window.
export function recentFailures(now = Date.now(), storage = sessionStorage) {
  let times;
  try {
    times = JSON.parse(storage.getItem(FAILURES_KEY) ?? '[]');
  } catch {
    times = [];
  }
  return Array.isArray(times) ? times.filter((t) => typeof t === 'number' && now - t < FAILURE_WINDOW_MS) : [];
}

export function recordFailure(now = Date.now(), storage = sessionStorage) {
  const times = [...recentFailures(now, storage), now].slice(-FAILURES_BEFORE_SLOW);
  storage.setItem(FAILURES_KEY, JSON.stringify(times));
  return times.length;
}

export const clearFailures = (storage = sessionStorage) => storage.removeItem(FAILURES_KEY);

// Whether to tell the operator that sign-in is slowed: after the failures that start it, or
// when an answer took as long as a held one.
export function signInSlowed({ failures, tookMs = 0 }) {
  return failures >= FAILURES_BEFORE_SLOW || tookMs >= SLOW_ANSWER_MS;
}

// Edits not yet applied outlive a sign-out for want of activity: an editor's draft (the hash and
// text of the file it was made on, and the edits) waits in the tab until the editor takes it
// back, or the operator signs out.
const DRAFT_KEY = 'relaydash.draft';

export function keepDraft(path, draft, storage = sessionStorage) {
  storage.setItem(`${DRAFT_KEY}:${path}`, JSON.stringify(draft));
}

// The draft kept for path, once: it is no longer kept afterwards. null when there is none.
export function takeDraft(path, storage = sessionStorage) {
  const key = `${DRAFT_KEY}:${path}`;
  const text = storage.getItem(key);
  storage.removeItem(key);
  try {
    const d = JSON.parse(text ?? 'null');
    return typeof d?.hash === 'string' && typeof d.text === 'string' && d.edits !== undefined ? d : null;
  } catch {
    return null;
  }
}

export const dropDrafts = (paths, storage = sessionStorage) => paths.forEach((p) => storage.removeItem(`${DRAFT_KEY}:${p}`));
