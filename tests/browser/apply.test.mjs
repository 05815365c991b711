// Applying safely: the progress view through a change that stays and one that is rolled back,
// restoring from the history page, repairing a file the forwarder cannot read, uploading a whole
// vendor file larger than one request, and edits that stay when a change is refused.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import path from 'node:path';
import { describe, test } from 'node:test';
import {
  INITIAL_PASSWORD, SX1301, applyReviewed, browser, gw, holdNextConfigLoad, newPage, rpc, screenshot, shows, signIn, usesBrowser,
  view,
} from './support.mjs';

const MARKER = 'DEADBEEFDEADBEEF';
const RESTART = 'systemctl restart packet-forwarder';
const KERSING = 'sx1301-eu868-kersing-mp_pkt_fwd-multiserver.global_conf.json';

usesBrowser(SX1301, (started) => started.crashOn(MARKER));

async function open(path) {
  const page = await newPage(browser, gw);
  await page.goto(path);
  await signIn(page);
  await page.locator(path === '/ui/raw' ? 'textarea' : path === '/ui/history' ? 'table.versions tbody tr' : '.sections input').first().waitFor();
  // The raw view's text is there once it has been loaded.
  if (path === '/ui/raw') await page.waitForFunction(() => document.querySelector('main > section.view:not([hidden]) textarea')?.value);
  return page;
}

async function reviewGatewayId(page, id) {
  await page.getByLabel('Gateway ID (EUI)').fill(id);
  await page.getByRole('button', { name: 'Review changes' }).click();
  await view(page).getByRole('heading', { name: 'Review changes' }).waitFor();
}

describe('the progress view', () => {
  test('a change that stays: each step, a countdown while the forwarder is watched', async () => {
    const page = await open('/ui/config');
    const before = gw.configText();
    await reviewGatewayId(page, 'AA555A0000000001');
    assert.deepEqual(await view(page).locator('.review tbody tr').allInnerTexts(),
      ['Gateway ID\tAA555A0000000000\tAA555A0000000001']);
    const v = view(page);
    await v.getByLabel('Watch the forwarder after the restart (seconds)').fill('3');
    await v.getByRole('button', { name: 'Apply', exact: true }).click();
    const watching = v.locator('.steps li.current[data-step="watching"]');
    await shows(watching, 's left');
    // The count reaches 0 as the watch ends: a busy machine may show the step that late first.
    assert.match(await watching.innerText(), /Watch the forwarder for 3 s: [0-3] s left/);
    assert.deepEqual(await v.locator('.steps li.done').allInnerTexts(), [
      'Check the new configuration', 'Keep the current file in the history as version 1', 'Write the new file',
      'Restart the packet forwarder',
    ]);
    await screenshot(page, 'apply-watching');
    await v.getByRole('heading', { name: 'Change applied' }).waitFor({ timeout: 15_000 });
    await shows(v.locator('.outcome'), 'The packet forwarder runs with the new configuration.');
    assert.equal(await v.locator('.steps li.done').count(), 5);
    assert.equal(gw.configText(), before.replace('AA555A0000000000', 'AA555A0000000001'));
    assert.deepEqual(page.errors, []);
  });

  test('a change the forwarder cannot start with: rolled back, with the reason and its log', async () => {
    const page = await open('/ui/config');
    const before = gw.configText();
    const commands = gw.commands().length;
    await reviewGatewayId(page, MARKER);
    assert.equal(await applyReviewed(page, { settleSeconds: 3 }), 'Change rolled back');
    const v = view(page);
    await shows(v.getByRole('alert'), 'The change was rolled back: the forwarder stopped');
    await shows(v.locator('.journal'), `failed to start the concentrator: gateway_ID ${MARKER} refused`);
    assert.equal(await v.locator('.steps li.failed').innerText(), 'Watch the forwarder for 3 s');
    await shows(v.locator('.steps li.done').last(), 'Put the previous file back');
    assert.equal(await v.locator('.steps .spinner').count(), 0);
    await screenshot(page, 'apply-rolled-back');
    assert.equal(gw.configText(), before);
    assert.deepEqual(gw.commands().slice(commands), [RESTART, RESTART]);
    // The refused file is in the history: the page goes without asking, also while the form is
    // still loading the file that was put back.
    const dialogs = [];
    page.on('dialog', (d) => dialogs.push(d.type()) && d.dismiss());
    const loading = holdNextConfigLoad(page);
    await v.getByRole('button', { name: 'Back to the configuration' }).click();
    await loading;
    await page.reload();
    assert.deepEqual(dialogs, []);
    assert.deepEqual(page.errors, []);
  });
});

describe('whole files', () => {
  test('the history page compares a version with the current file and restores it', async () => {
    const original = readFileSync(gw.sample, 'utf8');
    const page = await open('/ui/history');
    const table = page.locator('table.versions');
    await table.locator('tbody tr').first().waitFor();
    const oldest = table.locator('tbody tr').last();
    assert.match(await oldest.innerText(), /^1\t.*\tadmin from 127\.0\.0\.1\t.*before your change at \d\d:\d\d/);
    await page.getByRole('button', { name: 'Compare version 1' }).click();
    await shows(page.locator('.diff .del'), '"gateway_ID": "AA555A0000000000"');
    await screenshot(page, 'history');

    await page.getByRole('button', { name: 'Restore version 1' }).click();
    const dialog = page.getByRole('dialog', { name: 'Restore this version?' });
    await shows(dialog, 'replaces the current one, byte for byte');
    await dialog.getByLabel('Watch the forwarder after the restart (seconds)').fill('1');
    await dialog.getByRole('button', { name: 'Restore' }).click();
    await view(page).getByRole('heading', { name: 'Change applied' }).waitFor({ timeout: 15_000 });
    assert.equal(gw.configText(), original);
    await view(page).getByRole('button', { name: 'Back to the configuration' }).click();
    await shows(table.locator('tbody tr').first(), 'restore');
    assert.deepEqual(page.errors, []);
  });

  test('a file the forwarder cannot read is shown with the reason and place, repaired and applied', async () => {
    const broken = gw.configText().replace('"lorawan_public": true,', '"lorawan_public": true,,');
    gw.writeConfig(broken);
    const page = await open('/ui/raw');
    await shows(page.getByRole('alert'), 'The packet forwarder cannot read the file on the gateway (line 3, column');
    const text = page.getByLabel('Configuration file');
    assert.equal(await text.inputValue(), broken);
    const repaired = broken.replace(',,', ',');
    await text.fill(repaired);
    await page.getByRole('button', { name: 'Review changes' }).click();
    await shows(view(page).locator('.review'), 'The whole file is replaced: 1 line out, 1 in.');
    assert.equal(await applyReviewed(page), 'Change applied');
    assert.equal(gw.configText(), repaired);
  });

  test('upload: a vendor file larger than a request is sent in pieces and applied as it is', async () => {
    const vendor = path.resolve('tests/data/forwarder', KERSING);
    const bytes = readFileSync(vendor, 'utf8');
    assert.ok(bytes.length > 7000);
    const page = await open('/ui/raw');
    const pieces = [];
    page.on('request', (r) => r.url().endsWith('/rpc/forwarder-config/upload') && pieces.push(r.postData().length));
    await page.locator('input[type="file"]').setInputFiles(vendor);
    const review = view(page).locator('.review');
    await shows(review, 'The whole file is replaced');
    await shows(review.locator('tbody'), 'Network server');
    assert.equal(await applyReviewed(page), 'Change applied');
    assert.equal(gw.configText(), bytes);
    // Downloading gives the file back as it is now.
    const [download] = await Promise.all([page.waitForEvent('download'),
      view(page).getByRole('button', { name: 'Back to the configuration' }).click()
        .then(() => view(page).getByRole('button', { name: 'Download the current file' }).click())]);
    assert.equal(readFileSync(await download.path(), 'utf8'), bytes);
    assert.ok(pieces.length >= 2 && pieces.every((n) => n <= 4096), `pieces of ${pieces}`);
    assert.deepEqual(page.errors, []);
  });
});

describe('edits that were not applied', () => {
  test('refused while another change is under way: the form and the raw text keep them, and discarding asks', async () => {
    // A script applies a change with a long watch; the gateway takes no other change meanwhile.
    const { output: { auth } } = await rpc(gw, 'login/password', { username: 'admin', password: INITIAL_PASSWORD });
    // Its answer never comes: the gateway is stopped after the file's last test.
    rpc(gw, 'forwarder-config/apply', { auth, input: { patch: { gateway_conf: { gateway_ID: 'AA555A00000000BB' } }, settleSeconds: 120 } })
      .catch(() => null);
    const watching = async () => (await rpc(gw, 'forwarder-config/progress', { auth })).output.step === 'watching';
    for (let i = 0; i < 200 && !(await watching()); i++) await new Promise((r) => setTimeout(r, 50));
    assert.ok(await watching());
    const before = gw.configText();

    const page = await open('/ui/config');
    const keepalive = page.getByLabel('Keep-alive interval (s)');
    await keepalive.fill('25');
    await page.getByRole('button', { name: 'Review changes' }).click();
    assert.equal(await applyReviewed(page), 'Change not applied');
    const outcome = view(page).locator('.outcome');
    // The change under way is named in words, not by the gateway's procedure.
    await shows(outcome, 'an apply of a changed configuration by admin from 127.0.0.1');
    assert.doesNotMatch(await outcome.innerText(), /forwarder-config\//);
    await view(page).getByRole('button', { name: 'Back to the configuration' }).click();
    await shows(view(page).locator('.notice'), 'another change was under way. Your edits are kept');
    assert.equal(await keepalive.inputValue(), '25');

    await page.getByRole('navigation').getByRole('link', { name: 'Raw JSON' }).click();
    const text = page.getByLabel('Configuration file');
    await page.waitForFunction(() => document.querySelector('main > section.view:not([hidden]) textarea')?.value);
    const edited = before.replace('"keepalive_interval": 10', '"keepalive_interval": 26');
    assert.notEqual(edited, before);
    await text.fill(edited);
    await page.getByRole('button', { name: 'Review changes' }).click();
    assert.equal(await applyReviewed(page), 'Change not applied');
    await view(page).getByRole('button', { name: 'Back to the configuration' }).click();
    await shows(view(page).locator('.notice'), 'Your edits are kept');
    assert.equal(await text.inputValue(), edited);

    // Discarding asks in the page's own dialog; its focus starts on keeping the edits.
    const dialogs = [];
    page.on('dialog', (d) => dialogs.push(d.type()) && d.dismiss());
    const ask = page.getByRole('dialog', { name: 'Discard your edits?' });
    await page.getByRole('button', { name: 'Discard and reload' }).click();
    await ask.waitFor();
    assert.equal(await page.evaluate(() => document.activeElement.textContent), 'Keep editing');
    await page.keyboard.press('Enter');
    await ask.waitFor({ state: 'detached' });
    assert.equal(await text.inputValue(), edited);
    await page.getByRole('button', { name: 'Discard and reload' }).click();
    await ask.getByRole('button', { name: 'Discard and reload' }).click();
    await page.waitForFunction((t) => document.querySelector('main > section.view:not([hidden]) textarea')?.value === t, before);
    assert.deepEqual(dialogs, []);
    assert.equal(gw.configText(), before);
    assert.deepEqual(page.errors, []);
  });
});
