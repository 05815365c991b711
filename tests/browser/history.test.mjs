// The history page through an operator's day: a change that stays, one the forwarder refuses
// (its edits kept, with a way to the refused file), then a restore; what each version is said to
// be, comparing any two, and a restore that a key pressed twice does not confirm.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import { SX1301, applyReviewed, browser, gw, newPage, screenshot, shows, signIn, usesBrowser, view } from './support.mjs';

const MARKER = 'DEADBEEFDEADBEEF';
const ORIGINAL_ID = 'AA555A0000000000';
const FIRST_ID = 'AA555A0000000001';

usesBrowser(SX1301, (started) => started.crashOn(MARKER));

const rowsText = async (page) => (await page.locator('table.versions tbody tr').allInnerTexts()).map((r) => r.replace(/\s+/g, ' '));
const row = (page, n) => page.locator('table.versions tbody tr').filter({ has: page.getByRole('rowheader', { name: String(n), exact: true }) });

async function applyGatewayId(page, id) {
  await page.getByLabel('Gateway ID (EUI)').fill(id);
  await page.getByRole('button', { name: 'Review changes' }).click();
  await view(page).getByRole('heading', { name: 'Review changes' }).waitFor();
  return applyReviewed(page);
}

describe('a day of changes', () => {
  let page;

  test('a change the forwarder refuses keeps the edits on the form and links to the refused file', async () => {
    page = await newPage(browser, gw);
    await page.goto('/ui/config');
    await signIn(page);
    await page.locator('.sections input').first().waitFor();
    assert.equal(await applyGatewayId(page, FIRST_ID), 'Change applied');
    await view(page).getByRole('button', { name: 'Back to the configuration' }).click();
    await shows(view(page).locator('.sections'), 'Gateway ID');

    assert.equal(await applyGatewayId(page, MARKER), 'Change rolled back');
    const v = view(page);
    // Every step has ended: the one that failed is marked, the rollback is done, none still turns.
    assert.equal(await v.locator('.steps .spinner, .steps li.current').count(), 0);
    assert.deepEqual(await v.locator('.steps li.failed').allInnerTexts(), ['Watch the forwarder for 1 s']);
    assert.equal(await v.locator('.steps li[data-step="rolling-back"]').getAttribute('class'), 'done');
    await shows(v.locator('.outcome'), 'Compare the file that was refused (version 3) with the one put back (version 2)');
    await v.getByRole('button', { name: 'Back to the configuration' }).click();
    // The typed value stays, with what happened and a way to the refused file.
    const kept = v.locator('.notice').filter({ hasText: 'Your edits are kept here to mend' });
    await kept.waitFor();
    assert.equal(await page.getByLabel('Gateway ID (EUI)').inputValue(), MARKER);
    assert.match(gw.configText(), new RegExp(FIRST_ID));
    await kept.getByRole('link', { name: 'Compare the refused file (version 3) with the one put back' }).click();

    await page.getByRole('heading', { name: 'Version 2 compared with version 3' }).waitFor();
    assert.equal(new URL(page.url()).search, '?compare=2,3');
    await shows(page.locator('.diff .del'), `"gateway_ID": "${FIRST_ID}"`);
    await shows(page.locator('.diff .add'), `"gateway_ID": "${MARKER}"`);
    assert.deepEqual(page.errors, []);
  });

  test('each version says what it is; any two compare older first', async () => {
    await page.goto('/ui/history');
    await row(page, 3).waitFor();
    const rows = await rowsText(page);
    assert.equal(rows.length, 3);
    assert.match(rows[0], /^3 .* refused by the forwarder: gateway_conf\.gateway_ID changed Why: /);
    assert.match(rows[1], /^2 .* current (last that ran well )?before your change at \d\d:\d\d — ran /);
    assert.match(rows[2], /^1 .* before your change at \d\d:\d\d — ran /);
    await screenshot(page, 'history-labels');

    // Picked newer first, shown older first.
    const pick = page.getByRole('form', { name: 'Compare two versions' });
    await pick.getByLabel('Compare').selectOption('2');
    await pick.getByLabel('with').selectOption('1');
    await pick.getByRole('button', { name: 'Compare' }).click();
    await page.getByRole('heading', { name: 'Version 1 compared with version 2' }).waitFor();
    await shows(page.locator('.diff .del'), `"gateway_ID": "${ORIGINAL_ID}"`);
    await shows(page.locator('.diff .add'), `"gateway_ID": "${FIRST_ID}"`);
    assert.deepEqual(page.errors, []);
  });

  test('Enter pressed twice on Restore… opens the dialog and then cancels it: nothing is restored', async () => {
    const restores = [];
    page.on('request', (r) => r.url().endsWith('/rpc/forwarder-config/restore') && restores.push(r));
    const before = gw.configText();
    await row(page, 1).getByRole('button', { name: 'Restore version 1' }).focus();
    await page.keyboard.press('Enter');
    const dialog = page.getByRole('dialog', { name: 'Restore this version?' });
    await dialog.waitFor();
    assert.equal(await page.evaluate(() => document.activeElement.textContent), 'Cancel');
    await page.keyboard.press('Enter');
    await dialog.waitFor({ state: 'hidden' });
    assert.equal(gw.configText(), before);
    // The page asks the gateway something of its own: any restore it sent would be seen before.
    await page.evaluate(() => fetch('/health'));
    assert.deepEqual(restores, []);
    assert.deepEqual(page.errors, []);
  });

  test('an address opens the restore of a version with what it changes; the version kept says it', async () => {
    await page.goto('/ui/history?restore=1');
    const dialog = page.getByRole('dialog', { name: 'Restore this version?' });
    await shows(dialog, 'replaces the current one, byte for byte');
    await shows(dialog.locator('.diff .del'), `"gateway_ID": "${FIRST_ID}"`);
    await shows(dialog.locator('.diff .add'), `"gateway_ID": "${ORIGINAL_ID}"`);
    await screenshot(page, 'history-restore');
    await dialog.getByLabel('Watch the forwarder after the restart (seconds)').fill('1');
    await dialog.getByRole('button', { name: 'Restore' }).click();
    await view(page).getByRole('heading', { name: 'Change applied' }).waitFor({ timeout: 30_000 });
    assert.equal(gw.config().gateway_conf.gateway_ID, ORIGINAL_ID);
    await view(page).getByRole('button', { name: 'Back to the configuration' }).click();
    await row(page, 4).waitFor();
    assert.match((await rowsText(page))[0], /^4 .* before your restore of version 1 at \d\d:\d\d — ran /);
    await shows(row(page, 1), 'current');
    assert.equal(await row(page, 4).locator('.badge', { hasText: 'current' }).count(), 0);
    assert.deepEqual(page.errors, []);
  });

  test('on a phone, a row reads as labelled lines, none of them a stray colon', async () => {
    const phone = await newPage(browser, gw, { viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true });
    await phone.goto('/ui/history');
    await signIn(phone);
    await row(phone, 1).waitFor();
    const labels = await phone.locator('table.versions tbody td').evaluateAll((cells) => cells.map((td) =>
      getComputedStyle(td, '::before').content));
    assert.ok(labels.length > 0);
    for (const label of labels) assert.ok(label === 'none' || /^"\S.*: "$/.test(label), label);
    assert.ok(await phone.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth));
    await screenshot(phone, 'history-phone', { fullPage: false });
    assert.deepEqual(phone.errors, []);
  });
});
