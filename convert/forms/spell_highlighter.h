#pragma once
// Misspelt words of the editor's document underlined with a red wave, as they are typed.
#include <QSyntaxHighlighter>

class SpellChecker;

class SpellHighlighter : public QSyntaxHighlighter {
 public:
  SpellHighlighter(QTextDocument* document, const SpellChecker& checker);
  // The words of a text as the highlighter sees them: start and length of each.
  static QList<QPair<int, int>> Words(const QString& text);

 protected:
  void highlightBlock(const QString& text) override;

 private:
  const SpellChecker& checker_;
};
