// Relays a page's signing requests to the extension and the answers back
// (the page API, docs/signing-api.md):
//   window.postMessage({type: 'quil-ping'})                -> {type: 'quil-pong', version}
//   window.postMessage({type: 'quil-sign', id, text})      -> {type: 'quil-sign-result', id, ok,
//                                                               signature, cn, serial | reason}
// Runs before the page's own scripts; a page pings until it is answered.
(() => {
  const api = globalThis.browser ?? globalThis.chrome;
  const reply = (message) => window.postMessage(message, window.location.origin);

  window.addEventListener('message', (event) => {
    if (event.source !== window || event.origin !== window.location.origin) return;
    const data = event.data;
    if (!data || typeof data !== 'object') return;
    if (data.type === 'quil-ping') {
      reply({ type: 'quil-pong', version: api.runtime.getManifest().version });
      return;
    }
    if (data.type !== 'quil-sign') return;
    const id = data.id;
    if (typeof id !== 'string' && typeof id !== 'number') return;
    const text = typeof data.text === 'string' ? data.text : '';
    api.runtime.sendMessage({ type: 'sign', text }).then(
      (answer) => reply({ type: 'quil-sign-result', id, ...(answer || { ok: false, reason: 'extension-unavailable' }) }),
      () => reply({ type: 'quil-sign-result', id, ok: false, reason: 'extension-unavailable' }));
  });
})();
