// One modal question at a time, in the page's own dialog: resolves to true
// when the person chose the action, false on Cancel or Escape.
import { el, clear } from './dom.js';

// options: {title, body: [text or Node], ok, cancel = 'Cancel', danger = false}
export function ask({ title, body, ok, cancel = 'Cancel', danger = false }) {
  const dialog = document.getElementById('confirm');
  document.getElementById('confirm-title').textContent = title;
  const bodyNode = document.getElementById('confirm-body');
  clear(bodyNode);
  for (const part of body) bodyNode.append(part instanceof Node ? part : el('p', {}, part));
  const okButton = document.getElementById('confirm-ok');
  okButton.textContent = ok;
  okButton.className = danger ? 'danger' : 'primary';
  document.getElementById('confirm-cancel').textContent = cancel;
  dialog.returnValue = '';
  return new Promise((resolve) => {
    dialog.addEventListener('close', () => resolve(dialog.returnValue === 'ok'), { once: true });
    dialog.showModal();
  });
}
