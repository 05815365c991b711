// HTTPS as the gateway serves it: its facts (server/tls, open to anyone, asked once), and the
// banner that points a page loaded over plain HTTP from another machine to the encrypted
// address, with the certificate's fingerprint to compare with the one the gateway printed.

import { h } from '/ui/lib/dom.js';

const DISMISSED_KEY = 'relaydash.httpsBannerDismissed';

// Loopback addresses and names: the connection never leaves the machine, nothing to protect.
export function isLoopbackHost(hostname) {
  const name = hostname.replace(/^\[|\]$/g, '').toLowerCase();
  return name === 'localhost' || name.endsWith('.localhost') || name === '::1' || /^127\.\d+\.\d+\.\d+$/.test(name);
}

let facts = null;
// What server/tls answers; a failure is kept too, and asked again next time.
export function httpsFacts() {
  facts ??= fetch('/rpc/server/tls', {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: '{}',
    cache: 'no-store',
  }).then((res) => res.json()).then((answer) => {
    if (!answer?.output) throw new Error('no answer');
    return answer.output;
  }).catch((e) => {
    facts = null;
    throw e;
  });
  return facts;
}

// The same page at the gateway's HTTPS address.
export const httpsAddress = (where = location) => `https://${where.host}${where.pathname}${where.search}${where.hash}`;

// Shows the banner above the page when it came over plain HTTP from another machine and HTTPS
// is on; nothing otherwise.
export async function offerHttps(header) {
  if (location.protocol !== 'http:' || isLoopbackHost(location.hostname)) return;
  if (sessionStorage.getItem(DISMISSED_KEY) === '1') return;
  let tls;
  try {
    tls = await httpsFacts();
  } catch {
    return;
  }
  if (!tls.https) return;
  const dismiss = h('button', { type: 'button', class: 'quiet' }, 'Dismiss');
  const banner = h('p', { id: 'https-banner', class: 'banner', role: 'status' },
    'This connection is not encrypted: your password and what you change cross the network readable. ',
    h('a', { href: httpsAddress() }, 'Open this page over HTTPS'),
    '. Your browser will show the gateway\'s own certificate; it is this gateway\'s if its SHA-256 fingerprint is ',
    h('code', { class: 'fingerprint' }, tls.fingerprint), ' ', dismiss);
  dismiss.addEventListener('click', () => {
    sessionStorage.setItem(DISMISSED_KEY, '1');
    banner.remove();
  });
  header.prepend(banner);
}
