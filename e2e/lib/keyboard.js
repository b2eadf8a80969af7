// Walking the page by keyboard alone, with checks of where the focus is.
import assert from 'node:assert/strict';

// A short description of the focused element, through frames.
export function focusedElement(page) {
  return page.evaluate(() => {
    let el = document.activeElement;
    const path = [];
    while (el) {
      path.push(el.id ? `#${el.id}` : `${el.tagName.toLowerCase()}${el.className ? '.' + String(el.className).split(' ').join('.') : ''}`
        + (el.textContent && el.tagName === 'BUTTON' ? `(${el.textContent.trim()})` : ''));
      el = el.tagName === 'IFRAME' ? el.contentDocument?.activeElement : null;
    }
    return path.join(' > ');
  });
}

// Waits until the focused element (in the page, or in a frame when
// `frame` names it) matches `selector`.
export async function expectFocus(page, selector, { frame = null, timeout = 5000 } = {}) {
  try {
    await page.waitForFunction(([s, f]) => {
      let doc = document;
      if (f) {
        const frameElement = document.querySelector(f);
        if (document.activeElement !== frameElement) return false;
        doc = frameElement.contentDocument;
      }
      return !!doc?.activeElement?.matches(s);
    }, [selector, frame], { timeout });
  } catch {
    assert.fail(`focus on ${frame ? frame + ' > ' : ''}${selector}, not on ${await focusedElement(page)}`);
  }
}

// Presses Tab (Shift+Tab when `back`) until `selector` has the focus.
export async function tabTo(page, selector, { back = false, max = 40 } = {}) {
  for (let i = 0; i < max; i++) {
    if (await page.evaluate((s) => !!document.activeElement?.matches(s), selector)) return;
    await page.keyboard.press(back ? 'Shift+Tab' : 'Tab');
  }
  assert.fail(`${selector} not reached by ${back ? 'Shift+Tab' : 'Tab'}; focus on ${await focusedElement(page)}`);
}

// The top message box: its text is `text` (or matches it), the focus is on
// its first button; `key` closes it.
export async function keyMessage(page, text, key = 'Enter') {
  const top = page.locator('#modal-layer .message-window').last();
  await top.waitFor();
  const box = await top.elementHandle();
  const shown = await (await box.$('.body')).innerText();
  if (text instanceof RegExp) assert.match(shown, text);
  else assert.equal(shown, text);
  await expectFocus(page, '#modal-layer .message-window:last-child .buttons button:first-child');
  await page.keyboard.press(key);
  await box.waitForElementState('hidden');
}

// Types into the focused field, replacing what it held.
export async function retype(page, text) {
  await page.keyboard.press('Control+A');
  await page.keyboard.type(text);
}
