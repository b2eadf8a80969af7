// Signing an order in the browser through the security component: after
// the application road and the browser deployment (which offers the
// component and installs it for the user), the customer orders on the demo
// trading page, confirms on QUIL's screen with the file password, and the
// broker takes the order signed by that certificate; in Chromium (the
// extension loaded into the user's profile folder) and in headless Firefox
// ESR (the extension installed into its profile, the page worked over
// WebDriver BiDi). A wrong password, a cancel and a site off the
// operator's list sign nothing, nor does a revoked certificate. One QUIL,
// one proxy, one customer and one start of each browser for the file.
import assert from 'node:assert/strict';
import { existsSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, describe, test } from 'node:test';
import { expectAccessible } from '../lib/axe.js';
import { startDevProxy } from '../lib/devproxy.js';
import { fakeBrowsers } from '../lib/fake_browsers.js';
import {
  acceptAgreement, answerQuestion, expectMessage, loginToAgreement, newCustomer, submitSave,
} from '../lib/page_actions.js';
import { callInPage, launchBrowser, makeHome, openPage, screenshot, startQuil } from '../lib/quil.js';
import {
  GECKO_ID, answerSignScreen, chromiumWithExtension, componentPaths, makeFirefoxProfile, pemFromPkcs12,
  signScreen, startFirefox, waitForFiles,
} from '../lib/signing.js';

const PASSWORD = 'pfx12345';
const COMPONENT_QUESTION = '您尚未安裝安控元件或目前使用的版本需要更新。\n\n開始下載安控元件安裝檔並進行安控元件安裝？';
const COMPONENT_STARTING = '安控元件安裝檔下載完成，現在將開始為您啟動安控元件安裝程序';

const s = {};

// The orders the broker has recorded so far.
const orders = () => s.proxy.admin('GET', 'orders');

// Opens the trading page at `origin` in Chromium and waits for the
// component to answer it.
async function tradingPage(origin) {
  const page = await s.chromium.newPage();
  await page.goto(origin + '/');
  await page.locator('#component[data-state=ready]').waitFor({ timeout: 20000 });
  return page;
}

async function placeOrder(page) {
  await page.getByRole('button', { name: '簽章並送出委託' }).click();
}

// The same steps in the Firefox page, worked over WebDriver BiDi.
const firefoxReady = (ff) => ff.waitFor("document.querySelector('#component')?.dataset.state === 'ready'", 20000);
// Clicking runs the page's handler at once, which marks the result as signing.
const firefoxOrder = (ff) => ff.evaluate("document.querySelector('#order-form button').click()");

// The page's result once it is in `state`.
async function firefoxResult(ff, state) {
  await ff.waitFor(`document.querySelector('#order-result')?.dataset.state === '${state}'`);
  return ff.evaluate("document.querySelector('#order-result').innerText");
}

const result = (page, state) => page.locator(`#order-result[data-state=${state}]`);

before(async () => {
  s.proxy = await startDevProxy();
  await s.proxy.admin('POST', 'syscfg', { key: 'depCert.mode', value: 'N' });
  s.fakes = fakeBrowsers({
    chromium: 'Chromium 156.0.8078.129 built on Debian GNU/Linux 12',
    firefox: 'Mozilla Firefox 153.8.0esr',
  });
  s.home = makeHome();
  s.profile = makeFirefoxProfile(s.home, join(s.proxy.data, 'ca', 'root.crt'));
  s.customer = await newCustomer(s.proxy, { sheetCodes: ['SG12NW'] });
  s.quil = await startQuil({ home: s.home, env: { ...s.proxy.env, ...s.fakes.env } });
  s.browser = await launchBrowser();
  s.page = await openPage(s.browser, s.quil);
  await s.page.getByText('Version:1.9').waitFor();
  s.trading = new URL((await s.proxy.admin('GET', 'syscfg'))['depCert.targetUrl'].split(',')[1]).origin;
});

after(async () => {
  await s.chromium?.close();
  await s.firefox?.stop();
  await s.browser?.close();
  await s.quil?.stop();
  await s.proxy?.stop();
  s.fakes?.remove();
});

describe('signing orders in the browser', () => {
  test('the application road and the deployment install the component for the user', async () => {
    const c = s.customer;
    await loginToAgreement(s.page, c);
    await acceptAgreement(s.page);
    s.pfx = join(s.home, 'QUIL', `${c.idno}.P12`);
    await submitSave(s.page, s.pfx, PASSWORD);
    await expectMessage(s.page, '憑證儲存完成！');
    await answerQuestion(s.page, '您要現在將憑證匯入瀏覽器嗎？', true);
    await s.page.locator('#btn-deploy-import').click();
    await s.page.locator('#deploy-pw').fill(PASSWORD);
    await s.page.locator('#form-deployfile button[type=submit]').click();
    await expectMessage(s.page, '即將進行瀏覽器憑證安裝');
    await expectMessage(s.page, /^瀏覽器憑證匯入結果：\n/);
    // The component is missing: the installation flow of the operator's component.
    await answerQuestion(s.page, COMPONENT_QUESTION, true);
    await expectMessage(s.page, COMPONENT_STARTING);
    const paths = componentPaths(s.home);
    await waitForFiles([paths.host, paths.extension, paths.chromiumManifest, paths.firefoxManifest,
      join(s.profile, 'extensions', `${GECKO_ID}.xpi`)]);
    // Registered, the version check finds it current.
    let reg = '';
    for (const until = Date.now() + 20000; Date.now() < until && !reg.includes("'A1':'1#1#");)
      reg = await callInPage(s.page, 'getClientReg');
    assert.match(reg, /'A1':'1#1#/);
    assert.equal(JSON.parse(readFileSync(paths.chromiumManifest, 'utf8')).path, paths.host);

    const [cert] = (await s.proxy.certs(c.idno)).filter((x) => x.state === '0');
    s.cert = cert;
    s.chromium = await chromiumWithExtension(s.home, [s.trading, s.trading.replace('127.0.0.1', 'localhost')],
      pemFromPkcs12(s.pfx, PASSWORD));
  });

  test('Chromium: an order confirmed with the file password is signed and taken', async () => {
    const page = await tradingPage(s.trading);
    await placeOrder(page);
    await signScreen(s.page).waitFor();
    await screenshot(s.page, 'sign-confirmation');
    await expectAccessible(s.page, 'the signature confirmation');
    const shown = await answerSignScreen(s.page, { password: PASSWORD });
    assert.equal(shown.origin, s.trading);
    assert.match(shown.text, new RegExp(`^QUIL 示範網路下單委託\n委託人: ${s.cert.cn}\n委託編號: \\w+\n商品代號: 2330\n買賣別: 買進\n數量: 1000 股\n價格: 600.00$`));
    assert.match(shown.facts, new RegExp(s.cert.serial));
    await result(page, 'accepted').waitFor();
    const expected = `order accepted, signed by ${s.cert.cn}, serial ${s.cert.serial}`;
    assert.equal(await result(page, 'accepted').innerText(), `委託成功：${expected}`);
    const [order] = await orders();
    assert.equal(order.accepted, true);
    assert.equal(order.result, expected);
    assert.equal(order.order, shown.text);
    await page.close();
  });

  test('Chromium: a wrong password, a cancel and a site off the list sign nothing', async () => {
    const before = (await orders()).length;
    const page = await tradingPage(s.trading);
    await placeOrder(page);
    await answerSignScreen(s.page, { password: 'wrong999' });
    await result(page, 'refused').waitFor();
    assert.match(await result(page, 'refused').innerText(), /\(wrong-password\)$/);
    await expectMessage(s.page, /^憑證密碼錯誤，未簽章。/);

    await placeOrder(page);
    await answerSignScreen(s.page, { cancel: true });
    await result(page, 'refused').waitFor();
    assert.match(await result(page, 'refused').innerText(), /\(cancelled\)$/);
    await page.close();

    // The same page under another name is another site, not on the list.
    const elsewhere = await tradingPage(s.trading.replace('127.0.0.1', 'localhost'));
    await placeOrder(elsewhere);
    await result(elsewhere, 'refused').waitFor();
    assert.match(await result(elsewhere, 'refused').innerText(), /\(origin-not-allowed\)$/);
    assert.equal(await signScreen(s.page).count(), 0, 'no screen for a site off the list');
    await elsewhere.close();
    assert.equal((await orders()).length, before);
  });

  test('Firefox ESR: a cancel, a wrong password and a site off the list sign nothing; the file password signs',
    async () => {
      const before = (await orders()).length;
      s.firefox = await startFirefox(s.home, s.profile, `${s.trading}/`, { driven: true });
      const ff = s.firefox;
      await firefoxReady(ff);
      await firefoxOrder(ff);
      const cancelled = await answerSignScreen(s.page, { cancel: true });
      assert.equal(cancelled.origin, s.trading);
      assert.match(await firefoxResult(ff, 'refused'), /\(cancelled\)$/);
      await firefoxOrder(ff);
      await answerSignScreen(s.page, { password: 'wrong999' });
      assert.match(await firefoxResult(ff, 'refused'), /\(wrong-password\)$/);
      await expectMessage(s.page, /^憑證密碼錯誤，未簽章。/);
      assert.equal((await orders()).length, before, 'nothing signed after a cancel and a wrong password');

      // The order link places its order as soon as the component answers.
      await ff.navigate(`${s.trading}/?order=2317,賣出,2000,150.50`);
      const shown = await answerSignScreen(s.page, { password: PASSWORD });
      assert.equal(shown.origin, s.trading);
      assert.match(shown.text, /商品代號: 2317\n買賣別: 賣出\n數量: 2000 股\n價格: 150.50$/);
      const expected = `order accepted, signed by ${s.cert.cn}, serial ${s.cert.serial}`;
      assert.equal(await firefoxResult(ff, 'accepted'), `委託成功：${expected}`);
      const list = await orders();
      assert.equal(list.length, before + 1);
      assert.equal(list[before].accepted, true, list[before].result);
      assert.equal(list[before].result, expected);
      assert.equal(list[before].order, shown.text);

      await ff.navigate(s.trading.replace('127.0.0.1', 'localhost') + '/');
      await firefoxReady(ff);
      await firefoxOrder(ff);
      assert.match(await firefoxResult(ff, 'refused'), /\(origin-not-allowed\)$/);
      assert.equal(await signScreen(s.page).count(), 0, 'no screen for a site off the list');
      assert.equal((await orders()).length, before + 1);
    });

  test('after the revocation the certificate signs nothing, in either browser', async () => {
    await s.proxy.admin('POST', 'policy', { requireAuthCode: false });
    assert.match(await callInPage(s.page, 'crtRevokeCert', s.customer.idno), /'rvkCode':'0'/);
    const before = (await orders()).length;
    const page = await tradingPage(s.trading);
    await placeOrder(page);
    await result(page, 'refused').waitFor();
    assert.match(await result(page, 'refused').innerText(), /\(certificate-revoked\)$/);
    await page.close();
    await s.firefox.navigate(`${s.trading}/`);
    await firefoxReady(s.firefox);
    await firefoxOrder(s.firefox);
    assert.match(await firefoxResult(s.firefox, 'refused'), /\(certificate-revoked\)$/);
    assert.equal(await signScreen(s.page).count(), 0, 'nothing to confirm');
    assert.equal((await orders()).length, before);
    assert.ok(existsSync(s.pfx), 'the file stays');
  });
});
