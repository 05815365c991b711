// The application shell: the header, the views and the routes below /ui, and the sign-in state.

import * as api from '/ui/api.js';
import { h } from '/ui/dom.js';
import { gatewayIdOf } from '/ui/forwarder.js';
import { passwordView, signInView, sshView } from '/ui/view-account.js';
import { configView, rawView } from '/ui/view-config.js';
import { historyView } from '/ui/view-history.js';
import { logsView } from '/ui/view-logs.js';
import { statusView } from '/ui/view-status.js';

const SIGN_IN = '/ui/login';
const HOME = '/ui/status';

const main = document.getElementById('main');
const gatewayEl = document.getElementById('gateway-id');
const nav = document.getElementById('nav');
const banner = document.getElementById('password-banner');

// Whether the administrator's password is still the factory one; null until the gateway said.
let defaultPassword = null;

function showPasswordBanner(on) {
  defaultPassword = on;
  banner.hidden = !on;
}

const app = {
  setDocument(doc) {
    showGatewayId(gatewayIdOf(doc));
  },
  // The gateway's status, for every view that shows part of it; it also tells whether the
  // factory password is still in use.
  async fetchStatus() {
    const status = await api.call('gateway/status');
    showPasswordBanner(Boolean(status.relaydash?.defaultPassword));
    if (status.forwarderConfig?.gatewayId) showGatewayId(status.forwarderConfig.gatewayId);
    return status;
  },
  passwordChanged() {
    app.fetchStatus().catch(() => {});
  },
  signedIn() {
    const next = safeTarget(new URLSearchParams(location.search).get('next'));
    history.replaceState(null, '', next);
    render();
  },
};

function showGatewayId(id) {
  api.rememberGatewayId(id);
  gatewayEl.textContent = id || 'unknown';
  gatewayEl.closest('.gateway').hidden = false;
}

const signIn = signInView(app);
const notFound = {
  title: 'Not found',
  el: h('section', { class: 'view card', hidden: true },
    h('h1', { tabindex: '-1' }, 'Not found'),
    h('p', {}, 'There is no page at this address. ', h('a', { href: HOME }, 'Go to the gateway status'), '.')),
};
main.append(signIn.el, notFound.el);

// The views behind the sign-in, made afresh after signing out so nothing typed is left behind.
let views = new Map();
let current = null;
function makeViews() {
  for (const v of views.values()) {
    v.hide?.();
    v.el.remove();
  }
  current = null;
  views = new Map([statusView(app), configView(app), rawView(app), historyView(app), sshView(app), logsView(app), passwordView(app)]
    .map((v) => [v.path, v]));
  for (const v of views.values()) main.append(v.el);
}
makeViews();

// "/ui", "/ui/" and "/ui//config/" all name a view the same way as its plain path.
function routePath(pathname) {
  const p = '/' + pathname.split('/').filter(Boolean).join('/');
  return p === '/ui' || p === '/ui/index.html' ? HOME : p;
}

// Only our own views are a place to return to after signing in.
function safeTarget(path) {
  return typeof path === 'string' && views.has(routePath(path)) ? routePath(path) : HOME;
}

function toSignIn(notice, from) {
  const target = from && views.has(from) && from !== HOME ? `?next=${encodeURIComponent(from)}` : '';
  history.replaceState(null, '', SIGN_IN + target);
  signIn.setNotice(notice);
  render();
}

function render({ moveFocus = false } = {}) {
  const path = routePath(location.pathname);
  if (path !== location.pathname) history.replaceState(null, '', path + location.search);
  const signedIn = Boolean(api.token());
  if (path !== SIGN_IN && !signedIn) return toSignIn(null, path);
  if (path === SIGN_IN && signedIn) return app.signedIn();

  const view = path === SIGN_IN ? signIn : views.get(path) ?? notFound;
  if (current && current !== view) current.hide?.();
  current = view;
  for (const el of main.children) el.hidden = el !== view.el;
  document.body.classList.toggle('signed-in', signedIn);
  for (const a of nav.querySelectorAll('a')) {
    if (a.getAttribute('href') === path) a.setAttribute('aria-current', 'page');
    else a.removeAttribute('aria-current');
  }
  document.title = `${view.title} · relaydash`;
  // After a move within the application, start reading at the new view's heading.
  if (moveFocus && view !== signIn) view.el.querySelector('h1').focus();
  view.show?.();
  if (signedIn && !view.show && !api.rememberedGatewayId()) {
    api.call('forwarder-config/get').then(app.setDocument, () => {});
  }
  // Views that do not ask for the status themselves learn about the password once per sign-in.
  if (signedIn && defaultPassword === null && !view.fetchesStatus) app.fetchStatus().catch(() => {});
}

export function navigate(path) {
  if (path !== location.pathname + location.search) history.pushState(null, '', path);
  render({ moveFocus: true });
}

document.addEventListener('click', (event) => {
  const a = event.target.closest('a[href^="/ui"]');
  if (!a || a.target || event.button !== 0 || event.metaKey || event.ctrlKey || event.shiftKey || event.altKey) return;
  event.preventDefault();
  navigate(a.getAttribute('href'));
});
window.addEventListener('popstate', () => render({ moveFocus: true }));

document.getElementById('sign-out').addEventListener('click', () => {
  api.forget();
  showPasswordBanner(false);
  defaultPassword = null;
  gatewayEl.closest('.gateway').hidden = true;
  makeViews();
  toSignIn('You have signed out.');
});

api.onAuthLost(() => {
  if (routePath(location.pathname) === SIGN_IN) return;
  toSignIn('Your session has ended, most likely because the gateway restarted. Sign in again to carry on where you were.',
    routePath(location.pathname));
});

if (api.rememberedGatewayId()) showGatewayId(api.rememberedGatewayId());
render();
