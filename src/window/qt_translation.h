#pragma once
// Qt's own texts (the standard buttons of message and input boxes, a text
// box's context menu) in Japanese, like everything else the window shows,
// whatever the user's locale.

#include <QLibraryInfo>
#include <QString>

class QTranslator;

namespace melodex {

// Loads Qt's Japanese translation from folder into translator. False, with
// the translator left empty, when the file is not there (Debian's
// qt6-translations-l10n is not installed): the buttons then stay English.
bool loadQtJapanese(
    QTranslator& translator, const QString& folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath));

} // namespace melodex
