// Addresses from the proxy (the operator's announcement link) that the page
// may open: absolute http and https addresses only, never script, local
// files or the program's own pages.
export function webAddress(text) {
  let url;
  try {
    url = new URL(String(text ?? ''));
  } catch {
    return null;
  }
  return url.protocol === 'http:' || url.protocol === 'https:' ? url.href : null;
}
