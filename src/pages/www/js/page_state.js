// The page's state, reset only by restarting the program.
export const state = {
  userLogin: false,
  userIdno: '',
  userAid: '',
  userEmail: '',
  userMobile: '',
  userBirthday: '',
  applyPwBag: '',
  applyOnlinePwNotice: '',
  revokeOnlinePwNotice: '',
  applyPwid: '',
  doApplyCertProcess: true,
  useOnlinePw: false,
  revokeOKcanNew: false,
  userPfxPath: '',
  userAccount: true,
  // From the last function status refresh.
  fnStatus: '',
  certCount: 0,
  effectCertCount: 0,
};

// Removes the first match of /^\s+|\s+$/: leading white space when there is
// any, otherwise trailing white space. (String trimming strips exactly the
// characters \s stands for, in linear time.)
export function trim(text) {
  const s = String(text ?? '');
  const rest = s.trimStart();
  return rest.length !== s.length ? rest : s.trimEnd();
}

// Both ends, as the login field is cleaned.
export function trimBoth(text) {
  return String(text ?? '').trim();
}

export const LETTERS_OR_DIGITS_6_10 = /^[A-Za-z0-9]{6,10}$/;
export const CODE_6 = /^[A-Za-z0-9]{6}$/;
