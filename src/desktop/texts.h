#pragma once
// Every text the windows show, said once: the form descriptions and the window
// models take them from here, the front ends only put them on the screen.
// Texts the windows share with loopctl stay with the procedure they belong to:
// the search's ("Поиск", "Стоп", its messages) in search/search_procedure.h,
// the loop table's headings in loops/loop_layout.h, the readings' in
// loops/loop_decode.h and loops/reading_cycle.h.

#include <exception>
#include <string>

#include "transport/bus_state.h"

namespace loopmon::texts {

// Captions the information boxes of the reading and the boxes of the general
// error handler.
inline constexpr char ApplicationTitle[] = "Шлейфы MIVRA-QX";

// The main window.
inline constexpr char MainCaption[] = "Состояние шлейфов приборов:";
inline constexpr char NoDevice[] = "Прибор не выбран.";
inline constexpr char SearchHint[] = "Произвести поиск подключенных устройств";
inline constexpr char Read[] = "Считать";
inline constexpr char ReadHint[] = "Считать текущие значения сопротивлений ШС";
inline constexpr char AdcView[] = "АЦП";
inline constexpr char StateView[] = "ШС";
inline constexpr char ToolsHint[] = "Настройка значений сопротивлений";
inline constexpr char PeriodicHint[] =
    "Считывать значения сопротивлений ШС с установленным периодом";
inline constexpr char LoopHistoryItem[] = "История шлейфа...";

// The search dialog.
inline constexpr char SearchTitle[] = "Поиск приборов";
inline constexpr char Choose[] = "Выбрать";
inline constexpr char QuickSearch[] = "Быстрый поиск";
inline constexpr char Cancel[] = "Отмена";
inline constexpr char SerialPort[] = "Последовательный порт";

// The password dialog.
inline constexpr char PasswordTitle[] = "Запрос пароля";
inline constexpr char EnterPassword[] = "Введите пароль:";
inline constexpr char Ok[] = "Ok";

// The calibration dialog; "_1" is a subscript 1.
inline constexpr char CalibrationTitle[] = "Калибровка";
inline constexpr char DeviceType[] = "Тип прибора";
inline constexpr char DeviceVersion[] = "Версия прибора";
inline constexpr char Reference1[] = "R_1";
inline constexpr char Reference2[] = "R_2";
inline constexpr char KiloOhms[] = "кОм";
inline constexpr char Adc[] = "АЦП:";
inline constexpr char ReferenceOrder[] = "(R_1 < R_2)";
inline constexpr char Enter[] = "Ввод";
inline constexpr char CalibrationErrorCaption[] = "Error";
inline constexpr char UnsupportedType[] = "Введенный тип прибора неподдерживается";
inline constexpr char NoVersion[] = "Не введена версия прибора";

// A loop's history.
inline constexpr char HistoryTitle[] = "История шлейфа %1 — адрес %2";
inline constexpr char Minimum[] = "Минимум: ";
inline constexpr char Maximum[] = "Максимум: ";
inline constexpr char Moves[] = "Переходов: ";
inline constexpr char NoValue[] = "—";
inline constexpr char SaveCsv[] = "Сохранить CSV...";
inline constexpr char NoReadings[] = "Нет показаний";
inline constexpr char CsvFileName[] = "ШС %1, адрес %2.csv";
inline constexpr char SaveHistoryTitle[] = "Сохранить историю шлейфа";
inline constexpr char CsvFiles[] = "Файлы CSV (*.csv)";
inline constexpr char AllFiles[] = "Все файлы (*)";
inline constexpr char SaveFailed[] = "Не удалось сохранить файл %1: %2";

// The traffic window.
inline constexpr char TrafficTitle[] = "Обмен по шине";
inline constexpr char TrafficItem[] = "Обмен по шине...";
inline constexpr char AddressFilter[] = "Адрес:";
inline constexpr char Pause[] = "Пауза";
inline constexpr char Resume[] = "Продолжить";
inline constexpr char Clear[] = "Очистить";
inline constexpr char SaveText[] = "Сохранить...";
inline constexpr char TrafficFileName[] = "Обмен по шине.txt";
inline constexpr char SaveTrafficTitle[] = "Сохранить обмен по шине";
inline constexpr char TextFiles[] = "Текстовые файлы (*.txt)";
inline constexpr char SaveCapture[] = "Сохранить для Wireshark...";
inline constexpr char CaptureFileName[] = "Обмен по шине.pcapng";
inline constexpr char SaveCaptureTitle[] = "Сохранить обмен по шине для Wireshark";
inline constexpr char CaptureFiles[] = "Файлы Wireshark (*.pcapng)";

// The survey window and its record.
inline constexpr char SurveyItem[] = "Обход шины...";
inline constexpr char SurveyTitle[] = "Обход шины";
inline constexpr char Survey[] = "Обход";
inline constexpr char SiteLabel[] = "Объект:";
inline constexpr char CompareWith[] = "Сравнить с...";
inline constexpr char SurveyStarting[] = "Обход приборов, найденных поиском...";
inline constexpr char SurveyReading[] = "Прибор %1 из %2: ";
inline constexpr char SurveyStopped[] = "Обход остановлен: запись не составлена";
inline constexpr char SurveyFailed[] = "Обход прерван ошибкой: запись не составлена";
inline constexpr char SurveyDone[] = "Обход окончен: приборов %1, шлейфов %2";
inline constexpr char SurveyMessage[] = "Адрес %1, ШС %2: ";
inline constexpr char DevicesLabel[] = "Приборы:";
inline constexpr char ChangesLabel[] = "Изменения:";
inline constexpr char SurveyDevice[] = "Адрес %1, %2";
inline constexpr char SurveyDeviceLoops[] = " — ШС %1: ";
inline constexpr char SurveyOpenShort[] = "обрыв %1, КЗ %2, ";
inline constexpr char SurveyAlarmSilent[] = "тревога %1, нет ответа %2";
inline constexpr char SurveyNoLoops[] = " — без шлейфов";
// A device's message stands under its line in the list of devices.
inline constexpr char SurveyMessageIndent[] = "    ";
inline constexpr char ChangesSince[] = "Изменения с записи от %1: %2";
inline constexpr char NoChanges[] = "Изменений нет";
inline constexpr char ChangeAtDevice[] = "Адрес %1: ";
inline constexpr char ChangeAtLoop[] = "Адрес %1, ШС %2: ";
inline constexpr char RecordFileName[] = "Запись шлейфов.json";
inline constexpr char SaveRecordTitle[] = "Сохранить запись шлейфов";
inline constexpr char OpenRecordTitle[] = "Сравнить с записью шлейфов";
inline constexpr char RecordFiles[] = "Записи шлейфов (*.json)";
inline constexpr char OpenButton[] = "Открыть";
inline constexpr char ReadFailed[] = "Не удалось прочитать файл %1: %2";
inline constexpr char NoSuchFile[] = "файла нет";
inline constexpr char NotARecord[] = "Файл %1 — не запись шлейфов: %2";

// The site's history: its records' loops across the visits.
inline constexpr char SiteHistoryItem[] = "История объекта...";
inline constexpr char SiteHistoryTitle[] = "История объекта";
inline constexpr char ChooseRecordsFolder[] = "Папка записей объекта";
inline constexpr char SiteHistoryLoaded[] = "Записей: %1, шлейфов: %2";
inline constexpr char NoRecordsIn[] = "В папке %1 нет записей шлейфов";
inline constexpr char SiteHistoryLoop[] = "Адрес %1, ШС %2: ";
inline constexpr char SiteHistoryVisits[] = "посещений %1, последнее %2 кОм";
inline constexpr char SiteHistorySlope[] = ", %1 кОм/мес";
inline constexpr char SiteHistoryLeaves[] = ", выйдет из полосы %1";
// Loops forecast to leave their band before the next visit lead with it.
inline constexpr char SiteHistoryDue[] = "До следующего посещения! ";
inline constexpr char SkippedLabel[] = "Пропущенные файлы:";
inline constexpr char LoopsLabel[] = "Шлейфы, первыми — те, что выйдут из полосы:";

// The file dialog's own words, where the toolkit lets the program give them.
inline constexpr char SaveButton[] = "Сохранить";
inline constexpr char FileNameLabel[] = "Имя файла:";
inline constexpr char FileTypeLabel[] = "Тип файла:";
inline constexpr char FolderLabel[] = "Папка:";

// `pattern` with "%1" and "%2" replaced by the arguments.
std::string Format(const std::string& pattern, const std::string& first,
                   const std::string& second = {});

// Why the port of a search cannot be opened, in the windows' language.
std::string OpenFailureText(const OpenFailure& failure);

// What the general error handler says of an error: the run-time library's
// messages as they are, the program's own ones with a Russian lead.
std::string ErrorText(const std::exception& error);

}  // namespace loopmon::texts
