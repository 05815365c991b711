// The activity page: every sign-in and change the gateway has recorded, newest first, a page at
// a time.

import * as api from '/ui/lib/api.js';
import { h, statusLine, whileBusy } from '/ui/lib/dom.js';
import { AUDIT_ROWS_KEPT } from '/ui/lib/contract.js';
import { activityTable } from '/ui/widgets/activity-table.js';

export const PAGE_ROWS = 50;

export function activityView(page) {
  const status = statusLine();
  const list = h('div', {});
  const older = h('button', { type: 'button', hidden: true }, 'Show older');
  const area = h('fieldset', { class: 'plain' }, h('div', { class: 'actions' }, older));
  const el = h('section', { class: 'view', hidden: true },
    h('h1', { tabindex: '-1' }, page.title),
    h('p', { class: 'intro' }, 'Every sign-in, password change, SSH switch and configuration change, with who did ' +
      `it and from which address. The gateway keeps the last ${AUDIT_ROWS_KEPT.toLocaleString('en')}.`),
    h('div', { class: 'card' }, status.el, list, area));

  let table = null;
  let last = null;
  let generation = 0;

  async function load(before) {
    const mine = generation;
    const output = await api.call('audit/list', before ? { limit: PAGE_ROWS, before } : { limit: PAGE_ROWS });
    if (mine !== generation) return;
    const entries = output.entries;
    if (!table) {
      table = activityTable(entries, 'Recorded activity, newest first');
      list.replaceChildren(entries.length ? table.el : h('p', { class: 'note' }, 'Nothing has been recorded yet.'));
    } else {
      table.add(entries);
    }
    if (entries.length) last = entries[entries.length - 1].id;
    older.hidden = !output.more;
  }

  async function run(step) {
    status.busy('Asking the gateway…');
    try {
      await whileBusy(area, step);
      status.clear();
    } catch (e) {
      if (e.authLost) return status.clear();
      status.error(`Could not read the activity: ${e.message}`);
    }
  }

  older.addEventListener('click', () => run(() => load(last)));

  return {
    el,
    show() {
      generation += 1;
      table = null;
      last = null;
      run(() => load(null));
    },
  };
}
