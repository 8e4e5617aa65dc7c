#pragma once
// The main window: the patient and study for whom documents are converted, the result list of the
// study and worklist searches, and the buttons that open the conversion forms and the setup dialog.
#include <QDateTime>
#include <QEvent>
#include <QWidget>
#include <span>
#include <string>
#include <vector>

#include "convert/scanner.h"
#include "edge/background.h"
#include "net/dimse.h"
#include "query/queryfields.h"
#include "query/resultrows.h"
#include "query/studyinfo.h"

class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class ResultTableModel;
class QDialog;
class TAcquisitionForm;
class TMainForm;
class TPDFForm;
class TSetupFrm;

// The program-wide current study, filled by the conversion buttons and emptied by Clear.
extern StudyInfo CurrentStudy;
// The scan settings of the run (grey at 100 dpi until the scanner settings dialog's OK).
extern ScanSettings ScanConfiguration;
// Counter of generated accession numbers: 0, 1, ... 9999, then 0 again.
extern int AccessionCounter;

// The start-up message the main window posts to itself.
inline constexpr QEvent::Type kStartupEvent = static_cast<QEvent::Type>(0x8190);

// Modality list entries ("US" ... "MG"); index -1 (the "ALL" state) has no modality.
const char* ModalityOfIndex(int index);

class TForm1 : public QWidget {
  Q_OBJECT
 public:
  enum class Conversion { Pdf, Doc, Scan };

  // exePath: the program file; the label file, the folders and the log are placed beside it.
  explicit TForm1(const std::string& exePath, QWidget* parent = nullptr);

  void SetSetupForm(TSetupFrm* form) { setupForm_ = form; }
  // The forms the conversion buttons open: the PDF form, the report editor, the acquisition form.
  void SetConversionForms(TPDFForm* pdf, TMainForm* report, TAcquisitionForm* acquisition);

  // The start-up step, run once when the posted start-up event arrives.
  void OnStartup();

  // Button handlers.
  void SearchPACSBtnClick();
  void SearchWLBtnClick();
  void ClearBtnClick();
  void SetupBtnClick();
  void AboutBtnClick();
  void EndBtnClick();
  void AddPDFBtnClick();
  void AddDocBtnClick();
  void ScanBtnClick();
  // "Outbox (N)": sends what the outbox holds in the background; accepted objects leave it.
  void OutboxBtnClick();
  // True while a search or the outbox send runs; the buttons that would start other work wait.
  bool Busy() const { return work_.Busy(); }
  const BackgroundWork& Work() const { return work_; }
  // Shows the outbox button with its count while the outbox holds objects.
  void UpdateOutboxButton();
  // PDFs dropped onto the window (DroppedPdfs): Add PDF for the current patient with those files,
  // in order.
  void AddPdfFiles(const std::vector<std::string>& pdfs);

  // The first part of Add PDF, Add Doc and Scan: copies the patient and study into CurrentStudy
  // (from the selected result row when its name is set, else from the fields), checks the name and
  // ID (showing the message and returning false), and generates an accession number when none.
  bool FillCurrentStudy(Conversion kind);
  // The file the PDF form converts at once: the command-line text without its quotes, or "".
  std::string PresetPdfFile() const;
  // The modality index of the list, -1 when its text names no entry ("ALL", empty, typed text).
  int ModalityIndex() const;

  // The result list in the grid's own terms: row 0 holds the headers, result rows start at 1, and
  // an empty list counts as one empty row 1 (the view shows no row then).
  int RowCount() const;
  QString Cell(int col, int row) const;
  int SelectedRow() const;  // 1 unless the operator picked another row
  // The search loop around the study and worklist queries: BeginResults before the search (no
  // rows), AddResults as records arrive (appended at once), EndResults after it (rows sorted by
  // name, the first one current).
  void BeginResults();
  void AddResult(const StudyInfo& study);
  void AddResult(const TWorklistItem& item);
  void AddResults(std::vector<StudyInfo> studies, std::vector<ResultRow> rows);
  void EndResults();
  // The same with the rows' order by name already worked out (indices into the rows as added).
  void EndResults(const std::vector<size_t>& order);
  // Orders rows 1.. by the Name column, case-insensitive and locale-aware (SortResultRows).
  void SortRows();
  void SortRows(const std::vector<size_t>& order);

  QPushButton *SearchPACSBtn = nullptr, *SearchWLBtn = nullptr, *ClearBtn = nullptr, *SetupBtn = nullptr,
              *AddDocBtn = nullptr, *AddPDFBtn = nullptr, *ScanBtn = nullptr, *AboutBtn = nullptr,
              *EndBtn = nullptr, *OutboxBtn = nullptr;
  QLineEdit *Edit1 = nullptr, *Edit2 = nullptr, *Edit6 = nullptr;
  QDateEdit *DateTimePicker1 = nullptr, *DateTimePicker2 = nullptr;
  QComboBox* ComboBox1 = nullptr;
  QComboBox* SexBox = nullptr;  // the sex of a typed-in patient
  QTableView* StringGrid1 = nullptr;

 protected:
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;

 private:
  void FormCreate();
  // The search fields as the study and worklist searches take them.
  QueryFields SearchFields() const;
  // Runs one search in the background; rows reach the list in groups as they arrive.
  template <class Record, class Search>
  void RunSearch(const AssociationTarget& target, Search search);
  // Buttons and drops follow the work: none that would start other work while it runs.
  void UpdateButtons();

  // The labels and buttons with their captions (unit1.cpp).
  struct Caption;
  static std::span<const Caption> Captions();

  std::string exePath_;
  TSetupFrm* setupForm_ = nullptr;
  TPDFForm* pdfForm_ = nullptr;
  TMainForm* reportForm_ = nullptr;
  TAcquisitionForm* acquisitionForm_ = nullptr;
  QLabel *PatientIDLbl = nullptr, *PatientNameLbl = nullptr, *PatientBDLbl = nullptr,
         *StudyDescriptionLbl = nullptr, *SexLbl = nullptr, *ModalityLbl = nullptr, *StudyDateLbl = nullptr;
  ResultTableModel* results_ = nullptr;
  // The record of each result row (index = grid row - 1), bytes and character set as received.
  std::vector<StudyInfo> rowStudies_;
  bool closeWhenIdle_ = false;
  std::string commandLineExtension_;  // of the document on the command line, as given
  BackgroundWork work_;  // last: it waits for its runs before the rest goes
};
