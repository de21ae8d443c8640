#pragma once

#include <QLocale>

// Qt's own texts (the standard buttons "Да", "Нет", "Отмена", the file and message dialogs) in the
// operator's language, from the translations installed with Qt, or from "translations" beside the
// program. Replaces what an earlier call installed. False when there are none for that language: Qt
// then speaks English.
bool InstallQtTranslations(const QLocale& locale);
