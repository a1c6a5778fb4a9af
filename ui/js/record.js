// The contact record as the module lists it and takes it back.

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

// The first entry's value of an array member ("tel", "mail", ...), or ''.
export function firstData(record, key) {
  const entries = member(record, key);
  if (!Array.isArray(entries)) return '';
  const entry = entries.find((e) => text(member(e, 'data')) !== '');
  return entry ? text(entry.data) : '';
}

export function organisation(record) {
  return text(member(member(record, 'company'), 'org'));
}

// The name to show in the list: the name parts, else the card's own shown
// name (kept for cards without name parts), else its organisation or first
// e-mail.
export function displayName(record) {
  const name = member(record, 'name');
  const parts = ['prefix', 'given_name', 'additional_name', 'family_name', 'suffix']
    .map((key) => text(member(name, key)).trim())
    .filter(Boolean);
  if (parts.length) return parts.join(' ');
  return text(member(name, 'formatted_name')).trim() || organisation(record).trim()
    || firstData(record, 'mail') || '(no name)';
}
