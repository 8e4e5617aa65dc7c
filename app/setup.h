#pragma once
// The setup dialog: local AE title, institution, PACS and worklist connections, debug logging.
#include <QDialog>
#include <string>

#include "core/config.h"
#include "edge/background.h"

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLineEdit;
class QPushButton;
class QTabWidget;

class TSetupFrm : public QDialog {
  Q_OBJECT
 public:
  // exePath: the program file; the configuration file is scrivara.cfg beside it.
  explicit TSetupFrm(const std::string& exePath, QWidget* parent = nullptr);

  // OK: copies the fields into setupcfg and stores it; the dialog closes when the file was written.
  void BitBtn1Click();
  // Path of the configuration file this dialog reads and writes.
  const std::string& SetupFilePath() const { return cfgPath_; }

  // PACS and worklist "Test": C-ECHO with the local AE title of setupcfg and the tab's fields as
  // typed (TLS settings included), 10-second read time-out, on a worker thread (both buttons off
  // meanwhile); the outcome is shown in a message box, a failure with its reason on a second line.
  // A PACS reached over DICOMweb is tested with a QIDO-RS request; the box gives its HTTP status.
  void Button1Click();
  void Button2Click();

  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;

 private:
  void FormCreate();
  struct ServerControls {
    const char *aet, *host, *port, *test;
    const char* prefix;  // of the TLS controls' names: "Pacs", "Worklist"
  };
  // A server's TLS settings: "Use TLS", "CA file", "Client certificate", "Client key" (each file
  // with a "..." button to choose it) and "Check host name".
  struct TlsControls {
    QCheckBox* use = nullptr;
    QLineEdit *ca = nullptr, *certificate = nullptr, *key = nullptr;
    QCheckBox* hostCheck = nullptr;
  };
  void AddServerTab(const char* name, const char* caption, const ServerControls& names, const char* aet,
                    QLineEdit*& aetEdit, QLineEdit*& hostEdit, QLineEdit*& portEdit, QPushButton*& test,
                    TlsControls& tls);
  QLineEdit* AddFileRow(QFormLayout* form, const std::string& name, const char* label, const char* filter);
  // The PACS over DICOMweb: "Server type" (DIMSE or DICOMweb), "URL", "Authentication" (none, HTTP
  // basic, bearer token), "User", "Password" and "Token file"; each field is enabled only when it
  // applies.
  struct WebControls {
    QComboBox* type = nullptr;
    QLineEdit* url = nullptr;
    QComboBox* auth = nullptr;
    QLineEdit *user = nullptr, *password = nullptr, *tokenFile = nullptr;
  };
  void AddWebRows(QFormLayout* form);
  void UpdateEnabled();
  void ShowWeb(const DicomWebSettings& w);
  DicomWebSettings TypedWeb(DicomWebSettings saved) const;
  static void ShowTls(const TlsControls& c, const TlsSettings& t);
  static TlsSettings TypedTls(const TlsControls& c, TlsSettings saved);
  void CopyFieldsToSetup();
  void TestConnection(QLineEdit* aet, QLineEdit* host, QLineEdit* port, const TlsControls& tls,
                      const TlsSettings& saved);

  std::string cfgPath_;
  BackgroundWork work_;
  QTabWidget* PageControl1 = nullptr;
  QLineEdit *Edit4 = nullptr, *Edit7 = nullptr;                  // Local: AET, institution
  QCheckBox* CheckBox1 = nullptr;                                 // Local: debug logging
  QLineEdit *Edit5 = nullptr, *Edit2 = nullptr, *Edit3 = nullptr;  // PACS: AET, IP, port
  QLineEdit *Edit6 = nullptr, *Edit8 = nullptr, *Edit9 = nullptr;  // WL Server: AET, IP, port
  TlsControls pacsTls_, worklistTls_;
  WebControls web_;
  QPushButton *BitBtn1 = nullptr, *BitBtn2 = nullptr;
};
