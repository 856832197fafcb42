// What the sample library holds, decided before anything is written: the books, their records
// with the eight record values, their tables of contents with the pages and PDFs the sections
// name, and the pictures the image lists show. Pure data, so that the writer and the document of
// the sample agree by construction.
#ifndef TOMEVA_TOOLS_MAKE_SAMPLE_LIBRARY_LIBRARY_PLAN_H_
#define TOMEVA_TOOLS_MAKE_SAMPLE_LIBRARY_LIBRARY_PLAN_H_

#include <string>
#include <vector>

#include "tools/make-sample-library/corpus.h"

namespace tomeva::sample {

// Record value positions, as the index build takes them from a record carrier.
enum ValuePosition : int {
  kTitle = 0,
  kAuthor = 1,
  kContent = 2,
  kKeywords = 3,
  kImageInfo = 4,
  kCategory = 5,
  kHtmlFile = 6,
  kLink = 7,
  kValueCount = 8,
};

struct RecordPlan {
  std::string file;                 // "book_0001.xml", no folder
  std::string values[kValueCount];  // GBK; an older-format record uses title, content, image
  std::vector<std::string> lines;   // the poem as printed: title line, author line, body lines
  std::string own_pdf;              // pdf attribute of its chapter.xml record element, or ""
};

// A section of a table of contents (the root included). A section holds either sub-sections or
// records.
struct SectionPlan {
  std::string name;  // GBK label
  std::string htm;   // page attribute, relative to the book folder, or ""
  std::string pdf;   // PDF attribute, relative to the book folder, or ""
  std::vector<SectionPlan> sections;
  std::vector<int> records;  // positions in BookPlan::records
};

// A picture that an image list or a page shows: drawn as a small PNG.
struct PicturePlan {
  std::string path;   // relative to the book folder
  std::string label;  // GBK text drawn on it
};

// A plain page that a record link points at.
struct LinkPagePlan {
  std::string path;   // relative to the book folder
  std::string title;  // GBK
  std::string text;   // GBK
};

struct BookPlan {
  std::string dir;
  std::string name;           // GBK
  std::string category;       // "" for a book waiting in Update/ (the import chooses one)
  bool waiting = false;       // lies in Update/<dir> with a fragment Update/bookconfig<dir>.xml
  bool older_format = false;  // its record files use f0, f2, f5, f15 (fragment without version)
  SectionPlan root;           // name unused; htm and pdf are the chapter.xml root attributes
  std::vector<RecordPlan> records;
  int whole_book_pdf_records = 0;  // the first this many records are printed in the root PDF
  std::vector<PicturePlan> pictures;
  std::vector<LinkPagePlan> link_pages;
  std::string cover;  // picture path at the top of the folder, or ""
};

// Chinese numeral for 1..99999 ("十一", "一百零一"), decimal digits beyond. UTF-8.
std::string ChineseNumber(int n);

// The installed Tang anthology (dir 1, category 3), scaled to `record_count` records by
// repeating the poems with a "（k）" suffix on the title of the k-th repetition.
// `whole_pdf_records` (-1: at most one per poem) of them are printed in its whole-book PDF.
BookPlan PlanTangBook(const std::vector<Poem>& poems, int record_count, int whole_pdf_records);
// The installed Song anthology (dir 2, category 13).
BookPlan PlanSongBook(const std::vector<Poem>& poems);
// The waiting books: the airs of the states (dir 3, newer record format) and the odes and hymns
// (dir 4, older record format), from the classic of poetry.
BookPlan PlanAirsBook(const std::vector<Poem>& classics);
BookPlan PlanOdesBook(const std::vector<Poem>& classics);

// Most books a library plan holds.
inline constexpr int kMaxBooks = 200;
// Poems of each further book of a larger library.
inline constexpr int kFurtherBookPoems = 24;

// The books of a library of `book_count` books (0 .. kMaxBooks; 0 is a library without books).
// The four books above come first, in folder order (the first `book_count` of them when fewer);
// `tang_records` and `whole_pdf_records` go to the Tang anthology as in PlanTangBook. Further
// books are installed, small and all different: folders "5", "6", ..., categories 4, 5, ... in
// turn, passing over 13 (book 2's) and leaving 1 and 2 to the waiting books, which the import
// gives the smallest free ones. So 49 books (kMaxCatalogueBooks, all the program keeps) use every
// category of 1 .. 49, and books after them 50 and on. Each holds kFurtherBookPoems poems, taken
// in turn from the Song anthology (odd folders, laid out as PlanSongBook, named 宋诗选（五）...)
// and the Tang one (even folders, laid out as PlanTangBook, named 唐诗选（六）...), each starting
// where the book before it from the same anthology stopped.
std::vector<BookPlan> PlanLibrary(const std::vector<Poem>& tang, const std::vector<Poem>& song,
                                  const std::vector<Poem>& classics, int book_count,
                                  int tang_records, int whole_pdf_records);

// Records of a section and of all its sub-sections, in table-of-contents order.
std::vector<int> RecordsUnder(const SectionPlan& section);

}  // namespace tomeva::sample

#endif  // TOMEVA_TOOLS_MAKE_SAMPLE_LIBRARY_LIBRARY_PLAN_H_
