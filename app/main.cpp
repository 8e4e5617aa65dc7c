// Program entry: the window system, the command line, the six forms, the message loop.
#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "app/dicom10.h"
#include "core/config.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  CommandLineText = CommandLineFromArgs(argc, argv);
  try {
    AppForms forms = CreateForms(ExecutablePath());
    forms.Form1->show();
    app.exec();  // the forms are released in reverse order of creation, the main window last
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, "Scrivara", QString::fromLocal8Bit(e.what()));
  }
  return 0;
}
