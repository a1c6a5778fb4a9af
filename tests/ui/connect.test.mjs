// The Connect view as an administrator meets it: opened through loopback it
// says so and still gives phones the appliance's own addresses; the address
// picked (or typed) is remembered and used by the addresses, the QR code and
// the profile; opened through the machine's address it has nothing to warn
// about. Also the settings page's redirect, which needs SSL, and its report
// of what the server answers.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { startHost, startBrowser, openSignedIn, cli, COMMON } from './harness.mjs';

let host;
let browser;
let page;

// The machine's first IPv4 address that is not loopback.
const machineAddress = Object.values(os.networkInterfaces()).flat()
  .find((entry) => entry.family === 'IPv4' && !entry.internal)?.address;

function setServer(ssl, redirect) {
  const answer = cli(host.root, COMMON, 'set', `EnableSSL:=${ssl}`, `RedirectHTTPToHTTPS:=${redirect}`,
    'HTTPPort:=18008', 'SSLPort:=18443');
  assert.equal(answer.success, true, JSON.stringify(answer));
}

const shownText = () => page.locator('#connect-root').innerText();
const addresses = () => page.locator('code.address').allTextContents();

before(async () => {
  host = await startHost({ listen: '0.0.0.0:0' });
  // Two names that differ only beyond ASCII.
  const lines = ['alice', 'j\u00f6rg', 'j\u00fcrg'].map((user) =>
    execFileSync('htpasswd', ['-nbBC', '4', user, 'pw'], { encoding: 'utf8' }).trim());
  fs.writeFileSync(path.join(host.root, 'var/packages/Tessaro/target/etc/users.htpasswd'),
    `${lines.join('\n')}\n`);
  browser = await startBrowser(['127.0.0.1', machineAddress]);
  page = await openSignedIn(browser.context, host);
});

after(async () => {
  await browser?.close();
  await host?.stop();
});

test('opened through loopback: a warning, the machine\'s own addresses, never null', async () => {
  setServer(false, false);
  await page.getByRole('button', { name: 'Connect a client', exact: true }).click();
  await page.locator('#connect-user').selectOption('alice');
  await page.locator('#connect-loopback').getByText('opened through 127.0.0.1').waitFor();
  await page.locator('code.address').first().waitFor();
  const hosts = await page.locator('#connect-host option').allTextContents();
  assert.ok(hosts.length >= 2, hosts.join());
  assert.ok(!hosts.some((text) => /^(127\.|::1|localhost)/.test(text)), hosts.join());
  assert.ok((await addresses()).every((url) => !/127\.0\.0\.1|localhost|\[::1\]/.test(url)));
  const text = await shownText();
  assert.doesNotMatch(text, /\bnull\b|\bundefined\b/);
  assert.match(text, /SSL is off/);
});

test('a typed address is remembered and used by the addresses, the QR code and the profile', async () => {
  setServer(true, true);
  // The authority and the certificate, as a start of the server makes them.
  execFileSync(path.join(host.root, 'var/packages/Tessaro/target/tools/server_certificate.sh'), ['ensure'],
    { env: { ...process.env, ORVA_ROOT: host.root }, stdio: 'ignore' });
  await page.reload();
  await page.getByRole('button', { name: 'Connect a client', exact: true }).click();
  await page.locator('#connect-user').selectOption('j\u00f6rg');
  await page.locator('#connect-host').selectOption('');
  await page.locator('#connect-host-other').fill('phones.example');
  await page.getByRole('button', { name: 'Use for phones' }).click();
  const card = 'https://phones.example:18443/j%C3%B6rg/contacts/';
  await page.locator('code.address').getByText(card, { exact: true }).waitFor();
  assert.ok((await addresses()).every((url) => !url.startsWith('http://')), 'no http:// with the redirect');
  await page.locator('#connect-not-certified').waitFor();
  await page.locator('figure.qr figcaption').getByText(card, { exact: true }).waitFor();
  await page.locator('#authority-fingerprint').waitFor();

  // Remembered: a fresh page shows it without being told.
  await page.reload();
  await page.getByRole('button', { name: 'Connect a client', exact: true }).click();
  await page.locator('#connect-user').selectOption('alice');
  await page.locator('code.address').getByText('https://phones.example:18443/alice/contacts/').waitFor();

  // Two users whose names differ beyond ASCII get two profiles that do not replace
  // each other; each keeps its identifier from one download to the next.
  const profile = async (user) => {
    await page.locator('#connect-user').selectOption(user);
    await page.locator('code.address').getByText(`/${encodeURIComponent(user)}/contacts/`).waitFor();
    const [download] = await Promise.all([
      page.waitForEvent('download'),
      page.getByRole('button', { name: 'Download Apple profile (.mobileconfig)' }).click(),
    ]);
    const parsed = JSON.parse(execFileSync('/usr/bin/python3', ['-c',
      'import json,plistlib,sys; p=plistlib.load(open(sys.argv[1],"rb")); '
      + 'print(json.dumps([p["PayloadIdentifier"], p["PayloadUUID"], p["PayloadContent"][0]["CardDAVHostName"], '
      + '[c["PayloadType"] for c in p["PayloadContent"]]]))', await download.path()], { encoding: 'utf8' }));
    return { name: download.suggestedFilename(), parsed };
  };
  const first = await profile('j\u00f6rg');
  const second = await profile('j\u00fcrg');
  const again = await profile('j\u00f6rg');
  assert.notEqual(first.parsed[0], second.parsed[0]);
  assert.notEqual(first.parsed[1], second.parsed[1]);
  assert.deepEqual(again.parsed, first.parsed);
  assert.equal(first.parsed[2], 'phones.example');
  assert.deepEqual(first.parsed[3].at(-1), 'com.apple.security.root');
  assert.doesNotMatch(first.name, /%/);
  assert.deepEqual(page.errors, []);
});

test('opened through the machine\'s address: no loopback warning', { skip: !machineAddress }, async () => {
  const other = await openSignedIn(browser.context, { ...host, url: host.url.replace('127.0.0.1', machineAddress) });
  await other.getByRole('button', { name: 'Connect a client', exact: true }).click();
  await other.locator('#connect-user').selectOption('alice');
  await other.locator('code.address').first().waitFor();
  assert.equal(await other.locator('#connect-loopback').isHidden(), true);
  const hosts = await other.locator('#connect-host option').allTextContents();
  assert.ok(hosts.some((text) => text.startsWith(machineAddress)), hosts.join());
  assert.deepEqual(other.errors, []);
  await other.close();
});

test('the redirect can be ticked only with SSL, and the page says what it does', async () => {
  await page.getByRole('button', { name: 'Server settings', exact: true }).click();
  const ssl = page.getByLabel('Enable SSL (HTTPS)');
  const redirect = page.getByLabel('Redirect HTTP to HTTPS');
  await ssl.uncheck();
  assert.equal(await redirect.isDisabled(), true);
  assert.equal(await redirect.isChecked(), false);
  await ssl.check();
  await redirect.check();
  await page.getByText('they are told the HTTPS address to use instead').waitFor();
  // What the start/stop script's status says (here a server without processes).
  await page.locator('#server-state li').getByText('started (without processes)').waitFor();
});
