#include "window/qt_translation.h"

#include <QTranslator>

namespace melodex {

bool loadQtJapanese(QTranslator& translator, const QString& folder)
{
    return translator.load(QStringLiteral("qtbase_ja"), folder);
}

} // namespace melodex
