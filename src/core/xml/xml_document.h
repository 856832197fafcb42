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
// Bad input never crashes, hangs or exhausts the stack: parsing is bounded in time and depth.
// Objects are not shared between threads.
#ifndef TOMEVA_CORE_XML_XML_DOCUMENT_H_
#define TOMEVA_CORE_XML_XML_DOCUMENT_H_

#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tomeva {

using AttributeMap = std::unordered_map<std::string, std::string>;

// One element. A node owns its children.
class CXmlNode {
 public:
  CXmlNode() = default;
  virtual ~CXmlNode();
  CXmlNode(const CXmlNode&) = delete;
  CXmlNode& operator=(const CXmlNode&) = delete;

  // Clears the node and builds it and its subtree from element text. Returns 1 on success, 0
  // when a start tag is missing or an end tag cannot be found (the part built so far stays).
  int Parse(std::string_view text);

  // Back to the initial state: empty strings, leaf flag 1, no attributes, children deleted.
  void Clear();

  // Appends to `list` the outermost nodes, depth first in document order starting with this node,
  // whose tag equals `tag` (ASCII case ignored), whose attribute `attr_name` equals `attr_value`
  // exactly when `attr_name` is not empty, and whose leaf flag fits `kind` (0 = elements with
  // children, 1 = elements without, anything else = any).
  void FindNodes(std::string_view tag, int kind, std::vector<CXmlNode*>* list,
                 std::string_view attr_name = {}, std::string_view attr_value = {});

  const std::string& tag() const { return tag_; }
  const std::string& text() const { return text_; }
  const std::string& attribute_text() const { return attribute_text_; }
  int leaf() const { return leaf_; }
  const AttributeMap& attributes() const { return attributes_; }
  CXmlNode* first_child() const { return first_child_; }
  CXmlNode* previous_sibling() const { return previous_sibling_; }
  CXmlNode* next_sibling() const { return next_sibling_; }

 private:
  friend class CXmlDocument;
  int ParseAtDepth(std::string_view text, int depth);
  void AppendChild(CXmlNode* child);
  void DeleteChildren();

  std::string tag_;
  std::string text_;
  std::string attribute_text_;
  int leaf_ = 1;
  AttributeMap attributes_;
  CXmlNode* first_child_ = nullptr;
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

  // Loads a file (plain, or scrambled when `scrambled` is non-zero). 1 = read and parsed. The path
  // is recorded even when the file cannot be opened. A NUL byte in the file ends the text.
  int Load(std::string_view path, int scrambled = 0);

  // Parses a complete document held in memory (declaration, then the root element).
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
  std::string path_;
  std::string version_;
  std::string encoding_;
  CXmlNode root_;
};

// Fills `map` (emptied first) from an attribute text such as name="a" dir="3"/. Only name="value"
// with the quote right after "=" is recognised; values are taken as they stand.
void ParseAttributes(std::string_view attribute_text, AttributeMap* map);

// Removes every element (start tag, content and end tag) from `text`, keeping the text outside.
std::string StripChildElements(std::string_view text);

// Position in `text` of the end tag that closes `tag`, scanning from the front with the nesting
// count starting at `depth`; -1 when there is none. Used by CXmlNode::Parse.
int FindCloseTag(std::string_view tag, std::string_view text, int depth);

}  // namespace tomeva

#endif  // TOMEVA_CORE_XML_XML_DOCUMENT_H_
