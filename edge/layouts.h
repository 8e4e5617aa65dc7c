#pragma once
// Layout pieces the forms share.
#include <QHBoxLayout>
#include <QWidget>
#include <initializer_list>

// The row of a form's closing buttons: right-aligned, in the order given.
inline QHBoxLayout* ButtonRow(std::initializer_list<QWidget*> buttons) {
  auto* row = new QHBoxLayout;  // owned by the layout it is added to
  row->addStretch();
  for (QWidget* b : buttons) row->addWidget(b);
  return row;
}
