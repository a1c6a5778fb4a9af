// Small helpers for building the page. Texts always go in as text nodes,
// never as markup, so nothing a card holds can turn into HTML.

let idCounter = 0;

// A fresh id for pairing a label with its field.
export function uniqueId(prefix) {
  idCounter += 1;
  return `${prefix}-${idCounter}`;
}

// el('button', {class: 'x', onclick: fn}, 'Text', child, ...)
export function el(tag, props = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(props)) {
    if (value === undefined || value === null || value === false) continue;
    if (key.startsWith('on') && typeof value === 'function') {
      node.addEventListener(key.slice(2), value);
    } else if (key === 'class') {
      node.className = value;
    } else if (key === 'dataset') {
      Object.assign(node.dataset, value);
    } else if (key in node && typeof value !== 'string') {
      node[key] = value;
    } else {
      node.setAttribute(key, value === true ? '' : value);
    }
  }
  append(node, children);
  return node;
}

function append(node, children) {
  for (const child of children) {
    if (child === undefined || child === null || child === false) continue;
    if (Array.isArray(child)) append(node, child);
    else node.append(child instanceof Node ? child : String(child));
  }
}

// A labelled text field: returns {wrap, input}.
export function field(labelText, input, hint) {
  const id = input.id || uniqueId('f');
  input.id = id;
  const label = el('label', { for: id }, labelText);
  let hintNode = null;
  if (hint) {
    hintNode = el('span', { class: 'hint', id: `${id}-hint` }, hint);
    input.setAttribute('aria-describedby', hintNode.id);
  }
  return { wrap: el('div', { class: 'field' }, label, input, hintNode), input };
}

export function clear(node) {
  while (node.firstChild) node.firstChild.remove();
}

// Shows a message in a status region; kind is 'error', 'ok' or 'info'.
export function showStatus(region, kind, ...parts) {
  clear(region);
  region.hidden = parts.length === 0;
  region.className = `status status-${kind}`;
  for (const part of parts) region.append(part instanceof Node ? part : el('p', {}, part));
}

export function hideStatus(region) {
  clear(region);
  region.hidden = true;
}
