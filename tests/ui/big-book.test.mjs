// The list with a book of 10,000 cards: only the rows in view are drawn,
// the search answers from the module, select all and the order by name
// work on the whole book. (Figures of speed come from scripts/page-bench.mjs.)
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import {
  startHost, startBrowser, openSignedIn, openBook, seedCards, listCards,
} from './harness.mjs';
import { sortText, displayName } from '../../ui/js/record.js';

const CARDS = 10000;
const GIVEN = ['Ada', 'Zoë', 'Hélène', 'Björn', 'Grace'];
const FAMILY = ['Sato', 'Müller', 'Ørsted', 'Dubois', 'Hopper'];

let host;
let browser;
let page;

before(async () => {
  host = await startHost();
  const cards = [];
  for (let i = 0; i < CARDS; i += 1) {
    const given = GIVEN[i % 5];
    const family = `${FAMILY[Math.floor(i / 5) % 5]}${String(i).padStart(5, '0')}`;
    const prefix = i === 7 ? 'Mme' : '';
    cards.push(`BEGIN:VCARD\r\nVERSION:3.0\r\nN:${family};${given};;${prefix};\r\n`
      + `FN:${prefix ? `${prefix} ` : ''}${given} ${family}\r\nTEL;type=CELL:+1 555 ${String(i).padStart(5, '0')}\r\nEND:VCARD\r\n`);
  }
  seedCards(host.root, 'big', cards.join(''));
  browser = await startBrowser();
  page = await openSignedIn(browser.context, host);
  await openBook(page, 'big');
});

after(async () => {
  await browser?.close();
  await host?.stop();
});

const elements = () => page.evaluate(() => document.getElementsByTagName('*').length);
const count = () => page.locator('#book-count');

test('10,000 cards are listed with a few hundred elements, and scrolling draws the rows in view', async () => {
  await count().filter({ hasText: `${CARDS} cards` }).waitFor();
  assert.ok(await elements() < 1500, `${await elements()} elements`);
  assert.equal(await page.locator('#card-list').getAttribute('aria-rowcount'), String(CARDS + 1));
  await page.locator('#list-scroll').evaluate((pane) => { pane.scrollTop = pane.scrollHeight; });
  const inOrder = listCards(host.root, 'big').map((card) => [sortText(card, 'given'), displayName(card)]).sort();
  const lastName = inOrder[inOrder.length - 1][1];
  const last = page.locator('#card-list tbody tr:not(.spacer)').last();
  await last.filter({ hasText: lastName }).waitFor();
  assert.ok(await elements() < 1500);
  // A row drawn with the focus in it survives further scrolling.
  await last.getByRole('checkbox').focus();
  await page.locator('#list-scroll').evaluate((pane) => { pane.scrollTop -= 100; });
  await page.waitForTimeout(100);
  assert.equal(await page.evaluate(() => document.activeElement.getAttribute('aria-label')), `Select ${lastName}`);
});

test('the search finds full names in either order, without accents or case, and phone digits', async () => {
  const search = page.getByLabel('Search');
  for (const [key, shown] of [
    ['zoe orsted00011', '1 of 10000 cards match'],
    ['ØRSTED00011 ZOË', '1 of 10000 cards match'],
    ['helene muller', '400 of 10000 cards match'],
    ['+1555-00042', '1 of 10000 cards match'],
    ['5550004', '10 of 10000 cards match'],
  ]) {
    await search.fill(key);
    await count().filter({ hasText: shown }).waitFor();
  }
  await search.fill('');
  await count().filter({ hasText: new RegExp(`^${CARDS} cards$`) }).waitFor();
});

test('select all takes the whole book; the order by family name leaves prefixes out and is remembered', async () => {
  await page.locator('#select-all').check();
  await page.getByRole('button', { name: `Delete selected (${CARDS})` }).waitFor();
  await page.locator('#select-all').uncheck();
  await page.getByRole('button', { name: 'Delete selected', exact: true }).waitFor();

  await page.getByLabel('Order by').selectOption('family');
  const firstRow = page.locator('#card-list tbody tr:not(.spacer)').first();
  await page.locator('#list-scroll').evaluate((pane) => { pane.scrollTop = 0; });
  await firstRow.filter({ hasText: 'Ada Dubois00015' }).waitFor();
  await page.reload();
  await count().filter({ hasText: `${CARDS} cards` }).waitFor();
  assert.equal(await page.getByLabel('Order by').inputValue(), 'family');
  await firstRow.filter({ hasText: 'Ada Dubois00015' }).waitFor();
  // By given name, "Mme Hélène" sorts under H, not M.
  await page.getByLabel('Order by').selectOption('given');
  await page.getByLabel('Search').fill('Hélène Müller00007');
  await count().filter({ hasText: '1 of 10000 cards match' }).waitFor();
  assert.equal(await firstRow.locator('th').innerText(), 'Mme Hélène Müller00007');
  await page.getByLabel('Search').fill('');
  assert.deepEqual(page.errors, []);
});
