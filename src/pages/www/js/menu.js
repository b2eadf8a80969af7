// The menu buttons follow the function status.
import { call } from './bridge.js';
import { alertText } from './messages.js';
import { state } from './page_state.js';
import { readReply } from './reply_reader.js';

const button = (fn) => document.querySelector(`#menu [data-fn=${fn}]`);

// Refreshes the status, the counts and the menu; resolves when done.
export async function refreshFnStatus() {
  for (const fn of ['apply', 'renew', 'query', 'revoke', 'deploy']) button(fn).disabled = true;
  for (const fn of ['pfxpwd', 'backup']) button(fn).disabled = false;
  if (!state.userIdno) return;
  const reply = readReply(await call('getFnStatus', state.userIdno));
  if (reply.errCode !== '0') {
    await alertText(reply.errMsg);
    state.fnStatus = '';
    state.certCount = 0;
    state.effectCertCount = 0;
  } else {
    state.fnStatus = reply.fnStatus ?? '';
    state.certCount = Number(reply.certCount) || 0;
    state.effectCertCount = Number(reply.effectCertCount) || 0;
  }
  button('apply').disabled = false;
  // An empty status (a failed query) leaves renew open: only "0" closes it.
  button('renew').disabled = state.fnStatus.charAt(1) === '0';
  button('query').disabled = !(state.certCount > 0);
  button('revoke').disabled = !(state.effectCertCount > 0);
  button('deploy').disabled = !(state.effectCertCount > 0);
}

export function disableMenu() {
  for (const b of document.querySelectorAll('#menu button')) b.disabled = true;
}
