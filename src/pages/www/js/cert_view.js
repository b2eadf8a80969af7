// The certificate blocks of the overview screen. Every value is put on the
// page as text.
import { state } from './page_state.js';

const OK_STATES = new Set(['0', '10', '12', '13', '50']);

// "20261210093000" → "2026/12/10 09:30:00".
export function dateText(value) {
  return String(value ?? '').slice(0, 14).replace(/^(\d{4})(\d{2})(\d{2})(\d{2})(\d{2})(\d{2})$/, '$1/$2/$3 $4:$5:$6');
}

function row(list, label, value, className) {
  const dt = document.createElement('dt');
  dt.textContent = label;
  const dd = document.createElement('dd');
  dd.textContent = value;
  if (className) dd.className = className;
  list.append(dt, dd);
}

function certRows(cert) {
  const list = document.createElement('dl');
  row(list, '身分證號', cert.certUserId ?? '');
  row(list, 'CN', cert.cn ?? '');
  row(list, '序號', cert.serial ?? '');
  row(list, "有效期間", `${dateText(cert.notBefore)} ~\n${dateText(cert.notAfter)}`);
  return list;
}

function serverRows(cert) {
  const list = certRows(cert);
  const stateClass = OK_STATES.has(cert.state) ? 'state-ok' : cert.state === '31' ? 'state-bad' : '';
  row(list, '狀態', `${cert.stateMessage ?? ''}(${cert.state ?? ''})`, stateClass);
  if ('actFlg' in cert) row(list, '安裝', cert.actFlg === 'Y' ? '已完成安裝' : '尚未安裝');
  return list;
}

function fill(blockId, nodes, emptyText) {
  const rows = document.querySelector(`#${blockId} .rows`);
  rows.replaceChildren();
  if (nodes.length === 0) {
    const p = document.createElement('p');
    p.className = 'muted';
    p.textContent = emptyText;
    rows.append(p);
  } else {
    rows.append(...nodes);
  }
}

// The reply of qrySvrCertInfo2.
export function showServerCerts(reply) {
  const nodes = [];
  if (reply.serial) nodes.push(serverRows(reply));
  (reply.moCerts ?? []).forEach((cert, i) => {
    if (!cert.serial || cert.cn === state.userIdno) return;
    const heading = document.createElement('p');
    heading.className = 'cert-heading';
    heading.textContent = `行動憑證(${i + 1})`;
    nodes.push(heading, serverRows(cert));
  });
  fill('server-block', nodes, '查無憑證資料');
  // The proxy tells a revoked certificate apart; so does the local block.
  const revoked = [reply, ...(reply.moCerts ?? [])].some((c) => c.state === '31' && c.serial === local?.serial);
  if (revoked) markLocalRevoked();
}

// The record the local block shows, and whether it was revoked since.
let local = null;
let localRevoked = false;

function drawLocal() {
  const nodes = [];
  if (local?.serial) {
    const list = certRows(local);
    row(list, '儲存位置', local.path);
    if (localRevoked) row(list, '狀態', '已註銷，此憑證檔不能再使用', 'state-bad');
    nodes.push(list);
  }
  fill('local-block', nodes, '尚無資料');
}

// A certificate record of this computer, with where it is kept.
export function showLocalCert(record) {
  local = record?.serial ? { ...record, path: state.userPfxPath } : null;
  localRevoked = false;
  drawLocal();
}

// The certificate of the local block was revoked: the block says so.
export function markLocalRevoked() {
  if (!local || localRevoked) return;
  localRevoked = true;
  drawLocal();
}

// "20261210093000" (local time) → a Date, or null.
function dateOf(value) {
  const m = /^(\d{4})(\d{2})(\d{2})(\d{2})(\d{2})(\d{2})/.exec(String(value ?? ''));
  return m ? new Date(+m[1], +m[2] - 1, +m[3], +m[4], +m[5], +m[6]) : null;
}

// How long the certificate still holds, in whole days.
export function expiryText(notAfter, now = Date.now()) {
  const end = dateOf(notAfter);
  if (!end) return '';
  const left = end.getTime() - now;
  if (left <= 0) return '已到期';
  const days = Math.floor(left / 86400000);
  return days === 0 ? '不到 1 天後到期' : `${days} 天後到期`;
}

// What a certificate file holds, as the file read shows it: the record of
// qryPfxCertInfo with its fingerprint.
export function fileDetailRows(record) {
  const list = document.createElement('dl');
  row(list, '主體', record.subject ?? '');
  row(list, '簽發者', record.issuer ?? '');
  row(list, '序號', record.serial ?? '');
  row(list, '有效期間', `${dateText(record.notBefore)} ~ ${dateText(record.notAfter)}`);
  row(list, '到期', expiryText(record.notAfter));
  row(list, 'SHA-256 指紋', record.sha256Fingerprint ?? '');
  return list;
}
