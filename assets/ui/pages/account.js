// Sign-in, SSH access, the password and the metrics keys: the views about who may reach the
// gateway.

import * as api from '/ui/lib/api.js';
import { ask, h, statusLine, textField, whileBusy } from '/ui/lib/dom.js';
import { localTimeText } from '/ui/lib/format.js';
import { isRunning, startsAtBoot, unitBadge } from '/ui/lib/gateway.js';
import {
  FACTORY_PASSWORD, FAILURES_BEFORE_SLOW, MAX_METRICS_KEY_NAME_BYTES, MAX_METRICS_KEYS, METRICS_KEY_NAME_TAKEN,
  PASSWORD_MISMATCH, TOO_MANY_METRICS_KEYS,
} from '/ui/lib/contract.js';
import { clearFailures, isSignInFailure, recentFailures, recordFailure, signInSlowed } from '/ui/lib/session.js';

const WRONG_SIGN_IN = 'Wrong user name or password.';
// The password of this sign-in, which the page asking for one's own replaces: the factory one or
// the one made for this gateway at installation. Kept in memory alone, until it is replaced.
let signInPassword = null;
const SLOWED_TEXT = 'Sign-in is slowed down after repeated failures: the gateway now waits about a second before ' +
  'it checks each attempt from this computer. Check the user name and the password (upper and lower case count).';

export function signInView(page, app) {
  const notice = h('p', { class: 'notice', role: 'status', hidden: true });
  const slowed = h('p', { class: 'notice warn', id: 'sign-in-slowed', role: 'status', hidden: true }, SLOWED_TEXT);
  const user = textField({ label: 'User name', value: 'admin', autocomplete: 'username', name: 'username' });
  const pass = textField({ label: 'Password', type: 'password', autocomplete: 'current-password', name: 'password' });
  const status = statusLine();
  const submit = h('button', { type: 'submit', class: 'primary' }, 'Sign in');
  const area = h('fieldset', { class: 'plain' }, user.wrap, pass.wrap, h('div', { class: 'actions' }, submit), status.el);
  const form = h('form', { novalidate: true, 'aria-label': 'Sign in' }, area);
  const el = h('section', { class: 'view signin card', hidden: true },
    h('h1', { tabindex: '-1' }, page.title),
    h('p', { class: 'intro' }, 'Sign in to manage this LoRa gateway.'),
    notice, slowed, form);

  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    user.setError('');
    pass.setError('');
    if (!user.input.value.trim()) return user.setError('Enter the user name.'), user.input.focus();
    status.busy('Signing in…');
    const started = performance.now();
    try {
      await whileBusy(area, () => api.signIn(user.input.value.trim(), pass.input.value));
      signInPassword = pass.input.value;
      status.clear();
      pass.input.value = '';
      notice.hidden = true;
      slowed.hidden = true;
      clearFailures();
      app.signedIn();
    } catch (e) {
      if (isSignInFailure(e.code)) {
        const failures = recordFailure();
        if (signInSlowed({ failures, tookMs: performance.now() - started })) slowed.hidden = false;
      }
      // The gateway answers an unknown user and a wrong password differently; the page says the
      // same for both, so it neither tells which accounts exist nor reads like a typing error.
      status.error(isSignInFailure(e.code) ? WRONG_SIGN_IN : e.message);
      pass.input.select();
    }
  });

  return {
    el,
    setNotice(text) {
      notice.textContent = text ?? '';
      notice.hidden = !text;
    },
    show() {
      status.clear();
      slowed.hidden = recentFailures().length < FAILURES_BEFORE_SLOW;
      (user.input.value ? pass.input : user.input).focus();
    },
  };
}

// What each button changes, given where SSH stands: running now, and started at boot.
export function sshEffects(unit) {
  if (!unit) {
    return { enable: 'starts it now and at every boot', disable: 'stops it now and at every boot' };
  }
  const running = isRunning(unit);
  const atBoot = startsAtBoot(unit);
  return {
    enable: running && atBoot ? 'already on: changes nothing'
      : running ? 'keeps it running and starts it at every boot'
        : atBoot ? 'starts it now (it already starts at boot)' : 'starts it now and at every boot',
    disable: !running && !atBoot ? 'already off: changes nothing'
      : !running ? 'no longer starts it at boot (it is stopped)'
        : atBoot ? 'stops it now and at every boot' : 'stops it now (it does not start at boot)',
  };
}

export function sshView(page, app) {
  const status = statusLine();
  const state = h('p', { class: 'unit-state', 'aria-live': 'polite' }, 'Asking the gateway…');
  const enableEffect = h('small', {});
  const disableEffect = h('small', {});
  const enableBtn = h('button', { type: 'button', class: 'primary labelled' }, h('span', {}, 'Enable SSH…'), enableEffect);
  const disableBtn = h('button', { type: 'button', class: 'labelled' }, h('span', {}, 'Disable SSH…'), disableEffect);
  const area = h('fieldset', { class: 'plain' }, h('div', { class: 'actions' }, enableBtn, disableBtn));

  // A modal dialog: the keyboard stays inside it and Escape cancels.
  const question = h('p', {});
  const confirmBtn = h('button', { type: 'submit', class: 'primary', value: 'yes' });
  const dialog = h('dialog', { 'aria-labelledby': 'ssh-confirm-title' },
    h('form', { method: 'dialog' },
      h('h2', { id: 'ssh-confirm-title' }, 'Change SSH access?'),
      question,
      h('div', { class: 'actions' }, confirmBtn, h('button', { type: 'submit', value: 'no' }, 'Cancel'))));

  const el = h('section', { class: 'view', hidden: true },
    h('h1', { tabindex: '-1' }, page.title),
    h('div', { class: 'card' },
      h('p', { class: 'intro' }, 'Enabling starts the gateway\'s SSH server now and at every boot. Disabling stops it ' +
        'and keeps it off after a reboot.'),
      state, area, status.el),
    dialog);

  function showState(unit) {
    const b = unitBadge(unit);
    state.replaceChildren('The SSH server is ', h('span', { class: `badge ${b.tone}` }, b.label),
      unit ? ` and ${startsAtBoot(unit) ? 'starts' : 'does not start'} at boot.` : '.');
    const effects = sshEffects(unit);
    enableEffect.textContent = effects.enable;
    disableEffect.textContent = effects.disable;
  }

  async function refresh() {
    try {
      const s = await app.fetchStatus();
      // systemd could not be asked this time: said as a failed status call says it.
      if (s.errors?.units) throw new Error(s.errors.units.message);
      showState(s.units.ssh);
    } catch (e) {
      if (e.authLost) return;
      state.textContent = `The gateway did not say whether SSH is on: ${e.message}`;
      const effects = sshEffects(null);
      enableEffect.textContent = effects.enable;
      disableEffect.textContent = effects.disable;
    }
  }

  const plans = {
    enable: {
      button: enableBtn,
      question: 'Enable SSH access? The SSH server is started and enabled at boot; anyone with a valid login ' +
        'can then reach the gateway\'s shell.',
      confirm: 'Enable SSH',
      call: 'sshd/start',
      busy: 'Starting the SSH server…',
      done: 'SSH access is enabled: the SSH server is running and starts at boot.',
    },
    disable: {
      button: disableBtn,
      question: 'Disable SSH access? The SSH server is stopped and no longer starts at boot. Sessions already ' +
        'open may be cut off.',
      confirm: 'Disable SSH',
      call: 'sshd/stop',
      busy: 'Stopping the SSH server…',
      done: 'SSH access is disabled: the SSH server is stopped and does not start at boot.',
    },
  };
  let pending = null;

  for (const plan of Object.values(plans)) {
    plan.button.addEventListener('click', () => {
      pending = plan;
      question.textContent = plan.question;
      confirmBtn.textContent = plan.confirm;
      dialog.returnValue = '';
      dialog.showModal();
    });
  }
  dialog.addEventListener('close', async () => {
    const plan = pending;
    pending = null;
    if (!plan) return;
    if (dialog.returnValue !== 'yes') return plan.button.focus();
    status.busy(plan.busy);
    try {
      await whileBusy(area, () => api.call(plan.call, {}));
      await refresh();
      status.ok(plan.done);
    } catch (e) {
      if (e.authLost) status.clear();
      else status.error(`SSH access was not changed: ${e.message}`);
      refresh();
    }
    plan.button.focus();
  });

  return { el, fetchesStatus: true, show: refresh };
}

// A new password for the account "admin": anything but empty, short, or the factory one. The
// page's own rule: the gateway takes any password.
const MIN_PASSWORD_LENGTH = 8;
export function checkNewPassword(text) {
  if (text === '') return { error: 'The new password may not be empty.' };
  if (text === FACTORY_PASSWORD) {
    return { error: 'That is the factory password, the same on every gateway. Choose a password of your own.' };
  }
  if ([...text].length < MIN_PASSWORD_LENGTH) {
    return { error: `Use at least ${MIN_PASSWORD_LENGTH} characters: a short password is quickly guessed.` };
  }
  return { value: text };
}

// What is wrong with a new password typed twice, field by field.
function newPasswordProblems(next, again) {
  const { error } = checkNewPassword(next.input.value);
  return [
    [next, error],
    [again, !error && again.input.value !== next.input.value && 'The two new passwords do not match.'],
  ];
}

// Right after signing in, while the gateway still has its factory password: a password of the
// operator's own before anything else. It can be put off for the rest of the sign-in.
export function newPasswordView(page, app) {
  const next = textField({
    label: 'Your own password', type: 'password', autocomplete: 'new-password',
    hint: 'At least 8 characters, and not the factory password.',
  });
  const again = textField({ label: 'Your own password again', type: 'password', autocomplete: 'new-password' });
  const status = statusLine();
  const account = h('input', { type: 'text', name: 'username', autocomplete: 'username', value: 'admin', hidden: true });
  const later = h('button', { type: 'button' }, 'Not now');
  const area = h('fieldset', { class: 'plain' }, account, next.wrap, again.wrap,
    h('div', { class: 'actions' }, h('button', { type: 'submit', class: 'primary' }, 'Set password'), later), status.el);
  const form = h('form', { novalidate: true, 'aria-label': 'Set your own password' }, area);
  const el = h('section', { class: 'view', hidden: true },
    h('h1', { tabindex: '-1' }, page.title),
    h('div', { class: 'card narrow' },
      h('p', { class: 'intro' }, 'This gateway still signs in with the password it came with (the factory one, the ' +
        'same on every gateway of its kind, or one written in a file on it): anyone who knows it can change the ' +
        'forwarder and open SSH. Choose a password of your own before anything else.'),
      form));

  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    status.clear();
    const problems = newPasswordProblems(next, again).filter(([, problem]) => problem);
    for (const f of [next, again]) f.setError('');
    for (const [f, problem] of problems) f.setError(problem);
    if (problems.length) return problems[0][0].input.focus();
    status.busy('Setting the password…');
    try {
      await whileBusy(area, () =>
        api.call('password/update', { currentPassword: signInPassword ?? FACTORY_PASSWORD, newPassword: next.input.value }));
      signInPassword = null;
      next.input.value = '';
      again.input.value = '';
      status.clear();
      app.passwordChanged();
      app.leaveNewPassword();
    } catch (e) {
      if (e.authLost) return status.clear();
      // A mismatch: someone changed it meanwhile, or the page was reloaded and no longer knows
      // the password of the sign-in; the Password page asks for it.
      status.error(e.code === PASSWORD_MISMATCH
        ? 'The password was not changed: the gateway no longer has the password you signed in with. Change it under Password.'
        : `The password was not changed: ${e.message}`);
    }
  });
  later.addEventListener('click', () => app.putOffNewPassword());

  return {
    el,
    show() {
      status.clear();
      next.input.focus();
    },
  };
}

export function passwordView(page, app) {
  const current = textField({ label: 'Current password', type: 'password', autocomplete: 'current-password' });
  const next = textField({ label: 'New password', type: 'password', autocomplete: 'new-password' });
  const again = textField({ label: 'New password again', type: 'password', autocomplete: 'new-password' });
  const status = statusLine();
  // Lets password managers file the new password under the right account.
  const account = h('input', { type: 'text', name: 'username', autocomplete: 'username', value: 'admin', hidden: true });
  const area = h('fieldset', { class: 'plain' }, account, current.wrap, next.wrap, again.wrap,
    h('div', { class: 'actions' }, h('button', { type: 'submit', class: 'primary' }, 'Change password')), status.el);
  const form = h('form', { novalidate: true, 'aria-label': 'Change password' }, area);
  const keys = metricsKeysCard();
  const el = h('section', { class: 'view', hidden: true },
    h('h1', { tabindex: '-1' }, page.title),
    h('div', { class: 'card narrow' },
      h('h2', {}, 'Password'),
      h('p', { class: 'intro' }, 'Changes the password of the account "admin". Every other browser or script signed in ' +
        'is signed out; this one stays signed in.'),
      form),
    keys.el);

  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    status.clear();
    const fields = [current, next, again];
    fields.forEach((f) => f.setError(''));
    const problems = [
      [current, current.input.value === '' && 'Enter the current password.'],
      ...newPasswordProblems(next, again),
    ].filter(([, problem]) => problem);
    for (const [f, problem] of problems) f.setError(problem);
    if (problems.length) return problems[0][0].input.focus();
    status.busy('Changing the password…');
    try {
      await whileBusy(area, () =>
        api.call('password/update', { currentPassword: current.input.value, newPassword: next.input.value }));
      fields.forEach((f) => (f.input.value = ''));
      status.ok('The password has been changed. Use the new one the next time you sign in.');
      app.passwordChanged();
    } catch (e) {
      if (e.authLost) return status.clear();
      status.clear();
      // A wrong current password comes back as "Password mismatch", which would read as if the
      // two new passwords differed.
      if (e.code === PASSWORD_MISMATCH) {
        current.setError('The current password is wrong.');
        current.input.select();
      } else {
        status.error(`The password was not changed: ${e.message}`);
      }
    }
  });

  return {
    el,
    show() {
      keys.refresh();
      // What the shell asks for a view that fetches nothing itself: the gateway's name for the header.
      if (!api.remembered('id')) api.call('forwarder-config/get').then(app.setDocument, () => {});
    },
    hide: () => keys.forgetKey(),
  };
}

export const byteCount = (text) => new TextEncoder().encode(text).length;

// The page's check of a new key's name, as the gateway checks it: what is wrong, or nothing.
export function metricsKeyNameProblem(text) {
  const name = text.replace(/^[ \t]+|[ \t]+$/g, '');
  if (!name) return 'Name the key, after what reads the metrics (say "prometheus").';
  if (byteCount(name) > MAX_METRICS_KEY_NAME_BYTES) return `Use at most ${MAX_METRICS_KEY_NAME_BYTES} bytes for the name.`;
  if (/[\u0000-\u001f\u007f-\u009f]/.test(name)) return 'The name may not hold tabs, line breaks or other control characters.';
  return '';
}

// Puts text on the clipboard: the Clipboard API where the page is a secure context (HTTPS,
// localhost), otherwise the selection of the field that shows it.
async function copyText(input) {
  try {
    await navigator.clipboard.writeText(input.value);
    return true;
  } catch {
    input.select();
    return document.execCommand('copy');
  }
}

// The keys that may read /metrics: listed without their text, made by name (the text shown this
// once), revoked after a question.
function metricsKeysCard() {
  const name = textField({ label: 'Name of a new key', hint: 'What will read the metrics, such as "prometheus".' });
  const status = statusLine();
  const area = h('fieldset', { class: 'plain' }, name.wrap,
    h('div', { class: 'actions' }, h('button', { type: 'submit', class: 'primary' }, 'Create key')), status.el);
  const form = h('form', { novalidate: true, 'aria-label': 'Create a metrics key' }, area);

  // Wrapped rather than scrolled, so that all of it is in sight on a phone.
  const keyText = h('textarea', { readonly: true, rows: 2, class: 'key-text', 'aria-label': 'The new key', spellcheck: 'false' });
  const copied = statusLine();
  const copyBtn = h('button', { type: 'button' }, 'Copy');
  const doneBtn = h('button', { type: 'button' }, 'Done');
  const shown = h('div', { class: 'notice warn new-key', role: 'region', 'aria-label': 'New key', hidden: true },
    h('p', {}, h('strong', {}, 'Copy the key now: it will not be shown again. '),
      'The gateway keeps only a hash of it. The scraper sends it as the header ', h('code', {}, 'Authorization: Bearer KEY'), '.'),
    keyText, h('div', { class: 'actions' }, copyBtn, doneBtn), copied.el);

  const listStatus = statusLine();
  const body = h('tbody', {});
  const table = h('div', { class: 'table-wrap', hidden: true },
    h('table', { class: 'activity metrics-keys' },
      h('caption', { class: 'sr-only' }, 'Metrics keys'),
      h('thead', {}, h('tr', {}, ['Name', 'Created', 'Last used', 'State', ''].map((t) => h('th', { scope: 'col' }, t)))),
      body));
  const none = h('p', { class: 'hint', hidden: true }, 'No keys yet: /metrics answers no one.');

  const el = h('div', { class: 'card', id: 'metrics-keys' },
    h('h2', {}, 'Metrics keys'),
    h('p', { class: 'intro' }, `A metrics key lets a monitoring system (Prometheus) read /metrics, and nothing else. ` +
      `Make one for each system that reads them, so that each can be revoked alone; at most ${MAX_METRICS_KEYS} at once.`),
    form, shown, listStatus.el, none, table);

  function row(key) {
    const revoked = key.revokedAt !== null;
    const revoke = revoked ? '' : h('button', { type: 'button', onclick: () => revokeKey(key) }, 'Revoke…');
    return h('tr', { class: revoked ? 'revoked' : null },
      h('td', { 'data-label': 'Name' }, key.name),
      h('td', { 'data-label': 'Created' }, localTimeText(key.createdAt)),
      h('td', { 'data-label': 'Last used' }, key.lastUsedAt ? localTimeText(key.lastUsedAt) : 'never'),
      h('td', { 'data-label': 'State' }, revoked
        ? h('span', { class: 'badge muted' }, `revoked ${localTimeText(key.revokedAt)}`)
        : h('span', { class: 'badge ok' }, 'in use')),
      h('td', { 'data-label': '' }, revoke));
  }

  async function refresh() {
    try {
      const { keys } = await api.call('metrics-keys/list');
      // The keys in use first, newest first; then the revoked ones, newest first.
      keys.sort((a, b) => (a.revokedAt !== null) - (b.revokedAt !== null) || b.id - a.id);
      body.replaceChildren(...keys.map(row));
      table.hidden = keys.length === 0;
      none.hidden = keys.length > 0;
      listStatus.clear();
    } catch (e) {
      if (e.authLost) return listStatus.clear();
      listStatus.error(`The keys could not be listed: ${e.message}`);
    }
  }

  async function revokeKey(key) {
    const yes = await ask({
      title: 'Revoke this key?',
      text: `Whatever reads /metrics with the key "${key.name}" is refused from its next scrape on. This cannot be undone.`,
      confirm: 'Revoke key',
    });
    if (!yes) return;
    listStatus.busy(`Revoking "${key.name}"…`);
    try {
      await api.call('metrics-keys/revoke', { id: key.id });
      await refresh();
      listStatus.ok(`The key "${key.name}" is revoked`);
    } catch (e) {
      if (e.authLost) return listStatus.clear();
      listStatus.error(`The key was not revoked: ${e.message}`);
      refresh();
    }
  }

  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    status.clear();
    const problem = metricsKeyNameProblem(name.input.value);
    name.setError(problem);
    if (problem) return name.input.focus();
    status.busy('Creating the key…');
    try {
      const made = await whileBusy(area, () => api.call('metrics-keys/create', { name: name.input.value }));
      name.input.value = '';
      status.clear();
      keyText.value = made.key;
      copied.clear();
      shown.hidden = false;
      keyText.focus();
      keyText.select();
      await refresh();
    } catch (e) {
      if (e.authLost) return status.clear();
      if (e.code === METRICS_KEY_NAME_TAKEN) {
        status.clear();
        name.setError('A key in use has this name already: choose another, or revoke that one first.');
        return name.input.focus();
      }
      status.error(e.code === TOO_MANY_METRICS_KEYS
        ? `No key was created: ${MAX_METRICS_KEYS} keys are in use already. Revoke one first.`
        : `No key was created: ${e.message}`);
    }
  });
  copyBtn.addEventListener('click', async () => {
    if (await copyText(keyText)) copied.ok('Copied');
    else copied.error('The browser did not copy it: select the key and copy it yourself');
  });
  // Gone from the page, and with it from the browser: nothing can show it again.
  function forgetKey() {
    keyText.value = '';
    shown.hidden = true;
    copied.clear();
  }
  doneBtn.addEventListener('click', () => {
    forgetKey();
    name.input.focus();
  });

  return { el, refresh, forgetKey };
}
