// Editing the forwarder configuration through the form and the raw view, down to the file on
// disk and the forwarder restart.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { Gateway, SX1301, SX130X, applyReviewed, browser, newPage, screenshot, shows, signIn, usesBrowser, view } from './support.mjs';

usesBrowser();

const RESTART = 'systemctl restart packet-forwarder';

async function openForm(gw, path = '/ui/config', options) {
  const page = await newPage(browser, gw, options);
  await page.goto(path);
  await signIn(page);
  await page.locator(path === '/ui/raw' ? 'textarea' : '.sections input').first().waitFor();
  if (path === '/ui/raw') await page.waitForFunction(() => document.querySelector('main > section.view:not([hidden]) textarea')?.value);
  return page;
}

const channel = (page, name) => page.getByRole('group', { name, exact: true });
const rowsOf = async (locator) => (await locator.allInnerTexts()).map((r) => r.replace(/\s+/g, ' ').trim());

describe('first generation (SX1301_conf)', () => {
  let gw;
  before(async () => {
    gw = await Gateway.start(SX1301);
  });
  after(async () => {
    await gw?.close();
  });

  test('form: invalid fields stop the review; a frequency and the server address are applied in place', async () => {
    const page = await openForm(gw);
    const original = gw.configText();
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
    await shows(page.getByRole('alert'), 'Correct the 3 problems marked above.');
    assert.equal(await gwid.getAttribute('aria-invalid'), 'true');
    assert.equal(await page.evaluate(() => document.activeElement.id), await gwid.getAttribute('id'));

    // A pasted EUI is normalised when the field is left.
    await gwid.fill('eui-aa:55:5a:00:00:00:00:00');
    await gwid.press('Tab');
    assert.equal(await gwid.inputValue(), 'AA555A0000000000');
    await page.getByLabel('Uplink port').fill('1680');
    await channel(page, 'Channel 7').getByLabel('Offset (kHz)').fill('400');
    // The gateway's rules: what an SX1257 cannot tune is marked on its field.
    await freq.fill('1030');
    await page.getByRole('button', { name: 'Review changes' }).click();
    await shows(radio0.locator('.field-error'), 'Must be from 862 to 1020 MHz for an SX1257 radio.');
    await freq.fill('867.7');
    await page.getByLabel('Network server address').fill('eu1.cloud.thethings.network');
    await page.getByRole('button', { name: 'Review changes' }).click();

    const review = view(page).locator('.review');
    await review.getByRole('heading', { name: 'Review changes' }).waitFor();
    assert.deepEqual(await rowsOf(review.locator('table.changes tbody tr')), [
      'Radio 0 centre frequency 867.5 MHz 867.7 MHz',
      'Network server localhost eu1.cloud.thethings.network',
      'Channel 3 867.1 MHz 867.3 MHz',
      'Channel 4 867.3 MHz 867.5 MHz',
      'Channel 5 867.5 MHz 867.7 MHz',
      'Channel 6 867.7 MHz 867.9 MHz',
      'Channel 7 867.9 MHz 868.1 MHz',
    ]);
    // The raw paths stay at hand.
    await review.getByText('Members and values as the file holds them').click();
    assert.deepEqual(await rowsOf(review.locator('.raw-changes li')), [
      'SX1301_conf.radio_0.freq: 867500000 → 867700000',
      'gateway_conf.server_address: "localhost" → "eu1.cloud.thethings.network"',
    ]);
    await shows(review, 'Applying restarts the packet forwarder');
    await shows(review, 'only the values that change are rewritten');
    await screenshot(page, 'review');
    assert.deepEqual(gw.commands(), []);

    assert.equal(await applyReviewed(page), 'Change applied');
    await shows(view(page), 'kept as version 1 in the history');
    // Comments and layout stay: only the two values changed.
    assert.equal(gw.configText(), original.replace('"freq": 867500000', '"freq": 867700000')
      .replace('"server_address": "localhost"', '"server_address": "eu1.cloud.thethings.network"'));
    assert.deepEqual(gw.commands(), [RESTART]);
    // The form shows what the gateway holds now.
    await view(page).getByRole('button', { name: 'Back to the configuration' }).click();
    await shows(page.locator('.sections'), 'Gateway ID');
    assert.equal(await page.getByLabel('Network server address').inputValue(), 'eu1.cloud.thethings.network');
    assert.deepEqual(page.errors, []);
  });

  test('raw view: the file with its comments; a text the forwarder cannot read is refused; a member removed and a value changed', async () => {
    const page = await openForm(gw, '/ui/raw');
    const before = gw.commands().length;
    const text = page.getByLabel('Configuration file');
    const original = await text.inputValue();
    assert.equal(original, gw.configText());
    assert.match(original, /\/\* antenna gain, in dBi \*\//);

    await text.fill(original.replace('"antenna_gain": 0,', '"antenna_gain": 0'));
    await page.getByRole('button', { name: 'Review changes' }).click();
    await shows(page.locator('.field-error'), 'The packet forwarder cannot read this text (line');
    // A value the gateway's rules refuse is placed too: its line and column, the cursor there.
    const line = original.slice(0, original.indexOf('"serv_port_up": 1680')).split('\n').length;
    await text.fill(original.replace('"serv_port_up": 1680', '"serv_port_up": 70000'));
    await page.getByRole('button', { name: 'Review changes' }).click();
    await shows(page.locator('.field-error'), `Line ${line}, column 25: gateway_conf.serv_port_up must be`);
    assert.equal(await text.evaluate((t) => [document.activeElement === t, t.value.slice(0, t.selectionStart).split('\n').length])
      .then(([focused, at]) => focused && at), line);
    assert.equal(await view(page).locator('.gutter .mark').isVisible(), true);

    const edited = original.replace('"antenna_gain": 0,', '"antenna_gain": 3,')
      .replace(/\],\n\s*"sx127x_rssi_offset": -4 \/\* dB \*\/\n/, ']\n');
    assert.notEqual(edited, original);
    await text.fill(edited);
    await screenshot(page, 'raw');
    await page.getByRole('button', { name: 'Review changes' }).click();
    const review = view(page).locator('.review');
    await shows(review, 'The whole file is replaced');
    assert.deepEqual(await rowsOf(review.locator('tbody tr')), [
      'SX1301_conf.antenna_gain 0 3',
      'SX1301_conf.lbt_cfg.sx127x_rssi_offset -4 (removed)',
    ]);
    await shows(review.locator('.diff .add'), '"antenna_gain": 3, /* antenna gain, in dBi */');
    assert.equal(await applyReviewed(page), 'Change applied');
    assert.equal(gw.configText(), edited);
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
    await view(page).getByRole('heading', { name: 'Review changes' }).waitFor();
    assert.deepEqual(await rowsOf(view(page).locator('.review table.changes tbody tr')), [
      'Channel 0 868.1 MHz 866.7625 MHz',
      'Channel 1 868.3 MHz off',
    ]);
    await screenshot(page, 'review-phone', { fullPage: false });
    assert.equal(await applyReviewed(page), 'Change applied');

    const conf = gw.config().SX130x_conf;
    assert.deepEqual(conf.chan_multiSF_0, { enable: true, radio: 0, if: -737_500 });
    assert.equal(conf.chan_multiSF_1.enable, false);
    // One-line channel objects stay on one line.
    assert.match(gw.configText(), /"chan_multiSF_0": \{"enable": true, "radio": 0, "if": -737500\},/);
    assert.deepEqual(gw.commands(), [RESTART]);
    // Page fits the phone's width: nothing scrolls sideways.
    assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth));
  });
});
