// vCard's text escapes, as the module's writer and reader apply them
// (vcard/text_escape.*): "\\" a backslash, "\," a comma, "\;" a semicolon,
// "\n" or "\N" a line break. Records carry texts as the card spells them; the
// page shows them unescaped and escapes what a person typed before sending.

const ESCAPED = new Set(['\\', ',', ';', 'n', 'N']);

// The text a value stands for: every escape undone; a backslash that starts
// no escape is kept.
export function unescapeText(value) {
  if (typeof value !== 'string') return '';
  if (!value.includes('\\')) return value;
  let out = '';
  for (let i = 0; i < value.length; i += 1) {
    const ch = value[i];
    if (ch === '\\' && i + 1 < value.length && ESCAPED.has(value[i + 1])) {
      const next = value[i + 1];
      out += next === 'n' || next === 'N' ? '\n' : next;
      i += 1;
    } else {
      out += ch;
    }
  }
  return out;
}

// What a person typed, as one value: every backslash doubled, every ',' and
// ';' escaped, each line break (CR LF, CR or LF) as "\n".
export function escapeTyped(text) {
  return text
    .replace(/\\/g, '\\\\')
    .replace(/;/g, '\\;')
    .replace(/,/g, '\\,')
    .replace(/\r\n|\r|\n/g, '\\n');
}

// A typed note: escaped as any text, but line breaks stay line breaks (LF),
// as the module carries a note's "\n".
export function escapeNote(text) {
  return text
    .replace(/\\/g, '\\\\')
    .replace(/;/g, '\\;')
    .replace(/,/g, '\\,')
    .replace(/\r\n|\r/g, '\n');
}

// A structured value's components, split at every ';' that no backslash
// escapes; each stays escaped. With a limit, text past the last component
// stays in it, separators included, so that joining gives the value back.
export function splitComponents(value, limit = Infinity) {
  const parts = [];
  let start = 0;
  for (let i = 0; i < value.length; i += 1) {
    if (value[i] === '\\') {
      i += 1;
    } else if (value[i] === ';' && parts.length < limit - 1) {
      parts.push(value.slice(start, i));
      start = i + 1;
    }
  }
  parts.push(value.slice(start));
  return parts;
}

export function joinComponents(parts) {
  return parts.join(';');
}

// An organisation as units a person reads: name, then department(s).
export function orgUnits(org) {
  return splitComponents(typeof org === 'string' ? org : '').map(unescapeText);
}
