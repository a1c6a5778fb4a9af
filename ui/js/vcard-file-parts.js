// A vCard file cut into parts of whole cards, by its bytes (its text is never
// decoded here: a file in another character set reaches the server as it is).
// The host takes uploads up to 16 MiB; a larger file goes as several.

// Bytes of one part at most, beside the form's own fields.
export const PART_BYTES = 8 * 1024 * 1024;

const BEGIN = 'begin:vcard';
const END = 'end:vcard';

function startsWithMarker(bytes, at, marker) {
  if (at + marker.length > bytes.length) return false;
  for (let i = 0; i < marker.length; i += 1) {
    let c = bytes[at + i];
    if (c >= 0x41 && c <= 0x5a) c += 0x20;
    if (c !== marker.charCodeAt(i)) return false;
  }
  return true;
}

// Where cards begin (offsets of their BEGIN:VCARD lines, any letter case, as
// the server reads them) and how many are whole (ended by END:VCARD before
// the next begins): a line that begins a card that never ends is no card.
export function scanCards(bytes) {
  const starts = [];
  let whole = 0;
  let open = false;
  let lineStart = true;
  for (let at = 0; at < bytes.length; at += 1) {
    const c = bytes[at];
    if (c === 0x0a || c === 0x0d) {
      lineStart = true;
      continue;
    }
    if (!lineStart) continue;
    lineStart = false;
    if (c === 0x42 || c === 0x62) {
      if (startsWithMarker(bytes, at, BEGIN)) {
        starts.push(at);
        open = true;
      }
    } else if ((c === 0x45 || c === 0x65) && open && startsWithMarker(bytes, at, END)) {
      whole += 1;
      open = false;
    }
  }
  return { starts, whole };
}

// [start, end) byte ranges of whole cards, each at most partBytes long
// where its cards allow (a card larger than that is a part of its own).
export function partRanges(size, starts, partBytes = PART_BYTES) {
  if (size <= partBytes || starts.length === 0) return [[0, size]];
  const ranges = [];
  let from = 0;
  let last = 0;
  for (const start of starts) {
    if (start - from > partBytes && last > from) {
      ranges.push([from, last]);
      from = last;
    }
    last = start;
  }
  if (size - from > partBytes && last > from) {
    ranges.push([from, last]);
    from = last;
  }
  ranges.push([from, size]);
  return ranges;
}
