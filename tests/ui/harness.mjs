// Runs the real host on a fresh appliance root and a free port, and Debian's
// Chromium headless against it. Nothing here downloads a browser.
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

// From the test runner's install folder when it names one, else from
// tests/ui/node_modules (`npm ci` there).
const { chromium } = process.env.ORVA_UI_NODE_MODULES
  ? await import(pathToFileURL(path.join(process.env.ORVA_UI_NODE_MODULES, 'playwright-core/index.mjs')))
  : await import('playwright-core');

export const CONTACTS = 'ORVA.ContactAndCalendar.Contacts';
export const COMMON = 'ORVA.ContactAndCalendar.Common';

const BIN_DIR = process.env.ORVA_BIN_DIR || path.resolve(import.meta.dirname, '../../build/bin');
const HOST = path.join(BIN_DIR, 'orva-webapi');
const CHROMIUM = process.env.ORVA_CHROMIUM || '/usr/bin/chromium';
// "set" restarts the package's server; the pages need only its record of the
// restart, not the real processes.
const HOST_ENV = { ...process.env, ORVA_SERVER_PROCESSES: 'off' };

export function tempDir(tag) {
  return fs.mkdtempSync(path.join(os.tmpdir(), `orva-ui-${tag}-`));
}

// One request through the host's command line: the answer's envelope.
export function cli(root, api, method, ...params) {
  let out;
  try {
    out = execFileSync(HOST, ['--root', root, 'call', api, method, ...params], {
      encoding: 'utf8', env: HOST_ENV, maxBuffer: 1 << 30,
    });
  } catch (error) {
    out = error.stdout;
  }
  return JSON.parse(out);
}

export function listCards(root, user) {
  const answer = cli(root, CONTACTS, 'list_cards', `user=${user}`);
  if (!answer.success) throw new Error(`list_cards failed: ${JSON.stringify(answer)}`);
  return answer.data.cards;
}

// Stores the cards of a vCard text in the user's book (made first, since an
// import for an unknown user stores nothing).
export function seedCards(root, user, vcardText) {
  listCards(root, user);
  const file = path.join(root, 'seed.vcf');
  fs.writeFileSync(file, vcardText);
  const answer = cli(root, CONTACTS, 'import_cards', `user=${user}`, `file_tmp=${file}`, 'file=seed.vcf');
  fs.rmSync(file);
  if (!answer.success) throw new Error(`seeding failed: ${JSON.stringify(answer)}`);
}

// Starts `orva-webapi serve` on a free port; resolves to {root, url, token, stop}.
// options.ui serves the page from another folder.
export async function startHost(options = {}) {
  const root = tempDir('root');
  const uiArgs = options.ui ? ['--ui', options.ui] : [];
  const child = spawn(HOST, ['--root', root, 'serve', '--listen', options.listen || '127.0.0.1:0', ...uiArgs], {
    stdio: ['ignore', 'pipe', 'pipe'],
    env: HOST_ENV,
  });
  let output = '';
  const port = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`serve did not start: ${output}`)), 15000);
    const look = (chunk) => {
      output += chunk;
      const match = /http:\/\/127\.0\.0\.1:(\d+)/.exec(output);
      if (match) {
        clearTimeout(timer);
        resolve(Number(match[1]));
      }
    };
    child.stdout.on('data', look);
    child.stderr.on('data', look);
    child.on('exit', (code) => reject(new Error(`serve ended (${code}): ${output}`)));
  });
  const token = fs.readFileSync(path.join(root, 'etc/orva-webapi/token'), 'utf8').trim();
  const url = `http://127.0.0.1:${port}/`;
  return {
    root,
    token,
    url,
    output: () => output,
    async stop() {
      const ended = new Promise((resolve) => child.once('exit', resolve));
      child.kill('SIGTERM');
      await ended;
      fs.rmSync(root, { recursive: true, force: true });
    },
  };
}

// Chromium with a fresh profile; resolves to {context, downloads, close}.
// allowed: the hosts the page may reach (the host under test).
export async function startBrowser(allowed = ['127.0.0.1']) {
  const profile = tempDir('profile');
  const downloads = tempDir('downloads');
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    acceptDownloads: true,
    downloadsPath: downloads,
    viewport: { width: 1280, height: 900 },
    args: [
      '--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
    ],
  });
  // Beside other builds one step (an export of thousands of cards) can take
  // several times Playwright's 30 s default: room, not a figure.
  context.setDefaultTimeout(90000);
  // The page must not reach anything but the host under test.
  const outside = [];
  await context.route((url) => !allowed.some((host) => url.host.startsWith(host)) && url.protocol !== 'blob:'
      && url.protocol !== 'data:', (route) => {
    outside.push(route.request().url());
    return route.abort();
  });
  return {
    context,
    outside,
    async close() {
      await context.close();
      fs.rmSync(profile, { recursive: true, force: true });
      fs.rmSync(downloads, { recursive: true, force: true });
    },
  };
}

// Opens the page with the sign-in link the host prints.
export async function openSignedIn(context, host) {
  const page = await context.newPage();
  const errors = [];
  // Script errors and console errors (a refused style or script under the
  // host's content policy shows there too).
  page.on('pageerror', (error) => errors.push(error.message));
  page.on('console', (message) => {
    if (message.type() === 'error') errors.push(message.text());
  });
  page.errors = errors;
  await page.goto(`${host.url}#token=${host.token}`);
  await page.getByRole('heading', { name: 'Contacts', exact: true }).waitFor();
  return page;
}

// Opens a user's book on the contacts page.
export async function openBook(page, user) {
  // By its id: the history page has a "User" field of its own.
  await page.locator('#user').fill(user);
  await openClicked(page);
  await page.locator('#book-count').filter({ hasText: /card/ }).waitFor();
}

// Clicks "Open address book"; a name with neither sign-in nor book is asked
// about first (a new book would be made), and the test says yes.
export async function openClicked(page) {
  const listed = page.waitForRequest((request) => request.url().endsWith('/webapi')
    && (request.postData() || '').includes('"list_cards"')).then(() => 'listed');
  const asked = page.locator('#confirm[open]').waitFor().then(() => 'asked');
  listed.catch(() => {});
  asked.catch(() => {});
  await page.getByRole('button', { name: 'Open address book' }).click();
  if (await Promise.race([listed, asked]) === 'asked') await page.locator('#confirm-ok').click();
}

export function hostBinDir() {
  return BIN_DIR;
}

// The stored card's file, as the CardDAV server serves it.
export function cardFile(root, user, id) {
  return path.join(root, 'var/packages/Tessaro/var/collections/collection-root', user, 'contacts', id);
}

// Stands in for the module's card versions where the built module lists
// none: each listed card gets the hash of its file as "etag", and edit_card
// and delete_cards refuse a card whose file changed (error 1012) as the
// module does. Where the module lists versions, every request passes as is.
export async function versionsWhereMissing(page, root) {
  const { createHash } = await import('node:crypto');
  const versionOf = (user, id) => {
    try {
      return createHash('sha256').update(fs.readFileSync(cardFile(root, user, id))).digest('hex');
    } catch {
      return null;
    }
  };
  const refuse = (route, detail) => route.fulfill({
    json: { success: false, error: { code: 1012, detail: `Card changed since it was listed: ${detail}` } },
  });
  let faked = false;
  await page.route('**/webapi', async (route) => {
    let body;
    try {
      body = JSON.parse(route.request().postData() || '');
    } catch {
      return route.continue();
    }
    const params = body.params || {};
    if (body.method === 'list_cards') {
      const response = await route.fetch();
      const json = await response.json();
      if (json.success && json.data.cards.some((card) => !('etag' in card))) {
        faked = true;
        for (const card of json.data.cards) card.etag = versionOf(params.user, card.id);
      }
      return route.fulfill({ response, json });
    }
    if (faked && body.method === 'edit_card' && typeof params.card.etag === 'string') {
      const now = versionOf(params.user, params.card.resource_name);
      if (now !== params.card.etag) return refuse(route, now === null ? 'deleted' : now);
    }
    if (faked && body.method === 'delete_cards' && Array.isArray(params.etag)) {
      const changed = params.id.filter((id, i) => versionOf(params.user, id) !== params.etag[i]);
      const rest = params.id.filter((id) => !changed.includes(id));
      if (changed.length === 0) return route.continue();
      if (rest.length) {
        cli(root, CONTACTS, 'delete_cards', `user=${params.user}`, `id:=${JSON.stringify(rest)}`);
      }
      return refuse(route, changed.join(', '));
    }
    return route.continue();
  });
}
