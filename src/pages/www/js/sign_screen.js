// The confirmation of a web page's signature request (the security
// component): the requesting site, the exact text to be signed, the
// certificate, the password of a file certificate, 確認簽章 / 取消. Nothing
// is signed unless it is confirmed here; the program withdraws the screen
// when its time runs out or the request is given up.

const open = new Map();

// "20270101235959" as "2027/01/01 23:59:59".
function shownTime(digits) {
  const d = String(digits || '');
  if (!/^\d{14}$/.test(d)) return d;
  return `${d.slice(0, 4)}/${d.slice(4, 6)}/${d.slice(6, 8)} ${d.slice(8, 10)}:${d.slice(10, 12)}:${d.slice(12, 14)}`;
}

// `ui`: the page's window helpers { el, openModal } and `reply(answer)`.
export function showSignScreen({ id, origin, text, cn, serial, notAfter, needsPassword, seconds }, ui, reply) {
  const { el, openModal } = ui;
  const textId = `sign-${id}-text`;
  const content = el('pre', {
    id: textId, class: 'sign-text', tabindex: '0', role: 'region', 'aria-label': '簽章內容',
  });
  content.textContent = text;
  const facts = el('dl', { class: 'sign-facts' },
    el('dt', { text: '要求簽章的網站' }), el('dd', { class: 'sign-origin', text: origin }),
    el('dt', { text: '憑證' }), el('dd', { text: cn }),
    el('dt', { text: '序號' }), el('dd', { text: serial }),
    el('dt', { text: '有效期限' }), el('dd', { text: shownTime(notAfter) }));
  const form = el('form', { class: 'body dialog-body sign-body' }, facts,
    el('p', { class: 'dialog-heading', text: `簽章內容 (共 ${[...text].length} 字，請捲動檢視全文)` }), content);
  let password = null;
  if (needsPassword) {
    password = el('input', { id: `sign-${id}-password`, type: 'password', autocomplete: 'off' });
    form.append(el('div', { class: 'dialog-field' }, el('label', { for: password.id, text: '憑證密碼' }), password));
  }
  const minutes = Math.max(1, Math.round((seconds || 120) / 60));
  form.append(el('p', { class: 'sign-note', text: `確認內容無誤後按「確認簽章」；${minutes} 分鐘內未確認即不簽章。` }));
  const confirm = el('button', { type: 'submit', class: 'primary', text: '確認簽章' });
  const cancel = el('button', { type: 'button', text: '取消', 'data-answer': 'cancel' });
  const win = el('div', {
    class: 'window dialog-window sign-window', role: 'dialog', 'aria-modal': 'true',
    'aria-labelledby': `sign-${id}-caption`, 'data-dialog': 'QUILSignConfirm',
  },
  el('div', { class: 'caption', id: `sign-${id}-caption`, text: '確認網路下單簽章' }), form,
  el('div', { class: 'buttons' }, confirm, cancel));
  // The site first: a password field takes the focus only after the
  // customer has seen who asks.
  const close = openModal(win);
  content.focus();
  let done = false;
  const finish = (answer) => {
    if (done) return;
    done = true;
    open.delete(id);
    close();
    if (answer) reply(answer);
  };
  open.set(id, () => finish(null));
  form.addEventListener('submit', (e) => {
    e.preventDefault();
    finish({ decision: 'confirm', password: password ? password.value : '' });
  });
  confirm.addEventListener('click', (e) => {
    e.preventDefault();
    finish({ decision: 'confirm', password: password ? password.value : '' });
  });
  cancel.addEventListener('click', () => finish({ decision: 'cancel' }));
}

// Closes the screen of a request the program gave up.
export function withdrawSignScreen(id) {
  open.get(id)?.();
}
