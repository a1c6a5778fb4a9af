#!/usr/bin/env node
// The administration page with big address books, in Debian's headless
// Chromium (playwright-core from tests/ui, `npm ci` there first; no browser is
// downloaded). For each book size it prints the figures the page is held to:
// list shown after the answer, each search key, the list settled after the
// last key and after clearing the search, scrolling frames, DOM elements,
// opening and saving a card, select all, and an export of every card; and
// the module's list_cards with and without a search key, and the host's
// export of every card as one download (time, its size, and how much the
// host's peak memory grew for it). Also the time to
// the first rows after loading the page and to the last row after a jump to
// the end, and the page's JavaScript heap (after a garbage collection) once
// open, after scrolling to the end and after a search, so that books of
// 10,000 and 100,000 cards can be compared in one run.
//
//   node scripts/page-bench.mjs [--cards 2000,10000] [--ui DIR] [--label NAME] [--module-only]
//                               [--export-up-to N] [--order given|family|stored] [--trace]
//
// Books of over 20,000 cards are written straight into the store folder, a
// file a card (an import of 100,000 cards takes most of a minute).
//
// --ui serves another version of the page (for a before/after comparison,
// e.g. `git archive OLD ui | tar -x -C /tmp/old` and --ui /tmp/old/ui).
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {
  startHost, startBrowser, openSignedIn, openBook, cli, hostBinDir, CONTACTS,
} from '../tests/ui/harness.mjs';

const args = process.argv.slice(2);
const option = (name, fallback) => {
  const at = args.indexOf(name);
  return at >= 0 && args[at + 1] ? args[at + 1] : fallback;
};
if (args.includes('--help')) {
  console.log('Usage: node scripts/page-bench.mjs [--cards 2000,10000] [--ui DIR] [--label NAME] [--module-only] [--export-up-to N] [--order given|family|stored] [--trace]');
  process.exit(0);
}
const sizes = option('--cards', '2000,10000').split(',').map(Number);
const ui = option('--ui', null);
const label = option('--label', ui ? path.basename(path.dirname(ui)) : 'this page');
// Only the module's figures (no browser).
const moduleOnly = args.includes('--module-only');
// Select all and an export of every card in the page only for books up to
// this size (the host's export of every card is measured at every size).
const exportUpTo = Number(option('--export-up-to', 'Infinity'));
// The order the page is opened with (the browser remembers the last one).
const order = option('--order', null);
const STORE = 'var/packages/Tessaro/var/collections/collection-root';

const GIVEN = ['Ada', 'Zoë', 'Hélène', 'Björn', 'Ólafur', 'Grace', 'Ming', 'Søren', 'Łucja', 'Åsa',
  'Katherine', 'José', 'Noémie', 'Jürgen', 'Aiko', 'Priya', 'Émile', 'Chloé', 'Otto', 'Ines'];
const FAMILY = ['Sato', 'Müller', 'Ørsted', 'García', 'Lovelace', 'Hopper', 'Nakamura', 'Dubois',
  'Kowalski', 'Øster', 'Johnson', 'Núñez', 'Schäfer', 'Lindqvist', 'Rossi', 'Okafor', 'Yılmaz',
  'Novák', 'Ivanova', 'Brontë'];
const ORGS = ['Acme\\, Inc.', 'Ørsted Consult;Sales', 'Analytical Engines Ltd', 'Navy', 'Université de Genève',
  'Müller & Söhne GmbH;Einkauf', 'Example Corp', ''];
const PHOTO = 'iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==';

function book(count) {
  return `${bookCards(count).join('\r\n')}\r\n`;
}

function bookCards(count) {
  const cards = [];
  for (let i = 0; i < count; i += 1) {
    const given = GIVEN[i % GIVEN.length];
    const family = `${FAMILY[Math.floor(i / GIVEN.length) % FAMILY.length]}${i >= 400 ? Math.floor(i / 400) : ''}`;
    const lines = ['BEGIN:VCARD', 'VERSION:3.0', `N:${family};${given};;${i % 9 === 0 ? 'Dr.' : ''};`,
      `FN:${given} ${family}`, `ORG:${ORGS[i % ORGS.length]}`, `TITLE:Role ${i % 37}`,
      `TEL;type=CELL:+1 555 ${String(1000 + (i % 9000)).padStart(4, '0')} ${i}`,
      `EMAIL;type=INTERNET:person${i}@example.org`];
    if (i % 3 === 0) lines.push(`TEL;type=WORK:+44 20 7946 ${String(i).padStart(4, '0')}`);
    if (i % 4 === 0) lines.push('ADR;type=HOME:;;12 Example Road;Springfield;;12345;Freedonia');
    if (i % 5 === 0) lines.push(`NOTE:Met at the conference\\, ${i % 12 + 1}/2024`);
    if (i % 7 === 0) lines.push(`BDAY:19${String(50 + (i % 50)).padStart(2, '0')}-0${1 + (i % 9)}-1${i % 10}`);
    if (i % 20 === 0) lines.push(`PHOTO;ENCODING=b;TYPE=PNG:${PHOTO}`);
    lines.push('END:VCARD');
    cards.push(lines.join('\r\n'));
  }
  return cards;
}

function seed(root, count) {
  cli(root, CONTACTS, 'list_cards', 'user=bench');
  if (count > 20000) {
    const folder = path.join(root, STORE, 'bench', 'contacts');
    bookCards(count).forEach((card, i) => {
      const uid = `bench-${String(i).padStart(6, '0')}`;
      fs.writeFileSync(path.join(folder, `${uid}.vcf`),
        `${card.replace('\r\nEND:VCARD', `\r\nUID:${uid}\r\nEND:VCARD`)}\r\n`);
    });
    return;
  }
  const file = path.join(root, 'bench.vcf');
  fs.writeFileSync(file, book(count));
  const answer = cli(root, CONTACTS, 'import_cards', 'user=bench', `file_tmp=${file}`, 'file=bench.vcf');
  if (!answer.success) throw new Error(`import failed: ${JSON.stringify(answer)}`);
  fs.rmSync(file);
}

// The host process serving root (started by this script).
function hostPid(root) {
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const cmdline = fs.readFileSync(`/proc/${entry}/cmdline`, 'utf8').split('\0');
      if (cmdline.includes('serve') && cmdline.includes(root)) return Number(entry);
    } catch { /* gone */ }
  }
  return null;
}

function statusKb(pid, field) {
  const match = new RegExp(`^${field}:\\s+(\\d+) kB`, 'm').exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'));
  return match ? Number(match[1]) : NaN;
}

// POST /webapi/export of the whole book: wall time, bytes, and the growth of
// the host's peak resident memory over the request (reset just before).
async function hostExport(host) {
  const pid = hostPid(host.root);
  try {
    fs.writeFileSync(`/proc/${pid}/clear_refs`, '5');
  } catch { /* the peak then covers the host's whole life */ }
  const before = statusKb(pid, 'VmRSS');
  const started = Date.now();
  const response = await fetch(`${host.url}webapi/export`, {
    method: 'POST',
    headers: { Authorization: `Bearer ${host.token}`, 'Content-Type': 'application/json' },
    body: JSON.stringify({ user: 'bench', all: true }),
  });
  let bytes = 0;
  for await (const chunk of response.body) bytes += chunk.length;
  const took = Date.now() - started;
  const peak = statusKb(pid, 'VmHWM');
  return `${ms(took)}, ${(bytes / 1048576).toFixed(1)} MiB, host peak memory +${((peak - before) / 1024).toFixed(1)} MiB`
    + ` (HTTP ${response.status})`;
}

// list_cards through the host's command line, best of three, in ms.
function moduleListing(root, key) {
  const host = path.join(hostBinDir(), 'orva-webapi');
  const params = ['user=bench', ...(key ? [`search_key=${key}`] : [])];
  let best = Infinity;
  for (let i = 0; i < 3; i += 1) {
    const start = process.hrtime.bigint();
    execFileSync(host, ['--root', root, 'call', CONTACTS, 'list_cards', ...params],
      { env: { ...process.env, ORVA_SERVER_PROCESSES: 'off' }, maxBuffer: 1 << 30, stdio: ['ignore', 'ignore', 'inherit'] });
    best = Math.min(best, Number(process.hrtime.bigint() - start) / 1e6);
  }
  return best;
}

// In the page before any script: frame times, long tasks, the last change of
// the list, key latencies and the moment the list first shows a count.
const PROBE = () => {
  const probe = { frames: [], longTasks: [], keys: [], lastChange: 0, shownAt: 0, recording: false };
  window.__probe = probe;
  let last = 0;
  const frame = (t) => {
    if (probe.recording && last) probe.frames.push(t - last);
    last = t;
    requestAnimationFrame(frame);
  };
  requestAnimationFrame(frame);
  try {
    new PerformanceObserver((list) => {
      for (const entry of list.getEntries()) probe.longTasks.push(entry.duration);
    }).observe({ type: 'longtask', buffered: true });
  } catch { /* no long-task timing */ }
  const watch = () => {
    const count = document.getElementById('book-count');
    const list = document.querySelector('#card-list tbody');
    if (!count || !list) return;
    new MutationObserver(() => {
      probe.lastChange = performance.now();
      if (!probe.shownAt && /\d+ cards?$/.test(count.textContent)) {
        requestAnimationFrame(() => setTimeout(() => { probe.shownAt = performance.now(); }));
      }
    }).observe(count, { childList: true, characterData: true, subtree: true });
    new MutationObserver(() => { probe.lastChange = performance.now(); })
      .observe(list, { childList: true, subtree: true, attributes: true });
  };
  document.addEventListener('DOMContentLoaded', watch);
  document.addEventListener('keydown', (event) => {
    if (!probe.recordKeys) return;
    const started = event.timeStamp;
    probe.lastKeyAt = started;
    requestAnimationFrame(() => setTimeout(() => probe.keys.push(performance.now() - started)));
  }, true);
};

const percentile = (values, p) => {
  if (!values.length) return NaN;
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.min(sorted.length - 1, Math.ceil((p / 100) * sorted.length) - 1)];
};
const ms = (value) => (Number.isFinite(value) ? `${Math.round(value)} ms` : 'n/a');

async function quiet(page, idleMs = 800, limitMs = 60000) {
  const start = Date.now();
  for (;;) {
    const since = await page.evaluate(() => performance.now() - window.__probe.lastChange);
    if (since > idleMs || Date.now() - start > limitMs) return;
    await page.waitForTimeout(100);
  }
}

async function measure(count) {
  const host = await startHost(ui ? { ui } : {});
  const browser = await startBrowser();
  const figures = {};
  try {
    seed(host.root, count);
    figures['module list_cards, no key'] = ms(moduleListing(host.root, ''));
    figures['module list_cards, key "ada sato"'] = ms(moduleListing(host.root, 'ada sato'));
    figures['module list_cards, key "a"'] = ms(moduleListing(host.root, 'a'));
    figures['module list_cards, key "+1 555-1234"'] = ms(moduleListing(host.root, '+1 555-1234'));
    figures['module list_cards, key "müller"'] = ms(moduleListing(host.root, 'müller'));
    figures['host export of every card, one download'] = await hostExport(host);
    if (moduleOnly) return figures;

    const page = await openSignedIn(browser.context, host);
    await page.addInitScript(PROBE);
    if (order) await page.evaluate((value) => window.localStorage.setItem('orva.sort', value), order);
    if (args.includes('--trace')) {
      // Each request of the page, with its time, to see where waits come from.
      const t0 = Date.now();
      page.on('requestfinished', async (request) => {
        const timing = request.timing();
        console.log(`  [${Date.now() - t0} ms] ${request.postData()?.slice(0, 160) || request.url()} ${Math.round(timing.responseEnd)} ms`);
      });
    }
    await openBook(page, 'bench');
    await page.locator('#book-count').filter({ hasText: `${count} cards` }).waitFor({ timeout: 120000 });

    // List shown after reload: from the end of the list's answer to the
    // first frame with the list.
    await page.reload();
    await page.waitForFunction(() => window.__probe && window.__probe.shownAt > 0, null, { timeout: 120000 });
    figures['list shown after the answer'] = ms(await page.evaluate(() => {
      const answers = performance.getEntriesByType('resource').filter((e) => e.name.endsWith('/webapi'));
      const list = answers.reduce((a, b) => (b.encodedBodySize > a.encodedBodySize ? b : a));
      return window.__probe.shownAt - list.responseEnd;
    }));
    figures['first rows after loading the page'] = ms(await page.evaluate(() => window.__probe.shownAt));
    figures['DOM elements with the list'] = await page.evaluate(() => document.getElementsByTagName('*').length);
    await quiet(page);
    const cdp = await page.context().newCDPSession(page);
    const heap = async () => {
      await cdp.send('HeapProfiler.collectGarbage');
      const { usedSize } = await cdp.send('Runtime.getHeapUsage');
      return `${(usedSize / 1e6).toFixed(1)} MB`;
    };
    figures['JS heap, book open'] = await heap();

    // A jump to the end: from the scroll to the last card's row drawn.
    figures['jump to the end: last row shown'] = ms(await page.evaluate(async (total) => {
      const pane = document.getElementById('list-scroll');
      const start = performance.now();
      pane.scrollTop = pane.scrollHeight;
      const done = () => [...document.querySelectorAll('#card-list tbody tr[aria-rowindex]')]
        .some((row) => row.getAttribute('aria-rowindex') === String(total + 1) && !row.classList.contains('placeholder'));
      while (!done()) {
        if (performance.now() - start > 60000) return NaN;
        await new Promise((resolve) => setTimeout(resolve, 5));
      }
      await new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve)));
      return performance.now() - start;
    }, count));
    // Through the whole book, a screen at a time from the end back to the start.
    await page.evaluate(async () => {
      const pane = document.getElementById('list-scroll');
      const step = Math.max(1, Math.floor(pane.scrollHeight / 60));
      for (let top = pane.scrollHeight; top > 0; top -= step) {
        pane.scrollTop = top;
        await new Promise((resolve) => setTimeout(resolve, 30));
      }
      pane.scrollTop = 0;
    });
    await quiet(page);
    figures['JS heap, after scrolling through'] = await heap();

    // Search as a person types it, then clearing it.
    const search = page.getByLabel('Search');
    await search.click();
    await page.evaluate(() => { window.__probe.recordKeys = true; window.__probe.keys = []; });
    await page.keyboard.type('ada', { delay: 90 });
    await page.locator('#book-count').filter({ hasText: /match/ }).waitFor({ timeout: 60000 });
    await quiet(page, 1500);
    const keys = await page.evaluate(() => window.__probe.keys);
    figures['search keys answered (slowest of 3)'] = ms(Math.max(...keys));
    figures['list settled after the last key'] = ms(await page.evaluate(() => window.__probe.lastChange - window.__probe.lastKeyAt));
    figures['matches for "ada"'] = (await page.locator('#book-count').innerText()).trim();
    figures['JS heap, after the search'] = await heap();
    await page.evaluate(() => { window.__probe.keys = []; });
    await page.keyboard.press('Control+A');
    await page.keyboard.press('Backspace');
    await page.locator('#book-count').filter({ hasText: new RegExp(`^${count} cards$`) }).waitFor({ timeout: 60000 });
    await quiet(page, 1500);
    figures['clear search: key answered'] = ms(Math.max(...await page.evaluate(() => window.__probe.keys)));
    figures['clear search: list settled'] = ms(await page.evaluate(() => window.__probe.lastChange - window.__probe.lastKeyAt));
    await page.evaluate(() => { window.__probe.recordKeys = false; });

    // Scrolling the list with the wheel.
    const box = await page.locator('#card-list tbody').boundingBox();
    await page.mouse.move(box.x + 200, Math.min(box.y + 200, 700));
    await page.evaluate(() => { window.__probe.frames = []; window.__probe.recording = true; });
    for (let i = 0; i < 60; i += 1) {
      await page.mouse.wheel(0, 600);
      await page.waitForTimeout(16);
    }
    await page.waitForTimeout(300);
    const frames = await page.evaluate(() => { window.__probe.recording = false; return window.__probe.frames; });
    figures['scrolling frames p95 / max'] = `${ms(percentile(frames, 95))} / ${ms(Math.max(...frames))}`;
    figures['DOM elements after scrolling'] = await page.evaluate(() => document.getElementsByTagName('*').length);

    // Opening a card.
    figures['opening a card'] = ms(await page.evaluate(async () => {
      const button = document.querySelector('#card-list tbody tr:not(.spacer) th button');
      const start = performance.now();
      button.click();
      await new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve)));
      if (!document.querySelector('.card-form')) return NaN;
      return performance.now() - start;
    }));

    // Saving it with a changed title: the whole save, and the page's part
    // (without the edit_card call).
    await page.locator('.card-form').getByLabel('Title', { exact: true }).fill(`Saved at ${Date.now()}`);
    const save = await page.evaluate(async () => {
      const button = [...document.querySelectorAll('.card-form button')].find((b) => /Save card/.test(b.textContent));
      const start = performance.now();
      button.click();
      const status = document.getElementById('contacts-status');
      while (!/Saved /.test(status.textContent)) await new Promise((resolve) => setTimeout(resolve, 2));
      await new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve)));
      const total = performance.now() - start;
      const call = performance.getEntriesByType('resource')
        .filter((e) => e.name.endsWith('/webapi') && e.startTime >= start)
        .sort((a, b) => a.startTime - b.startTime)[0];
      return { total, call: call ? call.responseEnd - call.startTime : NaN };
    });
    figures['saving: total / the edit_card call'] = `${ms(save.total)} / ${ms(save.call)}`;
    figures['saving: the page without the call'] = ms(save.total - save.call);
    await quiet(page, 1500);

    if (count > exportUpTo) {
      figures['export of every card'] = `not measured (over --export-up-to ${exportUpTo})`;
      return figures;
    }
    // Select all.
    figures['select all'] = ms(await page.evaluate(async () => {
      const box = document.getElementById('select-all');
      const start = performance.now();
      box.click();
      await new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve)));
      return performance.now() - start;
    }));

    // Export every card: progress, and the longest stall of the page.
    await page.evaluate(() => { window.__probe.longTasks = []; });
    const started = Date.now();
    const download = page.waitForEvent('download', { timeout: 300000 });
    await page.getByRole('button', { name: /^Export selected/ }).click();
    let progress = 'none';
    try {
      await page.locator('#batch-progress').waitFor({ state: 'visible', timeout: 3000 });
      progress = `shown after ${Date.now() - started} ms, with Cancel`;
    } catch { /* this page shows none */ }
    await download;
    figures['export of every card'] = `${ms(Date.now() - started)} (progress: ${progress})`;
    figures['longest stall during the export'] = ms(Math.max(0, ...await page.evaluate(() => window.__probe.longTasks)));
    figures['JS heap, after the export'] = await heap();
  } finally {
    await browser.close();
    await host.stop();
  }
  return figures;
}

console.log(`page benchmark: ${label}`);
for (const count of sizes) {
  const figures = await measure(count);
  console.log(`\n${count} cards`);
  for (const [name, value] of Object.entries(figures)) console.log(`  ${name.padEnd(40)} ${value}`);
  console.log(`  ${'load average (1, 5, 15 min) after'.padEnd(40)} ${os.loadavg().map((v) => v.toFixed(1)).join(', ')}`);
}
