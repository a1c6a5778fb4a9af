// The structured address value as the record carries it: seven components
// separated by ';' (post office box, extended address, street, locality,
// region, postal code, country), with vCard's backslash escapes inside them.

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
  const parts = [];
  let current = '';
  for (let i = 0; i < value.length; i += 1) {
    const ch = value[i];
    if (ch === '\\' && i + 1 < value.length) {
      current += ch + value[i + 1];
      i += 1;
    } else if (ch === ';' && parts.length < COMPONENTS - 1) {
      parts.push(current);
      current = '';
    } else {
      current += ch;
    }
  }
  parts.push(current);
  if (parts.length === 1) return ['', '', current, '', '', '', ''];
  while (parts.length < COMPONENTS) parts.push('');
  return parts;
}

export function joinAddress(parts) {
  return parts.join(';');
}

// A component's text for a person: the vCard escapes undone.
export function unescapeComponent(raw) {
  return raw.replace(/\\([\\;,nN])/g, (_, ch) => (ch === 'n' || ch === 'N' ? '\n' : ch));
}

// A person's text as a component: the characters that would end or split it
// escaped.
export function escapeComponent(text) {
  return text
    .replace(/\\/g, '\\\\')
    .replace(/;/g, '\\;')
    .replace(/,/g, '\\,')
    .replace(/\r\n|\r|\n/g, '\\n');
}
