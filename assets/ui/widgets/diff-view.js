// A line diff on the page: hunks of lines, each marked added, removed or the same.

import { h } from '/ui/lib/dom.js';
import { hunks } from '/ui/lib/linediff.js';

// Lines of a diff as the page shows them: hunks of lines marked added or removed.
export function diffView(diff) {
  const parts = hunks(diff);
  if (!parts.length) return h('p', { class: 'hint' }, 'The texts are the same.');
  return h('div', { class: 'diff', tabindex: '0' }, parts.map((part) => h('pre', {}, part.lines.map((d) =>
    h('span', { class: d.kind === '+' ? 'add' : d.kind === '-' ? 'del' : 'same' },
      h('span', { class: 'ln', 'aria-hidden': 'true' }, String(d.kind === '+' ? d.b : d.a)), `${d.kind} ${d.text}`)))));
}
