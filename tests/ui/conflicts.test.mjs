// No edit silently overwrites another: the page sends the version it listed,
// merges the person's edits onto a card changed elsewhere, shows a field
// changed on both sides with both values, asks before unsaved edits are lost,
// and deletes only cards still as listed, in batches that can be cancelled.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import {
  startHost, startBrowser, openSignedIn, openBook, listCards, seedCards, cli, versionsWhereMissing, CONTACTS,
} from './harness.mjs';

let host;
let browser;
let page;

const card = (family, given, extra = []) => [
  'BEGIN:VCARD', 'VERSION:3.0', `N:${family};${given};;;`, `FN:${given} ${family}`, ...extra, 'END:VCARD',
].join('\r\n') + '\r\n';

before(async () => {
  host = await startHost();
  seedCards(host.root, 'dave', card('Lamarr', 'Hedy', ['TITLE:Inventor', 'TEL;type=CELL:+1 555 0100'])
    + card('Meitner', 'Lise', ['TITLE:Physicist']) + card('Franklin', 'Rosalind', ['TITLE:Chemist'])
    + card('Goeppert', 'Maria') + card('Wu', 'Chien-Shiung'));
  browser = await startBrowser();
  page = await openSignedIn(browser.context, host);
  await versionsWhereMissing(page, host.root);
  await openBook(page, 'dave');
});

after(async () => {
  await browser?.close();
  await host?.stop();
});

const form = () => page.locator('.card-form');
const input = (label) => form().getByLabel(label, { exact: true });
const stored = (family) => listCards(host.root, 'dave').find((c) => c.name.family_name === family);
const open = (name) => page.getByRole('button', { name, exact: true }).click();

// What a phone does through the CardDAV server: the stored card changes.
function phoneEdits(family, change) {
  const record = stored(family);
  change(record);
  const answer = cli(host.root, CONTACTS, 'edit_card', 'user=dave',
    `card:=${JSON.stringify({ ...record, resource_name: record.id, etag: undefined })}`);
  assert.equal(answer.success, true, JSON.stringify(answer));
}

test('a card changed elsewhere keeps both changes: the phone\'s e-mail and the page\'s title', async () => {
  const sent = [];
  page.on('request', (request) => {
    const body = request.postData() || '';
    if (body.includes('"edit_card"')) sent.push(JSON.parse(body).params.card);
  });
  await open('Hedy Lamarr');
  await input('Title').fill('Actress and inventor');
  phoneEdits('Lamarr', (record) => record.mail.push({ data: 'hedy@example.com', type: ['INTERNET'] }));
  await form().getByRole('button', { name: 'Save card' }).click();
  await form().getByText('This card was changed elsewhere since you opened it. Changed there: E-mail addresses.')
    .waitFor();
  assert.equal(typeof sent[0].etag, 'string', 'the save sends the listed version');
  assert.equal(await input('Title').inputValue(), 'Actress and inventor');
  assert.equal(await form().locator('.entries-mail').getByLabel('E-mail', { exact: true }).inputValue(),
    'hedy@example.com');
  assert.equal(stored('Lamarr').company.title, 'Inventor', 'nothing is saved before the person saves again');
  await form().getByRole('button', { name: 'Save card' }).click();
  await page.getByText('Saved Hedy Lamarr.').waitFor();
  const after = stored('Lamarr');
  assert.equal(after.company.title, 'Actress and inventor');
  assert.deepEqual(after.mail.map((m) => m.data), ['hedy@example.com']);
  assert.deepEqual(after.tel.map((t) => t.data), ['+1 555 0100']);
});

test('a field changed on both sides shows both values and is saved only as the person chooses', async () => {
  await open('Lise Meitner');
  await input('Title').fill('Nuclear physicist');
  await input('Note').fill('From the page');
  phoneEdits('Meitner', (record) => { record.company.title = 'Physicist (Berlin)'; });
  await form().getByRole('button', { name: 'Save card' }).click();
  const conflict = form().getByRole('group', { name: 'Title changed elsewhere' });
  await conflict.waitFor();
  assert.equal(await conflict.locator('.mine').innerText(), 'Nuclear physicist');
  assert.equal(await conflict.locator('.theirs').innerText(), 'Physicist (Berlin)');
  // No save until the person chose.
  await form().getByRole('button', { name: 'Save card' }).click();
  await form().getByText('Choose which Title to keep first.').waitFor();
  assert.equal(stored('Meitner').company.title, 'Physicist (Berlin)');
  await conflict.getByRole('button', { name: 'Take the saved one (Title)' }).click();
  assert.equal(await input('Title').inputValue(), 'Physicist (Berlin)');
  assert.equal(await input('Note').inputValue(), 'From the page');
  await form().getByRole('button', { name: 'Save card' }).click();
  await page.getByText('Saved Lise Meitner.').waitFor();
  assert.equal(stored('Meitner').company.title, 'Physicist (Berlin)');
  assert.equal(stored('Meitner').note, 'From the page');
});

test('a card deleted elsewhere can be added back from the form', async () => {
  await open('Rosalind Franklin');
  await input('Title').fill('Crystallographer');
  const gone = stored('Franklin');
  cli(host.root, CONTACTS, 'delete_cards', 'user=dave', `id:=${JSON.stringify([gone.id])}`);
  await form().getByRole('button', { name: 'Save card' }).click();
  await form().getByText('This card was deleted elsewhere').waitFor();
  await form().getByRole('button', { name: 'Add card' }).click();
  await page.getByText('Added Rosalind Franklin.').waitFor();
  assert.equal(stored('Franklin').company.title, 'Crystallographer');
});

test('unsaved edits are not lost without asking: another card, Escape, another page, closing the tab', async () => {
  const dialog = page.getByRole('dialog');
  await open('Maria Goeppert');
  await input('Title').fill('Unsaved title');
  await open('Chien-Shiung Wu');
  await dialog.getByText('Your changes to Maria Goeppert are not saved.').waitFor();
  await dialog.getByRole('button', { name: 'Keep editing' }).click();
  assert.equal(await input('Title').inputValue(), 'Unsaved title');
  await input('Title').press('Escape');
  await dialog.getByRole('button', { name: 'Keep editing' }).click();
  await page.getByRole('button', { name: 'Server settings' }).click();
  await dialog.getByRole('button', { name: 'Keep editing' }).click();
  assert.equal(await page.locator('#contacts-view').isVisible(), true);

  const asked = new Promise((resolve) => page.once('dialog', (d) => { resolve(d.type()); d.dismiss(); }));
  await page.close({ runBeforeUnload: true });
  assert.equal(await asked, 'beforeunload');
  assert.equal(page.isClosed(), false, 'the tab stays when the person stays');

  await open('Chien-Shiung Wu');
  await dialog.getByRole('button', { name: 'Discard changes' }).click();
  await form().getByRole('heading', { name: 'Edit card: Chien-Shiung Wu' }).waitFor();
  assert.equal(stored('Goeppert').company.title, '');
  // A form left alone closes without a question.
  await input('Title').press('Escape');
  await form().waitFor({ state: 'detached' });
});

test('cards are deleted in batches, only as listed, with progress and a cancel', async () => {
  const many = [];
  for (let i = 0; i < 1100; i += 1) many.push(card(`Batch${String(i).padStart(4, '0')}`, 'Test'));
  seedCards(host.root, 'dave', many.join(''));
  await page.getByLabel('Search').fill('batch');
  await page.locator('#book-count').filter({ hasText: '1100 of' }).waitFor();
  // One card changes on a phone after the listing: it must stay.
  phoneEdits('Batch0007', (record) => { record.note = 'changed on the phone'; });

  const batches = [];
  let release;
  const held = new Promise((resolve) => { release = resolve; });
  page.on('request', (request) => {
    const body = request.postData() || '';
    if (body.includes('"delete_cards"')) batches.push(JSON.parse(body).params);
  });
  await page.route('**/webapi', async (route) => {
    if ((route.request().postData() || '').includes('"delete_cards"') && batches.length === 2) await held;
    return route.fallback();
  });
  await page.locator('#select-all').check();
  await page.getByRole('button', { name: 'Delete selected (1100)' }).click();
  await page.getByRole('dialog').getByRole('button', { name: 'Delete' }).click();
  await page.locator('#batch-label').filter({ hasText: 'Deleting: 500 of 1100' }).waitFor();
  await page.getByRole('button', { name: 'Cancel', exact: true }).click();
  release();
  await page.getByText('Cancelled: 100 cards not deleted.').waitFor();
  await page.getByText(/1 card changed elsewhere since the page listed it and was not deleted: Test Batch0007/).waitFor();
  assert.equal(batches.length, 2);
  assert.deepEqual(batches.map((b) => b.id.length), [500, 500]);
  assert.ok(batches.every((b) => Array.isArray(b.etag) && b.etag.length === b.id.length));
  const left = listCards(host.root, 'dave').filter((c) => c.name.family_name.startsWith('Batch'));
  assert.equal(left.length, 101);
  assert.ok(left.some((c) => c.name.family_name === 'Batch0007'));
  assert.equal(await page.locator('#batch-progress').isVisible(), false);
  assert.deepEqual(page.errors, []);
});
