// The viewer's highlight plug-in, installed as plug_ins/VazeZududi.api. It serves the highlight
// service: window.hiliteService.execute(bytes) takes the execute data the search program sends
// (little-endian 32-bit values: the header 0x8080, then pairs of byte offset and byte width of
// the matched characters in the PDF's GBK text copy) and marks those characters in the pages'
// text layers.
//
// The text copy (the PDF's path with "txt" for its last three characters) holds the same text as
// the PDF, but its line breaks and spaces need not fall where the PDF's text items break, and
// within a page the two may list the same text in another order (a running head before or after
// its page number, contents lines, an index in two columns). Both texts are therefore compared
// with all white space dropped, each with an index map back to its own characters. A matched run
// of characters is marked only where the PDF's text holds exactly that run: at the aligned place
// or, when the two texts drift apart, at a place whose neighbouring characters agree too.
//
// A text copy with a form feed after each page's text, as many pages as the PDF, is read page by
// page: a run is looked for on its own page only, so it never lands on another page's copy of the
// same words, and the first run's page is read, marked and shown before any other page's text
// is read. A copy without page breaks is compared with the whole document's text at once.
'use strict';

(function () {
  const kHeader = 0x8080;
  const kFormFeed = 0x0c;
  // Whole-document comparison: neighbouring characters that must agree away from the aligned
  // place.
  const kContext = 6;
  // Page comparison: how many neighbouring characters are compared on each side, and how many
  // must agree for that side to count.
  const kCompare = 12;
  const kAgree = 3;
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

  const decoder = new TextDecoder('gbk');
  const decodedPairs = new Map();  // lead byte << 8 | trail byte -> the character

  // The bytes [from, to) decoded, with, for every byte offset from `from` on that starts a
  // character, that character's index in the text (-1 inside a character). A lead byte of a
  // double-byte character is 0x81..0xFE followed by a trail byte.
  function decodeRange(bytes, from, to) {
    const charAt = new Int32Array(to - from + 1).fill(-1);
    const parts = [];
    let length = 0;
    let i = from;
    while (i < to) {
      const lead = bytes[i];
      let c;
      charAt[i - from] = length;
      if (lead >= 0x81 && lead <= 0xfe && i + 1 < to) {
        const key = (lead << 8) | bytes[i + 1];
        c = decodedPairs.get(key);
        if (c === undefined) {
          c = decoder.decode(bytes.subarray(i, i + 2));
          decodedPairs.set(key, c);
        }
        i += 2;
      } else {
        c = lead < 0x80 ? String.fromCharCode(lead) : decoder.decode(bytes.subarray(i, i + 1));
        i += 1;
      }
      parts.push(c);
      length += c.length;
    }
    charAt[to - from] = length;
    return { text: parts.join(''), charAt };
  }

  // The text copy's bytes and its page breaks. A form feed cannot be part of a double-byte
  // character, so the breaks are found in the bytes, before anything is decoded. Page n's text
  // is the bytes between break n - 1 and break n; text after the last break is one more page.
  function readCopy(bytes) {
    const breaks = [];
    for (let i = bytes.indexOf(kFormFeed); i >= 0; i = bytes.indexOf(kFormFeed, i + 1)) {
      breaks.push(i);
    }
    let pageCount = breaks.length;
    const tail = breaks.length ? breaks[breaks.length - 1] + 1 : 0;
    for (let i = tail; i < bytes.length; ++i) {
      if (bytes[i] > 0x20) {
        ++pageCount;
        break;
      }
    }
    return { bytes, breaks, pageCount, segments: new Map() };
  }

  // The page of the copy that byte `offset` falls in: one more than the breaks before it.
  function pageOfOffset(copy, offset) {
    let low = 0;
    let high = copy.breaks.length;
    while (low < high) {
      const mid = (low + high) >> 1;
      if (copy.breaks[mid] < offset) low = mid + 1;
      else high = mid;
    }
    return low + 1;
  }

  // Page n of the copy (0: the whole copy) decoded, squeezed, with the index in the squeezed
  // text of each of its characters (or of the next one). Decoded once, when first needed.
  function copySegment(copy, n) {
    if (!copy.segments.has(n)) {
      const from = n <= 1 ? 0 : copy.breaks[n - 2] + 1;
      const to = n === 0 || n > copy.breaks.length ? copy.bytes.length : copy.breaks[n - 1];
      const { text, charAt } = decodeRange(copy.bytes, from, to);
      const squeezed = squeeze(text);
      const squeezedAt = new Int32Array(text.length + 1);
      for (let i = 0, s = 0; i <= text.length; ++i) {
        squeezedAt[i] = s;
        if (i < text.length && !isSpace(text[i])) ++s;
      }
      copy.segments.set(n, { from, to, text, charAt, squeezed: squeezed.text, squeezedAt });
    }
    return copy.segments.get(n);
  }

  // Character runs [start, end) of a segment, from the matched byte offsets that fall in it:
  // neighbouring characters join into one run.
  function characterRuns(segment, offsets) {
    const chars = [];
    for (const offset of offsets) {
      if (offset < segment.from || offset >= segment.to) continue;
      const c = segment.charAt[offset - segment.from];
      if (c >= 0) chars.push(c);
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
    const out = [];
    const from = [];
    for (let i = 0; i < text.length; ++i) {
      if (!isSpace(text[i])) {
        out.push(text[i]);
        from.push(i);
      }
    }
    return { text: out.join(''), from };
  }

  // The text of the given pages of the document without white space; each character's page,
  // item and offset in the item.
  async function documentText(pageNumbers) {
    const parts = [];
    const places = [];
    for (const n of pageNumbers) {
      const items = await viewer.getPageItems(n);
      items.forEach((str, item) => {
        for (let k = 0; k < str.length; ++k) {
          if (!isSpace(str[k])) {
            parts.push(str[k]);
            places.push({ page: n, item, offset: k });
          }
        }
      });
    }
    return { text: parts.join(''), places };
  }

  // How many characters before (step -1) or after (step 1) the places `a` in text `x` and `b` in
  // text `y` are the same, at most kCompare; and whether the comparison reached the start or end
  // of both texts at once, which counts as agreeing too (a run that opens both pages).
  function agreement(x, a, y, b, step) {
    let n = 0;
    const at = (i) => (step < 0 ? i - 1 - n : i + n);
    while (n < kCompare) {
      const i = at(a);
      const j = at(b);
      const inX = i >= 0 && i < x.length;
      const inY = j >= 0 && j < y.length;
      if (!inX || !inY) return { n, agrees: n >= kAgree || (!inX && !inY) };
      if (x[i] !== y[j]) break;
      ++n;
    }
    return { n, agrees: n >= kAgree };
  }

  // Ranges of a page's (or the document's) text that runs were placed on: two runs never share
  // a character, so a place taken by one is no longer open to the next.
  function overlapsTaken(taken, at, end) {
    return taken.some(([from, to]) => at < to && from < end);
  }

  // Where the run copy[start, end) lies in the document's text `doc` (a page's, or the whole
  // document's), or -1. The aligned place is start shifted by the drift found so far.
  //
  // On a page: of the places holding the text and not taken by an earlier run, the one whose
  // neighbours agree on both sides, else on one side, else any; among equals the aligned place,
  // then the one with more agreeing neighbours, then the nearest to the aligned place. The
  // page holds every place there is, so the only one there is taken too.
  //
  // In the whole document: the aligned place when the text is there; otherwise the nearest place
  // holding the text whose neighbours on at least one side agree for kContext characters.
  function locate(copy, doc, start, end, drift, taken, byPage) {
    const needle = copy.substring(start, end);
    const aligned = start + drift;
    if (!byPage) {
      if (doc.substring(aligned, aligned + needle.length) === needle &&
          !overlapsTaken(taken, aligned, aligned + needle.length)) {
        return aligned;
      }
      const before = copy.substring(Math.max(0, start - kContext), start);
      const after = copy.substring(end, end + kContext);
      let best = -1;
      for (let at = doc.indexOf(needle); at >= 0; at = doc.indexOf(needle, at + 1)) {
        if (overlapsTaken(taken, at, at + needle.length)) continue;
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
    let best = -1;
    let bestKey = null;
    for (let at = doc.indexOf(needle); at >= 0; at = doc.indexOf(needle, at + 1)) {
      if (overlapsTaken(taken, at, at + needle.length)) continue;
      const before = agreement(copy, start, doc, at, -1);
      const after = agreement(copy, end, doc, at + needle.length, 1);
      const key = [
        (before.agrees ? 1 : 0) + (after.agrees ? 1 : 0),
        at === aligned ? 1 : 0,
        before.n + after.n,
        -Math.abs(at - aligned),
      ];
      if (!bestKey || isGreater(key, bestKey)) {
        best = at;
        bestKey = key;
      }
    }
    return best;
  }

  function isGreater(a, b) {
    for (let i = 0; i < a.length; ++i) {
      if (a[i] !== b[i]) return a[i] > b[i];
    }
    return false;
  }

  // ---- marks -------------------------------------------------------------------------------

  // Per page, the marks to show: {item, start, end} in the item's characters. Kept for the life
  // of the document, so that a page drawn later, or again after a zoom, gets its marks.
  let marksByPage = new Map();
  let firstMark = null;  // {page, item}
  let firstMarkShown = false;  // brought into view, or to be when its page is drawn
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
    firstMarkShown = false;
    scrollPending = false;
    const spans = new Set();
    for (const mark of document.querySelectorAll('mark.hilite')) {
      if (mark.parentNode) spans.add(mark.parentNode);
    }
    for (const span of spans) span.textContent = span.textContent;
  }

  let generation = 0;  // of the newest request: an older one still reading gives way to it

  const copies = new Map();  // text copy URL -> promise of the read copy

  // Places the runs of a copy segment in the document's text `doc` and adds their marks; what
  // became of each run goes to `result`.
  function placeRuns(segment, runs, doc, byPage, ownPage, result) {
    let drift = 0;
    const taken = [];
    for (const run of runs) {
      const start = segment.squeezedAt[run.start];
      const end = segment.squeezedAt[run.end];
      const place = { page: ownPage, at: 0, index: -1 };
      result.places.push(place);
      if (end <= start) continue;
      const at = locate(segment.squeezed, doc.text, start, end, drift, taken, byPage);
      if (at < 0) continue;
      drift = at - start;
      taken.push([at, at + (end - start)]);
      ++result.found;
      place.at = doc.places[at].page;
      place.index = at;
      // One mark per text item the run passes through.
      let current = null;
      for (let k = at; k < at + (end - start); ++k) {
        const where = doc.places[k];
        if (current && current.page === where.page && current.item === where.item) {
          current.end = where.offset + 1;
        } else {
          current = { page: where.page, item: where.item, start: where.offset,
                      end: where.offset + 1 };
          if (!marksByPage.has(where.page)) marksByPage.set(where.page, []);
          marksByPage.get(where.page).push(current);
          if (!firstMark) firstMark = { page: where.page, item: where.item };
        }
      }
    }
  }

  // Shows the marks of the given pages where they are drawn, and brings the first mark into
  // view once it is known: at once when its page is drawn, else when the page is drawn after
  // being scrolled to.
  function showMarks(pageNumbers, result) {
    for (const pageNumber of pageNumbers) {
      result.marked += applyMarks(pageNumber, viewer.textDivs(pageNumber));
    }
    if (firstMark && !firstMarkShown) {
      firstMarkShown = true;
      scrollPending = true;
      if (viewer.textDivs(firstMark.page)) {
        applyMarks(firstMark.page, viewer.textDivs(firstMark.page));
      } else {
        viewer.scrollToPage(firstMark.page);
      }
    }
  }

  const service = {
    // What the last request came to: runs asked for (counted page by page as they are read,
    // when the copy has page breaks), runs found in the PDF, marks placed on pages already
    // drawn; whether the copy is compared page by page; per run in the copy's order, its own
    // page (0 when the copy has no page breaks), the page it was marked on (0: not found) and
    // its index in the squeezed text it was found in; status 'busy', 'done' or 'failed' (with
    // error).
    last: { status: 'idle', runs: 0, found: 0, error: '' },

    async execute(data) {
      const result =
          { status: 'busy', runs: 0, found: 0, marked: 0, byPage: false, places: [], error: '' };
      this.last = result;
      const mine = ++generation;
      const check = () => {
        if (mine !== generation) throw new Error('replaced by a newer request');
      };
      try {
        const offsets = parseOffsets(toBytes(data));
        if (!offsets) throw new Error('not highlight data');
        if (!viewer.loaded) throw new Error(viewer.error || 'no document');
        const url = textCopyUrl(viewer.fileUrl);
        if (!copies.has(url)) copies.set(url, fetchBytes(url).then(readCopy));
        const copy = await copies.get(url);
        check();
        // A copy with as many pages as the PDF is compared page by page.
        const byPage = copy.breaks.length > 0 && copy.pageCount === viewer.pageCount;
        result.byPage = byPage;
        if (byPage) {
          const offsetsByPage = new Map();
          for (const offset of offsets) {
            if (offset >= copy.bytes.length) continue;
            const n = pageOfOffset(copy, offset);
            // White space after the last page's break belongs to no page.
            if (n > viewer.pageCount) continue;
            if (!offsetsByPage.has(n)) offsetsByPage.set(n, []);
            offsetsByPage.get(n).push(offset);
          }
          const pageNumbers = [...offsetsByPage.keys()].sort((a, b) => a - b);
          clearMarks();
          // The first run's page starts drawing now, while its text is read and compared.
          if (pageNumbers.length && !viewer.textDivs(pageNumbers[0])) {
            viewer.scrollToPage(pageNumbers[0]);
          }
          // Each page of the copy is decoded, and the PDF's page read, only when its runs are
          // placed, the first page first.
          for (const n of pageNumbers) {
            const segment = copySegment(copy, n);
            const runs = characterRuns(segment, offsetsByPage.get(n));
            result.runs += runs.length;
            const doc = await documentText([n]);
            check();
            placeRuns(segment, runs, doc, true, n, result);
            showMarks([n], result);
          }
        } else {
          const segment = copySegment(copy, 0);
          const runs = characterRuns(segment, offsets);
          const all = [];
          for (let n = 1; n <= viewer.pageCount; ++n) all.push(n);
          const doc = await documentText(all);
          check();
          clearMarks();
          result.runs = runs.length;
          placeRuns(segment, runs, doc, false, 0, result);
          showMarks([...marksByPage.keys()], result);
        }
        result.status = 'done';
      } catch (e) {
        result.status = 'failed';
        result.error = String(e && e.message ? e.message : e);
      }
      return result;
    },

    clear: clearMarks,

    // The marks of the last request: {page, item, start, end} in the item's characters.
    marks() {
      const all = [];
      for (const [page, list] of marksByPage) {
        for (const m of list) all.push({ page, item: m.item, start: m.start, end: m.end });
      }
      return all;
    },
  };
  window.hiliteService = service;
})();
