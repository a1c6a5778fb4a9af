// The contacts page against the real host: cards typed in the form, found,
// edited and deleted, imported from a file and exported to one. What was
// stored is read back through the module's own listing.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {
  startHost, startBrowser, openSignedIn, openBook, listCards, seedCards, cli, tempDir, CONTACTS,
} from './harness.mjs';

const SEED = [
  'BEGIN:VCARD', 'VERSION:3.0', 'N:Lovelace;Ada;Augusta;Lady;', 'FN:Ada Lovelace',
  'ORG:Analytical Engines Ltd', 'TITLE:Programmer',
  'TEL;type=CELL;type=VOICE;PREF=1:+44 20 7946 0001',
  'item1.TEL;type=WORK:+44 20 7946 0002', 'item1.X-ABLabel:Lab',
  'EMAIL;type=INTERNET;type=WORK:ada@example.org',
  'ADR;type=HOME:;;12 St James\'s Square;London;;SW1Y 4JH;United Kingdom',
  'URL;type=WORK:https://example.org/ada', 'BDAY:1815-12-10', 'NOTE:First programmer',
  'X-SOCIALPROFILE;type=home:ada', 'END:VCARD',
  'BEGIN:VCARD', 'VERSION:3.0', 'N:Hopper;Grace;;;', 'ORG:Navy',
  'TEL;type=WORK:+1 555 0101', 'EMAIL;type=INTERNET:grace@example.com', 'END:VCARD',
  'BEGIN:VCARD', 'VERSION:3.0', 'N:Turing;Alan;;;', 'TEL;type=HOME:+44 161 0000', 'END:VCARD',
].join('\r\n') + '\r\n';

let host;
let browser;
let page;

before(async () => {
  host = await startHost();
  seedCards(host.root, 'alice', SEED);
  browser = await startBrowser();
  page = await openSignedIn(browser.context, host);
  await openBook(page, 'alice');
});

after(async () => {
  await browser?.close();
  await host?.stop();
});

const rows = () => page.locator('#card-list tbody tr:not(.spacer)');
const byName = (cards, family) => cards.find((card) => card.name.family_name === family);

function rowOf(name) {
  return rows().filter({ has: page.getByRole('button', { name, exact: true }) });
}

test('a card typed in the form is stored with two phones, an address and a birthday, found, edited', async () => {
  assert.equal(await rows().count(), 3);
  await page.getByRole('button', { name: 'New card' }).click();
  const form = page.locator('.card-form');
  await form.getByLabel('Given name').fill('Katherine');
  await form.getByLabel('Family name').fill('Johnson');
  await form.getByLabel('Organisation', { exact: true }).fill('NASA');

  const phones = form.locator('.entries-tel');
  await phones.getByRole('button', { name: 'Add phone' }).click();
  await phones.getByLabel('Phone', { exact: true }).nth(0).fill('+1 757 555 0111');
  await phones.getByLabel('Type', { exact: true }).nth(0).selectOption('Cell');
  await phones.getByRole('button', { name: 'Add phone' }).click();
  await phones.getByLabel('Phone', { exact: true }).nth(1).fill('+1 757 555 0112');
  await phones.getByLabel('Type', { exact: true }).nth(1).selectOption('Custom…');
  await phones.getByLabel('Custom type').nth(1).fill('WORK, VOICE');

  const addresses = form.locator('.entries-adr');
  await addresses.getByRole('button', { name: 'Add address' }).click();
  await addresses.getByLabel('Street').fill('1 NASA Drive');
  await addresses.getByLabel('Locality').fill('Hampton');
  await addresses.getByLabel('Region').fill('VA');
  await addresses.getByLabel('Postal code').fill('23681');
  await addresses.getByLabel('Country').fill('USA');
  await addresses.getByLabel('Type', { exact: true }).selectOption('Work');

  await form.getByLabel('Birthday').fill('1918-08-26');
  await form.getByLabel('Note').fill('Orbital mechanics');
  await form.getByRole('button', { name: 'Add card' }).click();
  await page.getByText('Added Katherine Johnson.').waitFor();
  assert.equal(await rows().count(), 4);

  let stored = byName(listCards(host.root, 'alice'), 'Johnson');
  assert.ok(stored, 'the new card is listed by the module');
  assert.deepEqual(stored.tel.map((t) => [t.data, t.type]),
    [['+1 757 555 0111', ['CELL']], ['+1 757 555 0112', ['WORK', 'VOICE']]]);
  assert.equal(stored.company.org, 'NASA');
  assert.equal(stored.adr.length, 1);
  assert.equal(stored.adr[0].data, ';;1 NASA Drive;Hampton;VA;23681;USA');
  assert.deepEqual(stored.adr[0].type, ['WORK']);
  assert.equal(stored.bday, '1918-08-26');
  assert.equal(stored.note, 'Orbital mechanics');

  // Search narrows as one types: by family name, then by the second phone only.
  await page.getByLabel('Search').pressSequentially('johns');
  await page.locator('#book-count').filter({ hasText: '1 of 4' }).waitFor();
  assert.deepEqual(await rows().locator('th').allInnerTexts(), ['Katherine Johnson']);
  await page.getByLabel('Search').fill('555 0112');
  await page.locator('#book-count').filter({ hasText: '1 of 4' }).waitFor();
  await page.getByLabel('Search').fill('nobody-has-this');
  await page.getByText('No card matches the search.').waitFor();
  await page.getByLabel('Search').fill('johnson');
  await page.locator('#book-count').filter({ hasText: '1 of 4' }).waitFor();

  // Edit the second phone only; everything else comes back as it was.
  const before = stored;
  await page.getByRole('button', { name: 'Katherine Johnson', exact: true }).click();
  await phones.getByLabel('Phone', { exact: true }).nth(1).fill('+1 757 555 0199');
  await form.getByRole('button', { name: 'Save card' }).click();
  await page.getByText('Saved Katherine Johnson.').waitFor();
  stored = byName(listCards(host.root, 'alice'), 'Johnson');
  const expected = structuredClone(before);
  expected.tel[1].data = '+1 757 555 0199';
  assert.notEqual(stored.etag, before.etag, 'a changed card has a new version');
  assert.deepEqual({ ...stored, etag: undefined }, { ...expected, etag: undefined });
});

test('a card saved without a change keeps every member, labels and unmapped lines included', async () => {
  await page.getByLabel('Search').fill('');
  await page.locator('#book-count').filter({ hasText: '4 cards' }).waitFor();
  const before = byName(listCards(host.root, 'alice'), 'Lovelace');
  await page.getByRole('button', { name: 'Ada Lovelace', exact: true }).click();
  const form = page.locator('.card-form');
  // The form shows what the record holds, labels and types included.
  assert.equal(await form.locator('.entries-tel').getByLabel('Label').inputValue(), 'Lab');
  assert.equal(await form.locator('.entries-adr').getByLabel('Street').inputValue(), '12 St James\'s Square');
  assert.equal(await form.getByLabel('Birthday').inputValue(), '1815-12-10');
  assert.equal(await form.getByLabel('Name prefix').inputValue(), 'Lady');
  assert.equal(await form.locator('.entries-tel').getByLabel('Other parameters').inputValue(), 'PREF=1');
  await form.getByRole('button', { name: 'Save card' }).click();
  await page.getByText('Saved Ada Lovelace.').waitFor();
  assert.deepEqual(byName(listCards(host.root, 'alice'), 'Lovelace'), before);
});

test('two cards are deleted after a confirmation; a refused delete shows its error', async () => {
  const cards = listCards(host.root, 'alice');
  await rowOf('Grace Hopper').getByRole('checkbox').check();
  await rowOf('Alan Turing').getByRole('checkbox').check();
  // From the keyboard: the dialog opens on Cancel, Escape leaves it, and
  // nothing goes until Delete itself is chosen.
  await page.getByRole('button', { name: 'Delete selected (2)' }).focus();
  await page.keyboard.press('Enter');
  const dialog = page.getByRole('dialog');
  await dialog.getByText('Delete 2 cards').waitFor();
  assert.equal(await page.evaluate(() => document.activeElement.textContent), 'Cancel');
  await page.keyboard.press('Escape');
  await dialog.waitFor({ state: 'hidden' });
  await page.keyboard.press('Enter');
  await dialog.getByText('Delete 2 cards').waitFor();
  await page.keyboard.press('Enter');
  await dialog.waitFor({ state: 'hidden' });
  assert.equal(listCards(host.root, 'alice').length, cards.length);
  await page.getByRole('button', { name: 'Delete selected (2)' }).focus();
  await page.keyboard.press('Enter');
  await page.keyboard.press('Tab');
  await page.keyboard.press('Enter');
  await page.getByText('Deleted 2 cards.').waitFor();
  const left = listCards(host.root, 'alice').map((card) => card.name.family_name).sort();
  assert.deepEqual(left, ['Johnson', 'Lovelace']);
  assert.equal(await rows().count(), 2);

  // A card deleted behind the page's back: the module refuses its version,
  // the page says what became of it.
  const johnson = byName(listCards(host.root, 'alice'), 'Johnson');
  assert.equal(cli(host.root, CONTACTS, 'delete_cards', 'user=alice', `id:=${JSON.stringify([johnson.id])}`).success, true);
  await rowOf('Katherine Johnson').getByRole('checkbox').check();
  await page.getByRole('button', { name: 'Delete selected (1)' }).click();
  await dialog.getByRole('button', { name: 'Delete' }).click();
  await page.getByText('1 card had already been deleted elsewhere: Katherine Johnson.').waitFor();

  // A store that refuses: the page stops and shows the answer.
  await page.route('**/webapi', (route) => ((route.request().postData() || '').includes('"delete_cards"')
    ? route.fulfill({ json: { success: false, error: { code: 1009, detail: 'Fail to delete item(s) from DB' } } })
    : route.fallback()));
  await rowOf('Ada Lovelace').getByRole('checkbox').check();
  await page.getByRole('button', { name: 'Delete selected (1)' }).click();
  await dialog.getByRole('button', { name: 'Delete' }).click();
  await page.getByText('The delete stopped: The address book refused to delete or export a card. '
    + '(error 1009: Fail to delete item(s) from DB)').waitFor();
  await page.unroute('**/webapi');
  await rowOf('Ada Lovelace').getByRole('checkbox').uncheck();
});

test('a .vcf file from disk is imported with the counts before and after; two cards export as one file', async () => {
  const dir = tempDir('files');
  const file = path.join(dir, 'friends.vcf');
  fs.writeFileSync(file, [
    'BEGIN:VCARD', 'VERSION:3.0', 'N:Curie;Marie;;;', 'EMAIL;type=INTERNET:marie@example.fr', 'END:VCARD',
    'BEGIN:VCARD', 'VERSION:3.0', 'N:Noether;Emmy;;;', 'TEL;type=WORK:+49 551 0000', 'END:VCARD',
    'BEGIN:VCARD', 'VERSION:3.0', 'N:Franklin;Rosalind;;;', 'ORG:King\'s College', 'END:VCARD',
  ].join('\n') + '\n');
  const before = listCards(host.root, 'alice').length;
  await page.locator('#import-file').setInputFiles(file);
  await page.getByText(`holds ${before + 3} cards now`).waitFor();
  await page.getByText(`The book held ${before} ${before === 1 ? 'card' : 'cards'} before`).waitFor();
  for (const name of ['Marie Curie', 'Emmy Noether', 'Rosalind Franklin']) {
    await page.getByRole('button', { name, exact: true }).waitFor();
  }
  assert.equal(listCards(host.root, 'alice').length, before + 3);

  // A longer file: the page shows the progress while the server stores it.
  const many = path.join(dir, 'many.vcf');
  const cards = [];
  for (let i = 0; i < 200; i += 1) cards.push(`BEGIN:VCARD\r\nN:Filler${i};Test;;;\r\nEND:VCARD\r\n`);
  fs.writeFileSync(many, cards.join(''));
  await page.evaluate(() => {
    window.progressSeen = [];
    const label = document.getElementById('import-label');
    new MutationObserver(() => {
      const bar = document.getElementById('import-bar');
      window.progressSeen.push(`${label.textContent}|${bar.max}`);
    }).observe(label, { childList: true, characterData: true, subtree: true });
  });
  await page.locator('#import-file').setInputFiles(many);
  await page.getByText(`holds ${before + 203} cards now`).waitFor();
  const seen = await page.evaluate(() => window.progressSeen);
  assert.ok(seen.includes('Importing many.vcf: the server is storing 200 cards…|200'), seen.join('\n'));
  assert.equal(await page.locator('#import-progress').isVisible(), false);

  // A file over the host's body limit is read by the page, which sends it in
  // parts of whole cards; one without a card is named for what it is.
  const huge = path.join(dir, 'huge.vcf');
  fs.writeFileSync(huge, Buffer.alloc(17 * 1024 * 1024, 0x41));
  await page.locator('#import-file').setInputFiles(huge);
  await page.getByText('huge.vcf is not a vCard file: no card in it begins with BEGIN:VCARD').waitFor();
  assert.equal(listCards(host.root, 'alice').length, before + 203);

  // Export two of them.
  await rowOf('Marie Curie').getByRole('checkbox').check();
  await rowOf('Emmy Noether').getByRole('checkbox').check();
  const [download] = await Promise.all([
    page.waitForEvent('download'),
    page.getByRole('button', { name: 'Export selected (2)' }).click(),
  ]);
  assert.equal(download.suggestedFilename(), 'contacts.vcf');
  const text = fs.readFileSync(await download.path(), 'utf8');
  assert.equal(text.match(/^BEGIN:VCARD\r$/gm).length, 2);
  assert.match(text, /^N:Curie;Marie;/m);
  assert.match(text, /^N:Noether;Emmy;/m);
  assert.doesNotMatch(text, /Franklin/);
  const ids = listCards(host.root, 'alice')
    .filter((card) => ['Curie', 'Noether'].includes(card.name.family_name)).map((card) => card.id);
  for (const id of ids) assert.match(text, new RegExp(`^UID:${id}\\r$`, 'm'));
  fs.rmSync(dir, { recursive: true, force: true });
  assert.deepEqual(page.errors, []);
  assert.equal(browser.outside.length, 0, `outside requests: ${browser.outside}`);
});

test('on a narrow window the list and the form fit without sideways scrolling', async () => {
  await page.setViewportSize({ width: 360, height: 740 });
  await page.getByLabel('Search').fill('');
  await page.getByRole('button', { name: 'Marie Curie', exact: true }).click();
  await page.locator('.card-form').waitFor();
  const overflow = await page.evaluate(() => document.scrollingElement.scrollWidth - window.innerWidth);
  assert.ok(overflow <= 0, `the page is ${overflow}px wider than the window`);
  await page.keyboard.press('Escape');
  await page.locator('.card-form').waitFor({ state: 'detached' });
  await page.setViewportSize({ width: 1280, height: 900 });
});
