// One browser and one demo proxy for a whole test file.
import { after, before } from 'node:test';
import { startDevProxy } from './devproxy.js';
import { launchBrowser, openPage, startQuil } from './quil.js';

// `proxyOptions` go to startDevProxy.
export function browserAndProxy(proxyOptions = {}) {
  const suite = { browser: null, proxy: null };
  before(async () => {
    suite.browser = await launchBrowser();
    suite.proxy = await startDevProxy(proxyOptions);
  });
  after(async () => {
    await suite.browser?.close();
    await suite.proxy?.stop();
  });
  return suite;
}

// A quil program on the suite's proxy with its page open and loaded.
export async function openSession(suite, options = {}) {
  const quil = await startQuil({ env: suite.proxy.env, ...options });
  const page = await openPage(suite.browser, quil);
  await page.getByText('Version:1.9').waitFor();
  return { quil, page };
}
