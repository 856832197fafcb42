// CTomevaView: the right-hand pane. A CMoreHtmlView that belongs to the document: it renders
// what the document's state asks for, keeps the PDF bookkeeping, forwards page-button clicks to
// the document, and hands the browser's text size back as it was found when the window closes.
#ifndef TOMEVA_GUI_VIEWS_TOMEVA_VIEW_H_
#define TOMEVA_GUI_VIEWS_TOMEVA_VIEW_H_

#include <QString>
#include <string>

#include "gui/views/more_html_view.h"

class QPrinter;

namespace tomeva {
class CTomevaDoc;
}

namespace tomeva::gui {

class CTomevaView : public CMoreHtmlView {
  Q_OBJECT
 public:
  explicit CTomevaView(QWidget* parent = nullptr);
  ~CTomevaView() override;

  // Attaches the view to the document (and the document to the view).
  void SetDocument(CTomevaDoc* doc);
  // First showing: the document remembers the browser's text size and applies its own, then
  // the first page is rendered.
  void OnInitialUpdate();
  // The window is closing: the browser's own text size is restored. Safe to call twice.
  void OnClose();

  void Navigate(const std::string& location) override;
  bool render_after_load() const { return render_after_load_; }
  void set_render_after_load(bool on) override { render_after_load_ = on; }
  void ScrollToTop() override;
  const std::string& current_pdf_path() const { return current_pdf_path_; }
  void set_current_pdf_path(const std::string& path) { current_pdf_path_ = path; }

  // Printing. What the view shows can be printed once a page has loaded, one print at a time.
  bool CanPrint() const { return has_document() && !printing_; }
  // The local file of the PDF the view shows (in the viewer page, or loaded as it is), or "".
  QString ShownPdfFile() const;
  // Prints what the view shows to `printer`, which must live until printDone: a shown PDF from
  // its file, every page, drawn by Qt's PDF renderer (the viewer page draws only the pages in
  // view); any other page through the web engine, in the printer's page layout, and for a
  // printer that writes a PDF file as the engine's own PDF (text kept as text), replacing the
  // file whole. printDone follows once, also when nothing could be printed (CanPrint false),
  // with the reason in Chinese.
  void Print(QPrinter* printer);
  // Draws every page of the PDF `file` onto `printer`, each scaled to fit its printable area.
  // False, with `*failure` (Chinese, naming the file), when the PDF cannot be read, the printer
  // cannot be opened (an output file that cannot be written) or a page cannot be drawn.
  static bool PrintPdfFile(const QString& file, QPrinter* printer, QString* failure);

 signals:
  // A print that Print started has ended; `failure` is empty when it succeeded.
  void printDone(bool ok, const QString& failure);

 protected:
  void OnDocumentComplete(bool ok) override;
  // Navigations pass the view's own rule first (files pages may read only); main-frame ones
  // then go to the document: it records followed links and turns links to record files into
  // tree selections. A record file is never a page's to read: its link goes to the document
  // when the guard finds it a file of the library (LocalRoots::MayName), and is never loaded.
  bool OnBeforeNavigate(const QUrl& url, QWebEnginePage::NavigationType type,
                        bool is_main_frame) override;

 private:
  CTomevaDoc* doc_ = nullptr;
  bool render_after_load_ = false;
  bool closed_ = false;
  bool printing_ = false;
  std::string current_pdf_path_;
};

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_VIEWS_TOMEVA_VIEW_H_
