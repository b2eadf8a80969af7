// The page by keyboard alone and under axe-core: the road of an
// application from the login to the logout with the focus checked at each
// step, and every screen and window of the page with no axe violation, each
// screenshotted at 100 % and 200 % zoom.
import assert from 'node:assert/strict';
import { rmSync } from 'node:fs';
import { join } from 'node:path';
import { describe, test } from 'node:test';
import { expectAccessible } from '../lib/axe.js';
import { fakeBrowsers } from '../lib/fake_browsers.js';
import { expectFocus, keyMessage, retype, tabTo } from '../lib/keyboard.js';
import {
  acceptAgreement, answerQuestion, expectMessage, loginWithAccount, newCustomer, submitSave,
} from '../lib/page_actions.js';
import { endProcess, pidListeningOn, waitForListener } from '../lib/processes.js';
import { callInPage, makeHome, openPage, screenshotZoomed, startQuil } from '../lib/quil.js';
import { browserAndProxy } from '../lib/suite.js';

const suite = browserAndProxy();

// No axe violation on what the page shows; its pictures at both zooms.
async function checkScreen(page, name) {
  await expectAccessible(page, name);
  await screenshotZoomed(page, name);
}

const BROWSERS = { chromium: 'Chromium 156.0.8078.129 built on Debian GNU/Linux 12' };

// WCAG contrast ratio of two colours, "rgb(r, g, b)" or "#rrggbb".
function contrast(a, b) {
  const channels = (c) => (c.startsWith('#') ? c.slice(1).match(/../g).map((h) => parseInt(h, 16)) : c.match(/\d+/g).slice(0, 3).map(Number));
  const luminance = (c) => {
    const [r, g, bl] = channels(c).map((v) => {
      const s = v / 255;
      return s <= 0.03928 ? s / 12.92 : ((s + 0.055) / 1.055) ** 2.4;
    });
    return 0.2126 * r + 0.7152 * g + 0.0722 * bl;
  };
  const [hi, lo] = [luminance(a), luminance(b)].sort((x, y) => y - x);
  return (hi + 0.05) / (lo + 0.05);
}

// The focused element's ring: 3:1 at least against each background around it.
async function expectRingContrast(page, backgrounds) {
  const ring = await page.evaluate(() => {
    const s = getComputedStyle(document.activeElement);
    return { style: s.outlineStyle, color: s.outlineColor };
  });
  assert.notEqual(ring.style, 'none');
  for (const background of backgrounds)
    assert.ok(contrast(ring.color, background) >= 3, `ring ${ring.color} on ${background}: ${contrast(ring.color, background)}`);
}

describe('keyboard', () => {
  test('login, application, save, deployment and logout by keyboard alone', async () => {
    const fakes = fakeBrowsers(BROWSERS);
    await suite.proxy.admin('POST', 'syscfg', { key: 'depCert.mode', value: 'M' });
    await suite.proxy.admin('POST', 'syscfg', { key: 'depCert.selectedBrowser', value: 'Chrome' });
    const c = await newCustomer(suite.proxy, { sheetCodes: ['KB12RD'] });
    const port = 20000 + Math.floor(Math.random() * 20000);
    const quil = await startQuil({ env: { ...suite.proxy.env, ...fakes.env }, args: ['--port', String(port)] });
    const page = await openPage(suite.browser, quil);
    const { keyboard } = page;
    try {
      await page.getByText('Version:1.9').waitFor();
      await page.locator('#btn-login:not([disabled])').waitFor();
      await checkScreen(page, 'main');

      // The About box: Escape closes it and gives the focus back.
      await tabTo(page, '#btn-about');
      // The header's blue runs from #2a68c8 to #1b4f9f.
      await expectRingContrast(page, ['#2a68c8', '#1b4f9f']);
      await keyboard.press('Enter');
      await expectFocus(page, '.about-window button');
      await checkScreen(page, 'about');
      await keyboard.press('Escape');
      await expectFocus(page, '#btn-about');

      // The login: branch by the arrow keys, the eye button on the way.
      await tabTo(page, '#branch', { back: true });
      for (let i = 0; i < 20 && (await page.locator('#branch').inputValue()) !== c.branch; i++)
        await keyboard.press('ArrowDown');
      assert.equal(await page.locator('#branch').inputValue(), c.branch);
      await keyboard.press('Tab');
      await expectFocus(page, '#login-name');
      await keyboard.type(c.account);
      await keyboard.press('Tab');
      await expectFocus(page, '#password');
      await keyboard.type(c.password);
      await keyboard.press('Tab');
      await expectFocus(page, '#login-form .eye');
      await keyboard.down(' ');
      assert.equal(await page.locator('#password').getAttribute('type'), 'text', 'shown while held');
      await keyboard.up(' ');
      assert.equal(await page.locator('#password').getAttribute('type'), 'password');
      await keyboard.press('Tab');
      await expectFocus(page, '#btn-login');
      await keyboard.press('Enter');

      await keyMessage(page, '您要現在線上申請憑證嗎？');
      await expectFocus(page, '#sheet-code');
      await expectRingContrast(page, ['#ffffff']);
      await checkScreen(page, 'sheet-code');
      await keyboard.type(c.sheetCodes[0]);
      await keyboard.press('Enter');
      // An OK-only box closes with Escape too.
      await keyMessage(page, '憑證認證碼驗證成功！', 'Escape');

      // The focus goes into the terms, on the tick box.
      await expectFocus(page, '#chbAgree', { frame: '#agreement-frame' });
      await checkScreen(page, 'agreement');
      await keyboard.press('Space');
      await keyboard.press('Tab');
      await expectFocus(page, '#ButtonOK', { frame: '#agreement-frame' });
      await keyboard.press('Enter');
      await page.locator('#progress:not([hidden])').waitFor();
      await checkScreen(page, 'progress');

      // The save screen; the folder chooser by keyboard, and Escape out of it.
      await expectFocus(page, '#save-path');
      await checkScreen(page, 'save-certificate');
      await keyboard.press('Tab');
      await expectFocus(page, '#btn-save-browse');
      await keyboard.press('Enter');
      const chooser = page.locator('[data-chooser=folder]');
      await chooser.locator('li').first().waitFor();
      await checkScreen(page, 'folder-chooser');
      await tabTo(page, '[data-chooser=folder] [role=listbox]');
      await keyboard.press('ArrowDown');
      const first = chooser.locator('li').first();
      assert.equal(await first.getAttribute('aria-selected'), 'true', 'the arrow key marks an entry');
      assert.equal(await chooser.locator('[role=listbox]').getAttribute('aria-activedescendant'),
        await first.getAttribute('id'));
      await keyboard.press('Escape');
      await chooser.waitFor({ state: 'detached' });
      await expectFocus(page, '#btn-save-browse');

      const file = join(quil.home, 'kb', `${c.idno}.P12`);
      await tabTo(page, '#save-path', { back: true });
      await retype(page, file);
      await tabTo(page, '#save-pw');
      await keyboard.type('pfx12345');
      await keyboard.press('Tab');
      await expectFocus(page, '#form-save .eye');
      await keyboard.press('Tab');
      await expectFocus(page, '#save-pw2');
      await keyboard.type('pfx12345');
      await keyboard.press('Enter');
      await keyMessage(page, '憑證儲存完成！');
      await keyMessage(page, '您要現在將憑證匯入瀏覽器嗎？');

      // Deployment: the file, then the browser cells by keyboard.
      await expectFocus(page, '#btn-deploy-import');
      await checkScreen(page, 'browser-screen');
      await keyboard.press('Enter');
      await expectFocus(page, '#deploy-path');
      assert.equal(await page.locator('#deploy-path').inputValue(), file);
      await checkScreen(page, 'browser-file-choice');
      await tabTo(page, '#deploy-pw');
      await keyboard.type('pfx12345');
      await keyboard.press('Enter');
      const dialog = page.locator('[data-dialog=CQUILSelBrowserDlg]');
      await dialog.waitFor();
      await expectFocus(page, '.browser-cell[data-browser=Chrome]');
      await checkScreen(page, 'browser-selection-dialog');
      // The focus ring differs from the frame of a chosen cell.
      const look = await dialog.locator('.browser-cell[data-browser=Chrome]').evaluate((cell) => {
        const s = getComputedStyle(cell);
        return { outline: s.outlineStyle, outlineColor: s.outlineColor, border: s.borderTopColor };
      });
      assert.notEqual(look.outline, 'none', 'a focused cell shows a ring');
      assert.notEqual(look.outlineColor, look.border, 'the ring is not the selection frame');
      await tabTo(page, '[data-dialog=CQUILSelBrowserDlg] button[type=submit]');
      await keyboard.press('Enter');
      await dialog.waitFor({ state: 'detached' });
      assert.equal((await fakes.starts('chromium')).length, 1, 'the chosen browser got the page');
      // The outcome, browser by browser, is read and closed by keyboard.
      await keyMessage(page, /^瀏覽器憑證匯入結果：\n/);
      // The security component, not installed here, is offered; Escape declines.
      await keyMessage(page, /^您尚未安裝安控元件/, 'Escape');
      await page.waitForFunction(() => !document.documentElement.classList.contains('busy'));
      while (await page.locator('#modal-layer .message-window').count()) await keyboard.press('Enter');

      // Logout.
      await tabTo(page, '#btn-login', { back: true, max: 60 });
      await keyboard.press('Enter');
      await keyMessage(page, '確定要登出並離開 QUIL 憑證管理工具嗎？');
      assert.equal((await quil.exited).code, 0);
      assert.ok(await waitForListener(port), 'a fresh copy waits for the next customer');
    } finally {
      const copy = pidListeningOn(port);
      if (copy && copy !== quil.child.pid) await endProcess(copy);
      await quil.stop();
      fakes.remove();
    }
  });
});

describe('every screen', () => {
  // A first login with online codes, the save with the reminder's offer,
  // each menu screen, the revocation up to its question, the choosers and
  // the program's dialogs, and the idle warning.
  test('shows no axe violation, and Escape answers the dialogs wherever the focus is', async () => {
    const c = await newCustomer(suite.proxy, { firstLogin: true, password: 'start123', isApplyPwBag: 'C' });
    const home = makeHome();
    rmSync(join(home, 'systemctl', 'state'));  // the reminder is offered
    const quil = await startQuil({ env: suite.proxy.env, home });
    const context = await suite.browser.newContext({ viewport: { width: 687, height: 470 }, locale: 'zh-TW' });
    const page = await context.newPage();
    const { keyboard } = page;
    const click = (selector) => page.locator(selector).click();
    // A method call the test answers through the page; a failure of the
    // test itself is not hidden by the call ending with the page.
    const calling = (...args) => {
      const reply = callInPage(page, ...args);
      reply.catch(() => {});
      return reply;
    };
    try {
      await page.clock.install();
      await page.goto(quil.url);
      await page.getByText('Version:1.9').waitFor();
      await loginWithAccount(page, { branch: c.branch, account: c.account, password: 'start123' });
      await page.locator('#modal-layer .message-window').waitFor();
      await checkScreen(page, 'message');
      await expectMessage(page, '首次登入，請變更密碼！');
      await checkScreen(page, 'password-change');
      await page.locator('#pw-current').fill('start123');
      await page.locator('#pw-new').fill('newpw123');
      await page.locator('#pw-confirm').fill('newpw123');
      await click('#form-pwchange button[type=submit]');
      await expectMessage(page, '登入密碼變更成功！');
      await expectMessage(page, '下次登入請使用新密碼');
      await page.locator('#modal-layer .message-window').waitFor();
      await checkScreen(page, 'question');
      await answerQuestion(page, '您要現在線上申請憑證嗎？', true);

      await page.locator('#screen-onlinereq').waitFor();
      await page.locator('#birthday').fill(c.birthday);
      await checkScreen(page, 'online-code-request');
      await click('#btn-request-code');
      await page.locator('#screen-onlinecode').waitFor();
      const mail = async (type) => (await suite.proxy.mailbox()).filter((m) => m.idno === c.idno && m.applyType === type).pop();
      await page.locator('#online-code').fill((await mail('new')).code);
      await checkScreen(page, 'online-code-entry');
      await click('#btn-verify-code');
      await expectMessage(page, '憑證認證碼驗證成功！');
      await acceptAgreement(page);
      const file = join(quil.home, `${c.idno}.P12`);
      await submitSave(page, file, 'pfx12345');
      await page.locator('#modal-layer .message-window').waitFor();
      await checkScreen(page, 'expiry-reminder-offer');
      await keyboard.press('Escape');  // 否
      await expectMessage(page, '憑證儲存完成！');
      await answerQuestion(page, '您要現在將憑證匯入瀏覽器嗎？', false);
      await page.locator('#server-block .state-ok').waitFor();
      await checkScreen(page, 'overview-with-certificate');

      await click('#menu [data-fn=pfxpwd]');
      await page.locator('#screen-pfxpwd').waitFor();
      await checkScreen(page, 'file-password-change');
      await click('#menu [data-fn=query]');
      await page.locator('#query-pw').fill('pfx12345');
      await click('#form-query button[type=submit]');
      await page.locator('#query-result').waitFor();
      await checkScreen(page, 'file-read');
      await click('#menu [data-fn=backup]');
      await page.locator('#screen-backup').waitFor();
      await checkScreen(page, 'backup-copy');
      // The file chooser; Escape gives the focus back to its button.
      await page.locator('#btn-backup-source').focus();
      await keyboard.press('Enter');
      await page.locator('[data-chooser=file] li').first().waitFor();
      await checkScreen(page, 'file-chooser');
      await keyboard.press('Escape');
      await expectFocus(page, '#btn-backup-source');

      // Revocation up to the question, which is declined.
      await click('#menu [data-fn=revoke]');
      await page.locator('#screen-onlinereq').waitFor();
      await page.locator('#birthday').fill(c.birthday);
      await checkScreen(page, 'revocation-code-request');
      await click('#btn-request-code');
      await page.locator('#screen-onlinecode').waitFor();
      await page.locator('#online-code').fill((await mail('revoke')).code);
      await checkScreen(page, 'revocation-code-entry');
      await click('#btn-verify-code');
      await page.locator('#modal-layer .message-window').waitFor();
      await checkScreen(page, 'revocation-question');
      await keyboard.press('Escape');
      await expectFocus(page, '#btn-verify-code');

      // The program's dialogs. The terms: ticked by keyboard, then Escape
      // with the focus inside their frame is a refusal.
      let reply = calling('crtNewCert', c.idno);
      await expectFocus(page, '#chbAgree', { frame: '[data-dialog=CQUILAgmntDlg] iframe' });
      await checkScreen(page, 'agreement-dialog');
      await keyboard.press('Space');
      await expectFocus(page, '#chbAgree', { frame: '[data-dialog=CQUILAgmntDlg] iframe' });
      await keyboard.press('Escape');
      assert.equal(await reply, "{'errCode':'59101','errMsg':'<59101>您不同意憑證申請約定條款, 無法為您申請憑證'}");
      reply = calling('qryClntCertInfo', c.idno);
      await page.locator('[data-dialog=CQUILLoadPfxDlg]').waitFor();
      await checkScreen(page, 'load-dialog');
      await keyboard.press('Escape');
      // Cancelled, and no second place to read from in this profile.
      assert.match(await reply, /^\{'errCode':'54406'/);
      reply = calling('changePfxPwd', '');
      await page.locator('[data-dialog=CQUILChgPfxPwdDlg]').waitFor();
      await checkScreen(page, 'change-password-dialog');
      await keyboard.press('Escape');
      assert.match(await reply, /^\{'errCode':'54801'/);

      await page.clock.runFor(575000);
      await page.locator('#logout-warning').waitFor();
      await checkScreen(page, 'auto-logout-warning');
    } finally {
      await context.close();
      await quil.stop();
    }
  });
});

