// The help viewer's contents list: headings nested by level as the guide's readers expect, also
// where a guide skips a level or starts deeper than it goes on.
#include <QTest>
#include <QTreeWidget>
#include <functional>

#include "gui/help/help_window.h"

namespace tomeva::gui {

class HelpContentsTest : public QObject {
  Q_OBJECT

 private slots:
  void headingsNestUnderTheNearestLowerLevel();
};

namespace {

// The tree as lines, two spaces per depth, each with the anchor it scrolls to.
QStringList Lines(QTreeWidget* tree) {
  QStringList lines;
  std::function<void(QTreeWidgetItem*, int)> walk = [&](QTreeWidgetItem* item, int depth) {
    lines << QString(depth * 2, QLatin1Char(' ')) + item->text(0) + QLatin1Char('#') +
                 item->data(0, Qt::UserRole).toString();
    for (int i = 0; i < item->childCount(); ++i) walk(item->child(i), depth + 1);
  };
  for (int i = 0; i < tree->topLevelItemCount(); ++i) walk(tree->topLevelItem(i), 0);
  return lines;
}

}  // namespace

void HelpContentsTest::headingsNestUnderTheNearestLowerLevel() {
  // Each heading is written as "<level><title>"; its anchor is its title.
  const struct {
    const char* name;
    QStringList headings;
    QStringList expected;
  } cases[] = {
      {"a guide of chapters and sections",
       {"1g", "2a", "3a1", "3a2", "2b", "3b1"},
       {"g#g", "  a#a", "    a1#a1", "    a2#a2", "  b#b", "    b1#b1"}},
      {"a skipped level goes under the nearest lower one",
       {"1g", "3x", "2a", "4y"},
       {"g#g", "  x#x", "  a#a", "    y#y"}},
      {"a section ends at the next heading of its level or lower",
       {"2a", "3a1", "4a1i", "2b", "4b1i"},
       {"a#a", "  a1#a1", "    a1i#a1i", "b#b", "  b1i#b1i"}},
      {"a guide starting deeper than it goes on",
       {"3x", "2a", "1g", "2b"},
       {"x#x", "a#a", "g#g", "  b#b"}},
      {"no headings", {}, {}},
  };
  for (const auto& c : cases) {
    QList<HelpSection> sections;
    for (const QString& heading : c.headings) {
      HelpSection section;
      section.level = heading.left(1).toInt();
      section.title = heading.mid(1);
      section.anchor = heading.mid(1);
      sections.append(section);
    }
    QTreeWidget tree;
    HelpWindow::FillContents(&tree, sections);
    QCOMPARE(Lines(&tree), c.expected);
    // Filled again, the tree holds the new contents only.
    HelpWindow::FillContents(&tree, sections);
    QCOMPARE(Lines(&tree), c.expected);
  }
}

}  // namespace tomeva::gui

QTEST_MAIN(tomeva::gui::HelpContentsTest)
#include "help_contents_test.moc"
