// The extension's side of the signing host (quil-signer): one kept native
// port, each request matched with its answer by id. A page's request comes
// from content.js; only the top document of an https page on the
// operator's list, with a text within bounds, is passed on, one at a time.
const api = globalThis.browser ?? globalThis.chrome;
const HOST = '@QUIL_SIGNER_HOST_NAME@';
const MAX_TEXT_BYTES = 16 * 1024;

let port = null;
let nextId = 1;
const pending = new Map();
let signing = false;

const refused = (reason) => ({ ok: false, reason });

function connect() {
  port = api.runtime.connectNative(HOST);
  port.onMessage.addListener((message) => {
    const resolve = pending.get(message?.id);
    if (!resolve) return;
    pending.delete(message.id);
    resolve(message);
  });
  port.onDisconnect.addListener(() => {
    port = null;
    for (const resolve of pending.values()) resolve({ type: 'refused', reason: 'host-unavailable' });
    pending.clear();
  });
}

// One request to the host; resolves to its answer.
function ask(request) {
  return new Promise((resolve) => {
    const id = String(nextId++);
    pending.set(id, resolve);
    try {
      if (!port) connect();
      port.postMessage({ ...request, id });
    } catch {
      pending.delete(id);
      port = null;
      resolve({ type: 'refused', reason: 'host-unavailable' });
    }
  });
}

// The origin of the top document that sent the message; '' for frames.
function originOf(sender) {
  if (!sender.tab || sender.frameId !== 0) return '';
  try {
    return sender.origin ?? new URL(sender.url).origin;
  } catch {
    return '';
  }
}

async function sign(text, origin) {
  if (!origin.startsWith('https://')) return refused('origin-not-allowed');
  if (!text) return refused('text-empty');
  if (new TextEncoder().encode(text).length > MAX_TEXT_BYTES) return refused('text-too-long');
  const list = await ask({ type: 'GetOrigins' });
  if (list.type !== 'origins') return refused(list.reason || 'host-unavailable');
  if (!list.origins.includes(origin)) return refused('origin-not-allowed');
  if (signing) return refused('busy');
  signing = true;
  try {
    const answer = await ask({ type: 'Sign', text, origin });
    if (answer.type === 'signed') return { ok: true, signature: answer.signature, cn: answer.cn, serial: answer.serial };
    return refused(answer.reason || 'host-unavailable');
  } finally {
    signing = false;
  }
}

api.runtime.onMessage.addListener((message, sender, sendResponse) => {
  if (sender.id !== api.runtime.id || message?.type !== 'sign') return false;
  sign(typeof message.text === 'string' ? message.text : '', originOf(sender)).then(sendResponse);
  return true;
});
