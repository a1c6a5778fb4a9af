// One modal question at a time, in the page's own dialog: resolves to true
// when the person chose the action, false on Cancel or Escape.
import { el, clear } from './dom.js';

// Enter in a field of the question is its answer, the action: the form's
// own default would be its first button, Cancel.
function enterChoosesAction(event) {
  const dialog = event.currentTarget;
  const target = event.target;
  if (event.key !== 'Enter' || event.isComposing || event.defaultPrevented) return;
  if (!(target instanceof HTMLInputElement) || ['checkbox', 'radio', 'button', 'submit'].includes(target.type)) return;
  event.preventDefault();
  dialog.close('ok');
}

// options: {title, body: [text or Node], ok, cancel = 'Cancel', danger = false}
// The focus starts in the question's first field; without one, on the action,
// or on Cancel when the action cannot be undone.
export function ask({ title, body, ok, cancel = 'Cancel', danger = false }) {
  const dialog = document.getElementById('confirm');
  document.getElementById('confirm-title').textContent = title;
  const bodyNode = document.getElementById('confirm-body');
  clear(bodyNode);
  for (const part of body) bodyNode.append(part instanceof Node ? part : el('p', {}, part));
  const okButton = document.getElementById('confirm-ok');
  okButton.textContent = ok;
  okButton.className = danger ? 'danger' : 'primary';
  const cancelButton = document.getElementById('confirm-cancel');
  cancelButton.textContent = cancel;
  dialog.returnValue = '';
  return new Promise((resolve) => {
    dialog.addEventListener('keydown', enterChoosesAction);
    dialog.addEventListener('close', () => {
      dialog.removeEventListener('keydown', enterChoosesAction);
      resolve(dialog.returnValue === 'ok');
    }, { once: true });
    dialog.showModal();
    const first = bodyNode.querySelector('input:not([type="hidden"]), textarea, select');
    (first || (danger ? cancelButton : okButton)).focus();
  });
}
