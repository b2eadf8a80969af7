// The main area shows one screen at a time.
import { trim } from './page_state.js';
import { focusFirstInFrame, hearFrameInput } from './ui_host.js';

// Shows the screen and puts the focus on its first field or button, or on
// its heading when it has none, so the keyboard goes on from there.
export function showScreen(name) {
  for (const s of document.querySelectorAll('#screen > .screen')) s.hidden = s.id !== `screen-${name}`;
  const shown = document.getElementById(`screen-${name}`);
  if (!shown) return;
  const first = shown.querySelector('input:not([type=radio]):not([disabled]), button.primary');
  if (first) first.focus();
  else focusHeading(shown.querySelector('h2'));
}

// A heading takes the focus (and is announced) without joining the Tab order.
export function focusHeading(heading) {
  if (!heading) return;
  heading.tabIndex = -1;
  heading.focus();
}

export function $(id) {
  return document.getElementById(id);
}

// A text field's value as it is checked and sent: trimmed, passwords too.
export function fieldText(id) {
  return trim($(id).value);
}

let agreementFrameWired = false;

// The agreement screen with one of the agreement pages in its frame
// (agreement/apply.html before an application, agreement/renew.html
// before a renewal); the page's next button tells the flow. The focus goes
// to the page's tick box once it has loaded.
export function showAgreement(page) {
  const frame = $('agreement-frame');
  if (!agreementFrameWired) {
    agreementFrameWired = true;
    hearFrameInput(frame);
    frame.addEventListener('load', () => focusFirstInFrame(frame));
  }
  frame.src = page;
  showScreen('agreement');
}
