#include "core/localized_messages.h"

#include <gtest/gtest.h>

#include <array>
#include <string_view>

#include "core/errors.h"

namespace vtl {
namespace {

TEST(LocalizedMessages, LanguageIsChosenByExactCode) {
  struct Case {
    const char* code;
    int index;
    std::string_view expected;
  };
  const std::vector<Case> cases = {
      {"de", kMsgNotAnApplication, "Dies ist keine gültige Windows-Anwendung."},
      {"de", kMsgErrorCaption, "Error"},
      {"de", kMsgAccept, "Akzeptieren"},
      {"es", kMsgErrorCaption, "Error"},
      {"fr", kMsgAccept, "J'accepte"},
      {"it", kMsgCancel, "Annulla"},
      {"zh", kMsgConfirmCaption, "确认"},
      {"pt", kMsgNotAnApplication, "This is not a valid Windows application."},
      {"", kMsgDeclined, "This application cannot continue and will be closed now."},
      {"DE", kMsgAccept, "Accept"},  // codes compare exactly
      {"de", kMsgLanguageCode, "de"},
      {"pt", kMsgLanguageCode, "en"},
  };
  for (const auto& c : cases) EXPECT_EQ(GetLocalizedMessage(c.index, c.code), c.expected) << c.code << c.index;
}

TEST(LocalizedMessages, TablesAreComplete) {
  ASSERT_EQ(TranslatedMessages().size(), 5u);
  const char* codes[] = {"es", "it", "de", "fr", "zh"};
  for (size_t t = 0; t < 5; ++t) {
    EXPECT_EQ(TranslatedMessages()[t][0], codes[t]);
    for (const auto& text : TranslatedMessages()[t]) EXPECT_FALSE(text.empty());
  }
}

// Every text of every language, word for word: a typo in any of them fails.
TEST(LocalizedMessages, EveryTextOfEveryLanguage) {
  struct Language {
    const char* code;
    std::array<std::string_view, 9> texts;  // messages 1 to 9
  };
  const Language languages[] = {
      {"en",
       {"Error",
        "Confirm",
        "Accept",
        "Cancel",
        "This is not a valid Windows application.",
        "The Microsoft WebView2 runtime is required to run this application. This application cannot continue and will be closed now.",
        "The Microsoft WebView2 runtime is required to run this application. Do you want to install it now?",
        "This application cannot continue and will be closed now.",
        "You cancel the installation of Microsoft WebView2 runtime, This application cannot continue and will be closed now."}},
      {"es",
       {"Error",
        "Confirmar",
        "Aceptar",
        "Cancelar",
        "Esta no es una aplicación de Windows válida.",
        "El Microsoft WebView2 runtime es necesario para esta aplicación. Esta aplicación no puede continuar y se cerrará ahora.",
        "El Microsoft WebView2 runtime es necesario para esta aplicación. ¿Quiere instalarlo ahora?",
        "Esta aplicación no puede continuar y se cerrará ahora.",
        "Ha cancelado la instalación de Microsoft WebView2 runtime. Esta aplicación no puede continuar y se cerrará ahora."}},
      {"it",
       {"Errore",
        "Confermare",
        "Accettare",
        "Annulla",
        "Questa non è un'applicazione Windows valida.",
        "Il runtime di Microsoft WebView2 è necessario per eseguire questa applicazione. Questa applicazione non può continuare e verrà chiusa ora.",
        "Il runtime di Microsoft WebView2 è necessario per eseguire questa applicazione. Vuoi installarlo ora?",
        "Questa applicazione non può continuare e verrà chiusa ora.",
        "Annulla l'installazione del runtime di Microsoft WebView2, questa applicazione non può continuare e verrà chiusa ora."}},
      {"de",
       {"Error",
        "Bestätigen",
        "Akzeptieren",
        "Stornieren",
        "Dies ist keine gültige Windows-Anwendung.",
        "Die Microsoft WebView2-Laufzeit ist erforderlich, um diese Anwendung auszuführen. Diese Anwendung kann nicht fortgesetzt werden und wird jetzt geschlossen.",
        "Die Microsoft WebView2-Laufzeit ist erforderlich, um diese Anwendung auszuführen. Möchten Sie es jetzt installieren?",
        "Diese Anwendung kann nicht fortgesetzt werden und wird jetzt geschlossen.",
        "Sie brechen die Installation der Microsoft WebView2-Laufzeit ab. Diese Anwendung kann nicht fortgesetzt werden und wird jetzt geschlossen."}},
      {"fr",
       {"Erreur",
        "Confirmer",
        "J'accepte",
        "Annuler",
        "Ce n'est pas une application Windows valide.",
        "Le runtime Microsoft WebView2 est requis pour exécuter cette application. Cette application ne peut pas continuer et sera fermée maintenant.",
        "Le runtime Microsoft WebView2 est requis pour exécuter cette application. Voulez-vous l'installer maintenant?",
        "Cette application ne peut pas continuer et sera fermée maintenant.",
        "Vous annulez l'installation du runtime Microsoft WebView2. Cette application ne peut pas continuer et sera fermée maintenant."}},
      {"zh",
       {"错误",
        "确认",
        "接受",
        "取消",
        "这不是有效的Windows应用程序。",
        "运行此应用程序需要Microsoft WebView2运行时。 该应用程序无法继续，将立即关闭。",
        "运行此应用程序需要Microsoft WebView2运行时。 您要立即安装吗？",
        "此应用程序无法继续，将立即关闭。",
        "您取消了Microsoft WebView2运行时的安装，此应用程序无法继续，将立即关闭。"}},
  };
  for (const Language& language : languages) {
    EXPECT_EQ(GetLocalizedMessage(kMsgLanguageCode, language.code), language.code);
    for (int index = 1; index <= 9; ++index)
      EXPECT_EQ(GetLocalizedMessage(index, language.code), language.texts[index - 1]) << language.code << " " << index;
  }
}

TEST(LocalizedMessages, IndexOutOfRangeRaises) {
  for (int index : {-1, 10, 1000}) {
    try {
      GetLocalizedMessage(index, "en");
      FAIL() << index;
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), "MessageIndex is out of range!");
    }
  }
}

}  // namespace
}  // namespace vtl
