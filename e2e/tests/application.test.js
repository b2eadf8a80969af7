// The road of one application, walked in the window against the demo proxy.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { describe, test } from 'node:test';
import { browserAndProxy, openSession } from '../lib/suite.js';
import {
  acceptAgreement, answerQuestion, answerYesNo, confirmAgreement, expectMessage, loginToAgreement, loginWithAccount,
  newCustomer, submitSave,
} from '../lib/page_actions.js';
import { endProcess, freePort, pidListeningOn, waitForListener } from '../lib/processes.js';
import { callInPage, makeHome, screenshot, startQuil } from '../lib/quil.js';

const suite = browserAndProxy();

const session = (options) => openSession(suite, options);

const requests = async (action, idno) =>
  (await suite.proxy.requests()).filter((r) => r.action === action && r.sessionIdno === idno);
const menuEnabled = (page) => page.$$eval('#menu button',
  (buttons) => Object.fromEntries(buttons.map((b) => [b.dataset.fn, !b.disabled])));

const memos = async (idno) => (await suite.proxy.audit()).filter((a) => a.id === idno).map((a) => `${a.action}:${a.memo}`);

function pkcs12Subject(file, password) {
  const r = spawnSync('openssl', ['pkcs12', '-legacy', '-in', file, '-passin', `pass:${password}`, '-nokeys', '-clcerts'],
    { encoding: 'utf8' });
  return { ok: r.status === 0, out: r.stdout + r.stderr };
}

// From the agreement screen to the saved file.
async function acceptAgreementAndSave(page, path, password) {
  await acceptAgreement(page);
  await screenshot(page, 'save-certificate');
  await submitSave(page, path, password);
}

describe('login', () => {
  test('first login changes the account password, then the guided start asks', async () => {
    const c = await newCustomer(suite.proxy, { firstLogin: true, password: 'start123' });
    const { quil, page } = await session();
    try {
      await loginWithAccount(page, { branch: c.branch, account: c.account, password: 'start123' });
      await expectMessage(page, '首次登入，請變更密碼！');
      await page.locator('#screen-pwchange').waitFor();
      await screenshot(page, 'password-change');
      await page.locator('#pw-current').fill('start123');
      await page.locator('#pw-new').fill('start123');
      await page.locator('#pw-confirm').fill('start123');
      await page.locator('#form-pwchange button[type=submit]').click();
      await expectMessage(page, '新密碼與舊密碼相同！');
      await page.locator('#pw-new').fill('abcdefgh');
      await page.locator('#pw-confirm').fill('abcdefgh');
      await page.locator('#form-pwchange button[type=submit]').click();
      await expectMessage(page, '密碼須為長度6~10碼英數字組合！');
      await page.locator('#pw-new').fill('newpw123');
      await page.locator('#pw-confirm').fill('newpw123');
      await page.locator('#form-pwchange button[type=submit]').click();
      await expectMessage(page, '登入密碼變更成功！');
      await expectMessage(page, '下次登入請使用新密碼');
      await answerQuestion(page, '您要現在線上申請憑證嗎？', false);
      assert.deepEqual((await memos(c.idno)).filter((m) => m.startsWith('writeLog')),
        ['writeLog:1000', 'writeLog:1100']);
    } finally {
      await quil.stop();
    }
  });

  test('a refused login shows the coded message and is logged with writeLog2', async () => {
    const c = await newCustomer(suite.proxy);
    const { quil, page } = await session();
    try {
      for (let i = 0; i < 2; i++) {
        await loginWithAccount(page, { branch: c.branch, account: c.account, password: 'wrong999' });
        await expectMessage(page, /^【1001】登入密碼錯誤\n/);
      }
      await loginWithAccount(page, { branch: c.branch, account: c.account, password: 'wrong999' });
      await expectMessage(page, '【1003】密碼錯誤已達三次，帳號已鎖定\n請洽所屬分公司辦理解鎖');
      await screenshot(page, 'login-refused');
      const logged = (await suite.proxy.audit()).filter((a) => a.action === 'writeLog2' && a.aid === c.branch + c.account);
      assert.deepEqual(logged.map((a) => a.memo), ['1001', '1001', '1003']);
    } finally {
      await quil.stop();
    }
  });

  test('an account is padded to seven digits and checked before anything is sent', async () => {
    const { quil, page } = await session();
    try {
      await page.locator('#btn-login:not([disabled])').waitFor();
      await page.locator('#login-name').fill('123');
      await page.locator('#password').click();
      assert.equal(await page.locator('#login-name').inputValue(), '0000123');
      await page.locator('#login-name').fill('12345678');
      await page.locator('#password').fill('demo1234');
      await page.locator('#btn-login').click();
      await expectMessage(page, '帳號輸入錯誤，請確認帳號是否為半形之七碼數字');
    } finally {
      await quil.stop();
    }
  });
});

describe('menu and failures', () => {
  test('a reply the page cannot read shows a message and leaves the login usable', async () => {
    const c = await newCustomer(suite.proxy);
    const { quil, page } = await session();
    try {
      // A proxy text with a quote in it makes the reply unreadable.
      await suite.proxy.admin('POST', 'fault', { action: 'doLogin', fault: "rtn:1001:密碼's錯誤,times:1" });
      await loginWithAccount(page, { branch: c.branch, account: c.account, password: c.password });
      await expectMessage(page, /^程式回覆的內容無法讀取/);
      await loginWithAccount(page, { branch: c.branch, account: c.account, password: c.password });
      await answerQuestion(page, '您要現在線上申請憑證嗎？', false);
      assert.equal(await page.locator('#btn-login').innerText(), '登出');
    } finally {
      await suite.proxy.admin('POST', 'faults/clear');
      await quil.stop();
    }
  });

  test('after a failed function status the menu offers apply and renew', async () => {
    const c = await newCustomer(suite.proxy);
    const { quil, page } = await session();
    try {
      await suite.proxy.admin('POST', 'fault', { action: 'getFnStatus', fault: 'status:500,times:1' });
      await loginWithAccount(page, { branch: c.branch, account: c.account, password: c.password });
      await expectMessage(page, /^<\d+>/);
      await page.locator('#menu [data-fn=apply]:not([disabled])').waitFor();
      assert.deepEqual(await menuEnabled(page),
        { apply: true, renew: true, query: false, revoke: false, deploy: false, pfxpwd: true, backup: true });
    } finally {
      await suite.proxy.admin('POST', 'faults/clear');
      await quil.stop();
    }
  });
});

describe('application', () => {
  test('a double click or a second Enter starts nothing twice', async () => {
    const c = await newCustomer(suite.proxy, { sheetCodes: ['DC12KL'] });
    const { quil, page } = await session();
    try {
      await loginToAgreement(page, c);
      const frame = page.frameLocator('#agreement-frame');
      await frame.locator('#chbAgree').check();
      await frame.locator('#ButtonOK').dblclick();
      await page.locator('#screen-save').waitFor();

      await page.locator('#save-path').fill(join(quil.home, `${c.idno}.P12`));
      await page.locator('#save-pw').fill('pfx12345');
      await page.locator('#save-pw2').fill('pfx12345');
      await page.locator('#save-pw2').focus();
      await page.keyboard.press('Enter');
      await page.keyboard.press('Enter');
      await expectMessage(page, '憑證儲存完成！');
      await answerQuestion(page, '您要現在將憑證匯入瀏覽器嗎？', false);
      // Methods run in arrival order: once this one answers, any second call has run.
      await callInPage(page, 'getClientVersion');
      assert.equal((await requests('applyCert', c.idno)).length, 1, 'one application');
      assert.equal((await requests('activeCert', c.idno)).length, 1, 'one installation report');
      assert.equal(await page.locator('#modal-layer .window').count(), 0);
    } finally {
      await quil.stop();
    }
  });


  test('with the password sheet code, through to a PKCS#12 file openssl opens', async () => {
    const c = await newCustomer(suite.proxy, { isApplyPwBag: 'A', sheetCodes: ['ZX12CV'] });
    const { quil, page } = await session();
    try {
      // Every field is trimmed before it is checked or sent, passwords too.
      await loginWithAccount(page, { branch: c.branch, account: c.account, password: ` ${c.password}` });
      await page.locator('#progress').waitFor();
      assert.equal(await page.locator('#progress-title').innerText(), '登入');
      await screenshot(page, 'login-progress');
      await answerQuestion(page, '您要現在線上申請憑證嗎？', true);
      await page.locator('#screen-sheetcode').waitFor();
      await screenshot(page, 'sheet-code');
      await page.locator('#sheet-code').fill('ZX12C');
      await page.locator('#form-sheetcode button[type=submit]').click();
      await expectMessage(page, '密碼須為6碼英文或數字！');
      await page.locator('#sheet-code').fill('ZX12CV');
      await page.locator('#form-sheetcode button[type=submit]').click();
      await expectMessage(page, '憑證認證碼驗證成功！');
      await page.locator('#screen-agreement').waitFor();
      await screenshot(page, 'agreement');

      const file = join(quil.home, 'certs', `${c.idno}.P12`);
      mkdirSync(join(quil.home, 'certs'));
      await acceptAgreementAndSave(page, file, ' pfx12345');
      await expectMessage(page, '憑證儲存完成！');
      await answerQuestion(page, '您要現在將憑證匯入瀏覽器嗎？', false);

      const opened = pkcs12Subject(file, 'pfx12345');
      assert.ok(opened.ok, opened.out);
      assert.match(opened.out, new RegExp(c.idno));
      assert.equal(pkcs12Subject(file, 'wrong').ok, false);

      // Both blocks show the new certificate; the server state in royal blue.
      await page.locator('#screen-overview').waitFor();
      await page.locator('#server-block .state-ok').waitFor();
      const [cert] = await suite.proxy.certs(c.idno);
      assert.ok(cert, 'the proxy issued a certificate');
      await page.locator('#server-block').getByText(cert.serial ?? '').first().waitFor();
      await page.locator('#local-block').getByText(file).waitFor();
      await screenshot(page, 'overview-with-certificate');
      const logs = await memos(c.idno);
      for (const memo of ['writeLog:3121', 'writeLog:3123', 'writeLog:3000', 'writeLog:3211'])
        assert.ok(logs.includes(memo), `${memo} in ${logs}`);
    } finally {
      await quil.stop();
    }
  });

  test('with an online code sent by e-mail, read from the demo mailbox', async () => {
    const c = await newCustomer(suite.proxy, { isApplyPwBag: 'C' });
    const { quil, page } = await session();
    try {
      await loginWithAccount(page, { branch: c.branch, account: c.account, password: c.password });
      await answerQuestion(page, '您要現在線上申請憑證嗎？', true);
      await page.locator('#screen-onlinereq').waitFor();
      await page.locator('#birthday').fill('1980010');
      await page.locator('#btn-request-code').click();
      await expectMessage(page, '出生年月日格式錯誤！');
      await page.locator('#birthday').fill(c.birthday);
      await screenshot(page, 'online-code-request');
      await page.locator('#btn-request-code').click();
      await page.locator('#screen-onlinecode').waitFor();
      assert.equal(await page.locator('#btn-request-again').isDisabled(), true, 're-request is locked');
      const mail = (await suite.proxy.mailbox()).filter((m) => m.idno === c.idno).pop();
      assert.ok(mail, 'the demo proxy sent a code');
      await page.locator('#online-code').fill(mail.code);
      await page.locator('#btn-verify-code').click();
      await expectMessage(page, '憑證認證碼驗證成功！');

      const file = join(quil.home, `${c.idno}.P12`);
      await acceptAgreementAndSave(page, file, 'online99');
      await expectMessage(page, '憑證儲存完成！');
      await answerQuestion(page, '您要現在將憑證匯入瀏覽器嗎？', true);
      await page.locator('#screen-deploy').waitFor();
      assert.ok(pkcs12Subject(file, 'online99').ok);
      const logs = await memos(c.idno);
      for (const memo of ['writeLog:3122', 'writeLog:3123', 'writeLog:3100', 'writeLog:3201'])
        assert.ok(logs.includes(memo), `${memo} in ${logs}`);
    } finally {
      await quil.stop();
    }
  });

  test('with the store profile the application ends in its success, with no save screen', async () => {
    await suite.proxy.admin('POST', 'profile', { name: 'store' });
    const c = await newCustomer(suite.proxy, { sheetCodes: ['ST34CV'] });
    const { quil, page } = await session();
    try {
      // crtNewCert2 has installed and reported the certificate itself and
      // hands back no certificate to save.
      await loginToAgreement(page, c);
      await confirmAgreement(page);
      await expectMessage(page, '憑證儲存完成！');
      await answerQuestion(page, '您要現在將憑證匯入瀏覽器嗎？', false);
      await page.locator('#screen-overview').waitFor();
      assert.equal(await page.locator('#screen-save').isVisible(), false);
      const [cert] = await suite.proxy.certs(c.idno);
      assert.equal(cert.state, '0', 'installed and reported');
      await page.locator('#server-block').getByText(cert.serial).first().waitFor();
      const logs = await memos(c.idno);
      for (const memo of ['writeLog:3121', 'writeLog:3123', 'writeLog:3000', 'writeLog:3211'])
        assert.ok(logs.includes(memo), `${memo} in ${logs}`);
    } finally {
      await suite.proxy.admin('POST', 'profile', { name: 'pfx' });
      await quil.stop();
    }
  });

  test('saving over an existing file asks first; declining writes nothing', async () => {
    const c = await newCustomer(suite.proxy, { sheetCodes: ['QW12ER'] });
    const { quil, page } = await session();
    try {
      await loginToAgreement(page, c);
      const file = join(quil.home, 'taken.P12');
      writeFileSync(file, 'keep me');
      await acceptAgreementAndSave(page, file, 'pfx12345');
      await answerQuestion(page, '路徑已有同檔名的檔案，是否要覆寫？', false);
      assert.equal(readFileSync(file, 'utf8'), 'keep me');
      assert.equal((await memos(c.idno)).filter((m) => m.includes('3123')).length, 0);
      await page.locator('#form-save button[type=submit]').click();
      await answerQuestion(page, '路徑已有同檔名的檔案，是否要覆寫？', true);
      await expectMessage(page, '憑證儲存完成！');
      assert.notEqual(readFileSync(file, 'utf8'), 'keep me');
    } finally {
      await quil.stop();
    }
  });
});

describe('expiry reminder', () => {
  // Run from where it was built, no timer is installed for the user: the
  // offer still comes, and yes writes the user's own timer for this program.
  test('saving the first certificate offers the daily reminder; yes turns the timer on', async () => {
    const c = await newCustomer(suite.proxy, { sheetCodes: ['RM12DR'] });
    const home = makeHome();
    rmSync(join(home, 'systemctl', 'state'));
    const { quil, page } = await session({ home });
    try {
      await loginToAgreement(page, c);
      await acceptAgreementAndSave(page, join(home, 'mine.P12'), 'pfx12345');
      await page.locator('#modal-layer .message-window').last().waitFor();
      await screenshot(page, 'expiry-reminder-offer');
      await answerYesNo(page, /^要在憑證到期前以桌面通知提醒您嗎？\n/, true);
      await expectMessage(page, '憑證儲存完成！');
      await answerQuestion(page, '您要現在將憑證匯入瀏覽器嗎？', false);
      assert.equal(readFileSync(join(home, 'systemctl', 'state'), 'utf8'), 'enabled\n');
      assert.deepEqual(readFileSync(join(home, 'systemctl', 'calls'), 'utf8').trim().split('\n'),
        ['--user is-enabled quil-expiry.timer', '--user is-enabled quil-expiry.timer', '--user daemon-reload',
          '--user enable --now quil-expiry.timer']);
      assert.match(readFileSync(join(home, '.config', 'systemd', 'user', 'quil-expiry.service'), 'utf8'),
        /^ExecStart=".*\/quil" --check-expiry$/m);
    } finally {
      await quil.stop();
    }
  });
});

describe('session', () => {
  test('a remembered login is restored after a restart', async () => {
    const c = await newCustomer(suite.proxy);
    const home = makeHome();
    const first = await session({ home });
    try {
      await first.page.locator('#btn-login:not([disabled])').waitFor();
      await first.page.locator('#remember').check();
      await loginWithAccount(first.page, { branch: c.branch, account: c.account, password: c.password });
      await answerQuestion(first.page, '您要現在線上申請憑證嗎？', false);
    } finally {
      first.quil.child.kill('SIGTERM');
      await first.quil.exited;
    }
    const second = await session({ home });
    try {
      await second.page.waitForFunction(() => document.getElementById('remember').checked);
      assert.equal(await second.page.locator('#login-name').inputValue(), c.account);
      assert.equal(await second.page.locator('#branch').inputValue(), c.branch);
      assert.equal(await second.page.locator('#remember').isChecked(), true);
    } finally {
      await second.quil.stop();
    }
  });

  test('the idle count-down starts after the first-login change; ten idle minutes log out and end the program', async () => {
    const c = await newCustomer(suite.proxy, { firstLogin: true, password: 'start123' });
    const quil = await startQuil({ env: suite.proxy.env });
    const context = await suite.browser.newContext({ viewport: { width: 687, height: 470 } });
    const page = await context.newPage();
    try {
      await page.clock.install();
      await page.goto(quil.url);
      await page.getByText('Version:1.9').waitFor();
      await loginWithAccount(page, { branch: c.branch, account: c.account, password: 'start123' });
      await expectMessage(page, '首次登入，請變更密碼！');
      // Left on the password change, the customer is not logged out.
      await page.clock.runFor(601000);
      assert.match(await callInPage(page, 'getClientVersion'), /'clientVersion':'1.9'/);
      assert.equal((await requests('doLogout', c.idno)).length, 0);
      assert.equal(await page.locator('#logout-warning').isHidden(), true);
      await page.locator('#pw-current').fill('start123');
      await page.locator('#pw-new').fill('newpw123');
      await page.locator('#pw-confirm').fill('newpw123');
      await page.locator('#form-pwchange button[type=submit]').click();
      await expectMessage(page, '登入密碼變更成功！');
      await expectMessage(page, '下次登入請使用新密碼');
      await answerQuestion(page, '您要現在線上申請憑證嗎？', false);

      await page.clock.runFor(571000);
      await page.locator('#logout-warning').waitFor();
      assert.match(await page.locator('#logout-warning-text').innerText(), /^系統將在\d+秒後自動登出!!$/);
      await screenshot(page, 'auto-logout-warning');
      await page.mouse.click(10, 300);
      await page.locator('#logout-warning').waitFor({ state: 'hidden' });
      await page.clock.runFor(601000);
      const { code } = await quil.exited;
      assert.equal(code, 0);
      assert.equal((await requests('doLogout', c.idno)).length, 1);
    } finally {
      await context.close();
      await quil.stop();
    }
  });

  test('logout restarts the program on a fresh login screen', async () => {
    const c = await newCustomer(suite.proxy);
    const port = await freePort();
    const { quil, page } = await session({ args: ['--port', String(port)] });
    try {
      await loginWithAccount(page, { branch: c.branch, account: c.account, password: c.password });
      await answerQuestion(page, '您要現在線上申請憑證嗎？', false);
      await page.locator('#btn-login').click();
      await answerQuestion(page, '確定要登出並離開 QUIL 憑證管理工具嗎？', true);
      const { code } = await quil.exited;
      assert.equal(code, 0);
      assert.ok((await memos(c.idno)).includes('writeLog2:9000'));
      assert.ok(await waitForListener(port), 'openApp started a new copy on the same port');
    } finally {
      const copy = pidListeningOn(port);
      if (copy && copy !== quil.child.pid) await endProcess(copy);
      await quil.stop();
    }
  });
});
