// The road of a revocation: an online code for revocation, the revocation
// at the proxy, the certificates taken out of the browsers, and the offer
// to apply again straight away with the same code.
import { applyWithCode } from './apply_flow.js';
import { call } from './bridge.js';
import { removeBrowserCertificates } from './browser_removal.js';
import { markLocalRevoked, showServerCerts } from './cert_view.js';
import { alertText, coded, confirmText, serverText, writeLog } from './messages.js';
import { refreshFnStatus } from './menu.js';
import { onCodeVerified, showOnlineRequest } from './online_code.js';
import { state } from './page_state.js';
import { readReply } from './reply_reader.js';
import { showScreen } from './screens.js';
import { onAction } from './ui_host.js';

const button = (fn) => document.querySelector(`#menu [data-fn=${fn}]`);

async function revoke(pwid) {
  const reply = readReply(await call('crtRevokeCert2', state.userIdno, pwid));
  // The exchange answers 0 whenever the proxy answered at all; whether it
  // revoked is its rvkCode.
  if (reply.errCode !== '0' || reply.rvkCode !== '0') {
    await writeLog('8012');
    const why = reply.errCode === '0' ? serverText(reply.rvkMsg) : '';
    return coded('8012', '憑證註銷失敗！\n向伺服器端提出憑證註銷失敗。' + (why ? `\n${why}` : ''));
  }
  await writeLog('8000');
  // Every valid certificate of the customer is revoked, the file's too.
  markLocalRevoked();
  await alertText('憑證註銷成功！');
  state.revokeOKcanNew = true;
  state.applyPwid = pwid;
  await removeBrowserCertificates();
  await writeLog('8201');
  if (await confirmText('您要現在重新申請電腦憑證？')) return applyWithCode(pwid);
  await refreshFnStatus();
  const server = readReply(await call('qrySvrCertInfo2', state.userIdno));
  if (server.errCode === '0') showServerCerts(server);
  showScreen('overview');
  button('renew').disabled = true;
  button('revoke').disabled = true;
}

export function startRevokeFlow() {
  onAction(button('revoke'), 'click', () => showOnlineRequest('revoke'));
  onCodeVerified('revoke', revoke);
}
