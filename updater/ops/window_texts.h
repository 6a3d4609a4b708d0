// The fixed texts of Updater's window (UTF-8), used exactly as written
// (blanks and spellings included).  The & marks a mnemonic.  The operations'
// own status lines and boxes are in updater/transport; the stop questions in
// updater/transport/stop_question.h.
#pragma once

namespace updater {

// The window and its boxes.
inline constexpr const char* kWindowCaption = "Q5100 Updater 1.00";
// Caption of the window's own message boxes: the program's name.
inline constexpr const char* kBoxCaption = "Updater";
inline constexpr const char* kBusyText = "Идет загрузка...       \nДля отмены нажмите кнопку [Стоп] ";
inline constexpr const char* kChooseFileText = "Выберите Файл.";
inline constexpr const char* kWrongFileText = "Не тот Файл!";
inline constexpr const char* kWaitLine = "Подождите .............";

// The mode label, by mode.
inline constexpr const char* kSendLabel = ">> Отправка настроек ";
inline constexpr const char* kReceiveLabel = ">> Получение настроек";
inline constexpr const char* kUpdateLabel = ">> Оюновление ПО ";
// The start button, by mode; its text before the first mode selection.
inline constexpr const char* kStartSend = "Запись";
inline constexpr const char* kStartReceive = "Получить";
inline constexpr const char* kStartUpdate = "Запись";
inline constexpr const char* kStartInitial = "&Отправить";
inline constexpr const char* kStopButton = "С&топ";

// The five lines that every mode selection puts in the status list.
inline constexpr const char* kPortLines[] = {" Скорость порта:115200", " Биты данных    :8 ", " Четность        :Нет",
                                             " Стоповые биты  :1  ", " Управление потоком:Нет"};

// The controls.
inline constexpr const char* kSoftwareGroup = " Программное обеспечение ";
inline constexpr const char* kUpdateRadio = "Обновление ПО";
inline constexpr const char* kUpdateRadioTip = "Обновить ПО Ресивера (*.wsw)";
inline constexpr const char* kSettingsGroup = "  Настройки каналов";
inline constexpr const char* kSendRadio = "Отправить настройки";
inline constexpr const char* kSendRadioTip = "Отправить настройки на Ресивер ";
inline constexpr const char* kReceiveRadio = "Получить настройки";
inline constexpr const char* kReceiveRadioTip = "Получить настройки от Ресивера ";
inline constexpr const char* kModelListTip = "Выбрать Ресивер";
// The model list: entry 0, entry 1, and the rest up to kModelEntries.
inline constexpr const char* kModelAvailable = " Available";
inline constexpr const char* kModelWrong = " Wrong Model";
inline constexpr const char* kModelNone = "  -------";
inline constexpr int kModelEntries = 11;
inline constexpr const char* kPortGroup = "COM Порт";
// The fixed texts of the port group: name and value.
inline constexpr const char* kLineSettings[][2] = {{"Скорость порта", " 115200"},
                                                   {"Биты данных", " 8"},
                                                   {"Четность", " Нет"},
                                                   {"Стоповые биты", " 1"},
                                                   {"Управление потоком", " Нет"}};
inline constexpr const char* kFileGroup = "Имя файла";
inline constexpr const char* kStatusListTip = "Показать состояние Ресивера.";
// The widest text the seconds field shows.
inline constexpr const char* kWidestSeconds = "100 Сек.";

// The file chooser: caption, and the filters of the settings and software
// modes (name, then "all files").
inline constexpr const char* kOpenCaption = "Открыть";
inline constexpr const char* kSettingsFilter = "wdb Файл(*.wdb)  :Настройки ";
inline constexpr const char* kSoftwareFilter = "wsw Файл(*.wsw)    : Обновление ПО ";
inline constexpr const char* kAllFilesSettings = "Все файлы     ";
inline constexpr const char* kAllFilesSoftware = "Все файлы    ";

// The menus.
inline constexpr const char* kFileMenu = "&Файл";
inline constexpr const char* kOpenItem = "&Открыть";
inline constexpr const char* kCloseItem = "&Закрыть";
inline constexpr const char* kSerialMenu = "&Последовательный порт";
inline constexpr const char* kPortMenu = "COM &Порт";
inline constexpr const char* kDeviceItem = "&Устройство…";
inline constexpr const char* kRateMenu = "&Скорость порта";
inline constexpr const char* kHelpMenu = "&Помощь";
inline constexpr const char* kAboutItem = "&О Программе ";
// The system menu's item; here the window's context menu.
inline constexpr const char* kInfoItem = "Updater Info.";

// The about box.
inline constexpr const char* kAboutCaption = "О Программе";
inline constexpr const char* kAboutText = "Q5100 Updater v1.00";
inline constexpr const char* kAboutBuild = "Сборка %1";  // this build's version (common/build_version.h)
inline constexpr const char* kAboutOk = "&OK";

// "Устройство…": the device behind the checked COM name (%1 its number).
inline constexpr const char* kDeviceCaption = "Устройство";
inline constexpr const char* kDeviceLabel = "Устройство для COM%1:";
inline constexpr const char* kDeviceFromEnvironment = "COM%1 задан переменной окружения COM%1 на время этого запуска.";
// The port field's tool tip: the device (%1), and the variable that names it (%2).
inline constexpr const char* kDeviceToolTip = "Устройство: %1";
inline constexpr const char* kDeviceToolTipEnvironment = "Устройство: %1 (переменная окружения %2)";
// Added to the reason of a port failure when other serial devices are
// present (%1: the COM name).
inline constexpr const char* kPortAdvice =
    "\n\nЕсть другие последовательные устройства: выберите одно для %1 в меню «Последовательный порт» > «COM "
    "Порт» > «Устройство…».";
inline constexpr const char* kPortAdviceEnvironment =
    "\n\nЕсть другие последовательные устройства: укажите одно из них в переменной окружения %1 или уберите её и "
    "выберите устройство в меню «Последовательный порт» > «COM Порт» > «Устройство…».";

}  // namespace updater
