#include "base/texts.h"

#include <map>

#include "base/gbk.h"

namespace tomeva {
namespace {

struct Entry {
  int id;
  const char* utf8;
};

// The fixed texts exactly as the user sees them.
constexpr Entry kEntries[] = {
    {kTextAppTitle, "Lumq图书数据库V4.0"},
    {kTextDocTemplate, "\n检索\nHarbex\n\n\nTomeva.Document\nHarbex Document"},
    {kTextViewerMissing, "看电子书需要Adobe Acrobat Reader，请在光盘里查找并安装。"},
    {kTextQueryBoxTip, "输入待查询字串\n待查询字串"},
    {kTextUntitled, "无题"},
    {kTextWelcome, "欢迎使用Lumq数据库系统"},
    {kTextModeDefault, "自动模式"},
    {kTextQueryBand, "请查询"},
    {kTextNoResult,
     "<font color=green>找不到和您的查询\"%s\"相符的数据结果。<br>请检查输入字词有无错误<br>"
     "请尝试使用高级检索进行查询<br>请尝试换用其它的字词进行查询</font>"},
    {kTextNoResultAdvanced,
     "<font color=green>找不到和您的查询\"%s\"相符的数据结果。<br>请检查输入字词有无错误<br>"
     "请尝试换用其它的字词进行查询</font>"},
    {kTextSearching, "检索中…"},
    {kTextIn, "在"},
    {kTextViewHtml, "<p> <a target=\"_blank\" href=\"%s\">查看HTML</a></p>"},
    {kTextViewPdf, "<p> <a target=\"_blank\" href=\"%s\">查看PDF全文</a></p>\n"},
    {kTextHitsOfMany, "(查询得到 %d 条结果，显示 %d 到 %d )"},
    {kTextFieldBoxTip, "请输入查询字串所在的域\n查询字串所在的域"},
    {kTextInFieldSearch, "中查询 "},
    {kTextHitsFew, "(查询得到 %d 条结果 )"},
    {kTextPagerFirst, "开始页"},
    {kTextPagerPrevPage, "上一页"},
    {kTextPagerPrevHit, "上一条"},
    {kTextPagerNextHit, "下一条"},
    {kTextPagerNextPage, "下一页"},
    {kTextPagerLast, "最后页"},
    {kTextAppName, "Tomeva"},
    {kTextModeExact, "精准匹配"},
    {kTextModeNatural, "自然语言"},
    {kTextModeAuto, "自动模式"},
    {kTextProductItem, "产品说明"},
    {kTextNoName, "缺名字"},
    {kTextLinkTargetMissing, "链接目的记录不存在！"},
    {kTextOneInstance, "Cannot run more than one instance."},
    {kTextRegisterClassFailed, "Failed to register window class!"},
    {kTextConfigMissing, "Config file missing!"},
    {kTextMigrationNotice,
     "发现系统中安装了较老版本的KvTomeva，将合并已安装的较老版本程序中的\r\n书籍，"
     "并且删除老版本的应用程序。\n"},
    {kTextMigrationCopying, "正在并入,请稍候... ..."},
    {kTextSystemError, "系统错误!\n"},
    {kTextImportFound, "找到"},
    {kTextImportAnalysing, "正在分析新书的记录..."},
    {kTextImportIndexing, "正在建立索引..."},
    {kTextImportOptimising, "请稍侯，正在优化SearchDB... ..."},
    {kTextImportDone, "导入完成！请单击确定打开程序。"},
    {kTextTooManyBooks, "书目文件中有%d本书，超过了%d本的上限，排在后面的%d本书没有显示。"},
    {kTextCatalogueFull, "书库已满（最多49本书），新书“%s”没有导入。"},
    {kTextBadBookDir, "书目中的文件夹名“%s”不是一个简单的文件夹名，已跳过这本书。"},
    {kTextCatalogueUnreadable, "无法读取书目文件bookconfig.xml，新书“%s”没有导入。"},
    {kTextCatalogueNoEnd, "书目文件bookconfig.xml缺少</books>，已保留原文件，新书“%s”没有导入。"},
    {kTextCatalogueWriteFailed, "无法写入书目文件bookconfig.xml，新书“%s”没有导入。"},
    {kTextBookCopyFailed, "新书“%s”的文件没有全部复制成功，下次启动时将重新导入。"},
    {kTextBadRecordDir, "记录文件%s中的文件夹名不是一个简单的文件夹名，已跳过这条记录。"},
    {kTextOldInstallationKept, "“%s”看起来不是较老版本的安装文件夹，没有删除它。"},
    {kTextImportBusy, "另一个程序正在向本书库导入新书，这次没有导入。新书将在下次启动时导入。"},
    // The import's failures.
    {kTextBookDefinitionsFailed, "新书“%s”的字段定义文件temp.xml无法写入或读取，没有导入，下次启动时将重新导入。"},
    {kTextBookIndexFailed, "新书“%s”没能编入索引（%s），没有导入，下次启动时将重新导入。"},
    {kTextBookPublishFailed, "新书“%s”已加入书目，但其记录暂时还检索不到（%s），下次启动时将完成。"},
    {kTextUnfinishedBooksKept, "索引中有上次没有完成导入的书，无法清理（%s），这次没有导入新书。"},
    {kTextIndexOptimiseFailed, "新书已导入，但索引没能优化（%s），检索仍可正常进行。"},
    {kTextFragmentUnreadable, "无法读取新书的书目文件%s，其中的新书这次没有导入，下次启动时将重新导入。"},
    {kTextRecordUnreadable, "新书“%s”的记录文件%s无法读取，没有导入，下次启动时将重新导入。"},
    {kTextRecordNotARecord, "新书“%s”中的文件%s不是有效的记录，已跳过这个文件。"},
    // The migration of an older installation and the catalogue.
    {kTextOlderCatalogueNotCopied,
     "无法把较老版本的书目文件“%s”复制到Update文件夹（磁盘可能已满或不可写），其中的书都没有并入。"},
    {kTextOlderCatalogueUnreadable, "较老版本的书目文件“%s”无法读取或已损坏，其中的书都没有并入。"},
    {kTextOlderBookNotCopied,
     "较老版本中的书“%s”（文件夹%s）没能完整地复制到Update文件夹（磁盘可能已满或不可写），没有并入。"},
    {kTextOlderBookMissing, "较老版本中的书“%s”的文件夹%s不存在，这本书没有可并入的文件。"},
    {kTextOlderInstallationRetry,
     "较老版本的安装文件夹“%s”中还有没能并入的书，该文件夹和其中所有的书都已保留，下次启动时将再次并入。"},
    {kTextOlderInstallationIncomplete,
     "较老版本的安装文件夹“%s”中有不能并入的书，该文件夹和其中所有的书都已保留，没有删除。"},
    {kTextOlderInstallationNotRemoved, "较老版本的书都已并入，但其安装文件夹“%s”没能完全删除。"},
    // Start-up, the single instance, damaged data found while searching.
    {kTextGuardFailed, "防止重复运行的保护没有完全建立：%s。\n本程序照常运行。"},
    {kTextGuardNoFolder, "无法创建运行文件夹“%s”，不能阻止同时再运行一个本程序"},
    {kTextGuardNoLock, "无法在运行文件夹“%s”中创建锁文件，不能阻止同时再运行一个本程序"},
    {kTextGuardStaleLock,
     "运行文件夹“%s”中留有已结束的本程序的锁文件而无法删除，不能阻止同时再运行一个本程序"},
    {kTextGuardNoServer, "无法在运行文件夹“%s”中建立本地连接，再启动本程序时不能唤出这个窗口"},
    {kTextGuardUnsafeFolder,
     "运行文件夹“%s”不是只有您本人能使用的文件夹，为安全起见没有使用它：不能阻止同时再运行一个本程序，"
     "PDF中的检索词也不能标出"},
    {kTextCatalogueNotLoaded,
     "无法读取书目文件“%s”（文件缺失或已损坏），书库目录无法显示，也不能按类别查询。\n"
     "关掉“分类”后仍可在全部书中检索。"},
    {kTextIndexDamaged,
     "<font color=red>检索索引“%s”无法打开（%s），这次检索没有进行，"
     "不能说明书中没有这些字词。<br>索引需要重建或从备份恢复。<br>"
     "书库目录和书的浏览不受影响，仍可使用。</font>"},
    {kTextRecordFileMissing,
     "<font color=red>记录文件“%s”不存在，这条记录无法显示。<br>"
     "书库中的其他记录和检索不受影响。</font>"},
    {kTextRecordFileBroken,
     "<font color=red>记录文件“%s”已损坏，无法读取，这条记录无法显示。<br>"
     "书库中的其他记录和检索不受影响。</font>"},
    {kTextPageFileMissing,
     "<font color=red>页面文件“%s”不存在，这一页无法显示。<br>"
     "书库中的其他页面和检索不受影响，可以用“后退”回到上一页。</font>"},
    {kTextSelectBooksFirst, "请至少选择一本书：在左下方的书目中勾选要检索的书，再检索。"},
    {kTextNoPublisherSite,
     "<html><head><title>出版社</title></head><body><h3>本书库没有登记出版社的网址</h3>"
     "<p>出版社的网址写在安装文件夹的 ContactInfo.xml 中（PublisherUrl），"
     "安装文件夹中也可以放一页 publisher.htm。这两处现在都没有。</p></body></html>"},
    {kTextHighlightNoServer, "DdeClient: Failed to connect to server."},
    {kTextPositionFileFailed,
     "PDF的位置文件“%s”无法写入，这次没有在PDF中标出检索词。"
     "PDF照常显示；请检查该文件夹是否可写。"},
    {kTextHighlightTimedOut,
     "PDF阅读器在%s秒内没有回答，这次没有在PDF中标出检索词。PDF照常显示；可以再打开一次这个PDF重试。"},
    {kTextHighlightRefused, "PDF阅读器没有接受这次的标记数据，这次没有在PDF中标出检索词。PDF照常显示。"},
    {kTextHighlightBusy,
     "PDF阅读器同时打开的连接太多，拒绝了这次的标记数据，这次没有在PDF中标出检索词。"
     "若一再出现，可能有别的程序占着阅读器的连接；请重新启动本程序。"},
    {kTextSelectRecordFirst, "请先选择一条记录！"},
    {kTextSelectNodeFirst, "请先在左边的树中选择一个节点！"},
    {kTextSelectBookFirst, "请先指定您要打开的书籍！"},
    {kTextNoPdf, "对不起，没有可用的PDF文档，\r\n请尝试进入该条目的下一级目录！\n"},
    // The version check and self-update.
    {kTextNewVersionRestart, "系统有新版本，需要更新。系统将关闭以运行更新程序。"},
    // The reading room: stations searching one index kept on an index server.
    {kTextIndexServerUnreachable, "索引服务器无法连接：%s"},
    {kTextIndexServerPage,
     "<font color=red>%s<br>这次检索没有进行，不能说明书中没有这些字词。<br>"
     "请检查索引服务器是否开着、网络是否连通；再检索时会自动重新连接。<br>"
     "书库目录和书的浏览不受影响，仍可使用。</font>"},
    {kTextImportOnIndexServer,
     "本工作站的索引保存在索引服务器%s上，新书要在索引服务器上导入；这里没有导入，"
     "新书仍在Update文件夹中等候。"},
    // The updater refused: the program goes on with the installed version.
    {kTextUpdaterUnsigned,
     "有新版本的更新程序 %s，但它不是经 https 下载的，出版者也没有为它提供签名的更新说明"
     "（.manifest 及其签名 .manifest.sig），无法确认它来自出版者，所以没有运行。程序继续使用现有版本。"},
    {kTextUpdaterNoKey,
     "有新版本的更新程序 %s，但本机没有安装用来验证签名的出版者公钥 update.pub"
     "（应由软件包、系统管理员或用户放在 /usr/share/tomeva、/etc/tomeva 或 ~/.config/tomeva 中；"
     "书库文件夹中的公钥不被采用），所以没有运行。程序继续使用现有版本。"},
    {kTextUpdaterBadKey,
     "有新版本的更新程序 %s，但本机安装的出版者公钥 update.pub 已损坏，无法验证签名，所以没有运行。"
     "程序继续使用现有版本。"},
    {kTextUpdaterBadSignature,
     "有新版本的更新程序 %s，但它的更新说明的签名验证失败（文件被改动过，或签名已损坏），所以没有运行。"
     "程序继续使用现有版本。"},
    {kTextUpdaterOtherKey,
     "有新版本的更新程序 %s，但它的更新说明不是用本机安装的出版者公钥 update.pub 对应的密钥签名的，"
     "所以没有运行。程序继续使用现有版本。"},
    {kTextUpdaterNoManifest,
     "有新版本的更新程序 %s，但出版者没有在它旁边提供更新说明（.manifest），无法确认它的版本，"
     "所以没有运行。程序继续使用现有版本。"},
    {kTextUpdaterBadManifest,
     "有新版本的更新程序 %s，但它的更新说明格式不对，读不出它的文件名、版本和校验值，所以没有运行。"
     "程序继续使用现有版本。"},
    {kTextUpdaterNotMatching,
     "有新版本的更新程序 %s，但下载到的文件与出版者的更新说明不符（文件名或内容不同，可能被替换过），"
     "所以没有运行，也没有保留。程序继续使用现有版本。"},
    {kTextUpdaterNotNewer,
     "版本页列出的更新程序 %s 没有运行：出版者的更新说明写明它的版本是 %s，并不比已安装的版本 %s 新"
     "（可能是旧的更新程序被重新发布）。程序继续使用现有版本。"},
    {kTextUpdaterVersionUnknown,
     "有新版本的更新程序 %s，但已安装的版本号“%s”不是用点分隔的数字，无法确认更新程序比它新，"
     "所以没有运行。程序继续使用现有版本。"},
    {kTextBookDirNotPlain,
     "新书“%s”的文件夹名“%s”不是书库中一个简单的文件夹名。这本书没有导入，仍在Update文件夹中等候。"},
    {kTextBookDirReserved,
     "新书“%s”的文件夹名“%s”是本程序自己的文件或文件夹。这本书没有导入，仍在Update文件夹中等候。"},
    {kTextBookDirInCatalogue,
     "新书“%s”的文件夹“%s”与书目中已有的书的文件夹相同或相重叠。这本书没有导入，"
     "仍在Update文件夹中等候。"},
    {kTextBookDirExists,
     "新书“%s”的文件夹“%s”在书库中已经存在。这本书没有导入，仍在Update文件夹中等候。"},
    {kTextBookDirIsLink,
     "新书“%s”的文件夹“%s”经过一个符号链接或不是文件夹。这本书没有导入，仍在Update文件夹中等候。"},
    {kTextBookLinksSkipped, "新书“%s”中的符号链接没有被跟随，也没有复制：%s"},
    {kTextRecordDirRefused,
     "新书“%s”的记录文件%s要放进文件夹“%s”，那是本程序自己的或另一本书的文件夹，已跳过这条记录。"},
    {kTextBookNameNotGbk,
     "新书“%s”（文件夹“%s”）的书名或文件夹名中有不是GBK文字的字节，已显示为“?”。"
     "这本书没有导入，仍在Update文件夹中等候。"},
    {kTextRecordNameNotGbk,
     "新书“%s”的记录文件%s的文件名或其中的页面文件名有不是GBK文字的字节，已跳过这条记录。"},
    {kTextRecordBecameLink,
     "新书“%s”的记录文件%s在导入过程中被换成了符号链接，没有读取。"
     "这本书没有导入，仍在Update文件夹中等候。"},
};

const std::map<int, std::string>& GbkTable() {
  static const std::map<int, std::string> table = [] {
    std::map<int, std::string> t;
    for (const Entry& e : kEntries) t.emplace(e.id, Utf8ToGbk(e.utf8));
    return t;
  }();
  return table;
}

}  // namespace

const std::string& Text(int id) {
  static const std::string empty;
  const auto& table = GbkTable();
  auto it = table.find(id);
  return it == table.end() ? empty : it->second;
}

const char* TextUtf8(int id) {
  for (const Entry& e : kEntries) {
    if (e.id == id) return e.utf8;
  }
  return "";
}

std::string TextWith(int id, std::string_view argument) { return TextWith(id, {argument}); }

std::string TextWith(int id, std::initializer_list<std::string_view> arguments) {
  const std::string& format = Text(id);
  std::string text;
  size_t from = 0;
  // Each "%s" is looked for in the text itself, never in an argument already put in.
  for (std::string_view argument : arguments) {
    const size_t at = format.find("%s", from);
    if (at == std::string::npos) break;
    text.append(format, from, at - from);
    text.append(argument);
    from = at + 2;
  }
  text.append(format, from, std::string::npos);
  return text;
}

}  // namespace tomeva
