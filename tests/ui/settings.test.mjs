// The server settings page against the real host: filled by "get", saved by
// "set", and each refusal explained at the field at fault.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { startHost, startBrowser, openSignedIn, cli, COMMON } from './harness.mjs';

let host;
let browser;
let page;

before(async () => {
  host = await startHost();
  browser = await startBrowser();
  page = await openSignedIn(browser.context, host);
  await page.getByRole('button', { name: 'Server settings' }).click();
});

after(async () => {
  await browser?.close();
  await host?.stop();
});

const stored = () => cli(host.root, COMMON, 'get').data.common;
const httpPort = () => page.getByLabel('HTTP port', { exact: true });
const httpsPort = () => page.getByLabel('HTTPS port', { exact: true });
const save = () => page.getByRole('button', { name: 'Save and restart the server' }).click();

test('the form shows the stored settings and saves new ports and SSL', async () => {
  const start = stored();
  await page.waitForFunction((port) => document.getElementById('HTTPPort').value === String(port), start.HTTPPort);
  assert.equal(await httpsPort().inputValue(), String(start.SSLPort));
  assert.equal(await page.getByLabel('Enable SSL (HTTPS)').isChecked(), start.EnableSSL);

  await httpPort().fill('18080');
  await httpsPort().fill('18443');
  await page.getByLabel('Enable SSL (HTTPS)').check();
  await page.getByLabel('Redirect HTTP to HTTPS').check();
  await save();
  await page.getByText('Saved. The server was restarted').waitFor();

  const now = stored();
  assert.deepEqual(
    [now.HTTPPort, now.SSLPort, now.EnableSSL, now.RedirectHTTPToHTTPS], [18080, 18443, true, true]);
  const conf = JSON.parse(fs.readFileSync(
    path.join(host.root, 'var/packages/Tessaro/target/etc/calendar_server_json.conf'), 'utf8'));
  assert.equal(conf.general_setting.HTTPPort, 18080);
  assert.equal(conf.general_setting.EnableSSL, true);
  const services = fs.readFileSync(path.join(host.root, 'usr/local/etc/services.d/Tessaro.sc'), 'utf8');
  assert.match(services, /18080\/tcp/);
  assert.match(services, /18443\/tcp/);
});

test('a conflicting port shows its explanation at the HTTP or the HTTPS port field', async () => {
  const start = stored();
  await httpPort().fill('22');
  await save();
  const httpError = page.locator('#HTTPPort-error');
  await httpError.getByText('The HTTP port 22 cannot be used').waitFor();
  await page.getByText('error 1002: HTTP port conflict').waitFor();
  assert.equal(await httpPort().getAttribute('aria-invalid'), 'true');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'HTTPPort');

  await httpPort().fill('18081');
  await httpsPort().fill('443');
  await save();
  await page.locator('#SSLPort-error').getByText('The HTTPS port 443 cannot be used').waitFor();
  await page.getByText('error 1003: HTTPS port conflict').waitFor();
  assert.equal(await httpError.isVisible(), false);
  assert.equal(await httpPort().getAttribute('aria-invalid'), null);
  assert.deepEqual(stored(), start, 'a refused save changes nothing');

  // Checked in the page before any request.
  await httpsPort().fill('18081');
  await save();
  await page.locator('#SSLPort-error').getByText('must differ from the HTTP port').waitFor();
  await httpsPort().fill('80000');
  await save();
  await page.locator('#SSLPort-error').getByText('from 1 to 65535').waitFor();
  assert.deepEqual(stored(), start);
  assert.deepEqual(page.errors, []);
});

test('a restart that fails shows its reason at the port at fault and changes nothing', async () => {
  const start = stored();
  const script = path.join(host.root, 'var/packages/Tessaro/target/tools/calendarserver_start_stop.sh');
  const original = fs.readFileSync(script);
  const runDir = path.join(host.root, 'var/run/calendarserver');
  fs.mkdirSync(runDir, { recursive: true });
  fs.writeFileSync(script, '#!/bin/sh\nprintf \'[failure]\\nreason=port 18091 is in use by another program (nc, pid 77)\\n\' ' +
    '> "$ORVA_ROOT/var/run/calendarserver/last_failure"\nexit 1\n');
  try {
    await httpPort().fill(String(start.HTTPPort));
    await httpsPort().fill('18091');
    await save();
    await page.locator('#SSLPort-error').getByText('The reason: port 18091 is in use by another program (nc, pid 77)').waitFor();
    await page.getByText('Nothing was changed').first().waitFor();
    assert.equal(await httpsPort().getAttribute('aria-invalid'), 'true');
    assert.equal(await httpPort().getAttribute('aria-invalid'), null);
    assert.deepEqual(stored(), start, 'a failed restart puts the settings back');
  } finally {
    fs.writeFileSync(script, original);
  }
  assert.deepEqual(page.errors, []);
});
