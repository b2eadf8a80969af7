// Renders the program's UI events in the page: the progress window, message
// boxes, dialogs, file and folder choosers, extra windows and the close.
// Also gives the page's own modal message boxes and questions.
import { BridgeError, answer, listen, listFolder } from './bridge.js';
import { drawBrowserCells } from './browser_cells.js';
import { filterMatches } from './file_filter.js';
import { ReplyError } from './reply_reader.js';
import { webAddress } from './web_address.js';

export const TITLE = 'QUIL';
const layer = () => document.getElementById('modal-layer');
const shownQuestions = new Set();

function el(tag, props = {}, ...children) {
  const node = document.createElement(tag);
  for (const [k, v] of Object.entries(props)) {
    if (k === 'class') node.className = v;
    else if (k === 'text') node.textContent = v;
    else if (k.startsWith('on')) node.addEventListener(k.slice(2), v);
    else node.setAttribute(k, v);
  }
  for (const c of children) if (c) node.append(c);
  return node;
}

// Puts a window on the modal layer; returns a function that removes it.
function openModal(win) {
  const host = layer();
  const previous = document.activeElement;
  host.append(win);
  host.hidden = false;
  const first = win.querySelector('input, select, button.primary, button');
  if (first) first.focus();
  return () => {
    win.remove();
    host.hidden = host.children.length === 0;
    if (previous && previous.focus) previous.focus();
  };
}

// Keeps Tab inside the top window of the modal layer; Esc cancels the top
// window (or answers its question with 否) when it can.
document.addEventListener('keydown', (e) => {
  const host = layer();
  if (!host || host.hidden) return;
  const win = host.lastElementChild;
  if (e.key === 'Escape') {
    win.querySelector('[data-answer=cancel], [data-answer=no]')?.click();
    return;
  }
  if (e.key !== 'Tab') return;
  const items = [...win.querySelectorAll('input, select, button, [tabindex="0"]')]
    .filter((n) => !n.disabled && n.tabIndex >= 0);
  if (items.length === 0) return;
  const i = items.indexOf(document.activeElement);
  const next = e.shiftKey ? (i <= 0 ? items.length - 1 : i - 1) : (i + 1) % items.length;
  items[next].focus();
  e.preventDefault();
});

// Text with "\n" breaks shown as separate lines, never as HTML.
function textBlock(text) {
  const body = el('div', { class: 'body', role: 'document' });
  body.textContent = text;
  return body;
}

// The buttons of each kind of message box: [answer, label], the first one default.
const MESSAGE_BUTTONS = {
  ok: [['ok', '確定']],
  okcancel: [['ok', '確定'], ['cancel', '取消']],
  yesno: [['yes', '是'], ['no', '否']],
};

function messageWindow(caption, text, buttons, onAnswer) {
  let close = null;
  const row = el('div', { class: 'buttons' }, ...(MESSAGE_BUTTONS[buttons] || MESSAGE_BUTTONS.ok).map(
    ([answer, label], i) => el('button', {
      type: 'button', class: i === 0 ? 'primary' : '', 'data-answer': answer, text: label,
      onclick: () => { close(); onAnswer(answer); },
    })));
  const win = el('div', { class: 'window message-window', role: 'alertdialog', 'aria-modal': 'true' },
    el('div', { class: 'caption', text: caption }), textBlock(text), row);
  close = openModal(win);
}

// The page's own message box; resolves when it is closed.
export function showMessage(text) {
  return new Promise((resolve) => messageWindow(TITLE, String(text), 'ok', () => resolve()));
}

// The page's own question; resolves to true for 確定.
export function askQuestion(text) {
  return new Promise((resolve) => messageWindow(TITLE, String(text), 'okcancel', (a) => resolve(a === 'ok')));
}

function failureText(error) {
  if (error instanceof ReplyError) return `程式回覆的內容無法讀取，作業未完成。\n${error.message}`;
  if (error instanceof BridgeError) return `無法與 QUIL 程式連線，作業未完成。\n${error.message}`;
  return `作業發生錯誤，未完成。\n${error?.message ?? error}`;
}

// Every handler of the page runs through this: an unreadable reply, a failed
// bridge request or a fault of the page's own ends the handler with a
// message, and the screen stays as it was, usable again.
export function pageHandler(fn) {
  return async (...args) => {
    try {
      return await fn(...args);
    } catch (error) {
      console.error(error);
      if (layer()) await showMessage(failureText(error));
      return undefined;
    }
  };
}

// Listens for a user action with a handler wrapped as above.
export function onAction(target, type, fn) {
  target.addEventListener(type, pageHandler(fn));
}

// Opens an address from the proxy in a window of its own, centred on the
// screen; anything but a web address is not opened. The window gets no hold
// on this page.
export function openWebWindow(link, width, height) {
  const url = webAddress(link);
  if (!url) return;
  const left = Math.max(0, Math.round((screen.width - width) / 2));
  const top = Math.max(0, Math.round((screen.height - height) / 2));
  window.open(url, '_blank', `width=${width},height=${height},left=${left},top=${top},scrollbars=yes,noopener`);
}

// Answers a question of the program; a failure is shown as in any handler.
const answerProgram = pageHandler(answer);

export function showAbout() {
  const win = document.getElementById('tpl-about').content.firstElementChild.cloneNode(true);
  const close = openModal(win);
  win.querySelector('[data-answer=ok]').addEventListener('click', close);
}

function showProgress({ title, text, step, total }) {
  document.getElementById('progress-title').textContent = title || '處理進度';
  document.getElementById('progress-text').textContent = text;
  const bar = document.getElementById('progress-bar');
  bar.max = total > 0 ? total : 1;
  bar.value = Math.min(Math.max(step, 0), bar.max);
  document.getElementById('progress').hidden = false;
}

function hideProgress() {
  document.getElementById('progress').hidden = true;
}

function dialogWindow({ id, dialog, caption, fields, ok, cancel }) {
  const form = el('form', { class: 'body dialog-body' });
  const inputs = {};
  const readers = {};
  let frame = null;
  for (const f of fields) {
    if (f.kind === 'browsers') {
      const cells = el('div', { class: 'browser-cells', role: 'group', 'aria-label': f.label });
      readers[f.name] = drawBrowserCells(cells,
        { installed: f.choices || [], selected: f.value, single: !!f.single, asLeft: !!f.asLeft });
      form.append(el('p', { class: 'dialog-heading', text: f.label }), cells);
      continue;
    }
    if (f.kind === 'static') {
      form.append(el('p', { text: f.label ? `${f.label} ${f.value}` : f.value }));
      continue;
    }
    if (f.kind === 'page') {
      // One of the program's own pages; its accept button answers the dialog.
      frame = el('iframe', { src: f.value, title: caption });
      form.append(frame);
      continue;
    }
    const input = el('input', {
      id: `dlg-${id}-${f.name}`,
      name: f.name,
      type: f.kind === 'password' ? 'password' : f.kind === 'checkbox' ? 'checkbox' : 'text',
      // Certificate file passwords and paths: nothing for the browser to keep or offer.
      autocomplete: 'off',
    });
    if (f.kind === 'checkbox') input.checked = f.value === '1';
    else input.value = f.value;
    inputs[f.name] = input;
    let control = input;
    if (f.kind === 'file' || f.kind === 'folder') {
      // The path changes only through its chooser.
      input.readOnly = true;
      const browse = el('button', { type: 'button', text: '瀏覽' });
      browse.addEventListener('click', async () => {
        if (f.kind === 'file') {
          const picked = await runChooser('file', f.browseTitle || '開啟', f.filters || []);
          if (picked !== null) input.value = picked;
        } else {
          const folder = await runChooser('folder', f.browseTitle || '');
          if (folder !== null) input.value = withChosenFolder(input.value, folder);
        }
      });
      control = el('span', { class: 'with-button' }, input, browse);
    }
    form.append(el('div', { class: 'dialog-field' },
      el('label', { for: input.id, text: f.label }), control));
  }
  const row = el('div', { class: 'buttons' });
  const okButton = ok ? el('button', { type: 'submit', class: 'primary', text: ok }) : null;
  if (okButton) row.append(okButton);
  const win = el('div', { class: 'window dialog-window' + (frame ? ' agreement-dialog' : ''), role: 'dialog', 'aria-modal': 'true', 'data-dialog': dialog || '' },
    caption ? el('div', { class: 'caption', text: caption }) : null, form, row);
  const closeModal = openModal(win);
  const onMessage = (e) => {
    if (frame && e.source === frame.contentWindow && e.origin === location.origin && e.data?.agreement) submit(e);
  };
  const close = () => { window.removeEventListener('message', onMessage); closeModal(); };
  window.addEventListener('message', onMessage);
  const submit = (e) => {
    e.preventDefault?.();
    const values = {};
    for (const [name, input] of Object.entries(inputs))
      values[name] = input.type === 'checkbox' ? (input.checked ? '1' : '') : input.value;
    for (const [name, read] of Object.entries(readers)) {
      const value = read();
      if (value !== undefined) values[name] = value;
    }
    close();
    answerProgram(id, { fields: values });
  };
  form.addEventListener('submit', submit);
  if (okButton) okButton.addEventListener('click', submit);
  if (cancel) {
    const cancelButton = el('button', { type: 'button', text: cancel, 'data-answer': 'cancel' });
    cancelButton.addEventListener('click', () => { close(); answerProgram(id, { fields: null }); });
    row.append(cancelButton);
  }
}

// The chosen folder followed by the file name the path held.
function withChosenFolder(path, folder) {
  const name = path.slice(path.lastIndexOf('/') + 1);
  return (folder.endsWith('/') ? folder : folder + '/') + name;
}

// The page's own chooser over /api/fs. Resolves to the chosen path or null.
export function runChooser(mode, title, filters = []) {
  return new Promise((resolve) => {
    let current = '';
    let selected = null;
    const where = el('input', { type: 'text', 'aria-label': '位置' });
    const up = el('button', { type: 'button', text: '上一層' });
    const list = el('ul', { role: 'listbox', tabindex: '0', 'aria-label': title });
    const nameInput = el('input', { type: 'text', 'aria-label': '檔案名稱' });
    const filterSelect = el('select', { 'aria-label': '檔案類型' });
    filters.forEach((f, i) => filterSelect.append(el('option', { value: String(i), text: f.label })));
    const ok = el('button', { type: 'button', class: 'primary', text: mode === 'folder' ? '選擇資料夾' : '開啟' });
    const cancel = el('button', { type: 'button', text: '取消', 'data-answer': 'cancel' });
    const bottom = el('div', { class: 'filter-row' });
    if (mode === 'file') bottom.append(el('label', { text: '檔名' }), nameInput, filterSelect);
    const win = el('div', { class: 'window chooser', role: 'dialog', 'aria-modal': 'true', 'data-chooser': mode },
      el('div', { class: 'caption', text: title }),
      el('div', { class: 'where' }, where, up), list, bottom,
      el('div', { class: 'buttons' }, ok, cancel));
    const close = openModal(win);
    const finish = (value) => { close(); resolve(value); };

    const join = (folder, name) => (folder === '/' ? '' : folder) + '/' + name;
    let shown = 0;
    async function show(path) {
      const request = ++shown;
      const typedBefore = where.value;
      const listing = await listFolder(path);
      if (!listing || request !== shown) return;  // a later request wins
      current = listing.path;
      if (where.value === typedBefore) where.value = current;  // keep what was typed meanwhile
      up.disabled = listing.parent === null;
      up.onclick = () => show(listing.parent);
      selected = null;
      list.replaceChildren();
      const filter = filters[Number(filterSelect.value)] || { pattern: '*.*' };
      for (const entry of listing.entries) {
        if (entry.kind === 'file' && (mode === 'folder' || !filterMatches(filter.pattern, entry.name))) continue;
        const item = el('li', { class: entry.kind, role: 'option', text: entry.name, 'aria-selected': 'false' });
        item.addEventListener('click', () => {
          for (const other of list.children) other.setAttribute('aria-selected', 'false');
          item.setAttribute('aria-selected', 'true');
          selected = entry;
          if (entry.kind === 'file') nameInput.value = entry.name;
        });
        item.addEventListener('dblclick', () => {
          if (entry.kind === 'folder') show(join(current, entry.name));
          else finish(join(current, entry.name));
        });
        list.append(item);
      }
    }
    where.addEventListener('keydown', (e) => { if (e.key === 'Enter') show(where.value); });
    filterSelect.addEventListener('change', () => show(current));
    ok.addEventListener('click', async () => {
      if (mode === 'folder') {
        if (selected && selected.kind === 'folder') return finish(join(current, selected.name));
        // A location typed but not yet opened counts when it is a folder.
        const typed = where.value.trim();
        if (typed && typed !== current) {
          const listing = await listFolder(typed);
          if (listing) return finish(listing.path);
        }
        finish(current);
      } else if (nameInput.value) {
        finish(nameInput.value.startsWith('/') ? nameInput.value : join(current, nameInput.value));
      }
    });
    cancel.addEventListener('click', () => finish(null));
    show('');
  });
}

// Questions are shown once, also when a reconnecting stream replays them.
function once(handler) {
  return (data) => {
    if (shownQuestions.has(data.id)) return;
    shownQuestions.add(data.id);
    handler(data);
  };
}

function showClosed() {
  document.body.replaceChildren(el('p', { class: 'closed', text: '程式已結束，請關閉此視窗。' }));
  window.close();
}

export function startUiHost() {
  const source = listen({
    progress: showProgress,
    progressHide: hideProgress,
    messageBox: once(({ id, caption, text, buttons }) =>
      messageWindow(caption, text, buttons, (a) => answerProgram(id, { button: a }))),
    dialog: once(dialogWindow),
    chooseFolder: once(async ({ id, title }) => answerProgram(id, { path: await runChooser('folder', title) })),
    chooseFile: once(async ({ id, title, filters }) =>
      answerProgram(id, { path: await runChooser('file', title, filters) })),
    openWindow: ({ url, width, height }) => openWebWindow(url, width, height),
    close: () => { source.close(); showClosed(); },
  });
  return source;
}
