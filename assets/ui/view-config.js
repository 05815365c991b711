// The two editors of the forwarder configuration, the structured form and the raw JSON text,
// and the review step they share before a change is sent.

import * as api from '/ui/api.js';
import { h, newId, setFieldError, statusLine, whileBusy } from '/ui/dom.js';
import { channelFrequencyText, describeForm, applyForm, readField } from '/ui/forwarder.js';
import { MAX_REQUEST_BYTES, deepEqual, formatPath, planPatch } from '/ui/patch.js';
import { normaliseGatewayId } from '/ui/validate.js';

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
    dirty: () => controls.some((c) => c.value() !== c.f.initial),
    // The edited document, or the number of fields in error (each marked, the first focused).
    collect() {
      const { doc: edited, errors } = applyForm(doc, desc.fields, values());
      let first = null;
      for (const c of controls) {
        c.setError(errors[c.f.id]);
        if (errors[c.f.id] && !first) first = c.control;
      }
      if (first) {
        first.focus();
        return { invalid: Object.keys(errors).length };
      }
      return { doc: edited };
    },
  };
}

// Where JSON.parse stopped, as "line L, column C", when the browser tells the position.
function jsonErrorPlace(text, message) {
  const m = /position (\d+)/.exec(message);
  if (!m) return null;
  const pos = Number(m[1]);
  const before = text.slice(0, pos).split('\n');
  return { pos, line: before.length, column: before[before.length - 1].length + 1 };
}

// The whole document as text, for everything the form does not cover.
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
  textarea.addEventListener('input', () => setFieldError(textarea, errorEl, ''));
  let initial = '';
  return {
    el: h(
      'div',
      { class: 'field raw' },
      h('label', { for: id }, 'Configuration document (JSON)'),
      h('p', { class: 'hint', id: `${id}-hint` },
        'A change can add members and replace values, but it can never remove a member: deleting one ' +
        'here is refused. Setting a member to null stores null. Arrays are replaced whole.'),
      textarea,
      errorEl,
    ),
    load(doc) {
      initial = JSON.stringify(doc, null, 2);
      textarea.value = initial;
      setFieldError(textarea, errorEl, '');
    },
    dirty: () => textarea.value !== initial,
    collect() {
      try {
        return { doc: JSON.parse(textarea.value) };
      } catch (e) {
        const place = jsonErrorPlace(textarea.value, e.message);
        const reason = place ? e.message.replace(/ in JSON at position.*$/, '') : e.message;
        setFieldError(textarea, errorEl,
          `This is not valid JSON${place ? ` (line ${place.line}, column ${place.column})` : ''}: ${reason}`);
        textarea.focus();
        if (place) textarea.setSelectionRange(place.pos, place.pos);
        return { invalid: 1 };
      }
    },
  };
}

const shown = (v) => (v === undefined ? '(not set)' : JSON.stringify(v));

// The review step: what will change, what applying does, then the call.
function reviewPanel({ onBack, onApplied }) {
  const status = statusLine();
  const heading = h('h2', { tabindex: '-1' }, 'Review changes');
  const summary = h('p', {});
  const rows = h('tbody');
  const size = h('p', { class: 'hint' });
  const applyBtn = h('button', { type: 'button', class: 'primary' }, 'Apply and restart the forwarder');
  const backBtn = h('button', { type: 'button' }, 'Back to editing');
  const area = h('fieldset', { class: 'plain' }, h('div', { class: 'actions' }, applyBtn, backBtn));
  const el = h(
    'section',
    { class: 'card review', hidden: true },
    heading,
    summary,
    h('div', { class: 'table-wrap' },
      h('table', {},
        h('thead', {}, h('tr', {}, h('th', { scope: 'col' }, 'Member'), h('th', { scope: 'col' }, 'Now'),
          h('th', { scope: 'col' }, 'After applying'))),
        rows)),
    h('ul', { class: 'notes' },
      h('li', {}, h('strong', {}, 'Applying restarts the packet forwarder. '),
        'It forwards no packets until it runs again, and the gateway answers nothing else meanwhile; ' +
        'this can take several seconds.'),
      h('li', {}, 'The gateway rewrites the configuration file: any comments the file holds now are lost, ' +
        'it is indented anew, and changed members move to the end of their section.')),
    size,
    area,
    status.el,
  );
  let plan = null;

  backBtn.addEventListener('click', onBack);
  applyBtn.addEventListener('click', async () => {
    status.busy('Applying the change and restarting the packet forwarder…');
    try {
      await whileBusy(area, () => api.call('forwarder-config/patch', plan.patch));
      status.clear();
      onApplied();
    } catch (e) {
      if (e.authLost) return status.clear();
      status.error(`The change was not applied: ${e.message}.` +
        (e.status === 500 ? ' The file may already have been rewritten; go back and reload to see what the gateway holds.' : ''));
    }
  });

  return {
    el,
    isOpen: () => !el.hidden,
    open(p) {
      plan = p;
      const n = p.changes.length;
      summary.textContent = `${n === 1 ? 'One member changes' : `${n} members change`}; nothing else is sent.`;
      rows.replaceChildren(
        ...p.changes.map((c) =>
          h('tr', {},
            h('th', { scope: 'row' }, h('code', {}, formatPath(c.path))),
            h('td', { 'data-label': 'Now' }, h('code', {}, shown(c.before))),
            h('td', { 'data-label': 'After' }, h('code', {}, shown(c.after))))),
      );
      size.textContent = `Size of the change: ${p.bytes} of at most ${MAX_REQUEST_BYTES} bytes.`;
      status.clear();
      el.hidden = false;
      heading.focus();
    },
    close() {
      el.hidden = true;
      status.clear();
    },
  };
}

// One editor view: loads the document, lets the operator edit it, reviews and applies.
function editorView({ path, title, intro, editor, app }) {
  const status = statusLine();
  const formStatus = statusLine();
  const reviewBtn = h('button', { type: 'submit', class: 'primary' }, 'Review changes');
  const reloadBtn = h('button', { type: 'button' }, 'Discard and reload');
  const area = h('fieldset', { class: 'plain' }, editor.el,
    h('div', { class: 'actions sticky' }, reviewBtn, reloadBtn, formStatus.el));
  const form = h('form', { novalidate: true, 'aria-label': title }, area);
  let base = null;
  let loads = 0;

  const review = reviewPanel({
    onBack() {
      review.close();
      form.hidden = false;
      reviewBtn.focus();
    },
    async onApplied() {
      form.hidden = false;
      if (await load(true)) status.ok('Change applied. The packet forwarder has been restarted with it.');
      else status.error('The change was applied, but the configuration could not be read back. Use "Discard and reload".');
    },
  });

  // Answers whether the editor now shows the gateway's document.
  async function load(force) {
    const mine = ++loads;
    status.busy('Loading the configuration from the gateway…');
    try {
      const doc = await whileBusy(area, () => api.call('forwarder-config/get'));
      if (mine !== loads) return false;
      app.setDocument(doc);
      status.clear();
      if (force || base === null || !deepEqual(doc, base)) {
        const replaced = base !== null && !force && editor.dirty();
        base = doc;
        editor.load(doc);
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

  form.addEventListener('submit', (event) => {
    event.preventDefault();
    formStatus.clear();
    if (base === null) return formStatus.error('The configuration has not been loaded yet.');
    const r = editor.collect();
    if (r.invalid) {
      return formStatus.error(r.invalid === 1 ? 'Correct the field marked above.' : `Correct the ${r.invalid} fields marked above.`);
    }
    const plan = planPatch(base, r.doc, api.token() ?? '');
    if (plan.error) return formStatus.error(plan.error);
    status.clear();
    form.hidden = true;
    review.open(plan);
  });
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
    intro: h('p', { class: 'intro' }, 'The whole configuration document, for everything the form does not cover. ' +
      'It is checked as JSON before anything is sent.'),
    editor: rawEditor(),
    app,
  });
}
