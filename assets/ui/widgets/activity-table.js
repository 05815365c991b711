// The audit trail as the pages show it: what was done, by whom, from where, and how it ended.

import { h } from '/ui/lib/dom.js';
import { localTimeText } from '/ui/lib/format.js';

const ACTIONS = {
  'sign-in': 'Sign in',
  'password-change': 'Change the password',
  'ssh-start': 'Enable SSH',
  'ssh-stop': 'Disable SSH',
  'config-patch': 'Change the configuration',
  'config-apply': 'Apply a configuration',
  'config-replace': 'Apply an edited file',
  'config-restore': 'Restore a configuration',
  'config-rollback': 'Roll back the configuration',
  'config-recover': 'Finish an interrupted change',
  'metrics-key-create': 'Create a metrics key',
  'metrics-key-revoke': 'Revoke a metrics key',
};

// What the version of a row is: a change names the version that kept the file it replaced, a
// restore the version it put back.
const KEPT = (what, v) => `${what} (the file before is version ${v})`;
const WITH_VERSION = {
  'config-patch': KEPT,
  'config-apply': KEPT,
  'config-replace': KEPT,
  'config-restore': (what, v) => `Restore version ${v}`,
  'config-rollback': (what, v) => `Roll back to version ${v}`,
};

// The table's own entry: a name such as "constructor" is no action of these tables.
const own = (table, key) => (Object.hasOwn(table, key) ? table[key] : undefined);

// An action the page does not know yet is shown as the gateway names it, with what it was done
// to. A row that stands for repeated attempts says how many.
export function actionText(entry) {
  const named = own(ACTIONS, entry.action) ?? String(entry.action);
  const what = typeof entry.subject === 'string' ? `${named} "${entry.subject}"` : named;
  const times = entry.count > 1 ? `, ${entry.count} times until ${localTimeText(entry.lastTime)}` : '';
  if (entry.version === null || entry.version === undefined) return what + times;
  const withVersion = own(WITH_VERSION, entry.action);
  return (withVersion ? withVersion(what, entry.version) : `${what} (version ${entry.version})`) + times;
}

export function outcomeBadge(outcome) {
  if (outcome === 'success') return { label: 'done', tone: 'ok' };
  if (outcome === 'failure') return { label: 'failed', tone: 'bad' };
  if (outcome === 'pending') return { label: 'under way', tone: 'muted' };
  if (outcome === 'interrupted') return { label: 'interrupted', tone: 'bad' };
  return { label: String(outcome), tone: 'muted' };
}

function row(entry) {
  const b = outcomeBadge(entry.outcome);
  return h('tr', {},
    h('td', { 'data-label': 'When' }, h('time', { datetime: entry.time }, localTimeText(entry.time))),
    h('td', { 'data-label': 'What' }, actionText(entry)),
    h('td', { 'data-label': 'Outcome' }, h('span', { class: `badge ${b.tone}` }, b.label)),
    h('td', { 'data-label': 'User' }, entry.user),
    h('td', { 'data-label': 'From' }, h('code', {}, entry.peer)));
}

// A table of entries, newest first; more rows can be added to its body later.
export function activityTable(entries, caption) {
  const body = h('tbody', {}, entries.map(row));
  const table = h('table', { class: 'activity' },
    h('caption', { class: 'sr-only' }, caption),
    h('thead', {}, h('tr', {}, ['When', 'What', 'Outcome', 'User', 'From'].map((t) => h('th', { scope: 'col' }, t)))),
    body);
  return { el: h('div', { class: 'table-wrap' }, table), add: (more) => body.append(...more.map(row)) };
}
