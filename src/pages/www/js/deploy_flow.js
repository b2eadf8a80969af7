// The browser deployment screen: the certificate file is read first (as
// the file query reads it, with its checks and messages), then put into
// the chosen browsers; the remove button takes the certificate out of
// every browser again.
import { call } from './bridge.js';
import { removeBrowserCertificates } from './browser_removal.js';
import { readCertificateFile } from './file_flows.js';
import { alertText } from './messages.js';
import { state } from './page_state.js';
import { readPathReply, readReply } from './reply_reader.js';
import { $, fieldText, showScreen } from './screens.js';
import { onAction } from './ui_host.js';

async function showDeployFile() {
  const reply = readReply(await call('getClientPfxFilePath'));
  $('deploy-path').value = reply.pfxFilePath ?? '';
  $('deploy-pw').value = '';
  showScreen('deployfile');
}

async function browseDeployFile() {
  const reply = readPathReply(await call('openFileChooser2'));
  if (reply.path) $('deploy-path').value = reply.path;
}

async function deployFromFile(e) {
  e.preventDefault();
  const path = fieldText('deploy-path');
  const password = fieldText('deploy-pw');
  if (!(await readCertificateFile(path, password))) return;
  state.userPfxPath = path;
  const reply = readReply(await call('deployCert', state.userIdno, state.userAid, path, password));
  if (reply.errCode !== '0') {
    await alertText(reply.errMsg);
    return;
  }
  // Web orders are signed through the security component: offered for
  // installation or update now when it is not the operator's version.
  await call('cpntAutoUpdate');
}

export function startDeployFlow() {
  onAction(document.querySelector('#menu [data-fn=deploy]'), 'click', () => showScreen('deploy'));
  onAction($('btn-deploy-import'), 'click', showDeployFile);
  onAction($('btn-deploy-remove'), 'click', removeBrowserCertificates);
  onAction($('btn-deploy-browse'), 'click', browseDeployFile);
  onAction($('form-deployfile'), 'submit', deployFromFile);
}
