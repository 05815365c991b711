// The history of the forwarder's configuration: every version the gateway kept before it wrote
// the file, what each one is, compared with another or with the current file, downloaded, or
// restored. "/ui/history?compare=A,B" opens a comparison, "?restore=N" the restore of version N.

import { progressPanel, settleField } from '/ui/config/change.js';
import * as api from '/ui/lib/api.js';
import { h, sentence, statusLine, whileBusy } from '/ui/lib/dom.js';
import { bytesText, clockText, durationText, localTimeText } from '/ui/lib/format.js';
import { countChanges, diffLines } from '/ui/lib/linediff.js';
import { HISTORY_VERSIONS_KEPT } from '/ui/lib/contract.js';
import { diffView } from '/ui/widgets/diff-view.js';

// "apply", "patch (script)", "restore", "apply, rolled back": how the version came to be.
export function procedureText(procedure) {
  const m = /^forwarder-config\/(\w+)( \(rolled back\))?$/.exec(procedure ?? '');
  if (!m) return procedure || '–';
  const what = { apply: 'change applied', patch: 'patch (script)', restore: 'restore' }[m[1]] ?? m[1];
  return m[2] ? `${what}, rolled back` : what;
}

const plural = (n, what) => `${n} ${what}${n === 1 ? '' : 's'}`;

// What a kept version is, for its row: { text, note (or null), badges: [{ label, tone }] }.
// me: the signed-in user; current and lastGood: the history's numbers of the version equal to the
// file now and of the newest one the forwarder ran well with.
export function versionStory(v, { me = '', current = null, lastGood = null } = {}) {
  const badges = [
    ...(v.version === current ? [{ label: 'current', tone: 'ok' }] : []),
    ...(v.version === lastGood ? [{ label: 'last that ran well', tone: 'ok' }] : []),
  ];
  const who = !v.user ? 'a' : v.user === me ? 'your' : `${v.user}'s`;
  if (v.kind === 'before') {
    const how = /^forwarder-config\/(\w+)/.exec(v.procedure ?? '')?.[1];
    const change = how === 'restore'
      ? (v.restores !== null && v.restores !== undefined ? `restore of version ${v.restores}` : 'replacement of the whole file')
      : how === 'patch' ? 'patch' : 'change';
    const ran = v.ranSeconds !== null && v.ranSeconds !== undefined ? ` — ran ${durationText(v.ranSeconds)}` : '';
    return {
      text: `before ${who} ${change} at ${clockText(v.time)}${ran}`,
      note: v.ranWell === false ? 'The forwarder was not running well with it when it was replaced.' : null,
      badges,
    };
  }
  if (v.kind === 'rejected') {
    const changed = Array.isArray(v.changed) ? v.changed : [];
    const shown = changed.length > 3 ? [...changed.slice(0, 3), `${changed.length - 3} more`] : changed;
    return {
      text: `refused by the forwarder${shown.length ? `: ${shown.join(', ')} changed` : ''}`,
      note: v.reason ? sentence(`Why: ${v.reason}`) : null,
      badges,
    };
  }
  return { text: procedureText(v.procedure), note: null, badges };
}

// The two sides of a comparison in the order it reads, the older first: version numbers, and
// 'current' for the file on the gateway now, which is newer than any.
export function compareOrder(a, b) {
  const rank = (x) => (x === 'current' ? Infinity : Number(x));
  return rank(a) <= rank(b) ? [a, b] : [b, a];
}

// "?compare=3,5" or "?compare=3,current" as the two sides, or null.
export function compareQuery(search) {
  const m = /^(\d+|current),(\d+|current)$/.exec(new URLSearchParams(search).get('compare') ?? '');
  return m ? [m[1], m[2]].map((x) => (x === 'current' ? x : Number(x))) : null;
}

const sideText = (x) => (x === 'current' ? 'the current file' : `version ${x}`);

export function historyView(page) {
  const status = statusLine();
  const rows = h('tbody');
  const empty = h('p', { class: 'note', hidden: true }, 'No version yet: the gateway keeps one each time the file is written.');
  const settle = settleField();
  const table = h('div', { class: 'table-wrap' },
    h('table', { class: 'versions' },
      h('thead', {}, h('tr', {}, ...['Version', 'Kept', 'By', 'What it is', 'Size', ''].map((t) => h('th', { scope: 'col' }, t)))),
      rows));
  // Any two versions, or one and the current file.
  const pickA = h('select', { id: 'compare-a' });
  const pickB = h('select', { id: 'compare-b' });
  const picks = h('form', { class: 'compare-pick', 'aria-label': 'Compare two versions' },
    h('label', { for: pickA.id }, 'Compare'), pickA, h('label', { for: pickB.id }, 'with'), pickB,
    h('button', { type: 'submit' }, 'Compare'));
  const compareTitle = h('h2', { tabindex: '-1' });
  const compareSummary = h('p', {});
  // The file on the gateway changed between the comparison and the restore.
  const compareChanged = h('p', { class: 'notice warn', role: 'status', hidden: true },
    'The current file changed on the gateway since you compared it, so nothing was restored. This is the comparison ' +
    'with the file as it is now: restore again if you still want this version.');
  const compareBody = h('div', {});
  const compare = h('section', { class: 'card', hidden: true }, compareTitle, compareChanged, compareSummary, compareBody);
  const area = h('fieldset', { class: 'plain' }, picks, table, empty);

  // The restore asks first, with what it changes. The focus starts on Cancel: the key that
  // opened the dialog, pressed once more, restores nothing.
  const question = h('p', {});
  const restoreSummary = h('p', {});
  const restoreDiff = h('div', {});
  const dialog = h('dialog', { class: 'wide', 'aria-labelledby': 'restore-title' },
    h('form', { method: 'dialog' },
      h('h2', { id: 'restore-title' }, 'Restore this version?'),
      question, restoreSummary, restoreDiff,
      settle.wrap,
      h('div', { class: 'actions' }, h('button', { type: 'submit', class: 'primary', value: 'yes' }, 'Restore'),
        h('button', { type: 'submit', value: 'no', autofocus: true }, 'Cancel'))));

  const list = h('section', { class: 'card' }, h('p', { class: 'intro' },
    'Before it writes the forwarder\'s configuration, the gateway keeps the file as it was, comments and all. ' +
    `The newest ${HISTORY_VERSIONS_KEPT} versions are kept.`), area, status.el);
  const progress = progressPanel({
    onClose() {
      progress.hide();
      list.hidden = false;
      refresh();
    },
  });
  const el = h('section', { class: 'view', hidden: true }, h('h1', { tabindex: '-1' }, page.title),
    list, compare, progress.el, dialog);
  let versions = [];
  let facts = {};
  // The version the dialog offers, and the hash of the current file it was compared with: the
  // restore replaces that file only.
  let pending = null;

  const textOf = async (x) => (x === 'current' ? api.call('forwarder-config/text')
    : { text: (await api.call('forwarder-config/version', { version: x })).text });

  // a and b: version numbers or 'current'. Answers whether the comparison is shown.
  async function showCompare(a, b, { changed = false } = {}) {
    const [older, newer] = compareOrder(a, b);
    pickA.value = String(older);
    pickB.value = String(newer);
    status.busy(`Comparing ${sideText(older)} with ${sideText(newer)}…`);
    try {
      const [from, to] = await whileBusy(area, () => Promise.all([textOf(older), textOf(newer)]));
      const diff = diffLines(from.text, to.text);
      const { added, removed } = countChanges(diff);
      const title = `${sideText(older)} compared with ${sideText(newer)}`;
      compareTitle.textContent = title[0].toUpperCase() + title.slice(1);
      compareSummary.textContent = added + removed === 0 ? 'The two are the same.'
        : newer === 'current'
          ? `Restoring version ${older} takes out the ${plural(added, 'line')} marked + and puts back the ${removed} marked −.`
          : `From version ${older} to version ${newer}: ${plural(removed, 'line')} out (−), ${added} in (+).`;
      compareBody.replaceChildren(diffView(diff));
      compareChanged.hidden = !changed;
      compare.hidden = false;
      status.clear();
      compareTitle.focus();
      return true;
    } catch (e) {
      if (!e.authLost) status.error(`Could not compare: ${e.message}`);
      return false;
    }
  }
  picks.addEventListener('submit', (event) => {
    event.preventDefault();
    const value = (pick) => (pick.value === 'current' ? 'current' : Number(pick.value));
    showCompare(value(pickA), value(pickB));
  });

  async function download(v) {
    try {
      const { text } = await textOf(v.version);
      const a = h('a', { href: URL.createObjectURL(new Blob([text], { type: 'application/json' })), download: `global_conf.version-${v.version}.json` });
      a.click();
      setTimeout(() => URL.revokeObjectURL(a.href), 1000);
    } catch (e) {
      if (!e.authLost) status.error(`Could not download version ${v.version}: ${e.message}`);
    }
  }

  // The dialog shows what the restore changes in the current file before it is confirmed.
  async function offerRestore(v) {
    if (dialog.open) return;
    status.busy(`Comparing version ${v.version} with the current file…`);
    try {
      const [kept, now] = await whileBusy(area, () => Promise.all([textOf(v.version), textOf('current')]));
      const diff = diffLines(now.text, kept.text);
      const { added, removed } = countChanges(diff);
      question.textContent = `The file kept as version ${v.version} (${versionStory(v, { me: api.user() }).text}, kept ` +
        `${localTimeText(v.time)}) replaces the current one, byte for byte. The current file is kept in the history ` +
        'first; the forwarder is restarted and watched, and the current file comes back if it does not keep running.';
      restoreSummary.textContent = added + removed === 0
        ? 'The current file is the same as this version: restoring it only restarts the forwarder.'
        : `What changes in the current file: ${plural(removed, 'line')} out (−), ${added} in (+).`;
      restoreDiff.replaceChildren(diffView(diff));
      pending = { v, base: now.hash };
      status.clear();
      dialog.returnValue = '';
      dialog.showModal();
    } catch (e) {
      if (!e.authLost) status.error(`Could not compare version ${v.version} with the current file: ${e.message}`);
    }
  }

  function row(v) {
    const button = (text, label, f) => h('button', { type: 'button', class: 'quiet', 'aria-label': `${label} version ${v.version}`, onclick: f }, text);
    const story = versionStory(v, { me: api.user(), ...facts });
    return h('tr', {},
      h('th', { scope: 'row' }, String(v.version)),
      h('td', { 'data-label': 'Kept' }, localTimeText(v.time)),
      h('td', { 'data-label': 'By' }, `${v.user || 'unknown'}${v.peer ? ` from ${v.peer}` : ''}`),
      h('td', { 'data-label': 'What it is' }, story.badges.map((b) => [h('span', { class: `badge ${b.tone}` }, b.label), ' ']),
        story.text, story.note ? h('small', { class: 'why' }, story.note) : null),
      h('td', { 'data-label': 'Size' }, bytesText(v.size)),
      h('td', { class: 'row-actions' },
        button('Compare', 'Compare', () => showCompare(v.version, 'current')),
        button('Download', 'Download', () => download(v)),
        button('Restore…', 'Restore', () => offerRestore(v))));
  }

  dialog.addEventListener('close', async () => {
    const p = pending;
    pending = null;
    if (!p || dialog.returnValue !== 'yes') return;
    // A time to watch out of range keeps the dialog open, saying so.
    if (settle.refuse()) {
      pending = p;
      dialog.showModal();
      return;
    }
    list.hidden = true;
    compare.hidden = true;
    const ended = await progress.run(() => api.call('forwarder-config/restore', { version: p.v.version, ...settle.watch(), base: p.base }),
      settle.value());
    if (ended === 'auth-lost') list.hidden = false;
    if (ended === 'stale') {
      list.hidden = false;
      await showCompare(p.v.version, 'current', { changed: true });
    }
  });

  // Answers whether the list is shown.
  async function refresh() {
    status.busy('Loading the history…');
    try {
      const answer = await whileBusy(area, () => api.call('forwarder-config/history'));
      versions = answer.versions;
      facts = { current: answer.current ?? null, lastGood: answer.lastGood ?? null };
      rows.replaceChildren(...versions.map(row));
      const options = () => [h('option', { value: 'current' }, 'the current file'),
        ...versions.map((v) => h('option', { value: String(v.version) }, `version ${v.version}`))];
      const [a, b] = [pickA.value, pickB.value];
      pickA.replaceChildren(...options());
      pickB.replaceChildren(...options());
      pickA.value = a || String(versions[0]?.version ?? 'current');
      pickB.value = b || 'current';
      table.hidden = !versions.length;
      picks.hidden = !versions.length;
      empty.hidden = versions.length > 0;
      status.clear();
      return true;
    } catch (e) {
      if (e.authLost) status.clear();
      else status.error(`Could not load the history: ${e.message}`);
      return false;
    }
  }

  return {
    el,
    async show() {
      progress.hide();
      list.hidden = false;
      compare.hidden = true;
      const search = location.search;
      const restore = Number(new URLSearchParams(search).get('restore'));
      const sides = compareQuery(search);
      if (!(await refresh()) || el.hidden) return;
      if (sides) await showCompare(...sides);
      if (Number.isInteger(restore) && restore > 0) {
        // Once offered, the address no longer asks: a reload does not offer it again.
        history.replaceState(null, '', '/ui/history');
        const v = versions.find((x) => x.version === restore);
        if (v) offerRestore(v);
        else status.error(`There is no version ${restore} in the history`);
      }
    },
  };
}
