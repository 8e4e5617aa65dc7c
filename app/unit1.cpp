#include "app/unit1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QCalendarWidget>
#include <QDateEdit>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <chrono>
#include <QVBoxLayout>
#include <cstdio>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "edge/dialogs.h"
#include "edge/qtext.h"
#include "app/result_table.h"
#include "app/setup.h"
#include "convert/forms/acquisition_form.h"
#include "convert/forms/form_batch.h"
#include "convert/forms/pdf_form.h"
#include "convert/forms/report_editor.h"
#include "convert/batch.h"
#include "convert/outbox.h"
#include "core/audit.h"
#include "core/config.h"
#include "core/cp1252.h"
#include "core/datefmt.h"
#include "core/fileutil.h"
#include "core/inifile.h"
#include "core/log.h"
#include "core/strutil.h"
#include "core/version.h"
#include "query/findscu.h"
#include "query/studytext.h"
#include "query/studyquery.h"
#include "query/worklistquery.h"

StudyInfo CurrentStudy;
ScanSettings ScanConfiguration;
int AccessionCounter = 0;

namespace {


struct Column {
  const char* key;
  const char* header;
  int width;
};
constexpr Column kColumns[7] = {
    {"StringGrid1Name", "Name", 200},
    {"StringGrid1ID", "ID", 70},
    {"StringGrid1Sex", "Sex", 50},
    {"StringGrid1BD", "Birth Date", 70},
    {"StringGrid1StudyDescription", "Study Description", 150},
    {"StringGrid1AN", "Accession N.", 70},
    {"StringGrid1StudyUID", "Study Instance UID", 200},
};

// The label file: the program file's name with its extension replaced by ".ini", in the
// configuration folder (beside the program, or the per-user one of an installed program).
std::string LabelFilePath(const std::string& exePath) {
  const std::string name = FileNamePart(exePath);
  const size_t dot = name.rfind('.');
  return FoldersFor(exePath).config + (dot == std::string::npos ? name : name.substr(0, dot)) + ".ini";
}

QDateEdit* MakePicker(const char* name) {
  auto* p = new QDateEdit;
  p->setObjectName(QString::fromLatin1(name));
  p->setCalendarPopup(true);
  p->setDisplayFormat(UserCountry() == "United States" ? "MM/dd/yyyy" : "dd/MM/yyyy");
  return p;
}

// A birth date picker holds no date until the operator picks one: its lowest date stands for "no
// date" and shows as such. Its calendar still opens on the current month.
const QDate kNoDate(1800, 1, 1);

class CalendarOnToday : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* e) override {
    auto* calendar = qobject_cast<QCalendarWidget*>(watched);
    if (calendar && e->type() == QEvent::Show && calendar->selectedDate() == kNoDate)
      calendar->setCurrentPage(QDate::currentDate().year(), QDate::currentDate().month());
    return false;
  }
};

QDateEdit* MakeBirthDatePicker(const char* name) {
  QDateEdit* p = MakePicker(name);
  p->setMinimumDate(kNoDate);
  p->setSpecialValueText("(no date)");
  p->setDate(kNoDate);
  p->calendarWidget()->installEventFilter(new CalendarOnToday(p));
  return p;
}

// Every search row as the study record the window keeps for it.
const StudyInfo& StudyFromRecord(const StudyInfo& study) { return study; }
StudyInfo StudyFromRecord(const TWorklistItem& item) { return StudyFromWorklist(item); }

std::string Now(const char* format) {
  QString s = QDateTime::currentDateTime().toString(QString::fromLatin1(format));
  return s.toStdString();
}

}  // namespace

const char* ModalityOfIndex(int index) { return index >= 0 && index < kModalityCount ? kModalityList[index] : ""; }

// The window's labels and buttons with their captions; those marked are read again from the label
// file (section "MainForm", the control's name as key) each time the window is created.
struct TForm1::Caption {
  std::variant<QLabel* TForm1::*, QPushButton* TForm1::*> member;
  const char* name;
  const char* text;
  bool fromLabelFile;
};

std::span<const TForm1::Caption> TForm1::Captions() {
  static const Caption kCaptions[] = {
      {&TForm1::PatientIDLbl, "PatientIDLbl", "Patient ID", true},
      {&TForm1::PatientNameLbl, "PatientNameLbl", "Patient Name", true},
      {&TForm1::PatientBDLbl, "PatientBDLbl", "Patient BD", true},
      {&TForm1::StudyDescriptionLbl, "StudyDescriptionLbl", "Study Description", true},
      {&TForm1::SexLbl, "SexLbl", "Sex", false},
      {&TForm1::ModalityLbl, "ModalityLbl", "Modality", false},
      {&TForm1::StudyDateLbl, "StudyDateLbl", "Study Date", false},
      {&TForm1::SearchPACSBtn, "SearchPACSBtn", "Search PACS", true},
      {&TForm1::SearchWLBtn, "SearchWLBtn", "Search WL", true},
      {&TForm1::ClearBtn, "ClearBtn", "Clear", true},
      {&TForm1::SetupBtn, "SetupBtn", "Setup", true},
      {&TForm1::AddDocBtn, "AddDocBtn", "Add Doc", true},
      {&TForm1::AddPDFBtn, "AddPDFBtn", "Add PDF", true},
      {&TForm1::ScanBtn, "ScanBtn", "Scan", true},
      {&TForm1::AboutBtn, "AboutBtn", "About", true},
      {&TForm1::EndBtn, "EndBtn", "End", true},
  };
  return kCaptions;
}

TForm1::TForm1(const std::string& exePath, QWidget* parent) : QWidget(parent), exePath_(exePath) {
  setObjectName("Form1");
  // Qt's usual ownership: the controls belong to the window through its layouts.
  for (const Caption& c : Captions()) {
    std::visit(
        [&](auto member) {
          using Widget = std::remove_pointer_t<std::remove_reference_t<decltype(this->*member)>>;
          auto* w = new Widget(QString::fromLatin1(c.text));
          w->setObjectName(QString::fromLatin1(c.name));
          this->*member = w;
        },
        c.member);
  }
  Edit1 = new QLineEdit;
  Edit1->setObjectName("Edit1");
  Edit2 = new QLineEdit;
  Edit2->setObjectName("Edit2");
  Edit6 = new QLineEdit;
  Edit6->setObjectName("Edit6");
  DateTimePicker1 = MakeBirthDatePicker("DateTimePicker1");
  DateTimePicker2 = MakePicker("DateTimePicker2");
  ComboBox1 = new QComboBox;
  ComboBox1->setObjectName("ComboBox1");
  ComboBox1->setEditable(true);
  ComboBox1->setInsertPolicy(QComboBox::NoInsert);
  for (const char* m : kModalityList) ComboBox1->addItem(QString::fromLatin1(m));
  ComboBox1->setCurrentIndex(-1);
  ComboBox1->setEditText("ALL");
  // The sex of a typed-in patient: unknown (empty) unless chosen.
  SexBox = new QComboBox;
  SexBox->setObjectName("SexBox");
  SexBox->addItems({"", "F", "M", "O"});
  // The labels name their fields for screen readers and desktop automation.
  PatientIDLbl->setBuddy(Edit1);
  PatientNameLbl->setBuddy(Edit2);
  PatientBDLbl->setBuddy(DateTimePicker1);
  ModalityLbl->setBuddy(ComboBox1);
  SexLbl->setBuddy(SexBox);
  StudyDateLbl->setBuddy(DateTimePicker2);
  StudyDescriptionLbl->setBuddy(Edit6);
  for (auto [w, name] : {std::pair<QWidget*, const char*>{Edit1, "Patient ID"}, {Edit2, "Patient Name"},
                         {DateTimePicker1, "Patient BD"}, {SexBox, "Sex"}, {ComboBox1, "Modality"},
                         {DateTimePicker2, "Study Date"},
                         {Edit6, "Study Description"}})
    w->setAccessibleName(QString::fromLatin1(name));
  OutboxBtn = new QPushButton;
  OutboxBtn->setObjectName("OutboxBtn");
  OutboxBtn->hide();
  setAcceptDrops(true);

  results_ = new ResultTableModel(this);
  StringGrid1 = new QTableView;
  StringGrid1->setObjectName("StringGrid1");
  StringGrid1->setModel(results_);
  StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
  StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
  StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGrid1->verticalHeader()->hide();
  StringGrid1->horizontalHeader()->setStretchLastSection(false);
  StringGrid1->setWordWrap(false);
  StringGrid1->setAccessibleName("Search results");

  // Three rows of label and field pairs; the window never gets narrower than they need.
  auto* fields = new QGridLayout;
  fields->addWidget(PatientIDLbl, 0, 0);
  fields->addWidget(Edit1, 0, 1);
  fields->addWidget(PatientNameLbl, 0, 2);
  fields->addWidget(Edit2, 0, 3, 1, 3);
  fields->addWidget(PatientBDLbl, 1, 0);
  fields->addWidget(DateTimePicker1, 1, 1);
  fields->addWidget(SexLbl, 1, 2);
  fields->addWidget(SexBox, 1, 3);
  fields->addWidget(ModalityLbl, 1, 4);
  fields->addWidget(ComboBox1, 1, 5);
  fields->addWidget(StudyDateLbl, 2, 0);
  fields->addWidget(DateTimePicker2, 2, 1);
  fields->addWidget(StudyDescriptionLbl, 2, 2);
  fields->addWidget(Edit6, 2, 3, 1, 3);
  fields->setColumnStretch(1, 1);
  fields->setColumnStretch(5, 2);
  auto* searches = new QVBoxLayout;
  for (QPushButton* b : {SearchPACSBtn, SearchWLBtn, ClearBtn, SetupBtn}) searches->addWidget(b);
  auto* topRow = new QHBoxLayout;
  topRow->addLayout(fields, 1);
  topRow->addLayout(searches);
  auto* bottomRow = new QHBoxLayout;
  for (QPushButton* b : {AddDocBtn, AddPDFBtn, ScanBtn}) bottomRow->addWidget(b);
  bottomRow->addWidget(OutboxBtn);
  bottomRow->addStretch();
  bottomRow->addWidget(AboutBtn);
  bottomRow->addWidget(EndBtn);
  auto* top = new QVBoxLayout(this);
  top->addLayout(topRow);
  top->addWidget(StringGrid1, 1);
  top->addLayout(bottomRow);
  resize(860, 520);

  const std::pair<QPushButton*, void (TForm1::*)()> handlers[] = {
      {SearchPACSBtn, &TForm1::SearchPACSBtnClick}, {SearchWLBtn, &TForm1::SearchWLBtnClick},
      {ClearBtn, &TForm1::ClearBtnClick},           {SetupBtn, &TForm1::SetupBtnClick},
      {AboutBtn, &TForm1::AboutBtnClick},           {EndBtn, &TForm1::EndBtnClick},
      {AddPDFBtn, &TForm1::AddPDFBtnClick},         {AddDocBtn, &TForm1::AddDocBtnClick},
      {ScanBtn, &TForm1::ScanBtnClick},             {OutboxBtn, &TForm1::OutboxBtnClick}};
  for (const auto& [button, handler] : handlers) connect(button, &QPushButton::clicked, this, handler);
  connect(&work_, &BackgroundWork::StateChanged, this, &TForm1::UpdateButtons);
  connect(&work_, &BackgroundWork::Finished, this, [this] {
    if (std::exchange(closeWhenIdle_, false)) close();
  });
  FormCreate();
}

void TForm1::FormCreate() {
  IniFile labels;
  labels.Load(LabelFilePath(exePath_));  // a missing file gives every default
  auto label = [&](const char* key, const char* def) {
    return ToQ(labels.ReadString("MainForm", key, def));
  };
  for (const Caption& c : Captions()) {
    if (!c.fromLabelFile) continue;
    std::visit([&](auto member) { (this->*member)->setText(label(c.name, c.text)); }, c.member);
  }
  QStringList headers;
  for (const Column& c : kColumns) headers << label(c.key, c.header);
  results_->SetHeaders(headers);
  // The widths of the label file's layout, widened where a header, or a birth date, would not show
  // whole.
  const int date = StringGrid1->fontMetrics().horizontalAdvance("00/00/0000") + 12;
  for (int i = 0; i < 7; ++i)
    StringGrid1->setColumnWidth(i, std::max({kColumns[i].width, StringGrid1->horizontalHeader()->sectionSizeHint(i),
                                             i == 3 ? date : 0}));

  setWindowTitle("Scrivara - " + ToQ(GetVersionText(exePath_)));
  const QDateTime now = QDateTime::currentDateTime();
  DateTimePicker2->setDateTime(now);
  // Ownership of the event passes to the event queue.
  QCoreApplication::postEvent(this, new QEvent(kStartupEvent));
}

bool TForm1::event(QEvent* e) {
  if (e->type() == kStartupEvent) {
    OnStartup();
    return true;
  }
  return QWidget::event(e);
}

void TForm1::OnStartup() {
  StartProgramFolders(exePath_);
  audit::ApplicationStart();
  KeepAbandonedObjects();  // what runs that ended without sending left behind
  UpdateOutboxButton();    // what earlier runs kept

  if (!CommandLineText.empty()) {
    setWindowTitle(windowTitle() + " - " + QFile::decodeName(QByteArray::fromStdString(CommandLineText)));
    // The extension of the last path component, compared case-sensitively.
    size_t slash = CommandLineText.rfind('/');
    std::string last = slash == std::string::npos ? CommandLineText : CommandLineText.substr(slash + 1);
    size_t dot = last.rfind('.');
    commandLineExtension_ = dot == std::string::npos ? "" : last.substr(dot);
    UpdateButtons();
  }
}

void TForm1::closeEvent(QCloseEvent* e) {
  if (work_.Busy()) {  // the search or the outbox send ends first; then the window closes
    closeWhenIdle_ = true;
    e->ignore();
    return;
  }
  audit::ApplicationStop();
  EndProgramFolders();
  CloseLog();  // FormClose
  QWidget::closeEvent(e);
}

QueryFields TForm1::SearchFields() const {
  QueryFields f;
  f.PatientName = Edit2->text().toStdString();
  f.PatientID = Edit1->text().toStdString();
  f.StudyDescription = Edit6->text().toStdString();
  f.StudyDate = DateTimePicker2->date().toString("yyyyMMdd").toStdString();
  f.ModalityIndex = ModalityIndex();
  return f;
}

template <class Record, class Search>
void TForm1::RunSearch(const AssociationTarget& target, Search search) {
  if (work_.Busy()) return;
  BeginResults();
  const QueryFields fields = SearchFields();
  auto order = std::make_shared<std::vector<size_t>>();
  work_.Start(BackgroundWork::State::Searching, [this, target, fields, search, order](const BackgroundWork::Run& run) {
    // Rows go to the list in groups: every 200 rows or 50 ms, whichever comes first. Their order
    // by name is worked out here too, so that the window only puts them in it.
    using Clock = std::chrono::steady_clock;
    std::vector<StudyInfo> studies;
    std::vector<ResultRow> rows, all;
    auto sent = Clock::now();
    auto hand = [&] {
      if (studies.empty()) return;
      run.Post([this, studies = std::move(studies), rows = std::move(rows)]() mutable {
        AddResults(std::move(studies), std::move(rows));
      });
      studies.clear();
      rows.clear();
      sent = Clock::now();
    };
    search(fields, target, [&](const Record& record) {
      studies.push_back(StudyFromRecord(record));
      rows.push_back(StudyResultRow(studies.back()));
      all.push_back(rows.back());
      if (rows.size() >= 200 || Clock::now() - sent > std::chrono::milliseconds(50)) hand();
    });
    hand();
    *order = SortedRowOrder(all);
  }, [this, order] { EndResults(*order); });
}

void TForm1::SearchPACSBtnClick() {
  RunSearch<StudyInfo>(PacsTarget(setupcfg), [](const QueryFields& f, const AssociationTarget& t, const StudyRowSink& row) {
    SearchStudies(f, t, row, {});
  });
}

void TForm1::SearchWLBtnClick() {
  RunSearch<TWorklistItem>(WorklistTarget(setupcfg),
                           [](const QueryFields& f, const AssociationTarget& t, const WorklistRowSink& row) {
                             SearchWorklist(f, t, row, {});
                           });
}

void TForm1::UpdateButtons() {
  const bool idle = !work_.Busy();
  for (QPushButton* b : {SearchPACSBtn, SearchWLBtn, ClearBtn, SetupBtn, AddDocBtn, AddPDFBtn, ScanBtn, OutboxBtn})
    b->setEnabled(idle);
  // A document on the command line leaves only its own conversion button.
  if (commandLineExtension_ == ".pdf") AddDocBtn->setEnabled(false);
  if (commandLineExtension_ == ".doc") AddPDFBtn->setEnabled(false);
  setAcceptDrops(idle);
}

void TForm1::ClearBtnClick() {
  Edit1->clear();
  DateTimePicker1->setDate(kNoDate);
  Edit2->clear();
  Edit6->clear();
  SexBox->setCurrentIndex(0);
  results_->Clear();
  rowStudies_.clear();
  ComboBox1->setCurrentIndex(-1);
  ComboBox1->setEditText("");
  DateTimePicker2->setDateTime(QDateTime::currentDateTime());
  CurrentStudy.Clear();
}

void TForm1::SetupBtnClick() {
  if (setupForm_) Dialogs().ShowModal(setupForm_);
}

void TForm1::AboutBtnClick() {
  Dialogs().ShowMessage(this, "Scrivara V" + ToQ(GetVersionText(exePath_)) +
                                  "\n\rDICOM Converter\n\rhttps://scrivara.example\n\n" +
                                  QString::fromStdString(FoldersDescription()));
}

void TForm1::EndBtnClick() { close(); }

int TForm1::ModalityIndex() const {
  int i = ComboBox1->currentIndex();
  return i >= 0 && ComboBox1->currentText() == ComboBox1->itemText(i) ? i : -1;
}

bool TForm1::FillCurrentStudy(Conversion kind) {
  const int row = SelectedRow();
  StudyInfo study;
  if (!Cell(0, row).isEmpty() && size_t(row - 1) < rowStudies_.size()) {
    // A result row: its values as the server sent them, in its character set.
    const StudyInfo& picked = rowStudies_[size_t(row - 1)];
    study.PatientName = picked.PatientName;
    study.PatientID = picked.PatientID;
    study.PatientSex = picked.PatientSex;
    study.PatientBirthDate = picked.PatientBirthDate;
    study.StudyDescription = picked.StudyDescription;
    study.AccessionNumber = picked.AccessionNumber;
    study.StudyInstanceUID = picked.StudyInstanceUID;
    study.SpecificCharacterSet = picked.SpecificCharacterSet;
  } else {
    // Typed in: the sex as chosen (empty: unknown, never guessed). Study Instance UID and Accession
    // Number keep their values.
    study.PatientID = Edit1->text().toStdString();
    study.PatientSex = SexBox->currentText().toStdString();
    study.PatientName = Edit2->text().toStdString();
    // Written only when one was chosen: an untouched picker is no birth date, not today's.
    if (DateTimePicker1->date() != kNoDate)
      study.PatientBirthDate = DateTimePicker1->date().toString("yyyyMMdd").toStdString();
    study.StudyDescription = Edit6->text().toStdString();
    study.StudyInstanceUID = StudyText(CurrentStudy, &StudyInfo::StudyInstanceUID);
    study.AccessionNumber = StudyText(CurrentStudy, &StudyInfo::AccessionNumber);
    EncodeTypedStudy(study);
  }
  study.StudyDate = Now("yyyyMMdd");
  study.StudyTime = Now("HHmmss");
  if (kind == Conversion::Scan) {
    const char* m = ModalityOfIndex(ModalityIndex());
    study.ModalitiesInStudy = *m ? m : "OT";
  }
  SetStudyText(study, &StudyInfo::InstitutionName, Cp1252ToUtf8(setupcfg.InstitutionName));
  CurrentStudy = std::move(study);
  if (CurrentStudy.PatientName.empty()) {
    Dialogs().ShowMessage(this, "Patient Name can't be empty");
    return false;
  }
  if (CurrentStudy.PatientID.empty()) {
    Dialogs().ShowMessage(this, "Patient ID can't be empty");
    return false;
  }
  if (CurrentStudy.AccessionNumber.empty()) {
    // Unique among every program of this installation, so that two windows (or a window and the
    // command line) never give two patients one accession number.
    CurrentStudy.AccessionNumber = NextAccessionNumber(Now("yyMMddHHmm"), AccessionCounter);
  }
  return true;
}

void TForm1::SetConversionForms(TPDFForm* pdf, TMainForm* report, TAcquisitionForm* acquisition) {
  pdfForm_ = pdf;
  reportForm_ = report;
  acquisitionForm_ = acquisition;
  if (pdfForm_) connect(pdfForm_, &TPDFForm::OutboxChanged, this, &TForm1::UpdateOutboxButton);
  if (reportForm_) connect(reportForm_, &TMainForm::OutboxChanged, this, &TForm1::UpdateOutboxButton);
  if (acquisitionForm_)
    connect(acquisitionForm_, &TAcquisitionForm::OutboxChanged, this, &TForm1::UpdateOutboxButton);
}

void TForm1::AddPDFBtnClick() {
  if (!FillCurrentStudy(Conversion::Pdf) || !pdfForm_) return;
  if (!CommandLineText.empty()) pdfForm_->PresetFile = PresetPdfFile();
  Dialogs().ShowModal(pdfForm_);
  UpdateOutboxButton();
}

void TForm1::AddDocBtnClick() {
  if (!FillCurrentStudy(Conversion::Doc) || !reportForm_) return;
  Dialogs().ShowModal(reportForm_);
  UpdateOutboxButton();
}

void TForm1::ScanBtnClick() {
  if (FillCurrentStudy(Conversion::Scan) && acquisitionForm_) Dialogs().ShowModal(acquisitionForm_);
}

void TForm1::AddPdfFiles(const std::vector<std::string>& pdfs) {
  if (pdfs.empty() || !FillCurrentStudy(Conversion::Pdf) || !pdfForm_) return;
  pdfForm_->PresetFiles = pdfs;
  Dialogs().ShowModal(pdfForm_);
  UpdateOutboxButton();
}

void TForm1::UpdateOutboxButton() {
  const size_t n = OutboxFiles().size();
  OutboxBtn->setText("Outbox (" + QString::number(n) + ")");
  OutboxBtn->setVisible(n > 0);
}

void TForm1::OutboxBtnClick() {
  if (work_.Busy()) return;
  if (OutboxBatch().empty()) {
    UpdateOutboxButton();
    return;
  }
  // One sender of the outbox at a time, across programs: each object is sent once.
  auto sender = std::make_shared<OutboxSender>();
  if (!sender->Claim(false)) {
    Dialogs().ShowMessage(this, "The outbox is being sent by another program. Please try again later.");
    return;
  }
  auto batch = std::make_shared<std::vector<BatchObject>>(OutboxBatch());  // what is left now
  AssociationTarget target = PacsTarget(setupcfg, kSendTimeout);
  target.messageDump = true;
  work_.Start(
      BackgroundWork::State::Sending,
      [batch, target, sender](const BackgroundWork::Run& run) {
        SendFromRun(run, *batch, target, [](size_t, const BatchObject&) {});
        ClearAccepted(*batch);
      },
      [this, batch, sender]() mutable {
        sender.reset();  // the claim ends with the send
        UpdateOutboxButton();
        ShowSendResult(this, *batch);
      });
}

void TForm1::dragEnterEvent(QDragEnterEvent* e) {
  if (e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* e) {
  e->acceptProposedAction();
  std::vector<std::string> pdfs;
  if (DroppedPdfs(this, e->mimeData()->urls(), pdfs)) AddPdfFiles(pdfs);
}

std::string TForm1::PresetPdfFile() const { return ReplaceAll(CommandLineText, "\"", ""); }

int TForm1::RowCount() const { return std::max(2, results_->rowCount() + 1); }

QString TForm1::Cell(int col, int row) const {
  if (col < 0 || col >= kResultColumns) return QString();
  if (row == 0) return col < results_->Headers().size() ? results_->Headers()[col] : QString();
  const std::vector<ResultRow>& rows = results_->Rows();
  return row >= 1 && size_t(row) <= rows.size() ? QString::fromStdString(rows[size_t(row - 1)][size_t(col)]) : QString();
}

int TForm1::SelectedRow() const {
  const int r = StringGrid1->currentIndex().row();
  return r < 0 ? 1 : r + 1;
}

void TForm1::BeginResults() {
  results_->Clear();
  rowStudies_.clear();
}

void TForm1::AddResults(std::vector<StudyInfo> studies, std::vector<ResultRow> rows) {
  for (StudyInfo& s : studies) rowStudies_.push_back(std::move(s));
  results_->Append(std::move(rows));
}

void TForm1::AddResult(const StudyInfo& s) { AddResults({s}, {StudyResultRow(s)}); }

void TForm1::AddResult(const TWorklistItem& w) { AddResult(StudyFromWorklist(w)); }

void TForm1::EndResults() { EndResults(SortedRowOrder(results_->Rows())); }

void TForm1::EndResults(const std::vector<size_t>& order) {
  SortRows(order);
  // The first row decides the patient unless the operator picks another; an empty list shows none.
  if (results_->rowCount() > 0) StringGrid1->setCurrentIndex(results_->index(0, 0));
}

void TForm1::SortRows() { SortRows(SortedRowOrder(results_->Rows())); }

void TForm1::SortRows(const std::vector<size_t>& order) {
  if (order.size() != rowStudies_.size()) return;  // not an order of these rows
  std::vector<StudyInfo> studies;
  studies.reserve(order.size());
  for (size_t from : order) studies.push_back(std::move(rowStudies_[from]));
  rowStudies_ = std::move(studies);
  results_->Reorder(order);
}
