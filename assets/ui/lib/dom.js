// Small helpers for building the page: element creation, busy states and messages.

// h('p', { class: 'note', onclick: f }, 'text', child, [more children]). Attributes whose value is
// false, null or undefined are left out; "on…" attributes become event listeners.
export function h(tag, attrs = {}, ...children) {
  const el = document.createElement(tag);
  for (const [name, value] of Object.entries(attrs)) {
    if (value === false || value === null || value === undefined) continue;
    if (name.startsWith('on')) el.addEventListener(name.slice(2), value);
    else if (name === 'value' || name === 'checked') el[name] = value;
    else el.setAttribute(name, value === true ? '' : value);
  }
  append(el, children);
  return el;
}

function append(el, children) {
  for (const c of children) {
    if (c === null || c === undefined || c === false) continue;
    if (Array.isArray(c)) append(el, c);
    else el.append(c instanceof Node ? c : String(c));
  }
}

let uid = 0;
export const newId = (prefix) => `${prefix}-${++uid}`;

// A message as one sentence: a text that already ends a sentence gets no second full stop
// ("…try again." stays as it is when a view adds its own).
export const sentence = (text) => String(text).trim().replace(/([.!?…])\.+$/, '$1').replace(/([^.!?…:])$/, '$1.');

// Says text to screen readers through the page's live region, without moving the focus.
export function announce(text) {
  const region = document.getElementById('announce');
  region.textContent = '';
  // A new text node after a moment, so the same words said twice are heard twice.
  setTimeout(() => (region.textContent = text), 50);
}

// A line that reports a call: a spinner with what is going on, then the outcome. Screen readers
// hear progress and success politely (role="status"), failures at once (role="alert").
export function statusLine() {
  const el = h('p', { class: 'status', role: 'status', hidden: true });
  const show = (kind, role, ...content) => {
    el.className = `status ${kind}`;
    el.setAttribute('role', role);
    el.replaceChildren(...content);
    el.hidden = false;
  };
  return {
    el,
    busy: (text) => show('busy', 'status', h('span', { class: 'spinner', 'aria-hidden': 'true' }), text),
    ok: (text) => show('ok', 'status', sentence(text)),
    // More nodes may follow the sentence: a link to where the problem is mended.
    error: (text, ...more) => show('error', 'alert', sentence(text), ...more),
    clear() {
      el.hidden = true;
      el.setAttribute('role', 'status');
      el.replaceChildren();
    },
  };
}

let busyCount = 0;

// Runs fn while the controls in `area` (a fieldset) are disabled and the header shows activity,
// then gives the keyboard focus back to where it was if the page still holds that element.
export async function whileBusy(area, fn) {
  const focused = document.activeElement;
  if (area) area.disabled = true;
  busyCount += 1;
  document.body.classList.add('busy');
  try {
    return await fn();
  } finally {
    busyCount -= 1;
    if (busyCount === 0) document.body.classList.remove('busy');
    if (area) area.disabled = false;
    if (focused instanceof HTMLElement && focused.isConnected && !focused.closest('[hidden]')) {
      focused.focus();
    }
  }
}

// Marks a control as wrong, with the message just below it.
export function setFieldError(control, messageEl, text) {
  if (text) {
    messageEl.textContent = text;
    messageEl.hidden = false;
    control.setAttribute('aria-invalid', 'true');
  } else {
    messageEl.textContent = '';
    messageEl.hidden = true;
    control.removeAttribute('aria-invalid');
  }
}

// A text field with its label, an optional hint and a place for its error.
export function textField({ label, hint, value = '', type = 'text', autocomplete, inputmode, name }) {
  const id = newId('f');
  const hintEl = hint ? h('p', { class: 'hint', id: `${id}-hint` }, hint) : null;
  const errorEl = h('p', { class: 'field-error', id: `${id}-error`, hidden: true });
  const input = h('input', {
    id,
    name,
    type,
    value,
    autocomplete,
    inputmode,
    spellcheck: 'false',
    'aria-describedby': [hintEl && `${id}-hint`, `${id}-error`].filter(Boolean).join(' '),
  });
  const wrap = h('div', { class: 'field' }, h('label', { for: id }, label), input, hintEl, errorEl);
  return { wrap, input, setError: (text) => setFieldError(input, errorEl, text) };
}

// Asks in a modal dialog of the page's own; answers true when the operator confirms. The focus
// starts on the button that changes nothing, so a key pressed once too often changes nothing.
export function ask({ title, text, confirm, cancel = 'Cancel' }) {
  const id = newId('ask');
  const dialog = h('dialog', { 'aria-labelledby': id },
    h('form', { method: 'dialog' }, h('h2', { id }, title), h('p', {}, text),
      h('div', { class: 'actions' }, h('button', { type: 'submit', class: 'primary', value: 'yes' }, confirm),
        h('button', { type: 'submit', value: 'no', autofocus: true }, cancel))));
  document.body.append(dialog);
  dialog.showModal();
  return new Promise((resolve) => dialog.addEventListener('close', () => {
    dialog.remove();
    resolve(dialog.returnValue === 'yes');
  }));
}
