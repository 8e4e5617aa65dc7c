#pragma once
// The styled-text model (convert/rtf.h) to and from the editor's QTextDocument.
#include <QTextDocument>

#include "convert/rtf.h"

// Replaces the document's content with the text: one block per paragraph with its alignment, one
// fragment per run with its look; a line break inside a paragraph becomes a line separator.
void ToDocument(const StyledText& text, QTextDocument& document);

// The document as styled text; a run in the document's default family has font "".
StyledText FromDocument(const QTextDocument& document);
