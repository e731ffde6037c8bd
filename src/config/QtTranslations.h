#pragma once

// Qt's own texts (file dialogs, standard buttons, their questions) in the interface language:
// 0 Chinese, 1 English. Switching replaces the translator installed before; English needs none.
void UseQtTranslationsFor(int interfaceLanguage);
