// The customer's own certificate file: changing its password, reading
// what it holds, and copying it elsewhere as a backup.
import { call, listFolder } from './bridge.js';
import { fileDetailRows, showLocalCert, showServerCerts } from './cert_view.js';
import { alertText, coded, confirmText, writeLog } from './messages.js';
import { LETTERS_OR_DIGITS_6_10, state } from './page_state.js';
import { readPathReply, readReply } from './reply_reader.js';
import { $, fieldText, focusHeading, showScreen } from './screens.js';
import { onAction } from './ui_host.js';

// The remembered certificate file into a path field.
async function prefillPath(id) {
  const reply = readReply(await call('getClientPfxFilePath'));
  $(id).value = reply.pfxFilePath ?? '';
}

// The file chooser into a path field; a cancel leaves it as it was.
async function chooseFile(id) {
  const reply = readPathReply(await call('openFileChooser2'));
  if (reply.path) $(id).value = reply.path;
}

// The folder chooser: the chosen folder with the customer's file name.
async function chooseFolder(id) {
  const reply = readPathReply(await call('openFileChooser'));
  if (reply.path) $(id).value = reply.path + state.userIdno + '.P12';
}

// What a file's failure code means to the customer: [log digit offset,
// second line]. The password change logs 50xx, the file read 60xx.
const FILE_FAILURES = {
  52301: ['1', '請重新選擇憑證檔案位置。'],
  54035: ['2', '取得舊憑證資訊失敗。'],
  52203: ['3', '讀取PKCS12憑證檔失敗，請重新選擇憑證檔案位置。'],
  52205: ['4', '請確認選擇正確的憑證檔案。'],
  52207: ['4', '憑證內容資訊核對錯誤，請重新選擇憑證檔。'],
  52303: ['5', '憑證密碼輸入錯誤，請重新輸入。'],
};

// Logs and shows the failure of a file task ("5" password change, "6" read).
async function fileFailure(task, errCode, title) {
  const row = FILE_FAILURES[errCode];
  const code = row ? `${task}00${row[0]}` : `${task}999`;
  await writeLog(code);
  return coded(code, row ? `${title}\n${row[1]}` : title);
}

// --- file password change ----------------------------------------------------

async function showPasswordChange() {
  await prefillPath('pfxpwd-path');
  for (const id of ['pfxpwd-current', 'pfxpwd-new', 'pfxpwd-confirm']) $(id).value = '';
  showScreen('pfxpwd');
}

async function changePassword(e) {
  e.preventDefault();
  const path = fieldText('pfxpwd-path');
  const current = fieldText('pfxpwd-current');
  const next = fieldText('pfxpwd-new');
  const confirm = fieldText('pfxpwd-confirm');
  if (!path) return alertText('請選擇憑證檔！');
  if (!current || !next || !confirm) return alertText('請輸入密碼！');
  if (!LETTERS_OR_DIGITS_6_10.test(next)) return alertText('密碼須為英文或數字6~10碼！');
  if (next === current) return alertText('新密碼與舊密碼相同！');
  if (next !== confirm) return alertText('憑證密碼不一致！');
  const reply = readReply(await call('changePfxPwd2', state.userIdno, path, current, next));
  if (reply.errCode !== '0') return fileFailure('5', reply.errCode, '憑證密碼變更失敗！');
  await writeLog('5000');
  for (const id of ['pfxpwd-current', 'pfxpwd-new', 'pfxpwd-confirm']) $(id).value = '';
  await alertText('憑證密碼變更完成！');
}

// --- reading a certificate file ------------------------------------------------

async function showFileRead() {
  await prefillPath('query-path');
  $('query-pw').value = '';
  $('query-result').hidden = true;
  showScreen('query');
}

// Checks the path and password typed, then reads the file's record
// (qryPfxCertInfo); null after the message of what is wrong. The browser
// screen reads its file the same way.
export async function readCertificateFile(path, pw) {
  const missing = !path ? '請輸入憑證檔路徑！' : !pw ? '請輸入憑證檔密碼！' : '';
  if (missing) {
    await alertText(missing);
    return null;
  }
  const record = readReply(await call('qryPfxCertInfo', state.userIdno, path, pw));
  if (record.errCode === '0') return record;
  await fileFailure('6', record.errCode, '憑證查詢失敗！');
  return null;
}

// The file's details stay on this screen, where the focus goes; the
// overview's blocks follow as well.
async function readFile(e) {
  e.preventDefault();
  const path = fieldText('query-path');
  $('query-result').hidden = true;
  const record = await readCertificateFile(path, fieldText('query-pw'));
  if (!record) return;
  state.userPfxPath = path;
  const server = readReply(await call('qrySvrCertInfo2', state.userIdno));
  if (server.errCode === '0') showServerCerts(server);
  showLocalCert(record);
  const result = $('query-result');
  result.querySelector('.rows').replaceChildren(fileDetailRows(record));
  result.hidden = false;
  focusHeading($('query-result-title'));
  await writeLog('6000');
}

// --- backup copy -----------------------------------------------------------------

async function showBackup() {
  await prefillPath('backup-source');
  $('backup-target').value = '';
  showScreen('backup');
}

const lastSeparator = (path) => Math.max(path.lastIndexOf('/'), path.lastIndexOf('\\'));

// The folder part of a path ("" when it has none).
function folderOf(path) {
  const at = lastSeparator(path);
  return at < 0 ? '' : at === 0 ? path[0] : path.slice(0, at);
}

// Where the backup goes. A folder gets the source file's own name inside
// it: a folder that exists, a path ending in a separator, or one whose last
// part has no extension (a file is never named like a folder).
export async function backupTarget(source, target) {
  const name = source.slice(lastSeparator(source) + 1);
  const last = target.slice(lastSeparator(target) + 1);
  const asFolder = last === '' || !last.includes('.') || (await listFolder(target)) !== null;
  if (!asFolder) return target;
  const separator = target.includes('\\') && !target.includes('/') ? '\\' : '/';
  return (last === '' ? target : target + separator) + name;
}

async function backUp(e) {
  e.preventDefault();
  const source = fieldText('backup-source');
  let target = fieldText('backup-target');
  if (!source) return alertText('請輸入來源端憑證檔路徑！');
  if (!target) return alertText('請輸入目的端憑證檔路徑！');
  target = await backupTarget(source, target);
  $('backup-target').value = target;
  if (source === target) return alertText('來源端憑證檔路徑與目的端憑證檔路徑相同！');
  const exists = readReply(await call('isFileExist', target));
  if (exists.errCode === '0' && !(await confirmText('路徑已有同檔名的檔案，是否要覆寫？'))) return;
  const reply = readReply(await call('copyFile', source, target));
  if (reply.errCode !== '0') {
    const missing = reply.errMsg === '2' || reply.errMsg === '3';
    await writeLog(missing ? '7001' : '7999');
    if (!missing) return coded('7999', '憑證檔備份失敗！');
    // Which of the two is missing, when it is the folder of the copy.
    const folder = folderOf(target);
    const why = folder && (await listFolder(folder)) === null ? `\n備份資料夾不存在：${folder}` : '';
    return coded('7001', '憑證備份失敗！\n請重新選擇憑證檔案位置。' + why);
  }
  await writeLog('7000');
  await alertText(`憑證檔備份完成！\n備份檔：${target}`);
}

export function startFileFlows() {
  onAction(document.querySelector('#menu [data-fn=pfxpwd]'), 'click', showPasswordChange);
  onAction($('form-pfxpwd'), 'submit', changePassword);
  onAction($('btn-pfxpwd-browse'), 'click', () => chooseFile('pfxpwd-path'));
  onAction(document.querySelector('#menu [data-fn=query]'), 'click', showFileRead);
  onAction($('form-query'), 'submit', readFile);
  onAction($('btn-query-browse'), 'click', () => chooseFile('query-path'));
  onAction(document.querySelector('#menu [data-fn=backup]'), 'click', showBackup);
  onAction($('form-backup'), 'submit', backUp);
  onAction($('btn-backup-source'), 'click', () => chooseFile('backup-source'));
  onAction($('btn-backup-target'), 'click', () => chooseFolder('backup-target'));
}
