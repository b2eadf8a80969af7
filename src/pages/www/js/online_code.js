// The online authorisation code, requested by e-mail or SMS and entered on
// the next screen, for the three tasks that need one: application and
// renewal (applyType "new") and revocation ("revoke"). Each task says what
// happens once its code is accepted (onCodeVerified).
import { call } from './bridge.js';
import { alertText, coded, confirmText, serverText, writeLog } from './messages.js';
import { CODE_6, state } from './page_state.js';
import { readReply } from './reply_reader.js';
import { $, fieldText, showScreen } from './screens.js';
import { onAction } from './ui_host.js';

const LOCK_S = 300;

// What differs between the tasks: texts, applyType, audit codes.
const PURPOSES = {
  apply: {
    title: '申請線上認證碼', entryTitle: '輸入線上認證碼', verifyLabel: '驗證', applyType: 'new', word: '申請',
    notice: () => state.applyOnlinePwNotice, accepted: '3122',
    requestRefusals: { '-7': '3109', '-8': '3110', '-11': '3111', '-12': '3112', '-13': '3113', '-14': '3114' },
    requestRefused: '3109',
    verifyRefusals: { '-1': '3115', '-2': '3116', '-3': '3117', '-4': '3118' },
  },
  revoke: {
    title: '申請註銷認證碼', entryTitle: '輸入註銷認證碼', verifyLabel: '註銷', applyType: 'revoke', word: '註銷',
    notice: () => state.revokeOnlinePwNotice, accepted: '8015',
    requestRefusals: { '-7': '8001', '-8': '8002', '-9': '8003', '-11': '8004', '-12': '8005', '-13': '8006', '-14': '8007' },
    requestRefused: '8001',
    verifyRefusals: { '-1': '8008', '-2': '8009', '-3': '8010', '-4': '8011' },
    // Revocation cannot be undone: the customer says so before anything is sent.
    confirm: '註銷後，此憑證即不能再用於網路下單，也無法恢復。\n確定要註銷憑證嗎？',
  },
};
// Renewal asks for its code as an application does.
PURPOSES.renew = { ...PURPOSES.apply, title: '申請更新認證碼', entryTitle: '輸入更新認證碼' };

let purpose = 'apply';
const verifiedHandlers = {};

// `handler(pwid)` runs when a code of `task` ('apply', 'renew', 'revoke')
// is accepted.
export function onCodeVerified(task, handler) {
  verifiedHandlers[task] = handler;
}

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

// --- screens ---------------------------------------------------------------

// The code request screen of `task`.
export function showOnlineRequest(task = purpose) {
  purpose = task;
  const p = PURPOSES[purpose];
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
  $('onlinereq-title').textContent = p.title;
  $('onlinereq-notice').textContent = serverText(p.notice());
  showScreen('onlinereq');
}

// The code entry screen of `task`.
export function showOnlineCode(task = purpose) {
  purpose = task;
  const p = PURPOSES[purpose];
  $('online-code').value = '';
  $('onlinecode-title').textContent = p.entryTitle;
  $('btn-verify-code').textContent = p.verifyLabel;
  showScreen('onlinecode');
}

// The code field's checks, shared by the sheet and the online code; null
// after a message.
export async function codeFrom(id) {
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

async function requestOnlineCode(e) {
  e.preventDefault();
  const p = PURPOSES[purpose];
  if (!state.userEmail && !state.userMobile) return alertText('查無您的手機或是email！');
  const bySms = $('notify-sms').checked;
  const notifyType = bySms ? '1' : '0';
  const address = bySms ? state.userMobile : state.userEmail;
  const birthday = fieldText('birthday');
  if (!birthday) return alertText('請輸日出生年月日！');
  if (!/^\d{8}$/.test(birthday)) return alertText('出生年月日格式錯誤！');
  const reply = readReply(await call('getOnlinePw', state.userIdno, state.userAid, notifyType, address, birthday,
    p.applyType));
  if (reply.errCode !== '0') return alertText(reply.errMsg);
  if (reply.rtnCode !== '0') {
    await writeLog(p.requestRefusals[reply.rtnCode] ?? p.requestRefused);
    return coded(reply.rtnCode, serverText(reply.rtnMsg).replace(/@/g, p.word));
  }
  showOnlineCode();
  startRequestLock();
}

async function verifyOnlineCode(e) {
  e.preventDefault();
  const p = PURPOSES[purpose];
  const code = await codeFrom('online-code');
  if (code === null) return;
  if (p.confirm && !(await confirmText(p.confirm))) return;
  const reply = readReply(await call('verifyOnlinePw', state.userIdno, state.userAid, code, p.applyType));
  if (reply.rtnCode !== '0') {
    await writeLog(p.verifyRefusals[reply.rtnCode] ?? '');
    if (reply.rtnCode === '-3') endRequestLock();
    await coded(reply.rtnCode ?? reply.errCode, serverText(reply.rtnMsg || reply.errMsg).replace(/@/g, p.word));
    return;
  }
  await writeLog(p.accepted);
  endRequestLock();
  await alertText('憑證認證碼驗證成功！');
  await verifiedHandlers[purpose]?.(reply.pwid ?? '');
}

export function startOnlineCode() {
  onAction($('form-onlinereq'), 'submit', requestOnlineCode);
  onAction($('form-onlinecode'), 'submit', verifyOnlineCode);
  onAction($('btn-request-again'), 'click', () => showOnlineRequest());
}
