// The road of an application: authorisation code (password sheet or online
// code), agreement, application, and saving the certificate file, which a
// renewal ends with as well.
import { call } from './bridge.js';
import { showLocalCert, showServerCerts } from './cert_view.js';
import { alertText, coded, confirmText, serverText, writeLog } from './messages.js';
import { refreshFnStatus } from './menu.js';
import { codeFrom, onCodeVerified, showOnlineCode, showOnlineRequest } from './online_code.js';
import { LETTERS_OR_DIGITS_6_10, state } from './page_state.js';
import { readPathReply, readReply } from './reply_reader.js';
import { $, fieldText, showAgreement, showScreen } from './screens.js';
import { onAction } from './ui_host.js';

// The issued certificate waiting to be saved.
let issued = { b64Cert: '', applyId: '' };

// --- application from the menu and the guided start -----------------------

// The application's first step by the customer's code source.
export async function startApplication() {
  state.doApplyCertProcess = true;
  const source = state.applyPwBag;
  if (source === 'A') return showSheetCode();
  if (source === 'B') return showOnlineCode('apply');
  if (await confirmText('您要現在線上申請憑證嗎？')) return showOnlineRequest('apply');
}

// An application that was issued but not stored yet.
export async function askToContinueApplication() {
  state.doApplyCertProcess = true;
  if (await confirmText('您的憑證申請操作未完成，繼續進行憑證申請？')) return applicationStep();
  return false;
}

// The application terms, then the application as an online-code one that
// uses `pwid` (a revocation's code starts the application after it).
export function applyWithCode(pwid) {
  state.doApplyCertProcess = true;
  state.useOnlinePw = true;
  state.applyPwid = pwid;
  showApplicationAgreement();
}

async function applyFromMenu() {
  state.doApplyCertProcess = true;
  await refreshFnStatus();
  if (state.revokeOKcanNew) return applyWithCode(state.applyPwid);
  if (state.fnStatus.charAt(0) === '2') return askToContinueApplication();
  if (state.effectCertCount > 0) {
    if (await confirmText('您仍擁有有效憑證，要註銷再重新申請？')) return showOnlineRequest('revoke');
    return;
  }
  return startApplication();
}

// --- sheet code ------------------------------------------------------------

export function showSheetCode() {
  $('sheet-code').value = '';
  showScreen('sheetcode');
}

const SHEET_REFUSALS = { '-2': '3009', '-3': '3124' };

async function verifySheetCode(e) {
  e.preventDefault();
  const code = await codeFrom('sheet-code');
  if (code === null) return;
  const reply = readReply(await call('verifyPwBag', state.userIdno, state.userAid, code));
  if (reply.rtnCode !== '0') {
    await writeLog(SHEET_REFUSALS[reply.rtnCode] ?? '');
    await coded(reply.rtnCode ?? reply.errCode, serverText(reply.rtnMsg || reply.errMsg).replace(/@/g, '申請'));
    return;
  }
  await writeLog('3121');
  await alertText('憑證認證碼驗證成功！');
  state.useOnlinePw = false;
  state.applyPwid = '';
  showApplicationAgreement();
}

// --- agreement and application ----------------------------------------------

export function showApplicationAgreement() {
  showAgreement('agreement/apply.html');
}

// The application agreement calls back here (page 103's next button).
onAction(window, 'message', async (e) => {
  if (e.origin !== location.origin || e.source !== $('agreement-frame').contentWindow) return;
  if (e.data?.agreement === 'btnApplyCertOnClick') await applicationStep();
});

const APPLY_FAILURES = {
  3001: ['3101', '3001', '憑證申請作業失敗！'],
  3002: ['3102', '3002', '憑證申請作業失敗！\n憑證狀態異常，無法申請憑證。'],
  3003: ['3103', '3003', '憑證申請作業失敗！\n產生憑證請求資訊(CSR)失敗。'],
  3004: ['3104', '3004', null],
};

async function applicationStep() {
  // The common name comes from the identity number of the login.
  const reply = readReply(await call('crtNewCert2', state.userIdno, state.applyPwid));
  await refreshFnStatus();
  if (reply.errCode !== '0') {
    const row = APPLY_FAILURES[reply.errCode];
    let code;
    let text;
    if (row) {
      code = state.useOnlinePw ? row[0] : row[1];
      text = row[2] ?? (state.useOnlinePw ? '憑證安裝失敗！' : '憑證申請作業失敗！\n向伺服器端提出憑證申請失敗。');
    } else {
      code = state.useOnlinePw ? '3105' : '3005';
      text = '憑證申請作業失敗！';
    }
    await writeLog(code);
    return coded(code, text);
  }
  await showSave(reply);
}

// --- saving the certificate file ----------------------------------------------

// The save screen for a certificate handed back by crtNewCert2 or
// replaceCert2 (`b64Cert`, `applyId`).
export async function showSave(reply) {
  // With the store profile the method has already stored the certificate
  // and reported it (success with no certificate to hand back).
  if (!reply.b64Cert) return afterStored(!state.doApplyCertProcess, null);
  issued = { b64Cert: reply.b64Cert ?? '', applyId: reply.applyId ?? '' };
  const prefill = readReply(await call('getClientPfxFilePath'));
  $('save-path').value = prefill.pfxFilePath ?? '';
  $('save-pw').value = '';
  $('save-pw2').value = '';
  showScreen('save');
}

async function browseSaveFolder() {
  const reply = readPathReply(await call('openFileChooser'));
  if (reply.path) $('save-path').value = reply.path + state.userIdno + '.P12';
}

async function saveCertificate(e) {
  e.preventDefault();
  const renewal = !state.doApplyCertProcess;
  if (!issued.b64Cert || !issued.applyId) return alertText('憑證申請發生錯誤！');
  const path = fieldText('save-path');
  const pw = fieldText('save-pw');
  const pw2 = fieldText('save-pw2');
  if (!path) return alertText('請輸入憑證檔存檔路徑！');
  if (!pw || !pw2) return alertText('請輸入憑證檔密碼！');
  if (!LETTERS_OR_DIGITS_6_10.test(pw) || !LETTERS_OR_DIGITS_6_10.test(pw2)) return alertText('密碼須為英文或數字6~10碼！');
  if (pw !== pw2) return alertText('憑證密碼不一致！');
  const exists = readReply(await call('isFileExist', path));
  if (exists.errCode === '0' && !(await confirmText('路徑已有同檔名的檔案，是否要覆寫？'))) return;

  const reply = readReply(await call('savePfx2', issued.applyId, issued.b64Cert, path, pw));
  if (reply.errCode !== '0') {
    const online = state.useOnlinePw;
    let code;
    let text;
    if (reply.errCode === '3006') {
      code = renewal ? '4011' : online ? '3106' : '3006';
      text = renewal ? '憑證展期失敗，請確認憑證儲存路徑！' : '憑證安裝失敗，請確認憑證儲存路徑！';
    } else if (reply.errCode === '3007') {
      code = renewal ? '4012' : online ? '3107' : '3007';
      text = renewal ? '憑證展期狀態回報失敗！' : '憑證申請狀態回報失敗！';
    } else {
      code = renewal ? '4013' : online ? '3108' : '3008';
      text = '憑證儲存作業失敗！';
    }
    await writeLog(code);
    return coded(code, text);
  }
  await afterStored(renewal, { path, pw });
}

// A certificate stored: in the file `file` ({ path, pw }), or, with `file`
// null, in the store by the application or renewal method itself.
async function afterStored(renewal, file) {
  await writeLog(renewal ? '4014' : '3123');
  await alertText('憑證儲存完成！');
  await writeLog(renewal ? '4000' : state.useOnlinePw ? '3100' : '3000');
  issued = { b64Cert: '', applyId: '' };
  await refreshFnStatus();
  const server = readReply(await call('qrySvrCertInfo2', state.userIdno));
  if (server.errCode === '0') showServerCerts(server);
  if (file) {
    state.userPfxPath = file.path;
    const local = readReply(await call('qryPfxCertInfo', state.userIdno, file.path, file.pw));
    showLocalCert(local.errCode === '0' ? local : null);
  }
  showScreen('overview');
  if (await confirmText('您要現在將憑證匯入瀏覽器嗎？')) {
    await writeLog(renewal ? '4201' : '3201');
    showScreen('deploy');
  } else {
    await writeLog(renewal ? '4211' : '3211');
  }
}

export function startApplyFlow() {
  onAction(document.querySelector('#menu [data-fn=apply]'), 'click', applyFromMenu);
  onAction($('form-sheetcode'), 'submit', verifySheetCode);
  onAction($('btn-sheet-to-online'), 'click', () => showOnlineRequest('apply'));
  onAction($('form-save'), 'submit', saveCertificate);
  onAction($('btn-save-browse'), 'click', browseSaveFolder);
  onCodeVerified('apply', async (pwid) => {
    state.useOnlinePw = true;
    state.applyPwid = pwid;
    showApplicationAgreement();
  });
}
