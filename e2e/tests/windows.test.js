// The road of one application with quil.exe, the Windows build, running
// under Wine against the demo proxy: the PKCS#12 file it writes opens with
// openssl.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { join } from 'node:path';
import { after, before, describe, test } from 'node:test';
import { browserAndProxy } from '../lib/suite.js';
import {
  acceptAgreement, answerQuestion, expectMessage, loginToAgreement, newCustomer, submitSave,
} from '../lib/page_actions.js';
import { openPage, screenshot } from '../lib/quil.js';
import { makeWinePrefix, startQuilExe, wineMissing, windowsPath } from '../lib/wine.js';

// quil.exe's first proxy exchange under Wine sometimes never answers (not
// yet understood), so this road runs only when asked for.
const missing = wineMissing() ||
  (process.env.QUIL_WINE_E2E !== '1' && 'set QUIL_WINE_E2E=1: the first proxy exchange under Wine hangs at times');

describe('quil.exe under Wine', { skip: missing || false }, () => {
  const suite = browserAndProxy();
  let prefix;
  before(() => { prefix = makeWinePrefix(); });
  after(() => prefix?.stop());

  async function session() {
    const quil = await startQuilExe(prefix, suite.proxy.env);
    const page = await openPage(suite.browser, quil);
    await page.getByText('Version:1.9').waitFor({ timeout: 60000 });
    return { quil, page };
  }

  test('the application writes a PKCS#12 file that openssl opens', async () => {
    await suite.proxy.admin('POST', 'profile', { name: 'pfx' });
    const c = await newCustomer(suite.proxy, { sheetCodes: ['WN12PF'] });
    const { quil, page } = await session();
    try {
      const file = join(quil.home, `${c.idno}.P12`);
      await loginToAgreement(page, c);
      await acceptAgreement(page);
      await submitSave(page, windowsPath(file), 'pfx12345');
      await expectMessage(page, '憑證儲存完成！');
      await answerQuestion(page, '您要現在將憑證匯入瀏覽器嗎？', false);
      await page.locator('#screen-overview').waitFor();
      await screenshot(page, 'windows-overview-with-certificate');

      const r = spawnSync('openssl', ['pkcs12', '-legacy', '-in', file, '-passin', 'pass:pfx12345', '-nodes'],
        { encoding: 'utf8' });
      assert.equal(r.status, 0, r.stderr);
      assert.match(r.stdout, new RegExp(c.idno));
      assert.match(r.stdout, /BEGIN PRIVATE KEY/);
    } finally {
      await quil.stop();
    }
  });
});
