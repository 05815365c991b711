// The file's own text, comments and all, for everything the form does not cover and for a file
// that does not parse: a text box with line numbers, Tab to indent, and a way to the error.
// It stays a textarea, so the browser's own search, undo and text tools keep working.

import { replaceWholeFile } from '/ui/config/change.js';
import { gatewayIdInText } from '/ui/config/forwarder.js';
import {
  fileReading, problemPlace, readText, readingProblem, sideFileTexts, tailText, verdict,
} from '/ui/config/reading.js';
import { describeChanges } from '/ui/config/review.js';
import { checkConfig, problemText } from '/ui/config/rules.js';
import * as api from '/ui/lib/api.js';
import { h, newId, setFieldError } from '/ui/lib/dom.js';
import { blankComments, offsetAt, placeOf } from '/ui/lib/jsonc.js';
import { countChanges, diffLines } from '/ui/lib/linediff.js';
import { merge3 } from '/ui/lib/merge3.js';

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

// Where a member ("gateway_conf.servers[0].serv_port_up") is in a text that parses: the offset
// of its value, or of the value of the nearest of its parents the text holds ("" is the document).
// Of a member written twice, the last counts, as in the document read.
export function memberOffset(text, path) {
  const t = blankComments(text);
  let p = 0;
  const ws = () => {
    while (/\s/.test(t[p] ?? '')) p += 1;
  };
  const string = () => {
    const start = p;
    for (p += 1; p < t.length && t[p] !== '"'; p += t[p] === '\\' ? 2 : 1);
    p += 1;
    return JSON.parse(t.slice(start, p));
  };
  // Past one value, strings and nested brackets included.
  const skip = () => {
    for (let depth = 0; p < t.length;) {
      const c = t[p];
      if (c === '"') string();
      else if (depth === 0 && /[,}\]]/.test(c)) return;
      else {
        if (c === '{' || c === '[') depth += 1;
        if (c === '}' || c === ']') depth -= 1;
        p += 1;
        if (depth === 0 && (c === '}' || c === ']')) return;
      }
    }
  };
  ws();
  let found = p;
  for (const key of path.match(/[^.[\]]+/g) ?? []) {
    const open = t[p];
    if (open !== '{' && open !== '[') break;
    let at = -1;
    p += 1;
    for (let i = 0; ; i += 1) {
      ws();
      if (t[p] === '}' || t[p] === ']' || p >= t.length) break;
      let name = String(i);
      if (open === '{') {
        name = string();
        ws();
        p += 1;
        ws();
      }
      if (name === key) at = p;
      skip();
      ws();
      if (t[p] === ',') p += 1;
    }
    if (at < 0) break;
    found = p = at;
  }
  return found;
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
  // How the forwarder reads the file on the gateway, when that is not simply as shown.
  const brokenText = h('span', {});
  const toBroken = h('button', { type: 'button', class: 'quiet' });
  const brokenEl = h('p', { hidden: true }, brokenText, ' ', toBroken);
  const sideNote = h('p', { class: 'note', hidden: true });
  let initial = '';
  let name = 'global_conf.json';
  let errorAt = null;
  let brokenAt = null;

  // After a rebase the text shown is not the file's: its places are not pointed at.
  function showReading(file, { rebased = false } = {}) {
    const r = file.reading;
    const v = verdict(r);
    const problem = readingProblem(r, 'the file on the gateway');
    const place = problemPlace(r);
    brokenEl.hidden = !problem && !r.ignoredTail;
    brokenEl.className = problem ? 'status error' : 'note';
    brokenEl.setAttribute('role', problem ? 'alert' : 'status');
    brokenText.textContent = problem
      ? `${problem}, so ${v === 'refused' ? 'it cannot start with it' : 'it does not work as the file says'}. Mend it here and apply.`
      : r.ignoredTail ? `${tailText(r)}.` : '';
    toBroken.textContent = problem ? 'Go to the error' : 'Go to that text';
    brokenAt = place && !rebased ? offsetAt(initial, place.line, place.column) : null;
    toBroken.hidden = brokenAt === null;
    if (problem) app.showGateway({ id: gatewayIdInText(file.text) });
    const side = sideFileTexts(file.sideFiles);
    sideNote.textContent = side.map((t) => `${t}.`).join(' ');
    sideNote.hidden = !side.length;
    // The cursor waits at the error for the operator to come to the text.
    if (problem && brokenAt !== null) requestAnimationFrame(() => code.goTo(brokenAt, { focus: false }));
  }

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
      sideNote,
      h('label', { for: id }, 'Configuration file'),
      h('p', { class: 'hint', id: `${id}-hint` },
        'The file exactly as the forwarder reads it, comments included. Applying replaces the whole file with this ' +
        'text, so members can be removed too. The gateway checks it first, and puts the previous file back if the ' +
        'forwarder does not keep running. Tab indents; Escape, then Tab, moves on.'),
      h('div', { class: 'actions toolbar' }, download, upload, fileInput),
      code.el,
      errorEl,
    ),
    async fetch() {
      const file = await api.call('forwarder-config/text');
      const reading = fileReading(file);
      return { ...file, reading, doc: reading.doc };
    },
    documentOf: (file) => (verdict(file.reading) === 'reads' ? file.doc : null),
    sameAs: (a, b) => a.text === b.text && JSON.stringify(a.sideFiles) === JSON.stringify(b.sideFiles),
    load(file) {
      initial = file.text;
      code.set(initial);
      setError('');
      showReading(file);
    },
    // The file changed on the gateway while the operator edited it: the edits (mine, or a text
    // kept over a sign-out) are carried onto the new file, except where both changed the same
    // lines; answers what changed underneath as a line diff, and those conflicts, each with a
    // way to its place in the text.
    rebase(old, file, mine = textarea.value) {
      const merged = merge3(old.text, mine, file.text);
      initial = file.text;
      code.set(merged.text);
      setError('');
      showReading(file, { rebased: true });
      return {
        diff: diffLines(old.text, file.text),
        conflicts: merged.conflicts.map((c) => ({ ...c, show: () => code.goTo(offsetAt(merged.text, c.line, 1)) })),
      };
    },
    onUpload(f) {
      onUpload = f;
    },
    dirty: () => textarea.value !== initial,
    edits: () => textarea.value,
    collect() {
      const text = textarea.value;
      const r = readText(text);
      const problem = readingProblem(r, 'this text');
      if (problem) {
        const place = problemPlace(r);
        const pos = place ? offsetAt(text, place.line, place.column) : undefined;
        setError(verdict(r) === 'refused' ? `${problem}.` : `${problem}. Write it so that it reads as it looks.`, pos);
        if (pos !== undefined) code.goTo(pos);
        else textarea.focus();
        return { invalid: 1 };
      }
      const problems = checkConfig(r.doc);
      if (problems.length) {
        // Each problem with its place; the cursor goes to the first.
        const placed = problems.map((p) => ({ ...placeOf(text, memberOffset(text, p.path)), text: problemText(p) }));
        setError(placed.map((p) => `Line ${p.line}, column ${p.column}: ${p.text}`).join('; ') + '.', placed[0].pos);
        code.goTo(placed[0].pos);
        return { invalid: problems.length };
      }
      return { text, doc: r.doc, tail: r.ignoredTail ? tailText(r) : null };
    },
    plan(base, r) {
      if (r.text === base.text) return { error: 'Nothing has changed.' };
      const diff = diffLines(base.text, r.text);
      const { added, removed } = countChanges(diff);
      return {
        summary: `The whole file is replaced: ${removed} line${removed === 1 ? '' : 's'} out, ${added} in.`,
        // What the forwarder reads now against what it will read.
        rows: base.doc !== undefined ? describeChanges(base.doc, r.doc) : [],
        diff,
        layoutNote: 'The file is written exactly as shown, comments included.',
        note: r.tail ? `${r.tail}.` : null,
        send: (watch) => replaceWholeFile(r.text, { ...watch, base: base.hash }),
      };
    },
  };
}
