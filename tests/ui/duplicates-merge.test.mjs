// Duplicates in the page: a re-import says what was already there; "Find
// duplicates" shows the pair with its reason; the merge keeps every property
// of both cards (read back with python3-vobject), stores the merged card
// before the other goes, and an undo brings both back byte for byte.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import {
  startHost, startBrowser, openSignedIn, openBook, listCards, seedCards, cardFile, tempDir, cli, CONTACTS,
} from './harness.mjs';

const PHONE_CARD = [
  'BEGIN:VCARD', 'VERSION:3.0', 'N:Lovelace;Ada;;;', 'FN:Ada Lovelace',
  'TEL;type=CELL:+44 20 7946 0958', 'EMAIL;type=INTERNET:ada@example.com',
  'ADR;type=HOME:;;12 St James\'s Square;London;;SW1Y 4JH;UK', 'BDAY:1815-12-10',
  'NOTE:Met at the Analytical Society', 'item1.TEL:+44 20 7946 0100', 'item1.X-ABLabel:Lab',
  'PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAA==',
  'END:VCARD',
];
const MAIL_CARD = [
  'BEGIN:VCARD', 'VERSION:3.0', 'N:Lovelace;Ada;;;', 'FN:Ada King',
  'EMAIL;type=INTERNET;type=WORK:ADA@example.com', 'EMAIL;type=INTERNET:countess@example.org',
  'TEL;type=HOME:442079460958', 'ORG:Royal Society', 'TITLE:Countess of Lovelace',
  'URL;type=HOME:https://ada.example.org/', 'BDAY:--12-10', 'NOTE:Wrote the first program\\, 1843',
  'NICKNAME:Enchantress of Numbers', 'CATEGORIES:Friends,Science',
  'END:VCARD',
];
const OTHER_CARD = ['BEGIN:VCARD', 'VERSION:3.0', 'N:Babbage;Charles;;;', 'FN:Charles Babbage',
  'EMAIL;type=INTERNET:charles@example.com', 'END:VCARD'];
const FILE = [...PHONE_CARD, ...MAIL_CARD, ...OTHER_CARD].join('\r\n') + '\r\n';

let host;
let browser;
let page;

before(async () => {
  host = await startHost();
  seedCards(host.root, 'erin', FILE);
  browser = await startBrowser();
  page = await openSignedIn(browser.context, host);
  await openBook(page, 'erin');
});

after(async () => {
  await browser?.close();
  await host?.stop();
});

const byFn = (fn) => listCards(host.root, 'erin').find((c) => c.name.formatted_name === fn);
const read = (...files) => JSON.parse(execFileSync('/usr/bin/python3',
  [path.join(import.meta.dirname, 'card-properties.py'), ...files], { encoding: 'utf8' }));

test('importing the same file again adds none and says so', async () => {
  const file = path.join(tempDir('files'), 'again.vcf');
  fs.writeFileSync(file, FILE);
  await page.locator('#import-file').setInputFiles(file);
  await page.getByText('3 cards were already in the address book, word for word, and not stored again.').waitFor();
  await page.getByText('holds 3 cards now').waitFor();
  assert.equal(listCards(host.root, 'erin').length, 3);
  assert.equal(await page.locator('#contacts-status.status-error').count(), 0, 'nothing was refused');
});

// Whether the merged card holds the property: the same name and value (an
// e-mail in any letter case, a phone by its digits), with its types; a
// second birthday or display name in its X- property.
function holds(merged, [name, value, types]) {
  const norm = (n, v) => (n === 'EMAIL' ? v.toLowerCase() : n === 'TEL' ? v.replace(/\D/g, '') : v);
  const names = { BDAY: ['BDAY', 'X-ORVA-ALT-BDAY'], FN: ['FN', 'X-ORVA-ALT-FN'] }[name] || [name];
  return merged.some(([n, v, t]) => names.includes(n) && norm(name, v) === norm(name, value)
    && types.every((type) => t.includes(type)));
}

test('find duplicates, merge with nothing lost, the other deleted only after the save, undo byte for byte', async () => {
  const kept = byFn('Ada Lovelace');
  const gone = byFn('Ada King');
  const keptFile = cardFile(host.root, 'erin', kept.id);
  const goneFile = cardFile(host.root, 'erin', gone.id);
  const keptBytes = fs.readFileSync(keptFile);
  const goneBytes = fs.readFileSync(goneFile);
  const [keptProps, goneProps] = read(keptFile, goneFile);

  // What the host sees, in order, and the book on disk when the delete comes.
  const methods = [];
  let atDelete = null;
  const watch = async (route) => {
    let body;
    try {
      body = JSON.parse(route.request().postData() || '{}');
    } catch {
      return route.fallback();
    }
    methods.push({ method: body.method, params: body.params });
    if (body.method === 'delete_cards') {
      atDelete = { keptText: fs.readFileSync(keptFile, 'utf8'), goneThere: fs.existsSync(goneFile) };
    }
    return route.fallback();
  };
  await page.route('**/webapi', watch);

  await page.getByRole('button', { name: 'Find duplicates' }).click();
  const group = page.locator('.duplicate-group');
  await group.first().waitFor();
  assert.equal(await group.count(), 1);
  // The reason names the values as the first card listed spells them.
  assert.match(await group.locator('legend').innerText(),
    /^Likely the same person: same e-mail address \(ada@example\.com\); same phone number \((\+44 20 7946 0958|442079460958)\)$/i);
  const listing = methods.find((m) => m.method === 'list_cards' && 'limit' in m.params);
  assert.deepEqual([listing.params.offset, listing.params.limit], [0, 2000], 'the book is read in windows');

  await group.getByLabel('Keep Ada Lovelace').check();
  // A card left unticked is not merged; with none ticked there is nothing to do.
  await group.getByLabel('Merge Ada King').uncheck();
  await group.getByRole('button', { name: 'Merge…' }).click();
  await group.getByText('Tick at least one other card to merge into the one kept.').waitFor();
  await group.getByLabel('Merge Ada King').check();
  await group.getByRole('button', { name: 'Merge…' }).click();
  const preview = group.locator('.merge-preview');
  await preview.getByText('second note: Wrote the first program, 1843').waitFor();
  await preview.getByText('other birthday: --12-10').waitFor();
  await preview.getByText('organisation: Royal Society', { exact: true }).waitFor();
  assert.equal(fs.readFileSync(keptFile).equals(keptBytes), true, 'nothing is saved before the person saves');

  await preview.getByRole('button', { name: 'Save merged card' }).click();
  await page.getByText('Merged 2 cards into Ada Lovelace.').waitFor();
  const order = methods.map((m) => m.method).filter((m) => m === 'edit_card' || m === 'delete_cards');
  assert.deepEqual(order, ['edit_card', 'delete_cards']);
  const edit = methods.find((m) => m.method === 'edit_card');
  const del = methods.find((m) => m.method === 'delete_cards');
  assert.equal(edit.params.card.etag, kept.etag, 'the save checks the kept card\'s version');
  assert.deepEqual([del.params.id, del.params.etag], [[gone.id], [gone.etag]]);
  assert.ok(atDelete.goneThere, 'the other card is still there when the delete is sent');
  assert.ok(atDelete.keptText.includes('countess@example.org'), 'the merged card is stored before the delete');
  assert.equal(fs.existsSync(goneFile), false);

  // Every property of both cards is in the merged one, as a client reads it.
  await page.unroute('**/webapi', watch);
  const [merged] = read(keptFile);
  for (const property of [...keptProps, ...goneProps]) {
    if (property[0] === 'N') continue;
    assert.ok(holds(merged, property), `merged card lacks ${JSON.stringify(property)}:\n${JSON.stringify(merged)}`);
  }
  const count = (name) => merged.filter(([n]) => n === name).length;
  assert.equal(count('EMAIL'), 2, 'an address in another letter case is not doubled');
  assert.equal(count('TEL'), 2, 'a number in another spelling is not doubled');
  assert.equal(count('NOTE'), 2);
  assert.equal(count('BDAY'), 1);
  assert.equal(listCards(host.root, 'erin').length, 2);

  // Undo: both cards as they were, byte for byte, under their own names.
  await page.getByRole('button', { name: 'Undo', exact: true }).click();
  await page.getByText('Undone: the 2 cards merged into Ada Lovelace are back as they were.').waitFor();
  assert.equal(fs.readFileSync(keptFile).equals(keptBytes), true);
  assert.equal(fs.readFileSync(goneFile).equals(goneBytes), true);
  assert.equal(listCards(host.root, 'erin').length, 3);
  await page.getByRole('button', { name: 'Ada King', exact: true }).waitFor();
  // The undo stays offered only once.
  await page.locator('#duplicates').getByRole('button', { name: 'Undone' }).waitFor();
  assert.deepEqual(page.errors, []);
});

test('an undo does not overwrite a change made to the merged card since', async () => {
  const kept = byFn('Ada Lovelace');
  const gone = byFn('Ada King');
  await page.getByRole('button', { name: 'Find duplicates' }).click();
  const group = page.locator('.duplicate-group');
  await group.getByLabel('Keep Ada Lovelace').check();
  await group.getByRole('button', { name: 'Merge…' }).click();
  await group.getByRole('button', { name: 'Save merged card' }).click();
  await page.getByText('Merged 2 cards into Ada Lovelace.').waitFor();
  // A phone changes the merged card.
  const record = byFn('Ada Lovelace');
  record.note = 'changed on the phone';
  const answer = cli(host.root, CONTACTS, 'edit_card', 'user=erin',
    `card:=${JSON.stringify({ ...record, resource_name: record.id, etag: undefined })}`);
  assert.equal(answer.success, true, JSON.stringify(answer));
  const edited = fs.readFileSync(cardFile(host.root, 'erin', kept.id));
  await page.locator('#contacts-status').getByRole('button', { name: 'Undo' }).click();
  await page.getByText('the merged card was changed since, and the undo would overwrite that change').waitFor();
  assert.equal(fs.readFileSync(cardFile(host.root, 'erin', kept.id)).equals(edited), true);
  assert.equal(fs.existsSync(cardFile(host.root, 'erin', gone.id)), false, 'nothing was restored');
});

test('a card imported before from the same source is named as an update, not stored twice', async () => {
  const card = (note) => ['BEGIN:VCARD', 'VERSION:3.0', 'UID:phone-contact-17', 'N:Hopper;Grace;;;',
    'FN:Grace Hopper', `NOTE:${note}`, 'END:VCARD'].join('\r\n') + '\r\n';
  seedCards(host.root, 'fred', card('first import'));
  await openBook(page, 'fred');
  const file = path.join(tempDir('files'), 'phone.vcf');
  fs.writeFileSync(file, card('changed on the phone'));
  await page.locator('#import-file').setInputFiles(file);
  await page.getByText('1 card is an update of a card already in the book (the same card in the file it came from) '
    + 'and was not stored: Grace Hopper. Edit it in the book if needed.').waitFor();
  assert.equal(listCards(host.root, 'fred').length, 1);
  assert.equal(listCards(host.root, 'fred')[0].note, 'first import');
});
