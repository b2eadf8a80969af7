// Fits QUIL's app window to the page: 687 x 470 CSS pixels at the page's
// zoom, with whatever frame and bars the browser puts around it (the bar
// about --no-sandbox included), never beyond the screen's free area; what
// does not fit then scrolls. Again whenever the zoom or a bar changes. A
// browser tab ignores the request, as it should.
export const PAGE_WIDTH = 687;
export const PAGE_HEIGHT = 470;

// Tries in a row for one size: a window manager that insists on another
// size must not make the page and it resize each other for ever. A pause
// starts afresh.
const MAX_TRIES = 3;
const PAUSE_MS = 2000;

// The window's outer size that shows the page whole, within the screen.
// `w` holds the window's and screen's figures as the browser reports them:
// outer sizes and the screen in screen pixels, inner sizes in CSS pixels.
// The zoom is read from the width, where app windows have no frame.
export function fittedWindow(w) {
  if (!(w.outerWidth > 0 && w.innerWidth > 0 && w.outerHeight > 0 && w.innerHeight > 0)) return null;
  const zoom = w.outerWidth / w.innerWidth;
  const frameWidth = Math.max(0, w.outerWidth - Math.round(w.innerWidth * zoom));
  const frameHeight = Math.max(0, w.outerHeight - Math.round(w.innerHeight * zoom));
  const width = Math.min(frameWidth + Math.ceil(PAGE_WIDTH * zoom), w.availWidth);
  const height = Math.min(frameHeight + Math.ceil(PAGE_HEIGHT * zoom), w.availHeight);
  // Moved back onto the screen when it grew past the edge.
  const left = Math.max(w.availLeft, Math.min(w.screenX, w.availLeft + w.availWidth - width));
  const top = Math.max(w.availTop, Math.min(w.screenY, w.availTop + w.availHeight - height));
  return { width, height, left, top };
}

function figures() {
  const s = window.screen;
  return {
    outerWidth: window.outerWidth, outerHeight: window.outerHeight,
    innerWidth: window.innerWidth, innerHeight: window.innerHeight,
    availWidth: s.availWidth, availHeight: s.availHeight,
    availLeft: s.availLeft ?? 0, availTop: s.availTop ?? 0,
    screenX: window.screenX, screenY: window.screenY,
  };
}

export function startWindowFit() {
  let asked = null;
  let tries = 0;
  let lastTry = 0;
  const fit = () => {
    const now = figures();
    const want = fittedWindow(now);
    if (!want) return;
    if (Math.abs(want.width - now.outerWidth) <= 1 && Math.abs(want.height - now.outerHeight) <= 1) return;
    const again = asked && asked.width === want.width && asked.height === want.height;
    if (!again || Date.now() - lastTry > PAUSE_MS) tries = 0;
    if (tries >= MAX_TRIES) return;
    tries += 1;
    lastTry = Date.now();
    asked = want;
    if (want.left !== now.screenX || want.top !== now.screenY) window.moveTo(want.left, want.top);
    window.resizeTo(want.width, want.height);
  };
  // A zoom step changes the pixel ratio; a bar that comes or goes changes
  // the page's room but not the window. A window that changed size itself
  // was resized by us, or by the customer (maximised, dragged): left so.
  let ratio = window.devicePixelRatio;
  let outer = [window.outerWidth, window.outerHeight];
  window.addEventListener('resize', () => {
    const zoomed = window.devicePixelRatio !== ratio;
    const sameWindow = Math.abs(window.outerWidth - outer[0]) <= 1 && Math.abs(window.outerHeight - outer[1]) <= 1;
    ratio = window.devicePixelRatio;
    outer = [window.outerWidth, window.outerHeight];
    if (zoomed || sameWindow) fit();
  });
  // The window's first size is the browser's guess; the bars may come a moment later.
  fit();
  setTimeout(fit, 1000);
}
