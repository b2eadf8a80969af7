// Renders the program's UI events in the page: the progress window, message
// boxes, dialogs, file and folder choosers, extra windows and the close.
// Also gives the page's own modal message boxes and questions.
import { BridgeError, answer, canTakeFocus, focusOwner, listen, listFolder } from './bridge.js';
import { drawBrowserCells } from './browser_cells.js';
import { filterMatches } from './file_filter.js';
import { ReplyError } from './reply_reader.js';
import { showSignScreen, withdrawSignScreen } from './sign_screen.js';
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

let windowCount = 0;

// Names a window after its caption (or `label` when it has none), as
// assistive technology announces it.
function nameWindow(win, label) {
  const caption = win.querySelector(':scope > .caption');
  if (caption) {
    caption.id ||= `window-caption-${++windowCount}`;
    win.setAttribute('aria-labelledby', caption.id);
  } else if (label) {
    win.setAttribute('aria-label', label);
  }
}

// The control of a window to put the focus on: its first field (or
// browser cell), else its default button, else its first button.
function firstControl(win) {
  return win.querySelector('input:not([readonly]), select, [role=listbox], .browser-cell')
    ?? win.querySelector('button.primary') ?? win.querySelector('button');
}

// Puts a window on the modal layer; returns a function that removes it and
// gives the focus back to the control that had it (or, while a call runs,
// to the one the call took it from, once the call ends).
function openModal(win) {
  const host = layer();
  const opener = focusOwner();
  nameWindow(win);
  host.append(win);
  host.hidden = false;
  // A text too long for its box scrolls; the keyboard reaches it too.
  for (const body of win.querySelectorAll('.body'))
    if (body.scrollHeight > body.clientHeight) body.tabIndex = 0;
  firstControl(win)?.focus();
  return () => {
    win.remove();
    host.hidden = host.children.length === 0;
    // Back to the opener, also inside a window below (a dialog's browse
    // button under its chooser).
    const top = host.lastElementChild;
    if (canTakeFocus(opener) && (!top || top.contains(opener))) opener.focus();
    else if (top) firstControl(top)?.focus();
  };
}

// What Escape presses in a window: its cancel or "no" button, or the only
// button of a box that has nothing else (OK-only messages, About).
function escapeButton(win) {
  const marked = win.querySelector('[data-answer=cancel], [data-answer=no]');
  if (marked) return marked;
  const buttons = win.querySelectorAll(':scope > .buttons button');
  return buttons.length === 1 && win.matches('.message-window, .about-window') ? buttons[0] : null;
}

// Keeps Tab inside the top window of the modal layer; Esc cancels the top
// window (answers its question with 否, closes a box that only informs).
function onModalKey(e) {
  const host = layer();
  if (!host || host.hidden) return;
  const win = host.lastElementChild;
  if (e.key === 'Escape') {
    e.preventDefault();
    escapeButton(win)?.click();
    return;
  }
  if (e.key !== 'Tab') return;
  const items = [...win.querySelectorAll('input, select, button, iframe, [tabindex="0"]')]
    .filter((n) => !n.disabled && n.tabIndex >= 0 && n.getClientRects().length > 0);
  if (items.length === 0) return;
  const i = items.indexOf(document.activeElement);
  const next = e.shiftKey ? (i <= 0 ? items.length - 1 : i - 1) : (i + 1) % items.length;
  items[next].focus();
  e.preventDefault();
}
document.addEventListener('keydown', onModalKey);
// The focus never leaves the top window for the page behind it (Tab out of
// a frame inside the window, a click beside it).
document.addEventListener('focusin', (e) => {
  const host = layer();
  const win = host && !host.hidden ? host.lastElementChild : null;
  if (win && !win.contains(e.target)) firstControl(win)?.focus();
});

// A frame of the program's own pages keeps its keys to itself; the page
// still hears Escape (a cancel wherever the focus is) and the customer's
// activity in it (the idle count-down). Every load of the frame.
export function hearFrameInput(frame) {
  frame.addEventListener('load', () => {
    const doc = frame.contentDocument;
    if (!doc) return;
    doc.addEventListener('keydown', (e) => {
      if (e.key === 'Tab') return;
      frame.dispatchEvent(new KeyboardEvent('keydown', { key: e.key, bubbles: true }));
    });
    doc.addEventListener('mousedown', () => frame.dispatchEvent(new MouseEvent('mousedown', { bubbles: true })));
  });
}

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
  const body = textBlock(text);
  body.id = `message-text-${++windowCount}`;
  const win = el('div', { class: 'window message-window', role: 'alertdialog', 'aria-modal': 'true',
    'aria-describedby': body.id }, el('div', { class: 'caption', text: caption }), body, row);
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
      frame = el('iframe', { title: caption });
      hearFrameInput(frame);
      frame.addEventListener('load', () => focusFirstInFrame(frame));
      frame.src = f.value;
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
  // A dialog without a caption is named after its first heading.
  if (!caption) win.setAttribute('aria-label', form.querySelector('p')?.textContent || TITLE);
  let close = () => {};
  if (cancel) {
    const cancelButton = el('button', { type: 'button', text: cancel, 'data-answer': 'cancel' });
    cancelButton.addEventListener('click', () => { close(); answerProgram(id, { fields: null }); });
    row.append(cancelButton);
  }
  const closeModal = openModal(win);
  const onMessage = (e) => {
    if (frame && e.source === frame.contentWindow && e.origin === location.origin && e.data?.agreement) submit(e);
  };
  close = () => { window.removeEventListener('message', onMessage); closeModal(); };
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
}

// The focus into a frame of the program's own pages: its first control.
export function focusFirstInFrame(frame) {
  const first = frame.contentDocument?.querySelector('input, button:not([hidden])');
  if (first && frame.isConnected && !frame.closest('[hidden], [inert]')) first.focus();
}

// The separator of the program's paths, as its folder listings give it:
// "\\" on Windows, where "/" separates as well.
let pathSeparator = '/';
const lastSeparator = (path) => Math.max(path.lastIndexOf('/'), path.lastIndexOf(pathSeparator));
const isAbsolute = (path) => path.startsWith('/') || (pathSeparator === '\\' && /^(\\|[A-Za-z]:)/.test(path));
const endsInSeparator = (path) => path !== '' && lastSeparator(path) === path.length - 1;
const joinPath = (folder, name) => (endsInSeparator(folder) ? folder : folder + pathSeparator) + name;

// The chosen folder followed by the file name the path held.
function withChosenFolder(path, folder) {
  return joinPath(folder, path.slice(lastSeparator(path) + 1));
}

// The page's own chooser over /api/fs. Resolves to the chosen path or null.
export function runChooser(mode, title, filters = []) {
  title ||= mode === 'folder' ? '選擇資料夾' : '開啟檔案';
  return new Promise((resolve) => {
    let current = '';
    let selected = null;
    const where = el('input', { type: 'text', 'aria-label': '位置' });
    const up = el('button', { type: 'button', text: '上一層' });
    const list = el('ul', { role: 'listbox', tabindex: '0', 'aria-label': title || '檔案清單', id: `chooser-list-${++windowCount}` });
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

    let shown = 0;
    async function show(path) {
      const request = ++shown;
      const typedBefore = where.value;
      const listing = await listFolder(path);
      if (!listing || request !== shown) return;  // a later request wins
      current = listing.path;
      pathSeparator = listing.separator || '/';
      if (where.value === typedBefore) where.value = current;  // keep what was typed meanwhile
      up.disabled = listing.parent === null;
      up.onclick = () => show(listing.parent);
      selected = null;
      list.replaceChildren();
      const filter = filters[Number(filterSelect.value)] || { pattern: '*.*' };
      for (const entry of listing.entries) {
        if (entry.kind === 'file' && (mode === 'folder' || !filterMatches(filter.pattern, entry.name))) continue;
        const item = el('li', { class: entry.kind, role: 'option', text: entry.name, 'aria-selected': 'false',
          id: `${list.id}-${list.children.length}` });
        item.entry = entry;
        item.addEventListener('click', () => pick(item));
        item.addEventListener('dblclick', () => open(entry));
        list.append(item);
      }
      list.removeAttribute('aria-activedescendant');
    }
    // One entry marked, as a click or the arrow keys mark it.
    function pick(item) {
      for (const other of list.children) other.setAttribute('aria-selected', String(other === item));
      list.setAttribute('aria-activedescendant', item.id);
      item.scrollIntoView({ block: 'nearest' });
      selected = item.entry;
      if (selected.kind === 'file') nameInput.value = selected.name;
    }
    // A folder is entered, a file chosen (double click, Enter).
    function open(entry) {
      if (entry.kind === 'folder') show(joinPath(current, entry.name));
      else finish(joinPath(current, entry.name));
    }
    list.addEventListener('keydown', (e) => {
      const items = [...list.children];
      const at = items.findIndex((i) => i.getAttribute('aria-selected') === 'true');
      const to = { ArrowDown: at + 1, ArrowUp: at < 0 ? 0 : at - 1, Home: 0, End: items.length - 1,
        PageDown: at + 10, PageUp: at - 10 }[e.key];
      if (to !== undefined) {
        e.preventDefault();
        if (items.length) pick(items[Math.min(Math.max(to, 0), items.length - 1)]);
      } else if (e.key === 'Enter' && selected) {
        e.preventDefault();
        open(selected);
      } else if (e.key === 'Backspace' && !up.disabled) {
        e.preventDefault();
        up.click();
      }
    });
    where.addEventListener('keydown', (e) => { if (e.key === 'Enter') show(where.value); });
    filterSelect.addEventListener('change', () => show(current));
    ok.addEventListener('click', async () => {
      if (mode === 'folder') {
        if (selected && selected.kind === 'folder') return finish(joinPath(current, selected.name));
        // A location typed but not yet opened counts when it is a folder.
        const typed = where.value.trim();
        if (typed && typed !== current) {
          const listing = await listFolder(typed);
          if (listing) return finish(listing.path);
        }
        finish(current);
      } else if (nameInput.value) {
        finish(isAbsolute(nameInput.value) ? nameInput.value : joinPath(current, nameInput.value));
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
  document.body.replaceChildren(el('main', { class: 'closed' },
    el('h1', { text: TITLE }), el('p', { text: '程式已結束，請關閉此視窗。' })));
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
    signConfirm: once((data) => showSignScreen(data, { el, openModal }, (a) => answerProgram(data.id, a))),
    withdraw: ({ id }) => withdrawSignScreen(id),
    openWindow: ({ url, width, height }) => openWebWindow(url, width, height),
    close: () => { source.close(); showClosed(); },
  });
  return source;
}
