// The page's start (the operator's notices, a client that may not be used),
// the identity-number login with its restore, and the page's timers: the
// keep-alive after five idle minutes and the 300-second lock of the code
// button, on the page's clock (Playwright's), so nothing waits for real.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import { answerQuestion, expectMessage, loginWithAccount, newCustomer } from '../lib/page_actions.js';
import { expectAccessible } from '../lib/axe.js';
import { makeHome, openPage, screenshotZoomed, startQuil } from '../lib/quil.js';
import { browserAndProxy, openSession } from '../lib/suite.js';

const suite = browserAndProxy();

const requestsOf = async (idno) => (await suite.proxy.requests()).filter((r) => r.sessionIdno === idno);

// A page whose timers and clock the test drives.
async function sessionOnClock(options = {}) {
  const quil = await startQuil({ env: suite.proxy.env, ...options });
  const context = await suite.browser.newContext({ viewport: { width: 687, height: 470 } });
  const page = await context.newPage();
  await page.clock.install();
  await page.goto(quil.url);
  await page.getByText('Version:1.9').waitFor();
  return {
    quil, page,
    async stop() {
      await context.close();
      await quil.stop();
    },
  };
}

describe('start', () => {
  test('shows the notices, and a client that may not be used closes after them', async () => {
    // The start-up check and the page each ask once.
    await suite.proxy.admin('POST', 'version', {
      generalReportText: '系統公告#今晚維護', isShowReportText: 'true', notice: '請更新#新版本', available: 'false', times: 2,
    });
    const quil = await startQuil({ env: suite.proxy.env });
    try {
      const page = await openPage(suite.browser, quil);
      await page.locator('#modal-layer .message-window').waitFor();
      await expectAccessible(page, 'notice');
      await screenshotZoomed(page, 'start-notice');
      await expectMessage(page, '系統公告\n今晚維護');
      await expectMessage(page, '請更新\n新版本');
      assert.equal((await quil.exited).code, 0, 'closeApp after the notices');
      await page.getByText('程式已結束，請關閉此視窗。').waitFor();
      await expectAccessible(page, 'closed');
    } finally {
      await suite.proxy.admin('POST', 'version', {});
      await quil.stop();
    }
  });
});

describe('identity-number login', () => {
  test('branches from qryBranchInfo, login, and the same mode restored after a restart', async () => {
    const c = await newCustomer(suite.proxy);
    const home = makeHome();
    const first = await openSession(suite, { home });
    try {
      const { page } = first;
      await page.locator('#btn-login:not([disabled])').waitFor();
      await page.getByLabel('身分證號登入').check();
      assert.equal(await page.locator('#label-login').innerText(), '身分證號');
      assert.equal(await page.locator('#label-remember').innerText(), '記住身分證號');
      await page.locator('#btn-branch-query').click();
      await expectMessage(page, '您未輸入身分證字號！');
      await page.locator('#login-name').fill(c.idno.toLowerCase());
      await page.locator('#btn-branch-query').click();
      await page.locator('#branch option').first().waitFor({ state: 'attached' });
      assert.equal(await page.locator('#login-name').inputValue(), c.idno, 'upper-cased');
      const options = await page.locator('#branch option').evaluateAll((os) => os.map((o) => [o.textContent, o.value]));
      assert.equal(options.length, 1);
      assert.match(options[0][0], new RegExp(`^${c.branch} `));
      assert.equal(options[0][1], c.branch + c.account);
      await page.locator('#remember').check();
      await page.locator('#password').fill(c.password);
      await page.locator('#btn-login').click();
      await answerQuestion(page, '您要現在線上申請憑證嗎？', false);
      assert.equal(await page.locator('#btn-login').innerText(), '登出');
    } finally {
      first.quil.child.kill('SIGTERM');
      await first.quil.exited;
    }
    const second = await openSession(suite, { home });
    try {
      const { page } = second;
      await page.waitForFunction(() => document.getElementById('remember').checked);
      assert.equal(await page.locator('input[name=login-mode][value=id]').isChecked(), true);
      assert.equal(await page.locator('#label-login').innerText(), '身分證號');
      assert.equal(await page.locator('#login-name').inputValue(), c.idno);
      assert.equal(await page.locator('#branch').inputValue(), c.branch + c.account);
      assert.equal(await page.locator('#btn-branch-query').isVisible(), true);
      await page.locator('#password').fill(c.password);
      await page.locator('#btn-login').click();
      await answerQuestion(page, '您要現在線上申請憑證嗎？', false);
    } finally {
      await second.quil.stop();
    }
  });
});

describe('timers', () => {
  test('a key press after more than five idle minutes sends iAmAlive before its own call', async () => {
    const c = await newCustomer(suite.proxy);
    const s = await sessionOnClock();
    try {
      await loginWithAccount(s.page, { branch: c.branch, account: c.account, password: c.password });
      await answerQuestion(s.page, '您要現在線上申請憑證嗎？', false);
      const apply = s.page.locator('#menu [data-fn=apply]');
      // Idle for 4 and then for 6 minutes; each time Enter on the apply
      // button asks the function status and shows the sheet code entry.
      for (const [idleMs, keptAlive] of [[240000, false], [360000, true]]) {
        await apply.focus();
        const before = (await requestsOf(c.idno)).length;
        await s.page.clock.runFor(idleMs);
        await s.page.keyboard.press('Enter');
        await s.page.locator('#screen-sheetcode').waitFor();
        const actions = (await requestsOf(c.idno)).slice(before).map((r) => r.action);
        assert.deepEqual(actions.slice(0, keptAlive ? 2 : 1), keptAlive ? ['iAmAlive', 'getFnStatus'] : ['getFnStatus'],
          `after ${idleMs / 60000} idle minutes: ${actions}`);
      }
    } finally {
      await s.stop();
    }
  });

  // Each road with a customer of its own: the proxy takes a second code
  // request only 30 real seconds after the first.
  const lockRoads = [
    ['lifts at 300 s', async (page) => {
      await page.clock.runFor(299000);
      return 'locked at 299 s';
    }, async (page) => {
      assert.equal(await page.locator('#request-lock-text').innerText(), '1 秒後可重新申請認證碼');
      await page.clock.runFor(1000);
    }],
    ['ends once a code is accepted', async (page) => {
      await page.clock.runFor(5000);
      return 'locked at 5 s';
    }, async (page, c) => {
      const mail = (await suite.proxy.mailbox()).filter((m) => m.idno === c.idno).pop();
      await page.locator('#online-code').fill(mail.code);
      await page.locator('#btn-verify-code').click();
      await expectMessage(page, '憑證認證碼驗證成功！');
      await page.clock.runFor(1000);
    }],
  ];
  for (const [name, wait, free] of lockRoads) {
    test(`the code button's 300-second lock ${name}`, async () => {
      const c = await newCustomer(suite.proxy, { isApplyPwBag: 'C' });
      const s = await sessionOnClock();
      const { page } = s;
      const locked = async () => ({
        again: await page.locator('#btn-request-again').isDisabled(),
        request: await page.locator('#btn-request-code').isDisabled(),
      });
      try {
        await loginWithAccount(page, { branch: c.branch, account: c.account, password: c.password });
        await answerQuestion(page, '您要現在線上申請憑證嗎？', true);
        await page.locator('#birthday').fill(c.birthday);
        await page.locator('#btn-request-code').click();
        await page.locator('#screen-onlinecode').waitFor();
        assert.deepEqual(await locked(), { again: true, request: true });
        const when = await wait(page);
        assert.deepEqual(await locked(), { again: true, request: true }, when);
        await free(page, c);
        assert.deepEqual(await locked(), { again: false, request: false });
      } finally {
        await s.stop();
      }
    });
  }
});
