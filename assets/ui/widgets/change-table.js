// A table of changes in the operator's words: the setting, what it is, what it becomes.

import { h } from '/ui/lib/dom.js';

// rows: [{ label, from, to, mine }] (mine: the operator changed the setting too); now and next head
// the columns of what it is and what it becomes.
export function changeTable(rows, [now, next] = ['Now', 'After applying']) {
  return h('div', { class: 'table-wrap' },
    h('table', { class: 'changes' },
      h('thead', {}, h('tr', {}, h('th', { scope: 'col' }, 'Setting'), h('th', { scope: 'col' }, now),
        h('th', { scope: 'col' }, next))),
      h('tbody', {}, rows.map((r) => h('tr', {},
        h('th', { scope: 'row' }, r.label, r.mine ? h('small', {}, ' (you changed it too: your value is kept)') : null),
        h('td', { 'data-label': now }, r.from),
        h('td', { 'data-label': next }, r.to))))));
}
