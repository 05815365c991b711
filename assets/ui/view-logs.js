// The logs page: the journal of the forwarder or of SSH, the last lines and then, while following,
// each new line as it comes, filtered and coloured by severity.

import * as api from '/ui/api.js';
import { h, newId, statusLine } from '/ui/dom.js';
import { entryText, localTimeText, matchesFilter, priorityName, priorityTone } from '/ui/gateway.js';

export const FOLLOW_MS = 2000;
// Lines kept on the page: a long journal must not make the page slow.
export const MAX_LINES = 3000;
const LINE_CHOICES = [100, 200, 500, 1000, 2000];

function lineElement(entry) {
  return h('div', { class: `line ${priorityTone(entry.priority)}` },
    h('time', { datetime: entry.time }, localTimeText(entry.time)), ' ',
    h('span', { class: 'prio' }, priorityName(entry.priority)), ' ',
    h('span', { class: 'msg' }, entry.message));
}

export function logsView() {
  const status = statusLine();
  const unitId = newId('f');
  const linesId = newId('f');
  const filterId = newId('f');
  const unit = h('select', { id: unitId },
    h('option', { value: 'forwarder' }, 'Packet forwarder'), h('option', { value: 'ssh' }, 'SSH'));
  const count = h('select', { id: linesId }, LINE_CHOICES.map((n) => h('option', { value: String(n) }, String(n))));
  count.value = '200';
  const filter = h('input', { id: filterId, type: 'search', spellcheck: 'false', autocomplete: 'off', placeholder: 'words to look for' });
  const follow = h('button', { type: 'button', 'aria-pressed': 'false' }, 'Follow');
  const reload = h('button', { type: 'button' }, 'Reload');
  const download = h('button', { type: 'button' }, 'Download');
  const shownCount = h('p', { class: 'hint', 'aria-live': 'polite' });
  const output = h('div', { class: 'log', role: 'log', tabindex: '0', 'aria-label': 'Log lines' });

  const el = h('section', { class: 'view', hidden: true },
    h('h1', { tabindex: '-1' }, 'Logs'),
    h('p', { class: 'intro' }, 'The system journal of the packet forwarder or of the SSH server. Follow shows new lines as ' +
      'they are written; pausing keeps what is shown.'),
    h('div', { class: 'card log-controls' },
      h('div', { class: 'field' }, h('label', { for: unitId }, 'Service'), unit),
      h('div', { class: 'field' }, h('label', { for: linesId }, 'Last lines'), count),
      h('div', { class: 'field grow' }, h('label', { for: filterId }, 'Filter'), filter),
      h('div', { class: 'actions' }, follow, reload, download)),
    status.el, shownCount, output);

  let entries = [];
  let cursor = null;
  let following = false;
  let shown = false;
  let timer = null;
  let generation = 0;

  const atBottom = () => output.scrollHeight - output.scrollTop - output.clientHeight < 24;

  function countText() {
    const visible = output.querySelectorAll('.line:not([hidden])').length;
    shownCount.textContent = filter.value.trim()
      ? `${visible} of ${entries.length} lines match the filter.`
      : `${entries.length} lines${entries.length >= MAX_LINES ? ` (the latest ${MAX_LINES} are kept)` : ''}.`;
  }

  function append(list) {
    const stick = atBottom();
    const words = filter.value;
    const fragment = document.createDocumentFragment();
    for (const entry of list) {
      const line = lineElement(entry);
      line.hidden = !matchesFilter(entry, words);
      fragment.append(line);
    }
    output.append(fragment);
    entries.push(...list);
    const excess = entries.length - MAX_LINES;
    if (excess > 0) {
      entries = entries.slice(excess);
      for (let i = 0; i < excess; i++) output.firstElementChild.remove();
    }
    if (stick) output.scrollTop = output.scrollHeight;
    countText();
  }

  function applyFilter() {
    const words = filter.value;
    const lines = output.children;
    for (let i = 0; i < lines.length; i++) lines[i].hidden = !matchesFilter(entries[i], words);
    countText();
  }

  async function load() {
    const mine = ++generation;
    clearTimeout(timer);
    status.busy('Reading the journal…');
    try {
      const answer = await api.call('gateway/logs', { unit: unit.value, lines: Number(count.value) });
      if (mine !== generation) return;
      entries = [];
      output.replaceChildren();
      cursor = answer.cursor;
      status.clear();
      append(answer.entries);
      output.scrollTop = output.scrollHeight;
    } catch (e) {
      if (mine !== generation || e.authLost) return;
      status.error(`Could not read the journal: ${e.message}`);
    }
    schedule();
  }

  async function poll() {
    const mine = generation;
    try {
      const input = { unit: unit.value, lines: 2000 };
      if (cursor) input.after = cursor;
      const answer = await api.call('gateway/logs', input);
      if (mine !== generation || !following) return;
      if (!cursor) {
        entries = [];
        output.replaceChildren();
      }
      cursor = answer.cursor;
      status.clear();
      append(answer.entries);
    } catch (e) {
      if (mine !== generation || e.authLost) return;
      status.error(`Following stopped for a moment: ${e.message}`);
    }
    schedule();
  }

  function schedule() {
    clearTimeout(timer);
    timer = following && shown && !document.hidden ? setTimeout(poll, FOLLOW_MS) : null;
  }

  function setFollowing(on) {
    following = on;
    follow.setAttribute('aria-pressed', String(on));
    follow.textContent = on ? 'Pause' : 'Follow';
    follow.classList.toggle('primary', on);
    schedule();
  }

  follow.addEventListener('click', () => setFollowing(!following));
  reload.addEventListener('click', load);
  unit.addEventListener('change', load);
  count.addEventListener('change', load);
  filter.addEventListener('input', applyFilter);
  download.addEventListener('click', () => {
    const words = filter.value;
    const text = entries.filter((e) => matchesFilter(e, words)).map(entryText).join('\n');
    const blob = new Blob([text ? `${text}\n` : ''], { type: 'text/plain' });
    const a = h('a', { href: URL.createObjectURL(blob), download: `${unit.value}-${new Date().toISOString().replace(/[:.]/g, '-')}.log` });
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(a.href), 10_000);
  });
  document.addEventListener('visibilitychange', () => shown && schedule());

  return {
    path: '/ui/logs',
    title: 'Logs',
    el,
    show() {
      shown = true;
      load();
    },
    hide() {
      shown = false;
      schedule();
    },
  };
}
