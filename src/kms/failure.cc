#include "kms/failure.h"

#include <xapian.h>

#include <exception>
#include <new>

#include "base/gbk.h"
#include "kms/index_store.h"
#include "kms/query_parser.h"
#include "kms/remote.h"

namespace tomeva::kms {
namespace {

// The fixed words are written here in UTF-8 and handed out as GBK, like every text of the system.
std::string Words(std::string_view utf8) { return Utf8ToGbk(utf8); }

std::string Index(std::string_view index_path) { return Words("索引") + std::string(index_path); }

std::string ActionWords(Action action, std::string_view batch) {
  switch (action) {
    case Action::kOpen:
      return Words("打开");
    case Action::kCommit:
      return Words("提交");
    case Action::kOptimize:
      return Words("压缩");
    case Action::kInsert:
      return Words("写入");
    case Action::kSearch:
      return Words("检索");
    case Action::kPublish:
      return Words("发布批次") + std::string(batch);
    case Action::kDiscard:
      return Words("删除批次") + std::string(batch);
    case Action::kListBatches:
      return Words("列出批次");
    case Action::kReindex:
      return Words("重建");
  }
  return {};
}

// Xapian's messages hold the paths we gave it, which are GBK bytes already, and otherwise ASCII;
// so they are kept as they are. Only line breaks go, since a reason is one line.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

std::string Detail(const Xapian::Error& e) {
  std::string detail = e.get_msg();
  if (const char* why = e.get_error_string(); why != nullptr && *why != '\0') {
    detail += std::string(" (") + why + ")";
  }
  return detail;
}

}  // namespace

std::string DescribeCurrentException(std::string_view index_path, Action action,
                                     std::string_view batch) {
  const std::string failed = Index(index_path) + ActionWords(action, batch) + Words("失败");
  try {
    throw;
  } catch (const QueryRefused& e) {
    if (index_path.empty()) return QueryRefusedReason(e);
    return OneLine(failed + Words("：") + QueryRefusedReason(e));
  } catch (const StubRefused& e) {
    // The stub's bytes are shown as they are: GBK or ASCII as any file name of the library.
    if (e.line().empty()) {
      return OneLine(Index(index_path) + Words("的XAPIANDB文件是空的或读不出，不打开它"));
    }
    return OneLine(Index(index_path) + Words("的XAPIANDB文件不是本程序写的（") + e.line() +
                   Words("），不打开它：只认“glass gen.N”和索引服务器的“remote 主机:端口”、"
                         "“tcp 主机 端口”"));
  } catch (const OversizedDocument& e) {
    return OneLine(failed + Words("：一条记录的存储数据有") + std::to_string(e.bytes()) +
                   Words("字节，超过") + std::to_string(kMaxRemoteDocumentBytes) +
                   Words("字节的上限，不读取"));
  } catch (const RemoteWriteRefused& e) {
    return OneLine(Index(index_path) + Words("保存在索引服务器") + e.server() +
                   Words("上，本工作站不写入也不压缩它；新书在索引服务器上导入"));
  } catch (const Xapian::NetworkError& e) {
    // A server that is down, went away or did not answer within the time-out; Xapian's context
    // names it ("remote:tcp(HOST:PORT)").
    return OneLine(Index(index_path) + Words("的索引服务器无法连接：") + Detail(e) + " " +
                   e.get_context());
  } catch (const Xapian::DatabaseLockError&) {
    return OneLine(Index(index_path) + Words("被另一个程序锁定"));
  } catch (const Xapian::DatabaseCreateError& e) {
    return OneLine(Words("无法创建") + Index(index_path) + Words("：") + Detail(e));
  } catch (const Xapian::DatabaseCorruptError& e) {
    return OneLine(Index(index_path) + Words("已损坏：") + Detail(e));
  } catch (const Xapian::DatabaseVersionError& e) {
    return OneLine(Index(index_path) + Words("的格式无法识别：") + Detail(e));
  } catch (const Xapian::DatabaseOpeningError& e) {
    return OneLine(Index(index_path) + Words("无法打开：") + Detail(e));
  } catch (const Xapian::Error& e) {
    return OneLine(failed + Words("：") + e.get_type() + ": " + Detail(e));
  } catch (const std::bad_alloc&) {
    return OneLine(failed + Words("：内存不足"));
  } catch (const std::exception& e) {
    return OneLine(failed + Words("：") + e.what());
  } catch (...) {
    return OneLine(failed);
  }
}

std::string QueryRefusedReason(const QueryRefused& refused) {
  const std::string bound = std::to_string(refused.bound());
  switch (refused.limit()) {
    case QueryRefused::Limit::kBytes:
      return Words("检索式太长，超过") + bound + Words("字节，未检索");
    case QueryRefused::Limit::kLexemes:
      return Words("检索式的词、字段名、连接词和括号超过") + bound + Words("个，未检索");
    case QueryRefused::Limit::kTerms:
      return Words("检索式的检索词超过") + bound + Words("个，未检索");
    case QueryRefused::Limit::kDepth:
      return Words("检索式的括号套叠超过") + bound + Words("层，未检索");
  }
  return Words("检索式超出限度，未检索");
}

std::string NoIndexPathReason() { return Words("没有给出索引文件夹"); }

std::string MissingIndexReason(std::string_view index_path) {
  return OneLine(Index(index_path) + Words("不存在"));
}

std::string NotOpenReason(std::string_view index_path) {
  return OneLine(Index(index_path) + Words("没有打开"));
}

std::string BadArgumentReason(std::string_view what_utf8) {
  return OneLine(Words("参数无效：") + Words(what_utf8));
}

}  // namespace tomeva::kms
