// Exported cards as a CSV file in Google Contacts' or Outlook's columns, so
// that the file imports into those services (and back here). What a CSV file
// has no column for (photos, keys, other properties, entries beyond
// Outlook's fixed columns) is counted and said before the file is saved.
import { el } from './dom.js';
import { ask } from './confirm.js';
import { saveBlob } from './save-file.js';
import { unescapeText, splitComponents } from './text-escape.js';

// One card's properties: [{name, types (upper case), group, value}].
function parseCards(text) {
  const cards = [];
  let card = null;
  const lines = text.replace(/\r\n[ \t]/g, '').split(/\r\n|\n/);
  for (const line of lines) {
    const colon = line.search(/:(?=(?:[^"]*"[^"]*")*[^"]*$)/);
    if (colon < 0) continue;
    const head = line.slice(0, colon);
    const value = line.slice(colon + 1);
    const [qualified, ...params] = head.split(';');
    const dot = qualified.indexOf('.');
    const name = qualified.slice(dot + 1).toUpperCase();
    if (name === 'BEGIN' && value.toUpperCase() === 'VCARD') card = [];
    else if (name === 'END' && card) {
      cards.push(card);
      card = null;
    } else if (card) {
      const types = [];
      for (const param of params) {
        const [key, list] = param.includes('=') ? param.split(/=(.*)/s) : ['TYPE', param];
        if (key.toUpperCase() === 'TYPE') types.push(...list.replace(/"/g, '').toUpperCase().split(','));
      }
      card.push({ name, types, group: dot > 0 ? qualified.slice(0, dot) : '', value });
    }
  }
  return cards;
}

const KEPT = new Set(['FN', 'N', 'NICKNAME', 'ORG', 'TITLE', 'BDAY', 'X-ANNIVERSARY', 'NOTE', 'CATEGORIES',
  'EMAIL', 'TEL', 'ADR', 'URL', 'X-ABLABEL', 'VERSION', 'UID', 'PRODID', 'REV']);

function labelOf(card, entry) {
  const custom = entry.group && card.find((p) => p.name === 'X-ABLABEL' && p.group === entry.group);
  if (custom) return unescapeText(custom.value).replace(/^_\$!<(.*)>!\$_$/, '$1');
  const t = new Set(entry.types);
  let label = t.has('CELL') ? 'Mobile' : t.has('PAGER') ? 'Pager' : '';
  if (t.has('FAX')) label = t.has('HOME') ? 'Home Fax' : t.has('WORK') ? 'Work Fax' : 'Fax';
  if (!label) label = t.has('HOME') ? 'Home' : t.has('WORK') ? 'Work' : 'Other';
  return `${t.has('PREF') ? '* ' : ''}${label}`;
}

function fieldsOf(card) {
  const one = (name) => card.find((p) => p.name === name);
  const text = (name) => (one(name) ? unescapeText(one(name).value) : '');
  const n = one('N') ? splitComponents(one('N').value).map(unescapeText) : [];
  const org = one('ORG') ? splitComponents(one('ORG').value).map(unescapeText) : [];
  const adr = card.filter((p) => p.name === 'ADR').map((p) => {
    const c = splitComponents(p.value).map(unescapeText);
    return { entry: p, box: c[0] || '', extended: c[1] || '', street: c[2] || '', city: c[3] || '',
      region: c[4] || '', code: c[5] || '', country: c[6] || '' };
  });
  const categories = card.filter((p) => p.name === 'CATEGORIES')
    .flatMap((p) => p.value.split(/(?<!\\),/).map(unescapeText)).filter(Boolean);
  return {
    full: text('FN'), family: n[0] || '', given: n[1] || '', middle: n[2] || '', prefix: n[3] || '', suffix: n[4] || '',
    nickname: text('NICKNAME'), company: org[0] || '', department: org.slice(1).join('; '), title: text('TITLE'),
    birthday: text('BDAY'), anniversary: text('X-ANNIVERSARY'), note: text('NOTE'), categories,
    mail: card.filter((p) => p.name === 'EMAIL'), tel: card.filter((p) => p.name === 'TEL'), adr,
    url: card.filter((p) => p.name === 'URL'),
  };
}

// The given name column: the card's own, else its full name when the
// import could not build that from the other columns (no name parts; the
// company, first e-mail or phone stand in for it).
function givenColumn(x) {
  if (x.given || x.family || x.middle) return x.given;
  const derived = x.company || (x.mail[0] && x.mail[0].value) || (x.tel[0] && x.tel[0].value) || '';
  return x.full === derived ? '' : x.full;
}

function csvLine(values) {
  return `${values.map((v) => (/[",\r\n]/.test(v) ? `"${v.replace(/"/g, '""')}"` : v)).join(',')}\r\n`;
}

function googleCsv(cards) {
  const f = cards.map(fieldsOf);
  const most = (key) => Math.max(0, ...f.map((x) => x[key].length));
  const counts = { mail: most('mail'), tel: most('tel'), adr: most('adr'), url: most('url') };
  const header = ['First Name', 'Middle Name', 'Last Name', 'Name Prefix', 'Name Suffix', 'Nickname',
    'Organization Name', 'Organization Title', 'Organization Department', 'Birthday', 'Notes', 'Labels'];
  const kinds = [['mail', 'E-mail'], ['tel', 'Phone'], ['url', 'Website']];
  for (const [key, kind] of kinds) {
    for (let i = 1; i <= counts[key]; i += 1) header.push(`${kind} ${i} - Label`, `${kind} ${i} - Value`);
  }
  const parts = ['Formatted', 'Street', 'City', 'PO Box', 'Region', 'Postal Code', 'Country', 'Extended Address'];
  for (let i = 1; i <= counts.adr; i += 1) header.push(`Address ${i} - Label`, ...parts.map((p) => `Address ${i} - ${p}`));
  let out = csvLine(header);
  cards.forEach((card, c) => {
    const x = f[c];
    const row = [givenColumn(x), x.middle, x.family, x.prefix, x.suffix, x.nickname,
      x.company, x.title, x.department, x.birthday, x.note, ['* myContacts', ...x.categories].join(' ::: ')];
    for (const [key] of kinds) {
      for (let i = 0; i < counts[key]; i += 1) {
        const entry = x[key][i];
        row.push(entry ? labelOf(card, entry) : '', entry ? entry.value : '');
      }
    }
    for (let i = 0; i < counts.adr; i += 1) {
      const a = x.adr[i];
      row.push(...(a ? [labelOf(card, a.entry), '', a.street, a.city, a.box, a.region, a.code, a.country, a.extended]
        : new Array(9).fill('')));
    }
    out += csvLine(row);
  });
  return out;
}

const OUTLOOK_PHONES = [['Business Phone', 'WORK'], ['Business Phone 2', 'WORK'], ['Business Fax', 'WORK FAX'],
  ['Home Phone', 'HOME'], ['Home Phone 2', 'HOME'], ['Home Fax', 'HOME FAX'], ['Mobile Phone', 'CELL'],
  ['Pager', 'PAGER'], ['Other Fax', 'FAX'], ['Other Phone', '']];

function outlookDate(text) {
  const m = /^(\d{4})-?(\d{2})-?(\d{2})/.exec(text);
  return m ? `${Number(m[2])}/${Number(m[3])}/${m[1]}` : text;
}

function outlookCsv(cards, lost) {
  const places = [['Business', 'WORK'], ['Home', 'HOME'], ['Other', '']];
  const header = ['Title', 'First Name', 'Middle Name', 'Last Name', 'Suffix', 'Company', 'Department', 'Job Title'];
  for (const [place] of places) header.push(`${place} Street`, `${place} City`, `${place} State`, `${place} Postal Code`, `${place} Country/Region`);
  header.push(...OUTLOOK_PHONES.map(([name]) => name), 'E-mail Address', 'E-mail 2 Address', 'E-mail 3 Address',
    'Web Page', 'Birthday', 'Anniversary', 'Notes', 'Categories');
  let out = csvLine(header);
  for (const card of cards) {
    const x = fieldsOf(card);
    const row = [x.prefix, givenColumn(x), x.middle, x.family, x.suffix, x.company, x.department, x.title];
    const adrLeft = [...x.adr];
    for (const [, type] of places) {
      const at = adrLeft.findIndex((a) => (type ? a.entry.types.includes(type) : true));
      const a = at >= 0 ? adrLeft.splice(at, 1)[0] : null;
      row.push(...(a ? [[a.box, a.extended, a.street].filter(Boolean).join('\n'), a.city, a.region, a.code, a.country] : ['', '', '', '', '']));
    }
    const telLeft = [...x.tel];
    for (const [, want] of OUTLOOK_PHONES) {
      const need = want.split(' ').filter(Boolean);
      const at = telLeft.findIndex((t) => (need.length ? need.every((w) => t.types.includes(w)) : true)
        && (need.includes('FAX') || !t.types.includes('FAX') || !need.length));
      row.push(at >= 0 ? telLeft.splice(at, 1)[0].value : '');
    }
    row.push(...[0, 1, 2].map((i) => (x.mail[i] ? x.mail[i].value : '')), x.url[0] ? x.url[0].value : '',
      outlookDate(x.birthday), outlookDate(x.anniversary), x.note, x.categories.join(';'));
    const over = adrLeft.length + telLeft.length + Math.max(0, x.mail.length - 3) + Math.max(0, x.url.length - 1);
    if (over) lost.set('entries beyond Outlook\'s columns', (lost.get('entries beyond Outlook\'s columns') || 0) + over);
    out += csvLine(row);
  }
  return out;
}

// The CSV text of a vCard text, and what it leaves out (name -> cards).
export function cardsToCsv(vcardText, layout) {
  const cards = parseCards(vcardText);
  const lost = new Map();
  for (const card of cards) {
    for (const name of new Set(card.filter((p) => !KEPT.has(p.name)).map((p) => p.name))) {
      lost.set(name, (lost.get(name) || 0) + 1);
    }
  }
  const csv = layout === 'outlook' ? outlookCsv(cards, lost) : googleCsv(cards);
  return { csv, cards: cards.length, lost };
}

// The format choice beside the export button.
export function exportFormatChoice() {
  return el('select', { id: 'export-format', 'aria-label': 'Export as' },
    el('option', { value: 'vcard' }, 'vCard (.vcf)'),
    el('option', { value: 'google' }, 'CSV, Google Contacts'),
    el('option', { value: 'outlook' }, 'CSV, Outlook'));
}

// Saves the exported parts (vCard Blobs) in the chosen format; resolves to
// the file name, or null when the person stopped at the warning.
export async function saveExport(parts, format) {
  if (format !== 'google' && format !== 'outlook') {
    saveBlob(new Blob(parts, { type: 'text/vcard' }), 'contacts.vcf');
    return 'contacts.vcf';
  }
  const { csv, lost } = cardsToCsv(await new Blob(parts).text(), format);
  if (lost.size > 0) {
    const sure = await ask({
      title: 'Some of the cards hold what a CSV file cannot',
      body: ['These are left out of the CSV file (a vCard export keeps them):',
        ...[...lost].map(([name, count]) => `${name === 'PHOTO' ? 'photos' : name}: ${count} ${count === 1 ? 'card' : 'cards'}`)],
      ok: 'Export as CSV',
    });
    if (!sure) return null;
  }
  // A byte-order mark, so that spreadsheet programs read the file as UTF-8.
  saveBlob(new Blob(['\uFEFF', csv], { type: 'text/csv' }), 'contacts.csv');
  return 'contacts.csv';
}
