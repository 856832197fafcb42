// The PDF viewer page: shows the PDF named by the query parameter `file` (a URL) as a column of
// pages, each drawn to a canvas with a text layer over it, drawn only when it comes into view.
// The highlight plug-in, if the viewer's plug_ins folder holds it, is loaded after the page and
// uses window.pdfViewer to reach the pages' text and text layers.
//
// Optional query parameters: `pdfjs` (folder of pdf.js and its worker) and `cmaps` (folder of the
// Chinese character maps), both URLs ending in "/".
'use strict';

(function () {
  const params = new URLSearchParams(location.search);
  const kPdfjsBase = params.get('pdfjs') || 'file:///usr/share/javascript/pdf/build/';
  const kCMapBase = params.get('cmaps') || 'file:///usr/share/poppler/cMap/Adobe-GB1/';
  const kStandardFonts =
      params.get('fonts') || 'file:///usr/share/javascript/pdf/web/standard_fonts/';
  const kPluginUrl = new URL('plug_ins/VazeZududi.api', location.href).href;
  const kZoomSteps = [0.25, 0.5, 0.75, 1, 1.25, 1.5, 2, 3, 4];
  const kPageGap = 10;

  const pagesBox = document.getElementById('pages');
  const pageNumberBox = document.getElementById('pageNumber');
  const statusBox = document.getElementById('status');

  // Listeners of 'textlayer' get {pageNumber, textDivs, items} each time a page's text layer is
  // (re)built; the plug-in marks words there.
  const listeners = { textlayer: [], documentloaded: [] };

  const viewer = {
    fileUrl: params.get('file') || '',
    pdfDocument: null,
    pageCount: 0,
    scale: 1,
    pages: [],  // per page: {div, pdfPage, viewport, state, textDivs, items, renderTask}
    loaded: false,
    error: '',
    pluginLoaded: false,
    on(event, callback) {
      listeners[event].push(callback);
    },
    // The page's text content items that carry text (the ones the text layer makes spans of),
    // fetched once and kept.
    async getPageItems(pageNumber) {
      const page = this.pages[pageNumber - 1];
      if (!page.itemsPromise) {
        page.itemsPromise = (async () => {
          const pdfPage = await getPdfPage(pageNumber);
          const content = await pdfPage.getTextContent();
          page.textContent = content;
          return content.items.filter((item) => item.str !== undefined).map((item) => item.str);
        })();
      }
      return page.itemsPromise;
    },
    // The text layer spans of a drawn page, or null when it is not drawn (yet).
    textDivs(pageNumber) {
      const page = this.pages[pageNumber - 1];
      return page && page.state === 'drawn' ? page.textDivs : null;
    },
    scrollToPage(pageNumber) {
      const page = this.pages[pageNumber - 1];
      if (page) pagesBox.scrollTop = page.div.offsetTop - kPageGap;
    },
    setScale,
    currentPageNumber: 1,
  };
  window.pdfViewer = viewer;

  function emit(event, detail) {
    for (const callback of listeners[event]) {
      try {
        callback(detail);
      } catch (e) {
        console.error(e);
      }
    }
  }

  function loadScript(url) {
    return new Promise((resolve, reject) => {
      const script = document.createElement('script');
      script.src = url;
      script.onload = resolve;
      script.onerror = () => reject(new Error('cannot load ' + url));
      document.head.appendChild(script);
    });
  }

  function getPdfPage(pageNumber) {
    const page = viewer.pages[pageNumber - 1];
    if (!page.pdfPagePromise) page.pdfPagePromise = viewer.pdfDocument.getPage(pageNumber);
    return page.pdfPagePromise;
  }

  // ---- layout ------------------------------------------------------------------------------

  function sizePage(page) {
    const viewport = page.baseViewport.clone({ scale: viewer.scale });
    page.div.style.width = Math.floor(viewport.width) + 'px';
    page.div.style.height = Math.floor(viewport.height) + 'px';
  }

  function clearPage(page) {
    // Only a task still running is cancelled: cancelling a finished canvas draw makes pdf.js
    // close its drawing a second time (and warn about it).
    for (const task of [page.renderTask, page.textTask]) {
      if (task && !finishedTasks.has(task)) task.cancel();
    }
    page.renderTask = null;
    page.textTask = null;
    page.div.replaceChildren();
    page.textDivs = null;
    page.state = 'empty';
  }

  function setScale(scale) {
    const anchor = viewer.currentPageNumber;
    viewer.scale = Math.min(Math.max(scale, 0.1), 8);
    document.getElementById('zoomValue').textContent = Math.round(viewer.scale * 100) + '%';
    for (const page of viewer.pages) {
      clearPage(page);
      sizePage(page);
    }
    viewer.scrollToPage(anchor);
    // The observer reports the pages now in view again only when they enter; draw them now.
    for (const page of viewer.pages) {
      if (isNearView(page.div)) drawPage(page);
    }
  }

  function isNearView(div) {
    const box = pagesBox.getBoundingClientRect();
    const r = div.getBoundingClientRect();
    return r.bottom >= box.top - box.height && r.top <= box.bottom + box.height;
  }

  function fitWidthScale() {
    const first = viewer.pages[0];
    if (!first) return 1;
    const available = pagesBox.clientWidth - 2 * kPageGap - 4;
    return available / first.baseViewport.width;
  }

  // ---- drawing -----------------------------------------------------------------------------

  // A draw that a zoom or a cleared page cancelled: nothing failed, the page is drawn again.
  function isCancelled(e) {
    return !!e && (e.name === 'RenderingCancelledException' || /cancelled/.test(e.message));
  }

  function logDrawError(page, e) {
    console.error('page ' + page.number + ': ' + e);
  }

  // Draw tasks (canvas and text layer) that have ended, whichever way.
  const finishedTasks = new WeakSet();

  // The outcome of a draw task, taken at once so that a task cancelled while nobody waits for it
  // (the draw gave up after a zoom) never ends as an unhandled rejection: true when it finished,
  // false when it was cancelled or failed; a failure is logged.
  function settled(page, task) {
    return task.promise.then(
        () => {
          finishedTasks.add(task);
          return true;
        },
        (e) => {
          finishedTasks.add(task);
          if (!isCancelled(e)) logDrawError(page, e);
          return false;
        });
  }

  async function drawPage(page) {
    if (page.state !== 'empty') return;
    page.state = 'drawing';
    const scale = viewer.scale;
    try {
      const pdfPage = await getPdfPage(page.number);
      const viewport = pdfPage.getViewport({ scale });
      const ratio = window.devicePixelRatio || 1;
      const canvas = document.createElement('canvas');
      canvas.width = Math.floor(viewport.width * ratio);
      canvas.height = Math.floor(viewport.height * ratio);
      canvas.style.width = Math.floor(viewport.width) + 'px';
      canvas.style.height = Math.floor(viewport.height) + 'px';
      const textLayer = document.createElement('div');
      textLayer.className = 'textLayer';
      page.div.replaceChildren(canvas, textLayer);
      page.renderTask = pdfPage.render({
        canvasContext: canvas.getContext('2d'),
        viewport,
        transform: ratio !== 1 ? [ratio, 0, 0, ratio, 0, 0] : null,
      });
      const canvasDrawn = settled(page, page.renderTask);
      await viewer.getPageItems(page.number);
      if (scale !== viewer.scale || page.state !== 'drawing') return;
      const textDivs = [];
      page.textTask = pdfjsLib.renderTextLayer({
        textContent: page.textContent,
        container: textLayer,
        viewport,
        textDivs,
      });
      if (!(await settled(page, page.textTask))) return;
      if (scale !== viewer.scale || page.state !== 'drawing') return;
      page.textDivs = textDivs;
      page.state = 'drawn';
      emit('textlayer', {
        pageNumber: page.number,
        textDivs,
        items: await viewer.getPageItems(page.number),
      });
      await canvasDrawn;
    } catch (e) {
      if (!isCancelled(e)) logDrawError(page, e);
    }
  }

  const observer = new IntersectionObserver(
      (entries) => {
        for (const entry of entries) {
          if (entry.isIntersecting) drawPage(viewer.pages[Number(entry.target.dataset.page) - 1]);
        }
      },
      { root: pagesBox, rootMargin: '50% 0px' });

  // ---- controls ----------------------------------------------------------------------------

  function updateCurrentPage() {
    const top = pagesBox.scrollTop + pagesBox.clientHeight / 3;
    let current = 1;
    for (const page of viewer.pages) {
      if (page.div.offsetTop <= top) current = page.number;
      else break;
    }
    viewer.currentPageNumber = current;
    if (document.activeElement !== pageNumberBox) pageNumberBox.value = current;
  }

  function zoom(direction) {
    const s = viewer.scale;
    const next = direction > 0 ? kZoomSteps.find((z) => z > s + 1e-3)
                               : [...kZoomSteps].reverse().find((z) => z < s - 1e-3);
    if (next) setScale(next);
  }

  document.getElementById('prev').onclick = () =>
      viewer.scrollToPage(Math.max(1, viewer.currentPageNumber - 1));
  document.getElementById('next').onclick = () =>
      viewer.scrollToPage(Math.min(viewer.pageCount, viewer.currentPageNumber + 1));
  document.getElementById('zoomIn').onclick = () => zoom(1);
  document.getElementById('zoomOut').onclick = () => zoom(-1);
  document.getElementById('fitWidth').onclick = () => setScale(fitWidthScale());
  pageNumberBox.addEventListener('change', () => {
    const n = Math.round(Number(pageNumberBox.value));
    if (n >= 1 && n <= viewer.pageCount) viewer.scrollToPage(n);
    else pageNumberBox.value = viewer.currentPageNumber;
  });
  pagesBox.addEventListener('scroll', updateCurrentPage);

  // ---- start -------------------------------------------------------------------------------

  async function open() {
    await loadScript(kPdfjsBase + 'pdf.js');
    pdfjsLib.GlobalWorkerOptions.workerSrc = kPdfjsBase + 'pdf.worker.js';
    if (!viewer.fileUrl) throw new Error('no file given');
    viewer.pdfDocument = await pdfjsLib.getDocument({
      url: viewer.fileUrl,
      cMapUrl: kCMapBase,
      cMapPacked: false,
      standardFontDataUrl: kStandardFonts,
      // The worker cannot fetch local files here; the page loads the maps and fonts for it.
      useWorkerFetch: false,
      // A PDF is outside input: its font data must never become code (glyph outlines are drawn
      // by the interpreter, not compiled into functions), and nothing in it runs script.
      isEvalSupported: false,
      enableXfa: false,
    }).promise;
    viewer.pageCount = viewer.pdfDocument.numPages;
    pageNumberBox.max = viewer.pageCount;
    document.getElementById('pageCount').textContent = '/ ' + viewer.pageCount;
    // Every page gets its place at once, so the scroll bar is right; the first page's size is
    // the guess until a page's own size is known.
    const first = await viewer.pdfDocument.getPage(1);
    const firstViewport = first.getViewport({ scale: 1 });
    for (let n = 1; n <= viewer.pageCount; ++n) {
      const div = document.createElement('div');
      div.className = 'page';
      div.dataset.page = n;
      const page = { number: n, div, baseViewport: firstViewport, state: 'empty' };
      viewer.pages.push(page);
      pagesBox.appendChild(div);
    }
    viewer.pages[0].pdfPagePromise = Promise.resolve(first);
    viewer.scale = fitWidthScale();
    document.getElementById('zoomValue').textContent = Math.round(viewer.scale * 100) + '%';
    for (const page of viewer.pages) {
      sizePage(page);
      observer.observe(page.div);
    }
    // The true sizes, which differ only in documents with mixed page sizes.
    for (const page of viewer.pages.slice(1)) {
      getPdfPage(page.number).then(
          (p) => {
            page.baseViewport = p.getViewport({ scale: 1 });
            if (page.state === 'empty') sizePage(page);
          },
          (e) => logDrawError(page, e));
    }
    document.title = viewer.fileUrl.split('/').pop();
    viewer.loaded = true;
    emit('documentloaded', viewer);
  }

  open()
      .catch((e) => {
        viewer.error = String(e && e.message ? e.message : e);
        statusBox.textContent = viewer.error;
        console.error(viewer.error);
      })
      .then(() => loadScript(kPluginUrl))
      .then(() => {
        viewer.pluginLoaded = true;
      })
      .catch(() => {
        // No plug-in installed: the viewer shows the PDF without marks.
      });
})();
