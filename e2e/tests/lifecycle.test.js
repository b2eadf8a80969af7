// The certificate's life after its application, walked in the window
// against the demo proxy: renewal from the guided start, revocation and a
// new application, the file password change, reading a file, the backup
// copy, and a download after a lost reply.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, readFileSync, readdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { describe, test } from 'node:test';
import { browserAndProxy, openSession } from '../lib/suite.js';
import {
  acceptAgreement, answerQuestion, expectMessage, loginToAgreement, loginWithAccount, newCustomer, submitSave,
} from '../lib/page_actions.js';
import { expectFocus } from '../lib/keyboard.js';
import { expectAccessible } from '../lib/axe.js';
import { callInPage, makeHome, screenshot, screenshotZoomed } from '../lib/quil.js';

const suite = browserAndProxy();

const session = (options) => openSession(suite, options);

// Ends a session but keeps its home (files, stores, hive) for the next one.
async function endKeepingHome(quil) {
  quil.child.kill('SIGTERM');
  await quil.exited;
}

const memos = async (idno) => (await suite.proxy.audit()).filter((a) => a.id === idno).map((a) => a.memo);
const requests = async (action, idno) =>
  (await suite.proxy.requests()).filter((r) => r.action === action && r.sessionIdno === idno);

function openssl(...args) {
  const r = spawnSync('openssl', args, { encoding: 'utf8' });
  return { ok: r.status === 0, out: r.stdout + r.stderr };
}
const pkcs12Opens = (file, password) =>
  openssl('pkcs12', '-legacy', '-noout', '-in', file, '-passin', `pass:${password}`).ok;

// The file's certificate verifies against the demo authority; its serial.
function verifiedSerial(file, password) {
  const pem = openssl('pkcs12', '-legacy', '-nokeys', '-clcerts', '-in', file, '-passin', `pass:${password}`);
  assert.ok(pem.ok, pem.out);
  const certFile = file + '.pem';
  writeFileSync(certFile, pem.out);
  const verified = openssl('verify', '-CAfile', suite.proxy.env.QUIL_PROXY_CA, certFile);
  assert.match(verified.out, /: OK/, verified.out);
  return openssl('x509', '-in', certFile, '-noout', '-serial').out.trim().replace(/^serial=0*/, '');
}

// "AB:CD:..." of the certificate in a PKCS#12 file, as openssl shows it.
function sha256Fingerprint(file, password) {
  const pem = openssl('pkcs12', '-legacy', '-nokeys', '-clcerts', '-in', file, '-passin', `pass:${password}`).out;
  const r = spawnSync('openssl', ['x509', '-noout', '-fingerprint', '-sha256'], { input: pem, encoding: 'utf8' });
  return r.stdout.trim().replace(/^.*Fingerprint=/, '');
}

// The public key (PEM) of a PKCS#12 file's private key, or of a key file.
function publicKeyOf(file, password) {
  const key = password === undefined
    ? readFileSync(file, 'utf8')
    : openssl('pkcs12', '-legacy', '-nocerts', '-nodes', '-in', file, '-passin', `pass:${password}`).out;
  return spawnSync('openssl', ['pkey', '-pubout'], { input: key, encoding: 'utf8' }).stdout;
}

// The customer applies with the password sheet and saves the file.
async function applyAndSave(page, c, file, password) {
  await loginToAgreement(page, c);
  await acceptAgreement(page);
  await submitSave(page, file, password);
  await expectMessage(page, '憑證儲存完成！');
  await answerQuestion(page, '您要現在將憑證匯入瀏覽器嗎？', false);
  await page.locator('#screen-overview').waitFor();
}

// The online code the demo proxy "sent" last for this purpose.
async function mailedCode(c, applyType) {
  const mail = (await suite.proxy.mailbox()).filter((m) => m.idno === c.idno && m.applyType === applyType).pop();
  assert.ok(mail, `a ${applyType} code was sent`);
  return mail.code;
}

// The title of the online code request screen, once it shows.
async function onlineRequestTitle(page) {
  await page.locator('#screen-onlinereq').waitFor();
  return page.locator('#onlinereq-title').innerText();
}

const REVOKE_QUESTION = '註銷後，此憑證即不能再用於網路下單，也無法恢復。\n確定要註銷憑證嗎？';

// Requests an online code on the request screen and types it in; a
// revocation is confirmed when asked (declined once first, when
// `declineFirst`: nothing is sent then).
async function requestAndEnterCode(page, c, applyType, shotPrefix, declineFirst = false) {
  await page.locator('#screen-onlinereq').waitFor();
  await page.locator('#birthday').fill(c.birthday);
  if (shotPrefix) await screenshot(page, `${shotPrefix}-code-request`);
  await page.locator('#btn-request-code').click();
  await page.locator('#screen-onlinecode').waitFor();
  await page.locator('#online-code').fill(await mailedCode(c, applyType));
  if (shotPrefix) await screenshot(page, `${shotPrefix}-code-entry`);
  await page.locator('#btn-verify-code').click();
  if (applyType === 'revoke' && declineFirst) {
    const verified = (await requests('verifyOnlinePw', c.idno)).length;
    await answerQuestion(page, REVOKE_QUESTION, false);
    assert.equal((await requests('verifyOnlinePw', c.idno)).length, verified, 'declined: nothing sent');
    assert.equal(await page.locator('#screen-onlinecode').isVisible(), true);
    await page.locator('#btn-verify-code').click();
  }
  if (applyType === 'revoke') await answerQuestion(page, REVOKE_QUESTION, true);
  await expectMessage(page, '憑證認證碼驗證成功！');
}

describe('renewal', () => {
  // A customer who applied and saved `old.P12` in an earlier run, and whose
  // certificate now ends in 10 days.
  async function holderNearTheEnd(sheetCode) {
    const c = await newCustomer(suite.proxy, { sheetCodes: [sheetCode] });
    const home = makeHome();
    const oldFile = join(home, 'old.P12');
    const first = await session({ home });
    try {
      await applyAndSave(first.page, c, oldFile, 'old12345');
    } finally {
      await endKeepingHome(first.quil);
    }
    const [old] = await suite.proxy.certs(c.idno);
    assert.equal((await suite.proxy.admin('POST', 'cert-expiry', { idno: c.idno, days: 10 })).ok, true);
    return { c, home, oldFile, old };
  }

  // Saves the renewed certificate from the save screen; checks it against
  // the proxy's records and the old file.
  async function saveRenewed(page, { c, old, oldFile }, newFile) {
    await submitSave(page, newFile, 'new12345');
    await expectMessage(page, '憑證儲存完成！');
    await answerQuestion(page, '您要現在將憑證匯入瀏覽器嗎？', false);
    const certs = await suite.proxy.certs(c.idno);
    assert.equal(certs.length, 2);
    assert.equal(certs[0].replacesSerial, old.serial);
    assert.ok(certs[0].renewalProof, 'the proxy kept the proof it verified');
    assert.equal(certs[0].state, '0');
    assert.equal(certs[1].state, '13');
    assert.equal(verifiedSerial(newFile, 'new12345'), certs[0].serial);
    assert.ok(pkcs12Opens(oldFile, 'old12345'), 'the old file is untouched');
    assert.notEqual(publicKeyOf(newFile, 'new12345'), publicKeyOf(oldFile, 'old12345'), 'a new key');
    await page.locator('#local-block').getByText(newFile).waitFor();
  }

  test('offered by the guided start near the end, signed with the old file, saved as a new file', async () => {
    const holder = await holderNearTheEnd('RN12EW');
    const { c, home, oldFile } = holder;
    const { quil, page } = await session({ home });
    try {
      await loginWithAccount(page, { branch: c.branch, account: c.account, password: c.password });
      await answerQuestion(page, '您的憑證即將到期，直接進行憑證更新？', true);
      await page.locator('#screen-agreement').waitFor();
      const frame = page.frameLocator('#agreement-frame');
      await frame.locator('body[data-next=renderSelectSigner]').waitFor();
      await screenshot(page, 'renewal-agreement');
      await frame.locator('#chbAgree').check();
      await frame.locator('#ButtonOK').click();
      assert.equal(await onlineRequestTitle(page), '申請更新認證碼');
      await requestAndEnterCode(page, c, 'new', 'renewal');

      await page.locator('#screen-renewfile').waitFor();
      // A file of some other authority cannot sign for this certificate.
      const stranger = join(home, 'stranger.P12');
      const made = openssl('req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-subj', '/CN=stranger', '-days', '30',
        '-keyout', `${stranger}.key`, '-out', `${stranger}.crt`);
      assert.ok(made.ok, made.out);
      const exported = openssl('pkcs12', '-export', '-legacy', '-inkey', `${stranger}.key`, '-in', `${stranger}.crt`,
        '-out', stranger, '-passout', 'pass:old12345');
      assert.ok(exported.ok, exported.out);
      await page.locator('#renew-path').fill(stranger);
      await page.locator('#renew-pw').fill('old12345');
      await page.locator('#form-renewfile button[type=submit]').click();
      await expectMessage(page, '【4007】憑證展期失敗！\n請確認選擇正確的憑證檔案。');
      await page.locator('#renew-path').fill(oldFile);
      await page.locator('#renew-pw').fill('wrong123');
      await screenshot(page, 'renewal-file');
      await page.locator('#form-renewfile button[type=submit]').click();
      await expectMessage(page, '【4008】憑證展期失敗！\n憑證密碼輸入錯誤，請重新輸入。');
      assert.equal((await requests('renewCert', c.idno)).length, 0, 'nothing is sent without the proof');
      await page.locator('#renew-pw').fill('old12345');
      await page.locator('#form-renewfile button[type=submit]').click();

      await page.locator('#screen-save').waitFor();
      await screenshot(page, 'renewal-save');
      await saveRenewed(page, holder, join(quil.home, 'new.P12'));
      await screenshot(page, 'renewal-done');
      const logs = await memos(c.idno);
      for (const memo of ['3122', '4007', '4008', '4014', '4000', '4211']) assert.ok(logs.includes(memo), `${memo} in ${logs}`);
    } finally {
      await quil.stop();
    }
  });

  // The first file is where the save screen proposed it, the operator's
  // default place; its certificate was revoked and a second file holds the
  // current one. The next run proposes the second file, as the record of
  // the held certificate knows it.
  test('proposes the file of the current certificate, not an older one at the default place', async () => {
    const c = await newCustomer(suite.proxy, { sheetCodes: ['RN56TW'] });
    const home = makeHome();
    const first = await session({ home });
    let firstFile;
    const secondFile = join(home, 'second', `${c.idno}.P12`);
    try {
      const { page } = first;
      await loginToAgreement(page, c);
      await acceptAgreement(page);
      firstFile = await page.locator('#save-path').inputValue();
      assert.ok(firstFile.startsWith(home + '/'), firstFile);
      await page.locator('#save-pw').fill('one12345');
      await page.locator('#save-pw2').fill('one12345');
      await page.locator('#form-save button[type=submit]').click();
      await expectMessage(page, '憑證儲存完成！');
      await answerQuestion(page, '您要現在將憑證匯入瀏覽器嗎？', false);
      await page.locator('#menu [data-fn=revoke]').click();
      await requestAndEnterCode(page, c, 'revoke');
      await expectMessage(page, '憑證註銷成功！');
      await answerQuestion(page, '您確認要移除所有瀏覽器內的電腦憑證？', false);
      await answerQuestion(page, '您要現在重新申請電腦憑證？', true);
      await acceptAgreement(page);
      await submitSave(page, secondFile, 'two12345');
      await expectMessage(page, '憑證儲存完成！');
      await answerQuestion(page, '您要現在將憑證匯入瀏覽器嗎？', false);
    } finally {
      await endKeepingHome(first.quil);
    }
    assert.equal((await suite.proxy.admin('POST', 'cert-expiry', { idno: c.idno, days: 10 })).ok, true);

    const { quil, page } = await session({ home });
    try {
      await loginWithAccount(page, { branch: c.branch, account: c.account, password: c.password });
      await answerQuestion(page, '您的憑證即將到期，直接進行憑證更新？', true);
      const frame = page.frameLocator('#agreement-frame');
      await frame.locator('#chbAgree').check();
      await frame.locator('#ButtonOK').click();
      await requestAndEnterCode(page, c, 'new');
      await page.locator('#screen-renewfile').waitFor();
      assert.equal(await page.locator('#renew-path').inputValue(), secondFile, 'the file of the current certificate');
      await expectAccessible(page, 'renewal file');
      await screenshotZoomed(page, 'renewal-file-proposed');
      await page.locator('#renew-pw').fill('two12345');
      await page.locator('#form-renewfile button[type=submit]').click();
      await page.locator('#screen-save').waitFor();
      // Saving offers the file of the certificate renewed (asking before it
      // is replaced); this customer keeps it and names a new one.
      assert.equal(await page.locator('#save-path').inputValue(), secondFile);
      await expectAccessible(page, 'renewal save');
      const renewed = join(home, 'second', 'renewed.P12');
      await submitSave(page, renewed, 'new12345');
      await expectMessage(page, '憑證儲存完成！');
      await answerQuestion(page, '您要現在將憑證匯入瀏覽器嗎？', false);
      const certs = await suite.proxy.certs(c.idno);
      assert.equal(verifiedSerial(renewed, 'new12345'), certs[0].serial);
      assert.ok(pkcs12Opens(firstFile, 'one12345') && pkcs12Opens(secondFile, 'two12345'), 'both files untouched');
    } finally {
      await quil.stop();
    }
  });

  test('a renewal whose reply was lost is offered again after the next login and stored with the kept key', async () => {
    const holder = await holderNearTheEnd('RN34LT');
    const { c, home, oldFile } = holder;
    // The renewal goes through at the proxy, but its answer never arrives.
    const second = await session({ home });
    try {
      await suite.proxy.admin('POST', 'fault', { action: 'renewCert', fault: 'lost,times:1' });
      await loginWithAccount(second.page, { branch: c.branch, account: c.account, password: c.password });
      await answerQuestion(second.page, '您的憑證即將到期，直接進行憑證更新？', false);
      const reply = callInPage(second.page, 'replaceCert2', c.idno, oldFile, 'old12345');
      await expectMessage(second.page, /^與伺服器\(127\.0\.0\.1:\d+\)間網路連線發生錯誤!!/);
      assert.match(await reply, /^\{'errCode':'4009',/);
    } finally {
      await suite.proxy.admin('POST', 'faults/clear');
      await endKeepingHome(second.quil);
    }
    const [issued] = await suite.proxy.certs(c.idno);
    assert.equal(issued.state, '10', 'issued, not stored');
    const keyFolder = join(home, 'MERO');
    const keysBefore = readdirSync(keyFolder).filter((f) => f.endsWith('.p8')).sort();

    const { quil, page } = await session({ home });
    try {
      await loginWithAccount(page, { branch: c.branch, account: c.account, password: c.password });
      await page.locator('#modal-layer .message-window').waitFor();
      await screenshot(page, 'renewal-continue-question');
      // Declined at the guided start, then taken up from the renew button.
      await answerQuestion(page, '您的憑證更新操作尚未完成，繼續進行憑證更新？', false);
      await page.locator('#screen-overview').waitFor();
      await page.locator('#menu [data-fn=renew]').click();
      await answerQuestion(page, '您的憑證更新操作尚未完成，繼續進行憑證更新？', true);
      assert.equal(await onlineRequestTitle(page), '申請更新認證碼');
      await requestAndEnterCode(page, c, 'new');
      await page.locator('#screen-renewfile').waitFor();
      await page.locator('#renew-path').fill(oldFile);
      await page.locator('#renew-pw').fill('old12345');
      await page.locator('#form-renewfile button[type=submit]').click();
      await page.locator('#screen-save').waitFor();
      const newFile = join(quil.home, 'new.P12');
      await saveRenewed(page, holder, newFile);
      assert.equal(verifiedSerial(newFile, 'new12345'), issued.serial, 'the certificate issued before');
      assert.deepEqual(readdirSync(keyFolder).filter((f) => f.endsWith('.p8')).sort(), keysBefore, 'no new key');
      const kept = keysBefore.map((k) => publicKeyOf(join(keyFolder, k)));
      assert.ok(kept.includes(publicKeyOf(newFile, 'new12345')), 'stored with the key made for the lost renewal');
      const logs = await memos(c.idno);
      for (const memo of ['4014', '4000']) assert.ok(logs.includes(memo), `${memo} in ${logs}`);
    } finally {
      await quil.stop();
    }
  });
});

describe('revocation', () => {
  // Revoked from the revoke button and applied for again at once, or revoked
  // because the apply button found a valid certificate and applied for later
  // from the same button; both applications reuse the revocation's code.
  for (const road of ['at once', 'from the apply button']) {
    test(`revoked with an online code, then applied for again with the same code (${road})`, async () => {
      const c = await newCustomer(suite.proxy, { sheetCodes: ['RV12OK'] });
      const { quil, page } = await session();
      // Only a verified code lets an application through: the new one must
      // reuse the revocation's.
      await suite.proxy.admin('POST', 'policy', { requireAuthCode: true });
      try {
        const file = join(quil.home, 'first.P12');
        await applyAndSave(page, c, file, 'pfx12345');
        const before = readFileSync(file);
        if (road === 'at once') {
          await page.locator('#menu [data-fn=revoke]').click();
        } else {
          await page.locator('#menu [data-fn=apply]').click();
          await answerQuestion(page, '您仍擁有有效憑證，要註銷再重新申請？', true);
        }
        assert.equal(await onlineRequestTitle(page), '申請註銷認證碼');
        await requestAndEnterCode(page, c, 'revoke', road === 'at once' ? 'revocation' : undefined, road === 'at once');
        await expectMessage(page, '憑證註銷成功！');
        // The file saved before holds the revoked certificate: its block says so.
        await page.locator('#local-block').getByText('已註銷，此憑證檔不能再使用').waitFor({ state: 'attached' });
        await answerQuestion(page, '您確認要移除所有瀏覽器內的電腦憑證？', false);
        await answerQuestion(page, '您要現在重新申請電腦憑證？', road === 'at once');
        assert.deepEqual(readFileSync(file), before, 'revocation changes nothing on the computer');
        if (road !== 'at once') {
          await page.locator('#screen-overview').waitFor();
          await page.locator('#server-block').getByText('憑證已註銷').first().waitFor();
          for (const fn of ['renew', 'revoke']) assert.ok(await page.locator(`#menu [data-fn=${fn}]`).isDisabled(), fn);
          await screenshot(page, 'revocation-done');
          await page.locator('#menu [data-fn=apply]').click();
        }

        await acceptAgreement(page);
        const again = join(quil.home, 'again.P12');
        await submitSave(page, again, 'pfx67890');
        await expectMessage(page, '憑證儲存完成！');
        await answerQuestion(page, '您要現在將憑證匯入瀏覽器嗎？', false);
        const certs = await suite.proxy.certs(c.idno);
        assert.deepEqual(certs.map((x) => x.state), ['0', '31']);
        assert.equal(verifiedSerial(again, 'pfx67890'), certs[0].serial);
        assert.equal((await suite.proxy.mailbox()).filter((m) => m.idno === c.idno).length, 1, 'one code for both');
        const logs = await memos(c.idno);
        for (const memo of ['8015', '8000', '8201', '3100']) assert.ok(logs.includes(memo), `${memo} in ${logs}`);
      } finally {
        await suite.proxy.admin('POST', 'policy', { requireAuthCode: false });
        await quil.stop();
      }
    });
  }

  test('a revocation the proxy refuses is shown as a failure', async () => {
    const c = await newCustomer(suite.proxy, { sheetCodes: ['RV34NO'] });
    const { quil, page } = await session();
    try {
      await applyAndSave(page, c, join(quil.home, 'c.P12'), 'pfx12345');
      await suite.proxy.admin('POST', 'fault', { action: 'revokeCert', fault: 'rtn:2301:目前沒有可註銷的憑證,times:1' });
      await page.locator('#menu [data-fn=revoke]').click();
      await requestAndEnterCode(page, c, 'revoke');
      await expectMessage(page, '【8012】憑證註銷失敗！\n向伺服器端提出憑證註銷失敗。\n目前沒有可註銷的憑證');
      const [cert] = await suite.proxy.certs(c.idno);
      assert.equal(cert.state, '0');
      const logs = await memos(c.idno);
      assert.ok(logs.includes('8012') && !logs.includes('8000'), `${logs}`);
    } finally {
      await suite.proxy.admin('POST', 'faults/clear');
      await quil.stop();
    }
  });
});

describe('the certificate file', () => {
  test('password change, file read and backup copy', async () => {
    const c = await newCustomer(suite.proxy, { sheetCodes: ['FL12ES'] });
    const { quil, page } = await session();
    try {
      const file = join(quil.home, 'mine.P12');
      await applyAndSave(page, c, file, 'pfx12345');

      // File password change.
      await page.locator('#menu [data-fn=pfxpwd]').click();
      await page.locator('#screen-pfxpwd').waitFor();
      assert.equal(await page.locator('#pfxpwd-path').inputValue(), file, 'prefilled with the saved file');
      const change = async (current, next, confirm) => {
        await page.locator('#pfxpwd-current').fill(current);
        await page.locator('#pfxpwd-new').fill(next);
        await page.locator('#pfxpwd-confirm').fill(confirm);
        await page.locator('#form-pfxpwd button[type=submit]').click();
      };
      await change('pfx12345', 'pfx12345', 'pfx12345');
      await expectMessage(page, '新密碼與舊密碼相同！');
      await change('pfx12345', 'new12345', 'new99999');
      await expectMessage(page, '憑證密碼不一致！');
      await change('wrong999', 'new12345', 'new12345');
      await expectMessage(page, '【5005】憑證密碼變更失敗！\n憑證密碼輸入錯誤，請重新輸入。');
      await screenshot(page, 'file-password-change');
      await change('pfx12345', 'new12345', 'new12345');
      await expectMessage(page, '憑證密碼變更完成！');
      assert.ok(pkcs12Opens(file, 'new12345'));
      assert.ok(!pkcs12Opens(file, 'pfx12345'));

      // Reading the file.
      await page.locator('#menu [data-fn=query]').click();
      await page.locator('#screen-query').waitFor();
      await page.locator('#query-pw').fill('pfx12345');
      await page.locator('#form-query button[type=submit]').click();
      await expectMessage(page, '【6005】憑證查詢失敗！\n憑證密碼輸入錯誤，請重新輸入。');
      await page.locator('#query-pw').fill('new12345');
      await screenshot(page, 'file-read');
      await page.locator('#form-query button[type=submit]').click();
      // The file's own details, where the focus goes; the blocks follow.
      const details = page.locator('#query-result');
      await details.waitFor();
      await expectFocus(page, '#query-result-title');
      const [cert] = await suite.proxy.certs(c.idno);
      const shown = Object.fromEntries(await details.locator('dt').evaluateAll(
        (dts) => dts.map((dt) => [dt.textContent, dt.nextElementSibling.textContent])));
      assert.equal(shown['序號'], cert.serial);
      assert.match(shown['主體'], new RegExp(`^CN=${c.idno}`));
      assert.match(shown['簽發者'], /^CN=/);
      assert.equal(shown['SHA-256 指紋'], sha256Fingerprint(file, 'new12345'));
      assert.match(shown['到期'], /^\d+ 天後到期$/);
      await screenshot(page, 'file-read-details');
      await page.locator('#local-block').getByText(cert.serial).waitFor({ state: 'attached' });
      await page.locator('#local-block').getByText(file).waitFor({ state: 'attached' });

      // Backup copy.
      await page.locator('#menu [data-fn=backup]').click();
      await page.locator('#screen-backup').waitFor();
      assert.equal(await page.locator('#backup-source').inputValue(), file);
      await page.locator('#backup-target').fill(file);
      await page.locator('#form-backup button[type=submit]').click();
      await expectMessage(page, '來源端憑證檔路徑與目的端憑證檔路徑相同！');
      const copy = join(quil.home, 'copy.P12');
      writeFileSync(copy, 'older copy');
      await page.locator('#backup-target').fill(copy);
      await screenshot(page, 'backup-copy');
      await page.locator('#form-backup button[type=submit]').click();
      await answerQuestion(page, '路徑已有同檔名的檔案，是否要覆寫？', false);
      assert.equal(readFileSync(copy, 'utf8'), 'older copy', 'declining copies nothing');
      await page.locator('#form-backup button[type=submit]').click();
      await answerQuestion(page, '路徑已有同檔名的檔案，是否要覆寫？', true);
      await expectMessage(page, `憑證檔備份完成！\n備份檔：${copy}`);
      assert.deepEqual(readFileSync(copy), readFileSync(file));

      // A folder gets the file's own name inside it; a missing one is said so
      // and nothing is written, least of all a file named like the folder.
      const folder = join(quil.home, 'backups');
      for (const typed of [folder, folder + '/']) {
        await page.locator('#backup-target').fill(typed);
        await page.locator('#form-backup button[type=submit]').click();
        await expectMessage(page, `【7001】憑證備份失敗！\n請重新選擇憑證檔案位置。\n備份資料夾不存在：${folder}`);
        assert.equal(existsSync(folder), false, typed);
      }
      mkdirSync(folder);
      await page.locator('#backup-target').fill(folder);
      await page.locator('#form-backup button[type=submit]').click();
      await expectMessage(page, `憑證檔備份完成！\n備份檔：${join(folder, 'mine.P12')}`);
      assert.deepEqual(readFileSync(join(folder, 'mine.P12')), readFileSync(file));
      assert.equal(await page.locator('#backup-target').inputValue(), join(folder, 'mine.P12'));
      await page.locator('#backup-source').fill(join(quil.home, 'none.P12'));
      await page.locator('#form-backup button[type=submit]').click();
      await answerQuestion(page, '路徑已有同檔名的檔案，是否要覆寫？', true);
      await expectMessage(page, '【7001】憑證備份失敗！\n請重新選擇憑證檔案位置。');

      const logs = await memos(c.idno);
      for (const memo of ['5005', '5000', '6005', '6000', '7000', '7001']) assert.ok(logs.includes(memo), `${memo} in ${logs}`);
    } finally {
      await quil.stop();
    }
  });
});

describe('download', () => {
  test('an application whose reply was lost is downloaded again and saved with the kept key', async () => {
    const c = await newCustomer(suite.proxy, { sheetCodes: ['DL12AG'] });
    const { quil, page } = await session();
    try {
      await suite.proxy.admin('POST', 'fault', { action: 'applyCert', fault: 'lost,times:1' });
      await loginToAgreement(page, c);
      const frame = page.frameLocator('#agreement-frame');
      await frame.locator('#chbAgree').check();
      await frame.locator('#ButtonOK').click();
      await expectMessage(page, /^與伺服器\(127\.0\.0\.1:\d+\)間網路連線發生錯誤!!/);
      await expectMessage(page, '【3004】憑證申請作業失敗！\n向伺服器端提出憑證申請失敗。');
      const [issued] = await suite.proxy.certs(c.idno);
      assert.equal(issued.state, '10', 'issued, not stored');

      const reply = callInPage(page, 'dlCert', c.idno);
      const dialog = page.locator('[data-dialog=CQUILSavePfxDlg]');
      await dialog.waitFor();
      // The customer keeps the path offered: the remembered file's place.
      const file = await dialog.locator('input[name=path]').inputValue();
      assert.ok(file.startsWith(quil.home + '/'), file);
      await dialog.locator('input[name=password]').fill('down1234');
      await dialog.locator('input[name=confirm]').fill('down1234');
      await screenshot(page, 'download-save-dialog');
      await dialog.getByRole('button', { name: '確定' }).click();
      assert.match(await reply, /^\{'errCode':'0','errMsg':''\}$/);
      assert.equal(verifiedSerial(file, 'down1234'), issued.serial);
      const keyFolder = join(quil.home, 'MERO');
      const keys = readdirSync(keyFolder).filter((f) => f.endsWith('.p8'));
      assert.equal(keys.length, 1, 'the key made for the application');
      assert.equal(publicKeyOf(file, 'down1234'), publicKeyOf(join(keyFolder, keys[0])));
      const [stored] = await suite.proxy.certs(c.idno);
      assert.equal(stored.state, '0');
      assert.equal(stored.certPath, file);
    } finally {
      await suite.proxy.admin('POST', 'faults/clear');
      await quil.stop();
    }
  });
});
