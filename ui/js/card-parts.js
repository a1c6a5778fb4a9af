// What the card form reads beyond the record's plain fields: the lines the
// module keeps in "other" (photo, nickname, groups, anything else), birthdays
// in the spellings cards use, the usual types of each entry, and what an
// e-mail or web address looks like.
import { unescapeText, splitComponents } from './text-escape.js';

// The card's own lines of "other", unfolded, as {group, name, params, value}.
export function otherLines(other) {
  if (typeof other !== 'string' || other === '') return [];
  const lines = other.replace(/\r?\n[ \t]/g, '').split(/\r?\n/).filter(Boolean);
  const parsed = [];
  for (const line of lines) {
    const colon = valueStart(line);
    if (colon < 0) continue;
    const head = line.slice(0, colon);
    const [nameWithGroup, ...params] = splitComponents(head);
    const dot = nameWithGroup.lastIndexOf('.');
    parsed.push({
      group: dot >= 0 ? nameWithGroup.slice(0, dot) : '',
      name: (dot >= 0 ? nameWithGroup.slice(dot + 1) : nameWithGroup).toUpperCase(),
      params,
      value: line.slice(colon + 1),
    });
  }
  return parsed;
}

// The colon that ends a line's name and parameters (not one inside quotes).
function valueStart(line) {
  let quoted = false;
  for (let i = 0; i < line.length; i += 1) {
    if (line[i] === '"') quoted = !quoted;
    else if (line[i] === ':' && !quoted) return i;
  }
  return -1;
}

// Lines every card has, and lines the form shows elsewhere.
const NOT_SHOWN = new Set(['BEGIN', 'END', 'VERSION', 'UID', 'PRODID', 'PRODUCTID', 'X-ABLABEL']);
const IMAGE_TYPES = { JPEG: 'image/jpeg', JPG: 'image/jpeg', PNG: 'image/png', GIF: 'image/gif', WEBP: 'image/webp' };

// The photo as an image the page can show from the card's own data: a
// data: URL, or {url} for a photo given by address (never fetched).
export function photoOf(lines) {
  const line = lines.find((l) => l.name === 'PHOTO');
  if (!line) return null;
  const value = line.value.trim();
  if (/^data:image\/[a-z+.-]+;base64,[A-Za-z0-9+/=\s]+$/i.test(value)) return { src: value.replace(/\s/g, '') };
  const params = line.params.map((p) => p.toUpperCase());
  const binary = params.some((p) => p === 'ENCODING=B' || p === 'ENCODING=BASE64' || p === 'BASE64');
  if (binary && /^[A-Za-z0-9+/=\s]+$/.test(value)) {
    const typeParam = params.find((p) => p.startsWith('TYPE='));
    const type = IMAGE_TYPES[typeParam ? typeParam.slice(5).split(',')[0] : 'JPEG'] || 'image/jpeg';
    return { src: `data:${type};base64,${value.replace(/\s/g, '')}` };
  }
  return { url: value };
}

// The read-only facts of the "More" section: [{label, text}].
export function keptFacts(lines) {
  const facts = [];
  for (const line of lines) {
    if (NOT_SHOWN.has(line.name) || line.name === 'PHOTO') continue;
    let label = line.name;
    let text = unescapeText(line.value);
    if (line.name === 'NICKNAME') label = 'Nickname';
    else if (line.name === 'CATEGORIES') {
      label = 'Groups';
      text = splitOnCommas(line.value).map(unescapeText).join(', ');
    } else if (line.name === 'X-ADDRESSBOOKSERVER-KIND') label = 'Kind';
    else if (line.name === 'X-ADDRESSBOOKSERVER-MEMBER') label = 'Group member';
    else if (line.name === 'REV') label = 'Last changed';
    else if (line.name === 'ROLE') label = 'Role';
    else if (line.name === 'GENDER') label = 'Gender';
    else if (line.name === 'ANNIVERSARY') label = 'Anniversary';
    else if (line.name === 'IMPP') label = 'Instant messaging';
    else if (line.name === 'X-SOCIALPROFILE') label = 'Social profile';
    if (text.length > 200) text = `${text.slice(0, 200)}… (${text.length} characters)`;
    facts.push({ label: line.group ? `${label} (${line.group})` : label, text });
  }
  return facts;
}

function splitOnCommas(value) {
  const parts = [];
  let current = '';
  for (let i = 0; i < value.length; i += 1) {
    if (value[i] === '\\' && i + 1 < value.length) {
      current += value[i] + value[i + 1];
      i += 1;
    } else if (value[i] === ',') {
      parts.push(current);
      current = '';
    } else {
      current += value[i];
    }
  }
  parts.push(current);
  return parts;
}

// A card's birthday as {year (or null), month, day}, from the spellings
// cards use: 1984-03-21, 19840321, --03-21, --0321, with a time or not.
export function parseBirthday(raw) {
  if (typeof raw !== 'string') return null;
  const value = raw.trim().split('T')[0];
  let match = /^(\d{4})-?(\d{2})-?(\d{2})$/.exec(value);
  if (match) return checkedDate(Number(match[1]), Number(match[2]), Number(match[3]));
  match = /^--(\d{2})-?(\d{2})$/.exec(value);
  if (match) return checkedDate(null, Number(match[1]), Number(match[2]));
  return null;
}

function checkedDate(year, month, day) {
  if (month < 1 || month > 12 || day < 1) return null;
  const days = new Date(Date.UTC(year === null ? 2000 : year, month, 0)).getUTCDate();
  return day <= days ? { year, month, day } : null;
}

const two = (n) => String(n).padStart(2, '0');

// A birthday as the card stores it: YYYY-MM-DD, or --MM-DD without a year.
export function birthdayValue({ year, month, day }) {
  return year === null ? `--${two(month)}-${two(day)}` : `${String(year).padStart(4, '0')}-${two(month)}-${two(day)}`;
}

// The usual types of each kind of entry, as the menu offers them.
export const TYPE_MENUS = {
  tel: [['Cell', ['CELL']], ['Home', ['HOME']], ['Work', ['WORK']], ['Fax', ['FAX']],
    ['Pager', ['PAGER']], ['Main', ['MAIN']], ['Other', ['OTHER']]],
  mail: [['Internet', ['INTERNET']], ['Home', ['INTERNET', 'HOME']], ['Work', ['INTERNET', 'WORK']],
    ['Other', ['INTERNET', 'OTHER']]],
  adr: [['Home', ['HOME']], ['Work', ['WORK']], ['Other', ['OTHER']]],
  url: [['Home', ['HOME']], ['Work', ['WORK']], ['Other', ['OTHER']]],
};

// The menu entry whose types are the given ones (letter case and PREF
// aside), or -1.
export function menuIndex(kind, types) {
  const wanted = types.map((t) => t.toUpperCase()).filter((t) => t !== 'PREF').sort().join(',');
  return TYPE_MENUS[kind].findIndex(([, menuTypes]) => [...menuTypes].sort().join(',') === wanted);
}

export function looksLikeMail(value) {
  return /^[^\s@]+@[^\s@.]+(\.[^\s@.]+)+$/.test(value.trim());
}

export function looksLikeWebAddress(value) {
  return /^(https?:\/\/)?[^\s/.:]+(\.[^\s/.:]+)+(:\d+)?([/?#]\S*)?$/i.test(value.trim())
    || /^https?:\/\/(localhost|\[[0-9a-f:]+\])(:\d+)?([/?#]\S*)?$/i.test(value.trim());
}
