// Start-up of the main page.
import { call } from './bridge.js';
import { readReply } from './reply_reader.js';
import { showAbout, showMessage, startUiHost } from './ui_host.js';

// Every eye button shows its password only while it is held down.
function wireEyeButtons() {
  for (const eye of document.querySelectorAll('.secret .eye')) {
    const input = eye.parentElement.querySelector('input');
    const show = (on) => { input.type = on ? 'text' : 'password'; };
    eye.addEventListener('pointerdown', () => show(true));
    for (const ev of ['pointerup', 'pointerleave', 'blur']) eye.addEventListener(ev, () => show(false));
  }
}

async function start() {
  wireEyeButtons();
  // The token is in the cookie now; keep it out of the address bar.
  if (location.search) history.replaceState(null, '', '/');
  startUiHost();
  document.getElementById('btn-about').addEventListener('click', showAbout);
  try {
    const version = readReply(await call('getClientVersion'));
    document.getElementById('version').textContent = 'Version:' + version.clientVersion;
  } catch (e) {
    await showMessage(e.message);
  }
}

start();
