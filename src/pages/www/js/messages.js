// Messages, questions, coded messages and audit log records.
import { call } from './bridge.js';
import { state } from './page_state.js';
import { askQuestion, showMessage } from './ui_host.js';

export const alertText = (text) => showMessage(text);
export const confirmText = (text) => askQuestion(text);

// "【code】text".
export function coded(code, text) {
  return showMessage(`【${code}】${text}`);
}

// Server texts use "#" for a line break.
export function serverText(text) {
  return String(text ?? '').replace(/#/g, '\n');
}

// Records a four-digit code at the proxy; an empty code is recorded as is.
export function writeLog(code, second = false) {
  const memo = String(code ?? '');
  return call(second ? 'writeLog2' : 'writeLog', state.userIdno, state.userAid, memo.charAt(0), memo);
}
