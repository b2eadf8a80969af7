// The page's side of the bridge: method calls, the UI event stream and
// answers to the program's questions (see docs/bridge-api.md).

export class BridgeError extends Error {}

async function post(path, body) {
  const res = await fetch(path, {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    credentials: 'same-origin',
    body: JSON.stringify(body),
  });
  if (!res.ok) throw new BridgeError(`${path}: HTTP ${res.status}`);
  return res.json();
}

// Calls one method of the program; resolves to its reply text, its short
// value, or undefined for methods that return nothing.
export async function call(method, ...args) {
  const body = await post('/api/call', { method, args: args.map((a) => String(a ?? '')) });
  return body.value;
}

export function answer(id, reply) {
  return post('/api/answer', { id, answer: reply });
}

export async function listFolder(path) {
  const res = await fetch('/api/fs?path=' + encodeURIComponent(path || ''), { credentials: 'same-origin' });
  if (!res.ok) return null;
  return res.json();
}

const EVENT_TYPES = ['progress', 'progressHide', 'messageBox', 'dialog', 'chooseFolder',
  'chooseFile', 'openWindow', 'close'];

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
