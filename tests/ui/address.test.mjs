// The page's reading and writing of the structured address value, in plain
// node: the one place where the page takes a value of the record apart.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
  splitAddress, joinAddress, unescapeComponent, escapeComponent,
} from '../../ui/js/address.js';

test('the seven components come apart at unescaped semicolons only', () => {
  assert.deepEqual(splitAddress(';;1 Main St;Springfield;IL;62701;USA'),
    ['', '', '1 Main St', 'Springfield', 'IL', '62701', 'USA']);
  assert.deepEqual(splitAddress('PO 7;;Flat 2\\; back door;Town;;;'),
    ['PO 7', '', 'Flat 2\\; back door', 'Town', '', '', '']);
  // A value with fewer components is padded, never shifted.
  assert.deepEqual(splitAddress('PO 7;;Main St'), ['PO 7', '', 'Main St', '', '', '', '']);
  // Free text (no ';' at all) is the street, as the writer stores it.
  assert.deepEqual(splitAddress('1 Main St, Springfield'), ['', '', '1 Main St, Springfield', '', '', '', '']);
  assert.deepEqual(splitAddress('a \\; b'), ['', '', 'a \\; b', '', '', '', '']);
  assert.deepEqual(splitAddress(''), ['', '', '', '', '', '', '']);
  // A trailing lone backslash is kept, not taken as an escape of nothing.
  assert.deepEqual(splitAddress(';;ends with \\'), ['', '', 'ends with \\', '', '', '', '']);
});

test('text past the seventh component stays in the country, so a round trip loses nothing', () => {
  for (const value of [
    ';;1 Main St;Springfield;IL;62701;USA',
    ';;a;b;c;d;e;f;g',
    'x\\;y;\\\\;;;;;',
    ';;street;city;;;country continued on a folded line',
  ]) {
    assert.equal(joinAddress(splitAddress(value)), value);
  }
  assert.equal(splitAddress(';;a;b;c;d;e;f;g')[6], 'e;f;g');
});

test('a component is shown unescaped and written back escaped', () => {
  const typed = 'Rue de l\'Église 3; 2nd floor, left\\right\nback';
  const escaped = escapeComponent(typed);
  assert.equal(escaped, 'Rue de l\'Église 3\\; 2nd floor\\, left\\\\right\\nback');
  assert.equal(unescapeComponent(escaped), typed);
  // The escaped text is one component, whatever the person typed.
  const parts = ['', '', escaped, 'Paris', '', '75001', 'France'];
  assert.deepEqual(splitAddress(joinAddress(parts)), parts);
});
