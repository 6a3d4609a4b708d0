// The texts of Updater's service history (UTF-8): its view, the unit field
// beside the file and the status line when the history cannot be written.
#pragma once

#include "common/qt/history_view.h"

namespace updater::app {

// The program as the history names it.
inline constexpr const char* kHistoryProgram = "updater";
// An item of the "&Файл" menu.
inline constexpr const char* kHistoryItem = "&Журнал…";
// The label scanned from the receiver, recorded with each operation.
inline constexpr const char* kUnitLabel = "&Номер ресивера:";
// The status line, once in a run; %1 the history's own line.
inline constexpr const char* kHistoryWarningLine = "Журнал не записывается, операции идут без него: %1";

inline constexpr common::qt::HistoryTexts kHistoryTexts{
    .caption = "Журнал",
    .filterLabel = "&Фильтр:",
    .exportButton = "&Экспорт CSV…",
    .closeButton = "&Закрыть",
    .exportCaption = "Экспорт CSV",
    .exportFileName = "history.csv",
    .csvFilter = "Файлы CSV (*.csv)",
    .exported = "Записано строк: %1, файл %2.",
    .exportFailed = "Файл не записан:\n%1",
    .readFailed = "Журнал не прочитан: %1",
    .turnedOff = "Журнал выключен (RT_HISTORY=off).",
    .rowCaption = "Запись %1",
    .running = "выполняется",
    .resultWords = {"успешно", "ошибка", "отказ", "отклонено", "остановлено", "прервано"},
    .columns = {"№", "Начало", "Конец", "Длительность, мс", "Программа", "Версия", "Операция", "Режим", "Порт",
                "Устройство", "Адаптер", "Версия аппаратуры", "Версия ПО", "Файл", "Размер файла",
                "SHA-256 файла", "Результат", "Код выхода", "Сообщение", "Оператор", "Станция",
                "Номер ресивера"},
};

}  // namespace updater::app
