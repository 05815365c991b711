// The logs page: the journal of the forwarder or of SSH over a time range, of a severity, holding
// a phrase; the newest lines first, older ones on request, and while following each new line as
// it comes. The address may name the range and the phrase (/ui/logs?unit=&since=&until=&match=),
// so that other pages can link to a moment.

import * as api from '/ui/lib/api.js';
import { h, newId, statusLine } from '/ui/lib/dom.js';
import { isoFromLocalInput, localInputValue, localTimeText } from '/ui/lib/format.js';
import { entryText, matchesFilter, olderQuery, phraseSpans, priorityName, priorityTone } from '/ui/lib/journal.js';
import { MAX_LOG_LINES, MAX_SCANNED_LINES } from '/ui/lib/contract.js';

export const FOLLOW_MS = 2000;
// Lines kept on the page: a long journal must not make the page slow.
export const MAX_LINES = 3000;
const LINE_CHOICES = [100, 200, 500, 1000, MAX_LOG_LINES];
const RANGES = [['', 'Newest lines'], ['15', 'Last 15 minutes'], ['60', 'Last hour'], ['1440', 'Last day'], ['from', 'From a time…']];
const SEVERITIES = [['', 'All'], ['4', 'Warnings and worse'], ['3', 'Errors and worse']];

// The message with each place of the phrase marked, built from text nodes (never markup).
function messageParts(message, phrase) {
  const parts = [];
  let at = 0;
  for (const [start, end] of phraseSpans(message, phrase)) {
    parts.push(message.slice(at, start), h('mark', {}, message.slice(start, end)));
    at = end;
  }
  parts.push(message.slice(at));
  return parts;
}

function lineElement(entry, phrase) {
  return h('div', { class: `line ${priorityTone(entry.priority)}` },
    h('time', { datetime: entry.time }, localTimeText(entry.time)), ' ',
    h('span', { class: 'prio' }, priorityName(entry.priority)), ' ',
    h('span', { class: 'msg' }, messageParts(entry.message, phrase)));
}

const options = (list) => list.map(([value, label]) => h('option', { value }, label));

export function logsView(page) {
  const status = statusLine();
  const field = (label, control, cls = 'field') => {
    control.id = newId('f');
    return h('div', { class: cls }, h('label', { for: control.id }, label), control);
  };
  const unit = h('select', {}, h('option', { value: 'forwarder' }, 'Packet forwarder'), h('option', { value: 'ssh' }, 'SSH'));
  const range = h('select', {}, options(RANGES));
  const from = h('input', { type: 'datetime-local', step: '1' });
  const until = h('input', { type: 'datetime-local', step: '1' });
  const count = h('select', {}, LINE_CHOICES.map((n) => h('option', { value: String(n) }, String(n))));
  count.value = '200';
  const severity = h('select', {}, options(SEVERITIES));
  const phrase = h('input', { type: 'search', spellcheck: 'false', autocomplete: 'off', placeholder: 'e.g. acknowledged: 0.00' });
  const follow = h('button', { type: 'button', 'aria-pressed': 'false' }, 'Follow');
  const reload = h('button', { type: 'button' }, 'Reload');
  const download = h('button', { type: 'button' }, 'Download');
  const older = h('button', { type: 'button', hidden: true }, 'Load older');
  const shownCount = h('p', { class: 'hint', 'aria-live': 'polite' });
  const output = h('div', { class: 'log', role: 'log', tabindex: '0', 'aria-label': 'Log lines' });
  const times = h('div', { class: 'log-times', hidden: true }, field('From', from), field('Until (optional)', until));

  const el = h('section', { class: 'view', hidden: true },
    h('h1', { tabindex: '-1' }, page.title),
    h('p', { class: 'intro' }, 'The system journal of the packet forwarder or of the SSH server. A phrase is found as a whole, ' +
      'in any case unless it has capitals. Follow shows new lines as they are written; pausing keeps what is shown.'),
    h('div', { class: 'card log-controls' },
      field('Service', unit), field('Time', range), times, field('Last lines', count), field('Severity', severity),
      field('Phrase', phrase, 'field grow'),
      h('div', { class: 'actions' }, follow, reload, download)),
    status.el, h('div', { class: 'log-head' }, shownCount, older), output);

  let entries = [];
  let cursors = new Set();
  let cursor = null;
  let asked = null;
  let more = false;
  let following = false;
  let shown = false;
  let timer = null;
  let generation = 0;

  const atBottom = () => output.scrollHeight - output.scrollTop - output.clientHeight < 24;
  const wanted = () => phrase.value.trim();

  // The question the controls ask.
  function query() {
    const input = { unit: unit.value, lines: Number(count.value) };
    if (range.value === 'from') {
      const since = isoFromLocalInput(from.value);
      const end = isoFromLocalInput(until.value);
      if (since) input.since = since;
      if (end) input.until = end;
    } else if (range.value) {
      input.since = new Date(Date.now() - Number(range.value) * 60_000).toISOString();
    }
    if (severity.value) input.priority = Number(severity.value);
    if (wanted()) input.match = wanted();
    return input;
  }

  function countText() {
    const visible = output.querySelectorAll('.line:not([hidden])').length;
    const n = entries.length;
    const searched = asked?.match ?? '';
    let text = `${n} line${n === 1 ? '' : 's'}${n >= MAX_LINES ? ` (the latest ${MAX_LINES} are kept)` : ''}.`;
    if (wanted() !== searched) {
      text = wanted()
        ? `${visible} of ${n} lines hold the phrase (press Enter to search the whole range).`
        : `${n} lines hold “${searched}” (press Enter to show every line).`;
    }
    if (more && !entries.length) {
      text = `None of the newest ${MAX_SCANNED_LINES.toLocaleString('en')} lines of this range holds the phrase: choose an ` +
        'earlier time to look further.';
    }
    shownCount.textContent = text;
    older.hidden = !more || !entries.length || entries.length >= MAX_LINES;
  }

  function lines(list) {
    const fragment = document.createDocumentFragment();
    for (const entry of list) {
      if (cursors.has(entry.cursor)) continue;
      cursors.add(entry.cursor);
      const line = lineElement(entry, wanted());
      line.hidden = !matchesFilter(entry, wanted());
      fragment.append(line);
    }
    return fragment;
  }

  function append(list) {
    const stick = atBottom();
    const fresh = list.filter((e) => !cursors.has(e.cursor));
    output.append(lines(fresh));
    entries.push(...fresh);
    const excess = entries.length - MAX_LINES;
    if (excess > 0) {
      for (const e of entries.slice(0, excess)) cursors.delete(e.cursor);
      entries = entries.slice(excess);
      for (let i = 0; i < excess; i++) output.firstElementChild.remove();
    }
    if (stick) output.scrollTop = output.scrollHeight;
    countText();
  }

  function applyPhrase() {
    const lines = output.children;
    for (let i = 0; i < lines.length; i++) {
      lines[i].hidden = !matchesFilter(entries[i], wanted());
      lines[i].querySelector('.msg').replaceChildren(...messageParts(entries[i].message, wanted()));
    }
    countText();
  }

  async function load() {
    const mine = ++generation;
    clearTimeout(timer);
    status.busy('Reading the journal…');
    const input = query();
    try {
      const answer = await api.call('gateway/logs', input);
      if (mine !== generation) return;
      asked = input;
      entries = [];
      cursors = new Set();
      output.replaceChildren();
      cursor = answer.cursor;
      more = answer.more;
      status.clear();
      append(answer.entries);
      output.scrollTop = output.scrollHeight;
    } catch (e) {
      if (mine !== generation || e.authLost) return;
      status.error(`Could not read the journal: ${e.message}`);
    }
    schedule();
  }

  async function loadOlder() {
    const mine = generation;
    older.disabled = true;
    try {
      const answer = await api.call('gateway/logs', olderQuery(asked, entries));
      if (mine !== generation) return;
      const fresh = answer.entries.filter((e) => !cursors.has(e.cursor));
      const height = output.scrollHeight;
      output.prepend(lines(fresh));
      entries.unshift(...fresh);
      // What was on screen stays where it was.
      output.scrollTop += output.scrollHeight - height;
      more = answer.more;
      status.clear();
      countText();
    } catch (e) {
      if (mine !== generation || e.authLost) return;
      status.error(`Could not read older lines: ${e.message}`);
    } finally {
      older.disabled = false;
    }
  }

  async function poll() {
    const mine = generation;
    try {
      const input = { ...(asked ?? query()), lines: MAX_LOG_LINES };
      if (cursor) input.after = cursor;
      const answer = await api.call('gateway/logs', input);
      if (mine !== generation || !following) return;
      if (!cursor) {
        entries = [];
        cursors = new Set();
        output.replaceChildren();
        more = answer.more;
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

  function showRange() {
    times.hidden = range.value !== 'from';
    if (!times.hidden && !from.value) from.value = localInputValue(new Date(Date.now() - 3_600_000).toISOString());
  }

  // The range and phrase an address names; the controls stay as they were without one.
  function readAddress() {
    const params = new URLSearchParams(location.search);
    if (!['unit', 'since', 'until', 'match'].some((name) => params.has(name))) return;
    if (['forwarder', 'ssh'].includes(params.get('unit'))) unit.value = params.get('unit');
    const since = localInputValue(params.get('since'));
    const end = localInputValue(params.get('until'));
    range.value = since || end ? 'from' : '';
    from.value = since;
    until.value = end;
    phrase.value = params.get('match') ?? '';
    showRange();
  }

  follow.addEventListener('click', () => setFollowing(!following));
  reload.addEventListener('click', load);
  older.addEventListener('click', loadOlder);
  range.addEventListener('change', () => (showRange(), load()));
  for (const control of [unit, count, severity, from, until]) control.addEventListener('change', load);
  phrase.addEventListener('input', applyPhrase);
  phrase.addEventListener('keydown', (e) => e.key === 'Enter' && load());
  download.addEventListener('click', () => {
    const text = entries.filter((e) => matchesFilter(e, wanted())).map(entryText).join('\n');
    const blob = new Blob([text ? `${text}\n` : ''], { type: 'text/plain' });
    const a = h('a', { href: URL.createObjectURL(blob), download: `${unit.value}-${new Date().toISOString().replace(/[:.]/g, '-')}.log` });
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(a.href), 10_000);
  });
  document.addEventListener('visibilitychange', () => shown && schedule());

  return {
    el,
    show() {
      shown = true;
      readAddress();
      load();
    },
    hide() {
      shown = false;
      schedule();
    },
  };
}
