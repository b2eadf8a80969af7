// A strict reader of the program's reply texts: "{'key':'value',...}" with
// single-quoted keys and values and an optional 'moCerts' list of such
// objects. Nothing in a reply is ever run as script; a text that does not
// follow this grammar throws a ReplyError.

export class ReplyError extends Error {}

const ESCAPES = { n: '\n', r: '\r', t: '\t', b: '\b', f: '\f', v: '\v', 0: '\0' };

// The choosers' replies (openFileChooser, openFileChooser2) carry a path
// whose backslashes are not escaped: every backslash stands for itself.
export function readPathReply(text) {
  return readReply(text, { plainBackslashes: true });
}

export function readReply(text, { plainBackslashes = false } = {}) {
  if (typeof text !== 'string') throw new ReplyError('回覆內容不是文字');
  let pos = 0;
  const fail = (what) => {
    throw new ReplyError(`回覆格式錯誤 (位置 ${pos}: ${what})`);
  };
  const expect = (ch) => {
    if (text[pos] !== ch) fail(`應為 ${ch}`);
    pos += 1;
  };
  const readString = () => {
    expect("'");
    let out = '';
    for (;;) {
      if (pos >= text.length) fail('字串未結束');
      const ch = text[pos++];
      if (ch === "'") return out;
      if (ch === '\\' && !plainBackslashes) {
        if (pos >= text.length) fail('字串未結束');
        const next = text[pos++];
        out += ESCAPES[next] ?? next;
      } else {
        out += ch;
      }
    }
  };
  const readObject = (allowList) => {
    expect('{');
    const obj = {};
    if (text[pos] === '}') {
      pos += 1;
      return obj;
    }
    for (;;) {
      const key = readString();
      expect(':');
      if (allowList && key === 'moCerts' && text[pos] === '[') {
        pos += 1;
        const list = [];
        if (text[pos] === ']') pos += 1;
        else {
          for (;;) {
            list.push(readObject(false));
            if (text[pos] === ',') { pos += 1; continue; }
            expect(']');
            break;
          }
        }
        obj[key] = list;
      } else {
        obj[key] = readString();
      }
      if (text[pos] === ',') { pos += 1; continue; }
      expect('}');
      return obj;
    }
  };
  const result = readObject(true);
  if (pos !== text.length) fail('多餘的內容');
  return result;
}
