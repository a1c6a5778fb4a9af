// The page's vCard text rules in plain node: what a person sees of a value,
// and what the page sends for what a person typed. They mirror the module's
// writer and reader, so a text typed is read back by every client as typed.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
  unescapeText, escapeTyped, escapeNote, splitComponents, joinComponents, orgUnits,
} from '../../ui/js/text-escape.js';
import { splitAddress, joinAddress } from '../../ui/js/address.js';

test('values are shown with every escape undone and stray backslashes kept', () => {
  for (const [value, shown] of [
    ['Acme\\, Inc.', 'Acme, Inc.'],
    ['one\\, two\\; three', 'one, two; three'],
    ['C:\\\\Temp\\\\new', 'C:\\Temp\\new'],
    ['line\\nbreak\\Nagain', 'line\nbreak\nagain'],
    ['a\\b', 'a\\b'],
    ['ends with \\', 'ends with \\'],
    ['\\\\n', '\\n'],
    ['Zoë 😀 "q": x', 'Zoë 😀 "q": x'],
    ['', ''],
  ]) assert.equal(unescapeText(value), shown, value);
  assert.equal(unescapeText(undefined), '');
});

test('typed text is escaped whole: backslashes, commas, semicolons and line breaks', () => {
  for (const [typed, value] of [
    ['Acme, Inc.', 'Acme\\, Inc.'],
    ['Smith; Jones', 'Smith\\; Jones'],
    ['C:\\Temp\\new', 'C:\\\\Temp\\\\new'],
    ['a\\,b', 'a\\\\\\,b'],
    ['one\r\ntwo\rthree\nfour', 'one\\ntwo\\nthree\\nfour'],
    ['Zoë "q": 😀', 'Zoë "q": 😀'],
  ]) assert.equal(escapeTyped(typed), value, typed);
  // A note keeps its line breaks as LF; the module writes them as "\n".
  assert.equal(escapeNote('Call back, maybe; C:\\x\r\nnext\rlast'), 'Call back\\, maybe\\; C:\\\\x\nnext\nlast');
});

test('any typed text comes back from its escaped form, and escaped values split only where typed text cannot', () => {
  const alphabet = ['a', 'Ö', '😀', ' ', ',', ';', '\\', 'n', 'N', '\n', ':', '"'];
  let seed = 7;
  const next = () => {
    seed = (seed * 1103515245 + 12345) % 2147483648;
    return seed;
  };
  for (let round = 0; round < 2000; round += 1) {
    let typed = '';
    const length = next() % 12;
    for (let i = 0; i < length; i += 1) typed += alphabet[next() % alphabet.length];
    assert.equal(unescapeText(escapeTyped(typed)), typed, JSON.stringify(typed));
    assert.equal(splitComponents(escapeTyped(typed)).length, 1, JSON.stringify(typed));
    assert.equal(unescapeText(escapeNote(typed)), typed.replace(/\r\n?/g, '\n'));
  }
});

test('structured values come apart at unescaped semicolons, organisation units included', () => {
  assert.deepEqual(splitComponents('Acme\\; Co;Sales;'), ['Acme\\; Co', 'Sales', '']);
  assert.deepEqual(splitComponents('a\\\\;b'), ['a\\\\', 'b']);
  assert.deepEqual(splitComponents('a;b;c;d', 2), ['a', 'b;c;d']);
  assert.equal(joinComponents(splitComponents('x\\;y;;z')), 'x\\;y;;z');
  assert.deepEqual(orgUnits('Acme\\, Inc.;R&D\\; Labs'), ['Acme, Inc.', 'R&D; Labs']);
  assert.deepEqual(orgUnits(joinComponents(['a;b', 'c,d\\'].map(escapeTyped))), ['a;b', 'c,d\\']);
});

test('the seven address components come apart at unescaped semicolons only', () => {
  assert.deepEqual(splitAddress(';;1 Main St;Springfield;IL;62701;USA'),
    ['', '', '1 Main St', 'Springfield', 'IL', '62701', 'USA']);
  assert.deepEqual(splitAddress('PO 7;;Flat 2\\; back door;Town;;;'),
    ['PO 7', '', 'Flat 2\\; back door', 'Town', '', '', '']);
  // A value with fewer components is padded, never shifted.
  assert.deepEqual(splitAddress('PO 7;;Main St'), ['PO 7', '', 'Main St', '', '', '', '']);
  // Free text (no ';' at all) is the street, as the writer stores it.
  assert.deepEqual(splitAddress('1 Main St, Springfield'), ['', '', '1 Main St, Springfield', '', '', '', '']);
  assert.deepEqual(splitAddress(''), ['', '', '', '', '', '', '']);
  // A trailing lone backslash is kept, not taken as an escape of nothing.
  assert.deepEqual(splitAddress(';;ends with \\'), ['', '', 'ends with \\', '', '', '', '']);
  // Text past the seventh component stays in the country: a round trip loses nothing.
  for (const value of [';;a;b;c;d;e;f;g', 'x\\;y;\\\\;;;;;', ';;street;city;;;country']) {
    assert.equal(joinAddress(splitAddress(value)), value);
  }
  const typed = 'Rue de l\'Église 3; 2nd floor, left\\right\nback';
  const parts = ['', '', escapeTyped(typed), 'Paris', '', '75001', 'France'];
  assert.deepEqual(splitAddress(joinAddress(parts)), parts);
  assert.equal(unescapeText(splitAddress(joinAddress(parts))[2]), typed);
});
