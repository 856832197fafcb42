// The system's fixed texts: string resources, menu items and message texts. They are written
// once, here, as UTF-8 and handed out as GBK byte strings, the form every text inside core has.
#ifndef TOMEVA_BASE_TEXTS_H_
#define TOMEVA_BASE_TEXTS_H_

#include <initializer_list>
#include <string>
#include <string_view>

namespace tomeva {

// Ids of the string resources keep their numbers; texts without a resource number get ids
// from 100000 up.
enum TextId : int {
  kTextAppTitle = 122,            // "Lumq图书数据库V4.0"
  kTextDocTemplate = 123,
  kTextViewerMissing = 125,       // PDF viewer not installed
  kTextQueryBoxTip = 126,
  kTextUntitled = 127,            // "无题"
  kTextWelcome = 128,             // "欢迎使用Lumq数据库系统"
  kTextModeDefault = 129,         // "自动模式", the query-mode pane's initial text
  kTextQueryBand = 133,           // "请查询"
  kTextNoResult = 144,
  kTextNoResultAdvanced = 145,
  kTextSearching = 147,           // "检索中…"
  kTextIn = 267,                  // "在"
  kTextViewHtml = 330,
  kTextViewPdf = 331,
  kTextHitsOfMany = 32762,        // "(查询得到 %d 条结果，显示 %d 到 %d )"
  kTextFieldBoxTip = 32768,
  kTextInFieldSearch = 32772,     // "中查询 "
  kTextHitsFew = 32774,           // "(查询得到 %d 条结果 )"
  kTextPagerFirst = 57348,        // "开始页" .. "最后页" are 57348..57353
  kTextPagerPrevPage = 57349,
  kTextPagerPrevHit = 57350,
  kTextPagerNextHit = 57351,
  kTextPagerNextPage = 57352,
  kTextPagerLast = 57353,
  kTextAppName = 57344,           // "Tomeva"
  // Texts without a resource number.
  kTextModeExact = 100000,        // "精准匹配"
  kTextModeNatural,               // "自然语言"
  kTextModeAuto,                  // "自动模式"
  kTextProductItem,               // "产品说明"
  kTextNoName,                    // "缺名字"
  kTextLinkTargetMissing,         // "链接目的记录不存在！"
  kTextOneInstance,               // "Cannot run more than one instance."
  kTextRegisterClassFailed,       // "Failed to register window class!"
  kTextConfigMissing,             // "Config file missing!"
  // Start-up maintenance, the new-book import and the catalogue.
  kTextMigrationNotice,           // older installation found, will be merged
  kTextMigrationCopying,          // "正在并入,请稍候... ..."
  kTextSystemError,               // "系统错误!\n"
  kTextImportFound,               // "找到" (followed by the book name)
  kTextImportAnalysing,           // "正在分析新书的记录..."
  kTextImportIndexing,            // "正在建立索引..."
  kTextImportOptimising,          // "请稍侯，正在优化SearchDB... ..."
  kTextImportDone,                // "导入完成！请单击确定打开程序。"
  kTextTooManyBooks,              // catalogue holds %d books, over the %d limit: %d left out
  kTextCatalogueFull,             // no room for the new book %s
  kTextBadBookDir,                // book folder %s is not one plain folder name
  kTextCatalogueUnreadable,       // bookconfig.xml cannot be read: new book %s not imported
  kTextCatalogueNoEnd,            // bookconfig.xml lacks </books>: new book %s not imported
  kTextCatalogueWriteFailed,      // bookconfig.xml cannot be written: new book %s not imported
  kTextBookCopyFailed,            // files of the new book %s could not all be copied
  kTextBadRecordDir,              // record file %s names a folder that is not a plain name
  kTextOldInstallationKept,       // %s does not look like an older installation: not deleted
  kTextImportBusy,                // another program is importing new books into this library
  // The import's failures (add new ids of the import here).
  kTextBookDefinitionsFailed,     // the field definitions of new book %s did not load
  kTextBookIndexFailed,           // new book %s could not be indexed (%s); it stays waiting
  kTextBookPublishFailed,         // new book %s is in the catalogue but not yet searchable (%s)
  kTextUnfinishedBooksKept,       // unfinished import in the index could not be cleared (%s)
  kTextIndexOptimiseFailed,       // the index could not be optimised (%s)
  kTextFragmentUnreadable,        // the fragment %s cannot be read: its books wait
  kTextRecordUnreadable,          // new book %s: record file %s cannot be read; the book waits
  kTextRecordNotARecord,          // new book %s: file %s is not a record and was left out
  // The migration of an older installation and the catalogue (add new ids of those here).
  kTextOlderCatalogueNotCopied,   // older bookconfig.xml %s could not be copied to Update/
  kTextOlderCatalogueUnreadable,  // older bookconfig.xml %s cannot be read or is damaged
  kTextOlderBookNotCopied,        // older book %s (folder %s) not copied whole to Update/
  kTextOlderBookMissing,          // older book %s: its folder %s does not exist
  kTextOlderInstallationRetry,    // older folder %s kept with its books; tried again next start
  kTextOlderInstallationIncomplete,  // older folder %s kept with its books: some cannot be taken
  kTextOlderInstallationNotRemoved,  // all books taken over, older folder %s not fully deleted
  // Start-up, the single instance, damaged data found while searching (add new ids here).
  kTextGuardFailed,               // the single-instance guard is not complete: %s; runs on
  kTextGuardNoFolder,             // runtime folder %s cannot be created: no guard
  kTextGuardNoLock,               // no lock file can be created in %s: no guard
  kTextGuardStaleLock,            // a dead instance's lock file in %s cannot be removed
  kTextGuardNoServer,             // no local socket in %s: later starts cannot raise this one
  kTextGuardUnsafeFolder,         // runtime folder %s not private to the user: no guard, no marks
  kTextCatalogueNotLoaded,        // catalogue file %s missing or damaged: what still works
  kTextIndexDamaged,              // page: index %s cannot be opened (%s); browsing still works
  kTextRecordFileMissing,         // page: record file %s does not exist
  kTextRecordFileBroken,          // page: record file %s cannot be read or parsed
  kTextPageFileMissing,           // page: the record's page file %s does not exist
  kTextSelectBooksFirst,          // a search restricted to books with none checked
  kTextNoPublisherSite,           // page: the installation names no publisher's site
  kTextHighlightNoServer,         // "DdeClient: Failed to connect to server."
  kTextPositionFileFailed,        // position file %s cannot be written: PDF words not marked
  kTextHighlightTimedOut,         // the viewer gave no answer within %s seconds: words not marked
  kTextHighlightRefused,          // the viewer declined the marks
  kTextHighlightBusy,             // the viewer turned the marks away: too many conversations
  kTextSelectRecordFirst,         // "请先选择一条记录！"
  kTextSelectNodeFirst,           // "请先在左边的树中选择一个节点！"
  kTextSelectBookFirst,           // "请先指定您要打开的书籍！"
  kTextNoPdf,                     // no PDF for the node or record: try its children
  // The version check and self-update.
  kTextNewVersionRestart,         // new version: the program ends to run the updater
  // The reading room: stations searching one index kept on an index server.
  kTextIndexServerUnreachable,    // "索引服务器无法连接：%s" (HOST:PORT): a search's failure
  kTextIndexServerPage,           // page: that failure (%s); the search did not run; next one retries
  kTextImportOnIndexServer,       // import refused: the index is kept on the index server %s
  // The updater refused (each with its address, %s): not over https and its manifest not signed,
  // signed but no update key installed, an installed key damaged, a manifest signature that does
  // not verify, another key's, no manifest at all, a malformed manifest, a manifest of other
  // bytes or another name, a version not newer (%s the manifest's, %s the installed one), an
  // installed version that is not a dotted number (%s).
  kTextUpdaterUnsigned,
  kTextUpdaterNoKey,
  kTextUpdaterBadKey,
  kTextUpdaterBadSignature,
  kTextUpdaterOtherKey,
  kTextUpdaterNoManifest,
  kTextUpdaterBadManifest,
  kTextUpdaterNotMatching,
  kTextUpdaterNotNewer,
  kTextUpdaterVersionUnknown,
  // New books whose folder the import refuses; each stays waiting in Update/.
  kTextBookDirNotPlain,           // new book %s: folder %s is not a plain relative folder path
  kTextBookDirReserved,           // new book %s: folder %s is one of the installation's own
  kTextBookDirInCatalogue,        // new book %s: folder %s is (or holds, or is in) a book's folder
  kTextBookDirExists,             // new book %s: folder %s already exists in the installation
  kTextBookDirIsLink,             // new book %s: folder %s passes a link, or is not a folder
  kTextBookLinksSkipped,          // new book %s: symbolic links left out, not copied: %s
  kTextRecordDirRefused,          // new book %s: record file %s names folder %s, not the book's
  kTextBookNameNotGbk,            // new book %s (folder %s): a name with bytes that are not GBK
  kTextRecordNameNotGbk,          // new book %s: record file %s names a file with non-GBK bytes
  kTextRecordBecameLink,          // new book %s: record file %s became a link while imported
};

// The text as GBK bytes; the empty string for an unknown id. Thread-safe.
const std::string& Text(int id);

// The text as UTF-8, for the tools and the GUI border.
const char* TextUtf8(int id);

// The text with its first "%s" replaced by `argument` (GBK). The argument is copied as it is, so
// a "%" in a folder or file name cannot act as a format. Thread-safe.
std::string TextWith(int id, std::string_view argument);
// The same for a text with several "%s": each is replaced, in order, by the next argument.
std::string TextWith(int id, std::initializer_list<std::string_view> arguments);

}  // namespace tomeva

#endif  // TOMEVA_BASE_TEXTS_H_
