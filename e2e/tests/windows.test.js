// The road of one application with quil.exe, the Windows build, running
// under Wine against the demo proxy: the PKCS#12 file it writes opens with
// openssl, and with the store profile the certificate is in Wine's "MY"
// store of the current user, bound to a key container.
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

const missing = wineMissing();

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

  test('with the store profile the certificate lands in the user\'s MY store with its key', async () => {
    await suite.proxy.admin('POST', 'profile', { name: 'store' });
    const c = await newCustomer(suite.proxy, { sheetCodes: ['WN34ST'] });
    const { quil, page } = await session();
    try {
      // The application installs the certificate itself; the save screen
      // that follows has nothing to save.
      await loginToAgreement(page, c);
      await acceptAgreement(page);

      // The prefix is new: the one certificate of its MY store is this one.
      const certs = prefix.reg('query', 'HKCU\\Software\\Microsoft\\SystemCertificates\\MY\\Certificates', '/s');
      assert.equal(certs.status, 0, certs.stderr);
      const keys = certs.stdout.split(/\r?\n/).filter((l) => /\\Certificates\\[0-9A-F]{40}$/i.test(l.trim()));
      assert.equal(keys.length, 1, certs.stdout);
      const blobLine = certs.stdout.split(/\r?\n/).find((l) => l.includes('REG_BINARY'));
      const blob = Buffer.from(blobLine.trim().split(/\s+/).pop(), 'hex');
      assert.ok(blob.includes(Buffer.from(c.idno)), 'the certificate is the customer\'s');
      // Its key provider property names a container that Wine's provider keeps.
      const containers = prefix.reg('query', 'HKCU\\Software\\Wine\\Crypto\\RSA');
      assert.equal(containers.status, 0, containers.stderr);
      const named = containers.stdout.split(/\r?\n/).map((l) => l.trim().split('\\').pop())
        .filter((name) => name.length > 8 && blob.includes(Buffer.from(name, 'utf16le')));
      assert.equal(named.length, 1, `one container named in the certificate's properties: ${containers.stdout}`);
    } finally {
      await suite.proxy.admin('POST', 'profile', { name: 'pfx' });
      await quil.stop();
    }
  });
});
