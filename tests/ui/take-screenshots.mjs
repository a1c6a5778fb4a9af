// Takes the README's pictures of the pages: node tests/ui/take-screenshots.mjs
// (after `npm ci` in tests/ui and a build). Writes docs/ui-*.png.
import path from 'node:path';
import fs from 'node:fs';
import { startHost, startBrowser, openSignedIn, openBook, seedCards } from './harness.mjs';

const outDir = path.resolve(import.meta.dirname, '../../docs');
const width = Number(process.env.SHOT_WIDTH || 1180);
const height = Number(process.env.SHOT_HEIGHT || 760);
fs.mkdirSync(outDir, { recursive: true });

const SAMPLE = [
  ['Lovelace', 'Ada', 'Analytical Engines Ltd', '+44 20 7946 0001', 'ada@example.org'],
  ['Hopper', 'Grace', 'US Navy', '+1 202 555 0101', 'grace@example.com'],
  ['Johnson', 'Katherine', 'NASA Langley', '+1 757 555 0111', 'katherine@example.gov'],
  ['Noether', 'Emmy', 'University of Göttingen', '+49 551 390 0000', 'emmy@example.de'],
  ['Turing', 'Alan', 'University of Manchester', '+44 161 555 0000', 'alan@example.ac.uk'],
].map(([family, given, org, tel, mail]) => [
  'BEGIN:VCARD', 'VERSION:3.0', `N:${family};${given};;;`, `ORG:${org}`,
  `TEL;type=CELL:${tel}`, `EMAIL;type=INTERNET:${mail}`,
  `ADR;type=WORK:;;1 Example Road;Springfield;;12345;Freedonia`, 'BDAY:1900-01-01', 'END:VCARD',
].join('\r\n')).join('\r\n') + '\r\n';

const host = await startHost();
const browser = await startBrowser();
try {
  seedCards(host.root, 'alice', SAMPLE);
  const signIn = await browser.context.newPage();
  await signIn.setViewportSize({ width, height: 420 });
  await signIn.goto(host.url);
  await signIn.getByLabel('Access token').waitFor();
  await signIn.screenshot({ path: path.join(outDir, 'ui-sign-in.png') });
  await signIn.close();

  const page = await openSignedIn(browser.context, host);
  await page.setViewportSize({ width, height });
  await openBook(page, 'alice');
  await page.getByRole('button', { name: 'Katherine Johnson', exact: true }).click();
  await page.locator('#card-list tbody tr:not(.spacer)').first().getByRole('checkbox').check();
  await page.screenshot({ path: path.join(outDir, 'ui-contacts.png') });

  await page.getByRole('button', { name: 'Server settings' }).click();
  await page.waitForFunction(() => document.getElementById('HTTPPort').value !== '');
  await page.setViewportSize({ width, height: 560 });
  await page.screenshot({ path: path.join(outDir, 'ui-settings.png') });
} finally {
  await browser.close();
  await host.stop();
}
console.log(`screenshots in ${outDir}`);
