// The application shell: the header, the views and the routes below /ui, and the sign-in state.
// boot.js loads it once it knows the page is not inside another page's frame.

import * as api from '/ui/api.js';
import { h } from '/ui/dom.js';
import { gatewayIdOf } from '/ui/forwarder.js';
import { IDLE_LIMIT_MS, watchIdle } from '/ui/session.js';
import { activityView } from '/ui/view-activity.js';
import { newPasswordView, passwordView, signInView, sshView } from '/ui/view-account.js';
import { configView, rawView } from '/ui/view-config.js';
import { historyView } from '/ui/view-history.js';
import { logsView } from '/ui/view-logs.js';
import { statusView } from '/ui/view-status.js';

const SIGN_IN = '/ui/login';
const NEW_PASSWORD = '/ui/new-password';
const HOME = '/ui/status';

const NOTICES = {
  signedOut: 'You have signed out.',
  idle: `You were signed out after ${IDLE_LIMIT_MS / 60_000} minutes without activity. Sign in again to carry on ` +
    'where you were.',
  expired: 'Your sign-in has expired: a sign-in lasts 12 hours. Sign in again to carry on where you were.',
  ended: 'Your session has ended, most likely because the gateway restarted or its password was changed. Sign in ' +
    'again to carry on where you were.',
};

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

// The page that asks for a password of one's own comes before anything else, unless the
// operator put it off for this sign-in.
const mustSetPassword = () => defaultPassword === true && !api.passwordPutOff();

const app = {
  setDocument(doc) {
    showGatewayId(gatewayIdOf(doc));
  },
  // The gateway's status, for every view that shows part of it; it also tells whether the
  // factory password is still in use.
  async fetchStatus() {
    const status = await api.call('gateway/status');
    const wasKnown = defaultPassword !== null;
    showPasswordBanner(Boolean(status.relaydash?.defaultPassword));
    if (status.forwarderConfig?.gatewayId) showGatewayId(status.forwarderConfig.gatewayId);
    // Learnt only now, after a reload: the new password comes first all the same. (Right after
    // signing in, the sign-in decides where to go.)
    if (!wasKnown && mustSetPassword() && ![SIGN_IN, NEW_PASSWORD].includes(routePath(location.pathname))) render();
    return status;
  },
  passwordChanged() {
    showPasswordBanner(false);
    app.fetchStatus().catch(() => {});
  },
  async signedIn() {
    const next = safeTarget(new URLSearchParams(location.search).get('next'));
    watchSession();
    // Whether the factory password is in use decides the first page, so it is asked first.
    try {
      await app.fetchStatus();
    } catch {
      // The pages say what went wrong; a refused token has already led back to the sign-in.
    }
    if (!api.token()) return;
    history.replaceState(null, '', mustSetPassword() ? withNext(NEW_PASSWORD, next) : next);
    render();
  },
  leaveNewPassword() {
    history.replaceState(null, '', safeTarget(new URLSearchParams(location.search).get('next')));
    render({ moveFocus: true });
  },
  putOffNewPassword() {
    api.putOffPassword();
    app.leaveNewPassword();
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
let newPassword = null;
let current = null;
function makeViews() {
  for (const v of [...views.values(), newPassword].filter(Boolean)) {
    v.hide?.();
    v.el.remove();
  }
  current = null;
  newPassword = newPasswordView(app);
  main.append(newPassword.el);
  views = new Map([statusView(app), configView(app), rawView(app), historyView(app), sshView(app), logsView(app),
    activityView(app), passwordView(app)].map((v) => [v.path, v]));
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

// The path with "?next=" the place to go on to afterwards, unless that is the first page anyway.
function withNext(path, next) {
  return next && views.has(next) && next !== HOME ? `${path}?next=${encodeURIComponent(next)}` : path;
}

function toSignIn(notice, from) {
  endSession();
  history.replaceState(null, '', withNext(SIGN_IN, from));
  signIn.setNotice(notice);
  render();
}

// Signing out by hand or for want of activity: nothing of this sign-in is kept in the tab.
function signOut(notice, from) {
  api.forget();
  showPasswordBanner(false);
  defaultPassword = null;
  gatewayEl.closest('.gateway').hidden = true;
  makeViews();
  toSignIn(notice, from);
}

// The sign-in of this tab ends after a while without activity.
let idleWatch = null;
function watchSession() {
  idleWatch ??= watchIdle(() => signOut(NOTICES.idle, routePath(location.pathname)));
}
function endSession() {
  idleWatch?.stop();
  idleWatch = null;
}

function render({ moveFocus = false } = {}) {
  const path = routePath(location.pathname);
  if (path !== location.pathname) history.replaceState(null, '', path + location.search);
  const signedIn = Boolean(api.token());
  if (path !== SIGN_IN && !signedIn) return toSignIn(null, path);
  if (path === SIGN_IN && signedIn) return app.signedIn();
  if (signedIn) watchSession();
  if (signedIn && path !== NEW_PASSWORD && mustSetPassword()) {
    history.replaceState(null, '', withNext(NEW_PASSWORD, path));
    return render();
  }
  if (path === NEW_PASSWORD && defaultPassword === false) return app.leaveNewPassword();

  const view = path === SIGN_IN ? signIn : path === NEW_PASSWORD ? newPassword : views.get(path) ?? notFound;
  if (current && current !== view) current.hide?.();
  current = view;
  for (const el of main.children) el.hidden = el !== view.el;
  document.body.classList.toggle('signed-in', signedIn);
  // Nothing but the new password until it is set or put off.
  document.body.classList.toggle('first-password', view === newPassword);
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

document.getElementById('sign-out').addEventListener('click', () => signOut(NOTICES.signedOut));

api.onAuthLost((e) => {
  if (routePath(location.pathname) === SIGN_IN) return;
  toSignIn(e.code === api.EXPIRED_TOKEN ? NOTICES.expired : NOTICES.ended, routePath(location.pathname));
});

if (api.rememberedGatewayId()) showGatewayId(api.rememberedGatewayId());
render();
