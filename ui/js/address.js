// The structured address value as the record carries it: seven components
// separated by ';' (post office box, extended address, street, locality,
// region, postal code, country), with vCard's backslash escapes inside them
// (text-escape.js).
import { splitComponents, joinComponents } from './text-escape.js';

export const ADDRESS_PARTS = [
  { key: 'street', index: 2, label: 'Street' },
  { key: 'locality', index: 3, label: 'Locality' },
  { key: 'region', index: 4, label: 'Region' },
  { key: 'postal_code', index: 5, label: 'Postal code' },
  { key: 'country', index: 6, label: 'Country' },
  { key: 'pobox', index: 0, label: 'Post office box' },
  { key: 'extended', index: 1, label: 'Extended address' },
];

const COMPONENTS = 7;

// Splits at every ';' that no backslash escapes; text past the seventh
// component stays with the country, so nothing of the value is dropped. A
// value without any ';' is free text, which the writer puts in the street.
export function splitAddress(value) {
  const parts = splitComponents(value, COMPONENTS);
  if (parts.length === 1) return ['', '', parts[0], '', '', '', ''];
  while (parts.length < COMPONENTS) parts.push('');
  return parts;
}

export function joinAddress(parts) {
  return joinComponents(parts);
}
