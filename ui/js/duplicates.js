// Cards that are likely the same person, and the merge of such cards with
// nothing lost. Plain functions on listed records (no page, no requests), so
// that node can test them.
import { unescapeText } from './text-escape.js';

function text(value) {
  return typeof value === 'string' ? value : '';
}

function entries(record, key) {
  return record && Array.isArray(record[key]) ? record[key] : [];
}

// Letters that carry their accent in themselves (no combining mark to drop).
const WHOLE_LETTERS = { ø: 'o', æ: 'ae', œ: 'oe', ß: 'ss', đ: 'd', ł: 'l', þ: 'th', ı: 'i', ð: 'd' };

// Text folded for comparing names: accents off, lower case.
function folded(value) {
  return value.normalize('NFD').replace(/\p{M}/gu, '').toLowerCase()
    .replace(/[øæœßđłþıð]/g, (ch) => WHOLE_LETTERS[ch]);
}

// An e-mail address as compared: trimmed, any letter case.
export function mailKey(value) {
  return text(value).trim().toLowerCase();
}

// An extension after a number: ";ext=12" (a tel: address), "ext. 12",
// "x12" or "#12".
const EXTENSION = /(?:;ext=|\s*(?:ext\.?|extension|x|#)\s*)(\d+)\s*$/i;

// A phone number as compared: its digits only (a leading '+' is ignored, as
// are blanks, dashes and brackets; a vCard 4.0 "tel:" scheme too), and its
// extension: one switchboard's extensions are different people. Numbers of
// fewer than 6 digits (extensions, short codes) match nothing.
export function phoneKey(value) {
  let number = text(value).trim().replace(/^tel:/i, '');
  const extension = EXTENSION.exec(number);
  if (extension) number = number.slice(0, extension.index);
  const digits = number.split(';')[0].replace(/\D/g, '');
  if (digits.length < 6) return '';
  return extension ? `${digits}x${extension[1]}` : digits;
}

// A full name as compared: accents and letter case aside, its words in any
// order. From the display name, else the name parts.
export function nameKey(record) {
  const name = record && typeof record.name === 'object' && record.name ? record.name : {};
  let full = unescapeText(text(name.formatted_name));
  if (!full.trim()) {
    full = ['prefix', 'given_name', 'additional_name', 'family_name', 'suffix']
      .map((key) => unescapeText(text(name[key]))).join(' ');
  }
  const words = folded(full).split(/[\s,.;'’"()-]+/u).filter(Boolean);
  // A single word (a first name alone) says too little to pair two cards.
  return words.length >= 2 ? words.sort().join(' ') : '';
}

// The keys a record is matched by: [{kind, key, shown}].
function matchKeys(record) {
  const keys = [];
  for (const entry of entries(record, 'mail')) {
    const key = mailKey(entry && entry.data);
    if (key) keys.push({ kind: 'mail', key, shown: text(entry.data).trim() });
  }
  for (const entry of entries(record, 'tel')) {
    const key = phoneKey(entry && entry.data);
    if (key) keys.push({ kind: 'tel', key, shown: text(entry.data).trim() });
  }
  const name = nameKey(record);
  if (name) keys.push({ kind: 'name', key: name, shown: name });
  return keys;
}

const REASON_TEXT = {
  mail: (shown) => `same e-mail address (${shown})`,
  tel: (shown) => `same phone number (${shown})`,
  name: (shown) => `same name (${shown})`,
};

// Why two records are likely the same person, or null.
export function sameReason(a, b) {
  const theirs = new Map(matchKeys(b).map((k) => [`${k.kind}:${k.key}`, k]));
  const reasons = [];
  for (const k of matchKeys(a)) {
    if (theirs.has(`${k.kind}:${k.key}`)) {
      const text = REASON_TEXT[k.kind](k.shown);
      if (!reasons.includes(text)) reasons.push(text);
    }
  }
  return reasons.length ? reasons.join('; ') : null;
}

// Groups of records that are likely the same person: [{cards, reasons,
// kinds}] (kinds: 'mail', 'tel', 'name', the keys that linked them), each
// group's cards in listing order, groups in the order of their first card.
// Two cards sharing any key are in one group (and so are cards linked
// through a third). Linear in the book's size.
export function findDuplicateGroups(records) {
  const parent = records.map((_, i) => i);
  const find = (i) => {
    while (parent[i] !== i) {
      parent[i] = parent[parent[i]];
      i = parent[i];
    }
    return i;
  };
  const firstWithKey = new Map();
  const links = [];
  records.forEach((record, i) => {
    for (const k of matchKeys(record)) {
      const id = `${k.kind}:${k.key}`;
      const first = firstWithKey.get(id);
      if (first === undefined) {
        firstWithKey.set(id, { i, k });
      } else if (first.i !== i) {
        // The reason names the key as the group's first card spells it.
        links.push({ i, k: first.k });
        const a = find(first.i);
        const b = find(i);
        if (a !== b) parent[Math.max(a, b)] = Math.min(a, b);
      }
    }
  });
  const groups = new Map();
  records.forEach((record, i) => {
    const root = find(i);
    if (!groups.has(root)) groups.set(root, { cards: [], reasons: [], kinds: [] });
    groups.get(root).cards.push(record);
  });
  for (const { i, k } of links) {
    const group = groups.get(find(i));
    const reason = REASON_TEXT[k.kind](k.shown);
    if (!group.reasons.includes(reason)) group.reasons.push(reason);
    if (!group.kinds.includes(k.kind)) group.kinds.push(k.kind);
  }
  return [...groups.values()].filter((g) => g.cards.length > 1);
}

// ---- The merge ----

// The lines of an "other" text, each whole (a folded line with its
// continuations), without their CR LF.
export function logicalLines(other) {
  if (typeof other !== 'string' || other === '') return [];
  const lines = [];
  for (const line of other.split(/\r\n|\n/)) {
    if (line === '') continue;
    if ((line[0] === ' ' || line[0] === '\t') && lines.length) lines[lines.length - 1] += `\r\n${line}`;
    else lines.push(line);
  }
  return lines;
}

function unfolded(line) {
  return line.replace(/\r\n[ \t]/g, '');
}

// A line's group and name ("item1", "X-ABLABEL"), from its text before ':'
// or ';'.
function lineHead(line) {
  const match = /^(?:([A-Za-z0-9-]+)\.)?([A-Za-z0-9-]+)/.exec(line);
  return match ? { group: match[1] || '', name: match[2].toUpperCase() } : { group: '', name: '' };
}

// Lines that belong to the card they are in, not to the person.
const OWN_LINES = new Set(['BEGIN', 'END', 'VERSION', 'UID', 'PRODID', 'PRODUCTID', 'REV']);

function groupOfKey(key) {
  const dot = text(key).indexOf('.');
  return dot > 0 ? key.slice(0, dot) : '';
}

// Groups (item1, ...) a record uses, in its lines and its entries' keys.
function groupsOf(record) {
  const groups = new Set();
  for (const line of logicalLines(record.other)) {
    const { group } = lineHead(line);
    if (group) groups.add(group.toLowerCase());
  }
  for (const key of ['tel', 'mail', 'adr', 'url']) {
    for (const entry of entries(record, key)) {
      const group = groupOfKey(entry && entry.key);
      if (group) groups.add(group.toLowerCase());
    }
  }
  return groups;
}

// Renames a group another card's lines use when the kept card uses it too,
// so that labels stay with their own entries.
// A group whose lines the kept card has word for word (the same label)
// stays as it is.
function groupRenamer(used, same = new Set()) {
  const renamed = new Map([...same].map((g) => [g, g]));
  let n = 1;
  return (group) => {
    if (!group) return group;
    const low = group.toLowerCase();
    if (renamed.has(low)) return renamed.get(low) === low ? group : renamed.get(low);
    let name = group;
    if (used.has(low)) {
      while (used.has(`item${n}`)) n += 1;
      name = `item${n}`;
    }
    used.add(name.toLowerCase());
    renamed.set(low, name);
    return name;
  };
}

function regroupLine(line, rename) {
  const { group } = lineHead(line);
  return group ? `${rename(group)}${line.slice(group.length)}` : line;
}

function entryKey(kind, data) {
  if (kind === 'tel') return phoneKey(data) || text(data).trim();
  if (kind === 'mail') return mailKey(data);
  return text(data).trim().toLowerCase();
}

// A value for a line of "other": a note's line breaks as "\n".
function lineValue(value) {
  return value.replace(/\r\n|\r|\n/g, '\\n');
}

function clone(value) {
  return JSON.parse(JSON.stringify(value));
}

// A field taken over from another card keeps its group and parameters
// ("field_lines": WORK.ORG, BDAY;VALUE=date).
function takeFieldLine(merged, other, key) {
  const theirs = other.field_lines && other.field_lines[key];
  if (!theirs || (merged.field_lines && merged.field_lines[key])) return;
  merged.field_lines = { ...(merged.field_lines || {}), [key]: clone(theirs) };
}

// The kept record with every property of the others added: [record, added],
// added describing each addition for the person to check before saving.
// Equal values are not doubled; a second value of a property a card holds
// once goes where vCard 3.0 has room for it (a second NOTE, ORG or TITLE
// line; X-ORVA-ALT-BDAY, -FN and -N for a birthday or name).
export function mergeRecords(kept, others) {
  const merged = clone(kept);
  const added = [];
  merged.name = merged.name && typeof merged.name === 'object' ? merged.name : {};
  merged.company = merged.company && typeof merged.company === 'object' ? merged.company : {};
  const lines = logicalLines(merged.other);
  const lineSet = new Set(lines.map(unfolded));
  const addLine = (line, what) => {
    if (lineSet.has(unfolded(line))) return;
    lineSet.add(unfolded(line));
    lines.push(line);
    if (what) added.push(what);
  };
  const used = groupsOf(kept);

  for (const other of others) {
    const sameGroups = new Set();
    const otherGroupLines = new Map();
    for (const line of logicalLines(other.other)) {
      const { group } = lineHead(line);
      if (!group) continue;
      const low = group.toLowerCase();
      if (!otherGroupLines.has(low)) otherGroupLines.set(low, []);
      otherGroupLines.get(low).push(unfolded(line));
    }
    for (const [group, groupLines] of otherGroupLines) {
      if (groupLines.every((line) => lineSet.has(line))) sameGroups.add(group);
    }
    const rename = groupRenamer(used, sameGroups);
    const name = other.name && typeof other.name === 'object' ? other.name : {};
    // Name parts: taken where the kept card has none, else kept aside.
    const parts = ['family_name', 'given_name', 'additional_name', 'prefix', 'suffix'];
    const differs = parts.some((p) => text(name[p]) && text(merged.name[p])
      && unescapeText(text(name[p])) !== unescapeText(text(merged.name[p])));
    if (differs) {
      addLine(`X-ORVA-ALT-N:${parts.map((p) => text(name[p])).join(';')}`,
        `other name: ${parts.map((p) => unescapeText(text(name[p]))).filter(Boolean).join(' ')}`);
    } else {
      for (const p of parts) {
        if (!text(merged.name[p]) && text(name[p])) {
          merged.name[p] = name[p];
          added.push(`name part: ${unescapeText(name[p])}`);
        }
      }
    }
    const fn = text(name.formatted_name);
    if (fn && unescapeText(fn) !== unescapeText(text(merged.name.formatted_name))) {
      if (!text(merged.name.formatted_name)) {
        merged.name.formatted_name = fn;
        takeFieldLine(merged, other, 'formatted_name');
        added.push(`display name: ${unescapeText(fn)}`);
      } else {
        addLine(`X-ORVA-ALT-FN:${fn}`, `other display name: ${unescapeText(fn)}`);
      }
    }

    const company = other.company && typeof other.company === 'object' ? other.company : {};
    for (const [key, line, label] of [['org', 'ORG', 'organisation'], ['title', 'TITLE', 'title']]) {
      const value = text(company[key]);
      if (!value || unescapeText(value) === unescapeText(text(merged.company[key]))) continue;
      if (!text(merged.company[key])) {
        merged.company[key] = value;
        takeFieldLine(merged, other, key);
        added.push(`${label}: ${unescapeText(value)}`);
      } else {
        addLine(`${line}:${value}`, `second ${label}: ${unescapeText(value)}`);
      }
    }

    const bday = text(other.bday);
    if (bday && bday !== text(merged.bday)) {
      if (!text(merged.bday)) {
        merged.bday = bday;
        takeFieldLine(merged, other, 'bday');
        added.push(`birthday: ${bday}`);
      } else {
        addLine(`X-ORVA-ALT-BDAY:${bday}`, `other birthday: ${bday}`);
      }
    }

    const note = text(other.note);
    if (note && note !== text(merged.note)) {
      if (!text(merged.note)) {
        merged.note = note;
        takeFieldLine(merged, other, 'note');
        added.push(`note: ${unescapeText(note)}`);
      } else {
        addLine(`NOTE:${lineValue(note)}`, `second note: ${unescapeText(note)}`);
      }
    }

    for (const kind of ['tel', 'mail', 'adr', 'url']) {
      const mine = entries(merged, kind);
      for (const entry of entries(other, kind)) {
        if (!entry || !text(entry.data)) continue;
        const key = entryKey(kind, entry.data);
        const same = mine.find((e) => e && entryKey(kind, e.data) === key);
        if (same) {
          // The same value: its types join the kept entry's.
          const types = Array.isArray(same.type) ? same.type : [];
          const extra = (Array.isArray(entry.type) ? entry.type : [])
            .filter((t) => !types.some((u) => text(u).toLowerCase() === text(t).toLowerCase()));
          if (extra.length) same.type = [...types, ...extra];
          continue;
        }
        const copy = clone(entry);
        const group = groupOfKey(copy.key);
        if (group) copy.key = `${rename(group)}${copy.key.slice(group.length)}`;
        mine.push(copy);
        merged[kind] = mine;
        added.push(`${KIND_LABEL[kind]}: ${kind === 'adr' ? unescapeText(entry.data).replace(/;+/g, ' ').trim() : entry.data}`);
      }
    }

    for (const line of logicalLines(other.other)) {
      const { name: lineName } = lineHead(line);
      if (OWN_LINES.has(lineName)) continue;
      const regrouped = regroupLine(line, rename);
      addLine(regrouped, `kept line: ${unfolded(regrouped).slice(0, 80)}`);
    }
  }
  merged.other = lines.map((line) => `${line}\r\n`).join('');
  return [merged, added];
}

const KIND_LABEL = { tel: 'phone', mail: 'e-mail', adr: 'address', url: 'web address' };

