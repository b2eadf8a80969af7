// One browser and one demo proxy for a whole test file.
import { after, before } from 'node:test';
import { startDevProxy } from './devproxy.js';
import { launchBrowser } from './quil.js';

export function browserAndProxy() {
  const suite = { browser: null, proxy: null };
  before(async () => {
    suite.browser = await launchBrowser();
    suite.proxy = await startDevProxy();
  });
  after(async () => {
    await suite.browser?.close();
    await suite.proxy?.stop();
  });
  return suite;
}
