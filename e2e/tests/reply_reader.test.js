// The page's reader of reply texts: the whole grammar the program writes,
// and refusal of anything else (no text is ever run as script).
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';
import { ReplyError, readPathReply, readReply } from '../../src/pages/www/js/reply_reader.js';

describe('readReply', () => {
  const cases = [
    ['plain', "{'errCode':'0','errMsg':''}", { errCode: '0', errMsg: '' }],
    ['chinese message', "{'errCode':'53705','errMsg':'<53705>用戶端版本資訊不符'}",
      { errCode: '53705', errMsg: '<53705>用戶端版本資訊不符' }],
    ['code only', "{'errCode':'52301'}", { errCode: '52301' }],
    ['doubled backslashes read as one', "{'errCode':'0','pfxFilePath':'C:\\\\a\\\\b.P12'}",
      { errCode: '0', pfxFilePath: 'C:\\a\\b.P12' }],
    ['empty mobile list', "{'errCode':'0','errMsg':'','serial':'9F','moCerts':[]}",
      { errCode: '0', errMsg: '', serial: '9F', moCerts: [] }],
    ['mobile list', "{'errCode':'0','moCerts':[{'cn':'A-M1','serial':'1'},{}]}",
      { errCode: '0', moCerts: [{ cn: 'A-M1', serial: '1' }, {}] }],
    ['text with braces and commas', "{'errCode':'0','rtnMsg':'a,b}{c:d#e'}", { errCode: '0', rtnMsg: 'a,b}{c:d#e' }],
  ];
  for (const [name, text, want] of cases) {
    test(name, () => assert.deepEqual(readReply(text), want));
  }

  const refused = [
    ['a quote inside a value', "{'errCode':'0','rtnMsg':'it's'}"],
    ['script after the object', "{'errCode':'0'});alert(1);({"],
    ['a function call', "alert(1)"],
    ['double quotes', '{"errCode":"0"}'],
    ['unquoted value', "{'errCode':0}"],
    ['unterminated', "{'errCode':'0'"],
    ['nested list outside moCerts', "{'errCode':'0','x':[{}]}"],
    ['not text', null],
  ];
  for (const [name, text] of refused) {
    test(`refuses ${name}`, () => assert.throws(() => readReply(text), ReplyError));
  }
});

// The choosers' paths come with their backslashes as they are.
describe('readPathReply', () => {
  const cases = [
    ['a folder ending in a backslash', "{'errCode':'1','errMsg':'','path':'C:\\Users\\u\\'}",
      { errCode: '1', errMsg: '', path: 'C:\\Users\\u\\' }],
    ['a file', "{'errCode':'1','errMsg':'','path':'D:\\new\\t.P12'}", { errCode: '1', errMsg: '', path: 'D:\\new\\t.P12' }],
    ['a cancelled chooser', "{'errCode':'1','errMsg':'','path':''}", { errCode: '1', errMsg: '', path: '' }],
  ];
  for (const [name, text, want] of cases) {
    test(name, () => assert.deepEqual(readPathReply(text), want));
  }
  test('refuses a quote inside the path', () =>
    assert.throws(() => readPathReply("{'errCode':'1','errMsg':'','path':'C:\\it's\\'}"), ReplyError));
});
