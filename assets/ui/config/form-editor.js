// The structured form of the forwarder's configuration: the fields operators change, grouped as
// the file groups them, with a table of contents, and everything else shown read-only.

import {
  MAX_SERVERS, applyForm, channelFrequencyText, describeForm, fieldText, gatewayIdInText, readField, serverUse,
} from '/ui/config/forwarder.js';
import { formatPath, planPatch } from '/ui/config/patch.js';
import { fileReading, readingProblem, sideFileTexts } from '/ui/config/reading.js';
import { describeChanges } from '/ui/config/review.js';
import { checkConfig, problemText } from '/ui/config/rules.js';
import { normaliseGatewayId } from '/ui/config/validate.js';
import * as api from '/ui/lib/api.js';
import { h, newId, setFieldError } from '/ui/lib/dom.js';

// A rule's message as the sentence below a field: "Must be from 862 to 1020 MHz for an SX1257 radio."
const fieldSentence = (message) => `${message[0].toUpperCase()}${message.slice(1)}.`;

const INPUT_MODES = { port: 'numeric', seconds: 'numeric', millis: 'numeric', count: 'numeric', mhz: 'decimal' };

// Whether the forwarder sends to a server of the list, in words.
const SERVER_USE = {
  used: 'The forwarder sends to this server.',
  off: 'Not used: switched off.',
  incomplete: 'Not used: it needs an address and both ports.',
  beyond: `Not used: the forwarder takes only the first ${MAX_SERVERS} servers.`,
};

function renderControl(f) {
  const id = newId('f');
  const errorEl = h('p', { class: 'field-error', id: `${id}-error`, hidden: true });
  const hintEl = f.hint ? h('p', { class: 'hint', id: `${id}-hint` }, f.hint) : null;
  const describedBy = [hintEl && `${id}-hint`, `${id}-error`].filter(Boolean).join(' ');
  const bool = f.kind === 'bool';
  // A member another file beside the configuration sets: its value there, which the form cannot change.
  const fixed = f.setIn ? { disabled: bool || f.kind === 'choice', readonly: true } : {};
  let control;
  let wrap;
  if (bool) {
    control = h('input', { id, type: 'checkbox', checked: f.setIn ? f.setIn.shown : f.initial, 'aria-describedby': describedBy, ...fixed });
    wrap = h('div', { class: 'field check' }, control, h('label', { for: id }, f.label), hintEl, errorEl);
  } else {
    if (f.kind === 'choice') {
      control = h(
        'select',
        { id, 'aria-describedby': describedBy, ...fixed },
        f.initial === '' ? h('option', { value: '' }, '(not set)') : null,
        f.options.map((o) => h('option', { value: o.value }, o.label)),
      );
      control.value = f.setIn ? f.setIn.shown : f.initial;
    } else {
      control = h('input', {
        id,
        type: 'text',
        value: f.setIn ? f.setIn.shown : f.initial,
        inputmode: INPUT_MODES[f.kind],
        spellcheck: 'false',
        autocomplete: 'off',
        placeholder: f.present ? null : '(not set)',
        'aria-describedby': describedBy,
        ...fixed,
      });
    }
    wrap = h('div', { class: 'field' }, h('label', { for: id }, f.label), control, hintEl, errorEl);
  }
  // What the form sends: a member set elsewhere stays as this file has it.
  const value = () => (f.setIn ? f.initial : bool ? control.checked : control.value);
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
  return {
    f, wrap, control, value, setError,
    set: (v) => !f.setIn && (bool ? (control.checked = v) : (control.value = v)),
  };
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

// The form. Knows the fields through describeForm and leaves everything else alone. `app` learns
// the EUI of a file the form cannot show.
export function formEditor(app) {
  const el = h('div', { class: 'sections' });
  // Jump links to the sections, in the sticky bar so they stay at hand down a long form.
  const toc = h('nav', { class: 'toc', 'aria-label': 'Sections of the form' });
  let doc = null;
  let desc = null;
  let controls = [];
  let serverNotes = [];
  const byId = new Map();

  const input = (id) => byId.get(id)?.value();
  const values = () => Object.fromEntries(controls.map((c) => [c.f.id, c.value()]));

  function update() {
    for (const out of el.querySelectorAll('output[data-radio]')) {
      const radio = input(out.dataset.radio);
      const freq = input(`${desc.layout.key}.radio_${radio}.freq`);
      out.textContent = channelFrequencyText(freq, input(out.dataset.offset)) || '–';
    }
    if (!serverNotes.length) return;
    const uses = serverUse(applyForm(doc, desc.fields, values()).doc.gateway_conf.servers);
    serverNotes.forEach((note, i) => {
      note.className = `use ${uses[i]}`;
      note.textContent = SERVER_USE[uses[i]];
    });
  }

  function group(g) {
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
    const use = g.server === undefined ? null : h('p', { 'aria-live': 'polite' });
    if (use) serverNotes.push(use);
    const body = [h('div', { class: 'fields' }, items), freq, use, readOnlyMembers(g.others, g.fields.length > 0)];
    return g.title ? h('fieldset', { class: 'group' }, h('legend', {}, g.title), body) : h('div', {}, body);
  }

  function load(file) {
    doc = file.doc;
    desc = describeForm(doc);
    const setElsewhere = new Map((file.sideFiles?.overrides ?? []).map((o) => [o.path, o]));
    for (const f of desc.fields) {
      const o = setElsewhere.get(f.id);
      if (!o) continue;
      f.setIn = { file: o.file, shown: fieldText(f, o.value) };
      f.hint = `Set in ${o.file}: the packet forwarder takes this value from that file, which this page does not change.`;
    }
    const side = sideFileTexts(file.sideFiles);
    controls = [];
    serverNotes = [];
    byId.clear();
    const layoutNote = desc.layout
      ? h('p', { class: 'layout' }, `${desc.layout.name}: channel offsets up to ±${desc.layout.maxOffsetHz / 1000} kHz.`)
      : h('p', { class: 'note' }, 'This file has no SX1301_conf or SX130x_conf section, so the form covers the ' +
          'gateway settings only. Use the raw JSON view for the rest.');
    const links = [];
    el.replaceChildren(...side.map((t, i) => h('p', { class: i || !file.sideFiles.readInstead ? 'note' : 'notice warn' }, `${t}.`)),
      layoutNote, ...desc.sections.map((s) => {
      const headingId = newId('h');
      links.push(h('a', { href: `#${headingId}` }, s.nav));
      return h('section', { class: `card section-${s.id}`, 'aria-labelledby': headingId },
        h('h2', { id: headingId, tabindex: '-1' }, s.title + (s.readOnly ? ' (read-only)' : '')),
        s.hint ? h('p', { class: 'hint' }, s.hint) : null,
        h('div', { class: s.groups.length > 1 ? 'groups' : '' }, s.groups.map(group)));
    }));
    toc.replaceChildren(...links);
    if (desc.layout || serverNotes.length) update();
  }
  el.addEventListener('input', () => desc && update());
  el.addEventListener('change', () => desc && update());
  toc.addEventListener('click', (event) => {
    const a = event.target.closest('a');
    if (!a) return;
    event.preventDefault();
    const heading = document.getElementById(a.hash.slice(1));
    heading.scrollIntoView({ block: 'start' });
    heading.focus({ preventScroll: true });
  });

  return {
    el,
    toc,
    load,
    // The file and the document the forwarder reads in it; a file it cannot read, or reads
    // otherwise than it looks, is mended in the raw view.
    async fetch() {
      const file = await api.call('forwarder-config/text');
      const reading = fileReading(file);
      const problem = readingProblem(reading, 'the file on the gateway');
      if (problem) {
        app.showGateway({ id: gatewayIdInText(file.text) });
        throw Object.assign(new Error(`${problem}, so the form cannot show it.`), { repair: true });
      }
      return { ...file, reading, doc: reading.doc };
    },
    documentOf: (file) => file.doc,
    sameAs: (a, b) => a.text === b.text && JSON.stringify(a.sideFiles) === JSON.stringify(b.sideFiles),
    dirty: () => controls.some((c) => c.value() !== c.f.initial),
    // The values of the fields the operator changed, by field.
    edits: () => Object.fromEntries(controls.filter((c) => c.value() !== c.f.initial).map((c) => [c.f.id, c.value()])),
    // The file changed on the gateway while the operator edited the form (or edits kept over a
    // sign-out come back): the form shows the new file with the edits on top, and answers what
    // changed underneath (rows marked `mine` where the edits change the same member).
    rebase(old, next, edits = this.edits()) {
      const mine = new Map(Object.entries(edits));
      load(next);
      for (const c of controls) if (mine.has(c.f.id)) c.set(mine.get(c.f.id));
      update();
      return { rows: describeChanges(old.doc, next.doc).map((r) => ({ ...r, mine: r.raw.some((c) => mine.has(formatPath(c.path))) })) };
    },
    // The patch of the change (what the gateway merges, keeping the file's layout), or why not.
    plan(base, r) {
      const p = planPatch(base.doc, r.doc, api.token() ?? '');
      if (p.error) return p;
      const rows = describeChanges(base.doc, r.doc);
      const n = rows.reduce((sum, row) => sum + row.raw.length, 0);
      return {
        summary: `${n === 1 ? 'One setting changes' : `${n} settings change`}; nothing else is sent.`,
        rows,
        layoutNote: 'The file keeps its comments, order and indentation: only the values that change are rewritten.',
        send: (watch) => api.call('forwarder-config/apply', { patch: p.patch, ...watch, base: base.hash }),
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
