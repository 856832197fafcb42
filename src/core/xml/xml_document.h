// The in-house XML reader used for every XML file of the system (settings, catalogue, tables of
// contents, result-page configuration, field definitions, record files). It works on GBK byte
// strings, recognises elements, attributes, comments between child elements, the XML declaration
// and the three entities &amp; &lt; &gt;, and locates elements by substring search. There is no
// serializer: files are written by composing text.
//
// Quirks that stored files and callers rely on are kept: a document without an XML declaration
// does not load; <br/> has the tag "br/"; a comment before the root element fails the load; the
// text of an element with child elements is its raw inner mark-up.
//
// Text from outside is made valid GBK before it is parsed: every byte that is not (base/gbk.h) is
// replaced by the stand-in "?" (RepairGbk), so that no scan takes a "<", a quote or a separator
// after a lone lead byte for the second byte of a character, where the web view sees it as
// itself. Valid text is never changed. A node remembers whether a byte of its start tag or of its
// content was replaced: a value that names a file or folder is then refused (NameAttribute,
// NameText), never used as repaired.
//
// Bad input never crashes, hangs or exhausts the stack: parsing is bounded in time and depth.
//  - Depth: at most kMaxXmlDepth levels of nested elements (the root is level 1). An element
//    deeper than that fails the parse (result 0) and is not linked; the part built before it
//    stays, as for any other failed parse.
//  - Time: the tags of the text are listed once and every start tag is paired with its end tag
//    in one pass, so a well-formed document costs time linear in its size, whatever its depth.
//    The rare shapes that need a literal re-scan (an end tag written with inner white space, a
//    scan resumed inside a tag) draw on a work allowance proportional to the text size; a text
//    that exhausts it fails the parse instead of running for minutes.
//  - Memory: a node keeps views into one shared copy of the parsed text and makes its strings on
//    first use, so the raw mark-up of nested elements is not copied once per level. The text copy
//    and node storage of a finished parse (up to 4 MB, two parses) are kept by the thread for its
//    next parse: files read one after another reuse warm memory instead of faulting in new pages.
//
// Objects are not shared between threads, not even for reading: the accessors fill those caches.
#ifndef TOMEVA_CORE_XML_XML_DOCUMENT_H_
#define TOMEVA_CORE_XML_XML_DOCUMENT_H_

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/file_util.h"

namespace tomeva {

using AttributeMap = std::unordered_map<std::string, std::string>;

// Deepest element nesting a parse accepts (the root element is level 1).
inline constexpr int kMaxXmlDepth = 256;

class XmlTreeBuilder;  // the parser behind CXmlNode::Parse, internal to xml_document.cc
struct XmlParseStore;  // the parsed text and the nodes of one parse, internal as well

// One element. A node owns its children.
class CXmlNode {
 public:
  CXmlNode();  // out of line: XmlParseStore is only complete in xml_document.cc
  // Unlinks the node from its siblings, then deletes its subtree.
  virtual ~CXmlNode();
  CXmlNode(const CXmlNode&) = delete;
  CXmlNode& operator=(const CXmlNode&) = delete;

  // Clears the node and builds it and its subtree from element text. Returns 1 on success, 0
  // when a start tag is missing, an end tag cannot be found or the nesting is deeper than
  // kMaxXmlDepth (the part built so far stays).
  int Parse(std::string_view text);

  // Back to the initial state: empty strings, leaf flag 1, no attributes, children deleted.
  void Clear();

  // Appends to `list` the outermost nodes, depth first in document order starting with this node,
  // whose tag equals `tag` (ASCII case ignored), whose attribute `attr_name` equals `attr_value`
  // exactly when `attr_name` is not empty, and whose leaf flag fits `kind` (0 = elements with
  // children, 1 = elements without, anything else = any).
  void FindNodes(std::string_view tag, int kind, std::vector<CXmlNode*>* list,
                 std::string_view attr_name = {}, std::string_view attr_value = {});

  // The element name as written in the start tag, up to the first space.
  const std::string& tag() const;
  // Without child elements: the content with &amp; &lt; &gt; decoded (in that order). With child
  // elements: the raw content between start and end tag.
  const std::string& text() const;
  // The raw start-tag text after the first space, e.g. name="a" dir="3"/.
  const std::string& attribute_text() const;
  int leaf() const { return leaf_; }
  const AttributeMap& attributes() const;
  // True when the parse replaced a byte that was not GBK in the start tag / in the content (the
  // raw content of an element with children includes theirs) of this element.
  bool start_tag_repaired() const { return (repaired_ & kRepairedStartTag) != 0; }
  bool text_repaired() const { return (repaired_ & kRepairedText) != 0; }
  CXmlNode* first_child() const { return first_child_; }
  CXmlNode* previous_sibling() const { return previous_sibling_; }
  CXmlNode* next_sibling() const { return next_sibling_; }

 private:
  friend class CXmlDocument;
  friend class XmlTreeBuilder;
  friend struct XmlParseStore;

  // Parses the element starting at `start` in the text of `store`; the node keeps the store
  // (the text behind the views of its subtree, and the storage of the nodes below it).
  int ParseStore(std::unique_ptr<XmlParseStore> store, size_t start);
  void AppendChild(CXmlNode* child);
  void DeleteChildren();
  void FindNodesImpl(std::string_view tag, int kind, std::vector<CXmlNode*>* list,
                     std::string_view attr_name, std::string_view attr_value);

  // The strings handed out by the accessors, made on first use. Kept apart from the node so that
  // the nodes of a large table of contents stay small: most of them are never asked for text.
  struct Strings;
  Strings& strings() const;

  // Views into the parsed text (kept alive by the node that was parsed), turned into strings on
  // first use.
  std::string_view tag_view_;
  std::string_view text_view_;
  std::string_view attribute_view_;
  std::unique_ptr<XmlParseStore> store_;  // set on the node where the parse started
  mutable std::unique_ptr<Strings> strings_;
  enum : uint8_t { kRepairedStartTag = 1, kRepairedText = 2 };
  int leaf_ = 1;
  bool pooled_ = false;  // lives in an XmlParseStore: destroyed in place, never freed alone
  uint8_t repaired_ = 0;  // kRepaired* bits
  CXmlNode* first_child_ = nullptr;
  CXmlNode* last_child_ = nullptr;
  CXmlNode* previous_sibling_ = nullptr;
  CXmlNode* next_sibling_ = nullptr;
};

// A parsed XML file.
class CXmlDocument {
 public:
  CXmlDocument() = default;
  // Constructs and loads `path`; a failed load simply leaves an empty (or partial) document.
  explicit CXmlDocument(std::string_view path);
  virtual ~CXmlDocument() = default;
  CXmlDocument(const CXmlDocument&) = delete;
  CXmlDocument& operator=(const CXmlDocument&) = delete;

  // Loads a file (plain, or scrambled with the catalogue keys when `scrambled` is non-zero).
  // 1 = read and parsed. The path is recorded even when the file cannot be opened. A NUL byte in
  // the file ends the text. Only a regular file of at most `max_bytes` is read (ReadWholeFile);
  // files that only ever hold a few lines (settings, a one-book fragment) pass kSmallFileLimit.
  int Load(std::string_view path, int scrambled = 0, size_t max_bytes = kLargeFileLimit);

  // Parses a complete document held in memory (declaration, then the root element). As with a
  // file, a NUL byte ends the text.
  int ParseText(std::string_view text);

  // Text of the first matching element, or "" (empty attr_name = no attribute condition).
  std::string GetText(std::string_view tag, std::string_view attr_name = {},
                      std::string_view attr_value = {});
  // Appends the text of every matching element, in document order.
  void GetTexts(std::string_view tag, std::string_view attr_name, std::string_view attr_value,
                std::vector<std::string>* list);
  // Appends the raw attribute text of every matching element, in document order.
  void GetAttributeStrings(std::string_view tag, std::vector<std::string>* list,
                           std::string_view attr_name = {}, std::string_view attr_value = {});

  const std::string& path() const { return path_; }
  const std::string& version() const { return version_; }
  const std::string& encoding() const { return encoding_; }
  CXmlNode& root() { return root_; }
  const CXmlNode& root() const { return root_; }

 private:
  int ParseStore(std::unique_ptr<XmlParseStore> store);

  std::string path_;
  std::string version_;
  std::string encoding_;
  CXmlNode root_;
};

// The value of attribute `name` of `node` ("" when it has none), or of its text, for a caller
// that makes a file or folder name or a path of it: nullopt when it is refused because the parse
// replaced a byte of it that was not GBK (the start tag, or the content, was repaired and the
// value holds the stand-in "?"). Such a name is never used as repaired: it could name another
// file than the one meant.
std::optional<std::string> NameAttribute(const CXmlNode& node, std::string_view name);
std::optional<std::string> NameText(const CXmlNode& node);

// Fills `map` (emptied first) from an attribute text such as name="a" dir="3"/. Only name="value"
// with the quote right after "=" is recognised; values are taken as they stand.
void ParseAttributes(std::string_view attribute_text, AttributeMap* map);

// Removes every element (start tag, content and end tag) from `text`, keeping the text outside.
// A start tag whose exact end tag does not follow is removed alone. Linear in the text size.
std::string StripChildElements(std::string_view text);

// Position in `text` of the end tag that closes `tag`, scanning from the front with the nesting
// count starting at `depth`; -1 when there is none (or the text is longer than an int can index).
// The position is where "<" + the end tag's trimmed text + ">" is found searching from the
// end tag's "<", so an end tag written with inner white space is looked for further on.
int FindCloseTag(std::string_view tag, std::string_view text, int depth);

}  // namespace tomeva

#endif  // TOMEVA_CORE_XML_XML_DOCUMENT_H_
