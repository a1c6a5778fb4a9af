// The list read in windows ("As stored"): windows fetched as the list
// scrolls, a search in windows, and select all with export and delete in
// batches that read the book a window at a time. A few thousand cards keep it
// quick; books over 10,000 cards take this path by themselves (figures for
// 100,000 come from scripts/page-bench.mjs).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import {
  startHost, startBrowser, openSignedIn, openBook, seedCards, cli, CONTACTS,
} from './harness.mjs';
import { displayName } from '../../ui/js/record.js';

const CARDS = 2000;
const USER = 'win';

let host;
let browser;
let page;
// The params of every list_cards request of the page.
const listings = [];

// The module's window: what the page must show at those places.
function moduleWindow(offset, limit, key) {
  const params = [`user=${USER}`, `offset:=${offset}`, `limit:=${limit}`];
  if (key) params.push(`search_key=${key}`);
  const answer = cli(host.root, CONTACTS, 'list_cards', ...params);
  assert.ok(answer.success, JSON.stringify(answer));
  return answer.data;
}

before(async () => {
  host = await startHost();
  const cards = [];
  for (let i = 0; i < CARDS; i += 1) {
    const tag = i % 4 === 0 ? 'Quarter' : 'Plain';
    cards.push(`BEGIN:VCARD\r\nVERSION:3.0\r\nN:${tag}${String(i).padStart(4, '0')};Win;;;\r\n`
      + `FN:Win ${tag}${String(i).padStart(4, '0')}\r\nEMAIL:win${i}@example.org\r\nEND:VCARD\r\n`);
  }
  seedCards(host.root, USER, cards.join(''));
  browser = await startBrowser();
  page = await openSignedIn(browser.context, host);
  page.on('request', (request) => {
    if (!request.url().endsWith('/webapi')) return;
    const body = JSON.parse(request.postData() || '{}');
    if (body.method === 'list_cards') listings.push(body.params);
  });
  await openBook(page, USER);
  await page.getByLabel('Order by').selectOption('stored');
});

after(async () => {
  await browser?.close();
  await host?.stop();
});

const count = () => page.locator('#book-count');
const rows = () => page.locator('#card-list tbody tr:not(.spacer):not(.placeholder)');
const pane = () => page.locator('#list-scroll');

test('in the stored order the list is read in windows as it scrolls, never whole', async () => {
  await count().filter({ hasText: new RegExp(`^${CARDS} cards$`) }).waitFor();
  assert.equal(await page.locator('#card-list').getAttribute('aria-rowcount'), String(CARDS + 1));
  const first = moduleWindow(0, 1).cards[0];
  await rows().first().filter({ hasText: displayName(first) }).waitFor();
  listings.length = 0;

  // Straight to the middle: the rows there are the module's, fetched by a
  // window that covers them; the pane's height is that of the whole book.
  const height = await pane().evaluate((node) => node.scrollHeight);
  await pane().evaluate((node) => { node.scrollTop = node.scrollHeight / 2; });
  await page.waitForFunction((below) => {
    const drawn = [...document.querySelectorAll('#card-list tbody tr[aria-rowindex]')];
    return drawn.length > 0 && Number(drawn[0].getAttribute('aria-rowindex')) > below
      && !drawn.some((row) => row.classList.contains('placeholder'));
  }, CARDS / 2 - 100);
  const shown = Number(await rows().nth(5).getAttribute('aria-rowindex')) - 2;
  const expected = moduleWindow(shown, 1).cards[0];
  assert.equal(await rows().nth(5).locator('th').innerText(), displayName(expected));
  assert.ok(listings.length > 0 && listings.every((p) => Number.isInteger(p.limit) && p.limit <= 200),
    JSON.stringify(listings));
  assert.ok(listings.some((p) => p.offset <= shown && shown < p.offset + p.limit));

  // The end: the last card of the module's order is the last row.
  await pane().evaluate((node) => { node.scrollTop = node.scrollHeight; });
  const last = moduleWindow(CARDS - 1, 1).cards[0];
  await rows().last().filter({ hasText: displayName(last) }).waitFor();
  assert.equal(await rows().last().getAttribute('aria-rowindex'), String(CARDS + 1));
  assert.ok(Math.abs(await pane().evaluate((node) => node.scrollHeight) - height) < 50);
  assert.ok(await page.evaluate(() => document.getElementsByTagName('*').length) < 1500);
  assert.ok(listings.every((p) => 'limit' in p), 'no whole listing');
  assert.deepEqual(page.errors, []);
});

test('a search is read in windows too, with its total, and scrolls through its matches', async () => {
  listings.length = 0;
  await page.getByLabel('Search').fill('plain');
  await count().filter({ hasText: `${CARDS * 0.75} of ${CARDS} cards match` }).waitFor();
  const matches = moduleWindow(0, CARDS, 'plain');
  assert.equal(matches.total, CARDS * 0.75);
  await rows().first().filter({ hasText: displayName(matches.cards[0]) }).waitFor();
  await pane().evaluate((node) => { node.scrollTop = node.scrollHeight; });
  await rows().last().filter({ hasText: displayName(matches.cards[matches.cards.length - 1]) }).waitFor();
  // A search reads the whole book in the module: its windows are larger.
  const searched = listings.filter((p) => p.search_key === 'plain');
  assert.deepEqual(searched.map((p) => [p.offset, p.limit]), [[0, 1000], [1000, 1000]]);

  await page.getByLabel('Search').fill('');
  await count().filter({ hasText: new RegExp(`^${CARDS} cards$`) }).waitFor();
});

test('select all exports every card as one download, and a delete of all but one can be cancelled and resumed', async () => {
  await page.locator('#select-all').check();
  await page.getByRole('button', { name: `Export selected (${CARDS})` }).waitFor();
  const exports = [];
  const heard = (request) => {
    if (request.url().endsWith('/webapi/export')) exports.push(JSON.parse(request.postData()));
  };
  page.on('request', heard);
  const download = page.waitForEvent('download');
  await page.getByRole('button', { name: `Export selected (${CARDS})` }).click();
  const file = fs.readFileSync(await (await download).path(), 'utf8');
  page.off('request', heard);
  assert.equal(file.match(/^BEGIN:VCARD/gm).length, CARDS);
  assert.equal(new Set(file.match(/^EMAIL.*$/gm)).size, CARDS);
  // One request: the host reads the book from the store, never the page.
  assert.deepEqual(exports, [{ user: USER, all: true, except: [] }]);
  await count().filter({ hasText: `${CARDS} cards` }).waitFor();

  // One card left out of the selection.
  const keep = rows().first();
  const keptName = await keep.locator('th').innerText();
  await keep.getByRole('checkbox').uncheck();
  await page.getByRole('button', { name: `Delete selected (${CARDS - 1})` }).waitFor();

  // The first delete batch is held back until Cancel has been pressed.
  let release;
  const held = new Promise((resolve) => { release = resolve; });
  let deletes = 0;
  await page.route('**/webapi', async (route) => {
    const body = JSON.parse(route.request().postData() || '{}');
    if (body.method === 'delete_cards') {
      deletes += 1;
      if (deletes === 1) await held;
    }
    return route.continue();
  });
  await page.getByRole('button', { name: `Delete selected (${CARDS - 1})` }).click();
  await page.getByRole('dialog').getByRole('button', { name: 'Delete' }).click();
  await page.locator('#batch-progress').waitFor();
  await page.locator('#batch-cancel').click();
  release();
  await page.locator('#contacts-status').filter({ hasText: 'Cancelled' }).waitFor();
  assert.equal(deletes, 1);
  // The first batch of 500 read held the card left out: 499 went.
  assert.equal(moduleWindow(0, 0).total, CARDS - 499);
  await count().filter({ hasText: new RegExp(`^${CARDS - 499} cards$`) }).waitFor();

  // Again, to the end: only the card left out stays.
  await page.unroute('**/webapi');
  await page.locator('#select-all').check();
  const keepRow = rows().filter({ hasText: keptName });
  await pane().evaluate((node) => { node.scrollTop = 0; });
  await keepRow.getByRole('checkbox').uncheck();
  await page.getByRole('button', { name: `Delete selected (${CARDS - 500})` }).click();
  await page.getByRole('dialog').getByRole('button', { name: 'Delete' }).click();
  await page.locator('#contacts-status').filter({ hasText: `Deleted ${CARDS - 500} cards.` }).waitFor();
  const left = moduleWindow(0, 10);
  assert.equal(left.total, 1);
  assert.equal(displayName(left.cards[0]), keptName);
  await count().filter({ hasText: /^1 card$/ }).waitFor();
  assert.deepEqual(page.errors, []);
});

test('a book of 100,000 cards (a stand-in answers its windows) opens in windows by itself, never whole', async () => {
  const HUGE = 100000;
  const record = (i) => ({
    id: `huge-${String(i).padStart(6, '0')}`, etag: `v${i}`, company: { org: '', title: '' },
    mail: [], tel: [], note: '', other: '',
    name: { given_name: 'Huge', additional_name: '', family_name: `N${i}`, formatted_name: `Huge N${i}` },
  });
  const asked = [];
  const other = await openSignedIn(browser.context, host);
  await other.route('**/webapi', async (route) => {
    const body = JSON.parse(route.request().postData() || '{}');
    if (body.method !== 'list_cards' || body.params.user !== 'huge') return route.continue();
    const { offset, limit, search_key: key } = body.params;
    asked.push({ offset, limit, key });
    if (!Number.isInteger(limit)) return route.fulfill({ status: 500, body: 'whole listing asked for' });
    const total = key ? 0 : HUGE;
    const cards = [];
    for (let i = offset; i < Math.min(total, offset + limit); i += 1) cards.push(record(i));
    return route.fulfill({ json: { success: true, data: { cards, total } } });
  });
  // The person's order is by family name; the page cannot keep it here.
  await other.evaluate(() => window.localStorage.setItem('orva.sort', 'family'));
  await other.reload();
  await other.getByRole('heading', { name: 'Contacts', exact: true }).waitFor();
  await openBook(other, 'huge');
  await other.locator('#book-count').filter({ hasText: /^100000 cards$/ }).waitFor();
  assert.equal(await other.getByLabel('Order by').inputValue(), 'stored');
  assert.ok(await other.locator('#order-note').isVisible());
  assert.ok(await other.locator('#sort-order option[value="family"]').isDisabled());
  await other.locator('#list-scroll').evaluate((node) => { node.scrollTop = node.scrollHeight; });
  const lastRow = other.locator('#card-list tbody tr:not(.spacer):not(.placeholder)').last();
  await lastRow.filter({ hasText: `Huge N${HUGE - 1}` }).waitFor();
  assert.ok(asked.every((p) => Number.isInteger(p.limit) && p.limit <= 200), JSON.stringify(asked));
  assert.ok(asked.length < 10, `${asked.length} windows`);
  // The chosen order is remembered for smaller books.
  assert.equal(await other.evaluate(() => window.localStorage.getItem('orva.sort')), 'family');
  assert.deepEqual(other.errors, []);
  await other.close();
});
