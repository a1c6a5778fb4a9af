// A card's photo changed in the browser: the picture chosen is cropped to a
// square in its middle and scaled to at most 512×512 as a JPEG, so that cards
// stay small; it goes into the card's kept lines as its one PHOTO line.

export const PHOTO_SIDE = 512;
const QUALITY = 0.85;
// vCard lines are folded to at most 75 octets.
const FOLD = 74;

function base64Of(bytes) {
  let binary = '';
  for (let at = 0; at < bytes.length; at += 0x8000) {
    binary += String.fromCharCode(...bytes.subarray(at, at + 0x8000));
  }
  return btoa(binary);
}

// The picture of a file (or Blob) as square JPEG bytes, base64: rejects
// when the browser cannot read it as a picture.
export async function squareJpeg(file) {
  const bitmap = await createImageBitmap(file);
  const side = Math.min(bitmap.width, bitmap.height);
  const out = Math.min(side, PHOTO_SIDE);
  const canvas = document.createElement('canvas');
  canvas.width = out;
  canvas.height = out;
  const context = canvas.getContext('2d');
  // A JPEG has no transparency: what was clear becomes white.
  context.fillStyle = '#ffffff';
  context.fillRect(0, 0, out, out);
  context.drawImage(bitmap, (bitmap.width - side) / 2, (bitmap.height - side) / 2, side, side, 0, 0, out, out);
  bitmap.close();
  const blob = await new Promise((resolve, reject) => {
    canvas.toBlob((made) => (made ? resolve(made) : reject(new Error('the picture could not be made'))),
      'image/jpeg', QUALITY);
  });
  return base64Of(new Uint8Array(await blob.arrayBuffer()));
}

// The kept lines ("other", CR LF ended) as whole lines, a folded line with
// its continuations.
function keptLines(other) {
  const lines = [];
  for (const line of (typeof other === 'string' ? other : '').split(/\r\n|\n/)) {
    if (line === '') continue;
    if ((line[0] === ' ' || line[0] === '\t') && lines.length) lines[lines.length - 1] += `\r\n${line}`;
    else lines.push(line);
  }
  return lines;
}

const isPhotoLine = (line) => /^(?:[A-Za-z0-9-]+\.)?PHOTO[;:]/i.test(line);

// The kept lines without any photo, then with this one (base64 JPEG) when
// given; every other line stays as it is, in its place.
export function withPhoto(other, base64 = null) {
  const lines = keptLines(other).filter((line) => !isPhotoLine(line));
  if (base64) {
    const line = `PHOTO;ENCODING=b;TYPE=JPEG:${base64}`;
    const pieces = [line.slice(0, FOLD + 1)];
    for (let at = FOLD + 1; at < line.length; at += FOLD) pieces.push(` ${line.slice(at, at + FOLD)}`);
    lines.push(pieces.join('\r\n'));
  }
  return lines.map((line) => `${line}\r\n`).join('');
}
