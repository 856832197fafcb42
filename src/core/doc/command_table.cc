#include "core/doc/command_table.h"

#include "base/texts.h"
#include "core/doc/command_ids.h"

namespace tomeva {

const std::vector<MenuPopup>& DocumentMenu() {
  static const std::vector<MenuPopup> menu = {
      {"文件(&F)",
       {{kCmdPrint, "打印(&P)\tCtrl+P", {}},
        {kCmdPrintSetup, "打印设置(&R)", {}},
        {kCmdExit, "退出(&X)", {}}}},
      {"命令(&C)", {{kCmdSearch, "检索(&L)", {}}, {kCmdBackToQuery, "回到上一条查询(&B)", {}}}},
      {"查看(&V)",
       {{kCmdViewToolbar, "工具(&T)", {}},
        {kCmdViewStatusBar, "状态条(&S)", {}},
        {0,
         "字体",
         {{kCmdZoomLargest, "特大", {}},
          {kCmdZoomLarge, "大", {}},
          {kCmdZoomMedium, "中", {}},
          {kCmdZoomSmall, "小", {}},
          {kCmdZoomSmallest, "特小", {}}}}}},
      {"查询模式(&S)",
       {{kCmdModeExact, "精确匹配(&M)", {}},
        {kCmdModeNatural, "自然语言(&N)", {}},
        {kCmdModeAuto, "自动模式(&A)", {}}}},
      {"帮助(&H)", {{kCmdAbout, "关于...(&A)", {}}, {kCmdHelp, "帮助", {}}}},
  };
  return menu;
}

const std::vector<MenuPopup>& NoDocumentMenu() {
  static const std::vector<MenuPopup> menu = {
      {"文件(&F)", {{kCmdPrintSetup, "打印设置 (&S)", {}}, {kCmdExit, "退出 (&X)", {}}}},
      {"查看(&V)", {{kCmdViewToolbar, "工具条 (&T)", {}}, {kCmdViewStatusBar, "状态条 (&S)", {}}}},
      {"帮助 (&H)", {{kCmdAbout, "关于... (&A)", {}}}},
  };
  return menu;
}

const std::vector<ToolbarButton>& CommandToolbarButtons() {
  static const std::vector<ToolbarButton> buttons = {
      {kCmdSearch, "检索", "检索\n检索", false},
      {kCmdBookSearch, "分类", "按类别查询\n按类别查询", false},
      {kCmdAdvancedSearch, "范围", "高级查询\n高级查询", false},
      {kCmdBackToQuery, "历史", "回到上一条查询\n回到上一条查询", true},
      {kCmdHome, "首页", "回首页\n回首页", false},
      {kCmdHelp, "帮助", "帮助\n帮助", false},
      {kCmdPdf, "PDF档", "显示原始PDF文件\n显示原始PDF文件", false},
      {kCmdBack, "后退", "回到上一页\n回到上一页", false},
      {kCmdPublisherSite, "出版社", "访问LUMQ网站\n访问LUMQ网站", false},
  };
  return buttons;
}

std::string QueryModePaneTextUtf8(int mode) {
  switch (mode) {
    case 0:
      return "精准匹配";
    case 1:
      return "自然语言";
    case 2:
      return "自动模式";
    default:
      return "";
  }
}

std::string CommandStatusTextUtf8(int id) {
  for (const ToolbarButton& b : CommandToolbarButtons()) {
    if (b.id == id) return b.tip.substr(0, b.tip.find('\n'));
  }
  if (id == kIdQueryBox) return "输入待查询字串";
  if (id == kIdFieldBox) return "请输入查询字串所在的域";
  return "";
}

std::string FieldBoxTipUtf8() { return "请输入查询字串所在的域\n查询字串所在的域"; }

std::string LabelInUtf8() { return std::string(TextUtf8(kTextIn)) + " "; }

std::string LabelInFieldUtf8() { return std::string(TextUtf8(kTextInFieldSearch)) + "   "; }

}  // namespace tomeva
