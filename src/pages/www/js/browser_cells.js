// The browser cells of the selection dialog (CQUILSelBrowserDlg): one cell
// per browser the page knows and the program found, framed when marked.
// The program keeps the dialog's state; this only draws it and reports the
// marks once the customer has clicked.

// The browsers the page knows, in their fixed order.
export const KNOWN_BROWSERS = [
  { key: 'Internet Explorer', icon: 'img/browser-ie.svg', label: 'Internet Explorer', startSelected: false },
  { key: 'Microsoft Edge', icon: 'img/browser-edge.svg', label: 'Microsoft Edge', startSelected: false },
  { key: 'Chrome', icon: 'img/browser-chrome.svg', label: 'Google Chrome', startSelected: true },
  { key: 'FireFox', icon: 'img/browser-firefox.svg', label: 'Mozilla FireFox', startSelected: false },
  { key: 'Chrome 64', icon: 'img/browser-chrome64.svg', label: 'Google Chrome 64', startSelected: false },
];

const names = (text) => String(text ?? '').split(',').filter((n) => n !== '');

// Draws the cells into `container` and returns a function answering the
// marked names once the customer has clicked (undefined before: the
// program keeps its preselection). `installed` are the names offered,
// `selected` the comma list of the program's selection; `single` allows
// one marked cell at most; `asLeft` (a dialog shown again after a click)
// marks exactly the selected names.
export function drawBrowserCells(container, { installed, selected, single, asLeft }) {
  const chosen = new Set(names(selected));
  const drawn = KNOWN_BROWSERS.filter((b) => installed.includes(b.key));
  const marked = new Set(drawn.filter((b) => chosen.has(b.key) || (!asLeft && b.startSelected)).map((b) => b.key));
  if (single && !asLeft) {
    const first = drawn.find((b) => marked.has(b.key));
    marked.clear();
    if (first) marked.add(first.key);
  }
  let clicked = !!asLeft;
  const cells = new Map();
  const frame = () => {
    for (const [key, cell] of cells) {
      cell.classList.toggle('selected', marked.has(key));
      cell.setAttribute('aria-pressed', String(marked.has(key)));
    }
  };
  for (const b of drawn) {
    const cell = document.createElement('button');
    cell.type = 'button';
    cell.className = 'browser-cell';
    cell.dataset.browser = b.key;
    const icon = document.createElement('img');
    icon.src = b.icon;
    icon.alt = '';
    const label = document.createElement('span');
    label.textContent = b.label;
    cell.append(icon, label);
    cell.addEventListener('click', () => {
      clicked = true;
      const on = !marked.has(b.key);
      if (single) marked.clear();
      if (on) marked.add(b.key);
      else marked.delete(b.key);
      frame();
    });
    cells.set(b.key, cell);
    container.append(cell);
  }
  frame();
  return () => (clicked ? drawn.filter((b) => marked.has(b.key)).map((b) => b.key).join(',') : undefined);
}
