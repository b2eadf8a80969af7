// The login area: modes, branch lists, the remembered login, login, the
// first-login password change, logout and the timers.
import { call, callInFlight, callUnfrozen } from './bridge.js';
import { showServerCerts } from './cert_view.js';
import { guidedStart } from './guided_start.js';
import { alertText, coded, confirmText, serverText, writeLog } from './messages.js';
import { refreshFnStatus } from './menu.js';
import { LETTERS_OR_DIGITS_6_10, state, trimBoth } from './page_state.js';
import { readReply } from './reply_reader.js';
import { $, fieldText, showScreen } from './screens.js';
import { onAction, pageHandler } from './ui_host.js';

const AUTO_LOGOUT_S = 600;
const WARNING_S = 30;
const KEEP_ALIVE_MS = 300000;

const field = () => $('login-name');
const branch = () => $('branch');

function option(text, value) {
  const o = document.createElement('option');
  o.textContent = text;
  o.value = value;
  return o;
}

async function fillAllBranches() {
  const reply = readReply(await call('qryBranchAll'));
  const list = branch();
  list.replaceChildren(option('--請選擇分公司--', ''));
  for (const entry of String(reply.branch ?? '').split('||')) {
    if (!entry) continue;
    const [name, code = ''] = entry.split('#');
    const o = option(`${code} ${name}`, code);
    o.id = `branch-${code}`;
    list.append(o);
  }
}

async function fillBranchesOf(idno) {
  const reply = readReply(await call('qryBranchInfo', idno));
  const list = branch();
  list.replaceChildren();
  if (!reply.branch) {
    await alertText('查無所屬分公司！');
    return;
  }
  for (const entry of reply.branch.split('||')) {
    if (!entry) continue;
    const [text, value = ''] = entry.split('#');
    list.append(option(text, value));
  }
  list.selectedIndex = 0;
}

function setMode(account) {
  state.userAccount = account;
  document.querySelector(`input[name=login-mode][value=${account ? 'acc' : 'id'}]`).checked = true;
  $('label-login').textContent = account ? '帳號' : '身分證號';
  $('label-remember').textContent = account ? '記住帳號' : '記住身分證號';
  $('btn-branch-query').hidden = account;
}

async function switchMode(account) {
  setMode(account);
  field().value = '';
  branch().replaceChildren(account ? option('--請選擇分公司--', '') : option('', ''));
  if (account) await fillAllBranches();
}

// Identity check of the login field (cleaned and upper-cased first).
function loginFieldValid() {
  field().value = trimBoth(field().value).toUpperCase();
  return state.userAccount ? /^\d{7}$/.test(field().value) : /^[A-Z0-9]{1,12}$/.test(field().value);
}

function identityMessage() {
  return state.userAccount ? '帳號輸入錯誤，請確認帳號是否為半形之七碼數字' : '身分證字號輸入錯誤';
}

async function restoreLogin(info) {
  if (info.type === 'acc') {
    setMode(true);
    field().value = info.value;
    await fillAllBranches();
    const code = String(info.branch ?? '').slice(0, 4);
    const match = [...branch().options].find((o) => o.id === `branch-${code}`);
    if (match) match.selected = true;
  } else {
    setMode(false);
    field().value = info.value;
    await fillBranchesOf(info.value);
    const match = [...branch().options].find((o) => o.textContent === info.branch);
    if (match) match.selected = true;
  }
  $('remember').checked = true;
}

function lockLoginInputs(locked) {
  for (const id of ['login-name', 'password', 'branch', 'btn-branch-query', 'remember'])
    $(id).disabled = locked;
  for (const r of document.querySelectorAll('input[name=login-mode]')) r.disabled = locked;
  $('btn-login').textContent = locked ? '登出' : '登入';
}

// After a login or a first-login password change. The count-down starts
// here only, also when a step on the way fails: a customer logged in is
// always logged out when idle.
async function enterSession() {
  try {
    await refreshFnStatus();
    if (state.certCount > 0) {
      const reply = readReply(await call('qrySvrCertInfo2', state.userIdno));
      if (reply.errCode === '0') showServerCerts(reply);
    }
    await guidedStart();
  } finally {
    startAutoLogout();
  }
}

async function login() {
  if (!loginFieldValid()) return alertText(identityMessage());
  const password = fieldText('password');
  if (state.userAccount && !branch().value) return alertText('請選擇分公司！');
  if (!password) return alertText('登入密碼空白！');
  const aid = state.userAccount ? branch().value + field().value : branch().value;
  if (!aid) return alertText('請輸入登入帳號！');
  if (!LETTERS_OR_DIGITS_6_10.test(password)) return alertText('密碼須為英文或數字6~10碼！');

  state.userAid = aid;
  const reply = readReply(await call('doLogin', aid, password));
  if (reply.errCode !== '0') {
    const listed = ['1001', '1002', '1003'].includes(reply.rtnCode);
    await writeLog(listed ? reply.rtnCode : '1999', true);
    if (reply.errMsg) await coded(reply.rtnCode ?? '', serverText(reply.rtnMsg));
    else await alertText('登入失敗！');
    if (reply.extraMsg) await alertText(serverText(reply.extraMsg));
    return;
  }
  state.userIdno = reply.id ?? '';
  state.userLogin = true;
  await writeLog('1000');
  if (reply.extraMsg) await alertText(serverText(reply.extraMsg));
  if ($('remember').checked) {
    const chosen = branch().selectedOptions[0]?.textContent ?? '';
    await call('setLoginInfo', state.userAccount ? 'acc' : 'id', field().value, chosen);
  } else {
    await call('setLoginInfo', '', '', '');
  }
  lockLoginInputs(true);
  $('password').value = '';
  state.userEmail = reply.email ?? '';
  state.userMobile = reply.mobile ?? '';
  state.userBirthday = reply.birthday ?? '';
  state.applyPwBag = reply.isApplyPwBag ?? '';
  state.applyOnlinePwNotice = reply.applyOnlinePwNotice ?? '';
  state.revokeOnlinePwNotice = reply.revokeOnlinePwNotice ?? '';
  if (reply.isFirstLogin === 'Y') {
    showScreen('pwchange');
    await alertText('首次登入，請變更密碼！');
    return;
  }
  await enterSession();
}

async function changeAccountPassword(e) {
  e.preventDefault();
  const current = fieldText('pw-current');
  const next = fieldText('pw-new');
  const confirm = fieldText('pw-confirm');
  if (!current || !next || !confirm) return alertText('請輸入密碼！');
  if (next === current) return alertText('新密碼與舊密碼相同！');
  if (!/^[A-Za-z0-9]*$/.test(next)) return alertText('密碼不得為英文及數字之外的值！');
  if (!/^(?=.*[A-Za-z])(?=.*\d)[A-Za-z0-9]{6,10}$/.test(next)) return alertText('密碼須為長度6~10碼英數字組合！');
  if (confirm !== next) return alertText('請確認輸入兩次相同的新密碼！');
  const reply = readReply(await call('changePw', state.userAid, current, next));
  if (reply.errCode !== '0') {
    if (reply.errMsg) {
      await writeLog('1104');
      await coded('1104', '目前密碼輸入錯誤，請重新輸入！');
    } else {
      await writeLog('1105');
      await coded('1105', '登入密碼變更失敗！');
    }
    if (reply.extraMsg) await alertText(serverText(reply.extraMsg));
    return;
  }
  await writeLog('1100');
  await alertText('登入密碼變更成功！');
  if (reply.extraMsg) await alertText(serverText(reply.extraMsg));
  for (const id of ['pw-current', 'pw-new', 'pw-confirm']) $(id).value = '';
  showScreen('overview');
  await enterSession();
}

async function logout() {
  if (!trimBoth(field().value)) return alertText('登入帳號空白！');
  if (!(await confirmText('確定要登出並離開 QUIL 憑證管理工具嗎？'))) return;
  const code = await call('doLogout', state.userIdno);
  if (code !== 0) {
    await writeLog('9001', true);
    await coded('9001', '登出失敗！');
    return;
  }
  await writeLog('9000', true);
  lockLoginInputs(false);
  await call('openApp');
}

// --- timers -------------------------------------------------------------

let lastActivity = Date.now();
let autoLogoutTimer = null;

function onActivity() {
  $('logout-warning').hidden = true;
  const now = Date.now();
  const idle = now - lastActivity;
  lastActivity = now;
  // The key or click goes on meanwhile; a lost keep-alive shows in the next
  // call the customer makes.
  if (idle > KEEP_ALIVE_MS) callUnfrozen('iAmAlive').catch(() => {});
}

function startAutoLogout() {
  lastActivity = Date.now();
  if (autoLogoutTimer) return;
  autoLogoutTimer = setInterval(pageHandler(async () => {
    // Nothing happens to the customer while a method runs.
    if (callInFlight()) return;
    const left = AUTO_LOGOUT_S - Math.round((Date.now() - lastActivity) / 1000);
    const warning = $('logout-warning');
    if (left <= 0) {
      clearInterval(autoLogoutTimer);
      await call('doLogout', state.userIdno);
      await call('closeApp');
    } else if (left <= WARNING_S) {
      $('logout-warning-text').textContent = `系統將在${left}秒後自動登出!!`;
      warning.hidden = false;
    } else {
      warning.hidden = true;
    }
  }), 1000);
}

// --- wiring -------------------------------------------------------------

export async function startLoginArea() {
  document.addEventListener('keydown', onActivity, true);
  document.addEventListener('mousedown', onActivity, true);

  for (const r of document.querySelectorAll('input[name=login-mode]'))
    onAction(r, 'change', () => switchMode(r.value === 'acc'));
  field().addEventListener('blur', () => {
    const v = trimBoth(field().value);
    if (state.userAccount) field().value = /^\d{1,7}$/.test(v) ? v.padStart(7, '0') : v;
    else field().value = v.toUpperCase();
  });
  onAction($('btn-branch-query'), 'click', async () => {
    if (!trimBoth(field().value)) return alertText('您未輸入身分證字號！');
    if (!loginFieldValid()) return alertText(identityMessage());
    await fillBranchesOf(field().value);
  });
  onAction($('login-form'), 'submit', async (e) => {
    e.preventDefault();
    if (state.userLogin) await logout();
    else await login();
  });
  onAction($('form-pwchange'), 'submit', changeAccountPassword);

  for (const id of ['login-name', 'password', 'branch', 'btn-branch-query', 'btn-login'])
    $(id).disabled = false;
  const info = readReply(await call('getLoginInfo'));
  if (info.value) await restoreLogin(info);
  else {
    setMode(true);
    await fillAllBranches();
  }
}
