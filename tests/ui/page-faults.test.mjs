// Faults found using the page as an administrator would, each against the
// real host: dialogs answered with Enter, import counts and dropped lines,
// files larger than the host takes, the list while it is replaced, a narrow
// window, a sign-in link pasted into an open tab, duplicates by phone, long
// names, name prefix and suffix, and the list by keyboard.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {
  startHost, startBrowser, openSignedIn, openBook, listCards, seedCards, tempDir,
} from './harness.mjs';

const LONG = 'Maximiliana-Konstantinopolitanische Wolfeschlegelsteinhausenbergerdorff';

let host;
let browser;
let page;
let dir;

const vcard = (family, given, ...lines) => ['BEGIN:VCARD', 'VERSION:3.0', `N:${family};${given};;;`,
  `FN:${given} ${family}`, ...lines, 'END:VCARD'].join('\r\n') + '\r\n';

before(async () => {
  host = await startHost();
  dir = tempDir('faults');
  seedCards(host.root, 'fay', [
    vcard('Abel', 'Ann'), vcard('Baker', 'Bea'), vcard('Cole', 'Cid'), vcard('Dunn', 'Dee'),
    vcard(LONG, 'Leopoldina'),
    // One switchboard, two extensions: two people.
    vcard('Ext', 'Una', 'TEL;TYPE=WORK:+44 20 7946 0000 ext. 12'),
    vcard('Ext', 'Otto', 'TEL;TYPE=WORK:+44 20 7946 0000 ext. 34'),
    // A family's one line: a shared number, and nothing else in common.
    vcard('Home', 'Ida', 'TEL:+44 20 7946 0999'), vcard('Home', 'Ivo', 'TEL:+44 20 7946 0999'),
  ].join(''));
  browser = await startBrowser();
  page = await openSignedIn(browser.context, host);
  await openBook(page, 'fay');
});

after(async () => {
  await browser?.close();
  await host?.stop();
  fs.rmSync(dir, { recursive: true, force: true });
});

const form = () => page.locator('.card-form');
const rows = (where = page) => where.locator('#card-list tbody tr:not(.spacer):not(.placeholder)');
const status = () => page.locator('#contacts-status');

// Holds the page's list_cards requests that match until release() is called;
// held() resolves once one is waiting.
async function holdListings(where, matches) {
  let release;
  const gate = new Promise((resolve) => { release = resolve; });
  let heard;
  const held = new Promise((resolve) => { heard = resolve; });
  const handler = async (route) => {
    let body = {};
    try {
      body = JSON.parse(route.request().postData() || '{}');
    } catch {
      // an upload
    }
    if (body.method !== 'list_cards' || !matches(body.params)) return route.fallback();
    heard();
    await gate;
    return route.fallback();
  };
  await where.route('**/webapi', handler);
  return { held, release };
}

test('Enter in a dialog\'s field answers with its action, and the focus starts in that field', { timeout: 180000 }, async () => {
  await page.getByRole('button', { name: 'Users', exact: true }).click();
  await page.getByLabel('User name').fill('dora');
  await page.getByLabel('Password', { exact: true }).fill('dora-pw-1');
  await page.getByRole('button', { name: 'Add user' }).click();
  await page.locator('#users-status').getByText('dora was added').waitFor();
  const users = path.join(host.root, 'var/packages/Tessaro/target/etc/users.htpasswd');
  const before = fs.readFileSync(users, 'utf8').match(/^dora:.*$/m)[0];
  await page.locator('#user-table tr[data-user="dora"]').getByRole('button', { name: 'Change password' }).click();
  await page.keyboard.type('dora-pw-2');
  await page.keyboard.press('Enter');
  await page.locator('#users-status').getByText('The password of dora was changed').waitFor();
  assert.notEqual(fs.readFileSync(users, 'utf8').match(/^dora:.*$/m)[0], before);
  await page.getByRole('button', { name: 'Contacts', exact: true }).click();
});

test('an import counts whole cards and names the lines it left out, and why', { timeout: 180000 }, async () => {
  const file = path.join(dir, 'odd.vcf');
  const whole = [];
  for (let i = 0; i < 9; i += 1) whole.push(vcard(`Odd${i}`, 'Imp'));
  // Two card beginnings that never end: no cards; a messaging line the
  // server refuses and a photo that is no base64: lines dropped.
  whole[3] = vcard('Odd3', 'Imp', 'X-messaging/xmpp-All:imp@example.org');
  whole[6] = vcard('Odd6', 'Imp', 'PHOTO;ENCODING=b;TYPE=JPEG:not*base64*at*all');
  fs.writeFileSync(file, ['BEGIN:VCARD\r\nVERSION:3.0\r\n', ...whole.slice(0, 5),
    'BEGIN:VCARD\r\nN:Cut;Short;;;\r\n', ...whole.slice(5)].join(''));
  await page.locator('#import-file').setInputFiles(file);
  await status().getByText('Imported odd.vcf: 9 cards added.').waitFor();
  const text = await status().innerText();
  assert.doesNotMatch(text, /refused/);
  assert.match(text, /2 lines were left out of 2 cards/);
  assert.match(text, /card 4: X-messaging\/xmpp-All \(/);
  assert.match(text, /card 7: PHOTO \(/);
  assert.match(text, /To keep them/);
  assert.equal(await status().getAttribute('class'), 'status status-error');
  assert.equal(listCards(host.root, 'fay').filter((c) => c.name.given_name === 'Imp').length, 9);
});

test('a file larger than the host takes is imported in parts of whole cards, with progress and an estimate', { timeout: 180000 }, async () => {
  // 44 cards of about 400 KB: over 17 MB.
  const photo = Buffer.alloc(300 * 1024, 7).toString('base64');
  const cards = [];
  for (let i = 0; i < 44; i += 1) cards.push(vcard(`Big${i}`, 'Part', `PHOTO;ENCODING=b;TYPE=JPEG:${photo}`));
  const file = path.join(dir, 'big.vcf');
  fs.writeFileSync(file, cards.join(''));
  assert.ok(fs.statSync(file).size > 17 * 1024 * 1024);
  let imports = 0;
  page.on('request', (request) => {
    if (request.url().endsWith('/webapi') && (request.postData() || '').includes('import_cards')) imports += 1;
  });
  await page.evaluate(() => {
    window.progressSeen = [];
    const label = document.getElementById('import-label');
    new MutationObserver(() => window.progressSeen.push(label.textContent))
      .observe(label, { childList: true, characterData: true, subtree: true });
  });
  await page.locator('#import-file').setInputFiles(file);
  await status().getByText('Imported big.vcf: 44 cards added.').waitFor({ timeout: 120000 });
  assert.ok(imports >= 3, `${imports} requests`);
  const seen = await page.evaluate(() => window.progressSeen);
  assert.ok(seen.some((line) => /\(part 2 of \d\)/.test(line)), seen.join('\n'));
  assert.ok(seen.some((line) => /left…$/.test(line)), seen.join('\n'));
  const stored = listCards(host.root, 'fay').filter((c) => c.name.given_name === 'Part');
  assert.equal(stored.length, 44);
  assert.equal(new Set(stored.map((c) => c.name.family_name)).size, 44);
});

test('right after an import the book is never shown empty while its cards are on their way', { timeout: 180000 }, async () => {
  await openBook(page, 'gus');
  await page.locator('#list-empty').getByText('This address book has no cards yet.').waitFor();
  const hold = await holdListings(page, (params) => params.user === 'gus' && !('limit' in params));
  const file = path.join(dir, 'gus.vcf');
  fs.writeFileSync(file, vcard('Gus', 'One') + vcard('Gus', 'Two') + vcard('Gus', 'Three'));
  await page.locator('#import-file').setInputFiles(file);
  await hold.held;
  await page.locator('#book-count').filter({ hasText: /3 in the book/ }).waitFor();
  assert.equal(await page.getByText('This address book has no cards yet.').isVisible(), false);
  assert.equal(await page.locator('#card-list').getAttribute('aria-busy'), 'true');
  hold.release();
  await rows().filter({ hasText: 'Three Gus' }).waitFor();
  assert.equal(await page.locator('#card-list').getAttribute('aria-busy'), null);
  await openBook(page, 'fay');
});

test('a search shows it is busy, and the rows of the list it replaces cannot be opened', { timeout: 180000 }, async () => {
  await rows().filter({ hasText: 'Ann Abel' }).waitFor();
  const hold = await holdListings(page, (params) => params.search_key === 'dunn');
  await page.getByLabel('Search').fill('dunn');
  await hold.held;
  assert.equal(await page.locator('#card-list').getAttribute('aria-busy'), 'true');
  await page.locator('#book-count').getByText('Searching…').waitFor();
  // A click (or Enter) on a row of the old list opens nothing.
  await rows().filter({ hasText: 'Ann Abel' }).locator('th button').evaluate((button) => button.click());
  assert.equal(await form().count(), 0);
  hold.release();
  await page.locator('#book-count').getByText(/^1 of \d+ card/).waitFor();
  assert.equal(await page.locator('#card-list').getAttribute('aria-busy'), null);
  await page.getByLabel('Search').fill('');
  await rows().filter({ hasText: 'Ann Abel' }).waitFor();
});

test('the arrow keys move through the list and Enter opens a card', { timeout: 180000 }, async () => {
  await page.getByLabel('Search').focus();
  await page.keyboard.press('ArrowDown');
  const focused = () => page.evaluate(() => document.activeElement.textContent);
  const names = await rows().locator('th').allInnerTexts();
  assert.equal(await focused(), names[0]);
  await page.keyboard.press('ArrowDown');
  await page.keyboard.press('ArrowDown');
  assert.equal(await focused(), names[2]);
  await page.keyboard.press('ArrowUp');
  assert.equal(await focused(), names[1]);
  await page.keyboard.press('Enter');
  await form().waitFor();
  assert.equal(await form().getByLabel('Display name').inputValue(), names[1]);
  await page.keyboard.press('Escape');
  await form().waitFor({ state: 'detached' });
});

test('a long name ends with an ellipsis beside the open form, never cut mid-letter', { timeout: 180000 }, async () => {
  await page.getByRole('button', { name: 'Ann Abel', exact: true }).click();
  await form().waitFor();
  const fits = await rows().filter({ hasText: 'Leopoldina' }).locator('th').evaluate((cell) => {
    const button = cell.querySelector('button');
    return {
      ellipsis: getComputedStyle(button).textOverflow === 'ellipsis',
      inside: button.getBoundingClientRect().right <= cell.getBoundingClientRect().right + 0.5,
      cut: button.scrollWidth > button.clientWidth,
    };
  });
  assert.deepEqual(fits, { ellipsis: true, inside: true, cut: true });
  await page.keyboard.press('Escape');
  await form().waitFor({ state: 'detached' });
});

test('a card has name prefix and suffix fields, stored in its N', { timeout: 180000 }, async () => {
  await page.getByRole('button', { name: 'New card' }).click();
  await form().getByLabel('Name prefix').fill('Dr.');
  await form().getByLabel('Given name').fill('Pia');
  await form().getByLabel('Family name').fill('Fix');
  await form().getByLabel('Name suffix').fill('Jr.');
  await form().getByRole('button', { name: 'Add card' }).click();
  await page.getByText('Added Pia Fix.').waitFor();
  const card = listCards(host.root, 'fay').find((c) => c.name.family_name === 'Fix');
  assert.equal(card.name.prefix, 'Dr.');
  assert.equal(card.name.suffix, 'Jr.');
});

test('duplicates by phone compare the whole number with its extension; a shared number alone ticks none', { timeout: 180000 }, async () => {
  await page.getByRole('button', { name: 'Find duplicates' }).click();
  const groups = page.locator('.duplicate-group');
  await page.locator('#duplicates').getByText(/groups? of likely duplicates/).waitFor();
  assert.equal(await groups.filter({ hasText: 'Una Ext' }).count(), 0);
  const family = groups.filter({ hasText: 'Ida Home' });
  assert.equal(await family.count(), 1);
  for (const name of ['Keep', 'Merge']) {
    assert.equal(await family.getByRole('columnheader', { name, exact: true }).count(), 1);
  }
  assert.equal(await family.getByLabel('Merge Ida Home').isChecked(), false);
  assert.equal(await family.getByLabel('Merge Ivo Home').isChecked(), false);
  await page.getByRole('button', { name: 'Open address book' }).click();
});

test('at 360×740 three contacts show without scrolling', { timeout: 180000 }, async () => {
  const small = await openSignedIn(browser.context, host);
  await small.setViewportSize({ width: 360, height: 740 });
  await openBook(small, 'fay');
  await rows(small).first().waitFor();
  const seen = await rows(small).evaluateAll((trs) => trs.filter((tr) => {
    const box = tr.getBoundingClientRect();
    return box.height > 0 && box.top >= 0 && box.bottom <= window.innerHeight;
  }).length);
  assert.ok(seen >= 3, `${seen} contacts in view`);
  assert.ok(await small.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth));
  await small.close();
});

test('a sign-in link pasted into a tab that shows the page signs in and leaves the address bar clean', { timeout: 180000 }, async () => {
  const other = await browser.context.newPage();
  await other.goto(host.url);
  await other.getByLabel('Access token').waitFor();
  await other.goto(`${host.url}#token=${host.token}`);
  await other.getByRole('heading', { name: 'Contacts', exact: true }).waitFor();
  assert.doesNotMatch(other.url(), /token/);
  await other.close();
  assert.deepEqual(page.errors, []);
});
