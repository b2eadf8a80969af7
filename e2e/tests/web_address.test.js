// Which addresses from the proxy the page opens in a window: absolute web
// addresses only.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { webAddress } from '../../src/pages/www/js/web_address.js';

test('webAddress', async (t) => {
  const cases = [
    ['https', 'https://www.example.com.tw/notice?id=1', 'https://www.example.com.tw/notice?id=1'],
    ['http, upper-case scheme', 'HTTP://example.com/a b', 'http://example.com/a%20b'],
    ['white space around', '  https://example.com/ ', 'https://example.com/'],
    ['script', 'javascript:alert(1)', null],
    ['script with a tab in the scheme', 'java\tscript:alert(1)', null],
    ['script in capitals after spaces', '  JAVASCRIPT:alert(1)', null],
    ['data', 'data:text/html,<script>alert(1)</script>', null],
    ['local file', 'file:///C:/Windows/win.ini', null],
    ['relative', '/api/events', null],
    ['no scheme', 'www.example.com', null],
    ['empty', '', null],
    ['absent', undefined, null],
  ];
  for (const [name, text, want] of cases) await t.test(name, () => assert.equal(webAddress(text), want));
});
