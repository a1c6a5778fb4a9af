// The page's reading of what a card keeps beyond the plain fields, of
// birthdays, types and addresses, and of files that are no vCard file, in
// plain node.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
  otherLines, photoOf, keptFacts, parseBirthday, birthdayValue, menuIndex, looksLikeMail, looksLikeWebAddress,
} from '../../ui/js/card-parts.js';
import { phoneText, sortText, displayName } from '../../ui/js/record.js';
import { notVcardReason } from '../../ui/js/import-file.js';

test('birthdays in the spellings cards use become dates, with or without a year', () => {
  for (const [raw, date] of [
    ['1984-03-21', { year: 1984, month: 3, day: 21 }],
    ['18410908', { year: 1841, month: 9, day: 8 }],
    ['--03-21', { year: null, month: 3, day: 21 }],
    ['--0229', { year: null, month: 2, day: 29 }],
    ['1990-01-02T10:00:00Z', { year: 1990, month: 1, day: 2 }],
    [' 1970-01-01 ', { year: 1970, month: 1, day: 1 }],
  ]) assert.deepEqual(parseBirthday(raw), date, raw);
  for (const raw of ['tomorrow', '07/11/1867', '1984-02-30', '2023-13-01', '', undefined]) {
    assert.equal(parseBirthday(raw), null, String(raw));
  }
  assert.equal(birthdayValue({ year: 1841, month: 9, day: 8 }), '1841-09-08');
  assert.equal(birthdayValue({ year: null, month: 7, day: 4 }), '--07-04');
});

test('the kept lines give the photo from the card\'s own data, never from an address', () => {
  const other = 'BEGIN:VCARD\r\nVERSION:3.0\r\nUID:x\r\nPHOTO;ENCODING=b;TYPE=PNG:iVBORw0K\r\n GgoA\r\n'
    + 'NICKNAME:Addy\r\nCATEGORIES:Friends,Work\\, EMEA\r\nitem1.X-ABLabel:Lab\r\nX-SOCIALPROFILE;type=home:ada\r\n';
  const lines = otherLines(other);
  assert.deepEqual(photoOf(lines), { src: 'data:image/png;base64,iVBORw0KGgoA' });
  assert.deepEqual(keptFacts(lines), [
    { label: 'Nickname', text: 'Addy' },
    { label: 'Groups', text: 'Friends, Work, EMEA' },
    { label: 'Social profile', text: 'ada' },
  ]);
  assert.deepEqual(photoOf(otherLines('PHOTO;VALUE=uri:https://example.org/a.jpg\r\n')),
    { url: 'https://example.org/a.jpg' });
  assert.deepEqual(photoOf(otherLines('PHOTO:data:image/jpeg;base64,/9j/4A==\r\n')), { src: 'data:image/jpeg;base64,/9j/4A==' });
  assert.equal(photoOf(otherLines('NOTE:x\r\n')), null);
  assert.deepEqual(otherLines(''), []);
});

test('types map to the menu whatever their letter case; other types are custom', () => {
  assert.equal(menuIndex('tel', ['cell']), 0);
  assert.equal(menuIndex('tel', ['CELL', 'PREF']), 0);
  assert.equal(menuIndex('mail', ['HOME', 'INTERNET']), 1);
  assert.equal(menuIndex('tel', ['WORK', 'VOICE']), -1);
});

test('e-mail and web addresses that do not look like one are told apart', () => {
  for (const good of ['ada@example.org', 'a.b+c@mail.example.co.uk']) assert.ok(looksLikeMail(good), good);
  for (const bad of ['not-an-email', 'a@b', 'a b@example.org', '@example.org']) assert.ok(!looksLikeMail(bad), bad);
  for (const good of ['https://example.org/ada', 'example.org', 'http://localhost:8080/x', 'www.example.com?q=1']) {
    assert.ok(looksLikeWebAddress(good), good);
  }
  for (const bad of ['example', 'http://', 'two words.org']) assert.ok(!looksLikeWebAddress(bad), bad);
});

test('vCard 4.0 phones show as numbers; cards order by given or family name without prefixes', () => {
  assert.equal(phoneText('tel:+1-555-0100'), '+1-555-0100');
  assert.equal(phoneText('TEL:+1-555-0100;ext=12'), '+1-555-0100 ext. 12');
  assert.equal(phoneText('+44 20 7946 0001'), '+44 20 7946 0001');
  const helene = { name: { prefix: 'Mme', given_name: 'Hélène', family_name: 'Dubois', formatted_name: 'Mme Hélène Dubois' } };
  assert.equal(sortText(helene, 'given'), 'helene dubois');
  assert.equal(sortText(helene, 'family'), 'dubois helene');
  assert.equal(displayName(helene), 'Mme Hélène Dubois');
  assert.equal(sortText({ company: { org: 'Acme\\, Inc.' } }, 'family'), 'acme, inc.');
});

test('a file that is no vCard file is named for what it is', () => {
  assert.equal(notVcardReason(''), 'the file is empty');
  assert.equal(notVcardReason('  \r\n'), 'the file is empty');
  assert.equal(notVcardReason('\u0000\u0001PK\u0003\u0004 binary'), 'it is not a text file');
  assert.equal(notVcardReason('Name,Phone,E-mail\r\nAda,555,ada@example.org\r\n'),
    'it looks like a table (CSV), not a vCard file');
  assert.equal(notVcardReason('hello'), 'no card in it begins with BEGIN:VCARD');
  assert.equal(notVcardReason('\uFEFFbegin:vcard\r\nN:A;B;;;\r\nEND:VCARD\r\n'), null);
});
