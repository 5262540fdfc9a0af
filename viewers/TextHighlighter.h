// Colours for the text modders edit by hand: console configs (.cfg, .rc), QuakeC (.qc, .qh)
// and entity text (.ent, .map). Only colour: the text itself is never touched.
#pragma once

#include <QString>

class QTextDocument;

namespace tarn::viewers {

enum class TextSyntax { Plain, Config, QuakeC, Entities };

// By the name's extension; Plain for any other.
TextSyntax SyntaxOf(const QString& name);

// Colours document by syntax from now on (nothing for Plain); the colouring goes with it.
void Highlight(QTextDocument* document, TextSyntax syntax);

}  // namespace tarn::viewers
