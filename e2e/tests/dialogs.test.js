// The program's own dialogs rendered by the page: the agreement dialog of
// crtNewCert and the PKCS#12 save dialog, with their checks in the program.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdirSync } from 'node:fs';
import { join } from 'node:path';
import { describe, test } from 'node:test';
import { browserAndProxy } from '../lib/suite.js';
import { answerQuestion, expectMessage, loginWithAccount, newCustomer } from '../lib/page_actions.js';
import { expectAccessible } from '../lib/axe.js';
import { callInPage, openPage, screenshot, screenshotZoomed, startQuil } from '../lib/quil.js';

const suite = browserAndProxy();

describe('crtNewCert', () => {
  test('asks for the terms in a dialog, then for the file in the save dialog', async () => {
    const c = await newCustomer(suite.proxy, { sheetCodes: ['DL12GX'] });
    const quil = await startQuil({ env: suite.proxy.env });
    try {
      const page = await openPage(suite.browser, quil);
      await page.getByText('Version:1.9').waitFor();
      await loginWithAccount(page, { branch: c.branch, account: c.account, password: c.password });
      await answerQuestion(page, '您要現在線上申請憑證嗎？', false);

      // Closing the terms refuses the application and contacts nobody.
      let reply = callInPage(page, 'crtNewCert', c.idno);
      const terms = page.locator('[data-dialog=CQUILAgmntDlg]');
      await terms.frameLocator('iframe').locator('#chbAgree').waitFor();
      await screenshot(page, 'agreement-dialog');
      await page.keyboard.press('Escape');
      assert.equal(await reply, "{'errCode':'59101','errMsg':'<59101>您不同意憑證申請約定條款, 無法為您申請憑證'}");

      assert.match(await callInPage(page, 'verifyPwBag', c.idno, c.branch + c.account, 'DL12GX'), /'rtnCode':'0'/);
      reply = callInPage(page, 'crtNewCert', c.idno);
      await terms.waitFor();
      const frame = terms.frameLocator('iframe');
      await frame.locator('#chbAgree').check();
      await frame.locator('#chbAgree').uncheck();
      assert.equal(await frame.locator('#ButtonOK').isHidden(), true, 'unticking hides the next button');
      await frame.locator('#chbAgree').check();
      await frame.locator('#ButtonOK').click();

      const save = page.locator('[data-dialog=CQUILSavePfxDlg]');
      await save.waitFor({ timeout: 60000 });
      await expectAccessible(page, 'save dialog');
      await screenshotZoomed(page, 'save-dialog');
      const folder = join(quil.home, 'saved');
      mkdirSync(folder);
      await save.getByRole('button', { name: '瀏覽' }).click();
      const chooser = page.locator('[data-chooser=folder]');
      await chooser.getByRole('textbox', { name: '位置' }).fill(folder);
      await chooser.getByRole('textbox', { name: '位置' }).press('Enter');
      await chooser.getByRole('button', { name: '選擇資料夾' }).click();
      await chooser.waitFor({ state: 'detached' });
      // The focus is back on the button that opened the chooser.
      await page.waitForFunction(() => document.activeElement?.textContent === '瀏覽'
        && document.activeElement.closest('[data-dialog=CQUILSavePfxDlg]'));
      const path = await save.locator('input[name=path]').inputValue();
      assert.ok(path.startsWith(folder + '/'), path);

      // A check that fails shows its message and the dialog again, input kept.
      await save.locator('input[name=password]').fill('abc12345');
      await save.locator('input[name=confirm]').fill('abc12399');
      await save.getByRole('button', { name: '確定' }).click();
      await expectMessage(page, '密碼與密碼確認欄位值不同\n');
      const again = page.locator('[data-dialog=CQUILSavePfxDlg]');
      assert.equal(await again.locator('input[name=path]').inputValue(), path);
      await again.locator('input[name=confirm]').fill('abc12345');
      await again.getByRole('button', { name: '確定' }).click();

      assert.match(await reply, /^\{'errCode':'0','errMsg':''\}$/);
      const opened = spawnSync('openssl', ['pkcs12', '-legacy', '-in', path, '-passin', 'pass:abc12345', '-nokeys'],
        { encoding: 'utf8' });
      assert.equal(opened.status, 0, opened.stderr);
    } finally {
      await quil.stop();
    }
  });
});
