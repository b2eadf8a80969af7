// The page's side of the bridge: method calls, the UI event stream and
// answers to the program's questions (see docs/bridge-api.md).
//
// While a method runs the page takes no user input, as the original host
// blocked it: every child of <body> not marked data-call-ui is inert, and
// messages from frames in the inert part are dropped. What the running
// method shows (message boxes, dialogs, choosers, the progress window) lives
// in the data-call-ui layers and keeps working.

export class BridgeError extends Error {}

let callsInFlight = 0;
// The control that had the focus when a call froze the page: the focus
// goes back to it afterwards, as a keyboard user expects.
let focusBeforeCall = null;

// Whether the focus can go back to `node`: still on the page, shown,
// enabled and not frozen.
export function canTakeFocus(node) {
  return !!node && node !== document.body && node.isConnected && !node.disabled && !node.closest('[inert], [hidden]')
    && node.getClientRects().length > 0;
}

// The control to give the focus back to once a window the program or the
// page opened is closed: the focused one, or the one a running call took it
// from.
export function focusOwner() {
  const active = document.activeElement;
  return active && active !== document.body ? active : focusBeforeCall;
}

function setFrozen(frozen) {
  document.documentElement.classList.toggle('busy', frozen);
  if (frozen) focusBeforeCall = document.activeElement !== document.body ? document.activeElement : focusBeforeCall;
  for (const part of document.body.children) {
    if (part.hasAttribute('data-call-ui')) continue;
    part.inert = frozen;
    // A focused control would still take Enter or Space.
    if (frozen && part.contains(document.activeElement)) document.activeElement.blur();
  }
  if (frozen) return;
  const back = focusBeforeCall;
  focusBeforeCall = null;
  const lost = !document.activeElement || document.activeElement === document.body;
  if (lost && canTakeFocus(back)) back.focus();
}

function enterCall() {
  callsInFlight += 1;
  if (callsInFlight === 1) setFrozen(true);
}

function leaveCall() {
  callsInFlight -= 1;
  if (callsInFlight === 0) setFrozen(false);
}

// True while a method runs; timers skip what the customer would see.
export const callInFlight = () => callsInFlight > 0;

// A frame's message is a user action (the agreement page's next button);
// registered first, this runs before every other message listener.
window.addEventListener('message', (e) => {
  if (callsInFlight === 0) return;
  const frame = [...document.querySelectorAll('iframe')].find((f) => f.contentWindow === e.source);
  if (!frame || frame.closest('[inert]')) e.stopImmediatePropagation();
}, true);

async function post(path, body) {
  let res;
  try {
    res = await fetch(path, {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      credentials: 'same-origin',
      body: JSON.stringify(body),
    });
  } catch (e) {
    throw new BridgeError(`${path}: ${e.message}`);
  }
  if (!res.ok) throw new BridgeError(`${path}: HTTP ${res.status}`);
  return res.json();
}

// Calls travel on one socket, which a browser answers many times faster
// than a fetch; /api/call stays for when the socket cannot be opened.
let socket = null;  // the open socket's promise; it resolves to null when it cannot open
let socketRefused = false;
const waiting = new Map();  // call id -> { resolve, reject }
let nextCallId = 1;

function openSocket() {
  if (socketRefused) return Promise.resolve(null);
  if (socket) return socket;
  socket = new Promise((resolve) => {
    let ws;
    try {
      ws = new WebSocket(`ws://${location.host}/api/socket`);
    } catch {
      socketRefused = true;
      resolve(null);
      return;
    }
    let opened = false;
    ws.onopen = () => {
      opened = true;
      resolve(ws);
    };
    ws.onmessage = (e) => {
      const reply = JSON.parse(e.data);
      const w = waiting.get(reply.id);
      if (!w) return;
      waiting.delete(reply.id);
      w.resolve(reply);
    };
    ws.onclose = () => {
      if (!opened) socketRefused = true;
      socket = null;
      resolve(null);
      for (const w of waiting.values()) w.reject(new BridgeError('/api/socket: closed'));
      waiting.clear();
    };
  });
  return socket;
}

async function invoke(method, args) {
  const body = { method, args: args.map((a) => String(a ?? '')) };
  const ws = await openSocket();
  if (ws?.readyState !== WebSocket.OPEN) return (await post('/api/call', body)).value;
  const id = nextCallId++;
  const reply = await new Promise((resolve, reject) => {
    waiting.set(id, { resolve, reject });
    ws.send(JSON.stringify({ id, ...body }));
  });
  if (reply.status !== 200) throw new BridgeError(`/api/call: HTTP ${reply.status}`);
  return reply.body.value;
}

// Calls one method of the program, the page frozen until it answers;
// resolves to its reply text, its short value, or undefined for methods
// that return nothing.
export async function call(method, ...args) {
  enterCall();
  try {
    return await invoke(method, args);
  } finally {
    leaveCall();
  }
}

// For a call the customer did not start and need not wait for (the
// keep-alive): the page stays usable meanwhile.
export function callUnfrozen(method, ...args) {
  return invoke(method, args);
}

export function answer(id, reply) {
  return post('/api/answer', { id, answer: reply });
}

// The listing of a folder, or null when it cannot be listed.
export async function listFolder(path) {
  try {
    const res = await fetch('/api/fs?path=' + encodeURIComponent(path || ''), { credentials: 'same-origin' });
    return res.ok ? await res.json() : null;
  } catch {
    return null;
  }
}

const EVENT_TYPES = ['progress', 'progressHide', 'messageBox', 'dialog', 'chooseFolder',
  'chooseFile', 'signConfirm', 'withdraw', 'openWindow', 'close'];

// Listens to the program's UI events; handlers[type](data) for each.
export function listen(handlers) {
  const source = new EventSource('/api/events', { withCredentials: true });
  for (const type of EVENT_TYPES) {
    source.addEventListener(type, (e) => {
      const handler = handlers[type];
      if (handler) handler(JSON.parse(e.data));
    });
  }
  return source;
}
