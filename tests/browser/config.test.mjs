// Editing the forwarder configuration through the form and the raw view, down to the file on
// disk and the forwarder restart.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { Gateway, SX1301, SX130X, launchBrowser, newPage, screenshot, shows, signIn } from './support.mjs';

let browser;
before(async () => {
  browser = await launchBrowser();
});
after(async () => {
  await browser?.close();
});

const RESTART = 'systemctl restart packet-forwarder';

async function openForm(gw, path = '/ui/config', options) {
  const page = await newPage(browser, gw, options);
  await page.goto(path);
  await signIn(page);
  await page.locator(path === '/ui/raw' ? 'textarea' : '.sections input').first().waitFor();
  return page;
}

const channel = (page, name) => page.getByRole('group', { name, exact: true });

describe('first generation (SX1301_conf)', () => {
  let gw;
  before(async () => {
    gw = await Gateway.start(SX1301);
  });
  after(async () => {
    await gw?.close();
  });

  test('form: invalid fields stop the review; a frequency and the server address are applied', async () => {
    const page = await openForm(gw);
    const original = gw.originalConfig();
    await screenshot(page, 'config');

    const radio0 = channel(page, 'Radio 0 (SX1257)');
    const freq = radio0.getByLabel('Centre frequency (MHz)');
    await freq.fill('867.7');
    // Channel 3 sits on radio 0 at -400 kHz: its frequency follows the radio.
    await shows(channel(page, 'Channel 3').locator('output'), '867.3 MHz');

    const gwid = page.getByLabel('Gateway ID (EUI)');
    await gwid.fill('AA555A00');
    await page.getByLabel('Uplink port').fill('70000');
    await channel(page, 'Channel 7').getByLabel('Offset (kHz)').fill('450');
    await page.getByRole('button', { name: 'Review changes' }).click();
    await shows(page.locator('.field-error'), 'this one has 8');
    await shows(page.locator('.field-error'), 'port from 1 to 65535');
    await shows(page.locator('.field-error'), 'between -400 and 400 kHz');
    await shows(page.getByRole('alert'), 'Correct the 3 fields marked above.');
    assert.equal(await gwid.getAttribute('aria-invalid'), 'true');
    assert.equal(await page.evaluate(() => document.activeElement.id), await gwid.getAttribute('id'));

    // A pasted EUI is normalised when the field is left.
    await gwid.fill('eui-aa:55:5a:00:00:00:00:00');
    await gwid.press('Tab');
    assert.equal(await gwid.inputValue(), 'AA555A0000000000');
    await page.getByLabel('Uplink port').fill('1680');
    await channel(page, 'Channel 7').getByLabel('Offset (kHz)').fill('400');
    await page.getByLabel('Network server address').fill('eu1.cloud.thethings.network');
    await page.getByRole('button', { name: 'Review changes' }).click();

    const review = page.locator('.review');
    await review.getByRole('heading', { name: 'Review changes' }).waitFor();
    const rows = await review.locator('tbody tr').allInnerTexts();
    assert.deepEqual(rows.map((r) => r.replace(/\s+/g, ' ').trim()), [
      'SX1301_conf.radio_0.freq 867500000 867700000',
      'gateway_conf.server_address "localhost" "eu1.cloud.thethings.network"',
    ]);
    await shows(review, 'Applying restarts the packet forwarder');
    await shows(review, 'comments the file holds now are lost');
    await screenshot(page, 'review');
    assert.deepEqual(gw.commands(), []);

    await review.getByRole('button', { name: 'Apply and restart the forwarder' }).click();
    await shows(page.getByRole('status'), 'Change applied');
    const written = gw.config();
    assert.equal(written.SX1301_conf.radio_0.freq, 867_700_000);
    assert.equal(written.gateway_conf.server_address, 'eu1.cloud.thethings.network');
    // Nothing else moved: the rest of the document is as it was.
    written.SX1301_conf.radio_0.freq = original.SX1301_conf.radio_0.freq;
    written.gateway_conf.server_address = original.gateway_conf.server_address;
    assert.deepEqual(written, original);
    assert.deepEqual(gw.commands(), [RESTART]);
    // The form shows what the gateway holds now.
    assert.equal(await page.getByLabel('Network server address').inputValue(), 'eu1.cloud.thethings.network');
    assert.deepEqual(page.errors, []);
  });

  test('raw view: not JSON and removed members are refused; a calibration value is applied', async () => {
    const page = await openForm(gw, '/ui/raw');
    const before = gw.commands().length;
    const text = page.getByLabel('Configuration document (JSON)');
    await shows(page.locator('main'), 'it can never remove a member');
    const doc = JSON.parse(await text.inputValue());

    await text.fill(JSON.stringify(doc, null, 2).replace('"antenna_gain": 0,', '"antenna_gain": 0'));
    await page.getByRole('button', { name: 'Review changes' }).click();
    await shows(page.locator('.field-error'), 'This is not valid JSON (line');

    const removed = structuredClone(doc);
    delete removed.SX1301_conf.lbt_cfg;
    await text.fill(JSON.stringify(removed, null, 2));
    await page.getByRole('button', { name: 'Review changes' }).click();
    await shows(page.getByRole('alert'), 'cannot remove members');
    await shows(page.getByRole('alert'), 'SX1301_conf.lbt_cfg');

    const edited = structuredClone(doc);
    edited.SX1301_conf.antenna_gain = 3;
    edited.SX1301_conf.lbt_cfg.chan_cfg[3].scan_time_us = 5000;
    await text.fill(JSON.stringify(edited, null, 2));
    await screenshot(page, 'raw');
    await page.getByRole('button', { name: 'Review changes' }).click();
    const review = page.locator('.review');
    const members = await review.locator('tbody th').allInnerTexts();
    assert.deepEqual(members, ['SX1301_conf.lbt_cfg.chan_cfg', 'SX1301_conf.antenna_gain']);
    await review.getByRole('button', { name: 'Apply and restart the forwarder' }).click();
    await shows(page.getByRole('status'), 'Change applied');

    const written = gw.config();
    assert.equal(written.SX1301_conf.antenna_gain, 3);
    assert.equal(written.SX1301_conf.lbt_cfg.chan_cfg[3].scan_time_us, 5000);
    assert.equal(written.SX1301_conf.lbt_cfg.chan_cfg.length, 4);
    assert.deepEqual(gw.commands().slice(before), [RESTART]);
    assert.deepEqual(page.errors, []);
  });
});

describe('second generation (SX130x_conf)', () => {
  let gw;
  before(async () => {
    gw = await Gateway.start(SX130X);
  });
  after(async () => {
    await gw?.close();
  });

  test('a wider channel offset is accepted, and a phone-sized screen holds the form', async () => {
    const page = await openForm(gw, '/ui/config', { viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true });
    await screenshot(page, 'config-phone', { fullPage: false });
    const ch0 = channel(page, 'Channel 0');
    await ch0.getByLabel('Offset (kHz)').fill('-737.5');
    await ch0.getByLabel('Radio').selectOption('0');
    await ch0.scrollIntoViewIfNeeded();
    await screenshot(page, 'channels-phone', { fullPage: false });
    await shows(ch0.locator('output'), '866.7625 MHz');
    await channel(page, 'Channel 1').getByLabel('Enabled').uncheck();
    await page.getByRole('button', { name: 'Review changes' }).click();
    await page.locator('.review').getByRole('heading', { name: 'Review changes' }).waitFor();
    await screenshot(page, 'review-phone', { fullPage: false });
    await page.getByRole('button', { name: 'Apply and restart the forwarder' }).click();
    await shows(page.getByRole('status'), 'Change applied');

    const conf = gw.config().SX130x_conf;
    assert.deepEqual(conf.chan_multiSF_0, { enable: true, radio: 0, if: -737_500 });
    assert.equal(conf.chan_multiSF_1.enable, false);
    assert.deepEqual(gw.commands(), [RESTART]);
    // Page fits the phone's width: nothing scrolls sideways.
    assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth));
  });
});
