// A card's picture in the list: its own photo (from the card's data, never
// fetched from an address) or its initials. Made only for the rows drawn,
// and the image decoded lazily, so that photos never slow the list.
import { el } from './dom.js';
import { otherLines, photoOf } from './card-parts.js';

// Up to two letters of the name shown ("Ada Lovelace" -> "AL").
export function initials(name) {
  const words = name.split(/\s+/u).filter((word) => /\p{L}/u.test(word));
  return words.slice(0, 2).map((word) => [...word.match(/\p{L}/u)[0]][0].toUpperCase()).join('') || '?';
}

export function avatar(card, name) {
  // Only a card that has a photo line pays for reading its lines.
  const photo = typeof card.other === 'string' && /(^|\n)(?:[A-Za-z0-9-]+\.)?PHOTO[;:]/i.test(card.other)
    ? photoOf(otherLines(card.other)) : null;
  if (photo && photo.src) {
    return el('img', {
      class: 'avatar', src: photo.src, alt: '', loading: 'lazy', decoding: 'async', 'aria-hidden': 'true',
    });
  }
  // Drawn by the style sheet: the row's text stays the name alone.
  return el('span', { class: 'avatar', 'aria-hidden': 'true', dataset: { initials: initials(name) } });
}
