// Links that carry a program: the address's fragment holds the program, every
// setting and the interpreter that made the link, compressed with lz-string
// (its URI-safe form, so the link survives mail and chat programs unchanged).
// The fragment never reaches a server.
//
//   #k1=<lz-string of {"v": version, "b": build, "p": program, "s": settings}>
//
// "k1" names the link's format; a later format takes another name, and this
// page says it cannot read it rather than guessing.  The version is what
// "kestrivo --version" says and the build names the exact module (a digest of
// it), so that a link opened in a page that runs another interpreter says so:
// the same program may print otherwise there.
import LZString from "lz-string";

import { normalize } from "./settings.js";

export const LinkFormat = "k1";

// The fragment, without "#", for a program, its settings and the interpreter.
export function linkfragment({ program, settings, version, build }) {
  const body = JSON.stringify({ v: version, b: build, p: program, s: settings });
  return `${LinkFormat}=${LZString.compressToEncodedURIComponent(body)}`;
}

// What a fragment (with or without "#") carries: null when it is no link of
// ours at all; { error } when it looks like one but cannot be read; else
// { program, settings, version, build }, the settings made whole.
export function readfragment(hash) {
  const text = hash.replace(/^#/, "");
  const m = /^(k\d+)=(.*)$/s.exec(text);
  if (!m) return null;
  if (m[1] !== LinkFormat) return { error: `the link is of a later format (${m[1]}) than this page reads` };
  let body = null;
  try {
    body = JSON.parse(LZString.decompressFromEncodedURIComponent(m[2]) ?? "");
  } catch {
    body = null;
  }
  if (body === null || typeof body !== "object" || typeof body.p !== "string") {
    return { error: "the link is damaged (cut short, or changed on the way)" };
  }
  return {
    program: body.p,
    settings: normalize(body.s),
    version: typeof body.v === "string" ? body.v : "",
    build: typeof body.b === "string" ? body.b : "",
  };
}

// The sentence for a link made by another interpreter than this page's; null
// when it was made by this one.
export function versionnote(link, version, build) {
  if (link.version !== version) {
    const made = link.version ? `kestrivo ${link.version}` : "an unknown version of kestrivo";
    return `This link was made with ${made}; this page runs kestrivo ${version}, so the transcript may differ.`;
  }
  if (link.build && build && link.build !== build) {
    return `This link was made with another build of kestrivo ${version} (${link.build}; this page's is ${build}), so the transcript may differ.`;
  }
  return null;
}
