// The contact record as the module lists it and takes it back. Its texts are
// spelled as on the card, vCard escapes included: shown through unescapeText.
import { unescapeText, orgUnits } from './text-escape.js';

// A record for a new card, shaped as the module's own empty record.
export function emptyRecord() {
  return {
    name: { family_name: '', given_name: '', additional_name: '' },
    company: { org: '', title: '' },
    tel: [],
    mail: [],
    note: '',
  };
}

export function clone(value) {
  return value === undefined ? undefined : JSON.parse(JSON.stringify(value));
}

function text(value) {
  return typeof value === 'string' ? value : '';
}

function member(holder, key) {
  return holder && typeof holder === 'object' && !Array.isArray(holder) ? holder[key] : undefined;
}

// The first entry's value of an array member ("tel", "mail", ...), as a
// person reads it (unescaped), or ''.
export function firstData(record, key) {
  const entries = member(record, key);
  if (!Array.isArray(entries)) return '';
  const entry = entries.find((e) => text(member(e, 'data')) !== '');
  return entry ? unescapeText(text(entry.data)) : '';
}

// The organisation as a person reads it: its units unescaped, the name first.
export function organisation(record) {
  return orgUnits(text(member(member(record, 'company'), 'org'))).filter((unit) => unit.trim()).join(', ');
}

// The name parts joined as a display name follows them.
export function joinedName(given, additional, family) {
  return [given, additional, family].map((part) => part.trim()).filter(Boolean).join(' ');
}

// The name to show, as clients show it: the card's display name, else its
// name parts, else its organisation or first e-mail.
export function displayName(record) {
  const name = member(record, 'name');
  const own = unescapeText(text(member(name, 'formatted_name'))).trim();
  if (own) return own;
  const parts = ['prefix', 'given_name', 'additional_name', 'family_name', 'suffix']
    .map((key) => unescapeText(text(member(name, key))).trim())
    .filter(Boolean);
  if (parts.length) return parts.join(' ');
  return organisation(record).trim() || firstData(record, 'mail') || '(no name)';
}

// A phone value as a number: a vCard 4.0 "tel:" URI without its scheme and
// parameters ("tel:+1-555-0100;ext=12" shows as "+1-555-0100 ext. 12").
export function phoneText(value) {
  const match = /^tel:([^;]*)(.*)$/i.exec(value);
  if (!match) return value;
  const ext = /;ext=([^;]*)/i.exec(match[2]);
  return ext ? `${match[1]} ext. ${ext[1]}` : match[1];
}

// Text folded for ordering: accents off, lower case.
function folded(value) {
  return value.normalize('NFD').replace(/\p{M}/gu, '').toLowerCase();
}

// The text a card is ordered by: given names first or the family name first,
// prefixes ("Dr.", "Mme") left out; a card without name parts by its shown
// name.
export function sortText(record, order) {
  const name = member(record, 'name');
  const part = (key) => unescapeText(text(member(name, key))).trim();
  const given = [part('given_name'), part('additional_name')].filter(Boolean).join(' ');
  const family = part('family_name');
  const parts = order === 'family' ? [family, given] : [given, family];
  const joined = parts.filter(Boolean).join(' ');
  return folded(joined || displayName(record));
}
