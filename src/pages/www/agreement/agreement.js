// The agreement page: ticking the box shows the next button; the button
// tells the page that holds this one (the main page's agreement screen, or
// the agreement dialog) that the terms were accepted.
const box = document.getElementById('chbAgree');
const next = document.getElementById('ButtonOK');

document.addEventListener('contextmenu', (e) => e.preventDefault());
box.checked = false;
box.addEventListener('change', () => { next.hidden = !box.checked; });
next.addEventListener('click', () => {
  if (window.parent === window) return;
  window.parent.postMessage({ agreement: document.body.dataset.next }, location.origin);
});
