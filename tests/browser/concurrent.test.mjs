// Two operators at once, and a file the forwarder reads otherwise than it looks: an edit based on
// a file that has changed is never applied over it, the raw view carries the operator's text onto
// the new file, and what the forwarder reads (and what other files beside it set) is shown.
import assert from 'node:assert/strict';
import { rmSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { SX1301, applyReviewed, browser, gw, newPage, screenshot, shows, signIn, usesBrowser, view } from './support.mjs';

usesBrowser(SX1301);

// Opens a view, signed in, once it shows the file (the form, unless told it cannot).
async function open(where, { form = true } = {}) {
  const page = await newPage(browser, gw);
  await page.goto(where);
  await signIn(page);
  if (where === '/ui/raw') await page.waitForFunction(() => document.querySelector('main > section.view:not([hidden]) textarea')?.value);
  if (where === '/ui/config' && form) await page.locator('.sections input').first().waitFor();
  return page;
}

const rowsOf = async (locator) => (await locator.allInnerTexts()).map((r) => r.replace(/\s+/g, ' ').trim());
const reviewHeading = (page) => view(page).getByRole('heading', { name: 'Review changes' });

async function review(page) {
  await page.getByRole('button', { name: 'Review changes' }).click();
  await reviewHeading(page).waitFor();
}

// Applies from the review, and answers the request the page sent.
async function applyStale(page, procedure) {
  const sent = page.waitForRequest(`**/rpc/forwarder-config/${procedure}`);
  const answered = page.waitForResponse(`**/rpc/forwarder-config/${procedure}`);
  await view(page).getByLabel('Watch the forwarder after the restart (seconds)').fill('1');
  await view(page).getByRole('button', { name: 'Apply', exact: true }).click();
  assert.equal((await answered).status(), 409);
  return JSON.parse((await sent).postData()).input;
}

test('a raw edit based on a file another page has changed is refused, carried onto the new file, and applied over it', async () => {
  const original = gw.configText();
  const raw = await open('/ui/raw');
  const text = raw.getByLabel('Configuration file');
  const mine = original.replace('"antenna_gain": 0,', '"antenna_gain": 3,');
  await text.fill(mine);
  await review(raw);

  // Meanwhile another operator applies a change through the form.
  const form = await open('/ui/config');
  await form.getByLabel('Keep-alive interval (s)').fill('20');
  await review(form);
  assert.equal(await applyReviewed(form), 'Change applied');
  const theirs = gw.configText();
  assert.equal(theirs, original.replace('"keepalive_interval": 10', '"keepalive_interval": 20'));

  const sent = await applyStale(raw, 'restore');
  assert.equal(typeof sent.base, 'string');
  assert.equal(gw.configText(), theirs);
  const notice = view(raw).locator('.notice');
  await shows(notice, 'changed elsewhere while you edited it');
  await shows(notice, 'Your edits are carried onto the new file');
  await shows(notice.locator('.diff .add'), '"keepalive_interval": 20');
  assert.equal(await notice.locator('.conflicts').count(), 0);
  assert.equal(await text.inputValue(), theirs.replace('"antenna_gain": 0,', '"antenna_gain": 3,'));
  await screenshot(raw, 'raw-changed-underneath');

  await review(raw);
  assert.deepEqual(await rowsOf(view(raw).locator('.review tbody tr')), ['SX1301_conf.antenna_gain 0 3']);
  assert.equal(await applyReviewed(raw), 'Change applied');
  const applied = gw.configText();
  assert.equal(applied, theirs.replace('"antenna_gain": 0,', '"antenna_gain": 3,'));

  // Both change the same line: the operator's line stays as typed, and the place is told.
  await view(raw).getByRole('button', { name: 'Back to the configuration' }).click();
  await raw.waitForFunction((t) => document.querySelector('main > section.view:not([hidden]) textarea')?.value === t, applied);
  const typed = applied.replace('"antenna_gain": 3,', '"antenna_gain": 5,');
  await text.fill(typed);
  gw.writeConfig(applied.replace('"antenna_gain": 3,', '"antenna_gain": 4,'));
  await raw.getByRole('button', { name: 'Review changes' }).click();
  const conflicts = notice.locator('.conflicts');
  await shows(conflicts, 'You and the other change both changed these lines');
  const line = typed.split('\n').findIndex((l) => l.includes('"antenna_gain": 5,')) + 1;
  await shows(conflicts.locator('li'), `Line ${line} of your text; the new file has there:`);
  await shows(conflicts.locator('pre'), '"antenna_gain": 4,');
  assert.equal(await text.inputValue(), typed);
  assert.equal(await reviewHeading(raw).isVisible(), false);
  assert.deepEqual([...raw.errors, ...form.errors], []);
  await raw.context().close();
  await form.context().close();
});

test('a form apply over a changed file is refused; the review checks the file again before it opens', async () => {
  const original = gw.configText();
  const page = await open('/ui/config');
  await page.getByLabel('Keep-alive interval (s)').fill('40');
  await review(page);
  gw.writeConfig(original.replace('"stat_interval": 30', '"stat_interval": 60'));

  const sent = await applyStale(page, 'apply');
  assert.equal(typeof sent.base, 'string');
  const notice = view(page).locator('.notice');
  await shows(notice, 'changed elsewhere while you edited it');
  assert.deepEqual(await rowsOf(notice.locator('tbody tr')), ['Statistics interval 30 s 60 s']);
  assert.equal(await page.getByLabel('Keep-alive interval (s)').inputValue(), '40');
  assert.equal(await page.getByLabel('Statistics interval (s)').inputValue(), '60');

  // Changed again before the review: it does not open, and says what changed this time.
  gw.writeConfig(gw.configText().replace('"push_timeout_ms": 100', '"push_timeout_ms": 200'));
  await page.getByRole('button', { name: 'Review changes' }).click();
  await shows(notice.locator('tbody'), 'Push timeout');
  assert.deepEqual(await rowsOf(notice.locator('tbody tr')), ['Push timeout 100 ms 200 ms']);
  assert.equal(await reviewHeading(page).isVisible(), false);

  await review(page);
  assert.deepEqual(await rowsOf(view(page).locator('.review tbody tr')), ['Keep-alive interval 20 s 40 s']);
  assert.equal(await applyReviewed(page), 'Change applied');
  const conf = gw.config().gateway_conf;
  assert.deepEqual([conf.keepalive_interval, conf.stat_interval, conf.push_timeout_ms], [40, 60, 200]);
  assert.deepEqual(page.errors, []);
  await page.context().close();
});

test('a "/*" inside a "//" comment: the raw view and the status say which members the forwarder misses', async () => {
  const good = gw.configText();
  const line = good.split('\n').findIndex((l) => l.includes('"stat_interval"')) + 1;
  const push = gw.config().gateway_conf.push_timeout_ms;
  // The block comment runs on to the next "*/", two lines down: push_timeout_ms is lost to it.
  const misread = good.replace(/("stat_interval": \d+,)/, '$1 // was 30 /* before the upgrade');
  gw.writeConfig(misread);

  const status = await open('/ui/status');
  const warning = status.locator('#config-card .notice.warn');
  await shows(warning, 'The packet forwarder reads its configuration file otherwise than it looks');
  await shows(warning, 'gateway_conf.push_timeout_ms');
  await screenshot(status, 'status-misread');

  const page = await open('/ui/config', { form: false });
  const alert = view(page).getByRole('alert');
  await shows(alert, 'so the form cannot show it');
  await alert.getByRole('link', { name: 'Repair it in the raw view' }).click();
  await page.waitForFunction(() => document.querySelector('main > section.view:not([hidden]) textarea')?.value);
  const broken = view(page).getByRole('alert');
  await shows(broken, 'The packet forwarder reads the file on the gateway otherwise than it looks');
  await shows(broken, 'gateway_conf.push_timeout_ms');
  await broken.getByRole('button', { name: 'Go to the error' }).click();
  const text = page.getByLabel('Configuration file');
  assert.equal(await text.evaluate((t) => t.value.slice(0, t.selectionStart).split('\n').length), line);

  // The same mistake typed anew is stopped before anything is sent.
  await text.fill(good.replace(/("keepalive_interval": \d+,)/, '$1 // not /* yet'));
  await page.getByRole('button', { name: 'Review changes' }).click();
  await shows(view(page).locator('.field-error'), 'It would not read gateway_conf.stat_interval');
  assert.equal(await reviewHeading(page).isVisible(), false);

  await text.fill(good);
  await review(page);
  assert.deepEqual(await rowsOf(view(page).locator('.review tbody tr')), [`Push timeout (not set) ${push} ms`]);
  assert.equal(await applyReviewed(page), 'Change applied');
  await status.reload();
  await shows(status.locator('#config-card'), 'Gateway EUI');
  assert.equal(await status.locator('#config-card .reading').count(), 0);
  assert.deepEqual([...page.errors, ...status.errors], []);
  await page.context().close();
  await status.context().close();
});

test('members set in local_conf.json are read-only in the form and marked on the status; debug_conf.json is said', async () => {
  const local = path.join(gw.dir, 'local_conf.json');
  writeFileSync(local, '{ "gateway_conf": { "gateway_ID": "0016C001FF10A235" } }\n');
  try {
    const page = await open('/ui/config');
    const id = page.getByLabel('Gateway ID (EUI)');
    assert.equal(await id.inputValue(), '0016C001FF10A235');
    assert.equal(await id.getAttribute('readonly'), '');
    await shows(page.locator('.section-gateway'), 'Set in local_conf.json');
    await shows(view(page).locator('.sections .note'), 'local_conf.json beside this file sets gateway_conf.gateway_ID');
    // The rest of the form changes the file as ever, and leaves the member alone.
    const keepalive = gw.config().gateway_conf.keepalive_interval;
    await page.getByLabel('Keep-alive interval (s)').fill('15');
    await review(page);
    assert.deepEqual(await rowsOf(view(page).locator('.review tbody tr')), [`Keep-alive interval ${keepalive} s 15 s`]);
    const sent = page.waitForRequest('**/rpc/forwarder-config/apply');
    assert.equal(await applyReviewed(page), 'Change applied');
    assert.deepEqual(JSON.parse((await sent).postData()).input.patch, { gateway_conf: { keepalive_interval: 15 } });

    const status = await open('/ui/status');
    const card = status.locator('#config-card');
    await shows(card, '0016C001FF10A235 (from local_conf.json)');

    writeFileSync(path.join(gw.dir, 'debug_conf.json'), gw.configText());
    await status.reload();
    await shows(status.locator('#config-card .notice'), 'reads debug_conf.json beside this file instead of it');
    await view(page).getByRole('button', { name: 'Back to the configuration' }).click();
    await shows(view(page).locator('.sections .notice.warn'), 'reads debug_conf.json beside this file instead of it');
    assert.deepEqual([...page.errors, ...status.errors], []);
  } finally {
    rmSync(local, { force: true });
    rmSync(path.join(gw.dir, 'debug_conf.json'), { force: true });
  }
});
