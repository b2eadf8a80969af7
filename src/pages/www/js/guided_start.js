// The guided start after a login: the function status decides which task
// the customer is offered (application, its continuation, renewal, or the
// continuation of a renewal). Only the first rule that matches applies.
import { askToContinueApplication, showSheetCode } from './apply_flow.js';
import { confirmText } from './messages.js';
import { showOnlineCode, showOnlineRequest } from './online_code.js';
import { state } from './page_state.js';
import { continueRenewal, showRenewalAgreement } from './renew_flow.js';
import { showScreen } from './screens.js';

export async function guidedStart() {
  const first = state.fnStatus.charAt(0);
  const second = state.fnStatus.charAt(1);
  if (first === '1' || first === '3') {
    const source = state.applyPwBag;
    if (!['A', 'B', 'C'].includes(source)) return showScreen('overview');
    if (!(await confirmText('您要現在線上申請憑證嗎？'))) return showScreen('overview');
    state.doApplyCertProcess = true;
    if (source === 'A') return showSheetCode();
    if (source === 'B') return showOnlineCode('apply');
    return showOnlineRequest('apply');
  }
  if (first === '2') {
    if ((await askToContinueApplication()) === false) showScreen('overview');
    return;
  }
  if (second === '1') {
    if (await confirmText('您的憑證即將到期，直接進行憑證更新？')) return showRenewalAgreement();
    return showScreen('overview');
  }
  if (second === '2') {
    if (await confirmText('您的憑證更新操作尚未完成，繼續進行憑證更新？')) return continueRenewal();
  }
  return showScreen('overview');
}
