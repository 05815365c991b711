// Changing the forwarder's configuration safely: the gateway checks the new file, keeps the old
// one in its history, writes, restarts the forwarder and watches it, and puts the old file back
// when the forwarder does not keep running. This module sends the change, follows it step by
// step while it runs, and shows how it ended.

import * as api from '/ui/api.js';
import { announce, h, sentence } from '/ui/dom.js';
import { localTimeText } from '/ui/gateway.js';
import { MAX_REQUEST_BYTES, byteLength, requestBody } from '/ui/patch.js';
import { problemText } from '/ui/rules.js';

export const DEFAULT_SETTLE_SECONDS = 15;
export const MAX_SETTLE_SECONDS = 120;
const POLL_MS = 500;

// A whole file is sent in one request when it fits, otherwise in pieces that each do.
export function pieces(text, auth) {
  const overhead = byteLength(requestBody(auth, { upload: '9999999999', offset: 99_999_999, text: '' }));
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

// The gateway's answer when the file is no longer the one the page's edits were based on.
export const STALE = 24005;

// Replaces the whole file (forwarder-config/restore with the text, sent in pieces when needed),
// provided the file on the gateway is still the one whose hash is base.
export async function replaceWholeFile(text, settleSeconds, base) {
  const auth = api.token() ?? '';
  const input = { text, settleSeconds, base };
  if (byteLength(requestBody(auth, input)) <= MAX_REQUEST_BYTES) return api.call('forwarder-config/restore', input);
  let upload = null;
  let offset = 0;
  for (const piece of pieces(text, auth)) {
    const out = await api.call('forwarder-config/upload', { upload, offset, text: piece });
    upload = out.upload;
    offset = out.size;
  }
  return api.call('forwarder-config/restore', { upload, settleSeconds, base });
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
    (p.secondsLeft !== null && p.secondsLeft !== undefined ? `: ${p.secondsLeft} s left` : '')],
];

// The progress view: the steps as they happen, then the outcome.
export function progressPanel({ onClose }) {
  const heading = h('h2', { tabindex: '-1' }, 'Applying the change');
  const steps = h('ol', { class: 'steps' });
  // The step under way, for screen readers; the list shows it to everyone else.
  const now = h('p', { class: 'sr-only', role: 'status' });
  const outcome = h('div', { class: 'outcome', hidden: true });
  const closeBtn = h('button', { type: 'button', hidden: true }, 'Back to the configuration');
  const el = h('section', { class: 'card progress-view', hidden: true }, heading, steps, now, outcome,
    h('div', { class: 'actions' }, closeBtn));
  closeBtn.addEventListener('click', () => onClose());

  // p: a progress answer. `failedAt` marks the step that went wrong once the change has ended.
  function draw(p, { finished = false, failedAt = null } = {}) {
    const rollingBack = p.step === 'rolling-back';
    const at = rollingBack ? STEPS.length : STEPS.findIndex(([name]) => name === p.step);
    const failed = STEPS.findIndex(([name]) => name === failedAt);
    const spinner = () => h('span', { class: 'spinner', 'aria-hidden': 'true' });
    steps.replaceChildren(...STEPS.map(([name, text], i) => {
      const state = failed >= 0 ? (i < failed ? 'done' : i === failed ? 'failed' : 'todo')
        : finished ? (p.skipped?.includes(name) ? 'skipped' : 'done')
          : i < at ? 'done' : i === at ? 'current' : 'todo';
      return h('li', { class: state, 'data-step': name, 'aria-current': state === 'current' ? 'step' : null },
        text(p), state === 'skipped' ? ' (not needed)' : '', state === 'current' ? spinner() : null);
    }));
    if (rollingBack || failedAt) {
      steps.append(h('li', { class: rollingBack ? 'current' : 'done', 'data-step': 'rolling-back' },
        'Put the previous file back and restart the forwarder with it', rollingBack ? spinner() : null));
    }
    now.textContent = rollingBack ? `Putting the previous file back: ${p.reason}` : `${STEPS[at]?.[1](p) ?? 'Finished'}…`;
  }

  function finish({ ok, title, text, journal = [], problems = [], reasons = [] }) {
    now.hidden = true;
    heading.textContent = title;
    outcome.className = `outcome status ${ok ? 'ok' : 'error'}`;
    outcome.setAttribute('role', ok ? 'status' : 'alert');
    outcome.replaceChildren(h('p', {}, sentence(text)));
    const items = [...problems.map(problemText), ...reasons];
    if (items.length) outcome.append(h('ul', {}, items.map((t) => h('li', {}, t))));
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

  return {
    el,
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
      now.hidden = false;
      el.hidden = false;
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
        draw({ step: 'finished', version: out.version, settleSeconds, skipped: out.restarted ? [] : ['restarting', 'watching'] },
          { finished: true });
        finish({
          ok: true,
          title: 'Change applied',
          text: (out.restarted
            ? 'The packet forwarder runs with the new configuration.'
            : 'The new file is written. The forwarder is not run as a systemd unit here, so nothing was restarted.') +
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
        const d = e.details ?? {};
        const rolledBack = d.result === 'rolled-back';
        // A rollback went as far as the restart, or the watch; anything else stopped before a write.
        if (rolledBack) draw({ ...last, version: d.version, secondsLeft: null }, { failedAt: d.restarted ? 'watching' : 'restarting' });
        else steps.replaceChildren();
        finish({
          ok: false,
          title: rolledBack ? 'Change rolled back' : 'Change not applied',
          text: e.message,
          journal: Array.isArray(d.journal) ? d.journal : [],
          problems: Array.isArray(d.problems) && d.problems.some((p) => p.path) ? d.problems : [],
          reasons: refusalLines(d),
        });
        return rolledBack ? 'rolled-back' : 'refused';
      }
    },
    hide() {
      el.hidden = true;
    },
  };
}

// A field for how long the forwarder is watched after the restart.
export function settleField() {
  const id = `settle-${Math.random().toString(36).slice(2, 8)}`;
  const input = h('input', { id, type: 'text', inputmode: 'numeric', value: String(DEFAULT_SETTLE_SECONDS), class: 'short' });
  const wrap = h('div', { class: 'field settle' },
    h('label', { for: id }, 'Watch the forwarder after the restart (seconds)'), input,
    h('p', { class: 'hint' }, `If it stops or restarts within this time, the previous file is put back. 0 to ${MAX_SETTLE_SECONDS}.`));
  return {
    wrap,
    value() {
      const n = Number(input.value.trim());
      return Number.isInteger(n) && n >= 0 && n <= MAX_SETTLE_SECONDS ? n : DEFAULT_SETTLE_SECONDS;
    },
  };
}
