// The road of a renewal: the renewal terms (page 160), an online code, the
// current certificate file whose key signs the new request, the renewal,
// and the save screen as after an application.
import { showSave } from './apply_flow.js';
import { call } from './bridge.js';
import { alertText, coded, confirmText, writeLog } from './messages.js';
import { refreshFnStatus } from './menu.js';
import { onCodeVerified, showOnlineRequest } from './online_code.js';
import { LETTERS_OR_DIGITS_6_10, state } from './page_state.js';
import { readPathReply, readReply } from './reply_reader.js';
import { $, fieldText, showAgreement, showScreen } from './screens.js';
import { onAction } from './ui_host.js';

export function showRenewalAgreement() {
  state.doApplyCertProcess = false;
  showAgreement('agreement/renew.html');
}

// A renewal issued but not stored yet goes on from its code request.
export function continueRenewal() {
  state.doApplyCertProcess = false;
  showOnlineRequest('renew');
}

async function renewFromMenu() {
  state.doApplyCertProcess = false;
  await refreshFnStatus();
  if (state.fnStatus.charAt(1) === '2') {
    if (await confirmText('您的憑證更新操作尚未完成，繼續進行憑證更新？')) continueRenewal();
    return;
  }
  showRenewalAgreement();
}

// The renewal agreement calls back here (page 160's next button).
onAction(window, 'message', async (e) => {
  if (e.origin !== location.origin || e.source !== $('agreement-frame').contentWindow) return;
  if (e.data?.agreement === 'renderSelectSigner') continueRenewal();
});

// --- the current certificate file ----------------------------------------------

async function showRenewalFile() {
  const prefill = readReply(await call('getClientPfxFilePath'));
  $('renew-path').value = prefill.pfxFilePath ?? '';
  $('renew-pw').value = '';
  showScreen('renewfile');
}

async function browseRenewalFile() {
  const reply = readPathReply(await call('openFileChooser2'));
  if (reply.path) $('renew-path').value = reply.path;
}

// replaceCert2's code → [page code, message].
const RENEW_FAILURES = {
  4001: ['4001', '憑證展期失敗！'],
  4002: ['4002', '憑證展期失敗！\n憑證狀態異常，無法展期憑證。'],
  4003: ['4003', '憑證展期失敗！\n取得舊憑證資訊失敗。'],
  4004: ['4004', '憑證展期失敗！\n產生憑證請求資訊(CSR)失敗。'],
  52301: ['4005', '憑證展期失敗！\n請重新選擇憑證檔案位置。'],
  52203: ['4006', '憑證展期失敗！\n讀取PKCS12憑證檔失敗，請重新選擇憑證檔案位置。'],
  52205: ['4007', '憑證展期失敗！\n請確認選擇正確的憑證檔案。'],
  52207: ['4007', '憑證展期失敗！\n憑證內容資訊核對錯誤，請重新選擇憑證檔。'],
  52303: ['4008', '憑證展期失敗！\n憑證密碼輸入錯誤，請重新輸入。'],
  4009: ['4009', '憑證展期失敗！\n伺服器端回應憑證更新失敗。'],
};

async function renew(e) {
  e.preventDefault();
  const path = fieldText('renew-path');
  const pw = fieldText('renew-pw');
  if (!path) return alertText('請輸入憑證檔路徑！');
  if (!pw) return alertText('請輸入憑證檔密碼！');
  if (!LETTERS_OR_DIGITS_6_10.test(pw)) return alertText('密碼須為英文或數字6~10碼！');
  state.doApplyCertProcess = false;
  const reply = readReply(await call('replaceCert2', state.userIdno, path, pw));
  await refreshFnStatus();
  if (reply.errCode !== '0') {
    const [code, text] = RENEW_FAILURES[reply.errCode] ?? ['4010', '憑證展期失敗！'];
    await writeLog(code);
    return coded(code, text);
  }
  await showSave(reply);
}

export function startRenewFlow() {
  onAction(document.querySelector('#menu [data-fn=renew]'), 'click', renewFromMenu);
  onAction($('form-renewfile'), 'submit', renew);
  onAction($('btn-renew-browse'), 'click', browseRenewalFile);
  onCodeVerified('renew', async (pwid) => {
    state.applyPwid = pwid;
    await showRenewalFile();
  });
}
