// The guided start and the road of an application: authorisation code
// (password sheet or online code), agreement, application and saving the
// certificate file.
import { call } from './bridge.js';
import { showLocalCert, showServerCerts } from './cert_view.js';
import { alertText, coded, confirmText, serverText, writeLog } from './messages.js';
import { refreshFnStatus } from './menu.js';
import { CODE_6, LETTERS_OR_DIGITS_6_10, state } from './page_state.js';
import { readReply } from './reply_reader.js';
import { $, fieldText, showScreen } from './screens.js';
import { onAction } from './ui_host.js';

const LOCK_S = 300;

// The issued certificate waiting to be saved.
let issued = { b64Cert: '', applyId: '' };

// --- the re-request lock of the code button ------------------------------

let lockLeft = LOCK_S;
let lockTimer = null;

function startRequestLock() {
  $('btn-request-again').disabled = true;
  $('btn-request-code').disabled = true;
  lockLeft = LOCK_S;
  if (lockTimer) clearInterval(lockTimer);
  lockTimer = setInterval(() => {
    lockLeft -= 1;
    $('request-lock-text').textContent = lockLeft > 0 ? `${lockLeft} 秒後可重新申請認證碼` : '';
    if (lockLeft <= 0) {
      clearInterval(lockTimer);
      lockTimer = null;
      lockLeft = LOCK_S;
      $('btn-request-again').disabled = false;
      $('btn-request-code').disabled = false;
    }
  }, 1000);
}

// Ends the lock at the next tick.
function endRequestLock() {
  lockLeft = 0;
}

// --- guided start --------------------------------------------------------

export async function guidedStart() {
  const first = state.fnStatus.charAt(0);
  const second = state.fnStatus.charAt(1);
  if (first === '1' || first === '3') {
    const source = state.applyPwBag;
    if (!['A', 'B', 'C'].includes(source)) return showScreen('overview');
    const yes = await confirmText('您要現在線上申請憑證嗎？');
    if (!yes) return showScreen('overview');
    state.doApplyCertProcess = true;
    if (source === 'A') return showSheetCode();
    if (source === 'B') return showOnlineCode();
    return showOnlineRequest();
  }
  if (first === '2') {
    if (await confirmText('您的憑證申請操作未完成，繼續進行憑證申請？')) return applicationStep();
    return showScreen('overview');
  }
  if (second === '1') {
    if (await confirmText('您的憑證即將到期，直接進行憑證更新？')) return showLater('更新憑證');
    return showScreen('overview');
  }
  if (second === '2') {
    if (await confirmText('您的憑證更新操作尚未完成，繼續進行憑證更新？')) return showLater('更新憑證');
  }
  return showScreen('overview');
}

// --- application from the menu ---------------------------------------------

async function applyFromMenu() {
  state.doApplyCertProcess = true;
  await refreshFnStatus();
  if (state.revokeOKcanNew) {
    state.useOnlinePw = true;
    return showAgreement();
  }
  if (state.fnStatus.charAt(0) === '2') {
    if (await confirmText('您的憑證申請操作未完成，繼續進行憑證申請？')) return applicationStep();
    return;
  }
  if (state.effectCertCount > 0) {
    if (await confirmText('您仍擁有有效憑證，要註銷再重新申請？')) return showLater('註銷憑證');
    return;
  }
  if (state.applyPwBag === 'A') return showSheetCode();
  if (state.applyPwBag === 'B') return showOnlineCode();
  if (await confirmText('您要現在線上申請憑證嗎？')) return showOnlineRequest();
}

// --- sheet code ------------------------------------------------------------

function showSheetCode() {
  $('sheet-code').value = '';
  showScreen('sheetcode');
}

// The code field's checks, shared by the sheet and the online code.
async function codeFrom(id) {
  const code = fieldText(id);
  if (!code) {
    await alertText('請輸入憑證認證碼！');
    return null;
  }
  if (!CODE_6.test(code)) {
    await alertText('密碼須為6碼英文或數字！');
    return null;
  }
  return code;
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
  showAgreement();
}

// --- online code -----------------------------------------------------------

function showOnlineRequest() {
  const email = $('notify-email');
  const sms = $('notify-sms');
  email.disabled = !state.userEmail;
  sms.disabled = !state.userMobile;
  $('notify-email-text').textContent = state.userEmail ? `(${state.userEmail})` : '(未提供)';
  $('notify-sms-text').textContent = state.userMobile ? `(${state.userMobile})` : '(未提供)';
  email.parentElement.classList.toggle('disabled', email.disabled);
  sms.parentElement.classList.toggle('disabled', sms.disabled);
  email.checked = !email.disabled;
  sms.checked = email.disabled && !sms.disabled;
  $('birthday').value = '';
  $('onlinereq-notice').textContent = serverText(state.applyOnlinePwNotice);
  showScreen('onlinereq');
}

function showOnlineCode() {
  $('online-code').value = '';
  showScreen('onlinecode');
}

const REQUEST_REFUSALS = { '-7': '3109', '-8': '3110', '-11': '3111', '-12': '3112', '-13': '3113', '-14': '3114' };
const VERIFY_REFUSALS = { '-1': '3115', '-2': '3116', '-3': '3117', '-4': '3118' };

async function requestOnlineCode(e) {
  e.preventDefault();
  if (!state.userEmail && !state.userMobile) return alertText('查無您的手機或是email！');
  const bySms = $('notify-sms').checked;
  const notifyType = bySms ? '1' : '0';
  const address = bySms ? state.userMobile : state.userEmail;
  const birthday = fieldText('birthday');
  if (!birthday) return alertText('請輸日出生年月日！');
  if (!/^\d{8}$/.test(birthday)) return alertText('出生年月日格式錯誤！');
  const reply = readReply(await call('getOnlinePw', state.userIdno, state.userAid, notifyType, address, birthday, 'new'));
  if (reply.errCode !== '0') return alertText(reply.errMsg);
  if (reply.rtnCode !== '0') {
    await writeLog(REQUEST_REFUSALS[reply.rtnCode] ?? '3109');
    return coded(reply.rtnCode, serverText(reply.rtnMsg).replace(/@/g, '申請'));
  }
  showOnlineCode();
  startRequestLock();
}

async function verifyOnlineCode(e) {
  e.preventDefault();
  const code = await codeFrom('online-code');
  if (code === null) return;
  const reply = readReply(await call('verifyOnlinePw', state.userIdno, state.userAid, code, 'new'));
  if (reply.rtnCode !== '0') {
    await writeLog(VERIFY_REFUSALS[reply.rtnCode] ?? '');
    if (reply.rtnCode === '-3') endRequestLock();
    await coded(reply.rtnCode ?? reply.errCode, serverText(reply.rtnMsg || reply.errMsg).replace(/@/g, '申請'));
    return;
  }
  await writeLog('3122');
  endRequestLock();
  await alertText('憑證認證碼驗證成功！');
  state.useOnlinePw = true;
  state.applyPwid = reply.pwid ?? '';
  showAgreement();
}

// --- agreement and application ----------------------------------------------

function showAgreement() {
  $('agreement-frame').src = 'agreement/apply.html';
  showScreen('agreement');
}

// The agreement pages in the frame call back here.
onAction(window, 'message', async (e) => {
  if (e.origin !== location.origin || e.source !== $('agreement-frame').contentWindow) return;
  if (e.data?.agreement === 'btnApplyCertOnClick') await applicationStep();
  if (e.data?.agreement === 'renderSelectSigner') showLater('更新憑證');
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
  issued = { b64Cert: reply.b64Cert ?? '', applyId: reply.applyId ?? '' };
  await showSave();
}

// --- saving the certificate file ----------------------------------------------

async function showSave() {
  const reply = readReply(await call('getClientPfxFilePath'));
  $('save-path').value = reply.pfxFilePath ?? '';
  $('save-pw').value = '';
  $('save-pw2').value = '';
  showScreen('save');
}

async function browseSaveFolder() {
  const reply = readReply(await call('openFileChooser'));
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
  await writeLog(renewal ? '4014' : '3123');
  await alertText('憑證儲存完成！');
  await writeLog(renewal ? '4000' : state.useOnlinePw ? '3100' : '3000');
  issued = { b64Cert: '', applyId: '' };
  await refreshFnStatus();
  const server = readReply(await call('qrySvrCertInfo2', state.userIdno));
  if (server.errCode === '0') showServerCerts(server);
  state.userPfxPath = path;
  const local = readReply(await call('qryPfxCertInfo', state.userIdno, path, pw));
  showLocalCert(local.errCode === '0' ? local : null);
  showScreen('overview');
  if (await confirmText('您要現在將憑證匯入瀏覽器嗎？')) {
    await writeLog(renewal ? '4201' : '3201');
    showScreen('deploy');
  } else {
    await writeLog(renewal ? '4211' : '3211');
  }
}

// --- functions of later versions ---------------------------------------------

function showLater(title) {
  $('later-title').textContent = title;
  showScreen('later');
}

export function startApplyFlow() {
  onAction(document.querySelector('#menu [data-fn=apply]'), 'click', applyFromMenu);
  const later = { renew: '更新憑證', query: '查詢憑證', revoke: '註銷憑證', pfxpwd: '變更憑證密碼', backup: '備份憑證' };
  for (const [fn, title] of Object.entries(later))
    onAction(document.querySelector(`#menu [data-fn=${fn}]`), 'click', () => showLater(title));
  onAction(document.querySelector('#menu [data-fn=deploy]'), 'click', () => showScreen('deploy'));
  onAction($('form-sheetcode'), 'submit', verifySheetCode);
  onAction($('btn-sheet-to-online'), 'click', showOnlineRequest);
  onAction($('form-onlinereq'), 'submit', requestOnlineCode);
  onAction($('form-onlinecode'), 'submit', verifyOnlineCode);
  onAction($('btn-request-again'), 'click', showOnlineRequest);
  onAction($('form-save'), 'submit', saveCertificate);
  onAction($('btn-save-browse'), 'click', browseSaveFolder);
}
