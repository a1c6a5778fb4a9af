// The users, calendars and client pages against the real host and the real
// server (nginx and Radicale on free ports): what the page sets up, a
// CardDAV and CalDAV client (python3-caldav) finds with that password.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import {
  startHost, startBrowser, openSignedIn, cli, hostBinDir, tempDir, CONTACTS,
} from './harness.mjs';

const DAV_CLIENT = path.join(import.meta.dirname, 'dav-client.py');
// Wrong passwords are tried on purpose here, all from one address: the
// server's limit of failed sign-ins is raised so that it does not refuse the
// right ones after them (the limit has tests of its own).
const SERVER_ENV = { ...process.env, ORVA_SERVER_PROCESSES: 'on', ORVA_SIGNIN_FAILURES_AT_ONCE: '1000' };

let host;
let browser;
let page;
let ports;

function freePort() {
  return new Promise((resolve) => {
    const server = net.createServer();
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// "set" through the host with the server's processes on: it restarts the
// real server with these settings.
function setServer(ssl, redirect) {
  const out = execFileSync(path.join(hostBinDir(), 'orva-webapi'), ['--root', host.root, 'call',
    'ORVA.ContactAndCalendar.Common', 'set', `EnableSSL:=${ssl}`, `RedirectHTTPToHTTPS:=${redirect}`,
    `HTTPPort:=${ports.http}`, `SSLPort:=${ports.https}`], { encoding: 'utf8', env: SERVER_ENV });
  assert.equal(JSON.parse(out).success, true, out);
}

function serverScript(action) {
  const script = path.join(host.root, 'var/packages/Tessaro/target/tools/calendarserver_start_stop.sh');
  try {
    execFileSync(script, [action], { env: { ...SERVER_ENV, ORVA_ROOT: host.root }, stdio: 'ignore' });
  } catch {
    // stopped already
  }
}

// What a client finds with the password: {calendars, books} or {error}.
function discover(url, user, password) {
  try {
    return JSON.parse(execFileSync('/usr/bin/python3', [DAV_CLIENT, url, user, password],
      { encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] }));
  } catch (error) {
    return JSON.parse(error.stdout);
  }
}

const htpasswd = () => fs.readFileSync(
  path.join(host.root, 'var/packages/Tessaro/target/etc/users.htpasswd'), 'utf8');
const home = (user) => path.join(host.root, 'var/packages/Tessaro/var/collections/collection-root', user);
const tab = (name) => page.getByRole('button', { name, exact: true }).click();
const confirmOk = () => page.locator('#confirm-ok').click();

async function addUser(name, password) {
  await page.getByLabel('User name').fill(name);
  await page.getByLabel('Password', { exact: true }).fill(password);
  await page.getByRole('button', { name: 'Add user' }).click();
  await page.locator('#users-status').getByText(`${name} was added`).waitFor();
}

const userRow = (name) => page.locator(`#user-table tr[data-user="${name}"]`);

before(async () => {
  host = await startHost();
  ports = { http: await freePort(), https: await freePort() };
  setServer(false, false);
  browser = await startBrowser();
  page = await openSignedIn(browser.context, host);
});

after(async () => {
  if (host) serverScript('stop');
  await browser?.close();
  await host?.stop();
});

test('a user added on the page signs in and finds their book and calendar; change, then remove', async () => {
  await tab('Users');
  await addUser('carol', 'carol-pw-1');
  assert.match(htpasswd(), /^carol:\$2b\$10\$/m, 'stored as bcrypt');
  const base = `http://127.0.0.1:${ports.http}/`;
  const found = discover(base, 'carol', 'carol-pw-1');
  assert.deepEqual(found.calendars, ['Calendar'], JSON.stringify(found));
  assert.deepEqual(found.books, ['/carol/contacts/']);

  // A second add of the same name and a name that is not plain are refused.
  await page.getByLabel('User name').fill('carol');
  await page.getByLabel('Password', { exact: true }).fill('x');
  await page.getByRole('button', { name: 'Add user' }).click();
  await page.locator('#users-status').getByText('error 113').waitFor();
  await page.getByLabel('User name').fill('../etc');
  await page.getByRole('button', { name: 'Add user' }).click();
  await page.locator('#users-status').getByText('error 112').waitFor();
  assert.equal(fs.existsSync(home('../etc')), false);

  await userRow('carol').getByRole('button', { name: 'Change password' }).click();
  await page.getByLabel('New password', { exact: true }).fill('carol-pw-2');
  await confirmOk();
  await page.locator('#users-status').getByText('The password of carol was changed').waitFor();
  assert.ok(discover(base, 'carol', 'carol-pw-1').error, 'the old password no longer signs in');
  assert.deepEqual(discover(base, 'carol', 'carol-pw-2').books, ['/carol/contacts/']);

  // Removing keeps the cards unless asked; then deleting names how many.
  assert.equal(cli(host.root, CONTACTS, 'add_card', 'user=carol',
    'card:={"name":{"family_name":"Doe","given_name":"Jo","additional_name":""}}').success, true);
  await userRow('carol').getByRole('button', { name: 'Remove' }).click();
  await page.locator('#confirm-body').getByText('1 card, 1 calendar (0 entries) stay on the server').waitFor();
  await confirmOk();
  await page.locator('#users-status').getByText('carol was removed; 1 card stay').waitFor();
  assert.doesNotMatch(htpasswd(), /^carol:/m);
  assert.ok(discover(base, 'carol', 'carol-pw-2').error);
  assert.equal(fs.readdirSync(path.join(home('carol'), 'contacts')).filter((n) => !n.startsWith('.')).length, 1);
  await userRow('carol').getByText('No sign-in').waitFor();

  await userRow('carol').getByRole('button', { name: 'Remove' }).click();
  await confirmOk();
  await page.locator('#confirm-title').getByText('Delete the data of carol?').waitFor();
  await page.locator('#confirm-body').getByText("carol's 1 card, 1 calendar (0 entries)").waitFor();
  await confirmOk();
  await page.locator('#users-status').getByText('carol was removed with 1 card').waitFor();
  assert.equal(fs.existsSync(home('carol')), false);
  await userRow('carol').waitFor({ state: 'detached' });
  // The two refusals above are answered with 409 and 400, which the browser logs.
  assert.deepEqual(page.errors.filter((text) => !/status of (409|400)/.test(text)), []);
  page.errors.length = 0;
});

test('a user whose stored hash the server cannot check is reported, and a new password fixes it', async () => {
  fs.appendFileSync(path.join(host.root, 'var/packages/Tessaro/target/etc/users.htpasswd'),
    `old:${execFileSync('htpasswd', ['-nbm', 'old', 'old-pw'], { encoding: 'utf8' }).trim().split(':')[1]}\n`);
  await tab('Contacts');
  await tab('Users');
  await page.locator('#users-warning').getByText('old: MD5 (htpasswd -m)').waitFor();
  await userRow('old').getByText('the server cannot check it').waitFor();
  assert.ok(discover(`http://127.0.0.1:${ports.http}/`, 'old', 'old-pw').error);
  await userRow('old').getByRole('button', { name: 'Set a new password' }).click();
  await page.getByLabel('New password', { exact: true }).fill('old-pw-2');
  await confirmOk();
  await page.locator('#users-status').getByText('The password of old was changed').waitFor();
  await page.locator('#users-warning').waitFor({ state: 'hidden' });
  assert.deepEqual(discover(`http://127.0.0.1:${ports.http}/`, 'old', 'old-pw-2').books, ['/old/contacts/']);
});

test('a name stored before the rules on names is listed with what is odd about it', async () => {
  fs.appendFileSync(path.join(host.root, 'var/packages/Tessaro/target/etc/users.htpasswd'),
    `zz\u2028bob:${execFileSync('htpasswd', ['-nbB', 'x', 'zz-pw'], { encoding: 'utf8' }).trim().split(':')[1]}\n`);
  await tab('Contacts');
  await tab('Users');
  await userRow('zz\u2028bob').getByText('Unusual name: U+2028 LINE SEPARATOR').waitFor();
  await page.locator('#users-warning').getByText('would not be accepted today').waitFor();
});

test('the contacts page offers the users and asks before making a book for an unknown name', async () => {
  await tab('Users');
  await addUser('alice', 'alice-pw');
  await tab('Contacts');
  await page.waitForFunction(() => [...document.querySelectorAll('#user-choices option')]
    .some((option) => option.value === 'alice'));
  await page.locator('#user').fill('alcie');
  await page.getByRole('button', { name: 'Open address book' }).click();
  await page.locator('#confirm-body').getByText('alcie has no sign-in on the server and no address book yet').waitFor();
  await page.locator('#confirm-body').getByText('Did you mean alice?').waitFor();
  await page.locator('#confirm-cancel').click();
  assert.equal(fs.existsSync(home('alcie')), false, 'no book made for a typo');
  await page.locator('#user').fill('alice');
  await page.getByRole('button', { name: 'Open address book' }).click();
  await page.locator('#book-count').filter({ hasText: /card/ }).waitFor();
  assert.equal(await page.locator('#confirm').isVisible(), false);
});

test('calendars are listed with their kind and items, made and deleted', async () => {
  await tab('Calendars');
  const block = page.locator('#collection-list section[data-user="alice"]');
  await block.locator('tr[data-name="contacts"]').getByText('Address book').waitFor();
  await page.locator('#calendar-user').selectOption('alice');
  await page.getByLabel('Calendar name (in its address)').fill('work');
  await page.getByLabel('Display name').fill('Work shifts');
  await page.getByRole('button', { name: 'Create calendar' }).click();
  await block.locator('tr[data-name="work"]').getByText('Work shifts (work)').waitFor();
  const found = discover(`http://127.0.0.1:${ports.http}/`, 'alice', 'alice-pw');
  assert.deepEqual(found.calendars.sort(), ['Calendar', 'Work shifts']);

  assert.equal(await block.locator('tr[data-name="contacts"] button').count(), 0, 'books are not deleted here');
  await block.locator('tr[data-name="work"]').getByRole('button', { name: 'Delete' }).click();
  await page.locator('#confirm-body').getByText('with its 0 entries').waitFor();
  await confirmOk();
  await page.locator('#calendars-status').getByText('The calendar work of alice was deleted').waitFor();
  assert.equal(fs.existsSync(path.join(home('alice'), 'work')), false);
  assert.deepEqual(page.errors, []);
});

test('the connection page gives the addresses the server answers, its fingerprint, a QR code and a profile', async () => {
  setServer(true, true);
  await tab('Connect a client');
  await page.locator('#connect-user').selectOption('alice');
  // Phones are given the machine's name, not the loopback the page was opened through.
  const card = `https://${os.hostname()}:${ports.https}/alice/contacts/`;
  const calendar = `https://${os.hostname()}:${ports.https}/alice/calendar/`;
  await page.locator('code.address').getByText(card, { exact: true }).waitFor();
  const shown = await page.locator('code.address').allTextContents();
  assert.ok(shown.every((text) => text.startsWith('https://') || text.includes(':')), shown.join());
  assert.ok(shown.includes(calendar));
  assert.equal(shown.filter((text) => text.startsWith('http://')).length, 0, 'only https with the redirect on');
  const found = discover(`https://127.0.0.1:${ports.https}/`, 'alice', 'alice-pw');
  assert.deepEqual(found.books, ['/alice/contacts/'], JSON.stringify(found));

  const crt = path.join(host.root, 'var/packages/Tessaro/target/etc/ssl/server.crt');
  const fingerprint = execFileSync('openssl', ['x509', '-in', crt, '-noout', '-fingerprint', '-sha256'],
    { encoding: 'utf8' }).trim().split('=')[1];
  assert.equal(await page.locator('#fingerprint').textContent(), fingerprint);

  // The QR code reads back as the address (zbarimg on the drawn code).
  const figure = page.locator('figure.qr svg');
  await figure.waitFor();
  const picture = path.join(tempDir('qr'), 'qr.png');
  await figure.screenshot({ path: picture });
  const decoded = execFileSync('zbarimg', ['--raw', '-q', picture],
    { encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] }).trim();
  assert.equal(decoded, card);

  const [download] = await Promise.all([
    page.waitForEvent('download'),
    page.getByRole('button', { name: 'Download Apple profile (.mobileconfig)' }).click(),
  ]);
  const file = await download.path();
  const parsed = JSON.parse(execFileSync('/usr/bin/python3', ['-c',
    'import json,plistlib,sys; p=plistlib.load(open(sys.argv[1],"rb")); '
    + 'print(json.dumps(p, default=lambda v: "<data>"))', file], { encoding: 'utf8' }));
  const types = parsed.PayloadContent.map((payload) => payload.PayloadType);
  assert.deepEqual(types, ['com.apple.carddav.account', 'com.apple.caldav.account', 'com.apple.security.root']);
  const carddav = parsed.PayloadContent[0];
  assert.equal(carddav.CardDAVPort, ports.https);
  assert.equal(carddav.CardDAVUseSSL, true);
  assert.equal(carddav.CardDAVUsername, 'alice');
  assert.doesNotMatch(fs.readFileSync(file, 'utf8'), /Password|alice-pw/);
  assert.deepEqual(page.errors, []);
  assert.deepEqual(browser.outside, []);
});
