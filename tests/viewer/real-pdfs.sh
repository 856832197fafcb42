#!/bin/sh
# Makes a folder of PDFs that nobody here made, for `make pdf-timing REAL_PDFS=FOLDER`: Chinese
# manuals shipped in Debian packages (downloaded, unpacked, never installed), each with its GBK
# text copy beside it, page breaks as form feeds. The copies are written by `tomeva-tool
# text-copy` when the tool is built (TOMEVA_TOOL names it), else by pdftotext (poppler-utils).
#
#   tests/viewer/real-pdfs.sh [FOLDER]     (default: build/real-pdfs)
set -eu
out=$(realpath -m "${1:-build/real-pdfs}")
tool=${TOMEVA_TOOL:-build/tools/tomeva-tool/tomeva-tool}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# package:PDF in it[:name to give it] (41 to 429 pages, made by several TeX engines and drivers,
# and a page of an office program's)
set -- \
  texlive-lang-chinese:usr/share/doc/texlive-doc/latex/ctex-faq/ctex-faq.pdf \
  texlive-lang-chinese:usr/share/doc/texlive-doc/texlive/texlive-zh-cn/texlive-zh-cn.pdf \
  texlive-lang-chinese:usr/share/doc/texlive-doc/latex/lshort-chinese/lshort-zh-cn.pdf \
  texlive-lang-chinese:usr/share/doc/texlive-doc/latex/ctex/ctex.pdf \
  texlive-lang-chinese:usr/share/doc/texlive-doc/plain/impatient-cn/cnbook.pdf \
  debian-reference-zh-cn:usr/share/debian-reference/debian-reference.zh-cn.pdf \
  debian-edu-doc-zh-cn:usr/share/doc/debian-edu-doc-zh-cn/debian-edu-bookworm-manual.pdf \
  fonts-lxgw-wenkai-doc:usr/share/doc/fonts-lxgw-wenkai/examples/demo.pdf:wenkai-demo

mkdir -p "$out"
for entry in "$@"; do
  package=${entry%%:*}
  if [ ! -d "$work/$package" ]; then
    (cd "$work" && apt-get download "$package" >/dev/null)
    dpkg-deb -x "$work/${package}"_*.deb "$work/$package"
  fi
  path=${entry#*:}
  name=${path#*:}
  path=${path%%:*}
  [ "$name" != "$path" ] || name=$(basename "$path" .pdf)
  pdf="$work/$package/$path"
  [ -f "$pdf" ] || gunzip -k "$pdf.gz"
  cp "$pdf" "$out/$name.pdf"
  if [ -x "$tool" ]; then
    "$tool" text-copy "$out/$name.pdf" "$out/$name.txt" >/dev/null
  else
    pdftotext -enc GBK "$out/$name.pdf" "$out/$name.txt"
  fi
  echo "$out/$name.pdf"
done
