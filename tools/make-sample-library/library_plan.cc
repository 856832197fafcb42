#include "tools/make-sample-library/library_plan.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "base/gbk.h"
#include "base/mbstring.h"

namespace tomeva::sample {
namespace {

// Fixed texts of the sample are written here in UTF-8 and stored as GBK.
std::string G(std::string_view utf8) { return Utf8ToGbk(utf8); }

std::string Numbered(const char* pattern, int n) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, pattern, n);
  return buffer;
}

std::string RecordFileName(int index, int count) {
  int width = 4;
  for (int limit = 10000; count >= limit && width < 9; limit *= 10) ++width;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "book_%0*d.xml", width, index + 1);
  return buffer;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) text += '\n';
    text += lines[i];
  }
  return text;
}

// The record of one poem with the values every book shares.
RecordPlan PoemRecord(const Poem& poem, const std::string& title, int index, int count) {
  RecordPlan record;
  record.file = RecordFileName(index, count);
  record.values[kTitle] = title;
  record.values[kAuthor] = poem.author;
  record.values[kContent] = JoinLines(poem.lines);
  // The content summary is the opening line, the way anthologies index their poems.
  record.values[kKeywords] = poem.lines.empty() ? std::string() : poem.lines.front();
  record.lines.push_back(G("《") + title + G("》"));
  record.lines.push_back(poem.author);
  record.lines.insert(record.lines.end(), poem.lines.begin(), poem.lines.end());
  return record;
}

void AppendLinkPair(std::string* link_spec, const std::string& anchor, const std::string& target) {
  if (!link_spec->empty()) *link_spec += '*';
  *link_spec += anchor + "*" + target;
}

bool Mentions(const RecordPlan& record, const std::string& word) {
  return MbFind(record.values[kContent], word) != std::string::npos;
}

}  // namespace

std::string ChineseNumber(int n) {
  if (n <= 0 || n >= 100000) return std::to_string(n);
  static const char* const kDigits[] = {"零", "一", "二", "三", "四", "五", "六", "七", "八", "九"};
  static const struct {
    int value;
    const char* name;
  } kUnits[] = {{10000, "万"}, {1000, "千"}, {100, "百"}, {10, "十"}, {1, ""}};
  std::string text;
  bool gap = false;
  for (const auto& unit : kUnits) {
    int digit = n / unit.value % 10;
    if (digit == 0) {
      gap = !text.empty();
      continue;
    }
    if (gap) text += kDigits[0];
    gap = false;
    // "十一", not "一十一", when the tens lead.
    if (!(unit.value == 10 && digit == 1 && text.empty())) text += kDigits[digit];
    text += unit.name;
  }
  return text;
}

std::vector<int> RecordsUnder(const SectionPlan& section) {
  std::vector<int> records = section.records;
  for (const SectionPlan& child : section.sections) {
    std::vector<int> more = RecordsUnder(child);
    records.insert(records.end(), more.begin(), more.end());
  }
  return records;
}

BookPlan PlanTangBook(const std::vector<Poem>& poems, int record_count, int whole_pdf_records) {
  BookPlan book;
  book.dir = "1";
  book.name = G("唐诗三百首");
  book.category = "3";
  book.root.htm = "index.htm";
  book.root.pdf = "838.pdf";
  const int poem_count = static_cast<int>(poems.size());
  book.whole_book_pdf_records =
      std::min(record_count, whole_pdf_records >= 0 ? whole_pdf_records : poem_count);
  const std::string libai = G("李白"), changan = G("长安");
  for (int i = 0; i < record_count && poem_count > 0; ++i) {
    const Poem& poem = poems[i % poem_count];
    std::string title = poem.title;
    if (i >= poem_count) title += G("（") + std::to_string(i / poem_count + 1) + G("）");
    RecordPlan record = PoemRecord(poem, title, i, record_count);
    record.values[kCategory] = book.category;
    std::string link;
    if (poem.author == libai) {
      AppendLinkPair(&link, libai, "$!_http://127.0.0.1:8321/poets/libai.htm");
    }
    if (Mentions(record, changan)) AppendLinkPair(&link, changan, "a_changan.htm");
    record.values[kLink] = link;
    book.records.push_back(std::move(record));
  }
  // A record whose page is its volume's PDF, and two records with image lists: one picture with
  // an escaped "*" in its caption, and three pictures with the three kinds of link target.
  if (book.records.size() > 1) book.records[1].values[kHtmlFile] = "pdf/juan0001.pdf";
  if (book.records.size() > 2) {
    book.records[2].values[kImageInfo] =
        "img/p0003_1.png**" + book.records[2].values[kTitle] + G("&st;插图");
    book.pictures.push_back({"img/p0003_1.png", book.records[2].values[kTitle]});
  }
  if (book.records.size() > 5) {
    book.records[5].values[kImageInfo] =
        "img/p0006_1.png*$!_http://127.0.0.1:8321/img/p0006_1.png*" + G("图一") +
        "*img/p0006_2.png*a_juan0001.htm*" + G("图二") + "*img/p0006_3.png**" + G("图三");
    for (int k = 1; k <= 3; ++k) {
      book.pictures.push_back({Numbered("img/p0006_%d.png", k), G("图") + G(ChineseNumber(k))});
    }
  }
  book.link_pages.push_back({"changan.htm", changan, G("长安，唐代都城，诗人笔下的帝京。")});

  // Volumes of 40 poems; inside a volume, one section per run of poems by the same poet. Only
  // the first eight volumes (all of them unless the book is scaled) get their own PDF and a page
  // per poet section: the sections of the rest inherit the volume's page and the whole-book
  // PDF, which keeps a scaled book folder from filling with pages.
  constexpr int kVolumeSize = 40, kVolumesWithPdf = 8;
  for (int start = 0, v = 1; start < static_cast<int>(book.records.size());
       start += kVolumeSize, ++v) {
    SectionPlan volume;
    volume.name = G("卷" + ChineseNumber(v));
    volume.htm = Numbered("juan%04d.htm", v);
    if (v <= kVolumesWithPdf) volume.pdf = Numbered("pdf/juan%04d.pdf", v);
    int end = std::min(start + kVolumeSize, static_cast<int>(book.records.size()));
    for (int i = start; i < end; ++i) {
      if (volume.sections.empty() ||
          book.records[volume.sections.back().records.back()].values[kAuthor] !=
              book.records[i].values[kAuthor]) {
        SectionPlan poet;
        poet.name = book.records[i].values[kAuthor];
        if (v <= kVolumesWithPdf) {
          poet.htm = Numbered("juan%04d", v) +
                     Numbered("_%02d.htm", static_cast<int>(volume.sections.size()) + 1);
        }
        volume.sections.push_back(std::move(poet));
      }
      volume.sections.back().records.push_back(i);
    }
    book.root.sections.push_back(std::move(volume));
  }
  return book;
}

BookPlan PlanSongBook(const std::vector<Poem>& poems) {
  BookPlan book;
  book.dir = "2";
  book.name = G("宋诗一百首");
  book.category = "13";
  book.root.pdf = "838.pdf";  // no htm: the book's node shows the library's start page
  const int count = static_cast<int>(poems.size());
  book.whole_book_pdf_records = count;
  const std::string sushi = G("苏轼");
  for (int i = 0; i < count; ++i) {
    RecordPlan record = PoemRecord(poems[i], poems[i].title, i, count);
    record.values[kCategory] = book.category;
    if (poems[i].author == sushi) {
      record.values[kLink] = sushi + "*$_http://127.0.0.1:8321/poets/sushi.htm";
    }
    // Every tenth poem, from the fifth on, has a PDF of its own.
    if (i % 10 == 4) record.own_pdf = Numbered("pdf/poem_%04d.pdf", i + 1);
    book.records.push_back(std::move(record));
  }
  if (count > 0) book.records[0].values[kHtmlFile] = "poem_0001.htm";
  if (count > 3) {
    book.records[3].values[kImageInfo] =
        "img/s0004_1.png*a_group01.htm*" + book.records[3].values[kTitle] + G("插图");
    book.pictures.push_back({"img/s0004_1.png", book.records[3].values[kTitle]});
  }
  constexpr int kGroupSize = 10;
  for (int start = 0, g = 1; start < count; start += kGroupSize, ++g) {
    SectionPlan group;
    group.name = G("第" + ChineseNumber(g) + "组");
    group.htm = Numbered("group%02d.htm", g);
    group.pdf = Numbered("pdf/group%02d.pdf", g);
    for (int i = start; i < std::min(start + kGroupSize, count); ++i) group.records.push_back(i);
    book.root.sections.push_back(std::move(group));
  }
  // The last group points at the library's start page, written in capitals as some authoring
  // tools do.
  if (!book.root.sections.empty()) book.root.sections.back().htm = "Home.htm";
  return book;
}

BookPlan PlanAirsBook(const std::vector<Poem>& classics) {
  BookPlan book;
  book.dir = "3";
  book.name = G("诗经·国风");
  book.waiting = true;
  book.root.htm = "index.htm";
  book.root.pdf = "838.pdf";
  book.cover = "cover.png";
  book.pictures.push_back({"cover.png", book.name});
  const std::string airs = G("國風"), junzi = G("君子");
  std::vector<const Poem*> chosen;
  for (const Poem& poem : classics) {
    if (poem.part == airs) chosen.push_back(&poem);
  }
  const int count = static_cast<int>(chosen.size());
  book.whole_book_pdf_records = count;
  for (int i = 0; i < count; ++i) {
    const Poem& poem = *chosen[i];
    RecordPlan record = PoemRecord(poem, poem.title, i, count);
    record.values[kKeywords] = poem.part + G("·") + poem.group;
    if (Mentions(record, junzi)) record.values[kLink] = junzi + "*a_junzi.htm";
    book.records.push_back(std::move(record));
    if (book.root.sections.empty() || book.root.sections.back().name != poem.group) {
      SectionPlan state;
      state.name = poem.group;
      int n = static_cast<int>(book.root.sections.size()) + 1;
      state.htm = Numbered("sec_%02d.htm", n);
      state.pdf = Numbered("pdf/sec_%02d.pdf", n);
      book.root.sections.push_back(std::move(state));
    }
    book.root.sections.back().records.push_back(i);
  }
  if (count > 0) {
    book.records[0].values[kImageInfo] =
        "img/f0001_1.png**" + book.records[0].values[kTitle] + G("插图");
    book.pictures.push_back({"img/f0001_1.png", book.records[0].values[kTitle]});
  }
  book.link_pages.push_back(
      {"junzi.htm", junzi, G("君子，《诗经》中对贵族男子或有德之人的称呼。")});
  return book;
}

BookPlan PlanOdesBook(const std::vector<Poem>& classics) {
  BookPlan book;
  book.dir = "4";
  book.name = G("诗经·雅颂");
  book.waiting = true;
  book.older_format = true;
  book.root.pdf = "838.pdf";
  const std::string airs = G("國風");
  std::vector<const Poem*> chosen;
  for (const Poem& poem : classics) {
    if (poem.part != airs) chosen.push_back(&poem);
  }
  const int count = static_cast<int>(chosen.size());
  book.whole_book_pdf_records = count;
  for (int i = 0; i < count; ++i) {
    const Poem& poem = *chosen[i];
    RecordPlan record = PoemRecord(poem, poem.title, i, count);
    // The older format carries only title, figure, body and the book's folder.
    record.values[kAuthor].clear();
    record.values[kKeywords].clear();
    record.lines[1] = poem.part;
    book.records.push_back(std::move(record));
    if (book.root.sections.empty() || book.root.sections.back().name != poem.part) {
      SectionPlan part;
      part.name = poem.part;
      int n = static_cast<int>(book.root.sections.size()) + 1;
      part.htm = Numbered("part_%d.htm", n);
      part.pdf = Numbered("pdf/part_%d.pdf", n);
      book.root.sections.push_back(std::move(part));
    }
    SectionPlan& part = book.root.sections.back();
    if (poem.group.empty()) {  // the short hymn books have no decades
      part.records.push_back(i);
      continue;
    }
    if (part.sections.empty() || part.sections.back().name != poem.group) {
      SectionPlan decade;
      decade.name = poem.group;
      decade.htm = part.htm.substr(0, part.htm.size() - 4) +
                   Numbered("_%02d.htm", static_cast<int>(part.sections.size()) + 1);
      part.sections.push_back(std::move(decade));
    }
    part.sections.back().records.push_back(i);
  }
  // Older image information is a bare picture file; the import completes it to a list.
  for (int i : {0, 7}) {
    if (i >= count) continue;
    std::string file = Numbered("img/y%04d_1.png", i + 1);
    book.records[i].values[kImageInfo] = file;
    book.pictures.push_back({file, book.records[i].values[kTitle]});
  }
  return book;
}

namespace {

// `count` poems of `poems` from `start` on, going round when the end is reached.
std::vector<Poem> PoemsFrom(const std::vector<Poem>& poems, size_t start, size_t count) {
  std::vector<Poem> chosen;
  for (size_t i = 0; i < count && !poems.empty(); ++i) {
    chosen.push_back(poems[(start + i) % poems.size()]);
  }
  return chosen;
}

// A further book of a larger library: a small copy of the Song or the Tang anthology's layout
// with its own folder, category, name and poems.
BookPlan PlanFurtherBook(const std::vector<Poem>& tang, const std::vector<Poem>& song, int dir) {
  const bool from_song = dir % 2 == 1;
  // The how-manieth further book of its anthology, from 0.
  const size_t turn = static_cast<size_t>(dir - 5) / 2;
  const std::vector<Poem> poems =
      PoemsFrom(from_song ? song : tang, turn * kFurtherBookPoems, kFurtherBookPoems);
  BookPlan book = from_song ? PlanSongBook(poems) : PlanTangBook(poems, kFurtherBookPoems, -1);
  book.dir = std::to_string(dir);
  book.name = G(std::string(from_song ? "宋诗选（" : "唐诗选（") + ChineseNumber(dir) + "）");
  // Book 5 takes category 4; from book 14 on, 13 is passed over.
  book.category = std::to_string(dir < 14 ? dir - 1 : dir);
  for (RecordPlan& record : book.records) record.values[kCategory] = book.category;
  return book;
}

}  // namespace

std::vector<BookPlan> PlanLibrary(const std::vector<Poem>& tang, const std::vector<Poem>& song,
                                  const std::vector<Poem>& classics, int book_count,
                                  int tang_records, int whole_pdf_records) {
  std::vector<BookPlan> books;
  book_count = std::clamp(book_count, 0, kMaxBooks);
  for (int dir = 1; dir <= book_count; ++dir) {
    switch (dir) {
      case 1:
        books.push_back(PlanTangBook(tang, tang_records, whole_pdf_records));
        break;
      case 2:
        books.push_back(PlanSongBook(song));
        break;
      case 3:
        books.push_back(PlanAirsBook(classics));
        break;
      case 4:
        books.push_back(PlanOdesBook(classics));
        break;
      default:
        books.push_back(PlanFurtherBook(tang, song, dir));
        break;
    }
  }
  return books;
}

}  // namespace tomeva::sample
