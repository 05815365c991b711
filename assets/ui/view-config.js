// The two editors of the forwarder configuration, the structured form and the file's own text,
// the review step they share, and the progress of the change once it is applied.

import * as api from '/ui/api.js';
import { progressPanel, replaceWholeFile, settleField } from '/ui/change.js';
import { h, newId, setFieldError, statusLine, whileBusy } from '/ui/dom.js';
import { channelFrequencyText, describeForm, applyForm, readField } from '/ui/forwarder.js';
import { parseConfigText } from '/ui/jsonc.js';
import { diffView } from '/ui/diff-view.js';
import { countChanges, diffLines } from '/ui/linediff.js';
import { deepEqual, formatPath, planPatch } from '/ui/patch.js';
import { describeChanges } from '/ui/review.js';
import { checkConfig, problemText } from '/ui/rules.js';
import { normaliseGatewayId } from '/ui/validate.js';

// A rule's message as the sentence below a field: "Must be from 862 to 1020 MHz for an SX1257 radio."
const fieldSentence = (message) => `${message[0].toUpperCase()}${message.slice(1)}.`;

const INPUT_MODES = { port: 'numeric', seconds: 'numeric', millis: 'numeric', count: 'numeric', mhz: 'decimal' };

function renderControl(f) {
  const id = newId('f');
  const errorEl = h('p', { class: 'field-error', id: `${id}-error`, hidden: true });
  const hintEl = f.hint ? h('p', { class: 'hint', id: `${id}-hint` }, f.hint) : null;
  const describedBy = [hintEl && `${id}-hint`, `${id}-error`].filter(Boolean).join(' ');
  let control;
  let wrap;
  if (f.kind === 'bool') {
    control = h('input', { id, type: 'checkbox', checked: f.initial, 'aria-describedby': describedBy });
    wrap = h('div', { class: 'field check' }, control, h('label', { for: id }, f.label), errorEl);
  } else {
    if (f.kind === 'choice') {
      control = h(
        'select',
        { id, 'aria-describedby': describedBy },
        f.initial === '' ? h('option', { value: '' }, '(not set)') : null,
        f.options.map((o) => h('option', { value: o.value }, o.label)),
      );
      control.value = f.initial;
    } else {
      control = h('input', {
        id,
        type: 'text',
        value: f.initial,
        inputmode: INPUT_MODES[f.kind],
        spellcheck: 'false',
        autocomplete: 'off',
        placeholder: f.present ? null : '(not set)',
        'aria-describedby': describedBy,
      });
    }
    wrap = h('div', { class: 'field' }, h('label', { for: id }, f.label), control, hintEl, errorEl);
  }
  const value = () => (f.kind === 'bool' ? control.checked : control.value);
  const setError = (text) => setFieldError(control, errorEl, text);
  // Checked when the operator leaves the field, so mistakes show up before the review.
  control.addEventListener('change', () => {
    if (f.kind === 'gatewayId') {
      const id16 = normaliseGatewayId(control.value);
      if (/^[0-9A-F]{16}$/.test(id16)) control.value = id16;
    }
    const v = value();
    setError(v === f.initial ? '' : readField(f, v).error);
  });
  control.addEventListener('input', () => setError(''));
  return { f, wrap, control, value, setError };
}

function readOnlyMembers(members, more) {
  const count = Object.keys(members).length;
  if (!count) return null;
  const what = `${count === 1 ? 'One' : count}${more ? ' more' : ''} member${count === 1 ? '' : 's'}`;
  return h(
    'details',
    { class: 'readonly' },
    h('summary', {}, `${what} (read-only)`),
    h('pre', { tabindex: '0' }, JSON.stringify(members, null, 2)),
    h('p', { class: 'hint' }, 'Change these in the raw JSON view.'),
  );
}

// The structured form. Knows the fields through describeForm and leaves everything else alone.
function formEditor() {
  const el = h('div', { class: 'sections' });
  let doc = null;
  let desc = null;
  let controls = [];
  const byId = new Map();

  const input = (id) => byId.get(id)?.value();

  function updateFrequencies() {
    for (const out of el.querySelectorAll('output[data-radio]')) {
      const radio = input(out.dataset.radio);
      const freq = input(`${desc.layout.key}.radio_${radio}.freq`);
      out.textContent = channelFrequencyText(freq, input(out.dataset.offset)) || '–';
    }
  }

  function load(newDoc) {
    doc = newDoc;
    desc = describeForm(doc);
    controls = [];
    byId.clear();
    const layoutNote = desc.layout
      ? h('p', { class: 'layout' }, `${desc.layout.name}: channel offsets up to ±${desc.layout.maxOffsetHz / 1000} kHz.`)
      : h('p', { class: 'note' }, 'This file has no SX1301_conf or SX130x_conf section, so the form covers the ' +
          'gateway settings only. Use the raw JSON view for the rest.');
    el.replaceChildren(
      layoutNote,
      ...desc.sections.map((s) => {
        const headingId = newId('h');
        return h(
          'section',
          { class: `card section-${s.id}`, 'aria-labelledby': headingId },
          h('h2', { id: headingId }, s.title + (s.readOnly ? ' (read-only)' : '')),
          s.id === 'hardware'
            ? h('p', { class: 'hint' }, 'RSSI calibration, TX gain tables, clock source, bus settings and ' +
                'listen-before-talk belong to the gateway hardware. Only the raw JSON view changes them.')
            : null,
          h(
            'div',
            { class: s.groups.length > 1 ? 'groups' : '' },
            s.groups.map((g) => {
              const items = [];
              const subgroups = new Map();
              for (const f of g.fields) {
                const c = renderControl(f);
                controls.push(c);
                byId.set(f.id, c);
                if (!f.subgroup) items.push(c.wrap);
                else if (subgroups.has(f.subgroup)) subgroups.get(f.subgroup).append(c.wrap);
                else {
                  const set = h('fieldset', { class: 'subgroup' }, h('legend', {}, f.subgroup), c.wrap);
                  subgroups.set(f.subgroup, set);
                  items.push(set);
                }
              }
              const freq = g.channel
                ? h('p', { class: 'channel-freq' }, 'Frequency ',
                    h('output', { 'data-radio': g.channel.radio, 'data-offset': g.channel.offset,
                      for: [byId.get(g.channel.radio).control.id, byId.get(g.channel.offset).control.id].join(' ') }))
                : null;
              const body = [h('div', { class: 'fields' }, items), freq, readOnlyMembers(g.others, g.fields.length > 0)];
              return g.title ? h('fieldset', { class: 'group' }, h('legend', {}, g.title), body) : h('div', {}, body);
            }),
          ),
        );
      }),
    );
    if (desc.layout) updateFrequencies();
  }
  el.addEventListener('input', () => desc?.layout && updateFrequencies());
  el.addEventListener('change', () => desc?.layout && updateFrequencies());

  const values = () => Object.fromEntries(controls.map((c) => [c.f.id, c.value()]));

  return {
    el,
    load,
    fetch: () => api.call('forwarder-config/get'),
    documentOf: (doc) => doc,
    dirty: () => controls.some((c) => c.value() !== c.f.initial),
    // The patch of the change (what the gateway merges, keeping the file's layout), or why not.
    plan(base, r) {
      const p = planPatch(base, r.doc, api.token() ?? '');
      if (p.error) return p;
      return {
        summary: `${p.changes.length === 1 ? 'One setting changes' : `${p.changes.length} settings change`}; nothing else is sent.`,
        rows: describeChanges(base, r.doc),
        layoutNote: 'The file keeps its comments, order and indentation: only the values that change are rewritten.',
        send: (settleSeconds) => api.call('forwarder-config/apply', { patch: p.patch, settleSeconds }),
      };
    },
    // The edited document, or the number of problems (each field marked, the first focused; the
    // gateway's rules too, on the fields they name, and the others as sentences).
    collect() {
      const { doc: edited, errors } = applyForm(doc, desc.fields, values());
      const elsewhere = [];
      if (!Object.keys(errors).length) {
        for (const p of checkConfig(edited)) {
          if (byId.has(p.path)) errors[p.path] ??= fieldSentence(p.message);
          else elsewhere.push(problemText(p));
        }
      }
      let first = null;
      for (const c of controls) {
        c.setError(errors[c.f.id]);
        if (errors[c.f.id] && !first) first = c.control;
      }
      first?.focus();
      const invalid = Object.keys(errors).length + elsewhere.length;
      return invalid ? { invalid, elsewhere } : { doc: edited };
    },
  };
}


// The file's own text, comments and all, for everything the form does not cover, and for a file
// that does not parse. Applying replaces the whole file with it.
function rawEditor() {
  const id = newId('raw');
  const textarea = h('textarea', {
    id,
    spellcheck: 'false',
    autocomplete: 'off',
    rows: '28',
    'aria-describedby': `${id}-hint ${id}-error`,
  });
  const errorEl = h('p', { class: 'field-error', id: `${id}-error`, hidden: true });
  const brokenEl = h('p', { class: 'status error', role: 'alert', hidden: true });
  textarea.addEventListener('input', () => setFieldError(textarea, errorEl, ''));
  let initial = '';
  let name = 'global_conf.json';

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
    textarea.value = await file.text();
    fileInput.value = '';
    setFieldError(textarea, errorEl, '');
    onUpload(file.name);
  });

  const markError = (text, pos) => {
    setFieldError(textarea, errorEl, text);
    textarea.focus();
    if (pos !== undefined) textarea.setSelectionRange(pos, pos);
  };

  return {
    el: h(
      'div',
      { class: 'field raw' },
      brokenEl,
      h('label', { for: id }, 'Configuration file'),
      h('p', { class: 'hint', id: `${id}-hint` },
        'The file exactly as the forwarder reads it, comments included. Applying replaces the whole file with this ' +
        'text, so members can be removed too. The gateway checks it first, and puts the previous file back if the ' +
        'forwarder does not keep running.'),
      h('div', { class: 'actions toolbar' }, download, upload, fileInput),
      textarea,
      errorEl,
    ),
    fetch: () => api.call('forwarder-config/text'),
    documentOf: (file) => (file.parses ? parseConfigText(file.text).doc ?? null : null),
    sameAs: (a, b) => a.text === b.text,
    load(file) {
      initial = file.text;
      textarea.value = initial;
      setFieldError(textarea, errorEl, '');
      brokenEl.hidden = file.parses;
      if (!file.parses) {
        const e = file.error;
        brokenEl.textContent = `The file on the gateway does not parse (line ${e.line}, column ${e.column + 1}: ` +
          `${e.message.replace(/^input\(\d+, \d+\) Error: /, '')}), so the forwarder cannot read it. Repair it here and apply.`;
        const lines = initial.split('\n');
        const pos = lines.slice(0, e.line - 1).reduce((n, l) => n + l.length + 1, 0) + Math.min(e.column, (lines[e.line - 1] ?? '').length);
        requestAnimationFrame(() => textarea.setSelectionRange(pos, pos));
      }
    },
    onUpload(f) {
      onUpload = (fileName) => {
        name = fileName;
        f(fileName);
      };
    },
    dirty: () => textarea.value !== initial,
    collect() {
      const parsed = parseConfigText(textarea.value);
      if (parsed.error) {
        const e = parsed.error;
        markError(`This is not valid JSON${e.line ? ` (line ${e.line}, column ${e.column})` : ''}: ${e.message}`, e.pos);
        return { invalid: 1 };
      }
      const problems = checkConfig(parsed.doc);
      if (problems.length) {
        markError(problems.map(problemText).join('; ') + '.');
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

// The review step: what will change, what applying does, then the change and its progress.
function reviewPanel({ onBack, onDone }) {
  const heading = h('h2', { tabindex: '-1' }, 'Review changes');
  const summary = h('p', {});
  const rows = h('tbody');
  const table = h('div', { class: 'table-wrap' },
    h('table', {},
      h('thead', {}, h('tr', {}, h('th', { scope: 'col' }, 'Setting'), h('th', { scope: 'col' }, 'Now'),
        h('th', { scope: 'col' }, 'After applying'))),
      rows));
  const rawRows = h('ul', { class: 'raw-changes' });
  const raw = h('details', { class: 'readonly' }, h('summary', {}, 'Members and values as the file holds them'), rawRows);
  const lines = h('details', { class: 'readonly', open: true }, h('summary', {}, 'Lines that change'));
  const layoutNote = h('li', {});
  const settle = settleField();
  const applyBtn = h('button', { type: 'button', class: 'primary' }, 'Apply');
  const backBtn = h('button', { type: 'button' }, 'Back to editing');
  const area = h('fieldset', { class: 'plain' }, settle.wrap, h('div', { class: 'actions' }, applyBtn, backBtn));
  const el = h(
    'section',
    { class: 'card review', hidden: true },
    heading,
    summary,
    table,
    raw,
    lines,
    h('ul', { class: 'notes' },
      h('li', {}, h('strong', {}, 'Applying restarts the packet forwarder. '),
        'It forwards no packets until it runs again. The gateway then watches it, and if it stops or is restarted ' +
        'by systemd within the time below, the previous file is put back and the forwarder restarted with it.'),
      h('li', {}, 'The current file is kept in the history first, so it can be restored later.'),
      layoutNote),
    area,
  );
  const progress = progressPanel({
    onClose() {
      progress.hide();
      onDone();
    },
  });
  let plan = null;

  backBtn.addEventListener('click', onBack);
  applyBtn.addEventListener('click', async () => {
    el.hidden = true;
    // A sign-in the gateway no longer knows (it restarted) sends nothing: the review waits for
    // the operator to sign in again and apply.
    if ((await progress.run(() => plan.send(settle.value()), settle.value())) === 'auth-lost') el.hidden = false;
  });

  return {
    el: h('div', {}, el, progress.el),
    isOpen: () => !el.hidden,
    open(p) {
      plan = p;
      summary.textContent = p.summary;
      rows.replaceChildren(...p.rows.map((r) =>
        h('tr', {},
          h('th', { scope: 'row' }, r.label),
          h('td', { 'data-label': 'Now' }, r.from),
          h('td', { 'data-label': 'After' }, r.to))));
      table.hidden = !p.rows.length;
      const rawChanges = p.rows.flatMap((r) => r.raw);
      rawRows.replaceChildren(...rawChanges.map((c) => h('li', {}, h('code', {}, formatPath(c.path)), ': ',
        h('code', {}, c.before === undefined ? '(not set)' : JSON.stringify(c.before)), ' → ',
        h('code', {}, c.removed ? '(removed)' : JSON.stringify(c.after)))));
      raw.hidden = !rawChanges.length;
      lines.replaceChildren(lines.firstChild, ...(p.diff ? [diffView(p.diff)] : []));
      lines.hidden = !p.diff;
      layoutNote.textContent = p.layoutNote;
      el.hidden = false;
      heading.focus();
    },
    close() {
      el.hidden = true;
      progress.hide();
    },
  };
}

// One editor view: loads what the gateway holds, lets the operator edit it, reviews and applies.
function editorView({ path, title, intro, editor, app }) {
  const status = statusLine();
  const formStatus = statusLine();
  const reviewBtn = h('button', { type: 'submit', class: 'primary' }, 'Review changes');
  const reloadBtn = h('button', { type: 'button' }, 'Discard and reload');
  const area = h('fieldset', { class: 'plain' }, editor.el,
    h('div', { class: 'actions sticky' }, reviewBtn, reloadBtn, formStatus.el));
  const form = h('form', { novalidate: true, 'aria-label': title }, area);
  const same = editor.sameAs ?? deepEqual;
  let base = null;
  let loads = 0;

  const review = reviewPanel({
    onBack() {
      review.close();
      form.hidden = false;
      reviewBtn.focus();
    },
    async onDone() {
      review.close();
      form.hidden = false;
      await load(true);
    },
  });

  // Answers whether the editor now shows what the gateway holds.
  async function load(force) {
    const mine = ++loads;
    status.busy('Loading the configuration from the gateway…');
    try {
      const loaded = await whileBusy(area, () => editor.fetch());
      if (mine !== loads) return false;
      const doc = editor.documentOf(loaded);
      if (doc) app.setDocument(doc);
      status.clear();
      if (force || base === null || !same(loaded, base)) {
        const replaced = base !== null && !force && editor.dirty();
        base = loaded;
        editor.load(loaded);
        review.close();
        form.hidden = false;
        formStatus.clear();
        if (replaced) status.error('The configuration on the gateway changed meanwhile; your edits were replaced by it.');
      }
      return true;
    } catch (e) {
      if (mine !== loads) return false;
      if (e.authLost) status.clear();
      else status.error(`Could not load the configuration: ${e.message}`);
      return false;
    }
  }

  function submit() {
    formStatus.clear();
    if (base === null) return formStatus.error('The configuration has not been loaded yet.');
    const r = editor.collect();
    if (r.invalid) {
      const more = r.elsewhere?.length ? ` Outside the form: ${r.elsewhere.join('; ')}; the raw view changes those.` : '';
      return formStatus.error((r.invalid === 1 ? 'Correct the problem marked above.' : `Correct the ${r.invalid} problems marked above.`) + more);
    }
    const plan = editor.plan(base, r);
    if (plan.error) return formStatus.error(plan.error);
    status.clear();
    form.hidden = true;
    review.open(plan);
  }
  form.addEventListener('submit', (event) => {
    event.preventDefault();
    submit();
  });
  editor.onUpload?.(submit);
  reloadBtn.addEventListener('click', () => load(true));

  const el = h('section', { class: 'view', hidden: true },
    h('h1', { tabindex: '-1' }, title), intro, status.el, form, review.el);
  return { path, title, el, show: () => load(false) };
}

export function configView(app) {
  return editorView({
    path: '/ui/config',
    title: 'Forwarder configuration',
    intro: h('p', { class: 'intro' }, 'The settings operators usually change. Frequencies are in MHz, channel ' +
      'offsets in kHz from their radio\'s centre frequency.'),
    editor: formEditor(),
    app,
  });
}

export function rawView(app) {
  return editorView({
    path: '/ui/raw',
    title: 'Raw configuration',
    intro: h('p', { class: 'intro' }, 'The whole configuration file, for everything the form does not cover. ' +
      'It is checked as JSON and against the gateway\'s rules before anything is sent.'),
    editor: rawEditor(),
    app,
  });
}
