// The Qt side of the generator: PDFs drawn with the CJK font of the system's font package, and
// small PNG pictures. Needs a QGuiApplication (the offscreen platform is enough).
#ifndef TOMEVA_TOOLS_MAKE_SAMPLE_LIBRARY_RENDER_H_
#define TOMEVA_TOOLS_MAKE_SAMPLE_LIBRARY_RENDER_H_

#include <string>
#include <vector>

namespace tomeva::sample {

// Loads the CJK font file. False, with a message in `error`, when it cannot be loaded.
bool InitRenderer(const std::string& font_path, std::string* error);

// Draws `lines` (GBK) top to bottom on A5 pages, a line too wide for the page broken at a
// character boundary, and fills `drawn` with the pages as drawn: for each page its lines exactly
// as drawn (GBK). The PDF carries no time stamp or random identifier, so the same lines give the
// same bytes. False on failure.
bool WritePdf(const std::string& path, const std::string& title,
              const std::vector<std::string>& lines,
              std::vector<std::vector<std::string>>* drawn);

// Draws a 160 x 120 picture with a colour band chosen by `seed` and `label` (GBK) on it.
bool WritePicture(const std::string& path, int seed, const std::string& label);

}  // namespace tomeva::sample

#endif  // TOMEVA_TOOLS_MAKE_SAMPLE_LIBRARY_RENDER_H_
