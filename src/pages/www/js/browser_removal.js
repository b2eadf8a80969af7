// Taking the computer certificates out of the installed browsers: after a
// revocation, and from the browser screen.
import { call } from './bridge.js';
import { alertText, confirmText } from './messages.js';
import { state } from './page_state.js';
import { readReply } from './reply_reader.js';

// Asks first; a failure shows the program's message. Resolves when done.
export async function removeBrowserCertificates() {
  if (!(await confirmText('您確認要移除所有瀏覽器內的電腦憑證？'))) return;
  const reply = readReply(await call('rmvBrowserCert', state.userIdno, state.userAid));
  if (reply.errCode !== '0') await alertText(reply.errMsg);
}
