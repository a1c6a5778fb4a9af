// Draws a QR code's modules (rows of "0" and "1", as the host makes them)
// as one SVG path, with the quiet zone around it that readers need.
const SVG = 'http://www.w3.org/2000/svg';

export function qrImage(rows, label) {
  const size = rows.length;
  const quiet = 4;
  const svg = document.createElementNS(SVG, 'svg');
  svg.setAttribute('viewBox', `0 0 ${size + 2 * quiet} ${size + 2 * quiet}`);
  svg.setAttribute('width', String((size + 2 * quiet) * 6));
  svg.setAttribute('height', String((size + 2 * quiet) * 6));
  svg.setAttribute('role', 'img');
  svg.setAttribute('aria-label', label);
  svg.setAttribute('shape-rendering', 'crispEdges');
  const background = document.createElementNS(SVG, 'rect');
  background.setAttribute('width', '100%');
  background.setAttribute('height', '100%');
  background.setAttribute('fill', '#fff');
  const path = document.createElementNS(SVG, 'path');
  let d = '';
  rows.forEach((row, y) => {
    for (let x = 0; x < row.length; x += 1) {
      if (row[x] === '1') d += `M${x + quiet} ${y + quiet}h1v1h-1z`;
    }
  });
  path.setAttribute('d', d);
  path.setAttribute('fill', '#000');
  svg.append(background, path);
  return svg;
}
