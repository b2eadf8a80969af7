// The browser screen and the browser selection dialog (CQUILSelBrowserDlg)
// drawn by the page, with fake browsers for quil to find and start.
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { describe, test } from 'node:test';
import { fakeBrowsers } from '../lib/fake_browsers.js';
import {
  acceptAgreement, answerQuestion, expectMessage, loginToAgreement, loginWithAccount, newCustomer, submitSave,
} from '../lib/page_actions.js';
import { expectAccessible } from '../lib/axe.js';
import { callInPage, openPage, screenshot, screenshotZoomed, startQuil } from '../lib/quil.js';
import { browserAndProxy } from '../lib/suite.js';

const suite = browserAndProxy();

const COMPONENT_QUESTION = '您尚未安裝安控元件或目前使用的版本需要更新。\n\n開始下載安控元件安裝檔並進行安控元件安裝？';

const BROWSERS = {
  chromium: 'Chromium 156.0.8078.129 built on Debian GNU/Linux 12',
  firefox: 'Mozilla Firefox 115.9.1esr',
};

async function session(fakes) {
  const quil = await startQuil({ env: { ...suite.proxy.env, ...fakes.env } });
  const page = await openPage(suite.browser, quil);
  await page.getByText('Version:1.9').waitFor();
  return { quil, page };
}

const dialog = (page) => page.locator('[data-dialog=CQUILSelBrowserDlg]');
const cell = (page, name) => dialog(page).locator(`.browser-cell[data-browser="${name}"]`);
const framed = async (page) => dialog(page).locator('.browser-cell.selected').evaluateAll(
  (cells) => cells.map((c) => c.dataset.browser));

describe('browser selection dialog', () => {
  test('single mode frames one cell; both OK checks; cancel answers 54801', async () => {
    const fakes = fakeBrowsers(BROWSERS);
    await suite.proxy.admin('POST', 'profile', { name: 'store' });
    await suite.proxy.admin('POST', 'syscfg', { key: 'depCert.mode', value: 'S' });
    await suite.proxy.admin('POST', 'syscfg', { key: 'depCert.selectedBrowser', value: 'FireFox,Chrome' });
    const c = await newCustomer(suite.proxy);
    const { quil, page } = await session(fakes);
    try {
      await loginWithAccount(page, { branch: c.branch, account: c.account, password: c.password });
      await answerQuestion(page, '您要現在線上申請憑證嗎？', false);
      // With the store the certificate lands in the store; no file is saved.
      assert.match(await callInPage(page, 'verifyPwBag', c.idno, c.branch + c.account, c.sheetCodes[0]),
        /'rtnCode':'0'/);
      assert.match(await callInPage(page, 'crtNewCert2', c.idno, ''), /^\{'errCode':'0'/);

      let reply = callInPage(page, 'deployCert', c.idno, c.branch + c.account, '', '');
      await dialog(page).waitFor();
      // Chrome is framed (the page's first in its order) although the
      // program preselected FireFox; the password part is shown for the store.
      assert.deepEqual(await dialog(page).locator('.browser-cell').evaluateAll(
        (cells) => cells.map((x) => x.dataset.browser)), ['Chrome', 'FireFox']);
      assert.deepEqual(await framed(page), ['Chrome']);
      await dialog(page).getByText('請設定憑證保護密碼:').waitFor();
      await expectAccessible(page, 'browser selection with a password');
      await screenshotZoomed(page, 'browser-selection-dialog-password');

      // Clearing the only framed cell leaves nothing chosen.
      await cell(page, 'Chrome').click();
      assert.deepEqual(await framed(page), []);
      await dialog(page).getByRole('button', { name: '確定' }).click();
      await expectMessage(page, '請先選擇目的瀏覽器');

      // Shown again as it was left; in single mode a click clears the others.
      await dialog(page).waitFor();
      assert.deepEqual(await framed(page), []);
      await cell(page, 'Chrome').click();
      await cell(page, 'FireFox').click();
      assert.deepEqual(await framed(page), ['FireFox']);
      await dialog(page).locator('input[name=password]').fill('abc123');
      await dialog(page).locator('input[name=passwordConfirm]').fill('abc124');
      await dialog(page).getByRole('button', { name: '確定' }).click();
      await expectMessage(page, '密碼與密碼確認值不符');

      await dialog(page).getByRole('button', { name: '取消' }).click();
      assert.equal(await reply, "{'errCode':'54801','errMsg':'<54801>使用者按下「取消」鍵或關閉視窗'}");

      // Chosen and confirmed: FireFox gets the deployment page.
      reply = callInPage(page, 'deployCert', c.idno, c.branch + c.account, '', '');
      await cell(page, 'FireFox').click();
      await dialog(page).locator('input[name=password]').fill('abc123');
      await dialog(page).locator('input[name=passwordConfirm]').fill('abc123');
      await dialog(page).getByRole('button', { name: '確定' }).click();
      // The outcome, browser by browser: this Firefox never ran, so it has no
      // profile to hold the certificate, and the customer is told what to do.
      await expectMessage(page, '瀏覽器憑證匯入結果：\nFireFox：找不到 Firefox 的設定檔，未匯入憑證。'
        + '請先開啟並關閉 Firefox 一次，再重新匯入。');
      assert.equal(await reply, "{'errCode':'0','errMsg':''}");
      const [address] = await fakes.starts('firefox');
      assert.match(address, new RegExp(`^file://${quil.home}/mero/MERODepCert\\.\\d{17}\\.htm$`));
    } finally {
      await quil.stop();
      fakes.remove();
      await suite.proxy.admin('POST', 'profile', { name: 'pfx' });
    }
  });
});

describe('browser screen', () => {
  test('imports the saved file into the chosen browsers and removes it from all', async () => {
    const fakes = fakeBrowsers(BROWSERS);
    await suite.proxy.admin('POST', 'syscfg', { key: 'depCert.mode', value: 'M' });
    await suite.proxy.admin('POST', 'syscfg', { key: 'depCert.selectedBrowser', value: 'Chrome' });
    const c = await newCustomer(suite.proxy, { sheetCodes: ['BR12WS'] });
    const { quil, page } = await session(fakes);
    try {
      await loginToAgreement(page, c);
      await acceptAgreement(page);
      const file = join(quil.home, 'QUIL', `${c.idno}.P12`);
      await submitSave(page, file, 'pfx12345');
      await expectMessage(page, '憑證儲存完成！');
      await answerQuestion(page, '您要現在將憑證匯入瀏覽器嗎？', true);
      await page.locator('#screen-deploy').waitFor();
      await screenshot(page, 'browser-screen');

      await page.locator('#btn-deploy-import').click();
      await page.locator('#screen-deployfile').waitFor();
      assert.equal(await page.locator('#deploy-path').inputValue(), file);
      await page.locator('#form-deployfile button[type=submit]').click();
      await expectMessage(page, '請輸入憑證檔密碼！');
      await page.locator('#deploy-pw').fill('wrong123');
      await page.locator('#form-deployfile button[type=submit]').click();
      await expectMessage(page, '【6005】憑證查詢失敗！\n憑證密碼輸入錯誤，請重新輸入。');
      await page.locator('#deploy-pw').fill('pfx12345');
      await screenshot(page, 'browser-file-choice');
      await page.locator('#form-deployfile button[type=submit]').click();

      await dialog(page).waitFor();
      assert.deepEqual(await framed(page), ['Chrome']);
      assert.equal(await dialog(page).locator('input[type=password]').count(), 0, 'no password for a file');
      await cell(page, 'FireFox').click();
      await dialog(page).getByRole('button', { name: '確定' }).click();
      await dialog(page).waitFor({ state: 'detached' });
      await expectMessage(page, '瀏覽器憑證匯入結果：\nChrome：已匯入憑證\nFireFox：找不到 Firefox 的設定檔，'
        + '未匯入憑證。請先開啟並關閉 Firefox 一次，再重新匯入。');
      await screenshot(page, 'browser-deploy-outcome');
      // The page then offers the security component, which is not installed.
      await answerQuestion(page, COMPONENT_QUESTION, false);
      const [chromeAddress] = await fakes.starts('chromium');
      const [firefoxAddress] = await fakes.starts('firefox');
      assert.equal(chromeAddress, firefoxAddress);
      assert.match(chromeAddress, /^file:\/\/.*\/mero\/MERODepCert\.\d{17}\.htm$/);
      const memos = (await suite.proxy.audit()).filter((r) => r.id === c.idno).map((r) => r.memo);
      assert.deepEqual(memos.filter((m) => m.startsWith('72')), ['7201', '7201']);

      await page.locator('#menu [data-fn=deploy]').click();
      await page.locator('#btn-deploy-remove').click();
      await answerQuestion(page, '您確認要移除所有瀏覽器內的電腦憑證？', true);
      await expectMessage(page, '瀏覽器憑證移除結果：\nChrome：已移除憑證\nFireFox：未持有此憑證');
      assert.equal((await fakes.starts('chromium', 2)).length, 2);
      assert.equal((await fakes.starts('firefox', 2)).length, 2);
      const removalMemos = async () => (await suite.proxy.audit())
        .filter((r) => r.id === c.idno && ['7211', '7212'].includes(r.memo)).map((r) => r.memo);
      for (const until = Date.now() + 10000; (await removalMemos()).length < 2 && Date.now() < until;)
        await new Promise((r) => setTimeout(r, 100));
      assert.deepEqual(await removalMemos(), ['7211', '7212']);
    } finally {
      await quil.stop();
      fakes.remove();
    }
  });
});
