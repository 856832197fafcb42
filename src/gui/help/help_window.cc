#include "gui/help/help_window.h"

#include <QFileInfo>
#include <algorithm>
#include <functional>
#include <QHeaderView>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVariant>
#include <QWebEngineView>

namespace tomeva::gui {
namespace {

constexpr int kAnchorRole = Qt::UserRole;

// The page's headings in document order as [level, text, id]; a heading without an id gets one,
// so that every entry of the contents can be scrolled to.
constexpr char kHeadingsScript[] = R"JS(
(function () {
  var out = [];
  var hs = document.querySelectorAll('h1, h2, h3, h4');
  for (var i = 0; i < hs.length; i++) {
    var h = hs[i];
    if (!h.id) h.id = 'tomeva-section-' + i;
    out.push([parseInt(h.tagName.substring(1), 10), h.textContent.replace(/\s+/g, ' ').trim(), h.id]);
  }
  return out;
})()
)JS";

QString HtmlEscaped(const QString& text) { return text.toHtmlEscaped(); }

}  // namespace

HelpWindow::HelpWindow(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("HelpWindow"));
  setWindowTitle(QString::fromUtf8("帮助"));
  auto* splitter = new QSplitter(Qt::Horizontal, this);
  contents_ = new QTreeWidget(splitter);
  contents_->setObjectName(QStringLiteral("contents"));
  contents_->setHeaderLabel(QString::fromUtf8("目录"));
  contents_->header()->setStretchLastSection(true);
  view_ = new QWebEngineView(splitter);
  view_->setObjectName(QStringLiteral("guide"));
  splitter->addWidget(contents_);
  splitter->addWidget(view_);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({260, 760});
  setCentralWidget(splitter);
  resize(1024, 720);

  connect(contents_, &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem* item) { ShowSection(item); });
  connect(contents_, &QTreeWidget::itemActivated, this,
          [this](QTreeWidgetItem* item) { ShowSection(item); });
  connect(view_, &QWebEngineView::titleChanged, this, [this](const QString& title) {
    if (!title.isEmpty()) setWindowTitle(title);
  });
  connect(view_, &QWebEngineView::loadFinished, this, [this](bool ok) {
    // The page telling that the guide is missing has no contents to read.
    if (!guide_loading_) return;
    guide_loading_ = false;
    if (!ok) {
      emit contentsReady(false);
      return;
    }
    ReadHeadings();
  });
}

void HelpWindow::Open(const QString& path) {
  sections_.clear();
  contents_->clear();
  const QFileInfo file(path);
  if (!file.isFile()) {
    // Said in the window itself: the viewer was started to be looked at.
    view_->setHtml(QString::fromUtf8("<html><head><meta charset=\"utf-8\"><title>帮助</title>"
                                     "</head><body><h2>找不到帮助文件</h2><p>") +
                   HtmlEscaped(path) + QStringLiteral("</p></body></html>"));
    guide_loading_ = false;
    // Told once the caller's event loop runs, as a load's end would be.
    QTimer::singleShot(0, this, [this] { emit contentsReady(false); });
    return;
  }
  guide_loading_ = true;
  view_->load(QUrl::fromLocalFile(file.absoluteFilePath()));
}

void HelpWindow::ReadHeadings() {
  view_->page()->runJavaScript(QString::fromLatin1(kHeadingsScript), [this](const QVariant& v) {
    sections_.clear();
    for (const QVariant& entry : v.toList()) {
      const QVariantList parts = entry.toList();
      if (parts.size() != 3) continue;
      HelpSection section;
      section.level = std::clamp(parts[0].toInt(), 1, 4);
      section.title = parts[1].toString();
      section.anchor = parts[2].toString();
      if (!section.title.isEmpty()) sections_.append(section);
    }
    FillContents(contents_, sections_);
    contents_->expandAll();
    emit contentsReady(!sections_.isEmpty());
  });
}

void HelpWindow::FillContents(QTreeWidget* tree, const QList<HelpSection>& sections) {
  tree->clear();
  // The open entries by level: parents[l] is the latest entry of level l + 1.
  QTreeWidgetItem* parents[4] = {nullptr, nullptr, nullptr, nullptr};
  for (const HelpSection& section : sections) {
    QTreeWidgetItem* parent = nullptr;
    for (int l = section.level - 2; l >= 0 && parent == nullptr; --l) parent = parents[l];
    auto* item = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
    item->setText(0, section.title);
    item->setData(0, kAnchorRole, section.anchor);
    parents[section.level - 1] = item;
    for (int l = section.level; l < 4; ++l) parents[l] = nullptr;
  }
}

QStringList HelpWindow::ContentsLines() const {
  QStringList lines;
  std::function<void(QTreeWidgetItem*, int)> walk = [&](QTreeWidgetItem* item, int depth) {
    lines << QString(depth * 2, QLatin1Char(' ')) + item->text(0);
    for (int i = 0; i < item->childCount(); ++i) walk(item->child(i), depth + 1);
  };
  for (int i = 0; i < contents_->topLevelItemCount(); ++i) walk(contents_->topLevelItem(i), 0);
  return lines;
}

void HelpWindow::ShowSection(QTreeWidgetItem* item) {
  if (item == nullptr) return;
  const QString anchor = item->data(0, kAnchorRole).toString();
  if (anchor.isEmpty()) return;
  // The id is passed as a string literal: it is the page's own, and may hold any character.
  QString literal = anchor;
  literal.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\''), QStringLiteral("\\'"));
  view_->page()->runJavaScript(
      QStringLiteral("(function (e) { if (e) e.scrollIntoView(); })(document.getElementById('%1'));")
          .arg(literal));
}

}  // namespace tomeva::gui
