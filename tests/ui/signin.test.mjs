// Sign-in: the token asked for or taken from the link, kept for the tab only.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { startHost, startBrowser, openClicked } from './harness.mjs';

let host;
let browser;

before(async () => {
  host = await startHost();
  browser = await startBrowser();
});

after(async () => {
  await browser?.close();
  await host?.stop();
});

test('a wrong token is refused with a clear message, the right one signs in', async () => {
  const page = await browser.context.newPage();
  await page.goto(host.url);
  const token = page.getByLabel('Access token');
  await token.fill('0123456789abcdef');
  await token.press('Enter');
  await page.getByText('The access token was refused').waitFor();
  assert.equal(await page.getByRole('heading', { name: 'Contacts', exact: true }).isVisible(), false);
  assert.equal(await page.evaluate(() => sessionStorage.getItem('orva.token')), null);

  await token.fill(host.token);
  await page.getByRole('button', { name: 'Sign in' }).click();
  await page.getByRole('heading', { name: 'Contacts', exact: true }).waitFor();
  await page.close();
});

test('the link signs in and the token leaves the address bar', async () => {
  const page = await browser.context.newPage();
  const requests = [];
  page.on('request', (request) => requests.push(request));
  await page.goto(`${host.url}#token=${host.token}`);
  await page.getByRole('heading', { name: 'Contacts', exact: true }).waitFor();
  assert.ok(!page.url().includes(host.token), `token still in ${page.url()}`);
  assert.equal(await page.evaluate(() => sessionStorage.getItem('orva.token')), host.token);

  // The token travels as the bearer only, never in a URL.
  await page.locator('#user').fill('alice');
  await openClicked(page);
  await page.getByText('This address book has no cards yet.').waitFor();
  const api = requests.filter((r) => r.url().includes('/webapi'));
  assert.ok(api.length > 0);
  for (const request of requests) assert.ok(!request.url().includes(host.token), request.url());
  for (const request of api) {
    assert.equal(await request.headerValue('authorization'), `Bearer ${host.token}`);
  }

  // Signing out forgets the token; a host refusal later brings the sign-in back.
  await page.getByRole('button', { name: 'Sign out' }).click();
  await page.getByLabel('Access token').waitFor();
  assert.equal(await page.evaluate(() => sessionStorage.getItem('orva.token')), null);
  assert.equal(browser.outside.length, 0, `outside requests: ${browser.outside}`);
  await page.close();
});
