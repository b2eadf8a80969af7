// What a customer does on the main page, as test steps.
import assert from 'node:assert/strict';

// Waits for the top message box, checks its text and closes it with 確定.
export async function expectMessage(page, text) {
  const box = await topBox(page);
  const shown = await (await box.$('.body')).innerText();
  if (text instanceof RegExp) assert.match(shown, text);
  else assert.equal(shown, text);
  await (await box.$('button[data-answer=ok]')).click();
  await box.waitForElementState('hidden');
}

async function topBox(page) {
  const box = page.locator('#modal-layer .message-window').last();
  await box.waitFor();
  return box.elementHandle();
}

// Answers the question box with 確定 (yes) or 取消.
export async function answerQuestion(page, text, yes) {
  const box = await topBox(page);
  assert.equal(await (await box.$('.body')).innerText(), text);
  await (await box.$(`button[data-answer=${yes ? 'ok' : 'cancel'}]`)).click();
  await box.waitForElementState('hidden');
}

// Answers the yes/no question box, whose text matches `text`, with 是 or 否.
export async function answerYesNo(page, text, yes) {
  const box = await topBox(page);
  assert.match(await (await box.$('.body')).innerText(), text);
  const labels = await box.$$eval('.buttons button', (bs) => bs.map((b) => b.textContent));
  assert.deepEqual(labels, ['是', '否']);
  await (await box.$(`button[data-answer=${yes ? 'yes' : 'no'}]`)).click();
  await box.waitForElementState('hidden');
}

// Logs in in account mode.
export async function loginWithAccount(page, { branch, account, password }) {
  await page.locator('#btn-login:not([disabled])').waitFor();
  await page.locator('#branch').selectOption(branch);
  await page.locator('#login-name').fill(account);
  await page.locator('#password').fill(password);
  await page.locator('#btn-login').click();
}

let serial = 0;

// A fresh customer of the demo proxy; returns its login.
export async function newCustomer(proxy, fields = {}) {
  serial += 1;
  const n = String(Date.now() % 100000).padStart(5, '0') + String(serial).padStart(2, '0');
  const customer = {
    idno: `Q1${n.slice(-8)}`,
    name: '測試用戶',
    branch: '9A00',
    account: n.slice(-7),
    password: 'demo1234',
    email: `user${n}@example.com`,
    mobile: '0912000000',
    birthday: '19800101',
    isApplyPwBag: 'A',
    firstLogin: false,
    sheetCodes: ['AB12CD'],
    ...fields,
  };
  const r = await proxy.addCustomer(customer);
  assert.equal(r.ok, true, JSON.stringify(r));
  return customer;
}

// A customer with a sheet code logs in and proves it: the agreement is next.
export async function loginToAgreement(page, c) {
  await loginWithAccount(page, { branch: c.branch, account: c.account, password: c.password });
  await answerQuestion(page, '您要現在線上申請憑證嗎？', true);
  await page.locator('#sheet-code').fill(c.sheetCodes[0]);
  await page.locator('#form-sheetcode button[type=submit]').click();
  await expectMessage(page, '憑證認證碼驗證成功！');
}

// Ticks the agreement and confirms it.
export async function confirmAgreement(page) {
  const frame = page.frameLocator('#agreement-frame');
  await frame.locator('#chbAgree').check();
  await frame.locator('#ButtonOK').click();
}

// Ticks the agreement and confirms it; waits for the save screen.
export async function acceptAgreement(page) {
  await confirmAgreement(page);
  await page.locator('#screen-save').waitFor();
}

// Fills the save screen and submits it.
export async function submitSave(page, path, password) {
  await page.locator('#save-path').fill(path);
  await page.locator('#save-pw').fill(password);
  await page.locator('#save-pw2').fill(password);
  await page.locator('#form-save button[type=submit]').click();
}
