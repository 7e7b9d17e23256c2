#pragma once
// Qt's own texts (the standard buttons of message boxes, the context menus of text boxes)
// in Japanese, so they read as on a Japanese desktop, like every other text of the program.

class QCoreApplication;
class QTranslator;

namespace ostrel {

// Installs Qt's Japanese translation (qtbase_ja.qm from Qt's translations folder) into
// `app`, which owns it. nullptr when it cannot be loaded: Qt's texts then stay English.
QTranslator* InstallQtJapanese(QCoreApplication& app);

}  // namespace ostrel
