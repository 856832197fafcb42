// The viewer's highlight plug-in, installed as plug_ins/VazeZududi.api. It serves the highlight
// service: window.hiliteService.execute(bytes) takes the execute data the search program sends
// (little-endian 32-bit values: the header 0x8080, then pairs of byte offset and byte width of
// the matched characters in the PDF's GBK text copy) and marks those characters in the pages'
// text layers.
//
// The text copy (the PDF's path with "txt" for its last three characters) holds the same text as
// the PDF, but its line breaks and spaces need not fall where the PDF's text items break. Both
// texts are therefore compared with all white space dropped, each with an index map back to its
// own characters. A matched run of characters is marked only where the PDF's text holds exactly
// that run, at the same place or, when the two texts drift apart, at a place whose neighbouring
// characters agree too; a text copy of some other document thus gives no marks.
'use strict';

(function () {
  const kHeader = 0x8080;
  const kContext = 6;  // neighbouring characters that must agree away from the aligned place
  const viewer = window.pdfViewer;
  if (!viewer) return;

  const isSpace = (c) => /\s/.test(c);

  // ---- execute data ------------------------------------------------------------------------

  function toBytes(data) {
    if (data instanceof Uint8Array) return data;
    if (data instanceof ArrayBuffer) return new Uint8Array(data);
    if (Array.isArray(data)) return Uint8Array.from(data);
    throw new TypeError('execute data must be bytes');
  }

  // The byte offsets of the matched characters. The values come as (offset, width) pairs, but
  // the sender cuts the list at one value per byte matched, so a list with single-byte
  // characters ends early, possibly on a lone offset; widths are therefore taken from the text
  // itself, and only offsets are read here.
  function parseOffsets(bytes) {
    if (bytes.length < 4) return null;
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.length - (bytes.length % 4));
    if (view.getUint32(0, true) !== kHeader) return null;
    const offsets = [];
    for (let at = 4; at < view.byteLength; at += 8) offsets.push(view.getUint32(at, true));
    return offsets;
  }

  // ---- text copy ---------------------------------------------------------------------------

  function textCopyUrl(pdfUrl) {
    const url = new URL(pdfUrl, location.href);
    url.pathname = url.pathname.slice(0, -3) + 'txt';
    return url.href;
  }

  function fetchBytes(url) {
    // XMLHttpRequest, because fetch() refuses file: URLs.
    return new Promise((resolve, reject) => {
      const xhr = new XMLHttpRequest();
      xhr.open('GET', url);
      xhr.responseType = 'arraybuffer';
      xhr.onload = () => {
        if ((xhr.status === 200 || xhr.status === 0) && xhr.response) {
          resolve(new Uint8Array(xhr.response));
        } else {
          reject(new Error('cannot read ' + url));
        }
      };
      xhr.onerror = () => reject(new Error('cannot read ' + url));
      xhr.send();
    });
  }

  // The decoded text copy with, for every byte offset that starts a character, that
  // character's index (-1 inside a character).
  function decodeTextCopy(bytes) {
    const decoder = new TextDecoder('gbk');
    const charAt = new Int32Array(bytes.length + 1).fill(-1);
    let text = '';
    let i = 0;
    while (i < bytes.length) {
      // A lead byte of a double-byte character is 0x81..0xFE followed by a trail byte.
      const width = bytes[i] >= 0x81 && bytes[i] <= 0xfe && i + 1 < bytes.length ? 2 : 1;
      charAt[i] = text.length;
      text += decoder.decode(bytes.subarray(i, i + width));
      i += width;
    }
    charAt[bytes.length] = text.length;
    return { bytes, text, charAt };
  }

  // Character runs [start, end) of the text copy, from the matched byte offsets: neighbouring
  // characters join into one run.
  function characterRuns(copy, offsets) {
    const chars = [];
    for (const offset of offsets) {
      if (offset < copy.bytes.length && copy.charAt[offset] >= 0) chars.push(copy.charAt[offset]);
    }
    chars.sort((a, b) => a - b);
    const runs = [];
    for (const c of chars) {
      const last = runs[runs.length - 1];
      if (last && c <= last.end) {
        last.end = Math.max(last.end, c + 1);
      } else {
        runs.push({ start: c, end: c + 1 });
      }
    }
    return runs;
  }

  // ---- texts without white space -----------------------------------------------------------

  // The text without white space, and for each of its characters the index in the text.
  function squeeze(text) {
    let out = '';
    const from = [];
    for (let i = 0; i < text.length; ++i) {
      if (!isSpace(text[i])) {
        out += text[i];
        from.push(i);
      }
    }
    return { text: out, from };
  }

  // The whole document's text without white space; each character's page, item and offset in
  // the item.
  async function documentText() {
    let text = '';
    const places = [];
    for (let n = 1; n <= viewer.pageCount; ++n) {
      const items = await viewer.getPageItems(n);
      items.forEach((str, item) => {
        for (let k = 0; k < str.length; ++k) {
          if (!isSpace(str[k])) {
            text += str[k];
            places.push({ page: n, item, offset: k });
          }
        }
      });
    }
    return { text, places };
  }

  // Where the run copy[start, end) lies in the document's text, or -1. The aligned place
  // (shifted by the drift found so far) is taken when the text is there; otherwise the nearest
  // place holding the text whose neighbours on at least one side agree too.
  function locate(copy, doc, start, end, drift) {
    const needle = copy.substring(start, end);
    const aligned = start + drift;
    if (doc.substring(aligned, aligned + needle.length) === needle) return aligned;
    const before = copy.substring(Math.max(0, start - kContext), start);
    const after = copy.substring(end, end + kContext);
    let best = -1;
    for (let at = doc.indexOf(needle); at >= 0; at = doc.indexOf(needle, at + 1)) {
      const agreesBefore =
          before.length > 0 && doc.substring(at - before.length, at) === before;
      const agreesAfter = after.length > 0 &&
          doc.substring(at + needle.length, at + needle.length + after.length) === after;
      if ((agreesBefore || agreesAfter) &&
          (best < 0 || Math.abs(at - aligned) < Math.abs(best - aligned))) {
        best = at;
      }
    }
    return best;
  }

  // ---- marks -------------------------------------------------------------------------------

  // Per page, the marks to show: {item, start, end} in the item's characters. Kept for the life
  // of the document, so that a page drawn later, or again after a zoom, gets its marks.
  let marksByPage = new Map();
  let firstMark = null;  // {page, item}
  let scrollPending = false;

  function applyMarks(pageNumber, textDivs) {
    const marks = marksByPage.get(pageNumber);
    if (!marks || !textDivs) return 0;
    const byItem = new Map();
    for (const m of marks) {
      if (!byItem.has(m.item)) byItem.set(m.item, []);
      byItem.get(m.item).push(m);
    }
    let made = 0;
    for (const [item, list] of byItem) {
      const span = textDivs[item];
      if (!span || span.querySelector('mark.hilite')) continue;
      const str = span.textContent;
      list.sort((a, b) => a.start - b.start);
      const parts = [];
      let at = 0;
      for (const m of list) {
        const start = Math.max(m.start, at);
        if (start >= m.end) continue;
        if (start > at) parts.push(document.createTextNode(str.substring(at, start)));
        const mark = document.createElement('mark');
        mark.className = 'hilite';
        mark.textContent = str.substring(start, m.end);
        parts.push(mark);
        ++made;
        at = m.end;
      }
      if (at < str.length) parts.push(document.createTextNode(str.substring(at)));
      span.replaceChildren(...parts);
    }
    if (scrollPending && firstMark && firstMark.page === pageNumber) {
      const span = textDivs[firstMark.item];
      const mark = span && span.querySelector('mark.hilite');
      if (mark) {
        mark.scrollIntoView({ block: 'center', inline: 'nearest' });
        scrollPending = false;
      }
    }
    return made;
  }

  viewer.on('textlayer', ({ pageNumber, textDivs }) => applyMarks(pageNumber, textDivs));

  // Drops every mark: the pages' map first, so that no page drawn later (a zoom draws them all
  // again) brings an old mark back, then the marks on the pages drawn now. A text item may hold
  // several marks; it is rewritten once, as its own text, which detaches all of them.
  function clearMarks() {
    marksByPage = new Map();
    firstMark = null;
    scrollPending = false;
    const spans = new Set();
    for (const mark of document.querySelectorAll('mark.hilite')) {
      if (mark.parentNode) spans.add(mark.parentNode);
    }
    for (const span of spans) span.textContent = span.textContent;
  }

  let generation = 0;  // of the newest request: an older one still reading gives way to it

  const copies = new Map();  // text copy URL -> promise of the decoded copy

  const service = {
    // What the last request came to: runs asked for, runs found in the PDF, marks placed on
    // pages already drawn; status 'busy', 'done' or 'failed' (with error).
    last: { status: 'idle', runs: 0, found: 0, error: '' },

    async execute(data) {
      const result = { status: 'busy', runs: 0, found: 0, error: '' };
      this.last = result;
      const mine = ++generation;
      try {
        const offsets = parseOffsets(toBytes(data));
        if (!offsets) throw new Error('not highlight data');
        if (!viewer.loaded) throw new Error(viewer.error || 'no document');
        const url = textCopyUrl(viewer.fileUrl);
        if (!copies.has(url)) copies.set(url, fetchBytes(url).then(decodeTextCopy));
        const copy = await copies.get(url);
        const runs = characterRuns(copy, offsets);
        const copySqueezed = squeeze(copy.text);
        const doc = await documentText();
        // Index in the squeezed copy of each character of the copy (or of the next one).
        const squeezedAt = new Int32Array(copy.text.length + 1);
        for (let i = 0, s = 0; i <= copy.text.length; ++i) {
          squeezedAt[i] = s;
          if (i < copy.text.length && !isSpace(copy.text[i])) ++s;
        }
        if (mine !== generation) throw new Error('replaced by a newer request');
        clearMarks();
        result.runs = runs.length;
        let drift = 0;
        for (const run of runs) {
          const start = squeezedAt[run.start];
          const end = squeezedAt[run.end];
          if (end <= start) continue;
          const at = locate(copySqueezed.text, doc.text, start, end, drift);
          if (at < 0) continue;
          drift = at - start;
          ++result.found;
          // One mark per text item the run passes through.
          let current = null;
          for (let k = at; k < at + (end - start); ++k) {
            const place = doc.places[k];
            if (current && current.page === place.page && current.item === place.item) {
              current.end = place.offset + 1;
            } else {
              current = { page: place.page, item: place.item, start: place.offset,
                          end: place.offset + 1 };
              if (!marksByPage.has(place.page)) marksByPage.set(place.page, []);
              marksByPage.get(place.page).push(current);
              if (!firstMark) firstMark = { page: place.page, item: place.item };
            }
          }
        }
        let made = 0;
        for (const pageNumber of marksByPage.keys()) {
          made += applyMarks(pageNumber, viewer.textDivs(pageNumber));
        }
        result.marked = made;
        if (firstMark) {
          scrollPending = true;
          // The first mark's page may not be drawn yet: bring it into view, which draws it
          // and then shows the mark.
          if (viewer.textDivs(firstMark.page)) {
            applyMarks(firstMark.page, viewer.textDivs(firstMark.page));
          } else {
            viewer.scrollToPage(firstMark.page);
          }
        }
        result.status = 'done';
      } catch (e) {
        result.status = 'failed';
        result.error = String(e && e.message ? e.message : e);
      }
      return result;
    },

    clear: clearMarks,
  };
  window.hiliteService = service;
})();
