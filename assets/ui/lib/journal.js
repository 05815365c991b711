// The journal as the Logs page reads it: priorities and their tones, a phrase found in a line,
// the question for older lines, and the page's address for a moment of the forwarder's log.

import { MAX_LOG_LINES } from '/ui/lib/contract.js';

// Journal priorities, 0 to 7, and how a line of each is shown.
const PRIORITIES = ['emerg', 'alert', 'crit', 'err', 'warning', 'notice', 'info', 'debug'];
export const priorityName = (p) => (Number.isInteger(p) && p >= 0 && p < 8 ? PRIORITIES[p] : 'info');
export function priorityTone(p) {
  if (!Number.isInteger(p)) return 'info';
  if (p <= 3) return 'bad';
  if (p === 4) return 'warn';
  if (p === 5) return 'notice';
  return p === 7 ? 'debug' : 'info';
}

// A journal entry as a line of the downloaded file.
export const entryText = (e) => `${e.time} ${priorityName(e.priority).padEnd(7)} ${e.message}`;

// Where a phrase is in a text, as gateway/logs looks for it: as a whole, in any case when it has
// no capital letter (A to Z), in exactly its case when it has one. Answers [start, end] of each
// place, none for an empty phrase.
export function phraseSpans(text, phrase) {
  if (!phrase) return [];
  const hay = /[A-Z]/.test(phrase) ? text : text.replace(/[A-Z]+/g, (m) => m.toLowerCase());
  const spans = [];
  for (let at = hay.indexOf(phrase); at >= 0; at = hay.indexOf(phrase, at + phrase.length)) spans.push([at, at + phrase.length]);
  return spans;
}

// Whether an entry holds the phrase (every entry does when there is none).
export const matchesFilter = (entry, phrase) => !phrase || phraseSpans(entry.message, phrase).length > 0;

// The question for the lines before those held (oldest first): the same one up to the oldest
// time shown, with room for the lines of that very millisecond already held, which come again.
export function olderQuery(asked, entries) {
  const until = entries[0].time;
  let held = 0;
  while (held < entries.length && entries[held].time === until) held++;
  return { ...asked, until, lines: Math.min(MAX_LOG_LINES, asked.lines + held) };
}

// The Logs page on the forwarder's log, from and up to ISO times (either may be missing).
export function logsHref({ since, until } = {}) {
  const q = new URLSearchParams({ unit: 'forwarder' });
  if (since) q.set('since', since);
  if (until) q.set('until', until);
  return `/ui/logs?${q}`;
}

// The log around a report: the two intervals before it and the one after it.
export function reportLogsHref(iso, intervalSeconds) {
  const t = Date.parse(iso);
  const at = (ms) => new Date(t + ms).toISOString().replace('.000Z', 'Z');
  return logsHref({ since: at(-2000 * intervalSeconds), until: at(1000 * intervalSeconds) });
}
