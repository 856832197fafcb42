#include "tools/tomeva-tool/text_copy.h"

#include <sys/stat.h>

#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <unordered_map>
#include <vector>

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>
#include <unicode/normalizer2.h>
#include <unicode/translit.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/uscript.h>

#include "base/file_util.h"
#include "base/gbk.h"

namespace tomeva::tool {
namespace {

constexpr char32_t kNoCharacter = 0xFFFD;

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// UTF-16 to code points; a lone surrogate becomes U+FFFD, which GBK lacks.
std::u32string CodePoints(std::u16string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      out.push_back(0x10000 + ((char32_t{u} - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      out.push_back(kNoCharacter);
    } else {
      out.push_back(u);
    }
  }
  return out;
}

// The characters a word of the library's languages is made of: a line break between two of them
// splits a word, since these scripts put no space between words.
bool IsCjkWordCharacter(char32_t c) {
  if (c < 0x2E80) return false;
  if (u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_IDEOGRAPHIC)) return true;
  UErrorCode status = U_ZERO_ERROR;
  switch (uscript_getScript(static_cast<UChar32>(c), &status)) {
    case USCRIPT_HAN:
    case USCRIPT_HIRAGANA:
    case USCRIPT_KATAKANA:
    case USCRIPT_HANGUL:
    case USCRIPT_BOPOMOFO:
      return true;
    default:
      return false;
  }
}

// Spaces an extractor pads a line with, and the ideographic space that indents a CJK line.
bool IsBlank(char32_t c) {
  return c == ' ' || c == '\t' ||
         (c >= 0x80 && u_charType(static_cast<UChar32>(c)) == U_SPACE_SEPARATOR);
}

// Line breaks as "\n" only; a break between two CJK word characters dropped with the blanks
// around it. A blank line (two breaks) is a paragraph's end and stays.
std::u32string JoinCjkLines(const std::u32string& text) {
  std::u32string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') continue;
      c = '\n';
    }
    if (c != '\n') {
      out.push_back(c);
      continue;
    }
    size_t next = i + 1;
    while (next < text.size() && IsBlank(text[next])) ++next;
    size_t kept = out.size();
    while (kept > 0 && IsBlank(out[kept - 1])) --kept;
    if (next < text.size() && kept > 0 && IsCjkWordCharacter(text[next]) &&
        IsCjkWordCharacter(out[kept - 1])) {
      out.resize(kept);
      i = next - 1;
      continue;
    }
    out.push_back('\n');
  }
  return out;
}

// Stand-ins (UTF-8) for letters and signs that neither normalisation nor GBK covers, each a
// like form that GBK has; nullptr for the others.
const char* LikeFormOf(char32_t c) {
  switch (c) {
    case 0x2010:
    case 0x2011:
    case 0x2012:
    case 0x2043:
    case 0x2212:  // minus sign
    case 0xFE63:
      return "-";
    case 0x2022:
    case 0x2219:
    case 0x2027:
    case 0x30FB:
    case 0x25E6:
    case 0x2024:
      return "\u00B7";  // middle dot
    case 0x2217:
    case 0x22C6:
    case 0x204E:
      return "*";
    case 0x223C:
    case 0x301C:
      return "~";
    case 0x27E8:
    case 0x29FC:
      return "\u3008";  // left angle bracket
    case 0x27E9:
    case 0x29FD:
      return "\u3009";
    case 0x00AB:
      return "\u300A";  // left double angle bracket
    case 0x00BB:
      return "\u300B";
    case 0x201A:
      return ",";
    case 0x201E:
      return "\u201C";
    case 0x2039:
      return "<";
    case 0x203A:
      return ">";
    case 0x00A9:
      return "(C)";
    case 0x00AE:
      return "(R)";
    case 0x0131:
      return "i";
    case 0x0237:
      return "j";
    case 0x00F8:
      return "o";
    case 0x00D8:
      return "O";
    case 0x00DF:
      return "ss";
    case 0x0142:
      return "l";
    case 0x0141:
      return "L";
    case 0x00E6:
      return "ae";
    case 0x00C6:
      return "AE";
    case 0x0153:
      return "oe";
    case 0x0152:
      return "OE";
    default:
      return nullptr;
  }
}

}  // namespace

struct PageTextConverter::Cache {
  struct StandIn {
    std::string gbk;
    bool replaced = false;
  };
  std::unordered_map<char32_t, StandIn> stand_ins;
  std::unordered_map<char32_t, std::optional<std::string>> gbk;
  const icu::Normalizer2* nfkc = nullptr;
  const icu::Normalizer2* nfd = nullptr;
  std::unique_ptr<icu::Transliterator> to_simplified;
  std::unique_ptr<icu::Transliterator> to_traditional;
  bool icu_ready = false;

  // The character's GBK bytes, or nothing when GBK lacks it. A single byte above 0x7F (the
  // converter's euro sign) is refused: readers of the text copy take every byte from 0x80 up
  // for the first of two.
  const std::optional<std::string>& Gbk(char32_t c) {
    auto found = gbk.find(c);
    if (found != gbk.end()) return found->second;
    std::string utf8;
    AppendUtf8(c, &utf8);
    std::string bytes = Utf8ToGbk(utf8);
    const auto lead = bytes.empty() ? 0 : static_cast<unsigned char>(bytes[0]);
    const bool single = bytes.size() == 1 && lead < 0x80 && (lead != '?' || c == '?');
    const bool pair = bytes.size() == 2 && lead >= 0x81 && lead <= 0xFE;
    std::optional<std::string> result;
    if (single || pair) result = std::move(bytes);
    return gbk.emplace(c, std::move(result)).first->second;
  }

  // The GBK bytes of a whole ICU string, or nothing when GBK lacks any of its characters.
  std::optional<std::string> Gbk(const icu::UnicodeString& text) {
    if (text.isEmpty()) return std::nullopt;
    std::string out;
    for (int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) {
      const auto& one = Gbk(static_cast<char32_t>(text.char32At(i)));
      if (!one) return std::nullopt;
      out += *one;
    }
    return out;
  }

  void PrepareIcu() {
    if (icu_ready) return;
    icu_ready = true;
    UErrorCode status = U_ZERO_ERROR;
    nfkc = icu::Normalizer2::getNFKCInstance(status);
    if (U_FAILURE(status)) nfkc = nullptr;
    status = U_ZERO_ERROR;
    nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status)) nfd = nullptr;
    status = U_ZERO_ERROR;
    to_simplified.reset(
        icu::Transliterator::createInstance("Traditional-Simplified", UTRANS_FORWARD, status));
    if (U_FAILURE(status)) to_simplified.reset();
    status = U_ZERO_ERROR;
    to_traditional.reset(
        icu::Transliterator::createInstance("Simplified-Traditional", UTRANS_FORWARD, status));
    if (U_FAILURE(status)) to_traditional.reset();
  }

  StandIn Find(char32_t c) {
    // Controls would cut the copy (NUL) or shift its pages (form feed); tab and line break are
    // the only ones a page's text keeps.
    if ((c < 0x20 && c != '\t' && c != '\n') || (c >= 0x7F && c <= 0x9F)) return {" ", true};
    if (const auto& direct = Gbk(c)) return {*direct, false};
    PrepareIcu();
    const auto code = static_cast<UChar32>(c);
    // Invisible format characters (soft hyphen, zero-width space, byte order mark) go.
    if (u_charType(code) == U_FORMAT_CHAR) return {"", true};
    const icu::UnicodeString one(code);
    UErrorCode status = U_ZERO_ERROR;
    // Compatibility forms: ligatures, Kangxi radicals, compatibility ideographs, circled and
    // half-width forms.
    if (nfkc != nullptr) {
      const icu::UnicodeString folded = nfkc->normalize(one, status);
      if (U_SUCCESS(status) && folded != one) {
        if (auto bytes = Gbk(folded)) return {*bytes, true};
      }
    }
    // A traditional or simplified form GBK has.
    for (icu::Transliterator* convert : {to_traditional.get(), to_simplified.get()}) {
      if (convert == nullptr) continue;
      icu::UnicodeString other(one);
      convert->transliterate(other);
      if (other != one && other.countChar32() == 1) {
        if (auto bytes = Gbk(other)) return {*bytes, true};
      }
    }
    // A letter without its accents.
    if (nfd != nullptr) {
      status = U_ZERO_ERROR;
      const icu::UnicodeString parts = nfd->normalize(one, status);
      if (U_SUCCESS(status) && parts != one) {
        icu::UnicodeString base;
        for (int32_t i = 0; i < parts.length(); i = parts.moveIndex32(i, 1)) {
          const UChar32 part = parts.char32At(i);
          if (u_charType(part) != U_NON_SPACING_MARK) base.append(part);
        }
        if (auto bytes = Gbk(base)) return {*bytes, true};
      }
    }
    if (const char* like = LikeFormOf(c)) {
      if (auto bytes = Gbk(icu::UnicodeString::fromUTF8(like))) return {*bytes, true};
    }
    // An accent on its own belongs to the letter before it, which stays.
    if (u_charType(code) == U_NON_SPACING_MARK || u_charType(code) == U_ENCLOSING_MARK) {
      return {"", true};
    }
    return {"?", true};
  }

  const StandIn& Get(char32_t c) {
    auto found = stand_ins.find(c);
    if (found != stand_ins.end()) return found->second;
    return stand_ins.emplace(c, Find(c)).first->second;
  }
};

PageTextConverter::PageTextConverter() : cache_(std::make_unique<Cache>()) {}
PageTextConverter::~PageTextConverter() = default;

std::string PageTextConverter::Convert(std::u16string_view page_text, int* replaced) {
  const std::u32string text = JoinCjkLines(CodePoints(page_text));
  std::string out;
  out.reserve(text.size() * 2);
  for (char32_t c : text) {
    const Cache::StandIn& stand_in = cache_->Get(c);
    out += stand_in.gbk;
    if (stand_in.replaced) ++*replaced;
  }
  return out;
}

namespace {

// Poppler reports every oddity of a damaged file on stderr; the tool says once what went wrong.
void IgnorePopplerMessage(const std::string&, void*) {}

poppler::page::text_layout_enum PopplerLayout(TextLayout layout) {
  return layout == TextLayout::kPhysical ? poppler::page::physical_layout
                                         : poppler::page::raw_order_layout;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa;
  struct stat sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

TextCopyResult MakeTextCopy(std::string_view pdf, TextLayout layout) {
  TextCopyResult result;
  try {
    poppler::set_debug_error_function(&IgnorePopplerMessage, nullptr);
    if (pdf.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
      result.error = "the PDF is too large";
      return result;
    }
    std::unique_ptr<poppler::document> doc(
        poppler::document::load_from_raw_data(pdf.data(), static_cast<int>(pdf.size())));
    if (!doc) {
      result.error = "not a PDF, or damaged beyond reading";
      return result;
    }
    if (doc->is_locked()) {
      result.error = "the PDF is encrypted and needs a password to be opened";
      return result;
    }
    const int pages = doc->pages();
    // What a viewer shows has at least one page; an empty copy would only replace a good one.
    if (pages <= 0) {
      result.error = "the PDF has no pages: damaged";
      return result;
    }
    PageTextConverter converter;
    for (int i = 0; i < pages; ++i) {
      std::unique_ptr<poppler::page> page(doc->create_page(i));
      if (page) {
        const poppler::ustring text = page->text(poppler::rectf(), PopplerLayout(layout));
        std::u16string utf16(text.begin(), text.end());
        // The extractor ends a page with a form feed of its own; the copy puts its own after
        // every page, readable or not.
        if (!utf16.empty() && utf16.back() == u'\f') utf16.pop_back();
        result.text += converter.Convert(utf16, &result.replaced);
      } else {
        // Left empty so that the pages after it keep their numbers.
        ++result.unreadable_pages;
      }
      result.text += '\f';
    }
    result.pages = pages;
    result.ok = true;
  } catch (const std::bad_alloc&) {
    result = {};
    result.error = "out of memory reading the PDF";
  } catch (...) {
    result = {};
    result.error = "the PDF could not be read";
  }
  return result;
}

TextCopyResult WriteTextCopy(const std::string& pdf_path, const std::string& out_path,
                             TextLayout layout) {
  TextCopyResult result;
  std::string pdf;
  if (!FileExists(pdf_path)) {
    result.error = "no such file: " + pdf_path;
    return result;
  }
  if (!ReadWholeFile(pdf_path, &pdf)) {
    result.error = "cannot read " + pdf_path;
    return result;
  }
  // A PDF whose name ends in "txt" would be its own default text copy.
  if (SameFile(ResolvePath(pdf_path), ResolvePath(out_path))) {
    result.error = "the text copy would replace the PDF itself: " + out_path;
    return result;
  }
  result = MakeTextCopy(pdf, layout);
  if (!result.ok) {
    result.error = pdf_path + ": " + result.error;
    return result;
  }
  if (!ReplaceFileAtomically(out_path, result.text)) {
    result.ok = false;
    result.error = "cannot write " + out_path;
  }
  return result;
}

}  // namespace tomeva::tool
