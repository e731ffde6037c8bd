#pragma once

// Names that stored files, users' copies of them, other copies of Parlavox and outside tools rely
// on. Each must stay byte for byte as it is, whatever the code calls the thing it names: the line
// beside it says who relies on it.

namespace stored {

// The interface-text files: CHS.txt/ENU.txt key each text by "window.control" (a window's own texts
// by "window"), so each window and control has its key here.
namespace mainWindow {
inline constexpr char kWindow[] = "TfrmSkype_Main"; // window key of CHS.txt/ENU.txt, which users keep copies of
inline constexpr char kLogo[] = "imgLogo"; // control key of CHS.txt/ENU.txt
inline constexpr char kPages[] = "MainPageControl"; // control key of CHS.txt/ENU.txt
inline constexpr char kFunctionPage[] = "FunctionSheet"; // control key of CHS.txt/ENU.txt
inline constexpr char kLanguageGroup[] = "grpTransLang"; // control key of CHS.txt/ENU.txt
inline constexpr char kSendLanguageLabel[] = "lblSendLang"; // control key of CHS.txt/ENU.txt
inline constexpr char kSendLanguageBox[] = "cbbSendLang"; // control key of CHS.txt/ENU.txt
inline constexpr char kReceiveLanguageLabel[] = "lblRecvLang"; // control key of CHS.txt/ENU.txt
inline constexpr char kReceiveLanguageBox[] = "cbbRecvLang"; // control key of CHS.txt/ENU.txt
inline constexpr char kOptionsPage[] = "SystemSetSheet"; // control key of CHS.txt/ENU.txt
inline constexpr char kConfirmCheck[] = "chkNeedConfirm"; // control key of CHS.txt/ENU.txt
inline constexpr char kReadAloudCheck[] = "chkAutoRead"; // control key of CHS.txt/ENU.txt
inline constexpr char kSaveHistoryCheck[] = "chkSaveHistory"; // control key of CHS.txt/ENU.txt
inline constexpr char kAboutPage[] = "AboutSheet"; // control key of CHS.txt/ENU.txt
inline constexpr char kEmailTitle[] = "lblEmailTitle"; // control key of CHS.txt/ENU.txt
inline constexpr char kEmailLabel[] = "lblEmail"; // control key of CHS.txt/ENU.txt
inline constexpr char kHomePageTitle[] = "lblHomePageTitle"; // control key of CHS.txt/ENU.txt
inline constexpr char kHomePageLabel[] = "lblHomePage"; // control key of CHS.txt/ENU.txt
inline constexpr char kVersionTitle[] = "lblVersion"; // control key of CHS.txt/ENU.txt
inline constexpr char kVersionLabel[] = "lblVersionStr"; // control key of CHS.txt/ENU.txt
inline constexpr char kStartButton[] = "btnStart"; // control key of CHS.txt/ENU.txt
inline constexpr char kStopButton[] = "btnStop"; // control key of CHS.txt/ENU.txt
inline constexpr char kExitButton[] = "btnExit"; // control key of CHS.txt/ENU.txt
inline constexpr char kLinkStateLabel[] = "lblLinkState"; // control key of CHS.txt/ENU.txt
inline constexpr char kTrackTimer[] = "tmrMain"; // control key of CHS.txt/ENU.txt
inline constexpr char kTrayIcon[] = "TntTrayIcon1"; // control key of CHS.txt/ENU.txt
inline constexpr char kTrayMenu[] = "pmTrayMenu"; // control key of CHS.txt/ENU.txt
inline constexpr char kShowWindowAction[] = "mniMainWindow"; // control key of CHS.txt/ENU.txt
inline constexpr char kExitAction[] = "mniExitApp"; // control key of CHS.txt/ENU.txt
inline constexpr char kInterfaceLanguageLabel[] = "lblInterfaceLang"; // control key of CHS.txt/ENU.txt
inline constexpr char kInterfaceLanguageBox[] = "cbbInterfaceLang"; // control key of CHS.txt/ENU.txt
inline constexpr char kServerPage[] = "ServerSheet"; // control key of CHS.txt/ENU.txt
inline constexpr char kServerTitle[] = "lblServerTitle"; // control key of CHS.txt/ENU.txt
inline constexpr char kServerUrlLabel[] = "lblServerUrl"; // control key of CHS.txt/ENU.txt
inline constexpr char kServerUrlBox[] = "edtServerUrl"; // control key of CHS.txt/ENU.txt
inline constexpr char kServerKeyLabel[] = "lblServerKey"; // control key of CHS.txt/ENU.txt
inline constexpr char kServerKeyBox[] = "edtServerKey"; // control key of CHS.txt/ENU.txt
inline constexpr char kTryServerButton[] = "btnTryServer"; // control key of CHS.txt/ENU.txt
inline constexpr char kSaveServerButton[] = "btnSaveServer"; // control key of CHS.txt/ENU.txt
inline constexpr char kServerResultLabel[] = "lblServerResult"; // control key of CHS.txt/ENU.txt
} // namespace mainWindow

namespace translatorWindow {
inline constexpr char kWindow[] = "TfrmSkype_Monitor"; // window key of CHS.txt/ENU.txt, which users keep copies of
inline constexpr char kContentPanel[] = "pnlContent"; // control key of CHS.txt/ENU.txt
inline constexpr char kReceivePane[] = "edtReceive"; // control key of CHS.txt/ENU.txt
inline constexpr char kStatusLabel[] = "lblStatus"; // control key of CHS.txt/ENU.txt
inline constexpr char kInputPanel[] = "pnlInput"; // control key of CHS.txt/ENU.txt
inline constexpr char kToolbar[] = "tlbMain"; // control key of CHS.txt/ENU.txt
inline constexpr char kSendLanguageButton[] = "btnSendLang"; // control key of CHS.txt/ENU.txt
inline constexpr char kReceiveLanguageButton[] = "btnRecvLang"; // control key of CHS.txt/ENU.txt
inline constexpr char kSendMethodButton[] = "btnSendMethod"; // control key of CHS.txt/ENU.txt
inline constexpr char kStopButton[] = "btnStopTranslate"; // control key of CHS.txt/ENU.txt
inline constexpr char kHistoryButton[] = "btnChatHistory"; // control key of CHS.txt/ENU.txt
inline constexpr char kSendPanel[] = "pnlSend"; // control key of CHS.txt/ENU.txt
inline constexpr char kInputBox[] = "edtInput"; // control key of CHS.txt/ENU.txt
inline constexpr char kSendButton[] = "btnSendMessage"; // control key of CHS.txt/ENU.txt
inline constexpr char kStartPanel[] = "pnlStart"; // control key of CHS.txt/ENU.txt
inline constexpr char kStartButton[] = "btnStartTranslate"; // control key of CHS.txt/ENU.txt
inline constexpr char kSendMethodMenu[] = "pmSendMethod"; // control key of CHS.txt/ENU.txt
inline constexpr char kTranslationOnlyAction[] = "mniSingle"; // control key of CHS.txt/ENU.txt
inline constexpr char kOriginalAndTranslationAction[] = "mniDouble"; // control key of CHS.txt/ENU.txt
inline constexpr char kSendLanguageMenu[] = "pmSendLang"; // control key of CHS.txt/ENU.txt
inline constexpr char kReceiveLanguageMenu[] = "pmRecvLang"; // control key of CHS.txt/ENU.txt
inline constexpr char kPaneMenu[] = "pmOperate"; // control key of CHS.txt/ENU.txt
inline constexpr char kClearAction[] = "mniClean"; // control key of CHS.txt/ENU.txt
inline constexpr char kSaveAsAction[] = "mniSaveAs"; // control key of CHS.txt/ENU.txt
inline constexpr char kSaveDialog[] = "dlgSave"; // control key of CHS.txt/ENU.txt
} // namespace translatorWindow

namespace confirmDialog {
inline constexpr char kWindow[] = "TfrmConfirm"; // window key of CHS.txt/ENU.txt, which users keep copies of
inline constexpr char kContentBox[] = "edtConfirmContent"; // control key of CHS.txt/ENU.txt
inline constexpr char kOkButton[] = "btnOk"; // control key of CHS.txt/ENU.txt
inline constexpr char kReasonLabel[] = "lblReason"; // control key of CHS.txt/ENU.txt
} // namespace confirmDialog

namespace viewerWindow {
inline constexpr char kWindow[] = "TfrmMessageViewer"; // window key of CHS.txt/ENU.txt, which users keep copies of
inline constexpr char kSearchBox[] = "edtSearch"; // control key of CHS.txt/ENU.txt
inline constexpr char kSearchButton[] = "btnSearch"; // control key of CHS.txt/ENU.txt
inline constexpr char kExportButton[] = "btnExport"; // control key of CHS.txt/ENU.txt
inline constexpr char kDayList[] = "lstDays"; // control key of CHS.txt/ENU.txt
inline constexpr char kHistoryPane[] = "edtHistory"; // control key of CHS.txt/ENU.txt
inline constexpr char kStatusLabel[] = "lblStatus"; // control key of CHS.txt/ENU.txt
inline constexpr char kExportDialog[] = "dlgExport"; // control key of CHS.txt/ENU.txt
} // namespace viewerWindow

// Message keys of CHS.ini/ENU.ini, spelling included: users keep copies of those files.
namespace message {
inline constexpr char kHintCaption[] = "HINT_CAPTION"; // key of CHS.ini/ENU.ini
inline constexpr char kBannerSubtitle[] = "BANNER_SUBTITLE"; // key of CHS.ini/ENU.ini
inline constexpr char kNoSendLanguage[] = "NOT_SELECT_SENDLANG"; // key of CHS.ini/ENU.ini
inline constexpr char kNoReceiveLanguage[] = "NOT_SELECT_RECVLANG"; // key of CHS.ini/ENU.ini
inline constexpr char kNoChatClient[] = "SKYPE_NOT_INSTALL"; // key of CHS.ini/ENU.ini
inline constexpr char kTrayBalloonCaption[] = "TRAYINCON_BALLOON_CAPTION"; // key of CHS.ini/ENU.ini
inline constexpr char kTrayBalloonContent[] = "TRAYINCON_BALLOON_CONTENT"; // key of CHS.ini/ENU.ini
inline constexpr char kMessageCannotEmpty[] = "MESSAGE_CANNOT_EMPTY"; // key of CHS.ini/ENU.ini
inline constexpr char kContentOverLength[] = "CONTENT_OVER_LENGTH"; // key of CHS.ini/ENU.ini
inline constexpr char kSayWord[] = "SAY_WORD"; // key of CHS.ini/ENU.ini
inline constexpr char kISay[] = "I_SAY"; // key of CHS.ini/ENU.ini
inline constexpr char kTranslateTimeout[] = "TANSLATE_TIMEOUT"; // key of CHS.ini/ENU.ini
inline constexpr char kPidginWaiting[] = "PIDGIN_WAITING"; // key of CHS.ini/ENU.ini
inline constexpr char kPidginNotStarted[] = "PIDGIN_NOT_STARTED"; // key of CHS.ini/ENU.ini
inline constexpr char kPidginGone[] = "PIDGIN_GONE"; // key of CHS.ini/ENU.ini
inline constexpr char kSendFailed[] = "SEND_FAILED"; // key of CHS.ini/ENU.ini
inline constexpr char kPidginTabsShared[] = "PIDGIN_TABS_SHARED"; // key of CHS.ini/ENU.ini
inline constexpr char kSaveFailed[] = "SAVE_FAILED"; // key of CHS.ini/ENU.ini
inline constexpr char kNoSoundDevice[] = "NO_SOUND_DEVICE"; // key of CHS.ini/ENU.ini
inline constexpr char kViewerNoHistory[] = "VIEWER_NO_HISTORY"; // key of CHS.ini/ENU.ini
inline constexpr char kViewerUnreadable[] = "VIEWER_UNREADABLE"; // key of CHS.ini/ENU.ini
inline constexpr char kViewerFound[] = "VIEWER_FOUND"; // key of CHS.ini/ENU.ini
inline constexpr char kViewerExportFailed[] = "VIEWER_EXPORT_FAILED"; // key of CHS.ini/ENU.ini
inline constexpr char kViewerLoading[] = "VIEWER_LOADING"; // key of CHS.ini/ENU.ini
inline constexpr char kViewerSearching[] = "VIEWER_SEARCHING"; // key of CHS.ini/ENU.ini
inline constexpr char kHistoryWriteFailed[] = "HISTORY_WRITE_FAILED"; // key of CHS.ini/ENU.ini
inline constexpr char kHistoryInvalidDate[] = "HISTORY_INVALID_DATE"; // key of CHS.ini/ENU.ini
inline constexpr char kHistoryNulInName[] = "HISTORY_NUL_IN_NAME"; // key of CHS.ini/ENU.ini
inline constexpr char kHistoryNoFolder[] = "HISTORY_NO_FOLDER"; // key of CHS.ini/ENU.ini
inline constexpr char kHistoryShortWrite[] = "HISTORY_SHORT_WRITE"; // key of CHS.ini/ENU.ini
inline constexpr char kHistoryPartLeft[] = "HISTORY_PART_LEFT"; // key of CHS.ini/ENU.ini
inline constexpr char kTranslateNoPair[] = "TRANSLATE_NO_PAIR"; // key of CHS.ini/ENU.ini
inline constexpr char kTranslateServiceDown[] = "TRANSLATE_SERVICE_DOWN"; // key of CHS.ini/ENU.ini
inline constexpr char kTranslateServerDown[] = "TRANSLATE_SERVER_DOWN"; // key of CHS.ini/ENU.ini
inline constexpr char kTranslateNoAnswer[] = "TRANSLATE_NO_ANSWER"; // key of CHS.ini/ENU.ini
inline constexpr char kDetectedLanguage[] = "DETECTED_LANGUAGE"; // key of CHS.ini/ENU.ini
inline constexpr char kServerTrying[] = "SERVER_TRYING"; // key of CHS.ini/ENU.ini
inline constexpr char kServerLanguages[] = "SERVER_LANGUAGES"; // key of CHS.ini/ENU.ini
inline constexpr char kServerNoCatalogueLanguage[] = "SERVER_NO_CATALOGUE_LANGUAGE"; // key of CHS.ini/ENU.ini
inline constexpr char kServerTryFailed[] = "SERVER_TRY_FAILED"; // key of CHS.ini/ENU.ini
inline constexpr char kServerBadAddress[] = "SERVER_BAD_ADDRESS"; // key of CHS.ini/ENU.ini
inline constexpr char kServerSaved[] = "SERVER_SAVED"; // key of CHS.ini/ENU.ini
inline constexpr char kServerCleared[] = "SERVER_CLEARED"; // key of CHS.ini/ENU.ini
inline constexpr char kServerSaveFailed[] = "SERVER_SAVE_FAILED"; // key of CHS.ini/ENU.ini
inline constexpr char kLanguageUnreachable[] = "LANGUAGE_UNREACHABLE"; // key of CHS.ini/ENU.ini
inline constexpr char kLanguageUnreachableHint[] = "LANGUAGE_UNREACHABLE_HINT"; // key of CHS.ini/ENU.ini
} // namespace message

// The files of an interface language, read beside the program or from the user's copies.
namespace languageFiles {
inline constexpr char kChineseTexts[] = "CHS.txt"; // users keep copies under this name
inline constexpr char kChineseMessages[] = "CHS.ini"; // users keep copies under this name
inline constexpr char kChineseCatalogue[] = "LangsCN.ini"; // users keep copies under this name
inline constexpr char kEnglishTexts[] = "ENU.txt"; // users keep copies under this name
inline constexpr char kEnglishMessages[] = "ENU.ini"; // users keep copies under this name
inline constexpr char kEnglishCatalogue[] = "LangsEn.ini"; // users keep copies under this name
} // namespace languageFiles

// The settings file.
namespace settings {
inline constexpr char kFileName[] = "ConfigEN.ini"; // users' settings are kept under this name
inline constexpr char kSection[] = "Option"; // the section users' settings files have
inline constexpr char kTimeOut[] = "TimeOut"; // key in users' settings files
inline constexpr char kTranslateMode[] = "TranslateMode"; // key in users' settings files
inline constexpr char kSendMessageMode[] = "SendMessageMode"; // key in users' settings files
inline constexpr char kSendIndex[] = "SendIndex"; // key in users' settings files
inline constexpr char kRecvIndex[] = "RecvIndex"; // key in users' settings files
inline constexpr char kLangIndex[] = "LangIndex"; // key in users' settings files
// The language each partner writes in, beside the settings: users' files carry these names.
inline constexpr char kPartnerLanguagesFileName[] = "PartnerLanguages.ini";
inline constexpr char kPartnerLanguagesSection[] = "Partners";
inline constexpr char kConfirmBeforeSending[] = "NeedConfirm"; // key in users' settings files
inline constexpr char kReadAloud[] = "AutoRead"; // key in users' settings files
inline constexpr char kSaveHistory[] = "SaveHistory"; // key in users' settings files
} // namespace settings

// The service's settings file, which the program writes and the service reads again whenever it
// changes: both, and users editing it by hand, rely on these names.
namespace serviceSettings {
inline constexpr char kFileName[] = "parlavox-service.ini"; // the service looks for this name
inline constexpr char kUrl[] = "Forward/Url"; // key the service reads
inline constexpr char kApiKey[] = "Forward/ApiKey"; // key the service reads
} // namespace serviceSettings

// The history layout: History/<partner>/<date>.dat, written by the translator windows and read by
// the history viewer.
namespace history {
inline constexpr char kFolder[] = "History"; // users' histories are kept in this folder
inline constexpr char kDateFormat[] = "yyyy-MM-dd"; // day files and entries of users' histories
inline constexpr char kFileSuffix[] = ".dat"; // the day files of users' histories
} // namespace history

// The executables, as the package installs them and as they start each other.
namespace program {
inline constexpr char kMain[] = "parlavox"; // the command users and menus start; names their XDG folders
inline constexpr char kService[] = "parlavox-service"; // started by its name beside the program
inline constexpr char kViewer[] = "MessageViewer"; // started by its name beside the program
// The service's Unix socket in the user's private folder: the program, the scripts and a service
// started by either find one another by this name.
inline constexpr char kServiceSocket[] = "parlavox-service.sock";
} // namespace program

// What other copies of Parlavox and outside tools find the windows by.
namespace x11 {
inline constexpr char kInstanceName[] = "parlavox"; // instance part of our windows' WM_CLASS
inline constexpr char kApplicationClass[] = "Parlavox.TApplication"; // a second copy finds the first by it
inline constexpr char kApplicationObject[] = "TApplication"; // the hidden application window's name
inline constexpr char kTranslatorWindowClass[] = "TfrmSkype_Monitor.UnicodeClass"; // docked windows are found by it
inline constexpr char kMainWindowTitle[] = "Parlavox"; // the main window is found by its title
inline constexpr char kSingleInstanceRecord[] = "{4F565A7A-F39C-4445-9605-95F08387E983}"; // shared by all copies
} // namespace x11

} // namespace stored
