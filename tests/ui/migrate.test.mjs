// Moving in and out on the page: a CSV file of unknown columns goes through
// the mapping step (nothing stored before it), a calendar file is imported
// into a calendar and the calendar exported whole.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { startHost, startBrowser, openSignedIn, openBook, listCards, cli, CONTACTS } from './harness.mjs';

const DATA = path.resolve(import.meta.dirname, '../data');

let host;
let browser;
let page;

before(async () => {
  host = await startHost();
  cli(host.root, CONTACTS, 'list_cards', 'user=alice');
  browser = await startBrowser();
  page = await openSignedIn(browser.context, host);
});

after(async () => {
  await browser?.close();
  await host?.stop();
});

test('a CSV file of unknown columns is stored only after its columns are chosen', async () => {
  await openBook(page, 'alice');
  await page.locator('#import-file').setInputFiles(path.join(DATA, 'csv/mapped_tabs.csv'));
  const dialog = page.locator('#csv-columns');
  await dialog.waitFor();
  assert.equal(listCards(host.root, 'alice').length, 0, 'nothing stored before the choice');
  await dialog.getByLabel('Column 4: Employer').selectOption('company');
  await dialog.getByLabel('Column 5: Remarks').selectOption('note');
  await dialog.locator('#csv-preview').getByText('Quinn "Q" Ltd').waitFor();
  await dialog.getByRole('button', { name: 'Import' }).click();
  await page.getByText('Imported mapped_tabs.csv: 2 cards stored.').waitFor();
  assert.equal(listCards(host.root, 'alice').length, 2);
});

test('an .ics file is imported into a calendar, and the calendar exported whole', async () => {
  await page.getByRole('button', { name: 'Calendars', exact: true }).click();
  await page.locator('#calendar-user').selectOption('alice');
  await page.getByLabel('Calendar name (in its address)').fill('trips');
  await page.getByRole('button', { name: 'Create calendar' }).click();
  const row = page.locator('#collection-list section[data-user="alice"] tr[data-name="trips"]');
  await row.waitFor();
  await row.locator('input[type=file]').setInputFiles(path.join(DATA, 'ics/mixed.ics'));
  const status = page.locator('#calendars-status');
  await status.getByText('Imported into trips: 7 items stored.').waitFor();
  await status.getByText('3 entries were left out').waitFor();
  await row.getByText('7', { exact: true }).waitFor();
  const download = page.waitForEvent('download');
  await row.getByRole('button', { name: 'Export .ics' }).click();
  const file = await (await download).path();
  const text = fs.readFileSync(file, 'utf8');
  assert.equal(text.match(/^BEGIN:VEVENT/gm).length, 7);
  assert.equal(text.match(/^BEGIN:VTODO/gm).length, 2);
  assert.deepEqual(page.errors, []);
});
