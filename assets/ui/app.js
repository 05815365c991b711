// The application shell: the header, the views and the routes below /ui (the pages of
// pages/index.js), and the sign-in state. boot.js loads it once it knows the page is not inside
// another page's frame.

import { gatewayIdOf } from '/ui/config/forwarder.js';
import * as api from '/ui/lib/api.js';
import { ask, h } from '/ui/lib/dom.js';
import { offerHttps } from '/ui/lib/https.js';
import { EXPIRED_TOKEN, TOKEN_LIFETIME_HOURS } from '/ui/lib/contract.js';
import { IDLE_LIMIT_MS, dropDrafts, keepDraft, watchIdle } from '/ui/lib/session.js';
import * as pages from '/ui/pages/index.js';

const SIGN_IN = pages.SIGN_IN.path;
const NEW_PASSWORD = pages.NEW_PASSWORD.path;
const HOME = pages.PAGES[0].path;

const NOTICES = {
  signedOut: 'You have signed out.',
  idle: `You were signed out after ${IDLE_LIMIT_MS / 60_000} minutes without activity. Sign in again to carry on ` +
    'where you were.',
  expired: `Your sign-in has expired: a sign-in lasts ${TOKEN_LIFETIME_HOURS} hours. Sign in again to carry on where ` +
    'you were.',
  ended: 'Your session has ended, most likely because the gateway restarted or its password was changed. Sign in ' +
    'again to carry on where you were.',
};

const main = document.getElementById('main');
const gatewayEl = document.getElementById('gateway-id');
const hostEl = document.getElementById('gateway-host');
const nav = document.getElementById('nav');
const banner = document.getElementById('password-banner');

offerHttps(document.querySelector('header.top'));

// Whether the administrator's password is still the factory one; null until the gateway said.
let defaultPassword = null;
// The status asked for at sign-in, for the first view after it (past the page that asks for a
// password of one's own): it needs no second asking.
let signInStatus = null;

function showPasswordBanner(on) {
  defaultPassword = on;
  banner.hidden = !on;
}

// The page that asks for a password of one's own comes before anything else, unless the
// operator put it off for this sign-in.
const mustSetPassword = () => defaultPassword === true && !api.passwordPutOff();

const app = {
  setDocument(doc) {
    showGateway({ id: gatewayIdOf(doc) });
  },
  showGateway,
  // The gateway's status, for every view that shows part of it; it also tells whether the
  // factory password is still in use.
  fetchStatus: () => signInStatus ?? askStatus(),
  passwordChanged() {
    showPasswordBanner(false);
    askStatus().catch(() => {});
  },
  async signedIn() {
    const next = safeTarget(new URLSearchParams(location.search).get('next'));
    watchSession();
    // Whether the factory password is in use decides the first page, so it is asked first.
    const status = askStatus();
    try {
      await status;
    } catch {
      // The pages say what went wrong; a refused token has already led back to the sign-in.
    }
    if (!api.token()) return;
    history.replaceState(null, '', mustSetPassword() ? withNext(NEW_PASSWORD, next) : next);
    signInStatus = status;
    render({ moveFocus: true });
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

async function askStatus() {
  const status = await api.call('gateway/status');
  const wasKnown = defaultPassword !== null;
  showPasswordBanner(Boolean(status.relaydash?.defaultPassword));
  showGateway({ id: status.forwarderConfig?.gatewayId, host: status.gateway?.hostname });
  // Learnt only now, after a reload: the new password comes first all the same. (Right after
  // signing in, the sign-in decides where to go.)
  if (!wasKnown && mustSetPassword() && ![SIGN_IN, NEW_PASSWORD].includes(routePath(location.pathname))) render();
  return status;
}

// The gateway's EUI and host name in the header and in the tab's title, so that several
// gateways open in tabs can be told apart. Facts the gateway did not give keep what is known.
function showGateway(facts) {
  for (const [what, value] of Object.entries(facts)) if (value) api.remember(what, value);
  gatewayEl.textContent = api.remembered('id') || 'unknown';
  hostEl.textContent = api.remembered('host');
  gatewayEl.closest('.gateway').hidden = false;
  showTitle();
}

function showTitle() {
  const gateway = [api.remembered('host'), api.remembered('id')].filter(Boolean).join(' ');
  document.title = [gateway, current?.title, 'relaydash'].filter(Boolean).join(' · ');
}

// A page's view, with the page's path and title.
const make = (page) => Object.assign(page.make(page, app), { path: page.path, title: page.title });

// The navigation: a link to each page behind the sign-in.
nav.append(...pages.PAGES.map((p) => h('a', { href: p.path }, p.link)));
const signIn = make(pages.SIGN_IN);
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
  newPassword = make(pages.NEW_PASSWORD);
  main.append(newPassword.el);
  views = new Map(pages.PAGES.map((p) => [p.path, make(p)]));
  for (const v of views.values()) main.append(v.el);
}
makeViews();

// "/ui", "/ui/" and "/ui//config/" all name a view the same way as its plain path; a page's old
// address names it where it is now.
function routePath(pathname) {
  const p = '/' + pathname.split('/').filter(Boolean).join('/');
  return p === '/ui' || p === '/ui/index.html' ? HOME : pages.MOVED[p] ?? p;
}

// Only our own views are a place to return to after signing in, with what their address asks.
function safeTarget(target) {
  if (typeof target !== 'string' || !target.startsWith('/')) return HOME;
  const url = new URL(target, location.origin);
  const path = routePath(url.pathname);
  return url.origin === location.origin && views.has(path) ? path + url.search : HOME;
}

// Where the tab is: the view and what its address asks.
const here = () => routePath(location.pathname) + location.search;

// The path with "?next=" the place to go on to afterwards, unless that is the first page anyway.
function withNext(path, next) {
  return next && next !== HOME && safeTarget(next) === next ? `${path}?next=${encodeURIComponent(next)}` : path;
}

function toSignIn(notice, from) {
  endSession();
  history.replaceState(null, '', withNext(SIGN_IN, from));
  signIn.setNotice(notice);
  render();
}

// Signing out by hand or for want of activity: nothing of this sign-in is kept in the tab but,
// after a sign-out for want of activity, the edits not yet applied, for the next sign-in.
function signOut(notice, from, { keepEdits = false } = {}) {
  if (!keepEdits) dropDrafts([...views.keys()]);
  for (const v of keepEdits ? views.values() : []) {
    const draft = v.draft?.();
    if (draft) keepDraft(v.path, draft);
  }
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
  idleWatch ??= watchIdle(() => signOut(NOTICES.idle, here(), { keepEdits: true }));
}
function endSession() {
  idleWatch?.stop();
  idleWatch = null;
}

function render({ moveFocus = false } = {}) {
  const path = routePath(location.pathname);
  if (path !== location.pathname) history.replaceState(null, '', path + location.search);
  const signedIn = Boolean(api.token());
  if (path !== SIGN_IN && !signedIn) return toSignIn(null, here());
  if (path === SIGN_IN && signedIn) return app.signedIn();
  if (signedIn) watchSession();
  if (signedIn && path !== NEW_PASSWORD && mustSetPassword()) {
    history.replaceState(null, '', withNext(NEW_PASSWORD, here()));
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
  // On a narrow screen the links scroll sideways: the current one is brought into sight.
  const at = nav.querySelector('[aria-current]')?.getBoundingClientRect();
  const box = nav.getBoundingClientRect();
  if (at && (at.left < box.left || at.right > box.right)) nav.scrollLeft += at.left - box.left - (box.width - at.width) / 2;
  showTitle();
  // After a move within the application, start reading at the new view's heading.
  if (moveFocus && view !== signIn) view.el.querySelector('h1').focus();
  view.show?.();
  if (view !== newPassword) signInStatus = null;
  if (signedIn && !view.show && !api.remembered('id')) {
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
  // hasAttribute: an SVG link's target is an object, never empty.
  if (!a || a.hasAttribute('target') || event.button !== 0 || event.metaKey || event.ctrlKey || event.shiftKey || event.altKey) return;
  event.preventDefault();
  navigate(a.getAttribute('href'));
});
window.addEventListener('popstate', () => render({ moveFocus: true }));

// Edits not yet applied would go with the page: the browser asks before it reloads or leaves.
window.addEventListener('beforeunload', (event) => {
  if (![...views.values()].some((v) => v.dirty?.())) return;
  event.preventDefault();
  event.returnValue = '';
});

// The browser scrolls a focused control into view only when it is outside the window, not when
// the sticky header or a view's sticky bar covers it: the page scrolls it clear of them.
const CLEARANCE = 8;
document.addEventListener('focusin', ({ target }) => {
  if (!(target instanceof Element) || target === document.body) return;
  const header = document.querySelector('.top');
  const bar = main.querySelector('.view:not([hidden]) .sticky');
  if (target.closest('.top, .sticky')) return;
  const top = getComputedStyle(header).position === 'sticky' ? header.getBoundingClientRect().bottom : 0;
  // The bar covers something only while it is stuck to the bottom of the window.
  const b = bar && !bar.closest('[hidden]') ? bar.getBoundingClientRect() : null;
  const bottom = b && b.bottom >= innerHeight - 1 ? b.top : innerHeight;
  const r = target.getBoundingClientRect();
  // What is taller than the room between the bars is left where the browser put it.
  if (r.height > bottom - top - 2 * CLEARANCE) return;
  if (r.top < top + CLEARANCE) scrollBy(0, r.top - top - CLEARANCE);
  else if (r.bottom > bottom - CLEARANCE) scrollBy(0, r.bottom - bottom + CLEARANCE);
});

// Edits not yet applied are lost with a sign-out by hand: the operator may stay.
document.getElementById('sign-out').addEventListener('click', async () => {
  const editing = [...views.values()].filter((v) => v.dirty?.()).map((v) => v.title);
  if (editing.length && !(await ask({
    title: 'Sign out and lose your edits?',
    text: `Your edits to the ${editing.join(' and the ').toLowerCase()} are not applied: signing out loses them.`,
    confirm: 'Sign out',
    cancel: 'Stay signed in',
  }))) return;
  signOut(NOTICES.signedOut);
});

api.onAuthLost((e) => {
  if (routePath(location.pathname) === SIGN_IN) return;
  toSignIn(e.code === EXPIRED_TOKEN ? NOTICES.expired : NOTICES.ended, here());
});

if (api.remembered('id')) showGateway({});
render();
