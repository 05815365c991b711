// The file's own text, comments and all, for everything the form does not cover and for a file
// that does not parse: a text box with line numbers, Tab to indent, and a way to the error.
// It stays a textarea, so the browser's own search, undo and text tools keep working.

import * as api from '/ui/api.js';
import { replaceWholeFile } from '/ui/change.js';
import { h, newId, setFieldError } from '/ui/dom.js';
import { gatewayIdInText } from '/ui/forwarder.js';
import { parseConfigText } from '/ui/jsonc.js';
import { countChanges, diffLines } from '/ui/linediff.js';
import { describeChanges } from '/ui/review.js';
import { checkConfig, problemText } from '/ui/rules.js';

// The gateway's parser reports "input(3, 31) Error: …" with a column that counts from 0.
export function brokenFileText(file, consequence) {
  const e = file.error;
  return `The file on the gateway does not parse (line ${e.line}, column ${e.column + 1}: ` +
    `${e.message.replace(/^input\(\d+, \d+\) Error: /, '')}), so ${consequence}`;
}

// Where line (from 1) and column (from 0) are in the text.
export function offsetOf(text, line, column) {
  const lines = text.split('\n');
  return lines.slice(0, line - 1).reduce((n, l) => n + l.length + 1, 0) + Math.min(column, (lines[line - 1] ?? '').length);
}

// The file's own step of indentation: a tab, or the fewest spaces a line is indented by.
export function indentUnit(text) {
  if (/^\t/m.test(text)) return '\t';
  const widths = (text.match(/^ +(?=\S)/gm) ?? []).map((s) => s.length);
  const fewest = widths.reduce((a, b) => Math.min(a, b), Infinity);
  return ' '.repeat(Number.isFinite(fewest) ? fewest : 2);
}

// Lines indented one step more, or one step less (outdent); empty lines stay empty.
export function indentLines(block, unit, outdent) {
  const less = new RegExp(`^(\\t| {1,${unit === '\t' ? 4 : unit.length}})`);
  return block.split('\n').map((line) => (outdent ? line.replace(less, '') : line && unit + line)).join('\n');
}

// A textarea with a gutter of line numbers that scrolls with it.
function codeArea(attrs) {
  const textarea = h('textarea', { ...attrs, spellcheck: 'false', autocomplete: 'off', wrap: 'off', rows: '28' });
  const numbers = h('span', {});
  const mark = h('span', { class: 'mark', hidden: true });
  const gutter = h('div', { class: 'gutter', 'aria-hidden': 'true' }, mark, numbers);
  let count = 0;
  // Escape, then Tab, leaves the box: without it Tab would keep the keyboard inside.
  let leaving = false;

  const lineHeight = () => parseFloat(getComputedStyle(textarea).lineHeight);
  function renumber() {
    const n = textarea.value.split('\n').length;
    if (n !== count) {
      count = n;
      // Room below the last number for the box's horizontal scroll bar.
      numbers.textContent = `${Array.from({ length: n }, (_, i) => i + 1).join('\n')}\n\n`;
      // The gutter takes no height from its numbers (it is as tall as the box), so its width is set.
      gutter.style.width = `calc(${String(n).length}ch + 16px)`;
    }
    gutter.scrollTop = textarea.scrollTop;
  }
  function edit(start, end, text) {
    textarea.focus();
    textarea.setSelectionRange(start, end);
    // insertText keeps the browser's undo; setRangeText is what is left where it is missing.
    if (!document.execCommand('insertText', false, text)) {
      textarea.setRangeText(text, start, end, 'end');
      textarea.dispatchEvent(new Event('input', { bubbles: true }));
    }
  }
  function indent(outdent) {
    const { value, selectionStart: s, selectionEnd: e } = textarea;
    const unit = indentUnit(value);
    if (s === e && !outdent) return edit(s, e, unit);
    // Whole lines: from the start of the first to the end of the last the selection touches.
    const from = value.lastIndexOf('\n', s - 1) + 1;
    const last = e > s && value[e - 1] === '\n' ? e - 1 : e;
    const to = value.indexOf('\n', last) < 0 ? value.length : value.indexOf('\n', last);
    const block = indentLines(value.slice(from, to), unit, outdent);
    edit(from, to, block);
    const caret = Math.max(from, s - (to - from - block.length));
    if (s !== e) textarea.setSelectionRange(from, from + block.length);
    else textarea.setSelectionRange(caret, caret);
  }

  textarea.addEventListener('keydown', (event) => {
    if (event.key === 'Escape') leaving = true;
    else if (event.key === 'Tab' && !leaving && !event.ctrlKey && !event.altKey && !event.metaKey) {
      event.preventDefault();
      indent(event.shiftKey);
    } else if (event.key !== 'Shift') leaving = false;
  });
  textarea.addEventListener('input', renumber);
  textarea.addEventListener('scroll', renumber);

  return {
    el: h('div', { class: 'code' }, gutter, textarea),
    textarea,
    set(text) {
      textarea.value = text;
      mark.hidden = true;
      renumber();
    },
    // Puts the cursor at pos, scrolls its line into the middle of the box and marks it.
    goTo(pos, { focus = true } = {}) {
      const line = textarea.value.slice(0, pos).split('\n').length;
      if (focus) textarea.focus();
      textarea.setSelectionRange(pos, pos);
      const lh = lineHeight();
      textarea.scrollTop = Math.max(0, (line - 1) * lh - textarea.clientHeight / 2);
      mark.style.top = `${(line - 1) * lh}px`;
      mark.hidden = false;
      renumber();
    },
  };
}

// `app` learns the EUI of a file that does not parse from its text.
export function rawEditor(app) {
  const id = newId('raw');
  const code = codeArea({ id, 'aria-describedby': `${id}-hint ${id}-error` });
  const { textarea } = code;
  const errorText = h('span', {});
  const toError = h('button', { type: 'button', class: 'quiet' }, 'Go to the error');
  const errorEl = h('p', { class: 'field-error', id: `${id}-error`, hidden: true }, errorText, ' ', toError);
  const brokenText = h('span', {});
  const toBroken = h('button', { type: 'button', class: 'quiet' }, 'Go to the error');
  const brokenEl = h('p', { class: 'status error', role: 'alert', hidden: true }, brokenText, ' ', toBroken);
  let initial = '';
  let name = 'global_conf.json';
  let errorAt = null;
  let brokenAt = null;

  const setError = (text, pos) => {
    errorAt = pos ?? null;
    toError.hidden = errorAt === null;
    setFieldError(textarea, errorText, text);
    errorEl.hidden = !text;
  };
  textarea.addEventListener('input', () => setError(''));
  toError.addEventListener('click', () => code.goTo(errorAt));
  toBroken.addEventListener('click', () => code.goTo(brokenAt));

  const download = h('button', { type: 'button' }, 'Download the current file');
  const fileInput = h('input', { type: 'file', accept: '.json,.conf,application/json,text/plain', hidden: true });
  const upload = h('button', { type: 'button' }, 'Upload a file…');
  upload.addEventListener('click', () => fileInput.click());
  let onUpload = () => {};
  download.addEventListener('click', () => {
    const a = h('a', { href: URL.createObjectURL(new Blob([initial], { type: 'application/json' })), download: name });
    a.click();
    setTimeout(() => URL.revokeObjectURL(a.href), 1000);
  });
  fileInput.addEventListener('change', async () => {
    const file = fileInput.files?.[0];
    if (!file) return;
    code.set(await file.text());
    fileInput.value = '';
    setError('');
    name = file.name;
    onUpload(file.name);
  });

  return {
    el: h(
      'div',
      { class: 'field raw' },
      brokenEl,
      h('label', { for: id }, 'Configuration file'),
      h('p', { class: 'hint', id: `${id}-hint` },
        'The file exactly as the forwarder reads it, comments included. Applying replaces the whole file with this ' +
        'text, so members can be removed too. The gateway checks it first, and puts the previous file back if the ' +
        'forwarder does not keep running. Tab indents; Escape, then Tab, moves on.'),
      h('div', { class: 'actions toolbar' }, download, upload, fileInput),
      code.el,
      errorEl,
    ),
    fetch: () => api.call('forwarder-config/text'),
    documentOf: (file) => (file.parses ? parseConfigText(file.text).doc ?? null : null),
    sameAs: (a, b) => a.text === b.text,
    load(file) {
      initial = file.text;
      code.set(initial);
      setError('');
      brokenEl.hidden = file.parses;
      if (!file.parses) {
        app.showGateway({ id: gatewayIdInText(file.text) });
        brokenText.textContent = brokenFileText(file, 'the forwarder cannot read it. Repair it here and apply.');
        brokenAt = offsetOf(initial, file.error.line, file.error.column);
        // The cursor waits at the error for the operator to come to the text.
        requestAnimationFrame(() => code.goTo(brokenAt, { focus: false }));
      }
    },
    // The file changed on the gateway while the operator edited it: the text typed stays, and
    // what changed underneath is answered as a line diff.
    rebase(old, file) {
      initial = file.text;
      brokenEl.hidden = true;
      return { diff: diffLines(old.text, file.text) };
    },
    onUpload(f) {
      onUpload = f;
    },
    dirty: () => textarea.value !== initial,
    collect() {
      const parsed = parseConfigText(textarea.value);
      if (parsed.error) {
        const e = parsed.error;
        setError(`This is not valid JSON${e.line ? ` (line ${e.line}, column ${e.column})` : ''}: ${e.message}.`, e.pos);
        if (e.pos !== undefined) code.goTo(e.pos);
        return { invalid: 1 };
      }
      const problems = checkConfig(parsed.doc);
      if (problems.length) {
        setError(problems.map(problemText).join('; ') + '.');
        textarea.focus();
        return { invalid: problems.length };
      }
      return { text: textarea.value, doc: parsed.doc };
    },
    plan(base, r) {
      if (r.text === base.text) return { error: 'Nothing has changed.' };
      const diff = diffLines(base.text, r.text);
      const { added, removed } = countChanges(diff);
      const before = base.parses ? parseConfigText(base.text).doc : undefined;
      return {
        summary: `The whole file is replaced: ${removed} line${removed === 1 ? '' : 's'} out, ${added} in.`,
        rows: before !== undefined ? describeChanges(before, r.doc) : [],
        diff,
        layoutNote: 'The file is written exactly as shown, comments included.',
        send: (settleSeconds) => replaceWholeFile(r.text, settleSeconds),
      };
    },
  };
}
