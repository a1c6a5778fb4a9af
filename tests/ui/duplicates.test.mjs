// Which cards the page offers to merge, and what a merge keeps, in plain node.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
  sameReason, findDuplicateGroups, mergeRecords, phoneKey, nameKey, logicalLines,
} from '../../ui/js/duplicates.js';

const person = (given, family, extra = {}) => ({
  name: { family_name: family, given_name: given, additional_name: '', formatted_name: `${given} ${family}`.trim() },
  company: { org: '', title: '' },
  tel: [],
  mail: [],
  note: '',
  other: 'BEGIN:VCARD\r\nVERSION:3.0\r\nUID:x\r\n',
  ...extra,
});
const tel = (...numbers) => numbers.map((data) => ({ data, type: ['CELL'] }));
const mail = (...addresses) => addresses.map((data) => ({ data, type: ['INTERNET'] }));

test('pairs that are and are not the same person, with the reason', () => {
  const table = [
    ['e-mail in another letter case', person('Ada', 'Lovelace', { mail: mail('Ada@Example.com') }),
      person('A.', 'King', { mail: mail('ada@example.COM') }), 'same e-mail address (Ada@Example.com)'],
    ['phone with and without +, blanks and dashes', person('Bo', 'Li', { tel: tel('+44 20 7946-0958') }),
      person('Bob', 'Lee', { tel: tel('442079460958') }), 'same phone number (+44 20 7946-0958)'],
    ['phone as a vCard 4.0 URI', person('Cy', 'Ng', { tel: tel('tel:+1-555-0100-22') }),
      person('Cyrus', 'Ng', { tel: tel('1 555 0100 22') }), 'same phone number (tel:+1-555-0100-22)'],
    ['name with accents, case and order', person('Zoë', 'Müller'), person('MULLER', 'zoe'),
      'same name (muller zoe)'],
    ['name only in its parts', person('Jean', 'Dupont', { name: { family_name: 'Dupont', given_name: 'Jean' } }),
      person('Jean', 'Dupont'), 'same name (dupont jean)'],
    ['two reasons at once', person('Ann', 'Lee', { mail: mail('ann@x.org') }),
      person('Ann', 'Lee', { mail: mail('ANN@x.org') }), 'same e-mail address (ann@x.org); same name (ann lee)'],
    ['different people', person('Ann', 'Lee', { mail: mail('ann@x.org'), tel: tel('+1 555 0100') }),
      person('Bob', 'Ray', { mail: mail('bob@x.org'), tel: tel('+1 555 0101') }), null],
    ['one family name is not a full name', person('', 'Smith'), person('', 'Smith'), null],
    ['a shared short extension is no match', person('A', 'One', { tel: tel('12') }),
      person('B', 'Two', { tel: tel('12') }), null],
    ['one switchboard, other extensions', person('Una', 'Ext', { tel: tel('+44 20 7946 0000 ext. 12') }),
      person('Otto', 'Ext', { tel: tel('tel:+44-20-7946-0000;ext=34') }), null],
    ['the same extension, spelled two ways', person('Una', 'Ext', { tel: tel('+44 20 7946 0000 x12') }),
      person('U.', 'Ext', { tel: tel('tel:+44-20-7946-0000;ext=12') }), 'same phone number (+44 20 7946 0000 x12)'],
    ['same given name, other family name', person('Marie', 'Curie'), person('Marie', 'Skłodowska'), null],
    ['a near address is not the same', person('X', 'A', { mail: mail('ann@x.org') }),
      person('Y', 'B', { mail: mail('ann@x.org.uk') }), null],
  ];
  for (const [what, a, b, reason] of table) {
    assert.equal(sameReason(a, b), reason, what);
    const groups = findDuplicateGroups([a, b]);
    assert.equal(groups.length, reason ? 1 : 0, what);
    if (reason) assert.deepEqual(groups[0].reasons.join('; '), reason, what);
  }
});

test('cards linked through a third are one group; others stay out', () => {
  const a = person('Ann', 'Lee', { mail: mail('ann@x.org') });
  const b = person('Annie', 'Lee', { mail: mail('ANN@x.org'), tel: tel('+1 555 0100') });
  const c = person('A', 'L', { tel: tel('15550100') });
  const d = person('Bob', 'Ray');
  const groups = findDuplicateGroups([d, a, b, c]);
  assert.equal(groups.length, 1);
  assert.deepEqual(groups[0].cards, [a, b, c]);
  assert.equal(groups[0].reasons.length, 2);
  assert.equal(phoneKey('+1 (555) 0100'), '15550100');
  assert.equal(nameKey(person('Ørsted', 'Hans Christian')), 'christian hans orsted');
});

test('a merge keeps every property of both cards, none twice', () => {
  const kept = person('Ada', 'Lovelace', {
    company: { org: 'Analytical Engines', title: 'Countess' },
    tel: tel('+44 20 7946 0958'),
    mail: mail('ada@example.com'),
    bday: '1815-12-10',
    note: 'Met in London',
    other: 'BEGIN:VCARD\r\nVERSION:3.0\r\nPRODID:-//x//y\r\nUID:keep\r\nitem1.X-ABLabel:Old\r\n',
  });
  const other = person('Ada', 'Lovelace', {
    company: { org: 'Royal Society', title: 'Countess' },
    tel: [{ data: '442079460958', type: ['HOME'] }, { data: '+44 1 555 0199', type: ['WORK'], key: 'item1.TEL' }],
    mail: mail('ADA@example.com', 'countess@example.org'),
    url: [{ data: 'https://ada.example', type: ['HOME'] }],
    bday: '--12-10',
    note: 'Notes on the engine,\nsecond line',
    other: 'BEGIN:VCARD\r\nVERSION:3.0\r\nUID:gone\r\nREV:2020\r\nNICKNAME:Enchantress\r\n'
      + 'item1.X-ABLabel:Lab\r\nPHOTO;ENCODING=b;TYPE=JPEG:AAAA\r\n BBBB\r\n',
  });
  const [merged, added] = mergeRecords(kept, [other]);
  assert.deepEqual(merged.tel.map((t) => [t.data, t.type]), [
    ['+44 20 7946 0958', ['CELL', 'HOME']], ['+44 1 555 0199', ['WORK']]]);
  assert.equal(merged.tel[1].key, 'item2.TEL', 'a group the kept card uses is renamed');
  assert.deepEqual(merged.mail.map((m) => m.data), ['ada@example.com', 'countess@example.org']);
  assert.deepEqual(merged.url.map((u) => u.data), ['https://ada.example']);
  assert.equal(merged.company.org, 'Analytical Engines');
  assert.equal(merged.bday, '1815-12-10');
  assert.equal(merged.note, 'Met in London');
  assert.deepEqual(logicalLines(merged.other), [
    'BEGIN:VCARD', 'VERSION:3.0', 'PRODID:-//x//y', 'UID:keep', 'item1.X-ABLabel:Old',
    'ORG:Royal Society', 'X-ORVA-ALT-BDAY:--12-10', 'NOTE:Notes on the engine,\\nsecond line',
    'NICKNAME:Enchantress', 'item2.X-ABLabel:Lab', 'PHOTO;ENCODING=b;TYPE=JPEG:AAAA\r\n BBBB']);
  assert.ok(added.some((a) => a.startsWith('second organisation: Royal Society')));
  assert.equal(kept.tel.length, 1, 'the listed record itself is left as it was');
  // A card merged with its own copy stays as it was.
  const [again, more] = mergeRecords(kept, [JSON.parse(JSON.stringify(kept))]);
  assert.deepEqual(again, kept);
  assert.deepEqual(more, []);
});

test('a kept card without a field takes the other card\'s; a different name is kept aside', () => {
  const kept = person('Bo', 'Li');
  const other = person('Bob', 'Li', {
    company: { org: 'Acme\\, Inc.', title: '' }, note: 'x', bday: '1990-01-02',
    field_lines: { org: { group: 'WORK' }, bday: { params: ['VALUE=date'] } },
  });
  const [merged, added] = mergeRecords(kept, [other]);
  assert.equal(merged.company.org, 'Acme\\, Inc.');
  assert.equal(merged.note, 'x');
  assert.equal(merged.bday, '1990-01-02');
  assert.equal(merged.name.given_name, 'Bo');
  assert.ok(logicalLines(merged.other).includes('X-ORVA-ALT-N:Li;Bob;;;'));
  assert.ok(logicalLines(merged.other).includes('X-ORVA-ALT-FN:Bob Li'));
  assert.ok(added.includes('organisation: Acme, Inc.'));
  assert.deepEqual(merged.field_lines, { org: { group: 'WORK' }, bday: { params: ['VALUE=date'] } },
    'a field taken over keeps its group and parameters');
});
