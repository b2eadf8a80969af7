// The main area shows one screen at a time.
import { trim } from './page_state.js';

export function showScreen(name) {
  for (const s of document.querySelectorAll('#screen > .screen')) s.hidden = s.id !== `screen-${name}`;
  const shown = document.getElementById(`screen-${name}`);
  const first = shown?.querySelector('input:not([type=radio]):not([disabled]), button.primary');
  if (first) first.focus();
}

export function $(id) {
  return document.getElementById(id);
}

// A text field's value as it is checked and sent: trimmed, passwords too.
export function fieldText(id) {
  return trim($(id).value);
}

// The agreement screen with one of the agreement pages in its frame
// (agreement/apply.html before an application, agreement/renew.html
// before a renewal); the page's next button tells the flow.
export function showAgreement(page) {
  $('agreement-frame').src = page;
  showScreen('agreement');
}
