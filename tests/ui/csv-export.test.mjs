// Cards exported as CSV in Google's or Outlook's columns import back through
// the host as the same cards: a second import stores nothing.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { cardsToCsv } from '../../ui/js/csv-export.js';

const BIN_DIR = process.env.ORVA_BIN_DIR || path.resolve(import.meta.dirname, '../../build/bin');
const DATA = path.resolve(import.meta.dirname, '../data/csv');
const BOOK = 'var/packages/Tessaro/var/collections/collection-root/alice/contacts';

function importFile(root, file) {
  const out = execFileSync(path.join(BIN_DIR, 'orva-webapi'), ['--root', root, 'call',
    'ORVA.ContactAndCalendar.Contacts', 'import_cards', 'user=alice', `file_tmp=${file}`, 'file=x.csv'],
  { env: { ...process.env, ORVA_SERVER_PROCESSES: 'off' } });
  return JSON.parse(out).data;
}

for (const [layout, file, cards] of [['google', 'google_contacts.csv', 4], ['outlook', 'outlook_english.csv', 2]]) {
  test(`a book exported as ${layout} CSV imports back as duplicates only`, () => {
    const root = fs.mkdtempSync(path.join(os.tmpdir(), 'csv-export-'));
    try {
      assert.equal(importFile(root, path.join(DATA, file)).stored, cards);
      const folder = path.join(root, BOOK);
      const text = fs.readdirSync(folder).filter((name) => !name.startsWith('.'))
        .map((name) => fs.readFileSync(path.join(folder, name), 'utf8')).join('');
      const { csv, lost } = cardsToCsv(text, layout);
      assert.deepEqual([...lost], []);
      const exported = path.join(root, 'exported.csv');
      fs.writeFileSync(exported, `\uFEFF${csv}`);
      const again = importFile(root, exported);
      assert.equal(again.stored, 0, JSON.stringify(again));
      assert.equal(again.duplicates, cards, JSON.stringify(again));
    } finally {
      fs.rmSync(root, { recursive: true, force: true });
    }
  });
}
