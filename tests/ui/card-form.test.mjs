// The card form helps: type menus, a date field, warnings, problems shown at
// their field, what the card keeps shown read-only, and clear words for a
// file that is no vCard file. Against the real host.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {
  startHost, startBrowser, openSignedIn, openBook, openClicked, listCards, seedCards, tempDir, cardFile,
} from './harness.mjs';

const PNG = 'iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==';

let host;
let browser;
let page;

before(async () => {
  host = await startHost();
  seedCards(host.root, 'erin', [
    'BEGIN:VCARD', 'VERSION:3.0', 'N:Lovelace;Ada;;;', 'FN:Ada Lovelace', 'BDAY:18151210',
    `PHOTO;ENCODING=b;TYPE=PNG:${PNG}`, 'NICKNAME:Addy', 'CATEGORIES:Friends,Analysts',
    'TEL;VALUE=uri;type=CELL:tel:+44-20-7946-0001', 'EMAIL;type=INTERNET:ada@example.org', 'END:VCARD',
    'BEGIN:VCARD', 'VERSION:3.0', 'N:Babbage;Charles;;;', 'FN:Charles Babbage', 'BDAY:tomorrow', 'END:VCARD',
  ].join('\r\n') + '\r\n');
  browser = await startBrowser();
  page = await openSignedIn(browser.context, host);
  await openBook(page, 'erin');
});

after(async () => {
  await browser?.close();
  await host?.stop();
});

const form = () => page.locator('.card-form');
const stored = (family) => listCards(host.root, 'erin').find((c) => c.name.family_name === family);

test('a card shows its photo, nickname and groups, a 4.0 phone as a number and an imported birthday as a date', async () => {
  const before = stored('Lovelace');
  await page.getByRole('button', { name: 'Ada Lovelace', exact: true }).click();
  const photo = form().getByRole('img', { name: 'Photo of Ada Lovelace' });
  assert.equal(await photo.getAttribute('src'), `data:image/png;base64,${PNG}`);
  assert.ok(await photo.evaluate((img) => img.complete && img.naturalWidth === 1));
  const kept = form().locator('details.kept');
  assert.match(await kept.innerText(), /Nickname\s+Addy/);
  assert.match(await kept.innerText(), /Groups\s+Friends, Analysts/);
  assert.equal(await form().getByLabel('Phone', { exact: true }).inputValue(), '+44-20-7946-0001');
  assert.equal(await form().getByLabel('Type', { exact: true }).first().inputValue(), '0');
  assert.equal(await form().getByLabel('Birthday').inputValue(), '1815-12-10');
  // Nothing edited: the record goes back as listed, the birthday's spelling too.
  await form().getByRole('button', { name: 'Save card' }).click();
  await page.getByText('Saved Ada Lovelace.').waitFor();
  const after = stored('Lovelace');
  assert.deepEqual({ ...after, etag: undefined }, { ...before, etag: undefined });
  const row = page.locator('#card-list tbody tr:not(.spacer)').filter({ hasText: 'Ada Lovelace' });
  assert.match(await row.innerText(), /\+44-20-7946-0001/);
  assert.doesNotMatch(await row.innerText(), /tel:/);
});

test('types come from a menu or are typed; a birthday without a year is stored as --MM-DD', async () => {
  await page.getByRole('button', { name: 'New card' }).click();
  await form().getByLabel('Given name').fill('Grace');
  await form().getByLabel('Family name').fill('Hopper');
  const phones = form().locator('.entries-tel');
  await phones.getByRole('button', { name: 'Add phone' }).click();
  await phones.getByLabel('Phone', { exact: true }).fill('+1 202 555 0101');
  await phones.getByLabel('Type', { exact: true }).selectOption('Pager');
  await phones.getByRole('button', { name: 'Add phone' }).click();
  await phones.getByLabel('Phone', { exact: true }).nth(1).fill('+1 202 555 0102');
  await phones.getByLabel('Type', { exact: true }).nth(1).selectOption('Custom…');
  await phones.getByLabel('Custom type').nth(1).fill('X-Boat, voice');
  const mails = form().locator('.entries-mail');
  await mails.getByRole('button', { name: 'Add e-mail' }).click();
  await mails.getByLabel('E-mail', { exact: true }).fill('grace@example.com');
  await mails.getByLabel('Type', { exact: true }).selectOption('Work');
  await form().getByLabel('Birthday').fill('2000-12-09');
  await form().getByLabel('No year').check();
  await form().getByRole('button', { name: 'Add card' }).click();
  await page.getByText('Added Grace Hopper.').waitFor();
  const card = stored('Hopper');
  assert.deepEqual(card.tel.map((t) => t.type), [['PAGER'], ['X-Boat', 'voice']]);
  assert.deepEqual(card.mail[0].type, ['INTERNET', 'WORK']);
  assert.equal(card.bday, '--12-09');
  await page.getByRole('button', { name: 'Grace Hopper', exact: true }).click();
  assert.equal(await form().getByLabel('Birthday').inputValue(), '2000-12-09');
  assert.equal(await form().getByLabel('No year').isChecked(), true);
  await form().getByRole('button', { name: 'Cancel' }).click();
});

test('odd e-mail and web addresses are warned about but saved; a birthday that is no date is kept until replaced', async () => {
  await page.getByRole('button', { name: 'Charles Babbage', exact: true }).click();
  assert.match(await form().getByText(/The card gives "tomorrow"/).innerText(), /kept unless you pick one/);
  const mails = form().locator('.entries-mail');
  await mails.getByRole('button', { name: 'Add e-mail' }).click();
  await mails.getByLabel('E-mail', { exact: true }).fill('not-an-email');
  const urls = form().locator('.entries-url');
  await urls.getByRole('button', { name: 'Add web address' }).click();
  await urls.getByLabel('Web address', { exact: true }).fill('example');
  await urls.getByLabel('Web address', { exact: true }).blur();
  await form().getByText('This does not look like an e-mail address (name@example.org).').waitFor();
  await form().getByText('This does not look like a web address (https://example.org).').waitFor();
  assert.equal(await mails.getByLabel('E-mail', { exact: true }).getAttribute('aria-describedby'),
    await form().getByText(/does not look like an e-mail/).getAttribute('id'));
  await form().getByRole('button', { name: 'Save card' }).click();
  await page.getByText('Saved Charles Babbage.').waitFor();
  const card = stored('Babbage');
  assert.equal(card.mail[0].data, 'not-an-email');
  assert.equal(card.url[0].data, 'example');
  assert.equal(card.bday, 'tomorrow');
});

test('a problem is shown beside its field, in view and focused; a failed save beside the Save button', async () => {
  await page.getByRole('button', { name: 'New card' }).click();
  const phones = form().locator('.entries-tel');
  for (let i = 0; i < 8; i += 1) await phones.getByRole('button', { name: 'Add phone' }).click();
  await form().getByRole('button', { name: 'Add card' }).click();
  const given = form().getByLabel('Given name');
  await form().getByText('Give the card a name or an organisation.').waitFor();
  assert.equal(await given.getAttribute('aria-invalid'), 'true');
  assert.equal(await given.evaluate((input) => document.activeElement === input), true);
  assert.ok(await given.evaluate((input) => {
    const box = input.getBoundingClientRect();
    const pane = input.closest('.editor-pane').getBoundingClientRect();
    return box.top >= Math.max(0, pane.top) && box.bottom <= Math.min(window.innerHeight, pane.bottom);
  }), 'the field at fault is in view');

  await given.fill('Nobody');
  await page.route('**/webapi', (route) => ((route.request().postData() || '').includes('"add_card"')
    ? route.abort() : route.fallback()));
  await form().getByRole('button', { name: 'Add card' }).click();
  const message = form().locator('.buttons .status-error');
  await message.getByText('The card was not saved: The server could not be reached.').waitFor();
  assert.equal(await message.evaluate((node) => document.activeElement === node), true);
  assert.ok(await message.evaluate((node) => {
    const box = node.getBoundingClientRect();
    return box.top >= 0 && box.bottom <= window.innerHeight;
  }), 'the message is in view');
  await page.unroute('**/webapi');
  // The cut request itself is the one error the console may show.
  assert.deepEqual(page.errors, ['Failed to load resource: net::ERR_FAILED']);
  page.errors.length = 0;
  await form().getByRole('button', { name: 'Cancel' }).click();
  await page.getByRole('dialog').getByRole('button', { name: 'Discard changes' }).click();
});

test('a file that is no vCard file is named for what it is, and nothing is imported', async () => {
  const dir = tempDir('not-vcards');
  const before = listCards(host.root, 'erin').length;
  for (const [name, content, words] of [
    ['people.csv', 'Name,Phone,E-mail\r\nAda,555,ada@example.org\r\n', 'it looks like a table (CSV), not a vCard file'],
    ['empty.vcf', '', 'the file is empty'],
    ['photo.vcf', Buffer.from([0x89, 0x50, 0x4e, 0x47, 0, 0, 0, 1, 2, 3]), 'it is not a text file'],
  ]) {
    const file = path.join(dir, name);
    fs.writeFileSync(file, content);
    await page.locator('#import-file').setInputFiles(file);
    await page.getByText(`${name} is not a vCard file: ${words}. Nothing was imported.`).waitFor();
  }
  assert.equal(listCards(host.root, 'erin').length, before);
  fs.rmSync(dir, { recursive: true, force: true });
});

test('headers stay whole beside an open form, and the page follows a dark system theme', async () => {
  await page.getByRole('button', { name: 'Ada Lovelace', exact: true }).click();
  for (const width of [1280, 900]) {
    await page.setViewportSize({ width, height: 800 });
    const broken = await page.locator('#card-list thead th').evaluateAll((cells) => cells
      .filter((cell) => cell.textContent.trim() && cell.getClientRects().length > 0
        && (cell.scrollWidth > cell.clientWidth + 1 || cell.offsetHeight > 60))
      .map((cell) => cell.textContent));
    assert.deepEqual(broken, [], `at ${width}px`);
    assert.ok(await page.locator('#card-list thead th').filter({ hasText: 'Name' }).isVisible());
  }
  await page.setViewportSize({ width: 1280, height: 900 });
  await page.emulateMedia({ colorScheme: 'dark' });
  const dark = await page.evaluate(() => getComputedStyle(document.documentElement).backgroundColor);
  await page.emulateMedia({ colorScheme: 'light' });
  const light = await page.evaluate(() => getComputedStyle(document.documentElement).backgroundColor);
  assert.notEqual(dark, light);
  assert.equal(dark, 'rgb(18, 22, 29)');
  await form().getByRole('button', { name: 'Cancel' }).click();
  assert.deepEqual(page.errors, []);
});

test('fields left alone are sent as the card spells them, however another client escaped them', async () => {
  // Spellings other clients write: a bare comma, \N for a line break, a lone
  // backslash. Each reads back the same when left alone; escaped anew it
  // would not, and the card would count as edited.
  const bytes = ['BEGIN:VCARD', 'VERSION:3.0', 'UID:other-client', 'N:Spelling;Sam;;;', 'FN:Sam Spelling',
    'TITLE:R&D, Sales', 'NOTE:first\\Nsecond', 'ORG:Back\\slash Ltd', 'END:VCARD', ''].join('\r\n');
  fs.writeFileSync(cardFile(host.root, 'erin', 'other-client.vcf'), bytes);
  await openClicked(page);
  const listed = stored('Spelling');
  await page.getByRole('button', { name: 'Sam Spelling', exact: true }).click();
  await form().waitFor();
  // Nothing edited: Escape closes without asking.
  await page.keyboard.press('Escape');
  await form().waitFor({ state: 'detached' });
  assert.equal(await page.locator('#confirm[open]').count(), 0);
  await page.getByRole('button', { name: 'Sam Spelling', exact: true }).click();
  const sent = page.waitForRequest((request) => (request.postData() || '').includes('"edit_card"'));
  await form().getByRole('button', { name: 'Save card' }).click();
  const card = JSON.parse((await sent).postData()).params.card;
  for (const key of ['company', 'note', 'name']) assert.deepEqual(card[key], listed[key], key);
  await page.getByText('Saved Sam Spelling.').waitFor();
  assert.equal(fs.readFileSync(cardFile(host.root, 'erin', 'other-client.vcf'), 'utf8'), bytes);
});
