// The history page: cards deleted through the page are in the trash, come
// back with "Restore all", and the changes list names who made each change.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import {
  startHost, startBrowser, openSignedIn, cli, listCards, seedCards, CONTACTS,
} from './harness.mjs';

let host;
let browser;
let page;

before(async () => {
  host = await startHost();
  browser = await startBrowser();
  page = await openSignedIn(browser.context, host);
});

after(async () => {
  await browser.close();
  await host.stop();
});

test('deleted cards are listed in the trash and restored whole', async () => {
  seedCards(host.root, 'alice', ['Ann Lee', 'Bo Chen'].map((name, i) => 'BEGIN:VCARD\r\nVERSION:3.0\r\n'
    + `UID:u${i}\r\nFN:${name}\r\nNOTE:kept\\, exactly\r\nEND:VCARD\r\n`).join(''));
  const before = listCards(host.root, 'alice');
  const ids = JSON.stringify(before.map((card) => card.id));
  assert.equal(cli(host.root, CONTACTS, 'delete_cards', 'user=alice', `id:=${ids}`).success, true);
  assert.equal(listCards(host.root, 'alice').length, 0);

  await page.getByRole('button', { name: 'History and trash' }).click();
  const rows = page.locator('#trash tbody tr');
  await rows.nth(1).waitFor();
  assert.deepEqual((await page.locator('#trash tbody th').allTextContents()).sort(), ['Ann Lee', 'Bo Chen']);
  assert.deepEqual(await page.locator('#trash tbody td:nth-child(3)').allTextContents(),
    ['administration page', 'administration page']);
  await page.getByRole('button', { name: 'Restore all 2' }).click();
  await page.locator('#history-status').filter({ hasText: '2 entries restored' }).waitFor();
  assert.deepEqual(listCards(host.root, 'alice'), before);
  await page.locator('#changes td', { hasText: 'import of seed.vcf' }).waitFor();
  assert.deepEqual(page.errors, []);
});
