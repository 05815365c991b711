// Changing the forwarder's configuration safely: the gateway checks the new file, keeps the old
// one in its history, writes, restarts the forwarder and watches it, and puts the old file back
// when the forwarder does not keep running. This module sends the change, follows it step by
// step while it runs, and shows how it ended.

import { problemText } from '/ui/config/rules.js';
import * as api from '/ui/lib/api.js';
import { byteLength, requestBody } from '/ui/lib/api.js';
import { announce, h, sentence } from '/ui/lib/dom.js';
import { localTimeText } from '/ui/lib/format.js';
import {
  BUSY, DEFAULT_SETTLE_SECONDS, MAX_REQUEST_BYTES, MAX_SETTLE_SECONDS, MAX_UPLOAD_BYTES, OUT_OF_BAND, STALE,
  UPLOAD_ID_DIGITS,
} from '/ui/lib/contract.js';

const POLL_MS = 500;

// A change that puts a channel or radio centre outside the band is refused unless the operator
// confirms it: the code of that refusal.
export { OUT_OF_BAND };

// A whole file is sent in one request when it fits, otherwise in pieces that each do, whatever
// the upload's id and offset.
export function pieces(text, auth) {
  const overhead = byteLength(requestBody(auth, { upload: 'f'.repeat(UPLOAD_ID_DIGITS), offset: MAX_UPLOAD_BYTES, text: '' }));
  const budget = MAX_REQUEST_BYTES - overhead;
  const out = [];
  let piece = '';
  let cost = 0;
  for (const ch of text) {
    const c = byteLength(JSON.stringify(ch)) - 2;
    if (cost + c > budget) {
      out.push(piece);
      piece = '';
      cost = 0;
    }
    piece += ch;
    cost += c;
  }
  if (piece || !out.length) out.push(piece);
  return out;
}

// The gateway names the change under way by its procedure: the page says what it is.
const DOING = {
  apply: 'an apply of a changed configuration',
  restore: 'a restore of a whole file',
  patch: 'a patch by a script',
};
export const busyText = (message) => message.replace(/forwarder-config\/(\w+)/g, (name, p) => DOING[p] ?? name);

// Replaces the whole file (forwarder-config/restore with the text, sent in pieces when needed),
// provided the file on the gateway is still the one whose hash is base.
export async function replaceWholeFile(text, { base, ...watch }) {
  const auth = api.token() ?? '';
  const input = { text, ...watch, base };
  if (byteLength(requestBody(auth, input)) <= MAX_REQUEST_BYTES) return api.call('forwarder-config/restore', input);
  let upload = null;
  let offset = 0;
  for (const piece of pieces(text, auth)) {
    const out = await api.call('forwarder-config/upload', { upload, offset, text: piece });
    upload = out.upload;
    offset = out.size;
  }
  return api.call('forwarder-config/restore', { upload, ...watch, base });
}

const place = (n) => `line ${n.line}, column ${n.column}: ${n.message}`;

// Why the gateway refused a new file, line by line: where the forwarder cannot read it, what it
// would read otherwise, which members another file beside it sets.
export function refusalLines(details) {
  const d = details ?? {};
  return [
    ...(d.refusal ? [place(d.refusal)] : []),
    ...(Array.isArray(d.quirks) ? d.quirks.map(place) : []),
    ...(Array.isArray(d.members) && d.members.length ? [`Not read as shown: ${d.members.join(', ')}`] : []),
    ...(Array.isArray(d.overrides) ? d.overrides.map((o) => `${o.path} is set in ${o.file}`) : []),
  ];
}

// The steps as the gateway names them, and what the operator reads.
const STEPS = [
  ['validating', () => 'Check the new configuration'],
  ['saving', (p) => `Keep the current file in the history${p.version ? ` as version ${p.version}` : ''}`],
  ['writing', () => 'Write the new file'],
  ['restarting', () => 'Restart the packet forwarder'],
  ['watching', (p) => `Watch the forwarder for ${p.settleSeconds} s` +
    (p.secondsLeft !== null && p.secondsLeft !== undefined ? `: ${p.secondsLeft} s left` : '') +
    (p.waitingFor ? `, waiting for ${p.waitingFor}` : '')],
];

// What the operator reads for a step, given the progress answer p.
export const stepText = (name, p) => STEPS.find(([n]) => n === name)[1](p);

// The gateway's words on the link as a sentence of their own.
const said = (text) => sentence(text.charAt(0).toUpperCase() + text.slice(1));

// How each step of a change that has ended is shown: done, failed where it went wrong, and not
// done after that; the rollback, when there was one, done or failed. Nothing is under way.
export function endedSteps({ skipped = [], failedAt = null, rollback = null }) {
  const failed = STEPS.findIndex(([name]) => name === failedAt);
  const states = STEPS.map(([name], i) => [name, failed < 0 ? (skipped.includes(name) ? 'skipped' : 'done')
    : i < failed ? 'done' : i === failed ? 'failed' : 'skipped']);
  return rollback ? [...states, ['rolling-back', rollback]] : states;
}

// The progress view: the steps as they happen, then the outcome.
export function progressPanel({ onClose }) {
  const heading = h('h2', { tabindex: '-1' }, 'Applying the change');
  const steps = h('ol', { class: 'steps' });
  // The step under way, for screen readers; the list shows it to everyone else.
  const now = h('p', { class: 'sr-only', role: 'status' });
  const outcome = h('div', { class: 'outcome', hidden: true });
  const closeBtn = h('button', { type: 'button', hidden: true }, 'Back to the configuration');
  // What the operator may do about the outcome besides going back, when anything (see offer).
  const offered = h('span', { class: 'offer', hidden: true });
  const el = h('section', { class: 'card progress-view', hidden: true }, heading, steps, now, outcome,
    h('div', { class: 'actions' }, offered, closeBtn));
  closeBtn.addEventListener('click', () => onClose());

  // p: a progress answer; `ended` (for endedSteps) once the change has ended.
  function draw(p, ended = null) {
    const rollingBack = p.step === 'rolling-back';
    const at = rollingBack ? STEPS.length : STEPS.findIndex(([name]) => name === p.step);
    const states = ended ? endedSteps(ended)
      : [...STEPS.map(([name], i) => [name, i < at ? 'done' : i === at ? 'current' : 'todo']),
        ...(rollingBack ? [['rolling-back', 'current']] : [])];
    const texts = Object.fromEntries([...STEPS, ['rolling-back', () => 'Put the previous file back and restart the forwarder with it']]);
    const aside = { skipped: ended?.failedAt ? ' (not done)' : ' (not needed)' };
    steps.replaceChildren(...states.map(([name, state]) => h('li',
      { class: state, 'data-step': name, 'aria-current': state === 'current' ? 'step' : null },
      texts[name](p), aside[state] ?? '', state === 'current' ? h('span', { class: 'spinner', 'aria-hidden': 'true' }) : null)));
    now.textContent = rollingBack ? `Putting the previous file back: ${p.reason}` : `${STEPS[at]?.[1](p) ?? 'Finished'}…`;
  }

  // links: [{ href, text }] to where the operator goes on from the outcome.
  function finish({ ok, title, text, journal = [], problems = [], reasons = [], links = [] }) {
    now.hidden = true;
    heading.textContent = title;
    outcome.className = `outcome status ${ok ? 'ok' : 'error'}`;
    outcome.setAttribute('role', ok ? 'status' : 'alert');
    outcome.replaceChildren(h('p', {}, sentence(text)));
    const items = [...problems.map(problemText), ...reasons];
    if (items.length) outcome.append(h('ul', {}, items.map((t) => h('li', {}, t))));
    for (const l of links) outcome.append(h('p', {}, h('a', { href: l.href }, l.text)));
    if (journal.length) {
      outcome.append(h('h3', {}, 'What the forwarder wrote to its log'),
        h('ol', { class: 'log journal' }, journal.map((e) => h('li', { class: `line ${e.priority !== null && e.priority <= 3 ? 'bad' : ''}` },
          h('time', { datetime: e.time }, localTimeText(e.time)), ' ', e.message))));
    }
    outcome.hidden = false;
    closeBtn.hidden = false;
    heading.focus();
    announce(`${title}. ${sentence(text)}`);
  }

  const panel = {
    el,
    // The error of the change that ended last without being applied, or null.
    error: null,
    // Runs start() (the apply or restore call) and follows it; answers 'applied', 'rolled-back'
    // (the forwarder did not keep running with it: the gateway keeps the refused file in its
    // history), 'refused' (nothing was written), 'stale' (nothing was written: the file changed
    // on the gateway since the page showed it; the panel is hidden for the caller to show what
    // changed) or 'auth-lost' when the gateway no longer knows the sign-in (nothing was sent
    // then: the caller may offer the same change again once the operator has signed in).
    async run(start, settleSeconds) {
      heading.textContent = 'Applying the change';
      outcome.hidden = true;
      closeBtn.hidden = true;
      offered.hidden = true;
      offered.replaceChildren();
      now.hidden = false;
      el.hidden = false;
      panel.error = null;
      heading.focus();
      let before = 0;
      try {
        before = (await api.call('forwarder-config/progress')).id;
      } catch {
        // The change itself will say what is wrong.
      }
      let done = false;
      let last = { step: 'validating', settleSeconds };
      draw(last);
      const follow = (async () => {
        while (!done) {
          await new Promise((r) => setTimeout(r, POLL_MS));
          if (done) break;
          try {
            const p = await api.call('forwarder-config/progress');
            if (!done && p.id > before && p.running) draw((last = p));
          } catch {
            // A missed look; the next one or the answer tells.
          }
        }
      })();
      try {
        const out = await start();
        done = true;
        await follow;
        draw({ version: out.version, settleSeconds }, { skipped: out.restarted ? [] : ['restarting', 'watching'] });
        finish({
          ok: true,
          title: 'Change applied',
          text: (out.restarted
            ? 'The packet forwarder runs with the new configuration.'
            : 'The new file is written. The forwarder is not run as a systemd unit here, so nothing was restarted.') +
            (out.link ? ` ${said(out.link)}` : '') +
            (out.version ? ` The previous file is kept as version ${out.version} in the history.` : '') +
            (out.notice ? ` ${out.notice}` : ''),
        });
        return 'applied';
      } catch (e) {
        done = true;
        await follow;
        if (e.authLost || e.code === STALE) {
          el.hidden = true;
          return e.authLost ? 'auth-lost' : 'stale';
        }
        panel.error = e;
        const d = e.details ?? {};
        const rolledBack = d.result === 'rolled-back';
        const rejected = rejectedOf(d);
        // A rollback went as far as the restart, or the watch; anything else stopped before a write.
        if (rolledBack || d.result === 'rollback-failed') {
          draw({ ...last, version: d.version, secondsLeft: null, waitingFor: null },
            { failedAt: d.restarted ? 'watching' : 'restarting', rollback: rolledBack ? 'done' : 'failed' });
        } else steps.replaceChildren();
        finish({
          ok: false,
          title: rolledBack ? 'Change rolled back' : 'Change not applied',
          // The problems list says what is outside the band, and where: the gateway's message says it all again.
          text: e.code === BUSY ? busyText(e.message)
            : e.code === OUT_OF_BAND && d.problems?.length ? 'Nothing was written: the change puts these outside the band' : e.message,
          journal: Array.isArray(d.journal) ? d.journal : [],
          problems: Array.isArray(d.problems) && d.problems.some((p) => p.path) ? d.problems : [],
          reasons: [...(d.link ? [said(d.link)] : []), ...refusalLines(d)],
          links: rejected && d.version ? [{ href: compareAddress(d.version, rejected),
            text: `Compare the file that was refused (version ${rejected}) with the one put back (version ${d.version})` }] : [],
        });
        return rolledBack ? 'rolled-back' : 'refused';
      }
    },
    // After an outcome: a sentence on what the operator may do instead of going back, and the
    // button that does it (once: the button goes with the click).
    offer({ text, button, onClick }) {
      const btn = h('button', { type: 'button', class: 'primary' }, button);
      btn.addEventListener('click', () => {
        offered.hidden = true;
        offered.replaceChildren();
        onClick();
      });
      outcome.append(h('p', { class: 'offer-text' }, text));
      offered.replaceChildren(btn);
      offered.hidden = false;
    },
    hide() {
      el.hidden = true;
    },
  };
  return panel;
}

// The history version that holds the file a rolled-back change tried.
export const rejectedOf = (details) => details?.rejectedVersion ?? details?.rejected ?? null;
// The history page comparing two versions, the older first.
export const compareAddress = (a, b) => `/ui/history?compare=${a},${b}`;

// The fields for how the forwarder is watched after the restart: for how long, and whether the
// network server's answers in its first report count too (the gateway's default).
export function settleField() {
  const id = `settle-${Math.random().toString(36).slice(2, 8)}`;
  const input = h('input', { id, type: 'text', inputmode: 'numeric', value: String(DEFAULT_SETTLE_SECONDS), class: 'short' });
  const link = h('input', { id: `${id}-link`, type: 'checkbox', checked: true });
  const wrap = h('div', { class: 'field settle' },
    h('label', { for: id }, 'Watch the forwarder after the restart (seconds)'), input,
    h('p', { class: 'hint' }, `If it stops or restarts within this time, the previous file is put back. 0 to ${MAX_SETTLE_SECONDS}.`),
    h('div', { class: 'field check' }, link, h('label', { for: link.id },
      'Also wait for its first report, to tell whether the network server answers')));
  const error = h('p', { class: 'error', role: 'alert', hidden: true });
  wrap.append(error);
  const text = () => input.value.trim();
  const valid = () => /^\d+$/.test(text()) && Number(text()) <= MAX_SETTLE_SECONDS;
  // A time out of range is said, never silently replaced by another.
  const value = () => (valid() ? Number(text()) : DEFAULT_SETTLE_SECONDS);
  input.addEventListener('input', () => { if (valid()) error.hidden = true; });
  return {
    wrap,
    value,
    // True (and the field says why) when the time given cannot be sent.
    refuse() {
      error.textContent = valid() ? '' : `The time to watch must be a whole number of seconds from 0 to ${MAX_SETTLE_SECONDS}.`;
      error.hidden = valid();
      input.setAttribute('aria-invalid', String(!valid()));
      if (!valid()) input.focus();
      return !valid();
    },
    // The members of the apply or restore that say how to watch.
    watch: () => ({ settleSeconds: value(), ...(link.checked ? {} : { watch: 'process' }) }),
  };
}
