// The history of the forwarder's configuration: every version the gateway kept before it wrote
// the file, compared with the current file, downloaded, or restored.

import * as api from '/ui/api.js';
import { progressPanel, settleField } from '/ui/change.js';
import { diffView } from '/ui/diff-view.js';
import { h, statusLine, whileBusy } from '/ui/dom.js';
import { bytesText, localTimeText } from '/ui/gateway.js';
import { countChanges, diffLines } from '/ui/linediff.js';

// "apply", "patch (script)", "restore", "apply, rolled back": how the version came to be.
export function procedureText(procedure) {
  const m = /^forwarder-config\/(\w+)( \(rolled back\))?$/.exec(procedure ?? '');
  if (!m) return procedure || '–';
  const what = { apply: 'change applied', patch: 'patch (script)', restore: 'restore' }[m[1]] ?? m[1];
  return m[2] ? `${what}, rolled back` : what;
}

export function historyView() {
  const status = statusLine();
  const rows = h('tbody');
  const empty = h('p', { class: 'note', hidden: true }, 'No version yet: the gateway keeps one each time the file is written.');
  const settle = settleField();
  const table = h('div', { class: 'table-wrap' },
    h('table', { class: 'versions' },
      h('thead', {}, h('tr', {}, ...['Version', 'Kept', 'By', 'How', 'Size', ''].map((t) => h('th', { scope: 'col' }, t)))),
      rows));
  const compareTitle = h('h2', { tabindex: '-1' });
  const compareSummary = h('p', {});
  // The file on the gateway changed between the comparison and the restore.
  const compareChanged = h('p', { class: 'notice warn', role: 'status', hidden: true },
    'The current file changed on the gateway since you compared it, so nothing was restored. This is the comparison ' +
    'with the file as it is now: restore again if you still want this version.');
  const compareBody = h('div', {});
  const compare = h('section', { class: 'card', hidden: true }, compareTitle, compareChanged, compareSummary, compareBody);
  const area = h('fieldset', { class: 'plain' }, table, empty);

  const question = h('p', {});
  const dialog = h('dialog', { 'aria-labelledby': 'restore-title' },
    h('form', { method: 'dialog' },
      h('h2', { id: 'restore-title' }, 'Restore this version?'),
      question,
      settle.wrap,
      h('div', { class: 'actions' }, h('button', { type: 'submit', class: 'primary', value: 'yes' }, 'Restore'),
        h('button', { type: 'submit', value: 'no' }, 'Cancel'))));

  const list = h('section', { class: 'card' }, h('p', { class: 'intro' },
    'Before it writes the forwarder\'s configuration, the gateway keeps the file as it was, comments and all. ' +
    'The newest 50 versions are kept.'), area, status.el);
  const progress = progressPanel({
    onClose() {
      progress.hide();
      list.hidden = false;
      refresh();
    },
  });
  const el = h('section', { class: 'view', hidden: true }, h('h1', { tabindex: '-1' }, 'Configuration history'),
    list, compare, progress.el, dialog);
  let pending = null;
  // The version last compared, and the hash of the current file it was compared with: a restore
  // replaces that file only.
  let compared = null;

  const versionText = async (n) => (await api.call('forwarder-config/version', { version: n })).text;

  // Answers whether the comparison is shown.
  async function showCompare(v, { changed = false } = {}) {
    status.busy(`Comparing version ${v.version} with the current file…`);
    try {
      const [old, current] = await whileBusy(area, () => Promise.all([versionText(v.version), api.call('forwarder-config/text')]));
      const diff = diffLines(old, current.text);
      const { added, removed } = countChanges(diff);
      compareTitle.textContent = `Version ${v.version} compared with the current file`;
      compareSummary.textContent = added + removed === 0
        ? 'The current file is the same as this version.'
        : `Restoring it takes out the ${added} line${added === 1 ? '' : 's'} marked + and puts back the ${removed} marked −.`;
      compareBody.replaceChildren(diffView(diff));
      compareChanged.hidden = !changed;
      compare.hidden = false;
      compared = { version: v.version, hash: current.hash };
      status.clear();
      compareTitle.focus();
      return true;
    } catch (e) {
      if (!e.authLost) status.error(`Could not compare: ${e.message}`);
      return false;
    }
  }

  async function download(v) {
    try {
      const text = await versionText(v.version);
      const a = h('a', { href: URL.createObjectURL(new Blob([text], { type: 'application/json' })), download: `global_conf.version-${v.version}.json` });
      a.click();
      setTimeout(() => URL.revokeObjectURL(a.href), 1000);
    } catch (e) {
      if (!e.authLost) status.error(`Could not download version ${v.version}: ${e.message}`);
    }
  }

  function row(v) {
    const button = (text, label, f) => h('button', { type: 'button', class: 'quiet', 'aria-label': `${label} version ${v.version}`, onclick: f }, text);
    return h('tr', {},
      h('th', { scope: 'row' }, String(v.version)),
      h('td', { 'data-label': 'Kept' }, localTimeText(v.time)),
      h('td', { 'data-label': 'By' }, `${v.user || 'unknown'}${v.peer ? ` from ${v.peer}` : ''}`),
      h('td', { 'data-label': 'How' }, procedureText(v.procedure)),
      h('td', { 'data-label': 'Size' }, bytesText(v.size)),
      h('td', { class: 'row-actions' },
        button('Compare', 'Compare', () => showCompare(v)),
        button('Download', 'Download', () => download(v)),
        button('Restore…', 'Restore', async () => {
          // The version is restored over the file it was compared with, so the comparison comes first.
          if (compared?.version !== v.version || compare.hidden) {
            if (!(await showCompare(v))) return;
          }
          pending = v;
          question.textContent = `The file kept as version ${v.version} (${localTimeText(v.time)}) replaces the current ` +
            'one, byte for byte. The current file is kept in the history first; the forwarder is restarted and watched, ' +
            'and the current file comes back if it does not keep running.';
          dialog.returnValue = '';
          dialog.showModal();
        })));
  }

  dialog.addEventListener('close', async () => {
    const v = pending;
    pending = null;
    if (!v || dialog.returnValue !== 'yes') return;
    list.hidden = true;
    compare.hidden = true;
    const seconds = settle.value();
    const base = compared.hash;
    const ended = await progress.run(() => api.call('forwarder-config/restore', { version: v.version, settleSeconds: seconds, base }),
      seconds);
    if (ended === 'auth-lost') list.hidden = false;
    if (ended === 'stale') {
      list.hidden = false;
      await showCompare(v, { changed: true });
    }
  });

  async function refresh() {
    status.busy('Loading the history…');
    try {
      const { versions } = await whileBusy(area, () => api.call('forwarder-config/history'));
      rows.replaceChildren(...versions.map(row));
      table.hidden = !versions.length;
      empty.hidden = versions.length > 0;
      status.clear();
    } catch (e) {
      if (e.authLost) status.clear();
      else status.error(`Could not load the history: ${e.message}`);
    }
  }

  return {
    path: '/ui/history',
    title: 'Configuration history',
    el,
    show() {
      progress.hide();
      list.hidden = false;
      compare.hidden = true;
      compared = null;
      refresh();
    },
  };
}
