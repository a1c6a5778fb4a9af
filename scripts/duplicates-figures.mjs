#!/usr/bin/env node
// Figures of "Find duplicates": the page's detection alone in node for books
// of 10,000 and 100,000 records (one card in ten has a twin by e-mail, phone
// or name), then, in Debian's headless Chromium against the built host, a
// book of --cards cards read in windows and grouped (click to groups shown,
// listing requests), and one merge and its undo.
//
//   node scripts/duplicates-figures.mjs [--cards 10000] [--detect-only]
//
// Needs `npm ci` in tests/ui (playwright-core, no browser downloaded) and a build.
import { performance } from 'node:perf_hooks';
import { findDuplicateGroups } from '../ui/js/duplicates.js';

const args = process.argv.slice(2);
if (args.includes('--help')) {
  console.log('Usage: node scripts/duplicates-figures.mjs [--cards 10000] [--detect-only]');
  process.exit(0);
}
const at = args.indexOf('--cards');
const browserCards = at >= 0 ? Number(args[at + 1]) : 10000;

const pad = (n, w = 6) => String(n).padStart(w, '0');

// Record i; every tenth is a twin of the one before, by turns through its
// e-mail (another letter case), its phone (other spelling) or its name
// (other order, accents).
function record(i) {
  const base = i % 10 === 9 ? i - 1 : i;
  const kind = Math.floor(i / 10) % 3;
  const twin = base !== i;
  const given = `Given${pad(base)}`;
  const family = `Family${pad(base)}`;
  return {
    id: `card-${pad(i)}`,
    name: {
      given_name: twin && kind === 2 ? `${family}é` : given,
      family_name: twin && kind === 2 ? given : family,
      additional_name: '',
      formatted_name: twin && kind === 2 ? `${family.toUpperCase()} ${given}` : `${given} ${family}${twin ? ' Jr' : ''}`,
    },
    company: { org: 'Acme', title: '' },
    tel: [{ data: twin && kind === 1 ? `+1 (555) ${pad(base, 7)}` : twin ? `+2 555 ${pad(i, 7)}` : `1555${pad(base, 7)}`, type: ['CELL'] }],
    mail: [{ data: twin && kind === 0 ? `USER${pad(base)}@EXAMPLE.COM` : `user${pad(i)}@example.com`, type: ['INTERNET'] }],
    note: '',
    other: 'BEGIN:VCARD\r\nVERSION:3.0\r\n',
  };
}

function detectFigures(n) {
  const records = Array.from({ length: n }, (_, i) => record(i));
  const times = [];
  const cpu = [];
  let groups = [];
  for (let run = 0; run < 5; run += 1) {
    const start = performance.now();
    const startCpu = process.cpuUsage();
    groups = findDuplicateGroups(records);
    const used = process.cpuUsage(startCpu);
    times.push(performance.now() - start);
    cpu.push((used.user + used.system) / 1000);
  }
  times.sort((a, b) => a - b);
  cpu.sort((a, b) => a - b);
  // CPU time beside wall time: on a shared machine the wall time says more
  // about the other processes than about this code.
  console.log(`detect ${n} records: ${groups.length} groups (expected ${Math.floor(n / 10)}), `
    + `wall median ${times[2].toFixed(1)} ms, CPU median ${cpu[2].toFixed(1)} ms`);
}

for (const n of [10000, 100000]) detectFigures(n);
if (args.includes('--detect-only')) process.exit(0);

const { startHost, startBrowser, openSignedIn, openBook, seedCards, listCards } = await import('../tests/ui/harness.mjs');
const host = await startHost();
const browser = await startBrowser();
try {
  const cards = [];
  for (let i = 0; i < browserCards; i += 1) {
    const r = record(i);
    cards.push(['BEGIN:VCARD', 'VERSION:3.0', `N:${r.name.family_name};${r.name.given_name};;;`,
      `FN:${r.name.formatted_name}`, `TEL;type=CELL:${r.tel[0].data}`, `EMAIL;type=INTERNET:${r.mail[0].data}`,
      'END:VCARD'].join('\r\n'));
  }
  seedCards(host.root, 'bench', `${cards.join('\r\n')}\r\n`);
  const page = await openSignedIn(browser.context, host);
  await openBook(page, 'bench');
  let listings = 0;
  page.on('request', (request) => {
    if ((request.postData() || '').includes('"list_cards"')) listings += 1;
  });
  const start = performance.now();
  await page.getByRole('button', { name: 'Find duplicates' }).click();
  await page.locator('#duplicates-title').filter({ hasText: /groups? of likely duplicates|No likely/ }).waitFor({ timeout: 120000 });
  const found = performance.now() - start;
  console.log(`page, ${browserCards} cards: "${await page.locator('#duplicates-title').innerText()}" `
    + `in ${found.toFixed(0)} ms after the click, ${listings} listing requests`);

  const group = page.locator('.duplicate-group').first();
  await group.getByRole('button', { name: 'Merge…' }).click();
  const saveStart = performance.now();
  await group.getByRole('button', { name: 'Save merged card' }).click();
  await page.getByText(/^Merged 2 cards into/).waitFor({ timeout: 120000 });
  const merged = performance.now() - saveStart;
  const undoStart = performance.now();
  await page.locator('#contacts-status').getByRole('button', { name: 'Undo' }).click();
  await page.getByText(/^Undone:/).waitFor({ timeout: 120000 });
  const undone = performance.now() - undoStart;
  console.log(`merge (copies, save, delete) until its message: ${merged.toFixed(0)} ms; `
    + `undo (restore) until its message: ${undone.toFixed(0)} ms; book now ${listCards(host.root, 'bench').length} cards`);
} finally {
  await browser.close();
  await host.stop();
}
