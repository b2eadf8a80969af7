// Start-up of the main page.
import { startApplyFlow } from './apply_flow.js';
import { startDeployFlow } from './deploy_flow.js';
import { call } from './bridge.js';
import { startFileFlows } from './file_flows.js';
import { startLoginArea } from './login.js';
import { serverText } from './messages.js';
import { startOnlineCode } from './online_code.js';
import { readReply } from './reply_reader.js';
import { startRenewFlow } from './renew_flow.js';
import { startRevokeFlow } from './revoke_flow.js';
import { showScreen } from './screens.js';
import { onAction, openWebWindow, pageHandler, showAbout, showMessage, startUiHost } from './ui_host.js';
import { startWindowFit } from './window_fit.js';

// Every eye button shows its password only while it is held down: by the
// pointer, or by Space or Enter while the button has the focus.
function wireEyeButtons() {
  for (const eye of document.querySelectorAll('.secret .eye')) {
    const input = eye.parentElement.querySelector('input');
    const show = (on) => {
      input.type = on ? 'text' : 'password';
      eye.setAttribute('aria-pressed', String(on));
    };
    eye.setAttribute('aria-pressed', 'false');
    eye.addEventListener('pointerdown', () => show(true));
    for (const ev of ['pointerup', 'pointerleave', 'blur']) eye.addEventListener(ev, () => show(false));
    eye.addEventListener('keydown', (e) => {
      if (e.key !== ' ' && e.key !== 'Enter') return;
      e.preventDefault();
      show(true);
    });
    eye.addEventListener('keyup', (e) => { if (e.key === ' ' || e.key === 'Enter') show(false); });
  }
}

// The operator's notices; false when the client must not go on.
async function versionNotices() {
  const v = readReply(await call('versionCheck'));
  if (v.errCode !== '0') return false;
  if (v.isShowReportLink === 'true' && v.generalReportLink)
    openWebWindow(v.generalReportLink, Number(v.width) || 600, Number(v.height) || 400);
  if (v.isShowReportText === 'true' && v.generalReportText) await showMessage(serverText(v.generalReportText));
  if (v.notice) await showMessage(serverText(v.notice));
  if (v.available === 'false') {
    await call('closeApp');
    return false;
  }
  return true;
}

async function start() {
  startWindowFit();
  wireEyeButtons();
  // The token is in the cookie now; keep it out of the address bar.
  if (location.search) history.replaceState(null, '', '/');
  startUiHost();
  onAction(document.getElementById('btn-about'), 'click', showAbout);
  startOnlineCode();
  startApplyFlow();
  startRenewFlow();
  startRevokeFlow();
  startFileFlows();
  startDeployFlow();
  const version = readReply(await call('getClientVersion'));
  document.getElementById('version').textContent = 'Version:' + version.clientVersion;
  // The start screen stays until the client may be used.
  if (!(await versionNotices())) return;
  showScreen('overview');
  await startLoginArea();
}

pageHandler(start)();
