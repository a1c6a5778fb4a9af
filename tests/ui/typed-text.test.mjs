// Texts typed into the card form reach CardDAV clients exactly, and fields a
// person did not touch go back byte for byte. The stored card is read with
// python3-vobject from the store's own file, as the CardDAV server serves it.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import {
  startHost, startBrowser, openSignedIn, openBook, listCards, seedCards, cli, CONTACTS,
} from './harness.mjs';

let host;
let browser;
let page;

const CLIENT_CARD = [
  'BEGIN:VCARD', 'VERSION:3.0', 'N:Ørsted\\, Jr.;Hans;;;', 'FN:Hans Ørsted\\, Jr.',
  'ORG:Acme\\, Inc.;Sales\\; EMEA', 'TITLE:Head\\, EMEA', 'NOTE:one\\, two\\; three\\nC:\\\\Temp',
  'END:VCARD',
].join('\r\n') + '\r\n';

// Blanks around values, quotes and odd spacing: a save must not tidy them.
const SPACED_CARD = [
  'BEGIN:VCARD', 'VERSION:3.0', 'N:  Smith ;  "Jo"  ;;;', 'FN:  Jo   Smith ',
  'ORG:  Acme\\, Ltd  ;  Sales  ', 'TITLE: "Head"  of   things ', 'NOTE:  spaced   note  ',
  'TEL;type=CELL:  +1 555  0100 ', 'EMAIL;type=INTERNET: jo@example.org ', 'BDAY: 1970-01-01 ',
  'END:VCARD',
].join('\r\n') + '\r\n';

before(async () => {
  host = await startHost();
  seedCards(host.root, 'carol', CLIENT_CARD + SPACED_CARD);
  browser = await startBrowser();
  page = await openSignedIn(browser.context, host);
  await openBook(page, 'carol');
});

after(async () => {
  await browser?.close();
  await host?.stop();
});

function cardFile(id) {
  return path.join(host.root, 'var/packages/Tessaro/var/collections/collection-root/carol/contacts', id);
}

// The card as a CardDAV client reads it.
function readWithVobject(id) {
  const script = path.join(import.meta.dirname, 'read-card.py');
  return JSON.parse(execFileSync('/usr/bin/python3', [script, cardFile(id)], { encoding: 'utf8' }));
}

const form = () => page.locator('.card-form');
const input = (label) => form().getByLabel(label, { exact: true });

const TYPED = {
  'Given name': 'Zoë "Z" 😀',
  'Additional names': 'a,b; c\\d',
  'Family name': 'Smith; Jones, Jr.',
  'Display name': 'Dr. Zoë: Smith; Jones \\ "the 2nd", 😀',
  Organisation: 'Acme, Inc.',
  Department: 'R&D; Labs \\ C:\\Temp',
  Title: 'Head of Sales, EMEA; "acting": ü',
  Note: 'Call back, maybe Tuesday; bring the contract\nC:\\Temp\\new\n"quoted": ✓ 😀',
};

function expectRead(read, typed) {
  assert.equal(read.fn, typed['Display name']);
  assert.equal(read.n.given, typed['Given name']);
  assert.equal(read.n.additional, typed['Additional names']);
  assert.equal(read.n.family, typed['Family name']);
  assert.deepEqual(read.org, [typed.Organisation, typed.Department]);
  assert.equal(read.title, typed.Title);
  assert.equal(read.note, typed.Note);
}

test('every text typed into the form is read back by a CardDAV client as typed, after adding and after editing', async () => {
  const idsBefore = new Set(listCards(host.root, 'carol').map((c) => c.id));
  await page.getByRole('button', { name: 'New card' }).click();
  for (const [label, text] of Object.entries(TYPED)) await input(label).fill(text);
  await input('Birthday').fill('1984-03-21');
  await form().getByRole('button', { name: 'Add card' }).click();
  await page.getByText(`Added ${TYPED['Display name']}.`).waitFor();
  const card = listCards(host.root, 'carol').find((c) => !idsBefore.has(c.id));
  let read = readWithVobject(card.id);
  expectRead(read, TYPED);
  assert.equal(read.bday, '1984-03-21');

  // Reopened, the form shows the texts as typed, with no escape in sight.
  await page.getByRole('button', { name: TYPED['Display name'], exact: true }).click();
  for (const [label, text] of Object.entries(TYPED)) assert.equal(await input(label).inputValue(), text, label);

  // Edited: new texts, the display name now left to follow the name parts.
  const edited = {
    ...TYPED, 'Family name': 'Müller, "M"; née X', Title: 'Ops\\Dev, lead', Note: 'a;b,c\\d\n\ne',
  };
  await input('Display name').fill('');
  for (const label of ['Family name', 'Title', 'Note']) await input(label).fill(edited[label]);
  edited['Display name'] = [edited['Given name'], edited['Additional names'], edited['Family name']].join(' ');
  assert.equal(await input('Display name').inputValue(), edited['Display name']);
  await form().getByRole('button', { name: 'Save card' }).click();
  await page.getByText(`Saved ${edited['Display name']}.`).waitFor();
  read = readWithVobject(card.id);
  expectRead(read, edited);
});

test('a card written by a client shows no vCard escape', async () => {
  await page.getByRole('button', { name: 'Hans Ørsted, Jr.', exact: true }).click();
  assert.equal(await input('Family name').inputValue(), 'Ørsted, Jr.');
  assert.equal(await input('Organisation').inputValue(), 'Acme, Inc.');
  assert.equal(await input('Department').inputValue(), 'Sales; EMEA');
  assert.equal(await input('Title').inputValue(), 'Head, EMEA');
  assert.equal(await input('Note').inputValue(), 'one, two; three\nC:\\Temp');
  const row = page.locator('#card-list tbody tr:not(.spacer)').filter({ hasText: 'Hans Ørsted, Jr.' });
  assert.match(await row.innerText(), /Acme, Inc\., Sales; EMEA/);
  await page.keyboard.press('Escape');
});

test('an edit of one field sends the listed record with only that field changed; the card keeps every other byte', async () => {
  // Once through the writer first, so that the file is in the writer's order
  // (a no-op edit keeps a card's bytes, so the pass changes the title and
  // puts it back).
  const listed0 = listCards(host.root, 'carol').find((c) => c.company.title.includes('Head"'));
  for (const title of [`${listed0.company.title}!`, listed0.company.title]) {
    const pass = cli(host.root, CONTACTS, 'edit_card', 'user=carol',
      `card:=${JSON.stringify({ ...listed0, company: { ...listed0.company, title }, etag: undefined, resource_name: listed0.id })}`);
    assert.equal(pass.success, true, JSON.stringify(pass));
  }
  const listed = listCards(host.root, 'carol').find((c) => c.id === listed0.id);
  const bytesBefore = fs.readFileSync(cardFile(listed.id), 'utf8');

  await page.getByLabel('Search').fill('');
  await page.reload();
  await openBook(page, 'carol');
  const requests = [];
  page.on('request', (request) => {
    const body = request.postData();
    if (body && body.includes('"edit_card"')) requests.push(JSON.parse(body));
  });
  await page.locator('#card-list tbody tr:not(.spacer)').filter({ hasText: 'Sales' }).filter({ hasText: 'Smith' })
    .getByRole('button').click();
  await input('Title').fill('Chief of things');
  await form().getByRole('button', { name: 'Save card' }).click();
  await page.getByText(/^Saved /).waitFor();

  assert.equal(requests.length, 1);
  const sent = requests[0].params.card;
  const expected = structuredClone(listed);
  expected.company.title = 'Chief of things';
  expected.resource_name = listed.id;
  assert.deepEqual(sent, expected);

  const linesBefore = bytesBefore.split('\r\n');
  const linesAfter = fs.readFileSync(cardFile(listed.id), 'utf8').split('\r\n');
  assert.deepEqual(linesAfter.filter((line) => !line.startsWith('TITLE')),
    linesBefore.filter((line) => !line.startsWith('TITLE')));
  assert.ok(linesAfter.includes('TITLE:Chief of things'));
  assert.ok(linesAfter.includes('N:  Smith ;  "Jo"  ;;;'), linesAfter.join('\n'));
  assert.ok(linesAfter.includes('NOTE:  spaced   note  '));
  assert.deepEqual(page.errors, []);
});
